#include "phy/coding/ldpc_params.h"

#include <gtest/gtest.h>

#include "phy/coding/ldpc_tables.h"
#include "tests/test_util.h"

namespace {

int setOf(int position) {
  int s = 0;
  while (gnrLdpcLiftSetEnd[s] <= position) s++;
  return s;
}

int positionOf(int zc) {
  for (int p = 0; p < kLiftSizeN; p++)
    if (gnrLdpcLiftSizes[p] == zc) return p;
  return -1;
}

}  // namespace

TEST(LdpcParams, BaseGraphFollowsSizeAndRateThresholds) {
  struct Case {
    int64_t A;
    float rateX1024;
    int bg;
  };
  const Case cases[] = {
      {292, 1000, 2},   {293, 1000, 1},   {3824, 686, 2}, {3824, 687, 1},    {3825, 300, 1},
      {100000, 256, 2}, {100000, 257, 1}, {24, 948, 2},   {3824, 682.5f, 2}, {8424, 916.5f, 1},
  };
  for (const Case& c : cases) {
    nrLdpcParamCalc(c.A, 100000, c.rateX1024, 2, 0, 1, &nrLdpcParams);
    EXPECT_EQ(nrLdpcParams.bg, c.bg) << c.A << " " << c.rateX1024;
    EXPECT_EQ(nrLdpcParams.Kcb, c.bg == 1 ? 8448 : 3840);
  }
}

TEST(LdpcParams, SegmentsOnlyAboveTheMaximumCodeBlockSize) {
  nrLdpcParamCalc(8424, 30000, 900, 2, 0, 1, &nrLdpcParams);
  EXPECT_EQ(nrLdpcParams.bg, 1);
  EXPECT_EQ(nrLdpcParams.B, 8448);
  EXPECT_EQ(nrLdpcParams.C, 1);
  EXPECT_EQ(nrLdpcParams.L, 0);
  EXPECT_EQ(nrLdpcParams.Kp, 8448);
  EXPECT_EQ(nrLdpcParams.Zc, 384);
  EXPECT_EQ(nrLdpcParams.F, 0);
  EXPECT_EQ(nrLdpcParams.N, 66 * 384);
  EXPECT_EQ(nrLdpcParams.Ncb, nrLdpcParams.N);
  EXPECT_EQ(nrLdpcParams.crcType, 0);

  nrLdpcParamCalc(8456, 30000, 900, 2, 0, 1, &nrLdpcParams);
  EXPECT_EQ(nrLdpcParams.B, 8480);
  EXPECT_EQ(nrLdpcParams.C, 2);
  EXPECT_EQ(nrLdpcParams.L, 24);
  EXPECT_EQ(nrLdpcParams.Bp, 8528);
  EXPECT_EQ(nrLdpcParams.Kp, 4264);
  EXPECT_EQ(nrLdpcParams.Zc, 208);  // 22 * 192 < 4264 <= 22 * 208
  EXPECT_EQ(nrLdpcParams.iLS, 6);
  EXPECT_EQ(nrLdpcParams.K, 22 * 208);
  EXPECT_EQ(nrLdpcParams.F, 22 * 208 - 4264);
  EXPECT_EQ(nrLdpcParams.crcType, 1);

  // BG2: one block up to 3840 bits.
  nrLdpcParamCalc(3824, 30000, 300, 2, 0, 1, &nrLdpcParams);
  EXPECT_EQ(nrLdpcParams.C, 1);
  EXPECT_EQ(nrLdpcParams.Kp, 3840);
  EXPECT_EQ(nrLdpcParams.Zc, 384);
  nrLdpcParamCalc(4000, 30000, 200, 2, 0, 1, &nrLdpcParams);
  EXPECT_EQ(nrLdpcParams.bg, 2);
  EXPECT_EQ(nrLdpcParams.C, 2);
  EXPECT_EQ(nrLdpcParams.Kp, (4024 + 48) / 2);
}

TEST(LdpcParams, Bg2SystematicColumnsStepWithBlockSize) {
  const int cases[][2] = {{192, 6}, {193, 8}, {560, 8}, {561, 9}, {640, 9}, {641, 10}};
  for (const auto& c : cases) {
    nrLdpcParamCalc(c[0] - 16, 10000, 200, 2, 0, 1, &nrLdpcParams);
    EXPECT_EQ(nrLdpcParams.bg, 2);
    EXPECT_EQ(nrLdpcParams.B, c[0]);
    EXPECT_EQ(nrLdpcParams.Kb, c[1]) << "B = " << c[0];
    // The code block always spans all 10 systematic columns.
    EXPECT_EQ(nrLdpcParams.K, 10 * nrLdpcParams.Zc);
    EXPECT_GE(c[1] * nrLdpcParams.Zc, nrLdpcParams.Kp);
  }
}

// For every lifting size reachable from a transport block (Zc >= 3), K' = Kb * Zc exactly picks
// that Zc with its own set index, and one bit more picks a larger size.
TEST(LdpcParams, ExactFitPicksThatLiftingSizeAndItsSet) {
  for (int p = 0; p < kLiftSizeN; p++) {
    const int z = gnrLdpcLiftSizes[p];
    if (z < 3) continue;
    for (int extra = 0; extra < 2; extra++) {
      int64_t A;
      float rate;
      int kb;
      if (6 * z <= 192) {  // BG2 with Kb = 6
        A = 6 * z - 16 + extra;
        rate = 200;
        kb = 6;
      } else {  // BG1
        const int kp = 22 * z + extra;
        A = kp - 16 <= 3824 ? kp - 16 : kp - 24;
        rate = 1000;
        kb = 22;
      }
      if (extra == 1 && (z == 384 || 6 * z == 192)) continue;  // K' + 1 would change Kb
      nrLdpcParamCalc(A, 50000, rate, 2, 0, 1, &nrLdpcParams);
      ASSERT_EQ(nrLdpcParams.C, 1);
      ASSERT_EQ(nrLdpcParams.Kb, kb);
      if (extra == 0) {
        EXPECT_EQ(nrLdpcParams.Zc, z);
        EXPECT_EQ(nrLdpcParams.ZcIdx, p);
        EXPECT_EQ(nrLdpcParams.iLS, setOf(p)) << "Zc " << z;
        EXPECT_EQ(nrLdpcParams.F, nrLdpcParams.K - kb * z);
      } else {
        EXPECT_GT(nrLdpcParams.Zc, z);
        EXPECT_EQ(nrLdpcParams.iLS, setOf(nrLdpcParams.ZcIdx));
      }
    }
  }
  // The smallest members of sets 1..7 (and 4 of set 0), named explicitly.
  const int smallest[][2] = {{4, 0}, {3, 1}, {5, 2}, {7, 3}, {9, 4}, {11, 5}, {13, 6}, {15, 7}};
  for (const auto& s : smallest) {
    nrLdpcParamCalc(6 * s[0] - 16, 1000, 200, 2, 0, 1, &nrLdpcParams);
    EXPECT_EQ(nrLdpcParams.Zc, s[0]);
    EXPECT_EQ(nrLdpcParams.iLS, s[1]);
    EXPECT_EQ(nrLdpcParams.ZcIdx, positionOf(s[0]));
  }
}

TEST(LdpcParams, RateMatchedLengthsSplitSmallerFirst) {
  // A = 20000 at BG1: C = 3. G / w = 302, 302 mod 3 = 2: block 0 gets 4 * 100, blocks 1, 2 get 4 *
  // 101, and the two leftover bits of G are not used.
  nrLdpcParamCalc(20000, 1210, 900, 4, 0, 1, &nrLdpcParams);
  ASSERT_EQ(nrLdpcParams.C, 3);
  EXPECT_EQ(nrLdpcParams.E[0], 400);
  EXPECT_EQ(nrLdpcParams.E[1], 404);
  EXPECT_EQ(nrLdpcParams.E[2], 404);
  EXPECT_EQ(nrLdpcParams.E[3], 0);
  EXPECT_EQ(nrLdpcParams.sumE, 1208);

  // Property over a family of requests: multiples of w, smaller ones first, differing by one symbol
  // at most, summing to w * floor(G / w).
  const int64_t As[] = {5000, 20000, 60000, 200000};
  const int64_t Gs[] = {99991, 123456, 300000, 1000003};
  for (int64_t A : As)
    for (int64_t G : Gs)
      for (int layers = 1; layers <= 4; layers += 3) {
        const int qm = 6;
        const int64_t w = qm * layers;
        nrLdpcParamCalc(A, G, 700, qm, 0, layers, &nrLdpcParams);
        const int C = nrLdpcParams.C;
        ASSERT_GE(C, 1);
        int64_t sum = 0;
        for (int r = 0; r < C; r++) {
          EXPECT_EQ(nrLdpcParams.E[r] % w, 0);
          if (r > 0) {
            EXPECT_GE(nrLdpcParams.E[r], nrLdpcParams.E[r - 1]);
            EXPECT_LE(nrLdpcParams.E[r] - nrLdpcParams.E[0], w);
          }
          sum += nrLdpcParams.E[r];
        }
        EXPECT_EQ(sum, G / w * w);
        EXPECT_EQ(nrLdpcParams.sumE, sum);
      }
}

TEST(LdpcParams, RedundancyVersionStartsAtTableOffsets) {
  const int bg1[] = {0, 17, 33, 56};
  const int bg2[] = {0, 13, 25, 43};
  for (uint8_t rv = 0; rv < 4; rv++) {
    nrLdpcParamCalc(8424, 30000, 900, 2, rv, 1, &nrLdpcParams);
    EXPECT_EQ(nrLdpcParams.k0, bg1[rv] * 384);
    nrLdpcParamCalc(1000, 30000, 300, 2, rv, 1, &nrLdpcParams);
    EXPECT_EQ(nrLdpcParams.k0, bg2[rv] * nrLdpcParams.Zc);
  }
  // An rv outside 0..3 keeps the previous start.
  nrLdpcParamCalc(8424, 30000, 900, 2, 2, 1, &nrLdpcParams);
  nrLdpcParamCalc(1000, 30000, 300, 2, 4, 1, &nrLdpcParams);
  EXPECT_EQ(nrLdpcParams.k0, 33 * 384);
}

TEST(LdpcParams, CrcTypeFollowsBlockSizeAndSegmentation) {
  nrLdpcParamCalc(3824, 30000, 900, 2, 0, 1, &nrLdpcParams);
  EXPECT_EQ(nrLdpcParams.B, 3840);
  EXPECT_EQ(nrLdpcParams.crcType, 2);
  nrLdpcParamCalc(3825, 30000, 900, 2, 0, 1, &nrLdpcParams);
  EXPECT_EQ(nrLdpcParams.B, 3849);
  EXPECT_EQ(nrLdpcParams.crcType, 0);
  nrLdpcParamCalc(3825, 30000, 200, 2, 0, 1, &nrLdpcParams);  // BG2, two blocks
  EXPECT_EQ(nrLdpcParams.C, 2);
  EXPECT_EQ(nrLdpcParams.crcType, 1);
}

TEST(LdpcParams, RejectsRequestsTheRecordCannotHold) {
  // 100 code blocks of BG1 fit exactly; one bit more needs 101.
  nrLdpcParamCalc(100 * 8424 - 24, 2000000, 900, 8, 0, 4, &nrLdpcParams);
  EXPECT_EQ(nrLdpcParams.C, 100);
  EXPECT_GT(nrLdpcParams.E[99], 0);

  struct Case {
    int64_t A, G;
    int qm, layers;
    const char* message;
  };
  const Case cases[] = {
      {100 * 8424 - 23, 2000000, 8, 4, "101 code blocks exceed the limit of 100"},
      {1000, int64_t{3} << 31, 2, 1, "rate-matched length 6442450944 exceeds 32 bits"},
      {1000, 5000, 2, 0, "not supported"},
      {1000, 5000, 0, 1, "not supported"},
      {-5, 5000, 2, 1, "not supported"},
  };
  for (const Case& c : cases) {
    nrLdpcParamCalc(8424, 30000, 900, 2, 1, 1, &nrLdpcParams);
    nrLdpcParams.Qm = 6;
    nrLdpcParams.A = 8424;
    const std::string out =
        captureDiag([&] { nrLdpcParamCalc(c.A, c.G, 900, c.qm, 0, c.layers, &nrLdpcParams); });
    EXPECT_NE(out.find(c.message), std::string::npos) << out;
    EXPECT_EQ(nrLdpcParams.C, 0);
    EXPECT_EQ(nrLdpcParams.sumE, 0);
    for (int r = 0; r < kMaxCodeBlocks; r++) EXPECT_EQ(nrLdpcParams.E[r], 0);
    EXPECT_EQ(nrLdpcParams.Qm, 6);  // fields owned by the caller stay
    EXPECT_EQ(nrLdpcParams.A, 8424);
  }
}
