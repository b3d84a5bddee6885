// Section files "NRPhy_configuration_<com|cch|dch>1.txt": the first byte picks the section the
// rest of the input replaces (the other two are valid), then the per-slot update and the
// builders run on whatever was accepted.
#include <cstdint>
#include <string>

#include "config/config_files.h"
#include "config/mw_interface.h"
#include "config/nr_config.h"
#include "config/slot_update.h"
#include "fuzz/config_fuzz_util.h"

namespace {
const char kCom[] = "com\n106 carrier nrb\n0 bwp offset\n106 bwp nrb\n";
const char kCch[] = "cch\n0\n48\n1\n0\n17921\n39\n1\n1\n6\n2\n0\n";
const char kDch[] =
    "dch\n10\n20\n2\n13\n2\n2\n11\n0\n0\n1\n1\n4660\n8448\n0\n6\n1\n1000\n1001\n1000\n1000\n1\n19"
    "\n";
const char* const kSections[3] = {"com1", "cch1", "dch1"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const int which = data[0] % 3;
  const uint16_t slot = static_cast<uint16_t>(data[0] / 3 % 12);
  const char* valid[3] = {kCom, kCch, kDch};
  for (int s = 0; s < 3; s++) {
    const std::string name = std::string("NRPhy_configuration_") + kSections[s] + ".txt";
    if (s == which)
      fuzzWrite(name, data + 1, size - 1);
    else
      fuzzWrite(name, valid[s]);
  }
  nrPhyClearUeRecords();
  bool read[3];
  for (int s = 0; s < 3; s++) read[s] = nrReadSectionCfg(fuzzDir().c_str(), kSections[s]);
  // Accepted sections fit the records.
  if (read[0]) CFG_FUZZ_CHECK(comRegData[0] <= kMaxRb && comRegData[2] <= kMaxRb);
  if (read[1]) CFG_FUZZ_CHECK(gnrUeConfig.coresetCfg[0].allocNrb <= kMaxRb);
  if (read[2]) {
    const NrPdschCfg& p = gnrDchMwItf.pdschCfg;
    CFG_FUZZ_CHECK(p.rbN <= kMaxRb);
    for (int i = 0; i < p.rbN; i++) CFG_FUZZ_CHECK(p.rbIdx[i] < kMaxRb);
  }
  if (updateSystemConfiguration(slot)) {
    CFG_FUZZ_CHECK(gnrUeConfig.bwpCfg.nrb == comRegData[2]);
    CFG_FUZZ_CHECK(gnrDchMwItf.pdschCfg.dmrsAddPosN <= 3);
  }
  nrUpdateDchMdwInterf();
  nrPhylibUpdateDchDataForSlot(slot);
  return 0;
}
