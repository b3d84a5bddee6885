#include "phy/coding/ldpc_decode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "phy/coding/crc.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_rate_match.h"
#include "phy/coding/ldpc_tables.h"
#include "tests/test_util.h"

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
          const int32_t v =
              bg == 1 ? gnrLdpcBg1[set][row][edge.col] : gnrLdpcBg2[set][row][edge.col];
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
// Tests that adjust the decoder settings give them back, so the suite also passes in one process.
class LdpcDecode : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = nrLdpcDecPara; }
  void TearDown() override { nrLdpcDecPara = saved_; }

 private:
  NrLdpcDecPara saved_{};
};

// A clean codeword checks at the first CRC test, after iteration four; the same block without a
// single received value (only its fillers known) decides its information bits on values of 0 and
// fails, although the all-zero word it would settle on has a zero CRC.
TEST_F(LdpcDecode, CleanBlockPassesAfterFourIterationsAndSilenceFails) {
  const Block cases[] = {block(1, 384, 8448), block(1, 2, 40),     block(2, 384, 3840),
                         block(2, 2, 17),     block(1, 208, 4000), block(2, 15, 120)};
  for (const Block& b : cases) {
    std::vector<int32_t> out(b.Kp, 7);
    ASSERT_EQ(decode(b, zeroCodewordLlr(b, 20), out), 1) << "bg " << +b.bg << " Zc " << b.Zc;
    EXPECT_EQ(nrLdpcDecIterUsed(), 4);
    EXPECT_EQ(std::count(out.begin(), out.end(), 0), b.Kp);
    EXPECT_EQ(nrLdpcDecPara.Zc, b.Zc);
    EXPECT_EQ(nrLdpcDecPara.numLayers, b.bg == 1 ? 46 : 42);

    std::fill(out.begin(), out.end(), 7);
    EXPECT_EQ(decode(b, zeroCodewordLlr(b, 0), out), 0) << "bg " << +b.bg << " Zc " << b.Zc;
    EXPECT_EQ(nrLdpcDecIterUsed(), 20);
    EXPECT_EQ(std::count(out.begin(), out.end(), 7), b.Kp);
  }
}

TEST_F(LdpcDecode, NeverCheckingBlockFailsAfterTwentyIterationsAndLeavesOutputAlone) {
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
TEST_F(LdpcDecode, LargeInputsBehaveLikeSaturatedOnes) {
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

TEST_F(LdpcDecode, SettingsBoundTheIterations) {
  const Block b = block(2, 16, 150);
  std::vector<int32_t> out;
  std::vector<int32_t> noise(b.N());
  std::mt19937 rng(3);
  for (int32_t& x : noise) x = static_cast<int32_t>(rng() % 63) - 31;
  nrLdpcDecPara.maxIter = 7;
  EXPECT_EQ(decode(b, noise, out), 0);
  EXPECT_EQ(nrLdpcDecIterUsed(), 7);
  // Without early termination every iteration runs and the last one's CRC decides.
  nrLdpcDecPara.etEnable = 0;
  nrLdpcDecPara.maxIter = 9;
  EXPECT_EQ(decode(b, zeroCodewordLlr(b, 20), out), 1);
  EXPECT_EQ(nrLdpcDecIterUsed(), 9);
  EXPECT_EQ(std::count(out.begin(), out.end(), 0), b.Kp);
  nrLdpcDecPara.maxIter = 2;  // never reaches the first CRC test
  EXPECT_EQ(decode(b, zeroCodewordLlr(b, 20), out), 0);
}

TEST_F(LdpcDecode, RejectsImpossibleBlocks) {
  std::vector<int32_t> llr(66 * 384, 10), out(8448, 3);
  struct Bad {
    int Kp, Zc, N;
    uint8_t bg, iLS;
  };
  const Bad bad[] = {
      {100, 17, 66 * 17, 1, 0},        // 17 is no lifting size
      {100, 384, 66 * 384, 3, 1},      // no base graph 3
      {100, 384, 66 * 384 + 1, 1, 1},  // more inputs than columns
      {0, 384, 66 * 384, 1, 1},        // nothing to deliver
      {3841, 384, 50 * 384, 2, 1},     // more than the BG2 systematic bits
      {100, 384, 66 * 384, 1, 8},      // no such set
  };
  for (const Bad& c : bad) {
    std::string text;
    int32_t r = -1;
    text = captureDiag(
        [&] { r = nrLdpcDecode(llr.data(), out.data(), c.Kp, c.Zc, c.N, c.bg, c.iLS, 2); });
    EXPECT_EQ(r, 0);
    EXPECT_NE(text.find("nrLdpcDecode: invalid code block"), std::string::npos);
  }
  EXPECT_EQ(std::count(out.begin(), out.end(), 3), 8448);
}

namespace {

// A literal scalar model of the decoder: per-check-node records with 32-bit row words (min1,
// min2, index bytes), 32-bit edge signs, ping-pong slots and the write-back timing of the update
// indicators. The production decoder stores the same quantities lane-wise; both must agree on
// every verdict and iteration count.
struct RefNode {
  uint8_t idx, min1, min2, min3;
  uint32_t sgnProd;
  uint32_t sign[kLdpcDecMaxRowWeight];
  int16_t v[kLdpcDecMaxRowWeight];
  uint32_t* rowWord;
  uint32_t* edgeSign;
};
RefNode refNode[kLdpcDecMaxZc][2];
uint32_t refRowWord[kLdpcDecMaxZc][kLdpcDecMaxLayers];
uint32_t refEdgeSign[kLdpcDecMaxZc][kLdpcDecMaxEdges];
int16_t refApp[kLdpcDecMaxCols][kLdpcDecMaxZc];
int16_t refRot[kLdpcDecMaxCols];
uint8_t refColSlot[2][kLdpcDecMaxRowWeight];

int8_t refF(int8_t x) {
  if (x > 21) return 0;
  if (x > 8) return static_cast<int8_t>((71 - 3 * x) >> 4);
  return static_cast<int8_t>((43 - 3 * x) >> 3);
}
int8_t refMinStar(int8_t a, int8_t b) {
  return static_cast<int8_t>(std::min(a, b) + refF(static_cast<int8_t>(a + b)) -
                             refF(static_cast<int8_t>(std::abs(a - b))));
}

void refWriteBack(int s, int w, int Zc, bool minStar) {
  for (int z = 0; z < Zc; z++) {
    RefNode& n = refNode[z][s];
    int8_t m1 = static_cast<int8_t>(n.min1), m2 = static_cast<int8_t>(n.min2);
    if (minStar) {
      m2 = refMinStar(m2, static_cast<int8_t>(n.min3));
      m1 = refMinStar(m1, m2);
    }
    const uint8_t n1 = static_cast<uint8_t>((m1 * 25) >> 5);
    const uint8_t n2 = static_cast<uint8_t>((m2 * 25) >> 5);
    *n.rowWord = (*n.rowWord & 0xFF000000u) | n1 | (n2 << 8) | (uint32_t(n.idx) << 16);
    for (int i = 0; i < w; i++) {
      n.sign[i] = n.sgnProd ^ n.sign[i];
      n.edgeSign[i] = n.sign[i];
    }
  }
  for (int i = 0; i < w; i++)
    for (int z = 0; z < Zc; z++) {
      const RefNode& n = refNode[z][s];
      const int8_t mag =
          static_cast<int8_t>(i == int((*n.rowWord >> 16) & 0xFF) ? (*n.rowWord >> 8) : *n.rowWord);
      const int a = n.sign[i] == 0 ? n.v[i] + mag : n.v[i] - mag;
      refApp[refColSlot[s][i]][z] = static_cast<int16_t>(std::clamp(a, -256, 255));
    }
}

// CRC check of the hard decisions; a bit decided on an APP value of exactly 0 fails the block.
bool refCrc(int Kp, int Zc, uint8_t crcType, std::vector<int32_t>& bits) {
  bits.assign(Kp, 0);
  bool undecided = false;
  for (int k = 0; k < Kp; k++) {
    const int app = refApp[k / Zc][(Zc + k % Zc - refRot[k / Zc]) % Zc];
    bits[k] = app < 0;
    undecided |= app == 0;
  }
  if (undecided) return false;
  const uint32_t poly = crcType == 0 ? 0xDF3261u : crcType == 1 ? 0xC60001u : 0x8408u;
  uint32_t r = 0;
  for (int32_t b : bits) {
    const uint32_t f = (r & 1u) ^ static_cast<uint32_t>(b);
    r >>= 1;
    if (f) r ^= poly;
  }
  return r == 0;
}

int32_t refDecode(const std::vector<int32_t>& llr, std::vector<int32_t>& out, const Block& b,
                  uint8_t crcType, bool minStar, int& iters, int maxIter = 20, bool early = true) {
  const NrLdpcDecSchedule* sch = nrLdpcDecSchedule(b.bg);
  const int Zc = b.Zc;
  const int cols = b.bg == 1 ? 68 : 52;
  std::vector<int32_t> in(2 * Zc, 0);
  for (int32_t x : llr) in.push_back(std::clamp(x, -32, 31));
  in.resize(cols * Zc, 0);
  iters = maxIter;
  std::memset(refRowWord, 0, sizeof(refRowWord));
  std::memset(refRot, 0, sizeof(refRot));
  for (int i = 0; i < cols * Zc; i++) refApp[i / Zc][i % Zc] = static_cast<int16_t>(in[i] << 1);
  std::vector<int16_t> x(Zc);
  std::vector<int32_t> bits;
  for (int it = 0; it < maxIter; it++) {
    int e = 0;
    int prevSlot = -1, prevW = 0;
    for (int l = 0; l < sch->numLayers; l++) {
      const int s = l & 1, w = sch->rowWeight[l], u = sch->updateInd[l];
      for (int z = 0; z < Zc; z++) {
        RefNode& n = refNode[z][s];
        n.idx = 0;
        n.min1 = n.min2 = n.min3 = 63;
        n.sgnProd = 0;
        n.rowWord = &refRowWord[z][l];
        n.edgeSign = &refEdgeSign[z][e];
      }
      bool written = false;
      if (u == 1 && prevSlot >= 0) {
        refWriteBack(prevSlot, prevW, Zc, minStar);
        written = true;
      }
      for (int m = 0; m < w; m++, e++) {
        const int c = sch->edge[e].col;
        const int vp = sch->edge[e].shift[b.iLS] % Zc;
        const int relativeShiftVal = (Zc - refRot[c] + vp) % Zc;
        refRot[c] = static_cast<int16_t>(vp);
        refColSlot[s][m] = static_cast<uint8_t>(c);
        if (u == 2 && !written && prevSlot >= 0 && c < 2) {
          refWriteBack(prevSlot, prevW, Zc, minStar);
          written = true;
        }
        for (int z = 0; z < Zc; z++) x[z] = refApp[c][(relativeShiftVal + z) % Zc];
        for (int z = 0; z < Zc; z++) {
          RefNode& n = refNode[z][s];
          const uint32_t word = *n.rowWord;
          const int8_t old = static_cast<int8_t>(m == int((word >> 16) & 0xFF) ? word >> 8 : word);
          const int16_t v = static_cast<int16_t>(n.edgeSign[m] ? x[z] + old : x[z] - old);
          n.v[m] = v;
          const uint32_t sb = v < 0;
          n.sgnProd ^= sb;
          n.sign[m] = sb;
          const uint8_t a = static_cast<uint8_t>(std::min<int>(std::abs(v), 63));
          if (a < n.min2) {
            n.min3 = n.min2;
            if (a < n.min1) {
              n.min2 = n.min1;
              n.min1 = a;
              n.idx = static_cast<uint8_t>(m);
            } else {
              n.min2 = a;
            }
          } else if (a < n.min3) {
            n.min3 = a;
          }
        }
      }
      if (u == 3 && prevSlot >= 0) refWriteBack(prevSlot, prevW, Zc, minStar);
      prevSlot = s;
      prevW = w;
    }
    refWriteBack(prevSlot, prevW, Zc, minStar);
    if (early && it >= 3 && refCrc(b.Kp, Zc, crcType, bits)) {
      iters = it + 1;
      out = bits;
      return 1;
    }
  }
  return 0;
}

// All-zero codeword as BPSK through white Gaussian noise of deviation sigma (two fractional bits).
std::vector<int32_t> noisyLlr(const Block& b, std::mt19937& rng, double sigma) {
  std::normal_distribution<double> noise(0.0, sigma);
  std::vector<int32_t> llr = zeroCodewordLlr(b, 0);
  for (int32_t& v : llr)
    if (v != kFiller)
      v = static_cast<int32_t>(std::lround(8.0 * (1.0 + noise(rng)) / (sigma * sigma)));
  return llr;
}

}  // namespace

TEST_F(LdpcDecode, AgreesWithTheScalarModelIterationForIteration) {
  // Many short blocks near the decoding threshold: iteration counts there react to any difference
  // in the arithmetic; two large blocks cover the full memories.
  std::vector<std::pair<Block, double>> cases = {{block(1, 384, 8448), 1.15},
                                                 {block(2, 384, 3840), 1.4}};
  const int smallZc[] = {2, 3, 5, 7, 9, 11, 13, 15, 6, 10};
  for (int t = 0; t < 150; t++) {
    const int Zc = smallZc[t % 10];
    const uint8_t bg = static_cast<uint8_t>(1 + (t / 10) % 2);
    const int K = (bg == 1 ? 22 : 10) * Zc;
    cases.push_back({block(bg, Zc, K - (t % 4) * (K / 8)), bg == 1 ? 1.1 : 1.3});
  }
  std::mt19937 rng(2024);
  std::set<int> iterSeen;
  for (bool minStar : {false, true}) {
    nrLdpcDecPara.minStarEnable = minStar ? 1 : 0;
    for (const auto& [b, sigma] : cases) {
      const std::vector<int32_t> llr = noisyLlr(b, rng, sigma);
      std::vector<int32_t> out(b.Kp, 9), refOut;
      int refIters = 0;
      const int32_t refOk = refDecode(llr, refOut, b, 1, minStar, refIters);
      const int32_t ok = nrLdpcDecode(llr.data(), out.data(), b.Kp, b.Zc,
                                      static_cast<int32_t>(llr.size()), b.bg, b.iLS, 1);
      ASSERT_EQ(ok, refOk) << "bg " << +b.bg << " Zc " << b.Zc << " minStar " << minStar;
      ASSERT_EQ(nrLdpcDecIterUsed(), refIters) << "bg " << +b.bg << " Zc " << b.Zc;
      if (ok) {
        EXPECT_EQ(out, refOut);
      }
      iterSeen.insert(refIters);
    }
  }
  // The cases span quick passes, long decodings and failures.
  EXPECT_GE(iterSeen.size(), 6u);
  EXPECT_TRUE(iterSeen.count(20));
}

// The whole a posteriori memory after a fixed number of iterations, value for value: saturations,
// normalisation, minima and rotations all show here.
TEST_F(LdpcDecode, LeavesTheSameLlrsAsTheScalarModel) {
  std::mt19937 rng(77);
  const std::pair<Block, double> cases[] = {
      {block(1, 384, 8448), 1.15}, {block(2, 384, 3500), 1.4}, {block(1, 26, 520), 0.9},
      {block(2, 11, 100), 1.6},    {block(1, 2, 40), 1.2},     {block(2, 208, 2000), 0.7}};
  for (bool minStar : {false, true})
    for (const auto& [b, sigma] : cases)
      for (int iters : {1, 2, 5, 9}) {
        nrLdpcDecPara.minStarEnable = minStar ? 1 : 0;
        nrLdpcDecPara.etEnable = 0;
        nrLdpcDecPara.maxIter = static_cast<uint8_t>(iters);
        const std::vector<int32_t> llr = noisyLlr(b, rng, sigma);
        std::vector<int32_t> out(b.Kp), refOut;
        int refIters = 0;
        refDecode(llr, refOut, b, 2, minStar, refIters, iters, false);
        nrLdpcDecode(llr.data(), out.data(), b.Kp, b.Zc, static_cast<int32_t>(llr.size()), b.bg,
                     b.iLS, 2);
        const int n = (b.bg == 1 ? 68 : 52) * b.Zc;
        std::vector<int16_t> app(n + 5, 0), ref(n + 5, 0);
        ASSERT_EQ(nrLdpcDecApp(app.data(), n + 5), n);
        for (int k = 0; k < n; k++)
          ref[k] = refApp[k / b.Zc][(k % b.Zc - refRot[k / b.Zc] + b.Zc) % b.Zc];
        ASSERT_EQ(app, ref) << "bg " << +b.bg << " Zc " << b.Zc << " iterations " << iters
                            << " minStar " << minStar;
        EXPECT_EQ(nrLdpcDecIterUsed(), iters);
      }
}

// The lane loops of every instruction set come from one source; all must leave identical
// memories, with the default settings and with widths and factors whose normalised minima leave
// 8 bits (factors above 32/32), whose APP values saturate sooner or later, or whose inputs exceed
// the APP range (the first iteration clamps them).
TEST_F(LdpcDecode, LaneLoopsOfEveryInstructionSetAgree) {
  const uint8_t widest = nrLdpcDecSetLanes(kLdpcLanesAvx512);
  if (widest == kLdpcLanesBaseline) GTEST_SKIP() << "only the baseline lane loops on this CPU";
  std::mt19937 rng(8);
  const std::pair<Block, double> cases[] = {
      {block(1, 384, 8448), 1.15}, {block(2, 120, 1150), 1.3}, {block(1, 7, 150), 1.0}};
  struct Settings {
    uint8_t normFactor, msgWidth, appWidth, fracBits;
  };
  const Settings settings[] = {{25, 7, 9, 3},   {32, 8, 10, 2}, {48, 8, 9, 3},
                               {200, 6, 12, 1}, {33, 5, 7, 3},  {25, 4, 6, 3}};
  for (const Settings& st : settings)
    for (bool minStar : {false, true})
      for (const auto& [b, sigma] : cases) {
        nrLdpcDecPara.normFactor = st.normFactor;
        nrLdpcDecPara.msgWidth = st.msgWidth;
        nrLdpcDecPara.appWidth = st.appWidth;
        nrLdpcDecPara.fracBits = st.fracBits;
        nrLdpcDecPara.minStarEnable = minStar ? 1 : 0;
        const std::vector<int32_t> llr = noisyLlr(b, rng, sigma);
        const int n = (b.bg == 1 ? 68 : 52) * b.Zc;
        std::vector<int16_t> app[3];
        int iters[3];
        int32_t ok[3];
        std::vector<int32_t> out[3];
        for (uint8_t set = 0; set <= widest; set++) {
          ASSERT_EQ(nrLdpcDecSetLanes(set), set);
          out[set].assign(b.Kp, 3);
          ok[set] = decode(b, llr, out[set]);
          iters[set] = nrLdpcDecIterUsed();
          app[set].resize(n);
          nrLdpcDecApp(app[set].data(), n);
        }
        for (uint8_t set = 1; set <= widest; set++) {
          EXPECT_EQ(ok[set], ok[0]);
          EXPECT_EQ(iters[set], iters[0]);
          EXPECT_EQ(out[set], out[0]);
          EXPECT_EQ(app[set], app[0])
              << "set " << +set << " bg " << +b.bg << " Zc " << b.Zc << " factor " << +st.normFactor
              << " widths " << +st.msgWidth << "/" << +st.appWidth;
        }
      }
}

namespace {

// One transmitted code block at a given rate and redundancy version: the circular-buffer LLRs the
// receiver de-rate-matches from E soft bits (TS 38.212 5.4.2 inverted), positions never sent 0.
struct RateCase {
  uint8_t bg;
  int Zc;
  double rate;
  uint8_t rv;
};

std::vector<int32_t> transmittedLlr(const RateCase& rc, std::mt19937& rng, double flipProb,
                                    Block& b) {
  const int kb = rc.bg == 1 ? 22 : 10;
  const int nb = rc.bg == 1 ? 66 : 50;
  b = block(rc.bg, rc.Zc, kb * rc.Zc - rc.Zc - 3);  // some filler bits
  NrLdpcParams p{};
  p.bg = rc.bg;
  p.Zc = rc.Zc;
  p.iLS = b.iLS;
  p.K = b.K();
  p.Kp = b.Kp;
  p.F = p.K - p.Kp;
  p.N = b.N();
  p.Ncb = p.N;
  p.Qm = 2;
  // TS 38.212 Table 5.4.2.1-2: starting positions of the redundancy versions.
  const int num[2][4] = {{0, 17, 33, 56}, {0, 13, 25, 43}};
  p.k0 = num[rc.bg - 1][rc.rv] * p.Ncb / (nb * rc.Zc) * rc.Zc;
  p.E[0] = 2 * static_cast<int32_t>(std::lround(p.Kp / rc.rate / 2));

  std::vector<int32_t> cb(p.K, 0), cw(p.N), bits(p.E[0]);
  for (int k = 0; k < p.Kp - 24; k++) cb[k] = static_cast<int32_t>(rng() & 1);
  const uint32_t reg = nrCrcCalc(cb.data(), kCrc24B, p.Kp - 24);
  for (int i = 0; i < 24; i++) cb[p.Kp - 24 + i] = static_cast<int32_t>((reg >> i) & 1);
  EXPECT_TRUE(nrLdpcEncode(cb.data(), cw.data(), &p));
  EXPECT_TRUE(nrLdpcRateMatch(cw.data(), bits.data(), 0, &p));
  std::vector<int32_t> soft(p.E[0]);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (int i = 0; i < p.E[0]; i++) {
    const int32_t mag = 1 + static_cast<int32_t>(rng() % 8);
    const bool flip = u(rng) < flipProb;
    soft[i] = (bits[i] != 0) != flip ? -mag : mag;
  }
  std::vector<int32_t> llr(p.N);
  dlsch_detail::deRateMatch(soft.data(), p.E[0], p.K, p.Kp, p.Zc, p.Qm, p.k0, p.Ncb, p.N,
                            llr.data());
  return llr;
}

int32_t decodeCrc24b(const Block& b, const std::vector<int32_t>& llr, std::vector<int32_t>& out) {
  out.resize(b.Kp);
  return nrLdpcDecode(llr.data(), out.data(), b.Kp, b.Zc, static_cast<int32_t>(llr.size()), b.bg,
                      b.iLS, kCrc24B);
}

}  // namespace

// Layers whose degree-one parity column was never sent send messages of magnitude 0 and are
// skipped: over every rate (from the highest down to repetition) and redundancy version of both
// base graphs, with clean, noisy and random soft bits, the verdict, the iteration count and the
// decoded bits are those of the full sweep, and the layers run shrink as the rate rises.
TEST_F(LdpcDecode, SkippingSilentLayersChangesNoResult) {
  const double rates[] = {0.95, 0.9, 0.8, 0.7, 0.6, 0.5, 0.4, 1.0 / 3, 0.25, 0.2, 0.15};
  std::mt19937 rng(31);
  int skipped = 0, full = 0, passes = 0, fails = 0;
  std::set<int> iterSeen;
  for (uint8_t bg : {uint8_t{1}, uint8_t{2}})
    for (int Zc : {40, 72})
      for (double rate : rates)
        for (uint8_t rv = 0; rv < 4; rv++)
          for (double flip : {0.0, 0.06, 0.5})
            for (bool minStar : {false, true}) {
              const RateCase rc{bg, Zc, rate, rv};
              Block b;
              const std::vector<int32_t> llr = transmittedLlr(rc, rng, flip, b);
              nrLdpcDecPara.minStarEnable = minStar ? 1 : 0;
              std::vector<int32_t> outSkip(b.Kp, 4), outFull(b.Kp, 4);
              nrLdpcDecPara.skipSilentLayers = 1;
              const int32_t okSkip = decodeCrc24b(b, llr, outSkip);
              const int itSkip = nrLdpcDecIterUsed();
              const int layers = nrLdpcDecLayersRun();
              nrLdpcDecPara.skipSilentLayers = 0;
              const int32_t okFull = decodeCrc24b(b, llr, outFull);
              const std::string where = "bg " + std::to_string(bg) + " Zc " + std::to_string(Zc) +
                                        " rate " + std::to_string(rate) + " rv " +
                                        std::to_string(rv) + " flip " + std::to_string(flip);
              ASSERT_EQ(okSkip, okFull) << where;
              ASSERT_EQ(itSkip, nrLdpcDecIterUsed()) << where;
              ASSERT_EQ(outSkip, outFull) << where;
              EXPECT_EQ(nrLdpcDecLayersRun(), bg == 1 ? 46 : 42);
              skipped += layers < (bg == 1 ? 46 : 42);
              full += layers == (bg == 1 ? 46 : 42);
              // Above the mother code rate with rv 0 only the core layers and those of the parity
              // columns sent remain.
              if (rv == 0 && rate >= 0.9) {
                EXPECT_LT(layers, 10) << where;
              }
              okSkip ? passes++ : fails++;
              iterSeen.insert(itSkip);
            }
  // The cases cover skipping and the full graph, decoded and failed blocks, short and long runs.
  EXPECT_GT(skipped, 100);
  EXPECT_GT(full, 20);
  EXPECT_GT(passes, 50);
  EXPECT_GT(fails, 50);
  EXPECT_GE(iterSeen.size(), 4u);
}

// Where skipping would not be exact (a saturating APP width, or the min* correction with 8-bit
// messages, where min*(0, x) is not 0 for every x) every layer runs.
TEST_F(LdpcDecode, SkipsNoLayerWhereSkippingWouldNotBeExact) {
  std::mt19937 rng(4);
  Block b;
  const std::vector<int32_t> llr = transmittedLlr({1, 72, 0.9, 0}, rng, 0.02, b);
  std::vector<int32_t> out;
  decode(b, llr, out);
  EXPECT_LT(nrLdpcDecLayersRun(), 46);
  nrLdpcDecPara.appWidth = 8;
  decode(b, llr, out);
  EXPECT_EQ(nrLdpcDecLayersRun(), 46);
  nrLdpcDecPara.appWidth = 9;
  nrLdpcDecPara.minStarEnable = 1;
  nrLdpcDecPara.msgWidth = 8;
  decode(b, llr, out);
  EXPECT_EQ(nrLdpcDecLayersRun(), 46);
  nrLdpcDecPara.msgWidth = 7;
  decode(b, llr, out);
  EXPECT_LT(nrLdpcDecLayersRun(), 46);
}

// The a posteriori memory after a decoding that skipped layers reads as the full sweep's, the
// columns of the skipped layers included.
TEST_F(LdpcDecode, AppMemoryAfterSkippingReadsAsTheFullSweep) {
  std::mt19937 rng(9);
  for (uint8_t bg : {uint8_t{1}, uint8_t{2}}) {
    Block b;
    const std::vector<int32_t> llr = transmittedLlr({bg, 40, 0.7, 2}, rng, 0.08, b);
    const int n = (bg == 1 ? 68 : 52) * b.Zc;
    std::vector<int32_t> out;
    std::vector<int16_t> appSkip(n), appFull(n);
    nrLdpcDecPara.skipSilentLayers = 1;
    decode(b, llr, out);
    ASSERT_LT(nrLdpcDecLayersRun(), bg == 1 ? 46 : 42);
    ASSERT_EQ(nrLdpcDecApp(appSkip.data(), n), n);
    nrLdpcDecPara.skipSilentLayers = 0;
    decode(b, llr, out);
    ASSERT_EQ(nrLdpcDecApp(appFull.data(), n), n);
    EXPECT_EQ(appSkip, appFull) << "bg " << +bg;
  }
}

// Once an iteration leaves every message as it was, the later ones are not run: at every
// instruction set, with and without early termination and the min* correction, over clean, noisy
// and hopeless blocks at several rates, the verdict, the iterations used, the decoded bits and the
// whole a posteriori memory are those of running every iteration. The cases reach fixed points
// that pass and that fail, and decodings that never reach one.
TEST_F(LdpcDecode, StoppingAtAFixedPointChangesNoResult) {
  const uint8_t widest = nrLdpcDecSetLanes(kLdpcLanesAvx512);
  std::mt19937 rng(57);
  int stopped = 0, ranAll = 0, stoppedFailing = 0, stoppedPassing = 0;
  for (uint8_t set = 0; set <= widest; set++)
    for (uint8_t bg : {uint8_t{1}, uint8_t{2}})
      for (int Zc : {4, 9, 40, 72})
        for (double rate : {0.9, 0.7, 0.5, 0.25})
          for (double flip : {0.0, 0.03, 0.1, 0.3, 0.5, 0.5})
            for (bool minStar : {false, true})
              for (bool early : {true, false}) {
                ASSERT_EQ(nrLdpcDecSetLanes(set), set);
                const RateCase rc{bg, Zc, rate, static_cast<uint8_t>(rng() % 4)};
                Block b;
                std::vector<int32_t> llr = transmittedLlr(rc, rng, flip, b);
                // Strong values of random sign: a hopeless block whose APP values saturate.
                if (flip == 0.5 && (rng() & 1))
                  for (int32_t& v : llr)
                    if (v != 0 && v != kFillerLlr)
                      v = (rng() & 1 ? 1 : -1) * static_cast<int32_t>(24 + rng() % 8);
                nrLdpcDecPara.minStarEnable = minStar ? 1 : 0;
                nrLdpcDecPara.etEnable = early ? 1 : 0;
                const int n = (bg == 1 ? 68 : 52) * b.Zc;
                std::vector<int32_t> out[2];
                std::vector<int16_t> app[2];
                int32_t ok[2];
                int used[2], run[2];
                for (int stop = 0; stop < 2; stop++) {
                  nrLdpcDecPara.stopAtFixedPoint = static_cast<uint8_t>(stop);
                  out[stop].assign(b.Kp, 5);
                  ok[stop] = decodeCrc24b(b, llr, out[stop]);
                  used[stop] = nrLdpcDecIterUsed();
                  run[stop] = nrLdpcDecIterRun();
                  app[stop].resize(n);
                  ASSERT_EQ(nrLdpcDecApp(app[stop].data(), n), n);
                }
                const std::string where =
                    "set " + std::to_string(set) + " bg " + std::to_string(bg) + " Zc " +
                    std::to_string(Zc) + " rate " + std::to_string(rate) + " flip " +
                    std::to_string(flip) + " minStar " + std::to_string(minStar) + " early " +
                    std::to_string(early);
                ASSERT_EQ(ok[1], ok[0]) << where;
                ASSERT_EQ(used[1], used[0]) << where;
                ASSERT_EQ(run[0], used[0]) << where;
                ASSERT_LE(run[1], used[1]) << where;
                ASSERT_EQ(out[1], out[0]) << where;
                ASSERT_EQ(app[1], app[0]) << where;
                if (run[1] < used[1]) {
                  stopped++;
                  ok[1] ? stoppedPassing++ : stoppedFailing++;
                } else {
                  ranAll++;
                }
              }
  nrLdpcDecSetLanes(widest);
  EXPECT_GT(stopped, 20);
  EXPECT_GT(ranAll, 20);
  EXPECT_GT(stoppedPassing, 5);
  EXPECT_GT(stoppedFailing, 5);
}

// 16-bit input LLRs decode exactly as the same values in 32 bits: verdict, iterations, decoded
// bits and the whole a posteriori memory, at every instruction set, for lifting sizes below, at
// and between multiples of 32, inputs shorter than the codeword, and values at the ends of the
// 16-bit range (clamped alike).
TEST_F(LdpcDecode, SixteenBitInputsDecodeAsThirtyTwoBitOnes) {
  const uint8_t widest = nrLdpcDecSetLanes(kLdpcLanesAvx512);
  std::mt19937 rng(61);
  const std::pair<Block, double> cases[] = {{block(1, 2, 40), 1.0},     {block(2, 7, 60), 1.2},
                                            {block(1, 20, 400), 1.0},   {block(2, 40, 380), 1.1},
                                            {block(1, 72, 1500), 1.0},  {block(2, 120, 1150), 1.3},
                                            {block(1, 384, 8448), 0.9}, {block(2, 384, 3840), 1.2}};
  int passes = 0, fails = 0;
  for (uint8_t set = 0; set <= widest; set++)
    for (const auto& [b, sigma] : cases)
      for (int variant = 0; variant < 3; variant++) {
        ASSERT_EQ(nrLdpcDecSetLanes(set), set);
        std::vector<int32_t> llr = noisyLlr(b, rng, sigma);
        // Shorter input (the rest punctured), and extreme values.
        if (variant == 1) llr.resize(llr.size() - b.Zc - 5);
        if (variant == 2)
          for (size_t i = 0; i < llr.size(); i += 7)
            llr[i] = rng() % 3 == 0 ? INT16_MIN : rng() % 2 ? INT16_MAX : -INT16_MAX;
        const std::vector<int16_t> llr16(llr.begin(), llr.end());
        const int32_t N = static_cast<int32_t>(llr.size());
        const int n = (b.bg == 1 ? 68 : 52) * b.Zc;
        std::vector<int32_t> out32(b.Kp, 7), out16(b.Kp, 7);
        std::vector<int16_t> app32(n), app16(n);
        const int32_t ok32 =
            ldpc_detail::decodeKeep(llr.data(), out32.data(), true, b.Kp, b.Zc, N, b.bg, b.iLS, 2);
        const int it32 = nrLdpcDecIterUsed();
        ASSERT_EQ(nrLdpcDecApp(app32.data(), n), n);
        const int32_t ok16 = ldpc_detail::decodeKeep16(llr16.data(), out16.data(), true, b.Kp, b.Zc,
                                                       N, b.bg, b.iLS, 2);
        ASSERT_EQ(nrLdpcDecApp(app16.data(), n), n);
        const std::string where = "set " + std::to_string(set) + " bg " + std::to_string(b.bg) +
                                  " Zc " + std::to_string(b.Zc) + " variant " +
                                  std::to_string(variant);
        ASSERT_EQ(ok16, ok32) << where;
        ASSERT_EQ(nrLdpcDecIterUsed(), it32) << where;
        ASSERT_EQ(out16, out32) << where;
        ASSERT_EQ(app16, app32) << where;
        ok32 ? passes++ : fails++;
      }
  nrLdpcDecSetLanes(widest);
  EXPECT_GT(passes, 10);
  EXPECT_GT(fails, 10);
}

// The degree-one column of every extension row is its own parity column kb + row, appearing in
// no other row; the four core rows have none.
TEST(LdpcDecSchedule, ExtensionLayersNameTheirDegreeOneParityColumn) {
  for (uint8_t bg = 1; bg <= 2; bg++) {
    const NrLdpcDecSchedule* s = nrLdpcDecSchedule(bg);
    const int kb = bg == 1 ? 22 : 10;
    for (int l = 0; l < s->numLayers; l++) {
      const int row = s->layerRow[l];
      EXPECT_EQ(s->degOneCol[l], row < 4 ? -1 : kb + row) << "bg " << +bg << " layer " << l;
      if (row < 4) continue;
      for (int other = 0; other < s->numLayers; other++) {
        const int32_t v = bg == 1 ? gnrLdpcBg1[0][other][kb + row] : gnrLdpcBg2[0][other][kb + row];
        EXPECT_EQ(v >= 0, other == row) << "bg " << +bg << " row " << other;
      }
    }
  }
}

// The hard decisions, the early-termination test and the decoded bits of every instruction set
// agree with the baseline's: lifting sizes below, at and between multiples of 32 lanes (column
// blocks whose rotation puts the wrap anywhere in a step), clean, noisy and undecodable blocks,
// redundancy versions that miss systematic bits (decisions on values of 0), the CRC tested after
// every iteration, and without early termination; and the APP memories they leave.
TEST_F(LdpcDecode, EveryInstructionSetDecidesAndStopsAlike) {
  const uint8_t widest = nrLdpcDecSetLanes(kLdpcLanesAvx512);
  if (widest == kLdpcLanesBaseline) GTEST_SKIP() << "only the baseline lane loops on this CPU";
  std::mt19937 rng(17);
  int passes = 0, fails = 0;
  std::set<int> iterSeen;
  for (uint8_t bg : {uint8_t{1}, uint8_t{2}})
    for (int Zc : {5, 7, 15, 36, 52, 64, 104, 208, 256, 384})
      for (double rate : {0.9, 0.5})
        for (uint8_t rv : {uint8_t{0}, uint8_t{3}})
          for (double flip : {0.0, 0.05, 0.5})
            for (int32_t early : {1, 0}) {
              const RateCase rc{bg, Zc, rate, rv};
              Block b;
              const std::vector<int32_t> llr = transmittedLlr(rc, rng, flip, b);
              nrLdpcDecPara.minIter = 0;
              nrLdpcDecPara.maxIter = 12;
              nrLdpcDecPara.etEnable = early;
              std::vector<int32_t> out[3];
              std::vector<int16_t> app[3];
              int32_t ok[3];
              int iters[3];
              const int n = (bg == 1 ? 68 : 52) * Zc;
              for (uint8_t set = 0; set <= widest; set++) {
                ASSERT_EQ(nrLdpcDecSetLanes(set), set);
                out[set].assign(b.Kp, 5);
                ok[set] = decodeCrc24b(b, llr, out[set]);
                iters[set] = nrLdpcDecIterUsed();
                app[set].resize(n);
                nrLdpcDecApp(app[set].data(), n);
              }
              const std::string where = "bg " + std::to_string(bg) + " Zc " + std::to_string(Zc) +
                                        " rate " + std::to_string(rate) + " rv " +
                                        std::to_string(rv) + " flip " + std::to_string(flip) +
                                        " early " + std::to_string(early);
              for (uint8_t set = 1; set <= widest; set++) {
                ASSERT_EQ(ok[set], ok[0]) << where << " set " << +set;
                ASSERT_EQ(iters[set], iters[0]) << where << " set " << +set;
                ASSERT_EQ(out[set], out[0]) << where << " set " << +set;
                ASSERT_EQ(app[set], app[0]) << where << " set " << +set;
              }
              ok[0] ? passes++ : fails++;
              iterSeen.insert(iters[0]);
            }
  nrLdpcDecSetLanes(widest);
  EXPECT_GT(passes, 40);
  EXPECT_GT(fails, 40);
  EXPECT_GE(iterSeen.size(), 4u);
}

// A block decoded right after one of the same shape (whose layer jobs the decoder reuses) decides,
// stops and leaves its a posteriori values as the same block decoded after one of another shape
// (jobs rebuilt): shapes with and without skipped layers, noisy and clean, at the widest lane
// loops.
TEST_F(LdpcDecode, BlockAfterOneOfTheSameShapeDecodesAsAfterAnother) {
  std::mt19937 rng(29);
  const RateCase cases[] = {{1, 384, 0.9, 0}, {1, 104, 0.5, 3}, {2, 208, 0.9, 0},
                            {2, 36, 0.3, 3},  {1, 15, 0.9, 3},  {2, 384, 0.5, 0}};
  const RateCase other{1, 52, 0.6, 1};
  nrLdpcDecPara.minIter = 0;
  nrLdpcDecPara.maxIter = 12;
  int passes = 0, fails = 0;
  for (const RateCase& rc : cases) {
    for (double flip : {0.0, 0.06}) {
      Block b, bo;
      const std::vector<int32_t> first = transmittedLlr(rc, rng, flip, b);
      const std::vector<int32_t> second = transmittedLlr(rc, rng, flip, b);
      const std::vector<int32_t> otherLlr = transmittedLlr(other, rng, 0.0, bo);
      std::vector<int32_t> out[2], scratch;
      int32_t ok[2];
      int iters[2];
      std::vector<int16_t> app[2];
      for (int order = 0; order < 2; order++) {
        decodeCrc24b(order == 0 ? b : bo, order == 0 ? first : otherLlr, scratch);
        out[order].assign(b.Kp, 5);
        ok[order] = decodeCrc24b(b, second, out[order]);
        iters[order] = nrLdpcDecIterUsed();
        app[order].resize(68 * b.Zc);
        nrLdpcDecApp(app[order].data(), static_cast<int32_t>(app[order].size()));
      }
      const std::string where = "bg " + std::to_string(rc.bg) + " Zc " + std::to_string(rc.Zc) +
                                " flip " + std::to_string(flip);
      EXPECT_EQ(ok[0], ok[1]) << where;
      EXPECT_EQ(iters[0], iters[1]) << where;
      EXPECT_EQ(out[0], out[1]) << where;
      EXPECT_EQ(app[0], app[1]) << where;
      ok[1] ? passes++ : fails++;
    }
  }
  EXPECT_GT(passes, 2);
  EXPECT_GT(fails, 0);
}
