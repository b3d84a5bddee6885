// The polar encoder hardware model (position selection, parity-check register, the FIFO pipeline
// at one bit per clock) on the DCI of polar_bench.cpp (K = 64, E = 864, N = 512: no rate-matching
// exclusions) and on a parity-check code (K = 20, E = 1000, N = 1024, nPC = 3, nPCwm = 1).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "hwmodel/hw_polar_enc.h"

namespace {

std::vector<int32_t> bits(int32_t n) {
  std::vector<int32_t> b(n);
  uint32_t s = 1;
  for (int32_t& v : b) {
    s = s * 1103515245u + 12345u;
    v = (s >> 16) & 1;
  }
  return b;
}

void run(benchmark::State& state, int32_t K, int32_t n, int32_t nPC, int32_t nPCwm, int32_t E) {
  const int32_t N = 1 << n;
  const std::vector<int32_t> info = bits(K);
  std::vector<int32_t> out(N);
  const int32_t cand = nrHwPolarCandidates(n, N, E, kHwPolarRuleNone, 0, 0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(nrHwPolarEnc(K, n, N, nPC, nPCwm, E, kHwPolarRuleNone, 0, 0, cand,
                                          info.data(), out.data(), nullptr));
    benchmark::ClobberMemory();
  }
  state.counters["clocks"] = 2 * N - 1;
}

}  // namespace

static void BM_HwPolarEncK64N512(benchmark::State& state) { run(state, 64, 9, 0, 0, 864); }
BENCHMARK(BM_HwPolarEncK64N512)->Unit(benchmark::kMicrosecond);

static void BM_HwPolarEncK20N1024Pc(benchmark::State& state) { run(state, 20, 10, 3, 1, 1000); }
BENCHMARK(BM_HwPolarEncK20N1024Pc)->Unit(benchmark::kMicrosecond);
