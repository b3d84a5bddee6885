#include "phy/rx/demod_soft.h"

#include <cmath>
#include <cstring>

#include "config/nr_config.h"
#include "phy/common/cpu_features.h"

#ifdef VELTRA_X86_VARIANTS
#include <immintrin.h>
#endif

uint32_t gnrWeakLlrCnt = 0;

namespace {

constexpr int16_t kLlrMin = -32;
constexpr int16_t kLlrMax = 31;

// Constellation of one QAM order, per dimension (I and Q are demapped alike). Levels are odd
// multiples of the unit amplitude a; soft bit pair k of a symbol (bits 2k on I, 2k + 1 on Q) sums
// the Gaussian terms of numLv (bit 0) and denLv (bit 1), in the order listed, as signed level
// numbers. The assignments are those of nrModulate (TS 38.211 5.1.4 to 5.1.6).
struct QamDemap {
  int levelN;          // levels per dimension: +-1, +-3, ...
  int pairN;           // soft bits per dimension, Qm / 2
  double unit;         // a = 1 / sqrt(mean power of the odd-integer grid)
  float sigma;         // noise term of the exponent
  double scale;        // LLR scale before rounding
  int8_t numLv[4][8];  // bit-0 levels of each soft bit pair
  int8_t denLv[4][8];  // bit-1 levels
};

const QamDemap kQam16 = {
    2, 2, 1.0 / std::sqrt(10.0), 120.0f / 1024.0f, 4.0, {{1, 3}, {1, -1}}, {{-1, -3}, {3, -3}}};

const QamDemap kQam64 = {4,
                         3,
                         1.0 / std::sqrt(42.0),
                         100.0f / 1024.0f,
                         16.0,
                         {{1, 3, 5, 7}, {1, -1, 3, -3}, {3, -3, 5, -5}},
                         {{-1, -3, -5, -7}, {5, -5, 7, -7}, {1, -1, 7, -7}}};

// 256QAM: level spacing is half that of 64QAM, so the noise term is a quarter of it (rounded to
// 25/1024) and the scale is kept: a noise-free inner symbol still gives |LLR| of about 15.
// Bit 2 splits |level| 1..7 from 9..15, bit 4 {5, 7, 9, 11} from {1, 3, 13, 15}, bit 6
// {3, 5, 11, 13} from {1, 7, 9, 15}.
const QamDemap kQam256 = {8,
                          4,
                          1.0 / std::sqrt(170.0),
                          25.0f / 1024.0f,
                          16.0,
                          {{1, 3, 5, 7, 9, 11, 13, 15},
                           {1, -1, 3, -3, 5, -5, 7, -7},
                           {5, -5, 7, -7, 9, -9, 11, -11},
                           {3, -3, 5, -5, 11, -11, 13, -13}},
                          {{-1, -3, -5, -7, -9, -11, -13, -15},
                           {9, -9, 11, -11, 13, -13, 15, -15},
                           {1, -1, 3, -3, 13, -13, 15, -15},
                           {1, -1, 7, -7, 9, -9, 15, -15}}};

// Gaussian terms exp(-(u - c)^2 / sigma) of every level c = +-1, +-3, ... (index level + 15);
// the difference, square and division in single precision, the exponential in double. Each
// term is the same whichever soft bit uses it, so it is formed once per dimension.
struct LevelTerms {
  double g[31];
  double at(int level) const { return g[level + 15]; }
};

void levelTerms(const QamDemap& m, const float* level, float u, LevelTerms* t) {
  for (int j = 0; j < m.levelN; j++) {
    const int odd = 2 * j + 1;
    const float dp = u - level[j];
    const float dn = u + level[j];
    t->g[15 + odd] = std::exp(static_cast<double>(-(dp * dp) / m.sigma));
    t->g[15 - odd] = std::exp(static_cast<double>(-(dn * dn) / m.sigma));
  }
}

// One soft bit: double sums in table order, rounded to single precision, then
// trunc(scale * ln(num / den) + 0.5). Where a sum rounds to zero the logarithm is not finite: the
// bit is then as certain as the clip range allows, by the side that kept its weight, and 0 when
// neither did (a symbol far from every level).
int16_t softBit(const QamDemap& m, const LevelTerms& t, const int8_t* numLv, const int8_t* denLv) {
  double num = 0.0, den = 0.0;
  for (int j = 0; j < m.levelN; j++) num += t.at(numLv[j]);
  for (int j = 0; j < m.levelN; j++) den += t.at(denLv[j]);
  const float numF = static_cast<float>(num);
  const float denF = static_cast<float>(den);
  if (numF == 0.0f && denF == 0.0f) return 0;
  const float ratio = numF / denF;
  if (ratio == 0.0f) return kLlrMin;
  if (std::isinf(ratio)) return kLlrMax;
  return static_cast<int16_t>(std::trunc(m.scale * std::log(static_cast<double>(ratio)) + 0.5));
}

inline int16_t clipLlr(int16_t v) { return v < kLlrMin ? kLlrMin : (v > kLlrMax ? kLlrMax : v); }

// The soft bits of one dimension depend only on its 16-bit sample value, and equalised symbols
// cluster around the constellation levels: each order keeps the clipped soft bits of every value
// it has met, so the exponentials and logarithms run once per distinct value and process. Entry
// lane k (16 bits) holds soft bit 2k or 2k + 1 XOR kMetMark, which makes every lane of a value
// met nonzero (the soft bits lie in -32..31) and leaves 0 for a value not met yet; the mark is
// removed with one XOR of the whole entry. 16QAM has two lanes per entry, 64QAM three (the fourth
// holds the bare mark) and 256QAM four.
constexpr uint16_t kMetMark = 0x4000;
uint32_t qam16Memo[1 << 16];
uint64_t qam64Memo[1 << 16];
uint64_t qam256Memo[1 << 16];

// A value not met yet: its soft bits computed and kept. Out of line, so that the lookup of a
// value met before stays a load in the caller's loop.
template <typename Entry>
[[gnu::noinline]] Entry dimensionSoftNew(const QamDemap& m, const float* level, Entry& e,
                                         int16_t sample) {
  LevelTerms t;
  levelTerms(m, level, sample / 1024.0f, &t);
  Entry packed = 0;
  for (int k = 0; k < static_cast<int>(sizeof(Entry)) / 2; k++) {
    const int16_t v = k < m.pairN ? clipLlr(softBit(m, t, m.numLv[k], m.denLv[k])) : int16_t{0};
    packed |= static_cast<Entry>(static_cast<uint16_t>(v) ^ kMetMark) << (16 * k);
  }
  e = packed;
  return packed;
}

template <typename Entry>
[[gnu::always_inline]] inline Entry dimensionSoft(const QamDemap& m, const float* level,
                                                  Entry* memo, int16_t sample) {
  Entry& e = memo[static_cast<uint16_t>(sample)];
  return __builtin_expect(e != 0, 1) ? e : dimensionSoftNew(m, level, e, sample);
}

// Eight soft bits as one vector; the entries of I and Q as two 64-bit lanes.
typedef int16_t Soft8 __attribute__((vector_size(16)));
typedef uint64_t Entry2 __attribute__((vector_size(16)));

// Soft bits per symbol, I and Q alternating: lane k of the I entry then lane k of the Q entry
// (one word interleave), unmarked.
[[gnu::always_inline]] inline Soft8 symbolSoft(uint64_t px, uint64_t py) {
  const Entry2 ex = {px, 0}, ey = {py, 0};
  Soft8 wx, wy;
  std::memcpy(&wx, &ex, sizeof(wx));
  std::memcpy(&wy, &ey, sizeof(wy));
  const Soft8 mark = Soft8{} + static_cast<int16_t>(kMetMark);
  return __builtin_shufflevector(wx, wy, 0, 8, 1, 9, 2, 10, 3, 11) ^ mark;
}

// Symbols per block of the weak count: each 16-bit lane counts at most one soft bit per symbol.
constexpr int32_t kWeakBlock = 1 << 15;

// The soft bits of symbols from..to - 1 of a block of count symbols and their weak count:
// 16QAM (kQm 4) counts the symbols whose soft bit 3 has |value| <= 1, 64QAM (kQm 6) and 256QAM
// (kQm 8) the soft bits equal to 0 (a clipped soft bit is 0 exactly when its raw value is). The
// plain reference of every variant.
template <int kQm, typename Entry>
[[gnu::always_inline]] inline uint32_t demodRange(const QamDemap& m, Entry* memo,
                                                  const float* level, const int32_t* symbols,
                                                  int16_t* soft, int32_t from, int32_t to,
                                                  int32_t count) {
  // Lanes that count: soft bit 3 (16QAM) or every soft bit of the symbol. 64QAM: lanes 6 and 7
  // are the next symbol's first soft bits, written over by it (and not written at all for the
  // last symbol of the block); 16QAM stores four lanes.
  Soft8 counted = Soft8{} - 1;
  if (kQm == 4) counted = Soft8{0, 0, 0, -1, 0, 0, 0, 0};
  if (kQm == 6) counted = Soft8{-1, -1, -1, -1, -1, -1, 0, 0};
  uint32_t weak = 0;
  for (int32_t part = from; part < to; part += kWeakBlock) {
    const int32_t end = to - part < kWeakBlock ? to : part + kWeakBlock;
    Soft8 weakLanes = {};
    for (int32_t i = part; i < end; i++) {
      const uint64_t px = dimensionSoft(m, level, memo, nrCpxRe(symbols[i]));
      const uint64_t py = dimensionSoft(m, level, memo, nrCpxIm(symbols[i]));
      const Soft8 v = symbolSoft(px, py);
      int16_t* out = soft + static_cast<int64_t>(kQm) * i;
      if (kQm == 8 || (kQm == 6 && i + 1 < count))
        std::memcpy(out, &v, sizeof(v));
      else
        std::memcpy(out, &v, kQm * sizeof(int16_t));
      // A lane comparison gives -1 where true; |v| <= 1 is v + 1 in 0..2 unsigned.
      typedef uint16_t U8 __attribute__((vector_size(16)));
      const Soft8 isWeak = kQm == 4 ? Soft8(U8(v + 1) <= 2) : Soft8(v == 0);
      weakLanes -= isWeak & counted;
    }
    for (int k = 0; k < 8; k++) weak += static_cast<uint16_t>(weakLanes[k]);
  }
  return weak;
}

template <int kQm, typename Entry>
uint32_t demodPlain(const QamDemap& m, Entry* memo, const float* level, const int32_t* symbols,
                    int16_t* soft, int32_t count) {
  return demodRange<kQm>(m, memo, level, symbols, soft, 0, count, count);
}

#ifdef VELTRA_X86_VARIANTS
// Eight symbols at a time: the kept soft bits of each symbol's I and Q values loaded side by side
// (one 64-bit word per symbol for 16QAM, one 128-bit lane for 64QAM and 256QAM), one byte shuffle
// interleaving the I and Q soft bits of every symbol, 64QAM packed to six soft bits per symbol,
// the weak soft bits counted with one comparison per vector. Eight symbols with a value not met
// yet go through the plain steps, which compute and keep it.
template <int kQm, typename Entry>
VELTRA_TARGET_AVX512 uint32_t demodAvx512(const QamDemap& m, Entry* memo, const float* level,
                                          const int32_t* symbols, int16_t* soft, int32_t count) {
  uint32_t weak = 0;
  int32_t i = 0;
  for (; i + 8 <= count; i += 8) {
    int16_t* out = soft + static_cast<int64_t>(kQm) * i;
    if constexpr (kQm == 4) {
      // Each symbol's I and Q entries as one 64-bit word, symbols in order.
      uint64_t e[8];
      for (int k = 0; k < 8; k++)
        e[k] = memo[static_cast<uint16_t>(symbols[i + k])] |
               static_cast<uint64_t>(memo[static_cast<uint32_t>(symbols[i + k]) >> 16]) << 32;
      const __m512i ea = _mm512_loadu_si512(e);
      // A word of each half empty: a value not met yet.
      if (_mm512_testn_epi32_mask(ea, ea)) {
        weak += demodRange<kQm>(m, memo, level, symbols, soft, i, i + 8, count);
        continue;
      }
      alignas(64) static constexpr uint8_t kInter[64] = {
          0,  1,  4,  5,  2,  3,  6,  7,  8,  9,  12, 13, 10, 11, 14, 15, 0,  1,  4,  5, 2,  3,
          6,  7,  8,  9,  12, 13, 10, 11, 14, 15, 0,  1,  4,  5,  2,  3,  6,  7,  8,  9, 12, 13,
          10, 11, 14, 15, 0,  1,  4,  5,  2,  3,  6,  7,  8,  9,  12, 13, 10, 11, 14, 15};
      const __m512i a = _mm512_xor_si512(_mm512_shuffle_epi8(ea, _mm512_load_si512(kInter)),
                                         _mm512_set1_epi16(static_cast<int16_t>(kMetMark)));
      _mm512_storeu_si512(out, a);
      // Soft bit 3 of each symbol (every fourth word) with |value| <= 1.
      weak += static_cast<uint32_t>(__builtin_popcount(_mm512_mask_cmple_epu16_mask(
          0x88888888u, _mm512_add_epi16(a, _mm512_set1_epi16(1)), _mm512_set1_epi16(2))));
    } else {
      // The I and Q entries of each symbol side by side in one 128-bit lane, symbols in order.
      __m128i e[8];
      for (int k = 0; k < 8; k++)
        e[k] = _mm_insert_epi64(
            _mm_cvtsi64_si128(static_cast<int64_t>(memo[static_cast<uint16_t>(symbols[i + k])])),
            static_cast<int64_t>(memo[static_cast<uint32_t>(symbols[i + k]) >> 16]), 1);
      __m512i ea = _mm512_castsi128_si512(e[0]);
      ea = _mm512_inserti64x2(ea, e[1], 1);
      ea = _mm512_inserti64x2(ea, e[2], 2);
      ea = _mm512_inserti64x2(ea, e[3], 3);
      __m512i eb = _mm512_castsi128_si512(e[4]);
      eb = _mm512_inserti64x2(eb, e[5], 1);
      eb = _mm512_inserti64x2(eb, e[6], 2);
      eb = _mm512_inserti64x2(eb, e[7], 3);
      if (_mm512_testn_epi64_mask(ea, ea) | _mm512_testn_epi64_mask(eb, eb)) {
        weak += demodRange<kQm>(m, memo, level, symbols, soft, i, i + 8, count);
        continue;
      }
      alignas(64) static constexpr uint8_t kInter[64] = {
          0,  1,  8,  9,  2,  3,  10, 11, 4,  5,  12, 13, 6, 7, 14, 15, 0,  1,  8,  9, 2,  3,
          10, 11, 4,  5,  12, 13, 6,  7,  14, 15, 0,  1,  8, 9, 2,  3,  10, 11, 4,  5, 12, 13,
          6,  7,  14, 15, 0,  1,  8,  9,  2,  3,  10, 11, 4, 5, 12, 13, 6,  7,  14, 15};
      const __m512i inter = _mm512_load_si512(kInter);
      const __m512i mark = _mm512_set1_epi16(static_cast<int16_t>(kMetMark));
      const __m512i a = _mm512_xor_si512(_mm512_shuffle_epi8(ea, inter), mark);
      const __m512i b = _mm512_xor_si512(_mm512_shuffle_epi8(eb, inter), mark);
      const __m512i zero = _mm512_setzero_si512();
      if constexpr (kQm == 8) {
        _mm512_storeu_si512(out, a);
        _mm512_storeu_si512(out + 32, b);
        weak += static_cast<uint32_t>(__builtin_popcount(_mm512_cmpeq_epi16_mask(a, zero)) +
                                      __builtin_popcount(_mm512_cmpeq_epi16_mask(b, zero)));
      } else {
        // Six of each symbol's eight words: output word j is word 8 (j / 6) + j % 6 of a, b.
        alignas(64) static constexpr int16_t kPack[64] = {
            0,  1,  2,  3,  4,  5,  8,  9,  10, 11, 12, 13, 16, 17, 18, 19, 20, 21, 24, 25, 26, 27,
            28, 29, 32, 33, 34, 35, 36, 37, 40, 41, 42, 43, 44, 45, 48, 49, 50, 51, 52, 53, 56, 57,
            58, 59, 60, 61, 0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0,  0};
        const __m512i p0 = _mm512_permutex2var_epi16(a, _mm512_load_si512(kPack), b);
        const __m512i p1 = _mm512_permutex2var_epi16(a, _mm512_load_si512(kPack + 32), b);
        _mm512_storeu_si512(out, p0);
        _mm512_mask_storeu_epi16(out + 32, 0xFFFF, p1);
        weak += static_cast<uint32_t>(
            __builtin_popcount(_mm512_cmpeq_epi16_mask(p0, zero)) +
            __builtin_popcount(_mm512_mask_cmpeq_epi16_mask(0xFFFF, p1, zero)));
      }
    }
  }
  return weak + demodRange<kQm>(m, memo, level, symbols, soft, i, count, count);
}
#endif

template <typename Entry>
using DemodFn = uint32_t (*)(const QamDemap& m, Entry* memo, const float* level,
                             const int32_t* symbols, int16_t* soft, int32_t count);
#ifdef VELTRA_X86_VARIANTS
constexpr DemodFn<uint32_t> kDemod16Fns[kNrCpuLevels] = {demodPlain<4>, nullptr, demodAvx512<4>};
constexpr DemodFn<uint64_t> kDemod64Fns[kNrCpuLevels] = {demodPlain<6>, nullptr, demodAvx512<6>};
constexpr DemodFn<uint64_t> kDemod256Fns[kNrCpuLevels] = {demodPlain<8>, nullptr, demodAvx512<8>};
#else
constexpr DemodFn<uint32_t> kDemod16Fns[kNrCpuLevels] = {demodPlain<4>, nullptr, nullptr};
constexpr DemodFn<uint64_t> kDemod64Fns[kNrCpuLevels] = {demodPlain<6>, nullptr, nullptr};
constexpr DemodFn<uint64_t> kDemod256Fns[kNrCpuLevels] = {demodPlain<8>, nullptr, nullptr};
#endif

void unitLevels(const QamDemap& m, float* level) {
  const float a = static_cast<float>(m.unit);
  level[0] = a;
  for (int j = 1; j < m.levelN; j++) level[j] = static_cast<float>(2 * j + 1) * a;
}

void demodQpsk(const int32_t* symbols, int16_t* soft, int32_t count) {
  const float a = static_cast<float>(std::sqrt(2.0) / 2.0);
  const float sa = 16.0f * a;
  for (int32_t i = 0; i < count; i++) {
    const float x = nrCpxRe(symbols[i]) / 1024.0f;
    const float y = nrCpxIm(symbols[i]) / 1024.0f;
    soft[2 * i] = static_cast<int16_t>(sa * x);
    soft[2 * i + 1] = static_cast<int16_t>(sa * y);
    if (soft[2 * i + 1] == 0) gnrWeakLlrCnt++;
  }
}

}  // namespace

void nrDemodSoft(const int32_t* symbols, int16_t* soft, int32_t count, uint16_t Qm) {
  float level[8];
  switch (Qm) {
    case 2:
      demodQpsk(symbols, soft, count);
      break;
    case 4:
      // 16QAM adds its weak symbols to the count.
      unitLevels(kQam16, level);
      gnrWeakLlrCnt += nrCpuPick(kDemod16Fns)(kQam16, qam16Memo, level, symbols, soft, count);
      break;
    case 6:
      // 64QAM and 256QAM report the weak soft bits of this block alone.
      unitLevels(kQam64, level);
      gnrWeakLlrCnt = nrCpuPick(kDemod64Fns)(kQam64, qam64Memo, level, symbols, soft, count);
      break;
    case 8:
      unitLevels(kQam256, level);
      gnrWeakLlrCnt = nrCpuPick(kDemod256Fns)(kQam256, qam256Memo, level, symbols, soft, count);
      break;
    default:
      break;
  }
}
