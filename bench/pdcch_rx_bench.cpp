// One blind-detection pass over the default CORESET (72 RBs x 3 symbols, 36 CCEs, 69 candidates)
// carrying the default level-4 PDCCH: demodulation of the three symbols, DMRS estimation and
// equalisation with its debug files, the weak-RE gate and the decoding of the candidates that
// pass it.
#include <benchmark/benchmark.h>

#include <cstring>

#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/rx/pdcch_rx.h"
#include "phy/tx/pdcch_tx.h"
#include "tests/test_util.h"

static void BM_PdcchBlindDetectDefaultCoreset(benchmark::State& state) {
  ScopedTempDir dir;  // the estimator writes its debug files
  freshDefaultSlot();
  std::memset(gnrNbTxBuf.nbTxGrid, 0, sizeof(gnrNbTxBuf.nbTxGrid));
  nrPdcchTx(&gnrNbConfig, gnrNbTxBuf.nbTxGrid);
  nrOfdmMod(&gnrNbConfig, &gnrNbTxBuf);
  std::memcpy(ueFileSample, gnrNbTxBuf.nbTxSample, sizeof(ueFileSample));
  gnrCchMwItf.cchItfDone = 0;
  uint8_t found = 0;
  {
    QuietStdout quiet;
    nrUeSetupFromNb(ueFileSample, 0);
    for (auto _ : state) {
      found = nrUeCchBlindDetect(ueRxSample, &gnrCchMwItf, gnrUeConfig.coresetCfg,
                                 &gnrUeConfig.bwpCfg, gnrCchMwItf.slotIdx);
      benchmark::DoNotOptimize(found);
    }
  }
  if (found != 1) state.SkipWithError("the default PDCCH was not detected");
  state.counters["decoded"] = gnrUeCchDecodedN;
}
BENCHMARK(BM_PdcchBlindDetectDefaultCoreset)->Unit(benchmark::kMicrosecond);
