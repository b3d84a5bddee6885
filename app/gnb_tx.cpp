#include <cstdio>

#include "app/actions.h"
#include "config/console.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/common/sample_file.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/tx/pdsch_tx.h"

namespace {
const char kTxTextFile[] = "nrNbTxData.dat";
const char kTxFloatFile[] = "nrNbTxDataf.dat";
}  // namespace

void gNbTx() {
  nrGenDefaultSlotCfg();
  NrNbConfig* cfg = &gnrNbConfig;
  NrNbTxBuf* buf = &gnrNbTxBuf;

  nrPdschTx(cfg, buf);
  nrOfdmMod(cfg, buf);

  uint32_t sampleN = 15u * cfg->cellCfg.fftSize;
  if (sampleN > static_cast<uint32_t>(kSlotSampleCap)) sampleN = kSlotSampleCap;
  nrSampleFileWrite(buf->nbTxSample, sampleN, kTxTextFile, 1);

  FILE* f = std::fopen(kTxFloatFile, "wb");
  if (!f) {
    nrPrintf("Fail to open file: %s!\n", kTxFloatFile);
    return;
  }
  // Raw IEEE-754 single-precision I/Q pairs; the host is little-endian like the file format.
  std::fwrite(buf->nbTxSampleF, sizeof(NrCpxFloat32), sampleN, f);
  std::fclose(f);
}
