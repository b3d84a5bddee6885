// OFDM demodulator: one antenna's 14 symbols of a 2048-point slot (the full carrier), at each
// instruction-set level (argument: the level cap, 0 the plain loops).
#include <benchmark/benchmark.h>

#include "config/nr_config.h"
#include "phy/common/cpu_features.h"
#include "phy/ofdm/ofdm_demod.h"

namespace {

int16_t samples[2][2][kSlotSampleCap];
int32_t grid[kSymbolsPerSlot][2][kMaxFftSize];

void BM_OfdmDemodSlot(benchmark::State& state) {
  NrCellCfg cell{};
  cell.fftSize = 2048;
  for (int l = 0; l < kSymbolsPerSlot; l++) cell.cpLen[l] = l == 0 ? 160 : 144;
  uint32_t seed = 5;
  for (int c = 0; c < 2; c++)
    for (int i = 0; i < kSlotSampleCap; i++) {
      seed = seed * 1664525u + 1013904223u;
      samples[0][c][i] = static_cast<int16_t>(static_cast<int32_t>(seed >> 16) / 8);
    }
  const uint8_t level = nrCpuSetLevelCap(static_cast<uint8_t>(state.range(0)));
  bool ok = true;
  for (auto _ : state) {
    ok = nrOfdmDemod(samples, &cell, 0, kSymbolsPerSlot - 1, 0, grid) && ok;
    benchmark::DoNotOptimize(grid);
  }
  nrCpuSetLevelCap(0xFF);
  if (!ok) state.SkipWithError("demodulation refused");
  state.counters["level"] = level;
}

}  // namespace

BENCHMARK(BM_OfdmDemodSlot)
    ->Arg(kNrCpuBaseline)
    ->Arg(kNrCpuAvx2)
    ->Arg(kNrCpuAvx512)
    ->Unit(benchmark::kMicrosecond);
