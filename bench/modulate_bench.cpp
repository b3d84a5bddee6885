// Modulation mapper and soft demapper over one full-carrier slot's worth of symbols
// (106 RBs x 12 subcarriers x 12 data symbols).
#include <benchmark/benchmark.h>

#include <vector>

#include "config/nr_config.h"
#include "phy/common/sequence.h"
#include "phy/rx/demod_soft.h"
#include "phy/tx/modulate.h"

namespace {

constexpr int32_t kSymbolN = 106 * 12 * 12;

std::vector<int16_t> bipolarBlock(int Qm) {
  std::vector<int16_t> in(static_cast<size_t>(kSymbolN) * Qm);
  uint32_t r = 1;
  for (int16_t& v : in) {
    r = r * 1103515245u + 12345u;
    v = (r >> 16) & 1 ? -1 : 1;
  }
  return in;
}

void BM_Modulate(benchmark::State& state) {
  const uint16_t Qm = static_cast<uint16_t>(state.range(0));
  const std::vector<int16_t> in = bipolarBlock(Qm);
  std::vector<int32_t> out(kSymbolN);
  for (auto _ : state) {
    nrModulate(out.data(), in.data(), static_cast<int32_t>(in.size()), Qm);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kSymbolN);
}

// Coded bits to symbols as the transmit chain needs them: the bipolar form, the scrambler and
// the mapper in turn (Fused 0), or the one table-driven pass nrModulateScrambled (Fused 1).
void BM_ScrambleModulate(benchmark::State& state) {
  const uint16_t Qm = static_cast<uint16_t>(state.range(0));
  const bool fused = state.range(1) != 0;
  const std::vector<int16_t> in = bipolarBlock(Qm);
  const int32_t count = static_cast<int32_t>(in.size());
  std::vector<int8_t> bits(in.size());
  for (size_t i = 0; i < in.size(); i++) bits[i] = in[i] < 0 ? 1 : 0;
  std::vector<int16_t> soft(in.size());
  std::vector<int32_t> out(kSymbolN);
  constexpr int32_t kCinit = 942155;
  for (auto _ : state) {
    if (fused) {
      nrModulateScrambled(out.data(), bits.data(), count, Qm, kCinit);
    } else {
      nrScrambleBitsShort(bits.data(), soft.data(), count, kCinit);
      nrModulate(out.data(), soft.data(), count, Qm);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kSymbolN);
}

void BM_DemodSoft(benchmark::State& state) {
  const uint16_t Qm = static_cast<uint16_t>(state.range(0));
  const std::vector<int16_t> in = bipolarBlock(Qm);
  std::vector<int32_t> symbols(kSymbolN);
  nrModulate(symbols.data(), in.data(), static_cast<int32_t>(in.size()), Qm);
  // A little deterministic jitter so that the soft bits are not all saturated.
  for (int32_t i = 0; i < kSymbolN; i++)
    symbols[i] = nrCpxPack(nrCpxRe(symbols[i]) + (i % 17) - 8, nrCpxIm(symbols[i]) - (i % 13) + 6);
  std::vector<int16_t> soft(in.size());
  for (auto _ : state) {
    nrDemodSoft(symbols.data(), soft.data(), kSymbolN, Qm);
    benchmark::DoNotOptimize(soft.data());
  }
  state.SetItemsProcessed(state.iterations() * kSymbolN);
}

// Symbols spread over the whole 16-bit sample range (a noisy or badly scaled slot): every soft
// bit pattern of the order is met, so the demapper's per-value results are looked up all over.
void BM_DemodSoftSpread(benchmark::State& state) {
  const uint16_t Qm = static_cast<uint16_t>(state.range(0));
  std::vector<int32_t> symbols(kSymbolN);
  uint32_t r = 7;
  for (int32_t& s : symbols) {
    r = r * 1103515245u + 12345u;
    const int re = static_cast<int16_t>(r >> 16);
    r = r * 1103515245u + 12345u;
    s = nrCpxPack(re, static_cast<int16_t>(r >> 16));
  }
  std::vector<int16_t> soft(static_cast<size_t>(kSymbolN) * Qm);
  for (auto _ : state) {
    nrDemodSoft(symbols.data(), soft.data(), kSymbolN, Qm);
    benchmark::DoNotOptimize(soft.data());
  }
  state.SetItemsProcessed(state.iterations() * kSymbolN);
}

}  // namespace

BENCHMARK(BM_Modulate)->Arg(2)->Arg(4)->Arg(6)->Arg(8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScrambleModulate)
    ->ArgsProduct({{2, 4, 6, 8}, {0, 1}})
    ->ArgNames({"Qm", "Fused"})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DemodSoft)->Arg(2)->Arg(4)->Arg(6)->Arg(8)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DemodSoftSpread)->Arg(4)->Arg(6)->Arg(8)->Unit(benchmark::kMicrosecond);
