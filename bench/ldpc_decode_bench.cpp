// LDPC decoder throughput in information bits per second, at a fixed 20 or 10 iterations and with
// CRC early termination. The fixed counts run every iteration (no stop at a fixed point, so that
// they measure the work of that many iterations); the early-terminating ones use the defaults. The
// block is the all-zero codeword sent as BPSK through white Gaussian noise (the decoder's work does
// not depend on the codeword); untransmitted positions carry LLR 0.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "phy/coding/ldpc_decode.h"

namespace {

struct BenchBlock {
  uint8_t bg;
  int Zc;
  uint8_t iLS;
  int Kp;
  int E;          // transmitted positions
  double ebN0Db;  // per information bit
};

std::vector<int32_t> noisyLlr(const BenchBlock& b) {
  const int N = (b.bg == 1 ? 66 : 50) * b.Zc;
  std::vector<int32_t> llr(N, 0);
  const double rate = static_cast<double>(b.Kp) / b.E;
  const double sigma = std::sqrt(1.0 / (2.0 * rate * std::pow(10.0, b.ebN0Db / 10.0)));
  std::mt19937 rng(1);
  std::normal_distribution<double> noise(0.0, sigma);
  // Two fractional bits: 4 = LLR 1.0.
  for (int i = 0; i < b.E; i++)
    llr[i] = std::clamp(
        static_cast<int32_t>(std::lround(4.0 * 2.0 * (1.0 + noise(rng)) / (sigma * sigma))), -1000,
        1000);
  return llr;
}

void runDecoder(benchmark::State& state, const BenchBlock& b, bool earlyTermination,
                uint8_t lanes = kLdpcLanesAvx512, uint8_t maxIter = 20,
                bool stopAtFixedPoint = false) {
  nrLdpcDecSetLanes(lanes);
  const std::vector<int32_t> llr = noisyLlr(b);
  std::vector<int32_t> out(b.Kp);
  nrLdpcDecPara = NrLdpcDecPara{};
  nrLdpcDecPara.etEnable = earlyTermination ? 1 : 0;
  nrLdpcDecPara.maxIter = maxIter;
  nrLdpcDecPara.stopAtFixedPoint = earlyTermination || stopAtFixedPoint ? 1 : 0;
  int64_t iters = 0, itersRun = 0;
  int64_t ok = 0;
  for (auto _ : state) {
    ok += nrLdpcDecode(llr.data(), out.data(), b.Kp, b.Zc, static_cast<int32_t>(llr.size()), b.bg,
                       b.iLS, 0);
    iters += nrLdpcDecIterUsed();
    itersRun += nrLdpcDecIterRun();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["iterations"] =
      benchmark::Counter(static_cast<double>(iters), benchmark::Counter::kAvgIterations);
  state.counters["iterationsRun"] =
      benchmark::Counter(static_cast<double>(itersRun), benchmark::Counter::kAvgIterations);
  state.counters["passRate"] =
      benchmark::Counter(static_cast<double>(ok), benchmark::Counter::kAvgIterations);
  state.counters["infoMbps"] = benchmark::Counter(static_cast<double>(b.Kp) * 1e-6,
                                                  benchmark::Counter::kIsIterationInvariantRate);
}

// BG1 Zc 384 (set 1) at rate 1/3 and 8/9; BG2 Zc 384 at rate 1/5 (full codeword).
const BenchBlock kBg1R13{1, 384, 1, 8448, 25344, 2.0};
const BenchBlock kBg1R89{1, 384, 1, 8448, 9504, 5.0};
const BenchBlock kBg2R15{2, 384, 1, 3840, 19200, 2.0};

void BM_LdpcDecBg1Rate13Fixed20(benchmark::State& s) { runDecoder(s, kBg1R13, false); }
// The same with narrower lane loops (the default is the widest the CPU has).
void BM_LdpcDecBg1Rate13Fixed20Baseline(benchmark::State& s) {
  runDecoder(s, kBg1R13, false, kLdpcLanesBaseline);
}
void BM_LdpcDecBg1Rate13Fixed20Avx2(benchmark::State& s) {
  runDecoder(s, kBg1R13, false, kLdpcLanesAvx2);
}
void BM_LdpcDecBg1Rate13Early(benchmark::State& s) { runDecoder(s, kBg1R13, true); }
void BM_LdpcDecBg1Rate89Fixed20(benchmark::State& s) { runDecoder(s, kBg1R89, false); }
void BM_LdpcDecBg1Rate89Early(benchmark::State& s) { runDecoder(s, kBg1R89, true); }
void BM_LdpcDecBg2Rate15Fixed20(benchmark::State& s) { runDecoder(s, kBg2R15, false); }
void BM_LdpcDecBg2Rate15Early(benchmark::State& s) { runDecoder(s, kBg2R15, true); }

// The figures of merit at 10 iterations without early termination: the full graph (BG1 rate 1/3,
// BG2 rate 1/5) and the highest rates, where only the systematic and core parity columns carry
// soft bits (BG1 24*Zc: rate 22/24; BG2 12*Zc: rate 10/12).
constexpr uint8_t kFixedIter = 10;
const BenchBlock kBg1High{1, 384, 1, 8448, 24 * 384, 6.0};
const BenchBlock kBg2High{2, 384, 1, 3840, 12 * 384, 6.0};
void BM_LdpcDecBg1FullFixed10(benchmark::State& s) {
  runDecoder(s, kBg1R13, false, kLdpcLanesAvx512, kFixedIter);
}
void BM_LdpcDecBg2FullFixed10(benchmark::State& s) {
  runDecoder(s, kBg2R15, false, kLdpcLanesAvx512, kFixedIter);
}
void BM_LdpcDecBg1HighRateFixed10(benchmark::State& s) {
  runDecoder(s, kBg1High, false, kLdpcLanesAvx512, kFixedIter);
}
void BM_LdpcDecBg2HighRateFixed10(benchmark::State& s) {
  runDecoder(s, kBg2High, false, kLdpcLanesAvx512, kFixedIter);
}
// The same ten iterations with the stop at a fixed point (the library's default): the same
// results, without the iterations that would repeat the last one.
void BM_LdpcDecBg1HighRateFixed10Stop(benchmark::State& s) {
  runDecoder(s, kBg1High, false, kLdpcLanesAvx512, kFixedIter, true);
}
void BM_LdpcDecBg2HighRateFixed10Stop(benchmark::State& s) {
  runDecoder(s, kBg2High, false, kLdpcLanesAvx512, kFixedIter, true);
}

}  // namespace

BENCHMARK(BM_LdpcDecBg1Rate13Fixed20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg1Rate13Fixed20Baseline)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg1Rate13Fixed20Avx2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg1Rate13Early)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg1Rate89Fixed20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg1Rate89Early)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg2Rate15Fixed20)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg2Rate15Early)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg1FullFixed10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg2FullFixed10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg1HighRateFixed10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg2HighRateFixed10)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg1HighRateFixed10Stop)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecBg2HighRateFixed10Stop)->Unit(benchmark::kMicrosecond);
