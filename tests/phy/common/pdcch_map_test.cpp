#include "phy/common/pdcch_map.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "phy/common/sequence.h"
#include "tests/test_util.h"

namespace {

NrCoresetCfg contiguousCoreset(uint16_t first, uint16_t nrb, uint16_t duration) {
  NrCoresetCfg cs{};
  cs.coresetId = 1;
  cs.duration = duration;
  cs.allocNrb = nrb;
  for (int r = 0; r < nrb; r++) cs.rbIdx[r] = static_cast<uint16_t>(first + r);
  return cs;
}

std::vector<int> positions(const NrCoresetCfg& cs, const uint16_t* map, uint32_t bundleN,
                           uint32_t L, uint32_t firstCce, uint32_t aggr) {
  uint16_t pos[kPdcchMaxCandRb];
  const int n = nrPdcchCcePositions(&cs, map, bundleN, L, firstCce, aggr, pos);
  return n < 0 ? std::vector<int>{-1} : std::vector<int>(pos, pos + n);
}

}  // namespace

TEST(PdcchMap, DefaultCandidateTakesTheInterleavedBundlesOfItsCces) {
  freshDefaultSlot();
  const NrCoresetCfg& cs = gnrNbConfig.coresetCfg[0];
  // 72 RBs x 3 symbols, L = 3, R = 6, C = 12: f(6c + r) = (12r + c) mod 72, one RB per bundle.
  std::vector<int> expect;
  for (int j = 32 * 2; j < 36 * 2; j++) expect.push_back((12 * (j % 6) + j / 6) % 72);
  EXPECT_EQ(expect, (std::vector<int>{58, 70, 11, 23, 35, 47, 59, 71}));
  EXPECT_EQ(positions(cs, cs.regBundleMap, 72, 3, 32, 4), expect);
  // The CORESET holds 36 CCEs: CCE 35 is the last.
  EXPECT_EQ(positions(cs, cs.regBundleMap, 72, 3, 35, 1).size(), 2u);
  EXPECT_EQ(positions(cs, cs.regBundleMap, 72, 3, 36, 1), std::vector<int>{-1});
  EXPECT_EQ(positions(cs, cs.regBundleMap, 72, 3, 32, 8), std::vector<int>{-1});
}

TEST(PdcchMap, NonInterleavedCcesAreConsecutiveRbPositions) {
  NrCoresetCfg cs = contiguousCoreset(20, 24, 2);  // 8 CCEs of 3 RBs
  EXPECT_EQ(positions(cs, nullptr, 0, 6, 2, 2), (std::vector<int>{6, 7, 8, 9, 10, 11}));
  EXPECT_EQ(positions(cs, nullptr, 0, 6, 7, 1), (std::vector<int>{21, 22, 23}));
  EXPECT_EQ(positions(cs, nullptr, 0, 6, 7, 2), std::vector<int>{-1});
}

TEST(PdcchMap, MalformedBundlesMapNothing) {
  NrCoresetCfg cs = contiguousCoreset(0, 12, 2);
  cs.CchIntvEn = 1;
  uint16_t map[64];
  for (int j = 0; j < 64; j++) map[j] = static_cast<uint16_t>(j);
  EXPECT_EQ(positions(cs, map, 12, 2, 0, 1), (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(positions(cs, map, 12, 4, 0, 1), std::vector<int>{-1});  // 6 REGs in bundles of 4
  EXPECT_EQ(positions(cs, map, 12, 3, 0, 1), std::vector<int>{-1});  // 3 REGs over 2 symbols
  EXPECT_EQ(positions(cs, map, 12, 0, 0, 1), std::vector<int>{-1});
  map[1] = 12;  // an interleaver entry beyond the bundles
  EXPECT_EQ(positions(cs, map, 12, 2, 0, 1), std::vector<int>{-1});
}

TEST(PdcchMap, CoresetCheckNamesTheFault) {
  struct Case {
    const char* what;
    void (*mutate)(NrCoresetCfg&);
    bool ok;
  };
  const Case cases[] = {
      {"valid", [](NrCoresetCfg&) {}, true},
      {"duration 0", [](NrCoresetCfg& c) { c.duration = 0; }, false},
      {"duration 4", [](NrCoresetCfg& c) { c.duration = 4; }, false},
      {"allocNrb 0", [](NrCoresetCfg& c) { c.allocNrb = 0; }, false},
      {"allocNrb 20", [](NrCoresetCfg& c) { c.allocNrb = 20; }, false},
      {"allocNrb 282", [](NrCoresetCfg& c) { c.allocNrb = 282; }, false},
      {"RB 280", [](NrCoresetCfg& c) { c.rbIdx[23] = 280; }, false},
      {"descending", [](NrCoresetCfg& c) { c.rbIdx[3] = c.rbIdx[2]; }, false},
  };
  for (const Case& k : cases) {
    NrCoresetCfg cs = contiguousCoreset(10, 24, 1);
    k.mutate(cs);
    EXPECT_EQ(nrCoresetCheck(&cs) == nullptr, k.ok) << k.what;
  }
}

TEST(PdcchMap, CoresetLookupSkipsEntriesNotInUse) {
  NrCoresetCfg cs[3] = {contiguousCoreset(0, 6, 1), {}, contiguousCoreset(0, 6, 2)};
  cs[0].coresetId = 6;
  cs[2].coresetId = 6;
  EXPECT_EQ(nrCoresetFind(cs, 6), 0);
  EXPECT_EQ(nrCoresetFind(cs, 0), -1);  // entry 1 has id 0 but no symbols
  cs[0].duration = 0;
  EXPECT_EQ(nrCoresetFind(cs, 6), 2);
}

TEST(PdcchMap, InitialisersOfScramblingAndDmrs) {
  // TS 38.211 7.4.1.3.1: slot 0, symbol 0, N_ID 0 gives 2^17.
  EXPECT_EQ(nrPdcchDmrsCinit(0, 0, 0), 131072u);
  EXPECT_EQ(nrPdcchDmrsCinit(7, 8, 829),
            ((1ull << 17) * (14 * 7 + 8 + 1) * (2 * 829 + 1) + 2 * 829) % (1ull << 31));
  // The 32-bit product wraps; its low 31 bits are the initialiser.
  EXPECT_EQ(nrPdcchDmrsCinit(19, 13, 1007),
            ((1ull << 17) * (14 * 19 + 13 + 1) * (2 * 1007 + 1) + 2 * 1007) % (1ull << 31));
  // TS 38.211 7.3.2.3: cell-common scrambling is the cell identity alone.
  EXPECT_EQ(nrPdcchScrCinit(28764, 829, false), 829u);
  EXPECT_EQ(nrPdcchScrCinit(28764, 829, true), (28764u << 16) + 829u);
  EXPECT_EQ(nrPdcchScrCinit(0xFFFF, 1007, true), ((0xFFFFull << 16) + 1007) % (1ull << 31));
}

TEST(PdcchMap, DmrsSequenceIsCountedFromRbZero) {
  const int8_t* b = nrPdcchDmrsSeq(3, 2, 100, 10, 4);
  ASSERT_NE(b, nullptr);
  const std::vector<int8_t> part(b, b + 24);
  nrGoldSeqGen(static_cast<int32_t>(nrPdcchDmrsCinit(3, 2, 100)), 84, 1, 0);
  const int8_t* whole = gnrSeqBuf + kSeqBufGoldOffset;
  for (int i = 0; i < 24; i++) EXPECT_EQ(part[i], whole[60 + i]) << i;

  const std::string err =
      captureDiag([] { EXPECT_EQ(nrPdcchDmrsSeq(0, 0, 0, 20000, 10), nullptr); });
  EXPECT_NE(err.find("nrPdcchDmrsSeq"), std::string::npos);
}
