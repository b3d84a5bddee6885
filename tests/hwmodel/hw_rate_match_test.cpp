#include "hwmodel/hw_rate_match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/hwmodel/hw_test_util.h"
#include "tests/test_util.h"

using hwtest::Shape;

namespace {

struct Geo {
  int32_t Zc, bitLen, fS, fE;
};

Geo geoOf(NrHwCwParams r) {
  for (int32_t& p : r.m_k0) p = 0;  // the geometry does not depend on the row starts
  LdpcCoreParams core;
  EXPECT_TRUE(nrHwCoreParamCalc(&r, &core));
  Geo g{core.Zc, 0, core.Kp - 2 * core.Zc, core.K - 2 * core.Zc};
  int32_t num = 0;
  nrHwBankGeometry(core.Zc, core.Zthr, core.zExpAbove, &g.bitLen, &num);
  return g;
}

// A cell whose slot for circular-buffer position p holds p, so that every FIFO element names the
// position it was read from.
std::vector<int32_t> labelledCell(const NrHwCwParams& r) {
  const Geo g = geoOf(r);
  std::vector<int32_t> cell(kHwCellSlots, -9);
  const int32_t N = (r.bgIdx == 0 ? 66 : 50) * g.Zc;
  for (int32_t p = 0; p < N; p++) cell[(p / g.bitLen) * kHwBankRowSlots + p % g.bitLen] = p;
  return cell;
}

// TS 38.212 5.4.2.1 position by position: the first count positions selected from k0 on.
std::vector<int32_t> selectedPositions(const NrHwCwParams& r, int32_t k0, int64_t count) {
  const Geo g = geoOf(r);
  std::vector<int32_t> sel;
  for (int32_t p = k0; static_cast<int64_t>(sel.size()) < count; p = (p + 1) % r.Ncb)
    if (p < g.fS || p >= g.fE) sel.push_back(p);
  return sel;
}

// Row starts found by walking (for buffers the closed form does not cover, Ncb < K - 2 Zc).
void walkStarts(NrHwCwParams* r, int32_t k0) {
  const std::vector<int32_t> sel =
      selectedPositions(*r, k0, static_cast<int64_t>(r->Qm) * r->eRowSmall + 1);
  for (int32_t j = 0; j < 8; j++) r->m_k0[j] = j < r->Qm ? sel[j * r->eRowSmall] : 0;
}

struct Case {
  const char* what;
  Shape shape;
  int32_t walkK0;  // >= 0: row starts by walking from this k0 (shape.k0 unused)
};

Shape shape(int32_t bgIdx, int32_t Zc, int32_t fillers, int32_t Qm, int32_t layers, int32_t eRow,
            int32_t k0, int32_t Ncb = 0) {
  Shape s{};
  s.bgIdx = bgIdx;
  s.Zc = Zc;
  s.C = 2;
  s.tbCrc24 = 1;
  s.infoLen = (bgIdx == 0 ? 22 : 10) * Zc - 24 - fillers;
  s.Qm = Qm;
  s.layers = layers;
  s.eRowSmall = eRow;
  s.cbBoundary = 0;  // block 0 of the smaller E, block 1 of the larger
  s.k0 = k0;
  s.Ncb = Ncb;
  return s;
}

}  // namespace

// Element i of FIFO j is the position of selected bit j * eRow + i, for the smaller and the larger
// E: across the fillers (also when they start at a double-row boundary, and for the threshold
// sizes 48, 40 and 44 whose reading resumes at double row (kb - 2) / 2), from a k0 among them,
// around the end of the buffer, over several passes, and for buffers that end before, inside or
// just after the fillers.
TEST(HwRateMatch, FifosHoldTheSelectedBitsRowByRow) {
  const Case cases[] = {
      {"Qm 2, E 6, no fillers touched", shape(1, 8, 20, 2, 1, 3, 0), -1},
      {"Qm 1 across the fillers", shape(0, 16, 50, 1, 1, 400, 0), -1},
      {"fillers from a double-row boundary", shape(0, 16, 32, 4, 2, 300, 0), -1},
      {"threshold 48", shape(0, 48, 61, 6, 1, 500, 17 * 48), -1},
      {"threshold 40", shape(1, 40, 33, 8, 4, 120, 13 * 40), -1},
      {"threshold 44", shape(0, 44, 1, 2, 3, 1100, 56 * 44), -1},
      {"k0 among the fillers", shape(0, 64, 300, 4, 2, 700, 20 * 64 - 100), -1},
      {"many passes", shape(1, 7, 6, 8, 4, 1000, 43 * 7), -1},
      {"eight bank rows per column block", shape(0, 384, 500, 8, 2, 4000, 33 * 384), -1},
      {"buffer ending before the fillers", shape(0, 32, 200, 4, 1, 900, 0, 400), 5},
      {"buffer ending inside the fillers", shape(0, 32, 200, 2, 2, 900, 0, 560), 77},
      {"buffer ending just after the fillers", shape(1, 72, 100, 6, 1, 200, 0, 8 * 72 + 1), 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NrHwCwParams rec;
    if (c.walkK0 >= 0) {
      Shape s = c.shape;
      s.Ncb = 0;
      rec = hwtest::recordOf(s);
      rec.Ncb = c.shape.Ncb;
      walkStarts(&rec, c.walkK0);
    } else {
      rec = hwtest::recordOf(c.shape);
    }
    const int32_t k0 = c.walkK0 >= 0 ? c.walkK0 : c.shape.k0;
    const std::vector<int32_t> cell = labelledCell(rec);
    std::vector<int32_t> fifos(kHwFifoNum * kHwFifoDepth, -1);
    nrHwRateMatchReset();
    for (int32_t r = 0; r < 2; r++) {
      const int32_t eRow = rec.eRowSmall + (r > rec.cbBoundary ? rec.layerNumM1 + 1 : 0);
      const std::vector<int32_t> sel =
          selectedPositions(rec, k0, static_cast<int64_t>(rec.Qm) * eRow);
      int32_t rmFinish = 0;
      ASSERT_TRUE(nrHwRateMatch(&rec, 0, cell.data(), fifos.data(), &rmFinish, nullptr));
      EXPECT_EQ(rmFinish, 1);
      for (int32_t j = 0; j < rec.Qm; j++)
        for (int32_t i = 0; i < eRow; i++)
          ASSERT_EQ(fifos[static_cast<int64_t>(j) * kHwFifoDepth + i],
                    sel[static_cast<int64_t>(j) * eRow + i])
              << "block " << r << ", FIFO " << j << ", element " << i;
    }
  }
}

// Each call completes one block and moves to the next, back to 0 after the last; the two codewords
// keep their own block index.
TEST(HwRateMatch, ProcessesTheBlocksOfEachCodewordInTurn) {
  Shape s = shape(0, 16, 10, 2, 1, 40, 0);
  s.C = 3;
  const NrHwCwParams rec = hwtest::recordOf(s);
  const std::vector<int32_t> cell = labelledCell(rec);
  std::vector<int32_t> fifos(kHwFifoNum * kHwFifoDepth);
  int32_t rmFinish = 0;
  nrHwRateMatchReset();
  const int32_t expectCw0[] = {1, 2, 0, 1};
  for (int32_t step = 0; step < 4; step++) {
    ASSERT_TRUE(nrHwRateMatch(&rec, 0, cell.data(), fifos.data(), &rmFinish, nullptr));
    EXPECT_EQ(nrHwRateMatchBlock(0), expectCw0[step]);
    EXPECT_EQ(nrHwRateMatchBlock(1), 0);
  }
  ASSERT_TRUE(nrHwRateMatch(&rec, 1, cell.data(), fifos.data(), &rmFinish, nullptr));
  EXPECT_EQ(nrHwRateMatchBlock(1), 1);
  EXPECT_EQ(nrHwRateMatchBlock(0), 1);
  nrHwRateMatchReset();
  EXPECT_EQ(nrHwRateMatchBlock(0), 0);
  EXPECT_EQ(nrHwRateMatchBlock(1), 0);
}

// The dump holds the selected bits of a codeword's blocks in reader order, "%d \n" per bit: the
// first block replaces an old file, the next ones append, and the first block of the next run
// replaces it again.
TEST(HwRateMatch, DumpFileHoldsTheSelectedBitsOfOneRun) {
  ScopedTempDir dir;
  Shape s = shape(1, 6, 4, 4, 1, 6, 0);
  const NrHwCwParams rec = hwtest::recordOf(s);
  const std::vector<int32_t> cell = labelledCell(rec);
  std::vector<int32_t> fifos(kHwFifoNum * kHwFifoDepth);
  writeWholeFile("res_hw_fifo.txt", "old\n");
  nrHwRateMatchReset();
  auto lines = [&](int32_t r) {
    const int32_t eRow = rec.eRowSmall + (r > rec.cbBoundary ? 1 : 0);
    std::string text;
    for (int32_t p : selectedPositions(rec, 0, static_cast<int64_t>(rec.Qm) * eRow))
      text += std::to_string(p) + " \n";
    return text;
  };
  int32_t rmFinish = 0;
  ASSERT_TRUE(nrHwRateMatch(&rec, 0, cell.data(), fifos.data(), &rmFinish, "res_hw_fifo.txt"));
  EXPECT_EQ(readWholeFile("res_hw_fifo.txt"), lines(0));
  ASSERT_TRUE(nrHwRateMatch(&rec, 0, cell.data(), fifos.data(), &rmFinish, "res_hw_fifo.txt"));
  EXPECT_EQ(readWholeFile("res_hw_fifo.txt"), lines(0) + lines(1));
  ASSERT_TRUE(nrHwRateMatch(&rec, 0, cell.data(), fifos.data(), &rmFinish, "res_hw_fifo.txt"));
  EXPECT_EQ(readWholeFile("res_hw_fifo.txt"), lines(0));

  // A dump that cannot be written is reported; the FIFOs are complete all the same.
  nrHwRateMatchReset();
  std::fill(fifos.begin(), fifos.end(), -1);
  const ConsoleText text = captureConsole([&] {
    EXPECT_FALSE(
        nrHwRateMatch(&rec, 0, cell.data(), fifos.data(), &rmFinish, "no/such/dir/fifo.txt"));
  });
  EXPECT_NE(text.err.find("no/such/dir/fifo.txt"), std::string::npos);
  EXPECT_EQ(fifos[0], selectedPositions(rec, 0, 1)[0]);
}

TEST(HwRateMatch, RefusalsTouchNoFifo) {
  Shape s = shape(0, 16, 10, 2, 1, 40, 0);
  s.C = 3;
  const NrHwCwParams three = hwtest::recordOf(s);
  s.C = 1;
  s.tbCrc24 = 0;
  s.infoLen += 8;
  const NrHwCwParams one = hwtest::recordOf(s);
  NrHwCwParams badQm = one;
  badQm.Qm = 3;
  const std::vector<int32_t> cell = labelledCell(three);
  std::vector<int32_t> fifos(kHwFifoNum * kHwFifoDepth, -1);
  int32_t rmFinish = 0;
  nrHwRateMatchReset();
  ASSERT_TRUE(nrHwRateMatch(&three, 0, cell.data(), fifos.data(), &rmFinish, nullptr));
  ASSERT_TRUE(nrHwRateMatch(&three, 0, cell.data(), fifos.data(), &rmFinish, nullptr));
  std::fill(fifos.begin(), fifos.end(), -1);
  rmFinish = 0;

  const ConsoleText text = captureConsole([&] {
    EXPECT_FALSE(nrHwRateMatch(&three, 2, cell.data(), fifos.data(), &rmFinish, nullptr));
    EXPECT_FALSE(nrHwRateMatch(&badQm, 0, cell.data(), fifos.data(), &rmFinish, nullptr));
    // Block 2 of a codeword now described with one block: refused, the reader back at block 0.
    EXPECT_FALSE(nrHwRateMatch(&one, 0, cell.data(), fifos.data(), &rmFinish, nullptr));
  });
  EXPECT_NE(text.err.find("codeword 2"), std::string::npos);
  EXPECT_NE(text.err.find("Qm = 3"), std::string::npos);
  EXPECT_NE(text.err.find("code block 2 of codeword 0"), std::string::npos);
  EXPECT_EQ(rmFinish, 0);
  EXPECT_TRUE(std::all_of(fifos.begin(), fifos.end(), [](int32_t v) { return v == -1; }));
  EXPECT_EQ(nrHwRateMatchBlock(0), 0);
  EXPECT_TRUE(nrHwRateMatch(&one, 0, cell.data(), fifos.data(), &rmFinish, nullptr));
}
