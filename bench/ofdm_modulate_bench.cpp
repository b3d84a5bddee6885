// OFDM modulation of one full slot (14 symbols, N = 2048, 106 RBs) of the default configuration.
#include <benchmark/benchmark.h>

#include <cstring>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "tests/test_util.h"

static void BM_OfdmModSlot(benchmark::State& state) {
  freshDefaultSlot();
  for (int l = 0; l < kSymbolsPerSlot; l++)
    for (int k = 0; k < 1272; k++)
      gnrNbTxBuf.nbTxGrid[l][k] = nrCpxPack(((k * 7 + l) & 1) ? 724 : -724, (k & 2) ? 724 : -724);
  for (auto _ : state) {
    nrOfdmMod(&gnrNbConfig, &gnrNbTxBuf);
    benchmark::DoNotOptimize(gnrNbTxBuf.nbTxSample[100]);
  }
  state.SetItemsProcessed(state.iterations() * kSymbolsPerSlot);
}
BENCHMARK(BM_OfdmModSlot)->Unit(benchmark::kMicrosecond);
