// RB-group bitmap files "coresetRBG_Bitmap1.txt" and "pdschRBG_Bitmap1.txt": the first four
// bytes configure the CORESET and PDSCH first RB and RB count, the rest is the bitmap.
#include <cstdint>

#include "config/config_files.h"
#include "config/nr_config.h"
#include "fuzz/config_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  nrPhyClearUeRecords();
  // The configured lists, as the section readers set them (within the 280 RBs).
  cchRegData[0] = data[0];
  gnrUeConfig.coresetCfg[0].allocNrb = static_cast<uint16_t>(data[1] % (kMaxRb - data[0] + 1));
  dchRegData[0] = data[2];
  gnrDchMwItf.pdschCfg.rbN = static_cast<uint16_t>(data[3] % (kMaxRb - data[2] + 1));
  fuzzWrite("coresetRBG_Bitmap1.txt", data + 4, size - 4);
  fuzzWrite("pdschRBG_Bitmap1.txt", data + 4, size - 4);
  nrReadRbgBitmaps(fuzzDir().c_str(), 1, NrRbgTarget::kCoreset);
  nrReadRbgBitmaps(fuzzDir().c_str(), 1, NrRbgTarget::kPdsch);
  // Every listed RB lies in the grid (the lists start cleared to RB 0).
  for (int i = 0; i < kMaxRb; i++) {
    CFG_FUZZ_CHECK(gnrUeConfig.coresetCfg[0].rbIdx[i] < kMaxRb);
    CFG_FUZZ_CHECK(gnrDchMwItf.pdschCfg.rbIdx[i] < kMaxRb);
  }
  return 0;
}
