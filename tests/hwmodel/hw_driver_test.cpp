// The reference runs of the encoder hardware model: every reference file against the software
// chain of phy/coding (payload, codeword, selected and rate-matched bits), the file headers and
// formats, files of earlier runs replaced, refusals and files that cannot be written.
#include "hwmodel/hw_driver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "hwmodel/hw_ref_files.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/common/tbs.h"
#include "tests/hwmodel/hw_test_util.h"
#include "tests/test_util.h"

namespace {

struct Alloc {
  int32_t mcs, layers, nRePerPrb, nPrb;
};

std::string describe(const Alloc& a) {
  return "MCS " + std::to_string(a.mcs) + ", " + std::to_string(a.layers) + " layers, " +
         std::to_string(a.nRePerPrb) + " REs x " + std::to_string(a.nPrb) + " PRBs";
}

// Compares texts of up to megabytes: on a difference it tells where, not the whole texts.
::testing::AssertionResult sameText(const std::string& got, const std::string& want) {
  if (got == want) return ::testing::AssertionSuccess();
  size_t i = 0;
  while (i < got.size() && i < want.size() && got[i] == want[i]) i++;
  const size_t lineStart = i == 0 ? 0 : got.rfind('\n', i - 1) + 1;
  const size_t line = static_cast<size_t>(std::count(got.begin(), got.begin() + lineStart, '\n'));
  return ::testing::AssertionFailure()
         << "texts differ at line " << line + 1 << ": \"" << got.substr(lineStart, 24)
         << "\" instead of \"" << want.substr(lineStart, 24) << "\" (" << got.size() << " / "
         << want.size() << " bytes)";
}

// The exact text of n values, one line each ("%d \n" with blank, "%d\n" without).
std::string lines(const std::vector<int32_t>& v, bool blank) {
  std::string s;
  for (int32_t x : v) s += std::to_string(x) + (blank ? " \n" : "\n");
  return s;
}

std::string tagLine(unsigned tag, uint32_t value) {
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%01x %08x \n", tag, value);
  return buf;
}

// The software chain's view of a prepared run: the transport block with its CRC and, per code
// block, the code block, the codeword (fillers -1) and the interleaved output.
struct Reference {
  NrHwCwParams rec{};
  uint64_t tbs = 0;
  std::vector<int32_t> tb;
  std::vector<hwtest::SwBlock> blocks;
};

Reference referenceOf(const Alloc& a) {
  Reference ref;
  std::vector<int32_t> payload(2 * static_cast<size_t>(kHwPayloadBits));
  uint32_t regs[2 * kHwCfgRegWords];
  ref.tbs = nrHwTxPrepare(a.mcs, a.layers, a.nRePerPrb, a.nPrb, regs, payload.data());
  ref.rec = nrHwCwParams[0];
  ref.tb = hwtest::swTransportBlock(ref.rec, payload.data());
  for (int32_t r = 0; r < ref.rec.cbNum; r++)
    ref.blocks.push_back(hwtest::swBlock(ref.rec, ref.tb, 0, r));
  return ref;
}

int32_t eRowOf(const NrHwCwParams& rec, int32_t r) {
  return rec.eRowSmall + (r > rec.cbBoundary ? rec.layerNumM1 + 1 : 0);
}

// The selected bits e_0 .. e_(E-1) of a block from its interleaved output: e_(j eRow + i) is output
// bit i Qm + j.
std::vector<int32_t> selectedBits(const std::vector<int32_t>& out, int32_t qm) {
  const size_t eRow = out.size() / qm;
  std::vector<int32_t> e(out.size());
  for (size_t j = 0; j < static_cast<size_t>(qm); j++)
    for (size_t i = 0; i < eRow; i++) e[j * eRow + i] = out[i * qm + j];
  return e;
}

// Allocations the hardware model and the software chain size alike (integer and float rates agree
// on the transport block): one code block of base graph 2 with Kb = 6, 10 and lifting sizes up to
// 256, segmented transport blocks of both base graphs, blocks after cbBoundary with the larger E,
// every modulation order and up to four layers.
const Alloc kAllocs[] = {
    {0, 1, 12, 1},    {4, 1, 48, 2},    {3, 1, 20, 5},     {8, 1, 60, 8},
    {4, 2, 100, 10},  {5, 4, 36, 2},    {1, 1, 156, 273},  {9, 2, 132, 25},
    {20, 2, 120, 80}, {14, 3, 144, 60}, {27, 1, 156, 273}, {26, 4, 156, 51},
};

}  // namespace

// "lpdc_encRMout.txt" over all code blocks is the codeword nrDlschEncode sends for redundancy
// version 0; the table reaches one and many code blocks, both base graphs and BG2 with Kb = 6.
TEST(HwDriver, RateMatchedOutputFileIsTheSharedChannelEncoderOutput) {
  ScopedTempDir dir;
  bool single = false, segmented = false, kb6 = false, bg1 = false, largeE = false;
  for (const Alloc& a : kAllocs) {
    const std::string what = describe(a);
    int32_t qm = 0, c = 0;
    float rate = 0;
    uint64_t swTbs = 0, G = 0;
    nrTbsCalc(a.mcs, a.nRePerPrb, a.nPrb, a.layers, &qm, &c, &rate, &swTbs, &G);
    std::vector<int32_t> expect(G);
    const int64_t sent = nrDlschEncode(a.mcs, a.layers, a.nRePerPrb, a.nPrb, expect.data(), 0);
    ASSERT_GT(sent, 0) << what;
    expect.resize(sent);

    ASSERT_TRUE(nrHwPdschRefRun(a.mcs, a.layers, a.nRePerPrb, a.nPrb)) << what;
    const NrHwCwParams& rec = nrHwCwParams[0];
    ASSERT_TRUE(sameText(readWholeFile(kHwRmOutFile), lines(expect, false))) << what;

    single |= rec.cbNum == 1;
    segmented |= rec.cbNum > 1;
    bg1 |= rec.bgIdx == 0;
    largeE |= rec.cbBoundary < rec.cbNum - 1;
    // Kb = 6: B = A + 16 <= 192 (TS 38.212 5.2.2).
    kb6 |= rec.bgIdx == 1 && rec.cbNum == 1 && rec.infoLen + 16 <= 192;
  }
  EXPECT_TRUE(single && segmented && kb6 && bg1 && largeE);
}

// Every reference file of a run, block by block, against the software chain: the payload bits
// (the last block of a segmented transport block without its CRC), the encoder cell headed by the
// previous block's headInfo, the selected bits, the interleaved output.
TEST(HwDriver, ReferenceFilesHoldEveryStageOfEveryBlock) {
  ScopedTempDir dir;
  bool bg2Rows = false, truncatedLast = false;
  for (const Alloc& a : kAllocs) {
    const std::string what = describe(a);
    const Reference ref = referenceOf(a);
    const NrHwCwParams& rec = ref.rec;
    {
      const ConsoleText text = captureConsole(
          [&] { ASSERT_TRUE(nrHwPdschRefRun(a.mcs, a.layers, a.nRePerPrb, a.nPrb)) << what; });
      EXPECT_EQ(text.out, "TBS is " + std::to_string(ref.tbs)) << what;
      EXPECT_EQ(text.err, "") << what;
    }

    const int32_t C = rec.cbNum;
    const int32_t A = static_cast<int32_t>(ref.tbs);
    // ldpc_infobits.txt: the transport block itself, block by block.
    EXPECT_TRUE(sameText(readWholeFile(kHwInfoBitsFile),
                         lines(std::vector<int32_t>(ref.tb.begin(), ref.tb.begin() + A), true)))
        << what;
    truncatedLast |= C > 1;

    std::string cbEnc, fifoI, rmOut;
    for (int32_t r = 0; r < C; r++) {
      const hwtest::SwBlock& b = ref.blocks[r];
      if (r == 0) {
        cbEnc += tagLine(1, 0) + tagLine(2, 0) + tagLine(3, 0) + tagLine(4, 0);
      } else {
        cbEnc += tagLine(1, 0) + tagLine(2, eRowOf(rec, r - 1)) + tagLine(3, r - 1) + tagLine(4, 0);
      }
      cbEnc += lines(hwtest::withoutFillerMarks(b.codeword), false) + "f ffffffff \n\n";
      fifoI += lines(selectedBits(b.out, rec.Qm), true);
      rmOut += lines(b.out, false);
    }
    EXPECT_TRUE(sameText(readWholeFile(kHwCbEncFile), cbEnc)) << what;
    EXPECT_TRUE(sameText(readWholeFile(kHwFifoIFile), fifoI)) << what;
    EXPECT_TRUE(sameText(readWholeFile(kHwRmOutFile), rmOut)) << what;

    // Base graph 2: 50 column blocks of bankNumOneZc rows per block, every row bitLenOneBank bits.
    if (rec.bgIdx == 1) {
      LdpcCoreParams core;
      ASSERT_TRUE(nrHwCoreParamCalc(&rec, &core));
      int32_t bitLen = 0, bankNum = 0;
      ASSERT_TRUE(nrHwBankGeometry(core.Zc, core.Zthr, core.zExpAbove, &bitLen, &bankNum));
      EXPECT_EQ(ref.blocks[0].codeword.size(), static_cast<size_t>(50 * bankNum * bitLen));
      bg2Rows = true;
    }
    // headInfo describes the last block.
    EXPECT_EQ(headInfo[1], static_cast<uint32_t>(eRowOf(rec, C - 1))) << what;
    EXPECT_EQ(headInfo[2], static_cast<uint32_t>(C - 1)) << what;
    EXPECT_EQ(headInfo[3], 0u) << what;
    EXPECT_EQ(LdpcCbBufCellFlg[0][0] + LdpcCbBufCellFlg[0][1], 0) << what;
    EXPECT_EQ(RmFinishFlag[0], 1) << what;
  }
  EXPECT_TRUE(bg2Rows && truncatedLast);
}

// Files left by an earlier run, longer or unrelated, are replaced by the first block of a run:
// a single-block run writes each per-block file once.
TEST(HwDriver, FilesOfAnEarlierRunAreReplaced) {
  ScopedTempDir dir;
  const char* files[] = {kHwInfoBitsFile, kHwCbEncFile, kHwFifoIFile, kHwRmOutFile};
  for (const char* f : files) writeWholeFile(f, "stale text of another tool\n7 7 7\n");
  ASSERT_TRUE(nrHwPdschRefRun(0, 1, 12, 1));
  std::string single[4];
  for (int i = 0; i < 4; i++) single[i] = readWholeFile(files[i]);

  // A run of many blocks, then the single-block run again: the same files as the first time.
  ASSERT_TRUE(nrHwPdschRefRun(9, 2, 132, 25));
  ASSERT_GT(nrHwCwParams[0].cbNum, 1);
  ASSERT_TRUE(nrHwPdschRefRun(0, 1, 12, 1));
  for (int i = 0; i < 4; i++) {
    EXPECT_TRUE(sameText(readWholeFile(files[i]), single[i])) << files[i];
    EXPECT_EQ(single[i].find("stale"), std::string::npos) << files[i];
  }
  // One block: one cbEnc record.
  EXPECT_EQ(single[1].rfind("1 00000000 \n", 0), 0u);
  EXPECT_EQ(single[1].find("f ffffffff"), single[1].size() - 13);
}

// A request the model refuses writes nothing and says why; so does a record nrHwCbRefRun refuses.
TEST(HwDriver, RefusedRequestsWriteNothing) {
  ScopedTempDir dir;
  const ConsoleText t = captureConsole([] {
    EXPECT_FALSE(nrHwPdschRefRun(27, 4, 156, 275 * 40));  // beyond the code-block register
    EXPECT_FALSE(nrHwPdschRefRun(5, 5, 100, 10));         // layers beyond the 2-bit field
  });
  EXPECT_NE(t.err.find("nrHwPdschRefRun()"), std::string::npos) << t.err;
  EXPECT_EQ(t.out, "");

  NrHwCwParams bad = hwtest::recordOf({0, 64, 1000, 1, 0, 2, 1, 500, 0, 0, 0});
  bad.Qm = 3;
  std::vector<int32_t> payload(1000, 1), crc(24, -1);
  const std::string err =
      captureDiag([&] { EXPECT_FALSE(nrHwCbRefRun(&bad, payload.data(), crc.data())); });
  EXPECT_NE(err.find("nrHwCbRefRun()"), std::string::npos) << err;
  EXPECT_EQ(crc[0], -1);
  for (const char* f : {kHwInfoBitsFile, kHwCbEncFile, kHwFifoIFile, kHwRmOutFile, kHwCrcFile,
                        kHwCirBufFile, kHwFifoFile})
    EXPECT_NE(access(f, F_OK), 0) << f;
}

// A file that cannot be written fails the run; the run goes on and writes the others.
TEST(HwDriver, UnwritableFileFailsTheRunButNotTheOtherFiles) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir(kHwCbEncFile, 0755), 0);
  const ConsoleText t = captureConsole([] { EXPECT_FALSE(nrHwPdschRefRun(9, 2, 132, 25)); });
  EXPECT_NE(t.out.find("Fail to open file: ./res_hw_cbEnc.txt!"), std::string::npos) << t.out;
  EXPECT_NE(t.err.find("res_hw_cbEnc.txt"), std::string::npos) << t.err;
  const Reference ref = referenceOf({9, 2, 132, 25});
  std::string rmOut;
  for (const hwtest::SwBlock& b : ref.blocks) rmOut += lines(b.out, false);
  EXPECT_TRUE(sameText(readWholeFile(kHwRmOutFile), rmOut));
}

// nrHwCbRefRun on records built by hand: each block's parity, "res_hw_crc.txt" (payload then
// parity), "res_hw_cirbuf.txt" (the codeword) and "res_hw_fifo.txt" (the selected bits) against the
// software chain, for one block with CRC16 or CRC24A and for segmented blocks of both base graphs.
TEST(HwDriver, PerBlockRunMatchesTheSoftwareChain) {
  ScopedTempDir dir;
  using hwtest::Shape;
  // bgIdx, Zc, infoLen, C, tbCrc24, Qm, layers, eRowSmall, cbBoundary, k0, Ncb
  const Shape shapes[] = {
      {1, 7, 24, 1, 0, 2, 1, 30, 0, 0, 0},           // BG2, Kb = 6 size, CRC16
      {0, 384, 8424, 1, 1, 8, 1, 3168, 0, 0, 0},     // BG1, CRC24A, no fillers
      {0, 176, 3000, 3, 1, 4, 2, 1100, 1, 0, 0},     // BG1, three blocks, the last with larger E
      {1, 96, 900, 2, 1, 6, 4, 250, 0, 0, 0},        // BG2, two blocks
      {1, 20, 104, 1, 0, 1, 3, 400, 0, 13 * 20, 0},  // BG2, rv 1 start, Qm 1
  };
  for (const Shape& s : shapes) {
    const NrHwCwParams rec = hwtest::recordOf(s);
    const std::string what = "BG" + std::to_string(s.bgIdx + 1) + " Zc " + std::to_string(s.Zc) +
                             " C " + std::to_string(s.C);
    const int32_t A = hwtest::tbBits(rec);
    std::vector<int32_t> payload(A);
    for (int32_t i = 0; i < A; i++) payload[i] = (i * 7 + i / 5 + s.Zc) % 3 == 0;
    const std::vector<int32_t> tb = hwtest::swTransportBlock(rec, payload.data());
    const int32_t n = rec.cbNum > 1 ? 24 : hwtest::tbCrcLen(rec);
    std::vector<int32_t> crc(rec.cbNum * n + 1, -5);
    ASSERT_TRUE(nrHwCbRefRun(&rec, payload.data(), crc.data())) << what;
    EXPECT_EQ(crc.back(), -5) << what;

    std::string crcText, cirbuf, fifo;
    for (int32_t r = 0; r < rec.cbNum; r++) {
      const hwtest::SwBlock b = hwtest::swBlock(rec, tb, s.k0, r);
      // The code block is the payload (with the transport-block CRC at the end of the last)
      // followed by the parity the run returned.
      const std::vector<int32_t> cb(b.cb.begin(), b.cb.begin() + rec.infoLen + n);
      EXPECT_EQ(std::vector<int32_t>(crc.begin() + r * n, crc.begin() + (r + 1) * n),
                std::vector<int32_t>(cb.begin() + rec.infoLen, cb.end()))
          << what << ", block " << r;
      crcText += lines(cb, true);
      cirbuf += lines(hwtest::withoutFillerMarks(b.codeword), true);
      fifo += lines(selectedBits(b.out, rec.Qm), true);
    }
    EXPECT_TRUE(sameText(readWholeFile(kHwCrcFile), crcText)) << what;
    EXPECT_TRUE(sameText(readWholeFile(kHwCirBufFile), cirbuf)) << what;
    EXPECT_TRUE(sameText(readWholeFile(kHwFifoFile), fifo)) << what;
  }
}
