#include "phy/coding/polar_decode.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <string>
#include <vector>

#include "phy/coding/polar_code.h"
#include "phy/coding/polar_encode.h"
#include "tests/test_util.h"

namespace {

std::vector<int32_t> randomBits(uint32_t n, uint32_t seed) {
  std::vector<int32_t> b(n);
  for (int32_t& v : b) {
    seed = seed * 1664525u + 1013904223u;
    v = (seed >> 26) & 1;
  }
  return b;
}

// Encodes c, recovers and decodes the hard bits on the code's own length and re-encodes the
// decisions: true when the decided u gives the same transmitted bits and carries c.
bool roundTrip(uint32_t K, uint32_t E, uint32_t nMax, uint32_t seed) {
  const auto c = randomBits(K, seed);
  std::vector<int16_t> e(E);
  if (!nrPolarEncode(c.data(), K, e.data(), E, nMax)) return false;
  const uint32_t N = nrPolarCodeLength(K, E, nMax);
  std::vector<uint8_t> hard(e.begin(), e.end());
  uint8_t decIn[kPolarNmaxLen];
  uint8_t u[kPolarNmaxLen];
  if (!nrPolarRateRecover(hard.data(), E, K, N, decIn)) return false;
  if (!nrPolarScDecode(u, decIn, kPolarErasureP, gnrPolarInfoInd, std::countr_zero(N)))
    return false;

  // Without the input interleaver (n_max 10) the information positions carry c in order.
  if (nMax != kPolarNmaxDci) {
    uint32_t k = 0;
    for (uint32_t i = 0; i < N; i++) {
      bool pc = false;
      for (int j = 0; j < gnrPolarPcN; j++) pc = pc || gnrPolarPcPos[j] == static_cast<int>(i);
      if (gnrPolarInfoInd[i] && !pc && u[i] != c[k++]) return false;
    }
  }
  // Re-encoding the decisions reproduces every transmitted bit, parity checks included.
  polar_detail::butterfly(u, N);
  int16_t J[kPolarNmaxLen];
  nrPolarSubblockPattern(N, J);
  const uint32_t first = E < N && nrPolarPunctured(K, E) ? N - E : 0;
  for (uint32_t m = 0; m < E; m++)
    if (u[J[(first + m) % N]] != e[m]) return false;
  return true;
}

}  // namespace

TEST(PolarDecode, DecodesEveryRateMatchingModeNoiseFree) {
  struct Case {
    uint32_t K, E, nMax;
  };
  // DCI sizes at every level, punctured lengths away from the PDCCH sizes (which a decoder that
  // took punctured bits for zeros gets wrong), shortening, and uplink codes with parity checks.
  const Case cases[] = {{64, 108, 9}, {59, 216, 9},  {63, 432, 9},  {64, 864, 9},  {124, 1728, 9},
                        {64, 150, 9}, {64, 300, 9},  {40, 100, 9},  {90, 200, 9},  {25, 108, 9},
                        {20, 60, 10}, {20, 300, 10}, {25, 100, 10}, {18, 400, 10}, {200, 400, 10}};
  for (const Case& k : cases)
    for (uint32_t seed = 1; seed <= 20; seed++)
      ASSERT_TRUE(roundTrip(k.K, k.E, k.nMax, seed)) << k.K << " " << k.E << " seed " << seed;
}

TEST(PolarDecode, RateRecoveryMarksPuncturedBitsErasedAndShortenedBitsZero) {
  uint8_t hard[864];
  for (int i = 0; i < 864; i++) hard[i] = static_cast<uint8_t>(i % 3 == 0);
  uint8_t decIn[kPolarNmaxLen];
  int16_t J[kPolarNmaxLen];

  // Puncturing, K = 64, E = 216, N = 256: the first 40 sub-block positions were never sent.
  std::memset(decIn, 9, sizeof(decIn));
  ASSERT_TRUE(nrPolarRateRecover(hard, 216, 64, 256, decIn));
  nrPolarSubblockPattern(256, J);
  for (int n = 0; n < 256; n++) EXPECT_EQ(decIn[J[n]], n < 40 ? kPolarErasure : hard[n - 40]) << n;
  for (int i = 256; i < kPolarNmaxLen; i++) ASSERT_EQ(decIn[i], 0) << i;

  // Shortening, K = 64, E = 108, N = 128: the last 20 are known zeros.
  ASSERT_TRUE(nrPolarRateRecover(hard, 108, 64, 128, decIn));
  nrPolarSubblockPattern(128, J);
  for (int n = 0; n < 128; n++) EXPECT_EQ(decIn[J[n]], n < 108 ? hard[n] : kPolarKnownZero) << n;

  // Repetition, E = 864, N = 512: the first 512 received bits.
  ASSERT_TRUE(nrPolarRateRecover(hard, 864, 64, 512, decIn));
  nrPolarSubblockPattern(512, J);
  for (int n = 0; n < 512; n++) EXPECT_EQ(decIn[J[n]], hard[n]) << n;

  const std::string err = captureDiag([&] {
    EXPECT_FALSE(nrPolarRateRecover(hard, 108, 109, 128, decIn));
    EXPECT_FALSE(nrPolarRateRecover(hard, 0, 0, 128, decIn));
    EXPECT_FALSE(nrPolarRateRecover(hard, 108, 64, 96, decIn));
  });
  EXPECT_NE(err.find("nrPolarRateRecover"), std::string::npos);
}

TEST(PolarDecode, ErasuresDecodeWhereKnownZerosWouldMislead) {
  // The same punctured code word twice: once recovered with its punctured positions erased,
  // once with them forced to zero; only the first decodes back to the transmitted bits.
  const uint32_t K = 64, E = 150, N = nrPolarCodeLength(K, E, 9);
  ASSERT_TRUE(nrPolarPunctured(K, E));
  int wrongWithZeros = 0;
  for (uint32_t seed = 1; seed <= 20; seed++) {
    EXPECT_TRUE(roundTrip(K, E, 9, seed)) << seed;
    const auto c = randomBits(K, seed);
    std::vector<int16_t> e(E);
    ASSERT_TRUE(nrPolarEncode(c.data(), K, e.data(), E, 9));
    std::vector<uint8_t> hard(e.begin(), e.end());
    uint8_t decIn[kPolarNmaxLen], uErased[kPolarNmaxLen], uZero[kPolarNmaxLen];
    ASSERT_TRUE(nrPolarRateRecover(hard.data(), E, K, N, decIn));
    ASSERT_TRUE(nrPolarScDecode(uErased, decIn, kPolarErasureP, gnrPolarInfoInd, 9));
    for (int i = 0; i < kPolarNmaxLen; i++)
      if (decIn[i] == kPolarErasure) decIn[i] = kPolarRx0;
    ASSERT_TRUE(nrPolarScDecode(uZero, decIn, kPolarErasureP, gnrPolarInfoInd, 9));
    wrongWithZeros += std::memcmp(uErased, uZero, N) != 0;
  }
  EXPECT_GT(wrongWithZeros, 5);
}

TEST(PolarDecode, RefusesLengthsBeyondTheDecoder) {
  uint8_t decIn[kPolarNmaxLen] = {}, u[kPolarNmaxLen];
  const std::string err = captureDiag([&] {
    EXPECT_FALSE(nrPolarScDecode(u, decIn, kPolarErasureP, gnrPolarInfoInd, 0));
    EXPECT_FALSE(nrPolarScDecode(u, decIn, kPolarErasureP, gnrPolarInfoInd, 11));
  });
  EXPECT_NE(err.find("nrPolarScDecode"), std::string::npos);
}
