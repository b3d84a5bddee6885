#include "phy/coding/ldpc_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "phy/coding/ldpc_tables.h"

namespace {

constexpr int32_t kFiller = 1000;

struct Block {
  uint8_t bg;
  int Zc;
  int Kp;
  uint8_t iLS;
  int K() const { return (bg == 1 ? 22 : 10) * Zc; }
  int N() const { return (bg == 1 ? 66 : 50) * Zc; }
};

uint8_t setOf(int Zc) {
  for (int i = 0; i < kLiftSizeN; i++)
    if (gnrLdpcLiftSizes[i] == Zc)
      for (uint8_t s = 0; s < kLiftSetN; s++)
        if (gnrLdpcLiftSetEnd[s] > i) return s;
  return 0xFF;
}

Block block(uint8_t bg, int Zc, int Kp) { return Block{bg, Zc, Kp, setOf(Zc)}; }

// LLRs of the all-zero codeword: every transmitted position `level`, filler positions certain.
std::vector<int32_t> zeroCodewordLlr(const Block& b, int32_t level) {
  std::vector<int32_t> llr(b.N(), level);
  for (int i = b.Kp - 2 * b.Zc; i < b.K() - 2 * b.Zc; i++) llr[i] = kFiller;
  return llr;
}

int32_t decode(const Block& b, const std::vector<int32_t>& llr, std::vector<int32_t>& out) {
  out.resize(b.Kp);
  return nrLdpcDecode(llr.data(), out.data(), b.Kp, b.Zc, static_cast<int32_t>(llr.size()), b.bg,
                      b.iLS, 2);
}

}  // namespace

TEST(LdpcDecSchedule, LayersAllowTheDeferredWriteBacks) {
  for (uint8_t bg = 1; bg <= 2; bg++) {
    const NrLdpcDecSchedule* s = nrLdpcDecSchedule(bg);
    ASSERT_NE(s, nullptr);
    const int rows = bg == 1 ? kBg1Rows : kBg2Rows;
    const int cols = bg == 1 ? kBg1Cols : kBg2Cols;
    ASSERT_EQ(s->numLayers, rows);
    EXPECT_EQ(s->numEdges, bg == 1 ? 316 : 197);
    const int head[4] = {1, 3, 0, 2};
    int e = 0;
    std::set<int> prevCols;
    for (int l = 0; l < rows; l++) {
      const int row = l < 4 ? head[l] : l;
      EXPECT_EQ(s->layerRow[l], row);
      const int u = l == 0 ? 0 : l <= 4 ? 1 : l <= 20 ? (bg == 1 ? 2 : 1) : 3;
      EXPECT_EQ(s->updateInd[l], u) << "layer " << l;
      std::set<int> colsHere;
      std::vector<int> order;
      for (int m = 0; m < s->rowWeight[l]; m++, e++) {
        const NrLdpcDecEdge& edge = s->edge[e];
        order.push_back(edge.col);
        colsHere.insert(edge.col);
        for (int set = 0; set < kLiftSetN; set++) {
          const int32_t v = bg == 1 ? gnrLdpcBg1[set][row][edge.col] : gnrLdpcBg2[set][row][edge.col];
          EXPECT_EQ(edge.shift[set], v);
        }
      }
      // Every non-empty block of the row appears exactly once.
      int weight = 0;
      for (int c = 0; c < cols; c++)
        weight += (bg == 1 ? gnrLdpcBg1[0][row][c] : gnrLdpcBg2[0][row][c]) >= 0;
      EXPECT_EQ(s->rowWeight[l], weight);
      EXPECT_LE(weight, kLdpcDecMaxRowWeight);
      // Ascending columns; BG1 rows 4..20 move columns 0 and 1 to the end.
      std::vector<int> expect(colsHere.begin(), colsHere.end());
      if (bg == 1 && row >= 4 && row <= 20)
        std::stable_partition(expect.begin(), expect.end(), [](int c) { return c >= 2; });
      EXPECT_EQ(order, expect) << "layer " << l;
      std::vector<int> shared;
      std::set_intersection(colsHere.begin(), colsHere.end(), prevCols.begin(), prevCols.end(),
                            std::back_inserter(shared));
      if (u == 3) {
        EXPECT_TRUE(shared.empty()) << "layer " << l;
      }
      if (u == 2) {
        EXPECT_TRUE(colsHere.count(0) || colsHere.count(1)) << "layer " << l;
        for (int c : shared) EXPECT_LT(c, 2) << "layer " << l;
      }
      prevCols = colsHere;
    }
    EXPECT_EQ(e, s->numEdges);
  }
  EXPECT_EQ(nrLdpcDecSchedule(0), nullptr);
  EXPECT_EQ(nrLdpcDecSchedule(3), nullptr);
}

// No signal at all (LLR 0, fillers certain) hard-decides to the all-zero block, whose CRC register
// is 0; the CRC is first tested after the fourth iteration.
TEST(LdpcDecode, AllZeroInputSucceedsAfterFourIterations) {
  const Block cases[] = {block(1, 384, 8448), block(1, 2, 40), block(2, 384, 3840),
                         block(2, 2, 17),     block(1, 208, 4000), block(2, 15, 120)};
  for (const Block& b : cases) {
    std::vector<int32_t> out(b.Kp, 7);
    std::vector<int32_t> llr = zeroCodewordLlr(b, 0);
    ASSERT_EQ(decode(b, llr, out), 1) << "bg " << +b.bg << " Zc " << b.Zc;
    EXPECT_EQ(nrLdpcDecIterUsed(), 4);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0), b.Kp);
    EXPECT_EQ(gnrLdpcDecPara.Zc, b.Zc);
    EXPECT_EQ(gnrLdpcDecPara.numLayers, b.bg == 1 ? 46 : 42);
  }
}

TEST(LdpcDecode, NeverCheckingBlockFailsAfterTwentyIterationsAndLeavesOutputAlone) {
  const Block b = block(1, 64, 1000);
  std::mt19937 rng(5);
  std::vector<int32_t> llr(b.N());
  for (int32_t& x : llr) x = static_cast<int32_t>(rng() % 63) - 31;
  std::vector<int32_t> out(b.Kp, 5);
  EXPECT_EQ(nrLdpcDecode(llr.data(), out.data(), b.Kp, b.Zc, b.N(), b.bg, b.iLS, 0), 0);
  EXPECT_EQ(nrLdpcDecIterUsed(), 20);
  EXPECT_EQ(std::count(out.begin(), out.end(), 5), b.Kp);
}

// Inputs saturate to 6 bits: +-1000 (the filler value) and +-31 give the same decoding, also for
// noisy blocks that need several iterations.
TEST(LdpcDecode, LargeInputsBehaveLikeSaturatedOnes) {
  const Block b = block(2, 52, 500);
  std::mt19937 rng(11);
  int hardWon = 0;
  for (int trial = 0; trial < 6; trial++) {
    std::vector<int32_t> big = zeroCodewordLlr(b, 0);
    std::vector<int32_t> sat = big;
    for (size_t i = 0; i < big.size(); i++) {
      if (big[i] == kFiller) {
        sat[i] = 31;
        continue;
      }
      const int r = static_cast<int>(rng() % 100);
      // Mostly weak, correct values; a few certain ones in either direction.
      const int32_t v = r < 2 ? -kFiller : r < 30 ? kFiller : static_cast<int32_t>(rng() % 12) - 3;
      big[i] = v;
      sat[i] = v == kFiller ? 31 : v == -kFiller ? -32 : v;
    }
    std::vector<int32_t> outBig, outSat;
    const int32_t okBig = decode(b, big, outBig);
    const int iterBig = nrLdpcDecIterUsed();
    const int32_t okSat = decode(b, sat, outSat);
    EXPECT_EQ(okBig, okSat) << trial;
    EXPECT_EQ(iterBig, nrLdpcDecIterUsed()) << trial;
    if (okBig) {
      EXPECT_EQ(outBig, outSat);
      EXPECT_EQ(std::count(outBig.begin(), outBig.end(), 0), b.Kp);
      hardWon += iterBig > 4;
    }
  }
  EXPECT_GE(hardWon, 3);  // the cases exercise more than the first iterations
}

TEST(LdpcDecode, SettingsBoundTheIterations) {
  const Block b = block(2, 16, 150);
  std::vector<int32_t> out;
  std::vector<int32_t> noise(b.N());
  std::mt19937 rng(3);
  for (int32_t& x : noise) x = static_cast<int32_t>(rng() % 63) - 31;
  gnrLdpcDecPara.maxIter = 7;
  EXPECT_EQ(decode(b, noise, out), 0);
  EXPECT_EQ(nrLdpcDecIterUsed(), 7);
  // Without early termination every iteration runs and the last one's CRC decides.
  gnrLdpcDecPara.etEnable = 0;
  gnrLdpcDecPara.maxIter = 9;
  EXPECT_EQ(decode(b, zeroCodewordLlr(b, 20), out), 1);
  EXPECT_EQ(nrLdpcDecIterUsed(), 9);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0), b.Kp);
  gnrLdpcDecPara.maxIter = 2;  // never reaches the first CRC test
  EXPECT_EQ(decode(b, zeroCodewordLlr(b, 20), out), 0);
}

TEST(LdpcDecode, RejectsImpossibleBlocks) {
  std::vector<int32_t> llr(66 * 384, 10), out(8448, 3);
  struct Bad {
    int Kp, Zc, N;
    uint8_t bg, iLS;
  };
  const Bad bad[] = {
      {100, 17, 66 * 17, 1, 0},      // 17 is no lifting size
      {100, 384, 66 * 384, 3, 1},    // no base graph 3
      {100, 384, 66 * 384 + 1, 1, 1},  // more inputs than columns
      {0, 384, 66 * 384, 1, 1},      // nothing to deliver
      {3841, 384, 50 * 384, 2, 1},   // more than the BG2 systematic bits
      {100, 384, 66 * 384, 1, 8},    // no such set
  };
  for (const Bad& c : bad) {
    std::string text;
    int32_t r = -1;
    testing::internal::CaptureStdout();
    r = nrLdpcDecode(llr.data(), out.data(), c.Kp, c.Zc, c.N, c.bg, c.iLS, 2);
    text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(r, 0);
    EXPECT_NE(text.find("nrLdpcDecode: invalid code block"), std::string::npos);
  }
  EXPECT_EQ(std::count(out.begin(), out.end(), 3), 8448);
}
