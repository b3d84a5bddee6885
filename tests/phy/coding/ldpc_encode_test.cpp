#include "phy/coding/ldpc_encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "phy/coding/ldpc_tables.h"
#include "phy/common/cpu_features.h"
#include "tests/test_util.h"

namespace {

struct Block {
  NrLdpcParams params{};
  std::vector<int32_t> info;  // the K information bits, fillers 0
};

Block makeBlock(int bg, int position, int kp, uint32_t seed) {
  Block b;
  const int zc = gnrLdpcLiftSizes[position];
  int s = 0;
  while (gnrLdpcLiftSetEnd[s] <= position) s++;
  b.params.bg = bg;
  b.params.Zc = zc;
  b.params.ZcIdx = position;
  b.params.iLS = s;
  b.params.K = (bg == 1 ? 22 : 10) * zc;
  b.params.Kp = kp;
  b.params.F = b.params.K - kp;
  b.params.N = (bg == 1 ? 66 : 50) * zc;
  b.params.Ncb = b.params.N;
  std::mt19937 rng(seed);
  b.info.assign(b.params.K, 0);
  for (int k = 0; k < kp; k++) b.info[k] = static_cast<int32_t>(rng() & 1);
  return b;
}

// Parity checks of the lifted base graph, straight from the shift table: block (i, j) is the Zc x
// Zc identity cyclically shifted right by V_ij mod Zc (TS 38.212 5.3.2), so check row z of block
// row i reads bit (z + V_ij mod Zc) mod Zc of column block j. Returns the number of failing checks
// of the full codeword: punctured bits and fillers restored as in `info`.
int failingChecks(const Block& b, const std::vector<int32_t>& codeword) {
  const int zc = b.params.Zc;
  const int K = b.params.K;
  const int rows = b.params.bg == 1 ? kBg1Rows : kBg2Rows;
  const int cols = b.params.bg == 1 ? kBg1Cols : kBg2Cols;
  std::vector<int> c(cols * zc);
  for (int k = 0; k < K; k++) c[k] = b.info[k];
  for (int k = K; k < cols * zc; k++) c[k] = codeword[k - 2 * zc];
  int failing = 0;
  for (int i = 0; i < rows; i++)
    for (int z = 0; z < zc; z++) {
      int sum = 0;
      for (int j = 0; j < cols; j++) {
        const int v =
            b.params.bg == 1 ? gnrLdpcBg1[b.params.iLS][i][j] : gnrLdpcBg2[b.params.iLS][i][j];
        if (v >= 0) sum ^= c[j * zc + (z + v % zc) % zc];
      }
      failing += sum;
    }
  return failing;
}

}  // namespace

// One random block per lifting size and base graph, with varying filler counts (none, a few, BG2
// blocks that fill only Kb = 6 columns): any wrong shift value or core-parity closed form breaks a
// parity check.
TEST(LdpcEncode, EveryLiftingSizeGivesACodewordOfTheLiftedGraph) {
  for (int bg = 1; bg <= 2; bg++)
    for (int p = 0; p < kLiftSizeN; p++) {
      const int zc = gnrLdpcLiftSizes[p];
      const int K = (bg == 1 ? 22 : 10) * zc;
      const int fillerCases[] = {0, zc / 2 + 1, bg == 1 ? 3 * zc + 5 : 4 * zc};
      const int kp = K - fillerCases[p % 3];
      Block b = makeBlock(bg, p, kp, 1000 * bg + p);
      std::vector<int32_t> block = b.info;
      std::vector<int32_t> codeword(b.params.N + 1, 7);
      nrLdpcEncode(block.data(), codeword.data(), &b.params);
      EXPECT_EQ(codeword[b.params.N], 7) << "wrote past N";
      EXPECT_EQ(failingChecks(b, codeword), 0) << "bg " << bg << " Zc " << zc;
      // Systematic part without the first 2*Zc bits, fillers marked -1 in block and codeword.
      for (int k = 2 * zc; k < K; k++) {
        const int32_t expect = k < kp ? b.info[k] : -1;
        ASSERT_EQ(codeword[k - 2 * zc], expect) << "bg " << bg << " Zc " << zc << " k " << k;
      }
      for (int k = 0; k < K; k++) ASSERT_EQ(block[k], k < kp ? b.info[k] : -1);
      for (int k = K - 2 * zc; k < b.params.N; k++)
        ASSERT_TRUE(codeword[k] == 0 || codeword[k] == 1);
    }
}

TEST(LdpcEncode, AllZeroBlockGivesZeroParityAndOnlyFillerMarks) {
  for (int bg = 1; bg <= 2; bg++)
    for (int filler : {0, 37}) {
      Block b = makeBlock(bg, 15, (bg == 1 ? 22 : 10) * 384 - filler, 1);  // Zc 384
      for (int32_t& v : b.info) v = 0;
      std::vector<int32_t> block = b.info;
      std::vector<int32_t> codeword(b.params.N, 5);
      nrLdpcEncode(block.data(), codeword.data(), &b.params);
      int marks = 0;
      for (int32_t v : codeword) {
        ASSERT_TRUE(v == 0 || v == -1);
        marks += v == -1;
      }
      EXPECT_EQ(marks, filler);
    }
}

TEST(LdpcEncode, SetSixOfBg1ShiftsTheFirstParityBy105ModZc) {
  // Zc 208 is the one size of set 6 where 105 mod Zc is not 1; 13 ... 104 all give 1.
  for (int zc : {13, 26, 52, 104, 208}) {
    int p = 40;
    while (gnrLdpcLiftSizes[p] != zc) p++;
    Block b = makeBlock(1, p, 22 * zc, zc);
    ASSERT_EQ(b.params.iLS, 6);
    std::vector<int32_t> block = b.info;
    std::vector<int32_t> codeword(b.params.N);
    nrLdpcEncode(block.data(), codeword.data(), &b.params);
    EXPECT_EQ(failingChecks(b, codeword), 0) << "Zc " << zc;
  }
}

TEST(LdpcEncode, EncodingAgainAfterFillerMarksGivesTheSameCodeword) {
  Block b = makeBlock(2, 30, 10 * gnrLdpcLiftSizes[30] - 9, 3);
  std::vector<int32_t> block = b.info;
  std::vector<int32_t> first(b.params.N), second(b.params.N);
  nrLdpcEncode(block.data(), first.data(), &b.params);
  nrLdpcEncode(block.data(), second.data(),
               &b.params);  // block now holds -1 fillers
  EXPECT_EQ(first, second);
}

TEST(LdpcEncode, RejectsParametersWithoutALiftedGraph) {
  Block good = makeBlock(1, 3, 22 * 16, 4);
  NrLdpcParams bad[4] = {good.params, good.params, good.params, good.params};
  bad[0].bg = 3;
  bad[1].Zc = 400;
  bad[2].K = 10 * 16;  // BG1 needs 22 columns
  bad[3].Kp = bad[3].K + 1;
  for (const NrLdpcParams& p : bad) {
    std::vector<int32_t> block = good.info;
    std::vector<int32_t> codeword(66 * 16, 9);
    const std::string out = captureDiag([&] { nrLdpcEncode(block.data(), codeword.data(), &p); });
    EXPECT_NE(out.find("nrLdpcEncode(): "), std::string::npos);
    EXPECT_EQ(block, good.info);
    for (int32_t v : codeword) ASSERT_EQ(v, 9);
  }
}

namespace {

struct Capped {
  explicit Capped(uint8_t level) : level_(nrCpuSetLevelCap(level)) {}
  ~Capped() { nrCpuSetLevelCap(kNrCpuAvx512); }
  uint8_t level_;
};

}  // namespace

// The byte-lane loops of every instruction set come from one source; over every lifting size and
// both base graphs, with and without fillers, each level gives the baseline's codeword and filler
// marks, on the int32 and the byte path alike.
TEST(LdpcEncode, EveryInstructionSetAndTheBytePathGiveTheBaselineCodeword) {
  const uint8_t widest = nrCpuLevelDetected();
  for (int bg = 1; bg <= 2; bg++)
    for (int p = 0; p < kLiftSizeN; p++) {
      const int zc = gnrLdpcLiftSizes[p];
      const int K = (bg == 1 ? 22 : 10) * zc;
      const Block b = makeBlock(bg, p, p % 2 ? K : K - zc - 1, 77 * bg + p);
      std::vector<int32_t> ref(b.params.N), refBlock = b.info;
      {
        Capped cap(kNrCpuBaseline);
        ASSERT_TRUE(nrLdpcEncode(refBlock.data(), ref.data(), &b.params));
      }
      for (uint8_t level = kNrCpuBaseline; level <= widest; level++) {
        Capped cap(level);
        ASSERT_EQ(cap.level_, level);
        std::vector<int32_t> cw(b.params.N + 1, 5), block = b.info;
        ASSERT_TRUE(nrLdpcEncode(block.data(), cw.data(), &b.params));
        ASSERT_EQ(cw[b.params.N], 5) << "wrote past N";
        cw.resize(b.params.N);
        EXPECT_EQ(cw, ref) << "level " << +level << " bg " << bg << " Zc " << zc;
        EXPECT_EQ(block, refBlock);
        std::vector<int8_t> bytes(b.params.N + 1, 5), byteBlock(b.info.begin(), b.info.end());
        ASSERT_TRUE(nrLdpcEncodeBytes(byteBlock.data(), bytes.data(), &b.params,
                                      nrLdpcParityCols(&b.params)));
        ASSERT_EQ(bytes[b.params.N], 5) << "wrote past N";
        EXPECT_EQ(std::vector<int32_t>(bytes.begin(), bytes.end() - 1), ref)
            << "bytes, level " << +level << " bg " << bg << " Zc " << zc;
        EXPECT_EQ(std::vector<int32_t>(byteBlock.begin(), byteBlock.end()), refBlock);
      }
    }
}

// Asked for the first c parity column blocks, the encoder writes exactly the prefix of the full
// codeword that ends with them and leaves the rest of the array alone.
TEST(LdpcEncode, PartialParityIsAPrefixOfTheFullCodeword) {
  for (int bg = 1; bg <= 2; bg++)
    for (int p : {0, 9, 24, 50}) {
      const int zc = gnrLdpcLiftSizes[p];
      const Block b = makeBlock(bg, p, (bg == 1 ? 22 : 10) * zc - 3, 5 + p);
      std::vector<int32_t> full(b.params.N), block = b.info;
      nrLdpcEncode(block.data(), full.data(), &b.params);
      const int rows = nrLdpcParityCols(&b.params);
      ASSERT_EQ(rows, bg == 1 ? 46 : 42);
      const int sys = b.params.K - 2 * zc;
      for (int c : {-3, 0, 1, 3, 4, 5, 17, rows - 1, rows, rows + 9}) {
        std::vector<int32_t> cw(b.params.N, 9);
        block = b.info;
        ASSERT_TRUE(nrLdpcEncodeParity(block.data(), cw.data(), &b.params, c));
        const int written = sys + std::clamp(c, 0, rows) * zc;
        for (int k = 0; k < b.params.N; k++)
          ASSERT_EQ(cw[k], k < written ? full[k] : 9) << "bg " << bg << " Zc " << zc << " c " << c;
      }
    }
}
