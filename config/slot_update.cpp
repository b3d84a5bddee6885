#include "config/slot_update.h"

#include <cstring>

#include "config/config_files.h"
#include "config/console.h"
#include "config/mw_interface.h"
#include "config/ue_setup.h"

namespace {
// Numerology of the file-driven flows: 15 kHz, N = 2048, two receive antennas.
constexpr uint16_t kFileFftSize = 2048;
constexpr uint8_t kFileAntPortN = 2;
constexpr uint16_t kSlotsPerFrame = 10;
}  // namespace

bool updateSystemConfiguration(uint16_t slot) {
  const uint16_t* m = comRegData;
  const uint16_t* k = cchRegData;
  if (!nrCheckCoresetCfg("updateSystemConfiguration: cchRegData", k[0], k[1], k[2], k[7], k[8],
                         k[9]))
    return false;

  std::memset(&gnrCchMwItf, 0, sizeof(gnrCchMwItf));
  nrPrintf("===>>>> updateSystemConfiguration() started ===\n");
  nrLoadCpPatternTbl();
  NrUeConfig& ue = gnrUeConfig;
  std::memset(ue.cellCfg.rbMap, 0, sizeof(ue.cellCfg.rbMap));
  ue.reserved1 = 0;
  ue.carrierCfg.nrb = m[0];
  ue.bwpCfg.rbOffset = m[1];
  ue.coresetN = 1;

  // CORESET 0: allocNrb and rbIdx come from the cch section reader.
  NrCoresetCfg& cs = ue.coresetCfg[0];
  cs.duration = k[2];
  cs.CchIntvEn = k[7];
  cs.Lreg = k[8];
  cs.intvR = k[9];
  cs.Nshift = k[10];
  nrSetCoresetDerived(&cs);

  // The control-region RB list of the test flows lies one RB above the CORESET's indices.
  ue.bwpCfg.rbIdxN = static_cast<uint16_t>(k[1] - k[0]);
  for (int l = 0; l < ue.bwpCfg.rbIdxN; l++)
    ue.bwpCfg.rbIdx[l] = static_cast<uint16_t>(k[0] + l + 1);

  NrCellCfg& cell = ue.cellCfg;
  cell.pci = 0;
  cell.rnti = k[4];
  cell.nId = 0;
  cell.antPortN = kFileAntPortN;
  cell.fftSize = kFileFftSize;
  cell.fftLen = kFileFftSize;
  for (int s = 0; s < kSymbolsPerSlot; s++)
    cell.cpLen[s] =
        static_cast<uint16_t>(cpPatternTbl[s] * (cell.fftSize / cpPatternTbl[kSymbolsPerSlot]));
  ue.slotsPerFrame = kSlotsPerFrame;
  ue.symbolsPerFrame = static_cast<uint16_t>(ue.slotsPerFrame * kSymbolsPerSlot);
  ue.bwpCfg.rbOffset = m[1];
  ue.bwpCfg.nrb = m[2];

  if (!nrUpdateCchInfo() || nrUpdateDchMwInfo() == kDchItfRefused) return false;
  nrGenSsRbMap(cell.rbMap, slot, gnrDchMwItf.pdcchPresent, &gnrCchMwItf.searchSpaceCfg[0],
               ue.coresetCfg, &gnrDchMwItf.pdschCfg);
  nrPrintf("=== updateSystemConfiguration() exited ===>>>>\n");
  return true;
}

bool nrUpdateCchInfo() { return mw_detail::buildCchItf("nrUpdateCchInfo"); }

uint8_t nrUpdateDchMwInfo() { return mw_detail::buildDchItf("nrUpdateDchMwInfo"); }

void nrGenSsRbMap(int32_t rbMap[kSymbolsPerSlot][kMaxRb], uint16_t slot, uint16_t ctrlFlag,
                  const NrSearchSpaceCfg* searchSpace, const NrCoresetCfg* coresets,
                  const NrPdschCfg* pdsch) {
  nrGenRbMap(rbMap, slot, ctrlFlag, searchSpace, coresets, pdsch);
}
