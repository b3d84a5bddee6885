#include "app/slot_setup.h"

#include <string>

#include "config/console.h"
#include "config/slot_config_gen.h"
#include "phy/coding/ldpc_params.h"
#include "phy/common/tbs.h"
#include "phy/common/text_lines.h"
#include "phy/rx/pdsch_rx.h"
#include "phy/tx/pdsch_tx.h"

namespace {
constexpr uint32_t kScsHz = 15000;
}  // namespace

int nrSlotAntennaPorts(const NrNbConfig* cfg) { return cfg->cellCfg.antPortN >= 2 ? 2 : 1; }

const char* nrSlotDerive(const NrNbConfig* cfg, int i, NrSlotDerived* out) {
  const NrPdschCfg& d = cfg->pdschCfg[i];
  if (const char* why = nrPdschTxCheck(&d)) return why;
  NrPdschLayout lay;
  nrPdschLayout(&d, &lay);
  int32_t Qm = 0, C = 0;
  float rate = 0;
  uint64_t tbs = 0, G = 0;
  nrTbsCalc(d.mcs, lay.nRePerPrb, d.rbN, d.layerN, &Qm, &C, &rate, &tbs, &G, d.mcsTable);
  if (lay.nRePerPrb == 0 || G == 0) return "no resource element left for data";
  NrLdpcParams p{};
  if (!nrLdpcParamCalc(static_cast<int64_t>(tbs), static_cast<int64_t>(G), rate, Qm, d.rvIdx,
                       d.layerN, &p))
    return "the transport block cannot be coded into these resource elements";
  if (G > static_cast<uint64_t>(kUeLlrCap)) return "more coded bits than the receiver holds";
  *out = NrSlotDerived{static_cast<uint32_t>(Qm), rate, static_cast<uint32_t>(tbs),
                       static_cast<uint32_t>(p.C), G};
  return nullptr;
}

bool nrSlotSetup(const char* slotFile, bool hasSeed, uint32_t seed) {
  std::string text;
  if (slotFile && !nrSlotFileRead(slotFile, &text)) return false;
  uint32_t fileSeed = 0;
  if (!hasSeed && slotFile && nrSlotFileSeed(text, &fileSeed)) {
    hasSeed = true;
    seed = fileSeed;
  }
  if (hasSeed) nrSetSlotCfgSeed(seed);
  if (!slotFile) return true;  // the transmit action draws the slot as always
  nrGenDefaultSlotCfg();
  if (!nrSlotFileParse(text, slotFile, &gnrNbConfig, nrSlotDerive)) return false;
  // The receiver of another process knows the TBS from the file's slot, as the transmitter sets it.
  for (int i = 0; i < gnrNbConfig.pdschN; i++) {
    NrSlotDerived x{};
    if (!nrSlotDerive(&gnrNbConfig, i, &x)) gnrNbConfig.pdschCfg[i].tbSize = x.tbs;
  }
  return true;
}

bool nrSlotWriteFile(const char* path) {
  const NrNbConfig& c = gnrNbConfig;
  NrSlotDerived derived[kSlotFileMaxPdsch] = {};
  for (int i = 0; i < c.pdschN && i < kSlotFileMaxPdsch; i++) nrSlotDerive(&c, i, &derived[i]);
  const NrSlotWaveform w{static_cast<uint32_t>(c.cellCfg.fftSize) * kScsHz, 15u * c.cellCfg.fftSize,
                         static_cast<uint32_t>(nrSlotAntennaPorts(&c))};
  const std::string text = nrSlotFileText(&c, derived, nrSlotCfgSeed(), &w);
  return nrWriteFileBytes(path, text.data(), text.size());
}
