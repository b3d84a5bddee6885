// PDSCH receive front end (FFT, extraction, estimation, equalisation, soft demapping and the
// debug files) on the default slot and on a slot that fills the whole 106-RB carrier.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "config/ue_setup.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/rx/pdsch_rx.h"
#include "tests/test_util.h"

namespace {

// Runs the body in a scratch directory (the front end writes its debug files) with standard
// output silenced (it prints its verdict on every call).
template <typename F>
void quietly(F&& body) {
  ScopedTempDir dir;
  QuietStdout quiet;
  body();
}

// Random QPSK on the carrier's subcarriers of every symbol, OFDM-modulated into port a.
void fillPort(int a, uint32_t seed) {
  for (int l = 0; l < kSymbolsPerSlot; l++)
    for (int k = 0; k < 12 * gnrNbConfig.carrierCfg.nrb; k++) {
      seed = seed * 1664525u + 1013904223u;
      gnrNbTxBuf.nbTxGrid[l][k] =
          nrCpxPack((seed >> 20) & 1 ? 724 : -724, (seed >> 21) & 1 ? 724 : -724);
    }
  nrOfdmMod(&gnrNbConfig, &gnrNbTxBuf);
  for (int i = 0; i < kSlotSampleCap; i++) {
    ueRxSample[a][0][i] = nrCpxRe(gnrNbTxBuf.nbTxSample[i]);
    ueRxSample[a][1][i] = nrCpxIm(gnrNbTxBuf.nbTxSample[i]);
  }
}

void runSlot(benchmark::State& state) {
  quietly([&] {
    for (auto _ : state) {
      const bool ok = nrUeDchRxProc(ueRxSample, &gnrDchMwItf, gnrUeConfig.carrierCfg.nrb,
                                    gnrUeConfig.bwpCfg.nrb, gnrCchMwItf.slotIdx);
      benchmark::DoNotOptimize(ok);
    }
  });
  state.counters["softBits"] = gnrDchMwItf.codedBitN;
}

}  // namespace

// 12 RBs x 5 symbols, 64QAM, one layer, one antenna.
static void BM_DchRxDefaultSlot(benchmark::State& state) {
  freshDefaultSlot();
  quietly([] { nrUeSetupFromNb(ueFileSample, 0); });
  fillPort(0, 1);
  runSlot(state);
}
BENCHMARK(BM_DchRxDefaultSlot)->Unit(benchmark::kMicrosecond);

// All 106 RBs of the carrier over symbols 2..13 with DMRS on 2, 7 and 11, 256QAM, two layers,
// two receive antennas.
static void BM_DchRxFullCarrier(benchmark::State& state) {
  freshDefaultSlot();
  NrNbConfig& cfg = gnrNbConfig;
  cfg.bwpCfg.rbOffset = 0;
  cfg.bwpCfg.nrb = cfg.carrierCfg.nrb;
  NrPdschCfg& p = cfg.pdschCfg[0];
  p.bwpRbOffset = 0;
  p.rbStart = 0;
  p.rbN = cfg.carrierCfg.nrb;
  for (int r = 0; r < p.rbN; r++) p.rbIdx[r] = static_cast<uint16_t>(r);
  p.symBitmap = 0x3FFC;
  p.dmrsFirstSym = 2;
  p.dmrsAddPosN = 2;
  p.dmrsAddPos[0] = 7;
  p.dmrsAddPos[1] = 11;
  p.Qm = 8;
  p.layerN = 2;
  quietly([] { nrUeSetupFromNb(ueFileSample, 0); });
  gnrDchMwItf.cellCfg.antPortN = 2;
  fillPort(0, 1);
  fillPort(1, 2);
  runSlot(state);
}
BENCHMARK(BM_DchRxFullCarrier)->Unit(benchmark::kMicrosecond);
