#include "app/actions.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/common/sample_file.h"
#include "phy/common/text_lines.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/tx/pdsch_tx.h"

namespace {
const char kTxTextFile[] = "nrNbTxData.dat";
const char kTxFloatFile[] = "nrNbTxDataf.dat";
}  // namespace

bool gNbTx() {
  const uint32_t lostBefore = nrOutFileFailures();
  nrGenDefaultSlotCfg();
  NrNbConfig* cfg = &gnrNbConfig;
  NrNbTxBuf* buf = &gnrNbTxBuf;

  bool ok = nrPdschTx(cfg, buf);
  if (!nrOfdmMod(cfg, buf)) {
    // No waveform of this slot exists: neither file may pass for one.
    nrRemoveStaleFile(kTxTextFile);
    nrRemoveStaleFile(kTxFloatFile);
    return false;
  }

  uint32_t sampleN = 15u * cfg->cellCfg.fftSize;
  if (sampleN > static_cast<uint32_t>(kSlotSampleCap)) sampleN = kSlotSampleCap;
  ok = nrSampleFileWrite(buf->nbTxSample, sampleN, kTxTextFile, 1) && ok;
  // Raw IEEE-754 single-precision I/Q pairs; the host is little-endian like the file format.
  ok = nrWriteFileBytes(kTxFloatFile, buf->nbTxSampleF, sizeof(NrCpxFloat32) * sampleN) && ok;
  return ok && nrOutFileFailures() == lostBefore;
}
