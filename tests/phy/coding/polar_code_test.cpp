#include "phy/coding/polar_code.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "tests/test_util.h"

namespace {

// A table as the generator read it: one value per line after '#' header lines.
std::vector<int> table3gpp(const char* name) {
  std::ifstream in(std::string(VELTRA_SOURCE_DIR) + "/tools/3gpp/" + name);
  std::vector<int> v;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') v.push_back(std::stoi(line));
  return v;
}

std::set<int> infoPositions(uint32_t N) {
  std::set<int> s;
  for (uint32_t i = 0; i < N; i++)
    if (gnrPolarInfoInd[i]) s.insert(static_cast<int>(i));
  return s;
}

// The k most reliable positions below N outside `frozen`.
std::set<int> mostReliable(const std::vector<int>& seq, uint32_t N, uint32_t k,
                           const std::set<int>& frozen) {
  std::set<int> s;
  for (int q = 1023; q >= 0 && s.size() < k; q--)
    if (seq[q] < static_cast<int>(N) && !frozen.count(seq[q])) s.insert(seq[q]);
  return s;
}

}  // namespace

TEST(PolarTables, InterleaversAndSequenceAreTheTablesOf38212) {
  const std::vector<int> il = table3gpp("polar_interleaver.txt");
  const std::vector<int> sb = table3gpp("polar_subblock_interleaver.txt");
  const std::vector<int> seq = table3gpp("polar_sequence.txt");
  ASSERT_EQ(il.size(), 164u);
  ASSERT_EQ(sb.size(), 32u);
  ASSERT_EQ(seq.size(), 1024u);

  // K = 164 keeps the whole interleaving pattern; N = 32 makes J the sub-block pattern itself.
  int16_t pi[164];
  ASSERT_EQ(nrPolarIlPattern(164, pi), 164u);
  for (int m = 0; m < 164; m++) EXPECT_EQ(pi[m], il[m]) << m;
  int16_t J[32];
  ASSERT_TRUE(nrPolarSubblockPattern(32, J));
  for (int i = 0; i < 32; i++) EXPECT_EQ(J[i], sb[i]) << i;

  // Without rate matching each further information bit takes the next most reliable position.
  std::set<int> before;
  for (uint32_t K = 1; K < 1024; K++) {
    ASSERT_TRUE(nrPolarConstruct(K, 1024, 1024, kPolarNmaxDci));
    const std::set<int> now = infoPositions(1024);
    ASSERT_EQ(now.size(), K);
    for (int i : before) ASSERT_TRUE(now.count(i)) << K;
    ASSERT_TRUE(now.count(seq[1024 - K])) << K;
    before = now;
  }
}

TEST(PolarCode, InterleaverPatternKeepsTheLargestEntriesShifted) {
  const std::vector<int> il = table3gpp("polar_interleaver.txt");
  for (uint32_t K : {1u, 40u, 64u, 124u, 163u}) {
    int16_t pi[164];
    ASSERT_EQ(nrPolarIlPattern(K, pi), K);
    std::vector<int> expect;
    for (int v : il)
      if (v >= 164 - static_cast<int>(K)) expect.push_back(v - (164 - static_cast<int>(K)));
    EXPECT_EQ(std::vector<int>(pi, pi + K), expect) << K;
  }
  int16_t pi[200];
  EXPECT_EQ(nrPolarIlPattern(0, pi), 0u);
  EXPECT_EQ(nrPolarIlPattern(165, pi), 0u);
}

TEST(PolarCode, SubblockPatternSpreadsTheBlocksOfEveryLength) {
  const std::vector<int> sb = table3gpp("polar_subblock_interleaver.txt");
  for (uint32_t N = 32; N <= 1024; N *= 2) {
    int16_t J[1024];
    ASSERT_TRUE(nrPolarSubblockPattern(N, J));
    for (uint32_t n = 0; n < N; n++)
      ASSERT_EQ(J[n], sb[32 * n / N] * (N / 32) + n % (N / 32)) << N << " " << n;
  }
  int16_t J[64] = {};
  EXPECT_FALSE(nrPolarSubblockPattern(48, J));
  EXPECT_FALSE(nrPolarSubblockPattern(2048, J));
}

TEST(PolarCode, CodeLengthFollowsTheRateRulesOf5_3_1) {
  struct Case {
    uint32_t K, E, nMax, N;
  };
  const Case cases[] = {
      {64, 108, 9, 128},                           // A = 40 at aggregation level 1
      {64, 216, 9, 256},                           // level 2
      {64, 432, 9, 512},                           // level 4
      {64, 864, 9, 512},                           // level 8: n_max caps, repetition
      {64, 1728, 9, 512},                          // level 16
      {24, 144, 9, 128},                           // E = 9/8 2^(n1-1) and K/E < 9/16: one step down
      {81, 144, 9, 256},                           // K/E = 9/16: no step down
      {1, 1, 9, 32},                               // n_min
      {200, 4000, 10, 1024}, {12, 8000, 10, 128},  // minimum rate 1/8: n2 = log2(8K) rounded up
  };
  for (const Case& c : cases)
    EXPECT_EQ(nrPolarCodeLength(c.K, c.E, c.nMax), c.N) << c.K << " " << c.E;
  EXPECT_EQ(nrPolarCodeLength(0, 108, 9), 0u);
  EXPECT_EQ(nrPolarCodeLength(64, 108, 4), 0u);
}

TEST(PolarCode, RateMatchingFreezesOnlyWhatIsNotSent) {
  const std::vector<int> seq = table3gpp("polar_sequence.txt");
  const std::vector<int> sb = table3gpp("polar_subblock_interleaver.txt");
  struct Case {
    uint32_t K, E, N;
  };
  // Repetition, shortening (K/E > 7/16), puncturing with E >= 3N/4 and with E < 3N/4.
  const Case cases[] = {{64, 864, 512}, {64, 512, 512}, {64, 108, 128},
                        {64, 216, 256}, {40, 100, 128}, {64, 432, 512}};
  for (const Case& c : cases) {
    ASSERT_TRUE(nrPolarConstruct(c.K, c.E, c.N, kPolarNmaxDci));
    std::set<int> frozen;
    auto J = [&](uint32_t n) { return sb[32 * n / c.N] * (c.N / 32) + n % (c.N / 32); };
    if (c.E < c.N && 16 * c.K <= 7 * c.E) {
      for (uint32_t n = 0; n < c.N - c.E; n++) frozen.insert(J(n));
      const double T = 4 * c.E >= 3 * c.N ? 3.0 * c.N / 4 - c.E / 2.0 : 9.0 * c.N / 16 - c.E / 4.0;
      for (int n = 0; n < std::ceil(T); n++) frozen.insert(n);
    } else if (c.E < c.N) {
      for (uint32_t n = c.E; n < c.N; n++) frozen.insert(J(n));
    }
    EXPECT_EQ(infoPositions(1024), mostReliable(seq, c.N, c.K, frozen)) << c.K << " " << c.E;
    EXPECT_EQ(gnrPolarPcN, 0);
  }
}

TEST(PolarCode, ParityChecksOfTheUplinkSitOnLeastReliableAndLightestRows) {
  const std::vector<int> seq = table3gpp("polar_sequence.txt");
  for (uint32_t E : {60u, 300u}) {
    const uint32_t K = 20;
    const uint32_t N = nrPolarCodeLength(K, E, 10);
    ASSERT_TRUE(nrPolarConstruct(K, E, N, 10));
    ASSERT_EQ(gnrPolarPcN, 3);
    EXPECT_EQ(infoPositions(1024).size(), K + 3);
    // Q_I in decreasing reliability.
    std::vector<int> qi;
    for (int q = 1023; q >= 0; q--)
      if (seq[q] < static_cast<int>(N) && gnrPolarInfoInd[seq[q]]) qi.push_back(seq[q]);
    const bool wm = E - K > 189;
    std::set<int> expect = {qi[K + 2], qi[K + 1]};
    if (wm) {
      int best = qi[0];
      for (uint32_t k = 1; k < K; k++)
        if (std::popcount(static_cast<unsigned>(qi[k])) <
            std::popcount(static_cast<unsigned>(best)))
          best = qi[k];
      expect.insert(best);
    } else {
      expect.insert(qi[K]);
    }
    EXPECT_EQ(std::set<int>(gnrPolarPcPos, gnrPolarPcPos + 3), expect) << E;
  }
  // The downlink control channel has none, whatever K.
  ASSERT_TRUE(nrPolarConstruct(20, 100, nrPolarCodeLength(20, 100, 9), 9));
  EXPECT_EQ(gnrPolarPcN, 0);
}

TEST(PolarCode, ConstructionRefusesCodesItCannotBuild) {
  std::memset(gnrPolarInfoInd, 7, kPolarNmaxLen);
  for (auto [K, E, N] :
       {std::tuple{65u, 64u, 128u}, {0u, 64u, 128u}, {64u, 108u, 100u}, {64u, 108u, 2048u}}) {
    // Copies: clang 14 cannot capture structured bindings in a lambda.
    const uint32_t k = K, e = E, n = N;
    const std::string err = captureDiag([&] { EXPECT_FALSE(nrPolarConstruct(k, e, n, 9)); });
    EXPECT_NE(err.find("nrPolarConstruct"), std::string::npos) << K << " " << E << " " << N;
  }
  EXPECT_EQ(gnrPolarInfoInd[0], 7);
}
