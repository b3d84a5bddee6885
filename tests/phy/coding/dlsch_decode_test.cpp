#include "phy/coding/dlsch_decode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "config/nr_config.h"
#include "phy/coding/crc.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/coding/ldpc_decode.h"
#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_rate_match.h"
#include "phy/coding/ldpc_tables.h"
#include "phy/common/cpu_features.h"
#include "phy/common/sequence.h"
#include "phy/common/tbs.h"
#include "tests/test_util.h"

namespace {

// What the transmitter sends for one transport block (TS 38.212 7.2): the transport block with
// its CRC, and the rate-matched bits of every code block, concatenated.
struct TxBlock {
  NrLdpcParams p;
  std::vector<int32_t> tbWithCrc;            // B bits
  std::vector<std::vector<int32_t>> blocks;  // K' bits per code block (data + code-block CRC)
  std::vector<int32_t> bits;                 // sumE rate-matched bits
};

TxBlock transmit(int64_t A, int64_t G, float rateX1024, int32_t Qm, uint8_t rv, int32_t layers,
                 uint32_t seed) {
  TxBlock t{};
  nrLdpcParamCalc(A, G, rateX1024, Qm, rv, layers, &t.p);
  t.p.Qm = Qm;
  std::mt19937 rng(seed);
  t.tbWithCrc.resize(A);
  for (int32_t& b : t.tbWithCrc) b = static_cast<int32_t>(rng() & 1);
  const uint8_t tbCrc = A <= 3824 ? kCrc16 : kCrc24A;
  const uint32_t reg = nrCrcCalc(t.tbWithCrc.data(), tbCrc, static_cast<int32_t>(A));
  for (int i = 0; i < (A <= 3824 ? 16 : 24); i++) t.tbWithCrc.push_back((reg >> i) & 1);
  int64_t src = 0;
  for (int32_t r = 0; r < t.p.C; r++) {
    std::vector<int32_t> cb(t.p.K, 0);
    const int32_t data = t.p.Kp - t.p.L;
    std::copy_n(t.tbWithCrc.begin() + src, data, cb.begin());
    if (t.p.L) {
      const uint32_t cbReg = nrCrcCalc(cb.data(), kCrc24B, data);
      for (int i = 0; i < 24; i++) cb[data + i] = (cbReg >> i) & 1;
    }
    t.blocks.emplace_back(cb.begin(), cb.begin() + t.p.Kp);
    std::vector<int32_t> cw(t.p.N);
    nrLdpcEncode(cb.data(), cw.data(), &t.p);
    std::vector<int32_t> f(t.p.E[r]);
    nrLdpcRateMatch(cw.data(), f.data(), r, &t.p);
    t.bits.insert(t.bits.end(), f.begin(), f.end());
    src += data;
  }
  return t;
}

// BPSK-like soft values: +level for bit 0, -level for bit 1.
std::vector<int32_t> softOf(const std::vector<int32_t>& bits, int32_t level) {
  std::vector<int32_t> s(bits.size());
  for (size_t i = 0; i < bits.size(); i++) s[i] = bits[i] ? -level : level;
  return s;
}

int32_t decodeBlock(const TxBlock& t, const std::vector<int32_t>& soft, std::vector<int32_t>& out) {
  out.assign(t.p.K, 7);
  return nrLdpcCbDecode(soft.data(), t.p.E[0], out.data(), t.p.K, t.p.Kp, t.p.Zc, t.p.Qm, t.p.k0,
                        t.p.Ncb, t.p.N, static_cast<uint8_t>(t.p.bg), static_cast<uint8_t>(t.p.iLS),
                        t.p.crcType);
}

struct RoundTrip {
  int64_t A;
  int64_t G;
  float rateX1024;
  int32_t Qm;
  uint8_t rv;
  int bg;  // expected base graph
  int Zc;  // expected lifting size
};

}  // namespace

// One code block over both base graphs, lifting sizes from 3 to 384, punctured (E < N - F) and
// repeated (E > N - F) circular buffers and every redundancy version.
TEST(LdpcCbDecode, RecoversEncodedBlocksOverRatesAndRedundancyVersions) {
  const RoundTrip cases[] = {
      {8424, 25344, 341, 2, 0, 1, 384},  // rate 1/3, the full BG1 circular buffer
      {8424, 9504, 910, 4, 0, 1, 384},   // rate 8/9, punctured
      {8424, 25344, 700, 6, 2, 1, 384},  // rv 2: the walk starts at 33 Zc
      {4000, 12000, 700, 2, 1, 1, 192},  // rv 1
      {300, 800, 800, 2, 3, 1, 15},      // BG1 with a small lifting size, rv 3
      {3824, 19200, 205, 2, 0, 2, 384},  // rate 1/5, the full BG2 circular buffer
      {3824, 16000, 600, 4, 2, 2, 384},  // BG2 rv 2: the walk starts at 25 Zc and wraps
      {1000, 3000, 300, 2, 3, 2, 104},   // rv 3
      {100, 2400, 100, 2, 1, 2, 20},     // repetition: E more than twice N - F
      {20, 300, 300, 2, 2, 2, 6},        // Kb 6, rv 2
      {1, 60, 300, 2, 0, 2, 3},          // the smallest block: Zc 3, mostly filler
      {600, 3600, 400, 6, 1, 2, 72},     // Kb 9
  };
  for (const RoundTrip& c : cases) {
    const TxBlock t = transmit(c.A, c.G, c.rateX1024, c.Qm, c.rv, 1, 77);
    ASSERT_EQ(t.p.C, 1);
    ASSERT_EQ(t.p.bg, c.bg) << "A " << c.A;
    ASSERT_EQ(t.p.Zc, c.Zc) << "A " << c.A;
    std::vector<int32_t> out;
    ASSERT_EQ(decodeBlock(t, softOf(t.bits, 12), out), 1) << "A " << c.A << " rv " << +c.rv;
    EXPECT_TRUE(std::equal(t.blocks[0].begin(), t.blocks[0].end(), out.begin())) << "A " << c.A;
    EXPECT_GE(nrLdpcDecIterUsed(), 4);
  }
}

TEST(LdpcCbDecode, CorrectsAFewFlippedSigns) {
  const RoundTrip cases[] = {{8424, 25344, 341, 2, 0, 1, 384}, {1000, 3000, 300, 2, 0, 2, 104}};
  for (const RoundTrip& c : cases) {
    const TxBlock t = transmit(c.A, c.G, c.rateX1024, c.Qm, c.rv, 1, 5);
    std::vector<int32_t> soft = softOf(t.bits, 10);
    std::mt19937 rng(9);
    for (int i = 0; i < static_cast<int>(soft.size()) / 50; i++) soft[rng() % soft.size()] *= -1;
    std::vector<int32_t> out;
    ASSERT_EQ(decodeBlock(t, soft, out), 1) << "A " << c.A;
    EXPECT_TRUE(std::equal(t.blocks[0].begin(), t.blocks[0].end(), out.begin()));
  }
}

// Repeated positions add up: a weak wrong copy is outvoted by a strong right one, whichever of
// the two is sent first.
TEST(LdpcCbDecode, RepeatedPositionsAccumulate) {
  const TxBlock t = transmit(100, 1832, 100, 2, 0, 1, 3);  // E = 2 (N - F) exactly
  const int32_t copy = t.p.N - t.p.F;
  ASSERT_EQ(t.p.E[0], 2 * copy);
  // The bits of the two copies, in circular-buffer order, interleaved over Qm 2.
  for (int wrongFirst = 0; wrongFirst < 2; wrongFirst++) {
    std::vector<int32_t> soft = softOf(t.bits, 6);
    const int32_t n = t.p.E[0] / 2;
    for (int32_t l = 0; l < 2; l++)
      for (int32_t k = 0; k < n; k++) {
        const int32_t j = l * n + k;  // selected bit j travelled as element 2k + l
        const bool firstCopy = j < copy;
        if (firstCopy == (wrongFirst == 1)) soft[2 * k + l] = -soft[2 * k + l] / 3;
      }
    std::vector<int32_t> out;
    EXPECT_EQ(decodeBlock(t, soft, out), 1) << "wrong copy first: " << wrongFirst;
  }
}

// A valid codeword whose CRC does not check: the decoder settles at once but never passes.
TEST(LdpcCbDecode, CodewordWithBrokenCrcFailsAfterTwentyIterations) {
  TxBlock t = transmit(500, 1500, 300, 2, 0, 1, 8);
  std::vector<int32_t> cb(t.p.K, 0);
  std::copy(t.blocks[0].begin(), t.blocks[0].end(), cb.begin());
  cb[t.p.Kp - 1] ^= 1;  // last CRC bit
  std::vector<int32_t> cw(t.p.N);
  nrLdpcEncode(cb.data(), cw.data(), &t.p);
  nrLdpcRateMatch(cw.data(), t.bits.data(), 0, &t.p);
  std::vector<int32_t> out;
  EXPECT_EQ(decodeBlock(t, softOf(t.bits, 31), out), 0);
  EXPECT_EQ(nrLdpcDecIterUsed(), 20);
  EXPECT_EQ(std::count(out.begin(), out.end(), 7), t.p.K);
}

TEST(LdpcCbDecode, RejectsImpossibleBlocks) {
  std::vector<int32_t> llr(100, 5), out(8448, 7);
  std::string text = captureDiag([&] {
    // Ncb beyond N, Zc not a lifting size, K not 10 Zc, all-filler buffer.
    EXPECT_EQ(nrLdpcCbDecode(llr.data(), 100, out.data(), 40, 30, 4, 2, 0, 201, 200, 2, 0, 2), 0);
    EXPECT_EQ(nrLdpcCbDecode(llr.data(), 100, out.data(), 170, 30, 17, 2, 0, 850, 850, 2, 0, 2), 0);
    EXPECT_EQ(nrLdpcCbDecode(llr.data(), 100, out.data(), 44, 30, 4, 2, 0, 200, 200, 2, 0, 2), 0);
    EXPECT_EQ(nrLdpcCbDecode(llr.data(), 100, out.data(), 40, 8, 4, 2, 0, 32, 200, 2, 0, 2), 0);
  });
  EXPECT_EQ(std::count(out.begin(), out.end(), 7), 8448);
  size_t lines = std::count(text.begin(), text.end(), '\n');
  EXPECT_EQ(lines, 4u);
  EXPECT_NE(text.find("nrLdpcCbDecode(): invalid code block"), std::string::npos);
}

namespace {

// Soft bits of a whole PDSCH codeword as the front end delivers them: scrambled with cInit.
std::vector<int16_t> pdschSoftBits(const TxBlock& t, int64_t G, int32_t cInit, int32_t level) {
  std::vector<int32_t> s = softOf(t.bits, level);
  s.resize(G, 0);
  nrScrambleInt(s.data(), s.data(), static_cast<int32_t>(t.bits.size()), cInit);
  return std::vector<int16_t>(s.begin(), s.end());
}

std::string expectedReport(const std::vector<bool>& ok) {
  std::string s;
  for (size_t r = 0; r < ok.size(); r++)
    s += "\n===>Enter Dec module! codeword: [" + std::to_string(r) + "] dec CRC " +
         (ok[r] ? "OK" : "failed");
  return s + "\n";
}

std::string dumpOf(const std::vector<int32_t>& bits) {
  std::string s;
  for (int32_t b : bits) s += std::to_string(b) + "\n";
  return s;
}

constexpr int32_t kCInit = 0x1234 * 32768 + 17;

}  // namespace

TEST(DlschDecode, SingleBlockReportsOkAndDumpsTheTransportBlock) {
  ScopedTempDir dir;
  const TxBlock t = transmit(2000, 4800, 658, 4, 0, 2, 1);  // two layers
  ASSERT_EQ(t.p.C, 1);
  const std::vector<int16_t> soft = pdschSoftBits(t, 4800, kCInit, 9);
  gnrUeConfig.sysInitDone = 1;
  uint8_t r = 9;
  const std::string text = captureStdout(
      [&] { r = nrDlschDecode(2000, 4800, 2000.0f / 4800, kCInit, 4, 0, soft.data(), 2, 1316); });
  EXPECT_EQ(r, 1);
  EXPECT_EQ(text, expectedReport({true}));
  EXPECT_EQ(readWholeFile("DecBuff.txt"), dumpOf(t.tbWithCrc));
  EXPECT_EQ(gnrUeConfig.sysInitDone, 0);
}

// Several code blocks: each block's CRC24B decides its verdict; the transport block, and with it
// the result and the dump, needs every block.
TEST(DlschDecode, EveryCodeBlockMustPassForResultAndDump) {
  const int64_t A = 19992, G = 30000;  // a TBS: B' divides into 3 blocks
  const TxBlock t = transmit(A, G, 700, 2, 0, 1, 4);
  ASSERT_EQ(t.p.C, 3);
  struct Case {
    int brokenBlock;
    std::vector<bool> ok;
  };
  const Case cases[] = {
      {-1, {true, true, true}}, {1, {true, false, true}}, {2, {true, true, false}}};
  for (const Case& c : cases) {
    ScopedTempDir dir;
    std::vector<int16_t> soft = pdschSoftBits(t, G, kCInit, 9);
    if (c.brokenBlock >= 0) {
      std::mt19937 rng(c.brokenBlock);
      int64_t start = 0;
      for (int r = 0; r < c.brokenBlock; r++) start += t.p.E[r];
      for (int64_t i = start; i < start + t.p.E[c.brokenBlock]; i++)
        soft[i] = static_cast<int16_t>(static_cast<int>(rng() % 41) - 20);
    }
    uint8_t r = 9;
    const std::string text = captureStdout(
        [&] { r = nrDlschDecode(A, G, float(A) / G, kCInit, 2, 0, soft.data(), 1, 1400); });
    EXPECT_EQ(text, expectedReport(c.ok));
    const bool allOk = c.brokenBlock < 0;
    EXPECT_EQ(r, allOk ? 1 : 0);
    struct stat st;
    const bool dumped = stat("DecBuff.txt", &st) == 0;
    EXPECT_EQ(dumped, allOk);
    if (dumped) {
      // The dump is the transport block with its CRC, reassembled from the code blocks.
      EXPECT_EQ(readWholeFile("DecBuff.txt"), dumpOf(t.tbWithCrc));
    }
  }
}

// G = 30037 over Qm 4 and two layers (w = 8) gives 3754 symbol groups for 3 code blocks: the
// first two blocks carry 1251 groups, the last 1252, and the 5 bits left over are not read. Each
// block must start where the previous one ended.
TEST(DlschDecode, CodeBlocksOfUnequalLengthStartWhereThePreviousEnded) {
  ScopedTempDir dir;
  const int64_t A = 19992, G = 30037;
  const TxBlock t = transmit(A, G, 700, 4, 0, 2, 12);
  ASSERT_EQ(t.p.C, 3);
  ASSERT_EQ(t.p.E[0], 10008);
  ASSERT_EQ(t.p.E[1], 10008);
  ASSERT_EQ(t.p.E[2], 10016);
  std::vector<int16_t> soft = pdschSoftBits(t, G, kCInit, 9);
  for (int64_t i = t.p.sumE; i < G; i++) soft[i] = -31;  // unused tail
  uint8_t r = 9;
  const std::string text = captureStdout(
      [&] { r = nrDlschDecode(A, G, float(A) / G, kCInit, 4, 0, soft.data(), 2, 1400); });
  EXPECT_EQ(r, 1);
  EXPECT_EQ(text, expectedReport({true, true, true}));
  EXPECT_EQ(readWholeFile("DecBuff.txt"), dumpOf(t.tbWithCrc));
}

// MCS 15 (Qm 6, target rate 666/1024), 48 REs per PRB, 5 PRBs: A = 984, G = 1440. The
// transmitter takes BG2 from the target rate, while A/G = 0.683 would select BG1.
TEST(DlschDecode, BaseGraphFollowsTheTargetRate) {
  ScopedTempDir dir;
  const TxBlock t = transmit(984, 1440, 666, 6, 0, 1, 6);
  ASSERT_EQ(t.p.bg, 2);
  const std::vector<int16_t> soft = pdschSoftBits(t, 1440, kCInit, 9);
  uint8_t r = 9;
  std::string text = captureStdout(
      [&] { r = nrDlschDecode(984, 1440, 984.0f / 1440, kCInit, 6, 0, soft.data(), 1, 1332); });
  EXPECT_EQ(r, 1);
  EXPECT_EQ(nrLdpcDecPara.bg, 2);
  EXPECT_EQ(text, expectedReport({true}));
  // Without the target rate the effective rate decides, as a caller without it must accept.
  text = captureStdout(
      [&] { r = nrDlschDecode(984, 1440, 984.0f / 1440, kCInit, 6, 0, soft.data(), 1); });
  EXPECT_EQ(nrLdpcDecPara.bg, 1);
  EXPECT_EQ(r, 0);
}

// Soft bits that are all exactly 0 say nothing about the coded bits (a silent waveform, a block
// the front end never filled). The all-zero word they would decode to has a zero CRC register,
// so without a guard such a block would be reported as received.
TEST(DlschDecode, BlocksWithoutSoftInformationFail) {
  const int64_t A = 19992, G = 30000;
  const TxBlock t = transmit(A, G, 700, 2, 0, 1, 4);
  ASSERT_EQ(t.p.C, 3);
  struct Case {
    int silentBlock;  // -1: every block
    std::vector<bool> ok;
  };
  const Case cases[] = {{-1, {false, false, false}}, {1, {true, false, true}}};
  for (const Case& c : cases) {
    ScopedTempDir dir;
    std::vector<int16_t> soft = pdschSoftBits(t, G, kCInit, 9);
    int64_t start = 0;
    for (int r = 0; r < t.p.C; r++) {
      if (c.silentBlock < 0 || c.silentBlock == r)
        std::fill(soft.begin() + start, soft.begin() + start + t.p.E[r], int16_t{0});
      start += t.p.E[r];
    }
    uint8_t r = 9;
    const std::string text = captureStdout(
        [&] { r = nrDlschDecode(A, G, float(A) / G, kCInit, 2, 0, soft.data(), 1, 1400); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(text, expectedReport(c.ok));
    struct stat st;
    EXPECT_NE(stat("DecBuff.txt", &st), 0);
  }
  // The block decoder alone: no pass, the decoded region untouched.
  std::vector<int32_t> zeros(t.p.E[0], 0), out(t.p.K, 7);
  EXPECT_EQ(nrLdpcCbDecode(zeros.data(), t.p.E[0], out.data(), t.p.K, t.p.Kp, t.p.Zc, 2, t.p.k0,
                           t.p.Ncb, t.p.N, static_cast<uint8_t>(t.p.bg),
                           static_cast<uint8_t>(t.p.iLS), t.p.crcType),
            0);
  EXPECT_EQ(std::count(out.begin(), out.end(), 7), t.p.K);
}

// The report a display reads after a decode: one entry per code block with its verdict (the
// same as printed), the iterations the decoder ran and the block's soft-bit count; a block that
// never reached the decoder shows 0 iterations, a block that never checks the full 20. A request
// that is refused leaves no verdict of an earlier call behind.
TEST(DlschDecode, ReportHoldsEveryBlocksVerdictAndIterations) {
  ScopedTempDir dir;
  const int64_t A = 19992, G = 30000;
  const TxBlock t = transmit(A, G, 700, 2, 0, 1, 4);
  ASSERT_EQ(t.p.C, 3);
  std::vector<int16_t> soft = pdschSoftBits(t, G, kCInit, 9);
  // Block 1 noise (fails after every iteration), block 2 silent (never decoded).
  std::mt19937 rng(3);
  const int64_t start1 = t.p.E[0], start2 = start1 + t.p.E[1];
  for (int64_t i = start1; i < start2; i++)
    soft[i] = static_cast<int16_t>(static_cast<int>(rng() % 41) - 20);
  std::fill(soft.begin() + start2, soft.begin() + start2 + t.p.E[2], int16_t{0});
  uint8_t r = 9;
  const std::string text = captureStdout(
      [&] { r = nrDlschDecode(A, G, float(A) / G, kCInit, 2, 0, soft.data(), 1, 1400); });
  ASSERT_EQ(text, expectedReport({true, false, false}));

  const NrDlschDecReport& rep = *nrDlschDecLastReport();
  EXPECT_EQ(rep.A, A);
  EXPECT_EQ(rep.G, G);
  EXPECT_EQ(rep.tbOk, r);
  EXPECT_EQ(rep.bg, t.p.bg);
  EXPECT_EQ(rep.Zc, t.p.Zc);
  ASSERT_EQ(rep.cbN, 3);
  EXPECT_EQ(rep.cb[0].crcOk, 1);
  EXPECT_GE(rep.cb[0].iterUsed, 1);
  EXPECT_LT(rep.cb[0].iterUsed, 20);
  EXPECT_EQ(rep.cb[1].crcOk, 0);
  EXPECT_EQ(rep.cb[1].iterUsed, 20);
  EXPECT_EQ(rep.cb[2].crcOk, 0);
  EXPECT_EQ(rep.cb[2].iterUsed, 0);
  for (int c = 0; c < 3; c++) EXPECT_EQ(rep.cb[c].E, t.p.E[c]) << c;

  captureDiag([&] { nrDlschDecode(20000, 0, 0.5f, kCInit, 2, 0, soft.data(), 1, 1024); });
  EXPECT_EQ(rep.cbN, 0);
  EXPECT_EQ(rep.tbOk, 0);
  EXPECT_EQ(rep.G, 0u);
}

TEST(DlschDecode, VerdictsAreReportedWhenTheDumpCannotBeWritten) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir("DecBuff.txt", 0700), 0);  // a directory where the file should go
  const TxBlock t = transmit(500, 1200, 400, 2, 0, 1, 2);
  const std::vector<int16_t> soft = pdschSoftBits(t, 1200, kCInit, 9);
  uint8_t r = 9;
  const std::string text = captureStdout(
      [&] { r = nrDlschDecode(500, 1200, 500.0f / 1200, kCInit, 2, 0, soft.data(), 1, 800); });
  EXPECT_EQ(r, 1);
  EXPECT_EQ(text,
            "\n===>Enter Dec module! codeword: [0] dec CRC OKFail to open file: DecBuff.txt!\n\n");
}

TEST(DlschDecode, RejectsRequestsBeyondItsBuffers) {
  ScopedTempDir dir;
  std::vector<int16_t> soft(kUeLlrCap, 5);
  gnrUeConfig.sysInitDone = 1;
  uint8_t r = 9;
  // More soft bits than the soft-bit buffer holds: nothing is read.
  std::string text = captureDiag(
      [&] { r = nrDlschDecode(1000, kUeLlrCap + 1, 0.5f, kCInit, 2, 0, soft.data(), 1, 1024); });
  EXPECT_EQ(r, 0);
  EXPECT_NE(text.find("nrDlschDecode(): "), std::string::npos);
  EXPECT_EQ(text.find("Enter Dec module"), std::string::npos);
  // 107 code blocks of BG1.
  text = captureDiag(
      [&] { r = nrDlschDecode(900000, 400000, 0.9f, kCInit, 8, 0, soft.data(), 2, 1800); });
  EXPECT_EQ(r, 0);
  EXPECT_NE(text.find("nrDlschDecode(): "), std::string::npos);
  EXPECT_EQ(text.find("Enter Dec module"), std::string::npos);
  // No coded bits at all, and fewer coded bits than code blocks: blocks that were never sent.
  for (uint32_t g : {0u, 2u}) {
    text =
        captureDiag([&] { r = nrDlschDecode(20000, g, 0.5f, kCInit, 2, 0, soft.data(), 1, 1024); });
    EXPECT_EQ(r, 0);
    EXPECT_EQ(text.find("Enter Dec module"), std::string::npos) << g;
  }
  // No bits per symbol.
  text =
      captureDiag([&] { r = nrDlschDecode(1000, 2000, 0.5f, kCInit, 0, 0, soft.data(), 1, 1024); });
  EXPECT_EQ(r, 0);
  EXPECT_EQ(text.find("Enter Dec module"), std::string::npos);
  EXPECT_EQ(gnrUeConfig.sysInitDone, 1);
  struct stat st;
  EXPECT_NE(stat("DecBuff.txt", &st), 0);
}

// The bench's own transmitter end to end: nrDlschEncode, scrambling, BPSK-like soft bits, then
// the decoding chain with the PDSCH entry's target rate. The decoder's dump
// equals the encoder's transport block with CRC, however many code blocks carried it.
TEST(DlschDecode, DecodesWhatTheSharedChannelEncoderSent) {
  struct Case {
    int32_t mcs, layers, nRePerPrb, nPrb;
    uint8_t rv;
  };
  const Case cases[] = {
      {15, 1, 48, 5, 0},    // A 984, G 1440: BG2 by the target rate, BG1 by A/G
      {0, 1, 120, 4, 0},    // QPSK, rate 0.12: BG2
      {19, 2, 132, 20, 0},  // 64QAM, two layers, several code blocks
      {0, 1, 132, 10, 1},   // rv 1 at rate 0.12: the walk wraps into the systematic bits
      {27, 1, 144, 50, 0},  // 256QAM at rate 0.93: several BG1 code blocks
      {10, 1, 100, 8, 3},   // rv 3
  };
  for (const Case& c : cases) {
    ScopedTempDir dir;
    int32_t qm = 0, C = 0;
    float rateX1024 = 0;
    uint64_t A = 0, G = 0;
    nrTbsCalc(c.mcs, c.nRePerPrb, c.nPrb, c.layers, &qm, &C, &rateX1024, &A, &G);
    if (c.mcs == 15) {
      ASSERT_EQ(A, 984u);
      ASSERT_EQ(G, 1440u);
    }
    std::vector<int32_t> bits(G);
    std::string text = captureStdout([&] {
      ASSERT_GT(nrDlschEncode(c.mcs, c.layers, c.nRePerPrb, c.nPrb, bits.data(), c.rv,
                              static_cast<int64_t>(G)),
                0);
    });
    std::vector<int32_t> soft = softOf(bits, 9);
    nrScrambleInt(soft.data(), soft.data(), static_cast<int32_t>(G), kCInit);
    const std::vector<int16_t> soft16(soft.begin(), soft.end());
    const float effRate = static_cast<float>(A) / static_cast<float>(G);
    const uint16_t rateX2048 = static_cast<uint16_t>(2.0f * rateX1024);
    uint8_t r = 9;
    text = captureStdout([&] {
      r = nrDlschDecode(static_cast<uint32_t>(A), static_cast<uint32_t>(G), effRate, kCInit,
                        static_cast<uint32_t>(qm), c.rv, soft16.data(),
                        static_cast<uint8_t>(c.layers), rateX2048);
    });
    EXPECT_EQ(r, 1) << "mcs " << c.mcs;
    EXPECT_EQ(text, expectedReport(std::vector<bool>(C, true))) << "mcs " << c.mcs;
    EXPECT_EQ(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt")) << "mcs " << c.mcs;
  }
}

namespace {

struct DeRateMatchCase {
  int32_t K, Kp, Zc, Qm, k0, Ncb, N, E;
};

// A random code-block shape for trial `trial` (every field but E): BG1 on even trials, Zc from 2
// up to zcSpan + 1 (384 on every largeEvery-th trial when largeEvery > 0), shortened K' and Ncb
// on some trials, k0 anywhere or at the fillers, and Qm cycling through 1, 2, 4, 6, 8.
DeRateMatchCase drawShape(std::mt19937& rng, int trial, int32_t zcSpan, int largeEvery) {
  const int32_t qms[] = {1, 2, 4, 6, 8};
  DeRateMatchCase c{};
  const bool bg1 = trial % 2 == 0;
  c.Zc = largeEvery > 0 && trial % largeEvery == 0 ? 384 : 2 + static_cast<int32_t>(rng() % zcSpan);
  c.K = (bg1 ? 22 : 10) * c.Zc;
  c.N = (bg1 ? 66 : 50) * c.Zc;
  c.Kp = trial % 7 == 0 ? c.K : 2 * c.Zc + 1 + static_cast<int32_t>(rng() % (c.K - 2 * c.Zc));
  c.Ncb = trial % 5 == 0 ? c.Kp - 2 * c.Zc + static_cast<int32_t>(rng() % (c.N - c.Kp + 2 * c.Zc))
                         : c.N;
  c.Ncb = std::max(c.Ncb, 1);
  c.k0 = static_cast<int32_t>(rng() % c.Ncb);
  if (trial % 3 == 0 && c.Kp < c.K) c.k0 = std::min(c.Kp - 2 * c.Zc, c.Ncb - 1);  // at the fillers
  c.Qm = qms[trial % 5];
  return c;
}

// TS 38.212 5.4.2 inverted step by step: de-interleave into E/Qm rows, then walk the circular
// buffer one position at a time from k0, skipping the filler range.
std::vector<int32_t> literalDeRateMatch(const DeRateMatchCase& c, const std::vector<int32_t>& llr) {
  std::vector<int32_t> buf(c.N, 0);
  const int32_t fillStart = std::max(c.Kp - 2 * c.Zc, 0);
  const int32_t fillEnd = c.K - 2 * c.Zc;
  for (int32_t i = fillStart; i < fillEnd; i++) buf[i] = kFillerLlr;
  const int32_t n = c.E / c.Qm;
  std::vector<int32_t> v(static_cast<size_t>(n) * c.Qm);
  for (int32_t k = 0; k < n; k++)
    for (int32_t j = 0; j < c.Qm; j++) v[j * n + k] = llr[k * c.Qm + j];
  size_t used = 0;
  for (int64_t t = 0; used < v.size(); t++) {
    const int32_t pos = static_cast<int32_t>((c.k0 + t) % c.Ncb);
    if (pos >= fillStart && pos < fillEnd) continue;
    buf[pos] += v[used++];
  }
  return buf;
}

}  // namespace

// Random shapes: filler ranges of every size (none, most of the buffer, reaching past a shortened
// Ncb), starts before, inside and after the fillers, E from a few bits to several turns of the
// buffer (including a tail shorter than Qm), every modulation order.
TEST(LdpcCbDeRateMatch, AgreesWithTheStepByStepWalk) {
  std::mt19937 rng(21);
  for (int trial = 0; trial < 600; trial++) {
    DeRateMatchCase c = drawShape(rng, trial, 40, 0);
    c.E = static_cast<int32_t>(rng() % (3 * c.Ncb + 20));
    std::vector<int32_t> llr(c.E);
    for (int32_t& x : llr) x = static_cast<int32_t>(rng() % 64) - 32;
    const std::vector<int32_t> want = literalDeRateMatch(c, llr);
    // Every instruction set (the eight rows of 256QAM are moved by transposes with AVX2).
    for (uint8_t level = 0; level <= nrCpuLevelDetected(); level++) {
      nrCpuSetLevelCap(level);
      std::vector<int32_t> got(c.N + 1, 12345);
      dlsch_detail::deRateMatch(llr.data(), c.E, c.K, c.Kp, c.Zc, c.Qm, c.k0, c.Ncb, c.N,
                                got.data());
      ASSERT_EQ(got[c.N], 12345) << "wrote past N";
      got.pop_back();
      ASSERT_EQ(got, want) << "trial " << trial << " level " << +level << " K " << c.K << " K' "
                           << c.Kp << " Zc " << c.Zc << " Qm " << c.Qm << " k0 " << c.k0 << " Ncb "
                           << c.Ncb << " E " << c.E;
    }
    nrCpuSetLevelCap(nrCpuLevelDetected());
  }
}

// The rate matcher's output sent as +-1 comes back with every position's sign its codeword bit
// and its magnitude the number of times the position was sent.
TEST(LdpcCbDeRateMatch, UndoesTheRateMatcher) {
  const RoundTrip cases[] = {
      {8424, 9504, 910, 4, 0, 1, 384},   // punctured
      {3824, 16000, 600, 4, 2, 2, 384},  // rv 2, wraps
      {100, 2400, 100, 2, 1, 2, 20},     // repeated more than twice
      {300, 800, 800, 6, 3, 1, 15},
  };
  for (const RoundTrip& c : cases) {
    TxBlock t = transmit(c.A, c.G, c.rateX1024, c.Qm, c.rv, 1, 31);
    std::vector<int32_t> cb(t.p.K, 0);
    std::copy(t.blocks[0].begin(), t.blocks[0].end(), cb.begin());
    std::vector<int32_t> cw(t.p.N);
    nrLdpcEncode(cb.data(), cw.data(), &t.p);
    std::vector<int32_t> buf(t.p.N);
    const std::vector<int32_t> soft = softOf(t.bits, 1);
    dlsch_detail::deRateMatch(soft.data(), t.p.E[0], t.p.K, t.p.Kp, t.p.Zc, t.p.Qm, t.p.k0, t.p.Ncb,
                              t.p.N, buf.data());
    int64_t sent = 0;
    for (int32_t i = 0; i < t.p.N; i++) {
      if (cw[i] == -1) {
        ASSERT_EQ(buf[i], kFillerLlr) << i;
        continue;
      }
      const int32_t sign = cw[i] ? -1 : 1;
      ASSERT_EQ(buf[i] * sign, std::abs(buf[i])) << "A " << c.A << " position " << i;
      sent += std::abs(buf[i]);
    }
    EXPECT_EQ(sent, t.p.E[0]) << "A " << c.A;
  }
}

// The de-rate-matching of 16-bit soft bits (as nrDlschDecode keeps them) equals that of the same
// values widened first, over the full 16-bit range, every modulation order, starts before, at and
// after the fillers, punctured and repeated buffers, at every instruction set; so do the 16-bit
// positions where no soft bits are summed, which are refused (left untouched) where some are.
TEST(LdpcCbDeRateMatch, SixteenBitSoftBitsGiveTheWidenedResult) {
  std::mt19937 rng(22);
  int narrow = 0, refused = 0;
  for (int trial = 0; trial < 400; trial++) {
    DeRateMatchCase c = drawShape(rng, trial, 60, 11);
    // Punctured, about one turn, and several turns of the buffer.
    const int32_t turns[] = {1, 2, 4, 7};
    c.E = static_cast<int32_t>(rng() % (turns[trial % 4] * c.Ncb / 2 + 20));
    std::vector<int16_t> llr16(c.E);
    for (int16_t& x : llr16) x = static_cast<int16_t>(static_cast<int32_t>(rng() % 65536) - 32768);
    if (c.E > 1) llr16[1] = INT16_MIN;
    const std::vector<int32_t> llr(llr16.begin(), llr16.end());
    for (uint8_t level = 0; level <= nrCpuLevelDetected(); level++) {
      nrCpuSetLevelCap(level);
      std::vector<int32_t> want(c.N + 1, 12345), got(c.N + 1, 12345);
      dlsch_detail::deRateMatch(llr.data(), c.E, c.K, c.Kp, c.Zc, c.Qm, c.k0, c.Ncb, c.N,
                                want.data());
      dlsch_detail::deRateMatch(llr16.data(), c.E, c.K, c.Kp, c.Zc, c.Qm, c.k0, c.Ncb, c.N,
                                got.data());
      ASSERT_EQ(got, want) << "trial " << trial << " level " << +level << " Zc " << c.Zc << " Qm "
                           << c.Qm << " k0 " << c.k0 << " Ncb " << c.Ncb << " E " << c.E;
      std::vector<int16_t> got16(c.N + 1, 12345);
      // Sums arise exactly where more soft bits are selected than the buffer has positions.
      const int32_t fill =
          std::min(c.K - 2 * c.Zc, c.Ncb) - std::min(std::max(c.Kp - 2 * c.Zc, 0), c.Ncb);
      const int64_t selected = static_cast<int64_t>(c.E / c.Qm) * c.Qm;
      const bool sums = selected == 0 || selected > c.Ncb - fill;
      const bool ok = dlsch_detail::deRateMatch16(llr16.data(), c.E, c.K, c.Kp, c.Zc, c.Qm, c.k0,
                                                  c.Ncb, c.N, got16.data());
      ASSERT_EQ(ok, !sums) << "trial " << trial;
      if (ok) {
        ASSERT_EQ(std::vector<int32_t>(got16.begin(), got16.end()), want)
            << "trial " << trial << " level " << +level << " Qm " << c.Qm << " E " << c.E;
      } else {
        ASSERT_EQ(got16, std::vector<int16_t>(c.N + 1, 12345)) << "trial " << trial;
      }
      (ok ? narrow : refused)++;
    }
    nrCpuSetLevelCap(nrCpuLevelDetected());
  }
  EXPECT_GT(narrow, 200);
  EXPECT_GT(refused, 200);
}

// nrDlschDecode (16-bit descrambling and de-rate-matching) decides every code block as the
// widened chain does (32-bit descrambling, then nrLdpcCbDecode block by block): same verdicts,
// iterations and decoded bits, over every modulation order and redundancy version, several code
// blocks, noise that fails some blocks, and soft bits at the ends of the 16-bit range (-32768
// negated by the scrambling takes the 32-bit path).
TEST(DlschDecode, DecidesEveryBlockAsTheWidenedChain) {
  struct Case {
    int64_t A, G;
    float rateX1024;
    int32_t Qm;
    uint8_t rv;
    int32_t noise;  // uniform noise added to soft bits of magnitude 9
    bool extremes;  // some soft bits at +-32767 and -32768
  };
  const Case cases[] = {
      {19992, 30000, 700, 2, 0, 0, false},   // three BG1 blocks
      {19992, 30000, 700, 4, 1, 14, false},  // noisy: some blocks fail
      {19992, 24000, 850, 6, 2, 10, true},   // extremes
      {40976, 48000, 870, 8, 3, 6, false},   // 256QAM, rv 3
      {3824, 16000, 600, 4, 2, 9, true},     // BG2, wraps
      {100, 2400, 100, 2, 1, 12, false},     // repetition: E > Ncb
      {8424, 9504, 910, 8, 0, 4, true},      // punctured, 256QAM
  };
  for (const Case& k : cases) {
    const TxBlock t = transmit(k.A, k.G, k.rateX1024, k.Qm, k.rv, 1, 9);
    std::vector<int16_t> soft = pdschSoftBits(t, k.G, kCInit, 9);
    std::mt19937 rng(static_cast<uint32_t>(k.A + k.rv));
    for (size_t i = 0; i < t.bits.size(); i++) {
      if (k.noise)
        soft[i] = static_cast<int16_t>(soft[i] + static_cast<int32_t>(rng() % (2 * k.noise + 1)) -
                                       k.noise);
      if (k.extremes && rng() % 50 == 0) {
        const int16_t ends[] = {INT16_MIN, INT16_MAX, -INT16_MAX};
        soft[i] = ends[rng() % 3];
      }
    }
    // The widened chain.
    std::vector<int32_t> wide(soft.begin(), soft.end());
    nrScrambleInt(wide.data(), wide.data(), static_cast<int32_t>(t.p.sumE), kCInit);
    std::vector<int32_t> wantOk(t.p.C), wantIter(t.p.C);
    std::vector<std::vector<int32_t>> wantBits(t.p.C);
    int64_t in = 0;
    for (int32_t r = 0; r < t.p.C; in += t.p.E[r], r++) {
      wantBits[r].assign(t.p.K, 7);
      wantOk[r] = nrLdpcCbDecode(wide.data() + in, t.p.E[r], wantBits[r].data(), t.p.K, t.p.Kp,
                                 t.p.Zc, k.Qm, t.p.k0, t.p.Ncb, t.p.N, static_cast<uint8_t>(t.p.bg),
                                 static_cast<uint8_t>(t.p.iLS), t.p.crcType);
      wantIter[r] = nrLdpcDecIterUsed();
    }
    // Without the dump (the decoders then keep no bits) and with it.
    for (bool files : {false, true}) {
      ScopedTempDir dir;
      gnrDiagFilesOn = files;
      uint8_t result = 9;
      captureStdout([&] {
        result = nrDlschDecode(static_cast<uint32_t>(k.A), static_cast<uint32_t>(k.G),
                               static_cast<float>(k.A) / k.G, kCInit, static_cast<uint32_t>(k.Qm),
                               k.rv, soft.data(), 1, static_cast<uint16_t>(2 * k.rateX1024));
      });
      const NrDlschDecReport* rep = nrDlschDecLastReport();
      ASSERT_EQ(rep->cbN, t.p.C) << "A " << k.A;
      bool all = true;
      for (int32_t r = 0; r < t.p.C; r++) {
        EXPECT_EQ(rep->cb[r].crcOk, wantOk[r]) << "A " << k.A << " block " << r;
        if (wantOk[r] || rep->cb[r].iterUsed) {
          EXPECT_EQ(rep->cb[r].iterUsed, wantIter[r]) << r;
        }
        all = all && wantOk[r];
      }
      EXPECT_EQ(result, all ? 1 : 0) << "A " << k.A;
      EXPECT_EQ(readWholeFile("DecBuff.txt").empty(), !(all && files)) << "A " << k.A;
      if (all && files) {
        // The dump holds the decoded bits of every block without its code-block CRC.
        std::string want;
        const int32_t perBlock = t.p.C > 1 ? t.p.Kp - t.p.L : t.p.Kp;
        for (int32_t r = 0; r < t.p.C; r++)
          for (int32_t i = 0; i < perBlock; i++) want += std::to_string(wantBits[r][i]) + "\n";
        EXPECT_EQ(readWholeFile("DecBuff.txt"), want) << "A " << k.A;
      }
    }
  }
}

// nrLdpcCbDecode hands the decoder only the circular-buffer positions the de-rate-matching wrote
// (the rest are 0) and leaves the rest of its buffer as an earlier block left it: the verdict,
// the iterations and the a posteriori values equal those of decoding the whole, cleared buffer.
// Shapes with fillers beyond a short selection, shortened buffers, every start and modulation
// order, punctured and repeated; the buffer dirtied by a long block before each.
TEST(LdpcCbDecode, DecidesAsTheWholeClearedCircularBuffer) {
  std::mt19937 rng(23);
  const int32_t zcs[] = {8, 15, 36, 64, 96};
  const int32_t qms[] = {1, 2, 4, 6, 8};
  std::vector<int32_t> out(22 * 96), refOut(22 * 96);
  for (int trial = 0; trial < 120; trial++) {
    const bool bg1 = trial % 2 == 0;
    const int32_t Zc = zcs[trial % 5];
    const int32_t zcIdx = nrLdpcLiftIndex(Zc);
    const uint8_t iLS = static_cast<uint8_t>(nrLdpcLiftSet(zcIdx));
    const uint8_t bg = bg1 ? 1 : 2;
    const int32_t K = (bg1 ? 22 : 10) * Zc, N = (bg1 ? 66 : 50) * Zc;
    const int32_t Kp =
        trial % 4 == 3 ? K : 2 * Zc + 25 + static_cast<int32_t>(rng() % (K - 2 * Zc - 25));
    const int32_t Ncb =
        trial % 5 == 1 ? K - 2 * Zc + 1 + static_cast<int32_t>(rng() % (N - K + 2 * Zc)) : N;
    const int32_t k0 = trial % 3 == 0 ? 0 : static_cast<int32_t>(rng() % Ncb);
    const int32_t Qm = qms[(trial / 2) % 5];
    // From a few bits (ending before the fillers) over punctured to repeated buffers.
    const int32_t ends[] = {std::max(Kp - 2 * Zc, 8) / 2, Ncb / 2, Ncb - Zc, 2 * Ncb + 7};
    const int32_t E = std::max(Qm, ends[trial % 4] / Qm * Qm);
    auto randomLlr = [&](int32_t n) {
      std::vector<int32_t> v(n);
      for (int32_t& x : v) x = static_cast<int32_t>(rng() % 81) - 40;
      return v;
    };
    const std::vector<int32_t> dirt = randomLlr(3 * Ncb);
    nrLdpcCbDecode(dirt.data(), 3 * Ncb / Qm * Qm, out.data(), K, Kp, Zc, Qm, 0, Ncb, N, bg, iLS,
                   kCrc24B);
    const std::vector<int32_t> llr = randomLlr(E);
    std::vector<int32_t> buf(N);
    dlsch_detail::deRateMatch(llr.data(), E, K, Kp, Zc, Qm, k0, Ncb, N, buf.data());
    const int32_t want = nrLdpcDecode(buf.data(), refOut.data(), Kp, Zc, N, bg, iLS, kCrc24B);
    const uint8_t wantIter = nrLdpcDecIterUsed();
    std::vector<int16_t> wantApp(68 * Zc), gotApp(68 * Zc);
    nrLdpcDecApp(wantApp.data(), static_cast<int32_t>(wantApp.size()));
    const int32_t got =
        nrLdpcCbDecode(llr.data(), E, out.data(), K, Kp, Zc, Qm, k0, Ncb, N, bg, iLS, kCrc24B);
    ASSERT_EQ(got, want) << "trial " << trial;
    ASSERT_EQ(nrLdpcDecIterUsed(), wantIter) << "trial " << trial;
    nrLdpcDecApp(gotApp.data(), static_cast<int32_t>(gotApp.size()));
    ASSERT_EQ(gotApp, wantApp) << "trial " << trial << " Zc " << Zc << " K' " << Kp << " Ncb "
                               << Ncb << " k0 " << k0 << " Qm " << Qm << " E " << E;
  }
}
