#include "phy/coding/dlsch_harq.h"

#include <cstring>

#include "config/console.h"
#include "config/nr_config.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/coding/ldpc_decode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/common/sequence.h"
#include "phy/common/stage_profile.h"

namespace {

constexpr int kMaxCbBits = 22 * kLdpcDecMaxZc;  // K of BG1 at Zc 384
constexpr int kMaxCbLlr = 66 * kLdpcDecMaxZc;   // N of BG1 at Zc 384
// The LDPC decoder's input range: 6-bit soft values.
constexpr int16_t kSoftMin = -32;
constexpr int16_t kSoftMax = 31;

// The transport block the buffer holds, its combined soft values per code block (6-bit values in
// 16 bits; fillers at kSoftMax, a certain 0), which code blocks passed and their decoded bits.
struct HarqBuffer {
  bool active;
  uint32_t A;
  NrLdpcParams p;
  bool passed[kMaxCodeBlocks];
  int16_t soft[kMaxCodeBlocks][kMaxCbLlr];
  int32_t decoded[kMaxCodeBlocks][kMaxCbBits];
};
HarqBuffer harq;
int32_t softWork[kUeLlrCap];
int32_t cbLlr[kMaxCbLlr];
int32_t cbIn[kMaxCbLlr];

inline int16_t saturate(int32_t v) {
  return static_cast<int16_t>(v < kSoftMin ? kSoftMin : (v > kSoftMax ? kSoftMax : v));
}

bool sameBlock(const NrLdpcParams& a, const NrLdpcParams& b) {
  return a.bg == b.bg && a.C == b.C && a.K == b.K && a.Kp == b.Kp && a.Zc == b.Zc && a.N == b.N &&
         a.Ncb == b.Ncb && a.crcType == b.crcType;
}

}  // namespace

void nrDlschHarqReset() { harq.active = false; }

uint8_t nrDlschHarqDecode(uint32_t A, uint32_t G, int32_t cInit, uint32_t Qm, uint8_t rv,
                          const int16_t* softBits, uint8_t numLayers, uint16_t rateX2048,
                          NrHarqStats* st) {
  NrStageScope deRateMatching(NrStage::kDeRateMatching);
  NrHarqStats local{};
  NrHarqStats& s = st ? *st : local;
  s = NrHarqStats{};
  if (!softBits || G > static_cast<uint32_t>(kUeLlrCap) || Qm == 0 || rv > 3) {
    nrDiag("nrDlschHarqDecode: %u soft bits (at most %d), Qm %u, rv %u: not decoded\n", G,
           kUeLlrCap, Qm, rv);
    return 0;
  }
  NrLdpcParams p{};
  nrLdpcParamCalc(A, G, rateX2048 / 2.0f, static_cast<int32_t>(Qm), rv, numLayers, &p);
  if (p.C <= 0 || p.C > kMaxCodeBlocks || p.E[0] <= 0 || p.sumE > static_cast<int64_t>(G) ||
      p.K > kMaxCbBits || p.N > kMaxCbLlr) {
    nrDiag(
        "nrDlschHarqDecode: A = %u, G = %u, Qm = %u: %d code blocks, %lld coded bits cannot be "
        "decoded\n",
        A, G, Qm, p.C, static_cast<long long>(p.sumE));
    return 0;
  }
  // A transport block of another shape starts the buffer afresh.
  if (!harq.active || harq.A != A || !sameBlock(harq.p, p)) {
    harq.active = true;
    harq.A = A;
    for (int32_t r = 0; r < p.C; r++) {
      harq.passed[r] = false;
      std::memset(harq.soft[r], 0, sizeof(int16_t) * p.N);
    }
  }
  harq.p = p;
  s.cbN = p.C;

  for (uint32_t i = 0; i < G; i++) softWork[i] = softBits[i];
  nrScrambleInt(softWork, softWork, static_cast<int32_t>(p.sumE), cInit);
  const int32_t fillStart = p.Kp - 2 * p.Zc > 0 ? p.Kp - 2 * p.Zc : 0;
  const int32_t fillEnd = p.K - 2 * p.Zc;

  int64_t in = 0;
  for (int32_t r = 0; r < p.C; in += p.E[r], r++) {
    if (harq.passed[r]) {
      s.cbPassed++;
      continue;
    }
    // Soft combining of this transmission's values at their circular-buffer positions (the
    // positions follow k0 of its redundancy version); fillers stay certain zeros.
    dlsch_detail::deRateMatch(softWork + in, p.E[r], p.K, p.Kp, p.Zc, static_cast<int32_t>(Qm),
                              p.k0, p.Ncb, p.N, cbLlr);
    int16_t* buf = harq.soft[r];
    int32_t any = 0;
    for (int32_t i = 0; i < p.N; i++) {
      const bool filler = i >= fillStart && i < fillEnd;
      buf[i] = filler ? kSoftMax : saturate(buf[i] + cbLlr[i]);
      cbIn[i] = buf[i];
      any |= filler ? 0 : buf[i];
    }
    // Nothing received yet for this block: no decoding (the all-zero word would pass).
    if (any == 0) continue;
    const int32_t ok =
        nrLdpcDecode(cbIn, harq.decoded[r], p.Kp, p.Zc, p.N, static_cast<uint8_t>(p.bg),
                     static_cast<uint8_t>(p.iLS), static_cast<uint8_t>(p.crcType));
    s.decodes++;
    s.iterSum += nrLdpcDecIterUsed();
    if (ok) {
      harq.passed[r] = true;
      s.cbPassed++;
    }
  }
  return s.cbPassed == p.C ? 1 : 0;
}

int32_t nrDlschHarqTbBits(int32_t* out, int32_t cap) {
  if (!harq.active) return 0;
  const NrLdpcParams& p = harq.p;
  for (int32_t r = 0; r < p.C; r++)
    if (!harq.passed[r]) return 0;
  // TS 38.212 5.2.2: each code block carries K' - L bits of the transport block and its CRC.
  const int32_t perBlock = p.C > 1 ? p.Kp - p.L : p.Kp;
  int32_t n = 0;
  for (int32_t r = 0; r < p.C; r++)
    for (int32_t k = 0; k < perBlock && n < cap; k++) out[n++] = harq.decoded[r][k];
  return n;
}
