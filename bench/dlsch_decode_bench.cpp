// Receive-side shared-channel decoding: one code block de-rate-matched and decoded against the
// decoder alone on the same circular buffer (the difference is the de-interleaving and
// circular-buffer walk), and the whole chain over a segmented transport block. Clean soft bits, so
// the decoder stops at its first CRC check.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "phy/coding/crc.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/coding/ldpc_decode.h"
#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_rate_match.h"
#include "phy/common/sequence.h"
#include "phy/common/tbs.h"
#include "tests/test_util.h"

namespace {

constexpr int32_t kLevel = 9;  // soft-bit magnitude of the clean channel

struct CodedBlock {
  NrLdpcParams p{};
  std::vector<int32_t> soft;  // E rate-matched soft bits
  std::vector<int32_t> llr;   // the N circular-buffer LLRs they de-rate-match to
};

// One code block of A bits in G coded bits (a single block: A <= 8424 for BG1).
CodedBlock codedBlock(int64_t A, int64_t G, float rateX1024, int32_t qm, uint8_t rv) {
  CodedBlock b;
  nrLdpcParamCalc(A, G, rateX1024, qm, rv, 1, &b.p);
  b.p.Qm = qm;
  std::vector<int32_t> cb(b.p.K, 0), cw(b.p.N), bits(b.p.E[0]);
  uint32_t s = 1;
  for (int32_t k = 0; k < b.p.Kp - (A <= 3824 ? 16 : 24); k++) {
    s = s * 1103515245u + 12345u;
    cb[k] = (s >> 16) & 1;
  }
  const int crcLen = A <= 3824 ? 16 : 24;
  const uint32_t reg = nrCrcCalc(cb.data(), b.p.crcType, b.p.Kp - crcLen);
  for (int i = 0; i < crcLen; i++) cb[b.p.Kp - crcLen + i] = (reg >> i) & 1;
  nrLdpcEncode(cb.data(), cw.data(), &b.p);
  nrLdpcRateMatch(cw.data(), bits.data(), 0, &b.p);
  b.soft.resize(bits.size());
  for (size_t i = 0; i < bits.size(); i++) b.soft[i] = bits[i] ? -kLevel : kLevel;
  // TS 38.212 5.4.2 inverted, one position at a time.
  b.llr.assign(b.p.N, 0);
  const int32_t fillStart = b.p.Kp - 2 * b.p.Zc;
  const int32_t fillEnd = b.p.K - 2 * b.p.Zc;
  for (int32_t i = fillStart; i < fillEnd; i++) b.llr[i] = kFillerLlr;
  const int32_t n = b.p.E[0] / qm;
  int32_t pos = b.p.k0;
  for (int32_t l = 0; l < qm; l++)
    for (int32_t k = 0; k < n; k++) {
      while (pos >= fillStart && pos < fillEnd) pos = (pos + 1) % b.p.Ncb;
      b.llr[pos] += b.soft[k * qm + l];
      pos = (pos + 1) % b.p.Ncb;
    }
  return b;
}

void runCbDecode(benchmark::State& state, const CodedBlock& b, bool withWalk) {
  nrLdpcDecPara = NrLdpcDecPara{};
  std::vector<int32_t> out(b.p.K);
  int64_t ok = 0;
  for (auto _ : state) {
    if (withWalk)
      ok += nrLdpcCbDecode(b.soft.data(), b.p.E[0], out.data(), b.p.K, b.p.Kp, b.p.Zc, b.p.Qm,
                           b.p.k0, b.p.Ncb, b.p.N, static_cast<uint8_t>(b.p.bg),
                           static_cast<uint8_t>(b.p.iLS), b.p.crcType);
    else
      ok += nrLdpcDecode(b.llr.data(), out.data(), b.p.Kp, b.p.Zc, b.p.N,
                         static_cast<uint8_t>(b.p.bg), static_cast<uint8_t>(b.p.iLS), b.p.crcType);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["passRate"] =
      benchmark::Counter(static_cast<double>(ok), benchmark::Counter::kAvgIterations);
}

// BG1 Zc 384 at rate 1/3 with rv 2 (the walk wraps and skips the fillers) and BG2 Zc 384 with
// E twice the buffer (every position repeated).
const CodedBlock& bg1Block() {
  static const CodedBlock b = codedBlock(8000, 24000, 341, 2, 2);
  return b;
}
const CodedBlock& bg2Block() {
  static const CodedBlock b = codedBlock(3000, 2 * 50 * 384, 100, 4, 0);
  return b;
}

void BM_LdpcCbDecodeBg1(benchmark::State& s) { runCbDecode(s, bg1Block(), true); }
void BM_LdpcDecodeOnlyBg1(benchmark::State& s) { runCbDecode(s, bg1Block(), false); }
void BM_LdpcCbDecodeBg2Repeated(benchmark::State& s) { runCbDecode(s, bg2Block(), true); }
void BM_LdpcDecodeOnlyBg2Repeated(benchmark::State& s) { runCbDecode(s, bg2Block(), false); }

// The whole chain for a 100-RB MCS 27 allocation (several BG1 code blocks), as the transmitter's
// own encoder sent it.
void BM_DlschDecode100RbMcs27(benchmark::State& state) {
  ScopedTempDir dir;
  const int32_t mcs = 27, nRePerPrb = 150, nPrb = 100;
  int32_t qm = 0, c = 0;
  float rateX1024 = 0;
  uint64_t A = 0, G = 0;
  nrTbsCalc(mcs, nRePerPrb, nPrb, 1, &qm, &c, &rateX1024, &A, &G);
  std::vector<int32_t> bits(G);
  std::vector<int16_t> soft(G);
  {
    QuietStdout quiet;
    nrDlschEncode(mcs, 1, nRePerPrb, nPrb, bits.data(), 0, static_cast<int64_t>(G));
  }
  std::vector<int32_t> s(G);
  for (uint64_t i = 0; i < G; i++) s[i] = bits[i] ? -kLevel : kLevel;
  const int32_t cInit = 0x4321 * 32768 + 7;
  nrScrambleInt(s.data(), s.data(), static_cast<int32_t>(G), cInit);
  for (uint64_t i = 0; i < G; i++) soft[i] = static_cast<int16_t>(s[i]);
  nrLdpcDecPara = NrLdpcDecPara{};
  const uint16_t rateX2048 = static_cast<uint16_t>(2.0f * rateX1024);
  int64_t ok = 0;
  QuietStdout quiet;
  for (auto _ : state)
    ok += nrDlschDecode(static_cast<uint32_t>(A), static_cast<uint32_t>(G),
                        static_cast<float>(A) / static_cast<float>(G), cInit,
                        static_cast<uint32_t>(qm), 0, soft.data(), 1, rateX2048);
  state.counters["passRate"] =
      benchmark::Counter(static_cast<double>(ok), benchmark::Counter::kAvgIterations);
  state.counters["C"] = nrLdpcParams.C;
}

}  // namespace

BENCHMARK(BM_LdpcCbDecodeBg1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecodeOnlyBg1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcCbDecodeBg2Repeated)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LdpcDecodeOnlyBg2Repeated)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DlschDecode100RbMcs27)->Unit(benchmark::kMicrosecond);
