// Rate-matching file "dchRateMatchConifg1.txt": the rows read, then applied by the data
// interface builder.
#include <cstdint>
#include <cstring>

#include "config/config_files.h"
#include "config/mw_interface.h"
#include "config/nr_config.h"
#include "fuzz/config_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzWrite("dchRateMatchConifg1.txt", data, size);
  nrPhyClearUeRecords();
  // A valid dch section: PDSCH on symbols 2..13, DMRS on 2 and 11.
  const int32_t d[kDchRegN] = {10,   20, 2, 13, 2,    2,    11,   0,    0, 1,  1, 4660,
                               8448, 0,  6, 1,  1000, 1001, 1000, 1000, 1, 19, 19};
  std::memcpy(dchRegData, d, sizeof(d));
  cchRegData[2] = 1;
  const bool read = nrReadRateMatchCfg(fuzzDir().c_str(), 1);
  CFG_FUZZ_CHECK(gnrDchMwItf.rmCfgN <= kRmRowCap);
  if (!read) CFG_FUZZ_CHECK(gnrDchMwItf.rmCfgN == 0);
  // Rows the reader accepted are all applied.
  if (read) CFG_FUZZ_CHECK(nrUpdateDchMdwInterf() == kDchItfBuilt);
  return 0;
}
