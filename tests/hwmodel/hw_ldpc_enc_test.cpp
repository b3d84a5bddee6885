#include "hwmodel/hw_ldpc_enc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "tests/hwmodel/hw_test_util.h"
#include "tests/test_util.h"

using hwtest::Shape;

namespace {

int32_t shift(int bgIdx, int iLS, int row, int col) {
  return bgIdx == 0 ? gnrLdpcBg1[iLS][row][col] : gnrLdpcBg2[iLS][row][col];
}

// The edges of a row as int32 values: column, then the eight shifts.
std::vector<int32_t> edgesOf(const int32_t* tbl, int32_t begin, int32_t end) {
  return std::vector<int32_t>(tbl + begin, tbl + end);
}

std::vector<int32_t> expectedEdges(int bgIdx, int row) {
  const int kb = bgIdx == 0 ? 22 : 10;
  const int cols = bgIdx == 0 ? kBg1Cols : kBg2Cols;
  std::vector<int32_t> v;
  for (int col = 0; col < cols; col++) {
    if (shift(bgIdx, 0, row, col) < 0) continue;
    const bool take = row < 4
                          ? col < kb || (row == 1 && col == kb + 1) || (row == 2 && col == kb + 3)
                          : col != kb + row;
    if (!take) continue;
    v.push_back(col);
    for (int s = 0; s < 8; s++) v.push_back(shift(bgIdx, s, row, col));
  }
  return v;
}

}  // namespace

// The edge table lists the base graphs row by row in column order with the shifts of every set;
// core rows keep their systematic edges plus the one parity edge through which the sums of rows
// 0 and 3 enter rows 1 and 2.
TEST(HwLdpcEnc, EdgeTableHoldsTheBaseGraphsRowByRow) {
  const NrHwEdgeTbl& t = nrHwBgEdgeTbl;
  const int32_t coreOfst[8] = {0, 153, 306, 468, 621, 675, 756, 810};
  for (int i = 0; i < 8; i++) EXPECT_EQ(t.coreRowOfst[i], coreOfst[i]) << "core row " << i;
  for (int bgIdx = 0; bgIdx < 2; bgIdx++) {
    const int rows = bgIdx == 0 ? kBg1Rows : kBg2Rows;
    for (int row = 0; row < rows; row++) {
      const int32_t* tbl = row < 4 ? t.core : t.ext;
      int32_t begin, end;
      if (row < 4) {
        const int i = bgIdx * 4 + row;
        begin = t.coreRowOfst[i];
        end = i + 1 < 8 ? t.coreRowOfst[i + 1] : t.coreLen;
      } else {
        const int i = (bgIdx == 0 ? 0 : kHwExtRowsBg1) + row - 4;
        begin = t.extRowOfst[i];
        end = i + 1 < kHwExtRowsBg1 + kHwExtRowsBg2 ? t.extRowOfst[i + 1] : t.extLen;
      }
      EXPECT_EQ(edgesOf(tbl, begin, end), expectedEdges(bgIdx, row))
          << "BG" << bgIdx + 1 << " row " << row;
    }
  }
  // The extra parity edges are identities in every set.
  for (int s = 0; s < 8; s++) {
    EXPECT_EQ(shift(0, s, 1, 23), 0);
    EXPECT_EQ(shift(0, s, 2, 25), 0);
    EXPECT_EQ(shift(1, s, 1, 11), 0);
    EXPECT_EQ(shift(1, s, 2, 13), 0);
  }
  EXPECT_EQ(t.coreLen, (69 + 29) * kHwEdgeVals);
  EXPECT_EQ(t.extLen, (198 + 123) * kHwEdgeVals);
}

// BG2 row 36 (columns 0, 2, 7) is followed by row 37 (columns 10, 13): a row cannot be told from
// the next by a falling column index there, so rows end at the next row's start, and the parities
// of rows 36 and 37 equal the software encoder's for every set (the whole codeword is compared in
// hw_chain_test).
TEST(HwLdpcEnc, RowsEndAtTheNextRowStartWhereColumnsKeepRising) {
  const NrHwEdgeTbl& t = nrHwBgEdgeTbl;
  const int32_t row36 = t.extRowOfst[kHwExtRowsBg1 + 32];
  const int32_t row37 = t.extRowOfst[kHwExtRowsBg1 + 33];
  EXPECT_LT(t.ext[row37 - kHwEdgeVals], t.ext[row37]);  // last column of 36 < first of 37
  EXPECT_EQ((row37 - row36) / kHwEdgeVals, 3);

  hwtest::HwMem m;
  for (int32_t Zc : {2, 3, 5, 7, 9, 11, 13, 15}) {
    Shape s{};
    s.bgIdx = 1;
    s.Zc = Zc;
    s.C = 1;
    s.infoLen = 10 * Zc - 16;
    s.Qm = 1;
    s.layers = 1;
    s.eRowSmall = 1;
    const NrHwCwParams rec = hwtest::recordOf(s);
    std::mt19937 rng(Zc);
    for (int32_t i = 0; i < rec.infoLen; i++) m.payload[i] = static_cast<int32_t>(rng() & 1);
    const std::vector<int32_t> tb = hwtest::swTransportBlock(rec, m.payload.data());
    const hwtest::SwBlock sw = hwtest::swBlock(rec, tb, 0, 0);
    LdpcCoreParams core;
    ASSERT_TRUE(nrHwCoreParamCalc(&rec, &core));
    int32_t encFinish = 0;
    ASSERT_TRUE(nrHwCrcCb(&rec, 0, m.payload.data(), m.crcOut, m.bank.data()));
    ASSERT_TRUE(nrHwLdpcEnc(&core, m.bank.data(), m.cell.data(), &encFinish));
    const std::vector<int32_t> cell = hwtest::bankBits(m.cell, core, core.N);
    // The parities of rows 36 and 37 are columns 46 and 47, cell columns 44 and 45.
    for (int32_t z = 44 * Zc; z < 46 * Zc; z++) EXPECT_EQ(cell[z], sw.codeword[z]) << "Zc " << Zc;
  }
}

// extRowStart and extRowNum select the extension columns the encoder writes: the core columns and
// those equal the software codeword, every other cell slot keeps its old value.
TEST(HwLdpcEnc, WritesTheCoreAndTheSelectedExtensionColumnsOnly) {
  Shape s{};
  s.bgIdx = 0;
  s.Zc = 20;
  s.C = 1;
  s.infoLen = 22 * 20 - 16 - 30;
  s.Qm = 2;
  s.layers = 1;
  s.eRowSmall = 10;
  NrHwCwParams rec = hwtest::recordOf(s);
  rec.extRowStart = 3;
  rec.extRowNum = 5;
  hwtest::HwMem m;
  std::mt19937 rng(5);
  for (int32_t i = 0; i < rec.infoLen; i++) m.payload[i] = static_cast<int32_t>(rng() & 1);
  const hwtest::SwBlock sw =
      hwtest::swBlock(rec, hwtest::swTransportBlock(rec, m.payload.data()), 0, 0);
  LdpcCoreParams core;
  ASSERT_TRUE(nrHwCoreParamCalc(&rec, &core));
  EXPECT_EQ(core.extColStart, 29);
  EXPECT_EQ(core.extColEnd, 34);
  ASSERT_TRUE(nrHwCrcCb(&rec, 0, m.payload.data(), m.crcOut, m.bank.data()));
  std::fill(m.cell.begin(), m.cell.end(), 5);
  int32_t encFinish = 0;
  ASSERT_TRUE(nrHwLdpcEnc(&core, m.bank.data(), m.cell.data(), &encFinish));
  EXPECT_EQ(encFinish, 1);
  for (int32_t c = 2; c < 68; c++) {
    const bool written = (c >= 22 && c < 26) || (c >= 29 && c < 34);
    for (int32_t z = 0; z < 20; z++) {
      const int32_t slot = (c - 2) * kHwBankRowSlots + z;  // one row of 20 bits per column
      ASSERT_EQ(m.cell[slot], written ? sw.codeword[(c - 2) * 20 + z] : 5) << "column " << c;
    }
    EXPECT_EQ(m.cell[(c - 2) * kHwBankRowSlots + 20], 5) << "column " << c;
  }
}

TEST(HwLdpcEnc, RefusesCoresThatDescribeNoLiftedGraph) {
  Shape s{};
  s.bgIdx = 0;
  s.Zc = 64;
  s.C = 1;
  s.infoLen = 1000;
  s.Qm = 2;
  s.layers = 1;
  s.eRowSmall = 10;
  const NrHwCwParams rec = hwtest::recordOf(s);
  LdpcCoreParams good;
  ASSERT_TRUE(nrHwCoreParamCalc(&rec, &good));
  struct Case {
    const char* what;
    void (*spoil)(LdpcCoreParams*);
  };
  const Case cases[] = {
      {"Zc of another set", [](LdpcCoreParams* c) { c->Zc = 72; }},
      {"Zc of no set", [](LdpcCoreParams* c) { c->Zc = 17; }},
      {"extension beyond the graph", [](LdpcCoreParams* c) { c->extColEnd = 69; }},
      {"extension inside the core", [](LdpcCoreParams* c) { c->extColStart = 25; }},
      {"K of another graph", [](LdpcCoreParams* c) { c->K = 10 * 64; }},
      {"threshold split of another size", [](LdpcCoreParams* c) { c->zExpAbove = 1; }},
      {"base graph 3", [](LdpcCoreParams* c) { c->bgIdx = 2; }},
  };
  hwtest::HwMem m;
  for (const Case& c : cases) {
    LdpcCoreParams core = good;
    c.spoil(&core);
    std::fill(m.cell.begin(), m.cell.end(), 5);
    int32_t encFinish = 0;
    const std::string diag = captureDiag([&] {
      EXPECT_FALSE(nrHwLdpcEnc(&core, m.bank.data(), m.cell.data(), &encFinish)) << c.what;
      EXPECT_FALSE(nrHwCellLoadSys(&core, m.bank.data(), m.cell.data())) << c.what;
    });
    EXPECT_NE(diag.find("nrHwLdpcEnc(): "), std::string::npos) << c.what;
    EXPECT_EQ(encFinish, 0) << c.what;
    EXPECT_TRUE(std::all_of(m.cell.begin(), m.cell.end(), [](int32_t v) { return v == 5; }))
        << c.what;
  }
}
