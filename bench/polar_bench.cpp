// Polar coding of one DCI with K = 64 (40 payload bits and the CRC) rate-matched to E = 864
// (aggregation level 8), which takes the mother code N = 512: encoding, the bare SC decoder and
// the whole DCI decoding (descrambling, construction, recovery, SC decoding, CRC check).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "phy/coding/dci_decode.h"
#include "phy/coding/dci_encode.h"
#include "phy/coding/polar_code.h"
#include "phy/coding/polar_decode.h"
#include "phy/coding/polar_encode.h"
#include "phy/common/pdcch_map.h"
#include "phy/common/sequence.h"

namespace {

constexpr uint16_t kA = 40;
constexpr uint32_t kK = kA + kDciCrcLen;
constexpr uint16_t kE = 864;
constexpr uint32_t kRnti = 28764;
constexpr uint16_t kNid = 829;

std::vector<int32_t> bits(uint32_t n) {
  std::vector<int32_t> b(n);
  uint32_t s = 1;
  for (int32_t& v : b) {
    s = s * 1103515245u + 12345u;
    v = (s >> 16) & 1;
  }
  return b;
}

}  // namespace

static void BM_PolarEncodeK64N512(benchmark::State& state) {
  const std::vector<int32_t> c = bits(kK);
  std::vector<int16_t> out(kE);
  for (auto _ : state) {
    benchmark::DoNotOptimize(nrPolarEncode(c.data(), kK, out.data(), kE, kPolarNmaxDci));
    benchmark::ClobberMemory();
  }
  state.counters["N"] = nrPolarCodeLength(kK, kE, kPolarNmaxDci);
}
BENCHMARK(BM_PolarEncodeK64N512)->Unit(benchmark::kMicrosecond);

static void BM_PolarScDecodeK64N512(benchmark::State& state) {
  const std::vector<int32_t> c = bits(kK);
  std::vector<int16_t> e(kE);
  nrPolarEncode(c.data(), kK, e.data(), kE, kPolarNmaxDci);
  const uint32_t N = nrPolarCodeLength(kK, kE, kPolarNmaxDci);
  std::vector<uint8_t> hard(e.begin(), e.end());
  uint8_t decIn[kPolarNmaxLen], u[kPolarNmaxLen];
  nrPolarRateRecover(hard.data(), kE, kK, N, decIn);
  for (auto _ : state) {
    benchmark::DoNotOptimize(nrPolarScDecode(u, decIn, kPolarErasureP, gnrPolarInfoInd, 9));
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_PolarScDecodeK64N512)->Unit(benchmark::kMicrosecond);

static void BM_DciDecodeK64N512(benchmark::State& state) {
  const std::vector<int32_t> a = bits(kA);
  std::vector<int16_t> soft(kE);
  nrDciEncode(a.data(), kA, soft.data(), 1, kRnti, kE);
  for (int16_t& v : soft) v = static_cast<int16_t>(90 * (1 - 2 * v));
  nrScrambleShort(soft.data(), soft.data(), kE,
                  static_cast<int32_t>(nrPdcchScrCinit(kRnti, kNid, true)));
  bool ok = false;
  for (auto _ : state) {
    ok = nrDciDecode(soft.data(), kE, kRnti, kNid, kA, 1);
    benchmark::DoNotOptimize(ok);
  }
  if (!ok) state.SkipWithError("the DCI did not decode");
}
BENCHMARK(BM_DciDecodeK64N512)->Unit(benchmark::kMicrosecond);
