#include "phy/rx/demod_soft.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "config/nr_config.h"
#include "phy/common/cpu_features.h"
#include "phy/tx/modulate.h"

namespace {

constexpr int16_t kUntouched = 0x5A5A;

std::vector<int16_t> demod(const std::vector<int32_t>& symbols, uint16_t Qm) {
  std::vector<int16_t> soft(symbols.size() * (Qm ? Qm : 1) + 4, kUntouched);
  nrDemodSoft(symbols.data(), soft.data(), static_cast<int32_t>(symbols.size()), Qm);
  soft.resize(symbols.size() * Qm);
  return soft;
}

}  // namespace

TEST(DemodSoft, GivesTheExampleSoftBitsAndWeakCounts) {
  struct Case {
    uint16_t Qm;
    int re, im;
    std::vector<int16_t> soft;
    uint32_t weak;  // count after the call, starting from 0
  };
  const Case cases[] = {
      {2, 724, -724, {7, -7}, 0},
      {2, 724, 0, {7, 0}, 1},  // a zero Q soft bit is weak
      {2, 0, 724, {0, 7}, 0},  // a zero I soft bit is not looked at
      {4, 324, -972, {14, -32, 14, -13}, 0},
      {4, 0, 0, {0, 0, 27, 27}, 0},
      {4, 324, 0, {14, 0, 14, 27}, 0},
      {6, 158, -1106, {20, -32, 31, -32, -18, -14}, 0},
      {6, 790, 474, {31, 31, -19, 20, 20, 19}, 0},
      {6, 0, 0, {0, 0, 31, 31, -30, -30}, 2},  // raw 0 on both sign bits
  };
  for (const Case& c : cases) {
    gnrWeakLlrCnt = 0;
    EXPECT_EQ(demod({nrCpxPack(c.re, c.im)}, c.Qm), c.soft) << "Qm " << c.Qm << " " << c.re;
    EXPECT_EQ(gnrWeakLlrCnt, c.weak) << "Qm " << c.Qm << " " << c.re;
  }
}

TEST(DemodSoft, SixteenQamCountsSymbolsWithANearZeroLastSoftBit) {
  // Q halfway between levels 1 and 3 (|soft bit 3| <= 1) is weak; the I value does not matter.
  gnrWeakLlrCnt = 0;
  const std::vector<int16_t> soft = demod({nrCpxPack(972, 648), nrCpxPack(-324, 324)}, 4);
  EXPECT_LE(std::abs(soft[3]), 1);
  EXPECT_GT(std::abs(soft[7]), 1);
  EXPECT_EQ(gnrWeakLlrCnt, 1u);
}

TEST(DemodSoft, QpskAndSixteenQamAddToTheCountWhileSixtyFourQamReplacesIt) {
  gnrWeakLlrCnt = 0;
  demod({nrCpxPack(724, 0), nrCpxPack(-724, 0)}, 2);
  EXPECT_EQ(gnrWeakLlrCnt, 2u);
  demod({nrCpxPack(324, 648)}, 4);
  EXPECT_EQ(gnrWeakLlrCnt, 3u);
  demod({nrCpxPack(324, 648)}, 4);
  EXPECT_EQ(gnrWeakLlrCnt, 4u);
  demod({nrCpxPack(158, 158)}, 6);  // no raw zero in this block
  EXPECT_EQ(gnrWeakLlrCnt, 0u);
  demod({nrCpxPack(0, 0), nrCpxPack(0, 158)}, 6);
  EXPECT_EQ(gnrWeakLlrCnt, 3u);
  demod({nrCpxPack(0, 0)}, 8);  // 256QAM counts like 64QAM
  EXPECT_EQ(gnrWeakLlrCnt, 2u);
}

TEST(DemodSoft, UnsupportedOrdersWriteNothingAndKeepTheCount) {
  for (uint16_t Qm : {0, 1, 3, 5, 7, 9}) {
    gnrWeakLlrCnt = 17;
    std::vector<int16_t> soft(32, kUntouched);
    const int32_t sym[2] = {nrCpxPack(724, 0), nrCpxPack(0, 0)};
    nrDemodSoft(sym, soft.data(), 2, Qm);
    for (int16_t v : soft) EXPECT_EQ(v, kUntouched) << "Qm " << Qm;
    EXPECT_EQ(gnrWeakLlrCnt, 17u);
  }
}

// demap(map(b)) has the sign of every bit for every label of every order, with no weak soft bit,
// and the QAM soft bits of a noise-free symbol are confident enough to decode.
TEST(DemodSoft, RecoversTheSignOfEveryMappedBit) {
  for (uint16_t Qm : {2, 4, 6, 8}) {
    const uint32_t pointN = 1u << Qm;
    std::vector<int16_t> bits;
    for (uint32_t label = 0; label < pointN; label++)
      for (int b = 0; b < Qm; b++) bits.push_back(((label >> b) & 1) ? -1 : 1);
    std::vector<int32_t> symbols(pointN);
    nrModulate(symbols.data(), bits.data(), static_cast<int32_t>(bits.size()), Qm);
    gnrWeakLlrCnt = 0;
    const std::vector<int16_t> soft = demod(symbols, Qm);
    for (size_t i = 0; i < bits.size(); i++) {
      EXPECT_EQ(soft[i] > 0, bits[i] > 0) << "Qm " << Qm << " bit " << i << " " << soft[i];
      if (Qm > 2) {
        EXPECT_GE(std::abs(soft[i]), 8) << "Qm " << Qm << " bit " << i;
      }
      EXPECT_GE(soft[i], -32);
      EXPECT_LE(soft[i], Qm > 2 ? 31 : 7);
    }
    EXPECT_EQ(gnrWeakLlrCnt, 0u) << "Qm " << Qm;
  }
}

// Far outside the constellation one or both Gaussian sums vanish in single precision: the soft
// bit then clips by the side that kept its weight, and is 0 when neither did.
TEST(DemodSoft, SymbolsFarOutsideTheConstellationClipOrGiveZero) {
  gnrWeakLlrCnt = 0;
  const std::vector<int16_t> s64 = demod({nrCpxPack(4096, -4096)}, 6);
  EXPECT_EQ(s64[0], 31);
  EXPECT_EQ(s64[1], -32);
  const std::vector<int16_t> s256 = demod({nrCpxPack(2048, -2048)}, 8);
  EXPECT_EQ(s256[0], 31);
  EXPECT_EQ(s256[1], -32);
  for (uint16_t Qm : {4, 6, 8}) {
    gnrWeakLlrCnt = 0;
    const std::vector<int16_t> soft = demod({nrCpxPack(32767, -32768)}, Qm);
    for (int16_t v : soft) EXPECT_EQ(v, 0) << "Qm " << Qm;
    if (Qm != 4) {
      EXPECT_EQ(gnrWeakLlrCnt, static_cast<uint32_t>(Qm));
    }
  }
}

namespace {

// The 16QAM / 64QAM / 256QAM soft bit of one dimension value, step by step as TS 38.211 5.1.4 to
// 5.1.6 and the fixed-noise Gaussian LLR define it: every term recomputed for every soft bit,
// terms summed in double in level order, sums rounded to float, ln of the float quotient in
// double.
int16_t referenceSoftBit(int Qm, float u, int bit) {
  static const int kNum16[2][8] = {{1, 3}, {1, -1}};
  static const int kDen16[2][8] = {{-1, -3}, {3, -3}};
  static const int kNum64[3][8] = {{1, 3, 5, 7}, {1, -1, 3, -3}, {3, -3, 5, -5}};
  static const int kDen64[3][8] = {{-1, -3, -5, -7}, {5, -5, 7, -7}, {1, -1, 7, -7}};
  // 256QAM: bit 0 the sign, bit 2 |level| 1..7 against 9..15, bit 4 {5, 7, 9, 11} against
  // {1, 3, 13, 15}, bit 6 {3, 5, 11, 13} against {1, 7, 9, 15}.
  static const int kNum256[4][8] = {{1, 3, 5, 7, 9, 11, 13, 15},
                                    {1, -1, 3, -3, 5, -5, 7, -7},
                                    {5, -5, 7, -7, 9, -9, 11, -11},
                                    {3, -3, 5, -5, 11, -11, 13, -13}};
  static const int kDen256[4][8] = {{-1, -3, -5, -7, -9, -11, -13, -15},
                                    {9, -9, 11, -11, 13, -13, 15, -15},
                                    {1, -1, 3, -3, 13, -13, 15, -15},
                                    {1, -1, 7, -7, 9, -9, 15, -15}};
  const int(*num)[8] = Qm == 4 ? kNum16 : (Qm == 6 ? kNum64 : kNum256);
  const int(*den)[8] = Qm == 4 ? kDen16 : (Qm == 6 ? kDen64 : kDen256);
  const double power = Qm == 4 ? 10.0 : (Qm == 6 ? 42.0 : 170.0);
  const float a = static_cast<float>(1.0 / std::sqrt(power));
  const float sigma = Qm == 4 ? 120.0f / 1024.0f : (Qm == 6 ? 100.0f / 1024.0f : 25.0f / 1024.0f);
  const double s = Qm == 4 ? 4.0 : 16.0;
  const int n = 1 << (Qm / 2 - 1);
  auto term = [&](int level) {
    const float c = level < 0 ? -(static_cast<float>(-level) * a) : static_cast<float>(level) * a;
    const float d = u - c;
    const float e = -(d * d) / sigma;
    return std::exp(static_cast<double>(e));
  };
  double sumNum = 0, sumDen = 0;
  for (int j = 0; j < n; j++) sumNum += term(num[bit][j]);
  for (int j = 0; j < n; j++) sumDen += term(den[bit][j]);
  const float numF = static_cast<float>(sumNum), denF = static_cast<float>(sumDen);
  if (numF == 0.0f && denF == 0.0f) return 0;
  if (denF == 0.0f) return 31;
  const float ratio = numF / denF;
  if (ratio == 0.0f) return -32;
  if (std::isinf(ratio)) return 31;
  return static_cast<int16_t>(std::trunc(s * std::log(static_cast<double>(ratio)) + 0.5));
}

}  // namespace

// Every 16-bit sample value on I and, mirrored, on Q, demapped in one block and again in a second
// block in another order, at every instruction-set level (the widest first, while the kept soft
// bits are still being filled): each soft bit equals the step-by-step reference, whatever was
// demapped before, and the weak count is that of the reference (16QAM: symbols with
// |soft bit 3| <= 1; 64QAM and 256QAM: raw zeros of the block), over a block longer than 2^15
// symbols.
TEST(DemodSoft, EverySampleValueGivesTheExactGaussianLlr) {
  std::vector<int32_t> symbols;
  for (int v = -32768; v <= 32767; v++) symbols.push_back(nrCpxPack(v, -1 - v));
  const std::vector<int32_t> reversed(symbols.rbegin(), symbols.rend());
  for (uint16_t Qm : {4, 6, 8}) {
    const int pairN = Qm / 2;
    std::vector<int16_t> want(symbols.size() * Qm);
    uint32_t zeros = 0;
    for (size_t i = 0; i < symbols.size(); i++)
      for (int k = 0; k < pairN; k++) {
        const int16_t re = nrCpxRe(symbols[i]), im = nrCpxIm(symbols[i]);
        const int16_t rawI = referenceSoftBit(Qm, re / 1024.0f, k);
        const int16_t rawQ = referenceSoftBit(Qm, im / 1024.0f, k);
        zeros += (rawI == 0) + (rawQ == 0);
        want[Qm * i + 2 * k] = std::min<int16_t>(31, std::max<int16_t>(-32, rawI));
        want[Qm * i + 2 * k + 1] = std::min<int16_t>(31, std::max<int16_t>(-32, rawQ));
      }
    uint32_t weak = zeros;
    if (Qm == 4) {
      weak = 0;
      for (size_t i = 0; i < symbols.size(); i++) weak += std::abs(want[4 * i + 3]) <= 1;
    }
    for (int level = nrCpuLevelDetected(); level >= kNrCpuBaseline; level--) {
      SCOPED_TRACE("Qm " + std::to_string(Qm) + ", level " + std::to_string(level));
      nrCpuSetLevelCap(static_cast<uint8_t>(level));
      // First a few scattered values, so that the full block meets some of them a second time.
      std::vector<int32_t> few = {symbols[100], symbols[40000], symbols[32768 + 158]};
      demod(few, Qm);
      gnrWeakLlrCnt = 0;
      const std::vector<int16_t> got = demod(symbols, Qm);
      int bad = 0;
      for (size_t i = 0; i < got.size(); i++) bad += got[i] != want[i];
      EXPECT_EQ(bad, 0);
      EXPECT_EQ(gnrWeakLlrCnt, weak);
      // Reversed order: each symbol still gives its own soft bits.
      const std::vector<int16_t> back = demod(reversed, Qm);
      bad = 0;
      for (size_t i = 0; i < symbols.size(); i++)
        for (int b = 0; b < Qm; b++)
          bad += back[Qm * (symbols.size() - 1 - i) + b] != want[Qm * i + b];
      EXPECT_EQ(bad, 0);
    }
    nrCpuSetLevelCap(0xFF);
  }
}

// Each order writes exactly Qm soft bits per symbol at every instruction-set level, whatever the
// block length (below, at and beyond whole groups of eight symbols), and nothing beyond the last
// symbol's.
TEST(DemodSoft, WritesExactlyQmSoftBitsPerSymbol) {
  for (int level = kNrCpuBaseline; level <= nrCpuLevelDetected(); level++) {
    nrCpuSetLevelCap(static_cast<uint8_t>(level));
    for (uint16_t Qm : {2, 4, 6, 8})
      for (int32_t count : {1, 2, 3, 7, 8, 9, 16, 17, 31}) {
        std::vector<int32_t> symbols;
        for (int32_t i = 0; i < count; i++)
          symbols.push_back(nrCpxPack(100 * i - 300, 200 - 90 * i));
        std::vector<int16_t> soft(static_cast<size_t>(count) * Qm + 40, kUntouched);
        nrDemodSoft(symbols.data(), soft.data(), count, Qm);
        for (size_t i = 0; i < soft.size(); i++)
          EXPECT_EQ(soft[i] == kUntouched, i >= static_cast<size_t>(count) * Qm)
              << "level " << level << " Qm " << Qm << " count " << count << " entry " << i;
      }
  }
  nrCpuSetLevelCap(0xFF);
}
