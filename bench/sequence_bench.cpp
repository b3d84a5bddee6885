// Gold sequence, scrambling and PN9 generation at transport-block sizes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "phy/common/sequence.h"

namespace {

// Register-per-call generation of TS 38.211 5.2.1 (both registers regenerated up to the end of
// the sequence on every call), kept as the baseline the word-wise generator is measured against.
void goldPerBitBaseline(uint32_t cInit, uint32_t count, int8_t* out) {
  static std::vector<int8_t> x1(100296), x2(100296);
  std::fill(x1.begin(), x1.end(), 0);
  std::fill(x2.begin(), x2.end(), 0);
  x1[0] = 1;
  for (int i = 0; i < 31; i++) x2[i] = (cInit >> i) & 1;
  for (int n = 0; n + 31 < 100296; n++) {
    x1[n + 31] = (x1[n + 3] + x1[n]) & 1;
    x2[n + 31] = (x2[n + 3] + x2[n + 2] + x2[n + 1] + x2[n]) & 1;
  }
  for (uint32_t i = 0; i < count; i++)
    out[i] = static_cast<int8_t>(1 - 2 * ((x1[i + 1600] + x2[i + 1600]) & 1));
}

}  // namespace

static void BM_GoldSeqGen(benchmark::State& state) {
  const auto count = static_cast<uint32_t>(state.range(0));
  int32_t cInit = 0x1234567;
  for (auto _ : state) {
    benchmark::DoNotOptimize(nrGoldSeqGen(cInit++, count, 1, 0));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_GoldSeqGen)->Arg(kGoldSeqLimit)->Arg(3276);

static void BM_GoldPerBitBaseline(benchmark::State& state) {
  const auto count = static_cast<uint32_t>(state.range(0));
  std::vector<int8_t> out(count);
  uint32_t cInit = 0x1234567;
  for (auto _ : state) {
    goldPerBitBaseline(cInit++, count, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_GoldPerBitBaseline)->Arg(kGoldSeqLimit)->Arg(3276);

static void BM_ScrambleInt(benchmark::State& state) {
  const int32_t n = 100000;
  std::vector<int32_t> buf(n, 1);
  for (auto _ : state) {
    nrScrambleInt(buf.data(), buf.data(), n, 0x4001);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ScrambleInt);

static void BM_ScrambleShort(benchmark::State& state) {
  const int32_t n = 100000;
  std::vector<int16_t> buf(n, 1);
  for (auto _ : state) {
    nrScrambleShort(buf.data(), buf.data(), n, 0x4001);
    benchmark::DoNotOptimize(buf.data());
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_ScrambleShort);

static void BM_PnSeqGen(benchmark::State& state) {
  std::vector<int32_t> out(8448);
  for (auto _ : state) {
    nrPnSeqInit(9);
    nrPnSeqGen(9, out.data(), out.size());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * out.size());
}
BENCHMARK(BM_PnSeqGen);
