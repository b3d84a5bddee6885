// LDPC encoding of one full code block (Zc 384, no fillers) in both base graphs, and rate matching
// of it; throughput counted in information bits.
#include <benchmark/benchmark.h>

#include <vector>

#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_rate_match.h"

namespace {

NrLdpcParams fullBlock(int bg) {
  // One code block of K' = K at Zc 384: BG1 A = 8424 (B = 8448), BG2 A = 3824 (B = 3840).
  NrLdpcParams p{};
  nrLdpcParamCalc(bg == 1 ? 8424 : 3824, bg == 1 ? 25344 : 19200, bg == 1 ? 900 : 300, 2, 0, 1, &p);
  p.Qm = 2;
  return p;
}

void BM_LdpcEncode(benchmark::State& state) {
  const NrLdpcParams p = fullBlock(static_cast<int>(state.range(0)));
  std::vector<int32_t> block(p.K), codeword(p.N);
  for (int k = 0; k < p.K; k++) block[k] = (k * 2654435761u >> 7) & 1;
  for (auto _ : state) {
    nrLdpcEncode(block.data(), codeword.data(), &p);
    benchmark::DoNotOptimize(codeword.data());
    benchmark::ClobberMemory();
  }
  state.counters["Mbit/s"] = benchmark::Counter(
      static_cast<double>(p.Kp) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BM_LdpcRateMatch(benchmark::State& state) {
  const NrLdpcParams p = fullBlock(static_cast<int>(state.range(0)));
  std::vector<int32_t> block(p.K), codeword(p.N), out(p.E[0]);
  for (int k = 0; k < p.K; k++) block[k] = (k * 2654435761u >> 7) & 1;
  nrLdpcEncode(block.data(), codeword.data(), &p);
  for (auto _ : state) {
    nrLdpcRateMatch(codeword.data(), out.data(), 0, &p);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.counters["Mbit/s"] = benchmark::Counter(
      static_cast<double>(p.Kp) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

}  // namespace

BENCHMARK(BM_LdpcEncode)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcRateMatch)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
