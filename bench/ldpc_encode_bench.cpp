// LDPC encoding of one full code block (Zc 384, no fillers) in both base graphs: the whole
// codeword on int32 elements (at the widest instruction set and capped to the baseline), on byte
// lanes, and only the parity a rate-0.9 selection reads; and rate matching of it. Throughput
// counted in information bits.
#include <benchmark/benchmark.h>

#include <vector>

#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_rate_match.h"
#include "phy/common/cpu_features.h"

namespace {

NrLdpcParams fullBlock(int bg) {
  // One code block of K' = K at Zc 384: BG1 A = 8424 (B = 8448), BG2 A = 3824 (B = 3840).
  NrLdpcParams p{};
  nrLdpcParamCalc(bg == 1 ? 8424 : 3824, bg == 1 ? 25344 : 19200, bg == 1 ? 900 : 300, 2, 0, 1, &p);
  p.Qm = 2;
  return p;
}

void runEncode(benchmark::State& state, uint8_t level) {
  nrCpuSetLevelCap(level);
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
  nrCpuSetLevelCap(kNrCpuAvx512);
}

void BM_LdpcEncode(benchmark::State& state) { runEncode(state, kNrCpuAvx512); }
void BM_LdpcEncodeBaseline(benchmark::State& state) { runEncode(state, kNrCpuBaseline); }

void BM_LdpcEncodeBytes(benchmark::State& state) {
  const NrLdpcParams p = fullBlock(static_cast<int>(state.range(0)));
  std::vector<int8_t> block(p.K), codeword(p.N);
  for (int k = 0; k < p.K; k++) block[k] = static_cast<int8_t>((k * 2654435761u >> 7) & 1);
  for (auto _ : state) {
    nrLdpcEncodeBytes(block.data(), codeword.data(), &p, nrLdpcParityCols(&p));
    benchmark::DoNotOptimize(codeword.data());
    benchmark::ClobberMemory();
  }
  state.counters["Mbit/s"] = benchmark::Counter(
      static_cast<double>(p.Kp) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

// Only the parity columns a rate-0.9 selection with rv 0 reads.
void BM_LdpcEncodeParityRate09(benchmark::State& state) {
  NrLdpcParams p = fullBlock(static_cast<int>(state.range(0)));
  p.E[0] = 2 * static_cast<int32_t>(p.Kp / 0.9 / 2);
  const int32_t cols = nrLdpcRateMatchParityCols(0, &p);
  std::vector<int32_t> block(p.K), codeword(p.N);
  for (int k = 0; k < p.K; k++) block[k] = (k * 2654435761u >> 7) & 1;
  for (auto _ : state) {
    nrLdpcEncodeParity(block.data(), codeword.data(), &p, cols);
    benchmark::DoNotOptimize(codeword.data());
    benchmark::ClobberMemory();
  }
  state.counters["parityCols"] = cols;
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
BENCHMARK(BM_LdpcEncodeBaseline)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcEncodeBytes)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcEncodeParityRate09)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcRateMatch)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
