#include "phy/coding/ldpc_tables.h"

#include <gtest/gtest.h>

#include <set>

namespace {

template <int M, int Cols>
void checkGraph(const int32_t (&t)[kLiftSetN][M][Cols], int expectEntries) {
  const int kb = Cols - M;
  for (int s = 0; s < kLiftSetN; s++) {
    int entries = 0;
    for (int i = 0; i < M; i++)
      for (int j = 0; j < Cols; j++) {
        // Every set has its non-empty blocks at the same positions.
        EXPECT_EQ(t[s][i][j] >= 0, t[0][i][j] >= 0) << s << "," << i << "," << j;
        EXPECT_GE(t[s][i][j], -1);
        EXPECT_LT(t[s][i][j], 384);
        entries += t[s][i][j] >= 0;
        // Rows 4.. carry one identity block in their own extension parity column.
        if (i >= 4 && j >= kb + 4) {
          EXPECT_EQ(t[s][i][j], j == kb + i ? 0 : -1);
        }
      }
    EXPECT_EQ(entries, expectEntries) << "set " << s;
  }
}

}  // namespace

TEST(LdpcTables, BaseGraphsHaveTheStandardStructure) {
  checkGraph(gnrLdpcBg1, 316);
  checkGraph(gnrLdpcBg2, 197);
  // Spot values of Tables 5.3.2-2/-3 (row 0, column 0, sets 0 and 1).
  EXPECT_EQ(gnrLdpcBg1[0][0][0], 250);
  EXPECT_EQ(gnrLdpcBg1[1][0][0], 307);
  EXPECT_EQ(gnrLdpcBg2[0][0][0], 9);
  EXPECT_EQ(gnrLdpcBg2[1][0][0], 174);
}

TEST(LdpcTables, LiftingSizesAreTheSetsOfTable5321) {
  std::set<int> all;
  int begin = 0;
  for (int s = 0; s < kLiftSetN; s++) {
    const int a = s == 0 ? 2 : 2 * s + 1;  // set generators 2, 3, 5, 7, ..., 15
    for (int p = begin; p < gnrLdpcLiftSetEnd[s]; p++) {
      EXPECT_EQ(gnrLdpcLiftSizes[p], a << (p - begin)) << "set " << s;
      all.insert(gnrLdpcLiftSizes[p]);
    }
    begin = gnrLdpcLiftSetEnd[s];
  }
  EXPECT_EQ(begin, 51);
  EXPECT_EQ(all.size(), 51u);
  EXPECT_EQ(*all.rbegin(), 384);
}
