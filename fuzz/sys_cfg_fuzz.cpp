// Main configuration file "NRPhy_configuration.txt": system initialisation and the builders that
// read its registers.
#include <cstdint>
#include <cstring>

#include "config/config_files.h"
#include "config/mw_interface.h"
#include "config/nr_config.h"
#include "fuzz/config_fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzzWrite("NRPhy_configuration.txt", data, size);
  nrPhyClearUeRecords();
  if (nrSysInit(fuzzDir().c_str())) {
    // What initialisation accepted fits the records and divides by nothing zero.
    for (int c = 0; c < gnrUeConfig.coresetN; c++) {
      const NrCoresetCfg& cs = gnrUeConfig.coresetCfg[c];
      CFG_FUZZ_CHECK(cs.allocNrb <= kMaxRb);
      CFG_FUZZ_CHECK(cs.duration >= 1 && cs.duration <= 3);
      CFG_FUZZ_CHECK(cs.Lreg != 0 && cs.intvR != 0);
      CFG_FUZZ_CHECK(cs.CchIntvEn == 0 || cs.intvC != 0);
    }
    if (nrCchmwInterfConf())
      for (int i = 0; i < gnrCchMwItf.dciN; i++)
        CFG_FUZZ_CHECK(gnrCchMwItf.searchSpaceCfg[i].startSymbol < kSymbolsPerSlot);
    for (uint8_t n = 0; n < 3; n++)
      if (nrUeDchItfFromSys(n)) {
        const NrPdschCfg& p = gnrDchMwItf.pdschCfg;
        CFG_FUZZ_CHECK(p.rbN <= kMaxRb && p.dmrsAddPosN <= 3 && p.symBitmap != 0);
        for (int i = 0; i < p.rbN; i++) CFG_FUZZ_CHECK(p.rbIdx[i] < kMaxRb);
      }
  }
  return 0;
}
