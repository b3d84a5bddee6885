// CRC over a maximal code block (8448 bits): the encoder's unpacked form and the decoder's packed
// early-termination check, against the plain bit-serial register.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "phy/coding/crc.h"

namespace {

constexpr int kBlockBits = 8448;

std::vector<int32_t> blockBits() {
  std::vector<int32_t> b(kBlockBits);
  uint32_t s = 1;
  for (int32_t& v : b) {
    s = s * 1103515245u + 12345u;
    v = (s >> 16) & 1;
  }
  return b;
}

uint32_t bitSerialCrc(const int32_t* bits, int32_t count, uint32_t poly) {
  uint32_t r = 0;
  for (int32_t i = 0; i < count; i++) {
    const uint32_t f = (r ^ static_cast<uint32_t>(bits[i])) & 1u;
    r >>= 1;
    if (f) r ^= poly;
  }
  return r;
}

}  // namespace

static void BM_Crc24aCalc(benchmark::State& state) {
  const std::vector<int32_t> b = blockBits();
  for (auto _ : state) benchmark::DoNotOptimize(nrCrcCalc(b.data(), kCrc24A, kBlockBits));
  state.SetItemsProcessed(state.iterations() * kBlockBits);
}
BENCHMARK(BM_Crc24aCalc);

static void BM_Crc24aPacked(benchmark::State& state) {
  const std::vector<int32_t> b = blockBits();
  std::vector<uint32_t> w(kBlockBits / 32, 0);
  for (int i = 0; i < kBlockBits; i++) w[i / 32] |= static_cast<uint32_t>(b[i]) << (31 - i % 32);
  for (auto _ : state) benchmark::DoNotOptimize(nrCrcCalcPacked(w.data(), kCrc24A, kBlockBits));
  state.SetItemsProcessed(state.iterations() * kBlockBits);
}
BENCHMARK(BM_Crc24aPacked);

static void BM_Crc24aBitSerialBaseline(benchmark::State& state) {
  const std::vector<int32_t> b = blockBits();
  for (auto _ : state) benchmark::DoNotOptimize(bitSerialCrc(b.data(), kBlockBits, kCrc24APoly));
  state.SetItemsProcessed(state.iterations() * kBlockBits);
}
BENCHMARK(BM_Crc24aBitSerialBaseline);
