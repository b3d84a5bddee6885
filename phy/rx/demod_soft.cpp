#include "phy/rx/demod_soft.h"

#include <cmath>

#include "config/nr_config.h"

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
// it has met (per byte k, soft bit 2k or 2k + 1 plus kPackBias; 0 marks a value not met yet), so
// the exponentials and logarithms run once per distinct value and process.
constexpr int kPackBias = 64;
uint32_t qam16Memo[1 << 16];
uint32_t qam64Memo[1 << 16];
uint32_t qam256Memo[1 << 16];

// A value not met yet: its soft bits computed and kept. Out of line, so that the lookup of a
// value met before stays a load in the caller's loop.
[[gnu::noinline]] uint32_t dimensionSoftNew(const QamDemap& m, const float* level, uint32_t& e,
                                            int16_t sample) {
  LevelTerms t;
  levelTerms(m, level, sample / 1024.0f, &t);
  uint32_t packed = 0;
  for (int k = 0; k < m.pairN; k++) {
    const int16_t v = clipLlr(softBit(m, t, m.numLv[k], m.denLv[k]));
    packed |= static_cast<uint32_t>(v + kPackBias) << (8 * k);
  }
  e = packed;
  return packed;
}

inline uint32_t dimensionSoft(const QamDemap& m, const float* level, uint32_t* memo,
                              int16_t sample) {
  uint32_t& e = memo[static_cast<uint16_t>(sample)];
  return e != 0 ? e : dimensionSoftNew(m, level, e, sample);
}

inline int16_t unpackSoft(uint32_t packed, int k) {
  return static_cast<int16_t>(static_cast<int>((packed >> (8 * k)) & 0xFF) - kPackBias);
}

// kPairN is m.pairN, fixed per order so that the unpacking of each symbol is unrolled.
template <int kPairN>
void demodQam(const QamDemap& m, uint32_t* memo, const int32_t* symbols, int16_t* soft,
              int32_t count, uint16_t Qm) {
  float level[8];
  const float a = static_cast<float>(m.unit);
  level[0] = a;
  for (int j = 1; j < m.levelN; j++) level[j] = static_cast<float>(2 * j + 1) * a;

  // A clipped soft bit is 0 exactly when its raw value is.
  uint32_t zeroRaw = 0;
  for (int32_t i = 0; i < count; i++) {
    const uint32_t px = dimensionSoft(m, level, memo, nrCpxRe(symbols[i]));
    const uint32_t py = dimensionSoft(m, level, memo, nrCpxIm(symbols[i]));
    int16_t* out = soft + static_cast<int64_t>(Qm) * i;
    for (int k = 0; k < kPairN; k++) {
      out[2 * k] = unpackSoft(px, k);
      out[2 * k + 1] = unpackSoft(py, k);
      zeroRaw += (out[2 * k] == 0) + (out[2 * k + 1] == 0);
    }
    if (Qm == 4 && std::abs(out[3]) <= 1) gnrWeakLlrCnt++;
  }
  // 64QAM and 256QAM report the weak soft bits of this block alone.
  if (Qm != 4) gnrWeakLlrCnt = zeroRaw;
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
  switch (Qm) {
    case 2:
      demodQpsk(symbols, soft, count);
      break;
    case 4:
      demodQam<2>(kQam16, qam16Memo, symbols, soft, count, Qm);
      break;
    case 6:
      demodQam<3>(kQam64, qam64Memo, symbols, soft, count, Qm);
      break;
    case 8:
      demodQam<4>(kQam256, qam256Memo, symbols, soft, count, Qm);
      break;
    default:
      break;
  }
}
