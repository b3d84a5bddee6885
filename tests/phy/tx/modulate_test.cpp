#include "phy/tx/modulate.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "config/nr_config.h"
#include "phy/common/cpu_features.h"
#include "phy/common/sequence.h"
#include "tests/test_util.h"

namespace {

constexpr int32_t kUntouched = 0x5A5A5A5A;

// Bipolar values of the Qm-bit label `label`, bit 0 of the symbol first (TS 38.211 b(i)).
std::vector<int16_t> bipolar(uint32_t label, int Qm) {
  std::vector<int16_t> s(Qm);
  for (int b = 0; b < Qm; b++) s[b] = ((label >> b) & 1) ? -1 : 1;
  return s;
}

int32_t mapOne(uint32_t label, int Qm) {
  const std::vector<int16_t> s = bipolar(label, Qm);
  int32_t out = kUntouched;
  nrModulate(&out, s.data(), Qm, static_cast<uint16_t>(Qm));
  return out;
}

}  // namespace

TEST(Modulate, MapsTheExampleSymbolsOfEachOrder) {
  struct Case {
    uint16_t Qm;
    std::vector<int16_t> in;
    int re, im;
  };
  const Case cases[] = {
      {2, {1, -1}, 724, -724},
      {4, {-1, 1, 1, -1}, -324, 972},
      {6, {1, 1, 1, -1, -1, 1}, 158, 790},
      {8, {1, 1, 1, 1, 1, 1, 1, 1}, 5 * 79, 5 * 79},          // b = 0 lands on level 5
      {8, {-1, 1, -1, 1, -1, -1, -1, -1}, -15 * 79, 1 * 79},  // I outermost, Q innermost
  };
  for (const Case& c : cases) {
    int32_t out = kUntouched;
    nrModulate(&out, c.in.data(), static_cast<int32_t>(c.in.size()), c.Qm);
    EXPECT_EQ(nrCpxRe(out), c.re) << "Qm " << c.Qm;
    EXPECT_EQ(nrCpxIm(out), c.im) << "Qm " << c.Qm;
  }
}

TEST(Modulate, IgnoresValuesBeyondTheLastWholeSymbol) {
  const int16_t in[5] = {1, 1, -1, -1, -1};
  int32_t out[3] = {kUntouched, kUntouched, kUntouched};
  nrModulate(out, in, 5, 2);
  EXPECT_EQ(out[0], nrCpxPack(724, 724));
  EXPECT_EQ(out[1], nrCpxPack(-724, -724));
  EXPECT_EQ(out[2], kUntouched);
}

TEST(Modulate, UnsupportedOrdersPrintTheirNumberAndWriteNothing) {
  const int16_t in[16] = {1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1, 1, -1};
  for (uint16_t Qm : {0, 3, 5, 7, 9, 10}) {
    int32_t out[16];
    for (int32_t& v : out) v = kUntouched;
    const std::string text = captureStdout([&] { nrModulate(out, in, 16, Qm); });
    EXPECT_EQ(text, std::to_string(Qm) + ", modulation not supported!\n");
    for (int32_t v : out) EXPECT_EQ(v, kUntouched);
  }
  // pi/2-BPSK is accepted silently and not mapped.
  int32_t out[16];
  for (int32_t& v : out) v = kUntouched;
  EXPECT_EQ(captureStdout([&] { nrModulate(out, in, 16, 1); }), "");
  for (int32_t v : out) EXPECT_EQ(v, kUntouched);
}

// Over every label of every order: the points are distinct, lie on the odd-multiple grid of the
// order's scale, have unit average power up to the rounding of the scale, and are Gray labelled
// (points one grid step apart differ in exactly one bit).
TEST(Modulate, EveryOrderIsAGrayLabelledUnitPowerSquareQam) {
  struct Order {
    int Qm;
    int32_t scale;
    double sideLevels;  // levels per dimension
  };
  const Order orders[] = {{2, 724, 2}, {4, 324, 4}, {6, 158, 8}, {8, 79, 16}};
  for (const Order& o : orders) {
    const uint32_t pointN = 1u << o.Qm;
    std::vector<int32_t> pts(pointN);
    std::set<int32_t> distinct;
    double power = 0;
    for (uint32_t label = 0; label < pointN; label++) {
      pts[label] = mapOne(label, o.Qm);
      distinct.insert(pts[label]);
      const int re = nrCpxRe(pts[label]), im = nrCpxIm(pts[label]);
      EXPECT_EQ(re % o.scale, 0);
      EXPECT_NE((re / o.scale) % 2, 0) << "Qm " << o.Qm;
      EXPECT_NE((im / o.scale) % 2, 0) << "Qm " << o.Qm;
      EXPECT_LE(std::abs(re / o.scale), o.sideLevels - 1);
      power += double(re) * re + double(im) * im;
    }
    EXPECT_EQ(distinct.size(), pointN) << "Qm " << o.Qm;
    // Mean power of the odd-integer grid is 2 (M - 1) / 3 per symbol, M levels squared.
    const double exact = 1024.0 / std::sqrt(2.0 * (o.sideLevels * o.sideLevels - 1) / 3.0);
    const double ideal = double(o.scale) * o.scale / (exact * exact);
    EXPECT_NEAR(power / pointN / (1024.0 * 1024.0), ideal, 1e-9) << "Qm " << o.Qm;
    EXPECT_NEAR(ideal, 1.0, 0.02) << "Qm " << o.Qm;

    int neighbourPairs = 0;
    for (uint32_t p = 0; p < pointN; p++) {
      for (uint32_t q = p + 1; q < pointN; q++) {
        const int dRe = std::abs(nrCpxRe(pts[p]) - nrCpxRe(pts[q]));
        const int dIm = std::abs(nrCpxIm(pts[p]) - nrCpxIm(pts[q]));
        if (dRe + dIm != 2 * o.scale) continue;
        neighbourPairs++;
        EXPECT_EQ(__builtin_popcount(p ^ q), 1) << "Qm " << o.Qm << " labels " << p << ", " << q;
      }
    }
    // A side of M levels has M - 1 adjacent pairs per row, M rows, in two directions.
    EXPECT_EQ(neighbourPairs, int(2 * o.sideLevels * (o.sideLevels - 1))) << "Qm " << o.Qm;
  }
}

// Every instruction-set level maps like the plain loops, for bipolar values and for small integers
// up to 15 in magnitude (products that wrap in 16 bits, never in the 32 bits they are formed in),
// at lengths around the vector widths.
TEST(Modulate, EveryInstructionSetLevelMapsLikeThePlainLoops) {
  std::mt19937 rng(3);
  for (int qm : {2, 4, 6, 8}) {
    for (int32_t symbols : {1, 7, 16, 33, 1000}) {
      for (bool bipolarOnly : {true, false}) {
        std::vector<int16_t> in(static_cast<size_t>(symbols) * qm + qm - 1);
        for (int16_t& v : in)
          v = bipolarOnly ? static_cast<int16_t>(rng() & 1 ? -1 : 1)
                          : static_cast<int16_t>(static_cast<int>(rng() % 31) - 15);
        std::vector<int32_t> want(symbols + 1, kUntouched);
        nrCpuSetLevelCap(kNrCpuBaseline);
        ASSERT_TRUE(nrModulate(want.data(), in.data(), static_cast<int32_t>(in.size()),
                               static_cast<uint16_t>(qm)));
        EXPECT_EQ(want[symbols], kUntouched);
        for (uint8_t cap : {kNrCpuAvx2, kNrCpuAvx512}) {
          if (nrCpuSetLevelCap(cap) != cap) continue;  // this CPU lacks the level
          std::vector<int32_t> got(symbols + 1, kUntouched);
          nrModulate(got.data(), in.data(), static_cast<int32_t>(in.size()),
                     static_cast<uint16_t>(qm));
          EXPECT_EQ(got, want) << "Qm " << qm << ", " << symbols << " symbols, level " << int{cap};
        }
        nrCpuSetLevelCap(0xFF);
      }
    }
  }
}

// Scrambling and mapping in one pass give the symbols of the bipolar values, the scrambler and
// the mapper, for every order, partial symbols and groups included, at every instruction-set
// level; other orders are left to nrModulate.
TEST(Modulate, ScrambledBitsMapToTheSymbolsOfScramblerThenMapper) {
  std::mt19937 rng(38);
  for (uint8_t cap = kNrCpuBaseline; cap < kNrCpuLevels; cap++) {
    if (nrCpuSetLevelCap(cap) != cap) continue;  // this CPU lacks the level
    for (uint16_t qm : {2, 4, 6, 8}) {
      for (int32_t count : {0, 1, 2, 7, 64, 383, 384, 385, 1000, 4097, 30001}) {
        for (int32_t cInit : {0, 942155, 0x7FFFFFFF}) {
          std::vector<int8_t> bits(count);
          for (auto& b : bits) b = static_cast<int8_t>(rng() & 1);
          std::vector<int16_t> soft(count);
          for (int32_t i = 0; i < count; i++) soft[i] = static_cast<int16_t>(1 - 2 * bits[i]);
          nrScrambleShort(soft.data(), soft.data(), count, cInit);
          std::vector<int32_t> want(count / qm + 1, 55), got(count / qm + 1, 55);
          if (count >= qm) nrModulate(want.data(), soft.data(), count, qm);
          ASSERT_TRUE(nrModulateScrambled(got.data(), bits.data(), count, qm, cInit));
          EXPECT_EQ(got, want) << "Qm " << qm << ", " << count << " bits, cInit " << cInit
                               << ", level " << +cap;
        }
      }
    }
  }
  nrCpuSetLevelCap(0xFF);
  int32_t untouched = 55;
  const int8_t bits[8] = {};
  for (uint16_t qm : {0, 1, 3, 10}) {
    EXPECT_FALSE(nrModulateScrambled(&untouched, bits, 8, qm, 1)) << qm;
    EXPECT_EQ(untouched, 55);
  }
}
