#include "app/actions.h"
#include "app/slot_setup.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/common/sample_file.h"
#include "phy/common/stage_profile.h"
#include "phy/common/text_lines.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/tx/pdsch_tx.h"

namespace {

// The waveform files of antenna port p: port 0 keeps the bench's names, port 1 adds a "1".
const char* const kTxTextFile[2] = {"nrNbTxData.dat", "nrNbTxData1.dat"};
const char* const kTxFloatFile[2] = {"nrNbTxDataf.dat", "nrNbTxDataf1.dat"};
const char kSlotFile[] = "nrSlotCfg.yaml";

}  // namespace

bool gNbTx() {
  const uint32_t lostBefore = nrOutFileFailures();
  {
    NrStageScope generation(NrStage::kGeneration);
    nrGenDefaultSlotCfg();
  }
  NrNbConfig* cfg = &gnrNbConfig;
  const int ports = nrSlotAntennaPorts(cfg);
  NrNbTxBuf* buf[2] = {&gnrNbTxBuf, &gnrNbTxBuf1};

  bool ok = nrPdschTx(cfg, buf[0], ports == 2 ? buf[1] : nullptr);
  for (int p = 0; p < 2; p++) {
    if (p >= ports || !nrOfdmMod(cfg, buf[p])) {
      // No waveform of this slot exists for the port: no file may pass for one.
      nrRemoveStaleFile(kTxTextFile[p]);
      nrRemoveStaleFile(kTxFloatFile[p]);
      if (p < ports) return false;
      continue;
    }
    uint32_t sampleN = 15u * cfg->cellCfg.fftSize;
    if (sampleN > static_cast<uint32_t>(kSlotSampleCap)) sampleN = kSlotSampleCap;
    ok = nrSampleFileWrite(buf[p]->nbTxSample, sampleN, kTxTextFile[p], 1) && ok;
    // Raw IEEE-754 single-precision I/Q pairs; the host is little-endian like the file format.
    ok = nrWriteFileBytes(kTxFloatFile[p], buf[p]->nbTxSampleF, sizeof(NrCpxFloat32) * sampleN) &&
         ok;
  }
  ok = nrSlotWriteFile(kSlotFile) && ok;
  return ok && nrOutFileFailures() == lostBefore;
}
