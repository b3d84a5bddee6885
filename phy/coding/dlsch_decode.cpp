#include "phy/coding/dlsch_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <type_traits>
#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "config/console.h"
#include "config/nr_config.h"
#include "phy/coding/ldpc_decode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_tables.h"
#include "phy/common/cpu_features.h"
#include "phy/common/sequence.h"
#include "phy/common/stage_profile.h"
#include "phy/common/text_lines.h"

namespace {

constexpr char kDecFile[] = "DecBuff.txt";
constexpr int kMaxCbBits = 22 * kLdpcDecMaxZc;  // K of BG1 at Zc 384
constexpr int kMaxCbLlr = 66 * kLdpcDecMaxZc;   // N of BG1 at Zc 384

// Work buffers: the soft bits descrambled in their own 16 bits (softWork16), or widened and
// descrambled in place where 16 bits cannot hold a product (softWork), the decoded bits of every
// code block (code block r at r*K), and the circular buffer of the code block being decoded.
int16_t softWork16[kUeLlrCap];
int32_t softWork[kUeLlrCap];
int32_t decodedBits[kMaxCodeBlocks * kMaxCbBits];
int32_t cbLlr[kMaxCbLlr];
int16_t cbLlr16[kMaxCbLlr];  // the same in 16 bits, where no position sums repeated soft bits

// The verdicts of the last transport block, and whether the last nrLdpcCbDecode call ran the LDPC
// decoder (an all-zero or malformed block is refused before it).
NrDlschDecReport lastReport;
bool cbReachedDecoder = false;

// dst[t] = src[t * stride] (Add: dst[t] += ...) for t < len; the stride is the modulation order.
template <bool Add, int Stride, typename T, typename D>
void moveStrided(D* __restrict dst, const T* __restrict src, int32_t len) {
  for (int32_t t = 0; t < len; t++) {
    if constexpr (Add)
      dst[t] += src[static_cast<int64_t>(t) * Stride];
    else
      dst[t] = src[static_cast<int64_t>(t) * Stride];
  }
}

template <bool Add, typename T, typename D>
void moveRun(D* dst, const T* src, int32_t len, int32_t stride) {
  switch (stride) {
    case 1:
      moveStrided<Add, 1>(dst, src, len);
      break;
    case 2:
      moveStrided<Add, 2>(dst, src, len);
      break;
    case 4:
      moveStrided<Add, 4>(dst, src, len);
      break;
    case 6:
      moveStrided<Add, 6>(dst, src, len);
      break;
    case 8:
      moveStrided<Add, 8>(dst, src, len);
      break;
    default:
      for (int32_t t = 0; t < len; t++) {
        if constexpr (Add)
          dst[t] += src[static_cast<int64_t>(t) * stride];
        else
          dst[t] = src[static_cast<int64_t>(t) * stride];
      }
  }
}

// Eight interleaver rows at once (Qm = 8), where each row's positions run on without a break:
// cbLlr[base[l] + k] = llr[8k + l] for kBegin <= k < kEnd.
template <typename T, typename D = int32_t>
void moveRows8Plain(D* cbLlr, const T* llr, int32_t kBegin, int32_t kEnd, const int32_t* base) {
  for (int32_t k = kBegin; k < kEnd; k++)
    for (int l = 0; l < 8; l++) cbLlr[base[l] + k] = llr[8 * static_cast<int64_t>(k) + l];
}

#ifdef VELTRA_X86_VARIANTS
// The same by 8x8 transposes: eight soft bits of one modulation symbol in, eight consecutive
// soft bits of one row out.
// 16-bit soft bits are widened as they are loaded.
template <typename T>
VELTRA_TARGET_AVX2 void moveRows8Avx2(int32_t* cbLlr, const T* llr, int32_t kBegin, int32_t kEnd,
                                      const int32_t* base) {
  int32_t k = kBegin;
  for (; k + 8 <= kEnd; k += 8) {
    const T* src = llr + 8 * static_cast<int64_t>(k);
    __m256i r[8], t[8];
    for (int i = 0; i < 8; i++) {
      if constexpr (sizeof(T) == 2)
        r[i] =
            _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 8 * i)));
      else
        r[i] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(src + 8 * i));
    }
    for (int i = 0; i < 8; i += 2) {
      t[i] = _mm256_unpacklo_epi32(r[i], r[i + 1]);
      t[i + 1] = _mm256_unpackhi_epi32(r[i], r[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
      r[i] = _mm256_unpacklo_epi64(t[i], t[i + 2]);
      r[i + 1] = _mm256_unpackhi_epi64(t[i], t[i + 2]);
      r[i + 2] = _mm256_unpacklo_epi64(t[i + 1], t[i + 3]);
      r[i + 3] = _mm256_unpackhi_epi64(t[i + 1], t[i + 3]);
    }
    // r[0..3] hold rows 0, 1, 2, 3 of symbols k..k+3 (low half) and rows 4..7 (high half); r[4..7]
    // the same for symbols k+4..k+7.
    for (int i = 0; i < 4; i++) {
      const __m256i lo = _mm256_permute2x128_si256(r[i], r[i + 4], 0x20);
      const __m256i hi = _mm256_permute2x128_si256(r[i], r[i + 4], 0x31);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(cbLlr + base[i] + k), lo);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(cbLlr + base[i + 4] + k), hi);
    }
  }
  moveRows8Plain(cbLlr, llr, k, kEnd, base);
}
// 16-bit soft bits with AVX-512: the 64 soft bits of eight symbols are gathered by two word
// permutes into rows 0-3 and rows 4-7 (eight values each). Lane j of gather h holds row
// j/8 + 4h, symbol j%8: soft bit 8 (j%8) + j/8 + 4h.
alignas(64) constexpr auto kRows8Idx = [] {
  struct T {
    int16_t v[2][32];
  } t{};
  for (int h = 0; h < 2; h++)
    for (int j = 0; j < 32; j++) t.v[h][j] = static_cast<int16_t>(8 * (j % 8) + j / 8 + 4 * h);
  return t;
}();
struct Rows8Gather {
  __m512i idx[2];
  VELTRA_TARGET_AVX512 Rows8Gather()
      : idx{_mm512_load_si512(kRows8Idx.v[0]), _mm512_load_si512(kRows8Idx.v[1])} {}
  // Rows 0-3 (g[0]) and 4-7 (g[1]) of the eight symbols at src.
  [[gnu::always_inline]] VELTRA_TARGET_AVX512 void operator()(const int16_t* src,
                                                              __m512i (&g)[2]) const {
    const __m512i a = _mm512_loadu_si512(src);
    const __m512i b = _mm512_loadu_si512(src + 32);
    g[0] = _mm512_permutex2var_epi16(a, idx[0], b);
    g[1] = _mm512_permutex2var_epi16(a, idx[1], b);
  }
};
// Widened two rows at a time.
VELTRA_TARGET_AVX512 void moveRows8Avx512(int32_t* cbLlr, const int16_t* llr, int32_t kBegin,
                                          int32_t kEnd, const int32_t* base) {
  const Rows8Gather gather;
  int32_t k = kBegin;
  for (; k + 8 <= kEnd; k += 8) {
    __m512i g[2];
    gather(llr + 8 * static_cast<int64_t>(k), g);
    for (int h = 0; h < 2; h++) {
      // The zero-masked forms throughout: GCC 12 takes the plain ones' undefined upper lanes for
      // uninitialised values.
      const __m512i r01 =
          _mm512_maskz_cvtepi16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, g[h], 0));
      const __m512i r23 =
          _mm512_maskz_cvtepi16_epi32(0xFFFF, _mm512_maskz_extracti64x4_epi64(0xF, g[h], 1));
      const int l = 4 * h;
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(cbLlr + base[l] + k),
                          _mm512_maskz_extracti64x4_epi64(0xF, r01, 0));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(cbLlr + base[l + 1] + k),
                          _mm512_maskz_extracti64x4_epi64(0xF, r01, 1));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(cbLlr + base[l + 2] + k),
                          _mm512_maskz_extracti64x4_epi64(0xF, r23, 0));
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(cbLlr + base[l + 3] + k),
                          _mm512_maskz_extracti64x4_epi64(0xF, r23, 1));
    }
  }
  moveRows8Plain(cbLlr, llr, k, kEnd, base);
}
// 16-bit soft bits to 16-bit positions: the same gathers, each row's eight values stored as they
// are.
VELTRA_TARGET_AVX512 void moveRows8Avx512To16(int16_t* cbLlr, const int16_t* llr, int32_t kBegin,
                                              int32_t kEnd, const int32_t* base) {
  const Rows8Gather gather;
  int32_t k = kBegin;
  for (; k + 8 <= kEnd; k += 8) {
    __m512i g[2];
    gather(llr + 8 * static_cast<int64_t>(k), g);
    const __m512i g0 = g[0], g1 = g[1];
    auto row = [&](int l) { return reinterpret_cast<__m128i*>(cbLlr + base[l] + k); };
    // Zero-masked extractions: GCC 12 takes the plain ones' undefined lanes for uninitialised.
    const __m256i q[4] = {
        _mm512_maskz_extracti64x4_epi64(0xF, g0, 0), _mm512_maskz_extracti64x4_epi64(0xF, g0, 1),
        _mm512_maskz_extracti64x4_epi64(0xF, g1, 0), _mm512_maskz_extracti64x4_epi64(0xF, g1, 1)};
    for (int i = 0; i < 4; i++) {
      _mm_storeu_si128(row(2 * i), _mm256_castsi256_si128(q[i]));
      _mm_storeu_si128(row(2 * i + 1), _mm256_extracti128_si256(q[i], 1));
    }
  }
  moveRows8Plain(cbLlr, llr, k, kEnd, base);
}
template <typename T, typename D>
using MoveRows8Fn = void (*)(D*, const T*, int32_t, int32_t, const int32_t*);
template <typename T, typename D>
constexpr MoveRows8Fn<T, D> kMoveRows8Fns[kNrCpuLevels] = {moveRows8Plain<T, D>, moveRows8Avx2<T>,
                                                           nullptr};
template <>
constexpr MoveRows8Fn<int16_t, int32_t> kMoveRows8Fns<int16_t, int32_t>[kNrCpuLevels] = {
    moveRows8Plain<int16_t>, moveRows8Avx2<int16_t>, moveRows8Avx512};
template <>
constexpr MoveRows8Fn<int16_t, int16_t> kMoveRows8Fns<int16_t, int16_t>[kNrCpuLevels] = {
    moveRows8Plain<int16_t, int16_t>, nullptr, moveRows8Avx512To16};
#else
template <typename T, typename D>
using MoveRows8Fn = void (*)(D*, const T*, int32_t, int32_t, const int32_t*);
template <typename T, typename D>
constexpr MoveRows8Fn<T, D> kMoveRows8Fns[kNrCpuLevels] = {moveRows8Plain<T, D>, nullptr, nullptr};
#endif

// dlsch_detail::deRateMatch for soft bits of either width. With `extent`, the positions from
// *extent on, which it sets, are all 0 and are left as they were instead of being cleared: the
// decoder is then handed only the first *extent values (those beyond are 0 as punctured ones).
// 16-bit positions (D = int16_t) hold only single soft bits: where positions repeat, and their
// soft bits would be summed, nothing is written and false returned.
template <typename T, typename D = int32_t>
bool deRateMatchAny(const T* llr, int32_t E, int32_t K, int32_t Kp, int32_t Zc, int32_t Qm,
                    int32_t k0, int32_t Ncb, int32_t N, D* cbLlr, int32_t* extent = nullptr) {
  // TS 38.212 5.4.2.1: the filler bits K'..K-1 sit at K'-2Zc ... K-2Zc-1 of the circular buffer.
  const int32_t fillStart = Kp - 2 * Zc > 0 ? Kp - 2 * Zc : 0;
  const int32_t fillEnd = K - 2 * Zc;

  // Next non-filler position at or after p, cyclically modulo Ncb.
  auto nextData = [&](int32_t p) {
    for (;;) {
      if (p >= Ncb)
        p = 0;
      else if (p >= fillStart && p < fillEnd)
        p = fillEnd;
      else
        return p;
    }
  };
  // TS 38.212 5.4.2.2 inverted: selected bit l*n + k travelled as element k*Qm + l, so row l of
  // the interleaver holds n consecutive selected bits. Selected bit j sits at the j-th non-filler
  // position from k0 (5.4.2.1): a row covers runs of consecutive positions, each ending at the
  // filler range or at Ncb; repeated positions accumulate.
  const int32_t n = E / Qm;
  const int32_t start = nextData(((k0 % Ncb) + Ncb) % Ncb);
  // Calls run(l, k, len, pos) for every run: selected bits l*n + k ... l*n + k + len - 1 of row
  // l at positions pos ... pos + len - 1. Returns the position after the last.
  auto walk = [&](auto run) {
    int32_t pos = start;
    for (int32_t l = 0; l < Qm; l++) {
      for (int32_t k = 0; k < n;) {
        const int32_t end = pos < fillStart && fillStart < Ncb ? fillStart : Ncb;
        const int32_t len = end - pos < n - k ? end - pos : n - k;
        run(l, k, len, pos);
        k += len;
        pos = nextData(pos + len);
      }
    }
    return pos;
  };
  auto move = [&](auto add) {
    return walk([&](int32_t l, int32_t k, int32_t len, int32_t pos) {
      moveRun<decltype(add)::value>(cbLlr + pos, llr + static_cast<int64_t>(k) * Qm + l, len, Qm);
    });
  };
  const int32_t fillInBuf = (fillEnd < Ncb ? fillEnd : Ncb) - (fillStart < Ncb ? fillStart : Ncb);
  const int64_t selected = static_cast<int64_t>(n) * Qm;
  if (selected == 0 || selected > Ncb - fillInBuf) {
    if constexpr (sizeof(D) < sizeof(int32_t)) return false;
    // Positions repeat (or none is sent): clear the buffer and accumulate.
    std::memset(cbLlr, 0, sizeof(D) * N);
    for (int32_t i = fillStart; i < fillEnd; i++) cbLlr[i] = kFillerLlr;
    move(std::true_type{});
    if (extent) *extent = N;
    return true;
  }
  // Every position is sent at most once: the runs store their soft bits, and only the positions
  // they leave (from where the selection ends, cyclically up to its start, and beyond Ncb) are
  // cleared; the fillers are set last, over any of them.
  int32_t stop;
  if (Qm == 8) {
    // A row meets the filler range and Ncb at most once each here: at most three runs. The rows
    // are moved together between the points where any of them breaks.
    constexpr int kMaxRuns = 3;
    int32_t runK[8][kMaxRuns], runPos[8][kMaxRuns], runs[8] = {};
    bool fits = true;
    stop = walk([&](int32_t l, int32_t k, int32_t, int32_t pos) {
      fits = fits && runs[l] < kMaxRuns;
      if (!fits) return;
      runK[l][runs[l]] = k;
      runPos[l][runs[l]++] = pos;
    });
    if (!fits) stop = move(std::false_type{});  // cannot happen; the row-by-row walk stands in
    const MoveRows8Fn<T, D> moveRows8 = nrCpuPick(kMoveRows8Fns<T, D>);
    int at[8] = {};
    for (int32_t k = 0; fits && k < n;) {
      int32_t end = n;
      int32_t base[8];
      for (int l = 0; l < 8; l++) {
        if (at[l] + 1 < runs[l]) end = std::min(end, runK[l][at[l] + 1]);
        base[l] = runPos[l][at[l]] - runK[l][at[l]];
      }
      moveRows8(cbLlr, llr, k, end, base);
      k = end;
      for (int l = 0; l < 8; l++)
        if (at[l] + 1 < runs[l] && runK[l][at[l] + 1] == k) at[l]++;
    }
  } else {
    stop = move(std::false_type{});
  }
  // Every position up to Ncb is written, but where the selection stops short and does not wrap.
  int32_t written = Ncb;
  if (selected < Ncb - fillInBuf) {
    // Fewer selected bits than non-filler positions: the selection stops short of its start.
    if (stop < start) {
      std::memset(cbLlr + stop, 0, sizeof(D) * (start - stop));
    } else {
      if (extent)
        written = stop;
      else
        std::memset(cbLlr + stop, 0, sizeof(D) * (Ncb - stop));
      std::memset(cbLlr, 0, sizeof(D) * start);
    }
  }
  if (N > Ncb && !extent) std::memset(cbLlr + Ncb, 0, sizeof(D) * (N - Ncb));
  for (int32_t i = fillStart; i < fillEnd; i++) cbLlr[i] = kFillerLlr;
  if (extent && fillEnd > fillStart) {
    // The fillers are handed over too, with the positions between the last written and them.
    if (written < fillStart) std::memset(cbLlr + written, 0, sizeof(D) * (fillStart - written));
    written = std::max(written, fillEnd);
  }
  if (extent) *extent = written;
  return true;
}

// nrLdpcCbDecode for soft bits of either width; the decoded bits are written only when keepBits.
template <typename T>
int32_t cbDecode(const T* llr, int32_t E, int32_t* decoded, int32_t K, int32_t Kp, int32_t Zc,
                 int32_t Qm, int32_t k0, int32_t Ncb, int32_t N, uint8_t bg, uint8_t iLS,
                 uint8_t crcType, bool keepBits = true) {
  cbReachedDecoder = false;
  const bool bgOk = bg == 1 || bg == 2;
  const int32_t kb = bg == 1 ? 22 : 10;
  const int32_t nb = bg == 1 ? 66 : 50;
  // The filler range of the circular buffer (see deRateMatch).
  const int32_t fillStart = Kp - 2 * Zc > 0 ? Kp - 2 * Zc : 0;
  const int32_t fillEnd = K - 2 * Zc;
  const bool shapeOk = bgOk && nrLdpcLiftIndex(Zc) >= 0 && K == kb * Zc && N == nb * Zc && Kp > 0 &&
                       Kp <= K && Ncb > 0 && Ncb <= N && Qm > 0 && E >= 0 && decoded &&
                       (llr || E == 0);
  // Non-filler positions of the circular buffer; the selection cannot run without one.
  const int32_t fillInBuf =
      shapeOk ? (fillEnd < Ncb ? fillEnd : Ncb) - (fillStart < Ncb ? fillStart : Ncb) : 0;
  if (!shapeOk || Ncb - fillInBuf <= 0) {
    nrDiag(
        "nrLdpcCbDecode(): invalid code block (bg %d, Zc %d, K %d, K' %d, N %d, Ncb %d, E %d)!\n",
        bg, Zc, K, Kp, N, Ncb, E);
    return 0;
  }

  // Soft bits that are all 0 carry no information: every information bit would be decided on a
  // value of 0, which fails the block in the decoder (the all-zero word they settle on has a zero
  // CRC register, TS 38.212 5.1, no preload). Such a block fails here without twenty iterations.
  const int64_t used = static_cast<int64_t>(E / Qm) * Qm;
  // Scanned in runs of kAnyRun, up to the first run with a non-zero value.
  constexpr int64_t kAnyRun = 64;
  T any = 0;
  for (int64_t i = 0; i < used && any == 0; i += kAnyRun) {
    const int64_t end = i + kAnyRun < used ? i + kAnyRun : used;
    for (int64_t t = i; t < end; t++) any |= llr[t];
  }
  if (any == 0) return 0;

  // The decoder reads the LLRs up to where the de-rate-matching wrote: positions beyond are 0,
  // which it treats as it does punctured ones, and it does not even read them.
  int32_t extent = N;
  if constexpr (sizeof(T) == sizeof(int16_t)) {
    // 16-bit soft bits stay 16-bit through to the decoder where no position sums several.
    if (deRateMatchAny(llr, E, K, Kp, Zc, Qm, k0, Ncb, N, cbLlr16, &extent)) {
      cbReachedDecoder = true;
      return ldpc_detail::decodeKeep16(cbLlr16, decoded, keepBits, Kp, Zc, extent, bg, iLS,
                                       crcType);
    }
  }
  deRateMatchAny(llr, E, K, Kp, Zc, Qm, k0, Ncb, N, cbLlr, &extent);
  cbReachedDecoder = true;
  return ldpc_detail::decodeKeep(cbLlr, decoded, keepBits, Kp, Zc, extent, bg, iLS, crcType);
}

}  // namespace

namespace dlsch_detail {

void deRateMatch(const int32_t* llr, int32_t E, int32_t K, int32_t Kp, int32_t Zc, int32_t Qm,
                 int32_t k0, int32_t Ncb, int32_t N, int32_t* cbLlr) {
  deRateMatchAny(llr, E, K, Kp, Zc, Qm, k0, Ncb, N, cbLlr);
}

void deRateMatch(const int16_t* llr, int32_t E, int32_t K, int32_t Kp, int32_t Zc, int32_t Qm,
                 int32_t k0, int32_t Ncb, int32_t N, int32_t* cbLlr) {
  deRateMatchAny(llr, E, K, Kp, Zc, Qm, k0, Ncb, N, cbLlr);
}

bool deRateMatch16(const int16_t* llr, int32_t E, int32_t K, int32_t Kp, int32_t Zc, int32_t Qm,
                   int32_t k0, int32_t Ncb, int32_t N, int16_t* cbLlr) {
  return deRateMatchAny(llr, E, K, Kp, Zc, Qm, k0, Ncb, N, cbLlr);
}

int32_t cbDecode16(const int16_t* llr, int32_t E, int32_t* decoded, int32_t K, int32_t Kp,
                   int32_t Zc, int32_t Qm, int32_t k0, int32_t Ncb, int32_t N, uint8_t bg,
                   uint8_t iLS, uint8_t crcType, bool keepBits) {
  return cbDecode(llr, E, decoded, K, Kp, Zc, Qm, k0, Ncb, N, bg, iLS, crcType, keepBits);
}

}  // namespace dlsch_detail

int32_t nrLdpcCbDecode(const int32_t* llr, int32_t E, int32_t* decoded, int32_t K, int32_t Kp,
                       int32_t Zc, int32_t Qm, int32_t k0, int32_t Ncb, int32_t N, uint8_t bg,
                       uint8_t iLS, uint8_t crcType) {
  return cbDecode(llr, E, decoded, K, Kp, Zc, Qm, k0, Ncb, N, bg, iLS, crcType);
}

uint8_t nrDlschDecode(uint32_t A, uint32_t G, float R, int32_t cInit, uint32_t Qm, uint8_t rv,
                      const int16_t* softBits, uint8_t numLayers, uint16_t rateX2048) {
  NrStageScope deRateMatching(NrStage::kDeRateMatching);
  lastReport.A = A;
  lastReport.G = G;
  lastReport.tbOk = 0;
  lastReport.bg = 0;
  lastReport.Zc = 0;
  lastReport.cbN = 0;
  if (!softBits || G > static_cast<uint32_t>(kUeLlrCap)) {
    nrDiag("nrDlschDecode(): %u soft bits exceed the soft-bit buffer (%d), not decoded!\n", G,
           kUeLlrCap);
    if (gnrDiagFilesOn) nrRemoveStaleFile(kDecFile);
    return 0;
  }
  // TS 38.212 7.2.2: the base graph follows the target code rate, as at the transmitter.
  const float rateX1024 = rateX2048 != 0 ? rateX2048 / 2.0f : R * 1024.0f;
  NrLdpcParams p{};
  nrLdpcParamCalc(A, G, rateX1024, static_cast<int32_t>(Qm), rv, numLayers, &p);
  // A code block without a single coded bit would decode its all-zero LLRs to the all-zero block,
  // whose CRC checks: refuse rather than report a block that was never sent as received.
  if (p.C <= 0 || p.C > kMaxCodeBlocks || p.E[0] <= 0 || p.sumE > static_cast<int64_t>(G) ||
      p.K > kMaxCbBits || p.N > kMaxCbLlr) {
    nrDiag(
        "nrDlschDecode(): A = %u, G = %u, Qm = %u, %u layers: %d code blocks, %lld coded bits "
        "cannot be decoded!\n",
        A, G, Qm, numLayers, p.C, static_cast<long long>(p.sumE));
    if (gnrDiagFilesOn) nrRemoveStaleFile(kDecFile);
    return 0;
  }

  // Descrambled in 16 bits, read by the de-rate-matching as they are; only where a product does
  // not fit (-32768 negated) is the block descrambled again in 32 bits.
  const bool narrow =
      nrScrambleShortExact(softBits, softWork16, static_cast<int32_t>(p.sumE), cInit);
  if (!narrow) {
    for (uint32_t i = 0; i < G; i++) softWork[i] = softBits[i];
    nrScrambleInt(softWork, softWork, static_cast<int32_t>(p.sumE), cInit);
  }

  // The transport block is received only when every code block checks: a failed earlier block
  // must not be hidden by a good last one.
  uint8_t result = 1;
  lastReport.bg = static_cast<uint8_t>(p.bg);
  lastReport.Zc = p.Zc;
  lastReport.cbN = p.C;
  int64_t in = 0;
  int64_t out = 0;
  for (int32_t r = 0; r < p.C; r++) {
    const int32_t ok =
        narrow ? dlsch_detail::cbDecode16(softWork16 + in, p.E[r], decodedBits + out, p.K, p.Kp,
                                          p.Zc, static_cast<int32_t>(Qm), p.k0, p.Ncb, p.N,
                                          static_cast<uint8_t>(p.bg), static_cast<uint8_t>(p.iLS),
                                          p.crcType, gnrDiagFilesOn)
               : nrLdpcCbDecode(softWork + in, p.E[r], decodedBits + out, p.K, p.Kp, p.Zc,
                                static_cast<int32_t>(Qm), p.k0, p.Ncb, p.N,
                                static_cast<uint8_t>(p.bg), static_cast<uint8_t>(p.iLS), p.crcType);
    nrPrintf("\n===>Enter Dec module! ");
    nrPrintf(ok ? "codeword: [%d] dec CRC OK" : "codeword: [%d] dec CRC failed", r);
    if (!ok) result = 0;
    lastReport.cb[r] =
        NrDlschCbVerdict{static_cast<uint8_t>(ok ? 1 : 0),
                         cbReachedDecoder ? nrLdpcDecIterUsed() : uint8_t{0}, p.E[r]};
    in += p.E[r];
    out += p.K;
  }

  if (result == 1 && gnrDiagFilesOn) {
    // The transport block and its CRC, reassembled from the code blocks without their CRC24B
    // (TS 38.212 5.2.2); with one code block these are its K' = B bits, every one written by the
    // decoder of its block since all of them passed (the decoders write them only while the
    // dump is on).
    const int32_t perBlock = p.C > 1 ? p.Kp - p.L : p.Kp;
    nrWriteTextLines(kDecFile, false, static_cast<uint32_t>(p.C * perBlock),
                     [&](uint32_t i, char* s) {
                       s = nrPutInt(s, decodedBits[(i / perBlock) * p.K + i % perBlock]);
                       *s++ = '\n';
                       return s;
                     });
  } else if (gnrDiagFilesOn) {
    // The transport block of an earlier decode must not pass for this one's.
    nrRemoveStaleFile(kDecFile);
  }
  nrPrintf("\n");
  lastReport.tbOk = result;
  // The next configuration section read clears the UE records again.
  gnrUeConfig.sysInitDone = 0;
  return result;
}

const NrDlschDecReport* nrDlschDecLastReport() { return &lastReport; }
