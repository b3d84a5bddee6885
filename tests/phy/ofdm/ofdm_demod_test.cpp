#include "phy/ofdm/ofdm_demod.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "config/nr_config.h"
#include "phy/common/cpu_features.h"

namespace {

int16_t samples[2][2][kSlotSampleCap];
int32_t gridPlain[kSymbolsPerSlot][2][kMaxFftSize];
int32_t gridWide[kSymbolsPerSlot][2][kMaxFftSize];

}  // namespace

// Every instruction-set variant of the demodulator's scaling and truncation gives the plain
// loop's grid bit for bit: FFT sizes below, at and above one vector, random full-scale samples
// (outputs beyond the int16 range saturate), and constant slots of either sign (one bin far
// beyond the range, the rest exactly zero).
TEST(OfdmDemod, EveryInstructionSetVariantMatchesThePlainLoop) {
  const uint8_t detected = nrCpuLevelDetected();
  uint32_t seed = 99;
  const auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return static_cast<int16_t>(seed >> 16);
  };
  int runs = 0;
  for (const uint16_t n : {1, 2, 4, 8, 64, 2048})
    for (const int fill : {0, 1, 2}) {
      NrCellCfg cell{};
      cell.fftSize = n;
      for (int l = 0; l < kSymbolsPerSlot; l++) cell.cpLen[l] = static_cast<uint16_t>(n / 16 + 1);
      for (int a = 0; a < 2; a++)
        for (int c = 0; c < 2; c++)
          for (int i = 0; i < kSlotSampleCap; i++)
            samples[a][c][i] = fill == 0 ? next() : (fill == 1 ? 32767 : -32768);
      for (int a = 0; a < 2; a++) {
        nrCpuSetLevelCap(kNrCpuBaseline);
        std::memset(gridPlain, 0, sizeof(gridPlain));
        ASSERT_TRUE(nrOfdmDemod(samples, &cell, 0, kSymbolsPerSlot - 1, a, gridPlain));
        for (uint8_t cap = kNrCpuBaseline + 1; cap <= detected; cap++) {
          nrCpuSetLevelCap(cap);
          std::memset(gridWide, 0, sizeof(gridWide));
          ASSERT_TRUE(nrOfdmDemod(samples, &cell, 0, kSymbolsPerSlot - 1, a, gridWide));
          for (int l = 0; l < kSymbolsPerSlot; l++)
            for (int k = 0; k < n; k++)
              ASSERT_EQ(gridWide[l][a][k], gridPlain[l][a][k])
                  << "level " << int(cap) << ", N " << n << ", fill " << fill << ", antenna " << a
                  << ", symbol " << l << ", bin " << k;
          runs++;
        }
        nrCpuSetLevelCap(0xFF);
      }
    }
  if (detected == kNrCpuBaseline) GTEST_SKIP() << "no wider instruction set on this CPU";
  EXPECT_GT(runs, 0);
}

// The scaling and truncation of every variant against the plain quotient, where they could part:
// FFT outputs within a few units in the last place of m sqrt(N) for every m whose quotient lies
// in or next to the int16 range (the quotient lands on, just below or just above an integer),
// halfway values, signed zeros, values far beyond the range, infinities and NaN.
TEST(OfdmDemod, ScalingVariantsTruncateLikeTheQuotientNextToEveryInteger) {
  const uint8_t detected = nrCpuLevelDetected();
  const double inf = std::numeric_limits<double>::infinity();
  for (const uint32_t n : {64u, 1024u, 2048u}) {
    const double sqrtN = std::sqrt(static_cast<double>(n));
    std::vector<double> parts = {1e300, -1e300, 0.0,
                                 -0.0,  0x1p40, -0x1p40,
                                 inf,   -inf,   std::numeric_limits<double>::quiet_NaN()};
    for (int m = -32771; m <= 32771; m++) {
      const double x = m * sqrtN;
      double up = x, down = x;
      parts.push_back(x);
      for (int u = 0; u < 3; u++) {
        up = std::nextafter(up, inf);
        down = std::nextafter(down, -inf);
        parts.push_back(up);
        parts.push_back(down);
      }
      parts.push_back((m + 0.5) * sqrtN);
    }
    if (parts.size() % 2) parts.push_back(1.0);
    const uint32_t count = static_cast<uint32_t>(parts.size() / 2);
    const auto* in = reinterpret_cast<const double(*)[2]>(parts.data());
    std::vector<int32_t> plain(count), wide(count);
    nrCpuSetLevelCap(kNrCpuBaseline);
    detail::ofdmToIq(in, plain.data(), count, sqrtN);
    // The plain loop itself: saturation and NaN.
    EXPECT_EQ(plain[0], nrCpxPack(32767, -32768));
    EXPECT_EQ(nrCpxRe(plain[4]), 0);
    for (uint8_t cap = kNrCpuBaseline + 1; cap <= detected; cap++) {
      nrCpuSetLevelCap(cap);
      detail::ofdmToIq(in, wide.data(), count, sqrtN);
      int bad = 0;
      for (uint32_t i = 0; i < count; i++) bad += wide[i] != plain[i];
      EXPECT_EQ(bad, 0) << "level " << int(cap) << ", N " << n;
    }
    nrCpuSetLevelCap(0xFF);
  }
  if (detected == kNrCpuBaseline) GTEST_SKIP() << "no wider instruction set on this CPU";
}
