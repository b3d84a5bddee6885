#include "phy/common/tbs.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "config/slot_config_gen.h"

namespace {

struct TbsResult {
  int32_t qm = -1;
  int32_t c = -1;
  float rate = -1.0f;
  uint64_t tbs = 0;
  uint64_t g = 0;
};

TbsResult calc(int32_t mcs, int32_t nRe, int32_t nPrb, int32_t layers) {
  TbsResult r;
  const uint64_t ret = nrTbsCalc(mcs, nRe, nPrb, layers, &r.qm, &r.c, &r.rate, &r.tbs, &r.g);
  EXPECT_EQ(ret, r.tbs);
  return r;
}

}  // namespace

TEST(TbsTable, HoldsTheNinetyThreeByteAlignedSizesOfTable51321) {
  EXPECT_EQ(gnrTbsTable[0], 24u);
  EXPECT_EQ(gnrTbsTable[kTbsTableSize - 1], 3824u);
  for (int k = 1; k < kTbsTableSize; k++) {
    EXPECT_GT(gnrTbsTable[k], gnrTbsTable[k - 1]);
    EXPECT_EQ(gnrTbsTable[k] % 8, 0u);
  }
}

TEST(TbsCalc, KnownAllocationsGiveTheTs38214Sizes) {
  struct Case {
    int32_t mcs, nRe, nPrb, layers;
    int32_t qm, c;
    uint64_t tbs, g;
  };
  const Case cases[] = {
      {0, 156, 1, 1, 2, 1, 32, 312},                // N_info 36 -> N'_info 32
      {19, 150, 100, 1, 6, 9, 75792, 90000},        // N_info 76728, N'_info 75776
      {19, 156, 10, 1, 6, 1, 7936, 9360},           // N'_info 7936 <= 8424: one block
      {19, 162, 10, 1, 6, 1, 7936, 9720},           // 156 cap on the TBS only
      {2, 34, 187, 1, 2, 1, 3824, 12716},           // N_info 3824: table, N'_info 3808
      {2, 12, 265, 2, 2, 1, 3840, 12720},           // N_info 3825: formula, N'_info 3840
      {0, 60, 272, 1, 2, 2, 3848, 32640},           // N_info 3825 at R <= 1/4: 3816-bit blocks
      {0, 156, 273, 1, 2, 3, 9984, 85176},          // R <= 1/4 with several blocks
      {27, 156, 273, 4, 8, 152, 1277992, 1362816},  // largest TBS of the 256QAM table
      // The single-precision product rounds 66609150 up to 66609152: N_info 65048, not 65047.
      {3, 115, 215, 3, 2, 8, 65576, 148350},
      {28, 156, 100, 1, 2, 1, 24, 31200},  // reserved MCS: rate 0
      {31, 156, 100, 2, 8, 1, 24, 249600},
      {10, 156, 0, 1, 4, 1, 24, 0},  // empty allocation
  };
  for (const Case& k : cases) {
    const TbsResult r = calc(k.mcs, k.nRe, k.nPrb, k.layers);
    EXPECT_EQ(r.qm, k.qm) << k.mcs << "," << k.nRe << "," << k.nPrb << "," << k.layers;
    EXPECT_EQ(r.c, k.c) << k.mcs << "," << k.nRe << "," << k.nPrb << "," << k.layers;
    EXPECT_EQ(r.tbs, k.tbs) << k.mcs << "," << k.nRe << "," << k.nPrb << "," << k.layers;
    EXPECT_EQ(r.g, k.g) << k.mcs << "," << k.nRe << "," << k.nPrb << "," << k.layers;
  }
  EXPECT_EQ(calc(20, 100, 10, 1).rate, 682.5f);
  EXPECT_EQ(calc(26, 100, 10, 1).rate, 916.5f);
}

TEST(TbsCalc, McsIndexIsTakenModulo32) {
  for (int32_t mcs = 0; mcs < 32; mcs++)
    for (int32_t alias : {mcs + 32, mcs + 64, mcs - 32}) {
      const TbsResult a = calc(mcs, 138, 51, 2);
      const TbsResult b = calc(alias, 138, 51, 2);
      EXPECT_EQ(b.tbs, a.tbs) << alias;
      EXPECT_EQ(b.qm, a.qm) << alias;
      EXPECT_EQ(b.c, a.c) << alias;
      EXPECT_EQ(b.rate, a.rate) << alias;
    }
  EXPECT_EQ(calc(33, 100, 20, 1).tbs, 768u);
}

TEST(TbsCalc, SizesFitTheSegmentationOfEveryAllocation) {
  // For every MCS, allocation and layer count: table sizes are one block; larger sizes split into
  // C equal byte-aligned blocks (TS 38.212 5.2.2) that fit base graph 2 (R <= 1/4) or 1, and the
  // TBS never shrinks when the allocation grows.
  for (int32_t mcs = 0; mcs < 28; mcs++)
    for (int32_t nRe : {12, 72, 132, 150, 156})
      for (int32_t layers = 1; layers <= 4; layers++) {
        uint64_t last = 0;
        for (int32_t nPrb = 1; nPrb <= 275; nPrb++) {
          const TbsResult r = calc(mcs, nRe, nPrb, layers);
          ASSERT_GE(r.tbs, last);
          last = r.tbs;
          ASSERT_EQ(r.g, static_cast<uint64_t>(nRe * nPrb * r.qm * layers));
          if (r.tbs <= 3824) {
            ASSERT_EQ(r.c, 1);
            ASSERT_TRUE(std::binary_search(gnrTbsTable, gnrTbsTable + kTbsTableSize, r.tbs));
          } else {
            ASSERT_GE(r.c, 1);
            ASSERT_EQ((r.tbs + 24) % (8 * r.c), 0u);
            const uint64_t perBlock = (r.tbs + 24) / r.c + (r.c > 1 ? 24 : 0);
            ASSERT_LE(perBlock, r.rate <= 256.0f ? 3840u : 8448u)
                << mcs << "," << nRe << "," << nPrb << "," << layers;
          }
        }
      }
}

namespace {

// The default slot's PDSCH: type 1, ports {0, 1}, DMRS on 9 and 10, symbols 8..12, 12 RBs,
// 64QAM at R = 1746/2048, one layer, one CDM group without data.
NrPdschCfg defaultPdsch() {
  nrGenDefaultSlotCfg();
  return gnrNbConfig.pdschCfg[0];
}

}  // namespace

TEST(DchTbs, DefaultPdschCarries2976Bits) {
  NrPdschCfg p = defaultPdsch();
  EXPECT_EQ(nrCalcDchTbs(0, &p), 2976u);
  EXPECT_EQ(p.codeRateRef, 1746);
}

// Table path, both formula branches and the limits of N'_RE; expected values worked out from
// TS 38.214 5.1.3.2 by hand.
TEST(DchTbs, QuantisesLikeTs38214) {
  const struct {
    const char* what;
    uint16_t rbN, symBitmap, rate, overhead;
    uint32_t Qm;
    uint8_t layers;
    uint32_t tbs;
  } cases[] = {
      // N'_RE = 144 - 6 = 138; N_info 70590 -> N' 69632, C = 9.
      {"many code blocks", 100, 0x3FFC, 1746, 0, 6, 1, 69672},
      // N_info 6900, R = 1/4 -> C = 2.
      {"low rate", 100, 0x3FFC, 512, 0, 2, 1, 6920},
      // N_info 7059 -> N' 7040, one code block.
      {"one code block", 10, 0x3FFC, 1746, 0, 6, 1, 7040},
      // Two layers double N_info: 141180 -> N' 139264, C = 17.
      {"two layers", 100, 0x3FFC, 1746, 0, 6, 2, 139376},
      // An overhead beyond the REs wraps and is capped at 156: N_info = 1 * 156 * 1746 * 2 >> 11.
      {"overhead wraps to the cap", 1, 0x0003, 1746, 500, 2, 1, 272},
      {"no RBs", 0, 0x3FFC, 1746, 0, 6, 1, 24},
  };
  for (const auto& c : cases) {
    NrPdschCfg p = defaultPdsch();
    p.rbN = c.rbN;
    p.symBitmap = c.symBitmap;
    p.dmrsFirstSym = 2;
    p.dmrsAddPosN = 0;
    p.codeRate = c.rate;
    p.Qm = c.Qm;
    p.layerN = c.layers;
    EXPECT_EQ(nrCalcDchTbs(c.overhead, &p), c.tbs) << c.what;
  }
}

TEST(DchTbs, ZeroRateIsTakenFromTheSecondField) {
  NrPdschCfg p = defaultPdsch();
  p.codeRate = 0;
  p.codeRateRef = 1365;
  nrCalcDchTbs(0, &p);
  EXPECT_EQ(p.codeRate, 1365);
  EXPECT_EQ(p.codeRateRef, 1365);
  p.codeRate = 0;
  p.codeRateRef = 0;
  EXPECT_EQ(nrCalcDchTbs(0, &p), 24u);  // N_info 0
}

// N_info = 3824 is the last table value; one more takes the formula with N' = 3840.
TEST(DchTbs, TableEndsAt3824) {
  NrPdschCfg p = defaultPdsch();
  p.symBitmap = 0x3FFF;
  p.dmrsFirstSym = 0;
  p.dmrsAddPosN = 0;
  p.cdmGrpNoData = 1;
  p.rbN = 1;
  p.Qm = 2;
  p.layerN = 1;
  // N'_RE = 168 - 6 = 162 -> 156; N_info = (156 * R * 2 + 1024) >> 11.
  p.codeRate = 25099;  // N_info 3824
  EXPECT_EQ(nrCalcDchTbs(0, &p), 3824u);
  p.codeRate = 25106;  // N_info 3825
  EXPECT_EQ(nrCalcDchTbs(0, &p), 3840u);
}
