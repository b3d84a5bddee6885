#include "phy/coding/dlsch_encode.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <vector>

#include "phy/coding/crc.h"
#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_rate_match.h"
#include "phy/common/cpu_features.h"
#include "phy/common/sequence.h"
#include "phy/common/tbs.h"
#include "tests/test_util.h"

namespace {

struct Alloc {
  int32_t mcs, layers, nRePerPrb, nPrb;
};

uint64_t tbsOf(const Alloc& a, uint64_t* G = nullptr) {
  int32_t qm = 0, c = 0;
  float rate = 0;
  uint64_t tbs = 0, g = 0;
  nrTbsCalc(a.mcs, a.nRePerPrb, a.nPrb, a.layers, &qm, &c, &rate, &tbs, &g);
  if (G) *G = g;
  return tbs;
}

// The first allocation (fewest RBs, then fewest REs per RB) whose transport block has `tbs` bits.
Alloc findAlloc(int32_t mcs, uint64_t tbs) {
  for (int32_t n = 1; n <= 275; n++)
    for (int32_t re = 12; re <= 156; re++) {
      const Alloc a{mcs, 1, re, n};
      if (tbsOf(a) == tbs) return a;
    }
  ADD_FAILURE() << "no allocation for TBS " << tbs;
  return {mcs, 1, 156, 1};
}

std::vector<int32_t> readBits(const std::string& path) {
  std::istringstream in(readWholeFile(path));
  std::vector<int32_t> bits;
  int32_t v;
  while (in >> v) bits.push_back(v);
  return bits;
}

std::vector<int32_t> encode(const Alloc& a, uint8_t rv, int64_t* n) {
  uint64_t G = 0;
  tbsOf(a, &G);
  std::vector<int32_t> out(G + 1, -7);
  *n = nrDlschEncode(a.mcs, a.layers, a.nRePerPrb, a.nPrb, out.data(), rv);
  EXPECT_EQ(out[G], -7) << "wrote past G";
  out.resize(G);
  return out;
}

}  // namespace

TEST(DlschEncode, SameRequestGivesIdenticalBits) {
  ScopedTempDir dir;
  const Alloc a{19, 1, 150, 40};  // segmented: several code blocks
  int64_t n1 = 0, n2 = 0;
  const std::vector<int32_t> first = encode(a, 0, &n1);
  const std::string dump = readWholeFile("EncCrcBuff.txt");
  const std::vector<int32_t> second = encode(a, 0, &n2);
  EXPECT_GT(nrLdpcParams.C, 1);
  EXPECT_EQ(n1, nrLdpcParams.sumE);
  EXPECT_EQ(n1, n2);
  EXPECT_EQ(first, second);
  EXPECT_EQ(dump, readWholeFile("EncCrcBuff.txt"));
  for (int64_t i = 0; i < n1; i++) ASSERT_TRUE(first[i] == 0 || first[i] == 1);
}

// The dump holds the PN9 payload and the transport-block CRC: CRC16 up to 3824 bits, CRC24A above;
// running the CRC register over payload and parity leaves 0 (TS 38.212 5.1).
TEST(DlschEncode, TransportBlockCrcIsCrc16UpTo3824BitsAndCrc24aAbove) {
  ScopedTempDir dir;
  const struct {
    uint64_t tbs;
    uint8_t crcType;
    int crcLen;
  } cases[] = {{3824, kCrc16, 16}, {3840, kCrc24A, 24}};
  for (const auto& c : cases) {
    const Alloc a = findAlloc(9, c.tbs);
    int64_t n = 0;
    encode(a, 0, &n);
    EXPECT_EQ(nrLdpcParams.A, static_cast<int32_t>(c.tbs));
    const std::vector<int32_t> bits = readBits("EncCrcBuff.txt");
    ASSERT_EQ(bits.size(), c.tbs + c.crcLen);
    EXPECT_EQ(nrCrcCalc(bits.data(), c.crcType, static_cast<int32_t>(bits.size())), 0u);
    const char* pn9 = "1111111110000111101110000101100110110111";
    for (int i = 0; i < 40; i++) EXPECT_EQ(bits[i], pn9[i] - '0');
  }
}

// Undoing the interleaver of every code block gives back, from its first selected bit on, the
// code block's systematic bits from position 2*Zc: the transport block segment that starts where
// the previous one ended (minus its CRC), then a CRC24B that checks over the whole segment.
TEST(DlschEncode, CodeBlocksCarryConsecutiveSegmentsWithTheirCrc24b) {
  ScopedTempDir dir;
  const Alloc a{16, 1, 144, 60};
  int64_t n = 0;
  const std::vector<int32_t> out = encode(a, 0, &n);
  const std::vector<int32_t> tb = readBits("EncCrcBuff.txt");
  const NrLdpcParams p = nrLdpcParams;
  ASSERT_GE(p.C, 2);
  ASSERT_EQ(p.k0, 0);
  int64_t o = 0;
  int64_t s = 0;
  for (int r = 0; r < p.C; r++) {
    const int32_t e = p.E[r];
    const int32_t rows = e / p.Qm;
    ASSERT_GE(e, p.Kp - 2 * p.Zc);
    std::vector<int32_t> cb(tb.begin() + s, tb.begin() + s + 2 * p.Zc);
    for (int32_t j = 0; j < p.Kp - 2 * p.Zc; j++) {
      const int32_t l = j / rows;
      const int32_t k = j % rows;
      cb.push_back(out[o + static_cast<int64_t>(k) * p.Qm + l]);
    }
    for (int32_t j = 0; j < p.Kp - 24; j++) ASSERT_EQ(cb[j], tb[s + j]) << "block " << r;
    EXPECT_EQ(nrCrcCalc(cb.data(), kCrc24B, p.Kp), 0u) << "block " << r;
    s += p.Kp - p.L;
    o += e;
  }
  EXPECT_EQ(s, p.B);
  EXPECT_EQ(o, n);
}

TEST(DlschEncode, RejectsMoreThan100CodeBlocksWithoutOutput) {
  ScopedTempDir dir;
  const Alloc a{27, 8, 156, 275};  // ~2.6 Mbit transport block: over 300 code blocks
  uint64_t G = 0;
  tbsOf(a, &G);
  std::vector<int32_t> out(G, -7);
  int64_t n = -1;
  const std::string text =
      captureDiag([&] { n = nrDlschEncode(a.mcs, a.layers, a.nRePerPrb, a.nPrb, out.data(), 0); });
  EXPECT_EQ(n, 0);
  EXPECT_NE(text.find("exceed the limit of 100"), std::string::npos) << text;
  for (int32_t v : out) ASSERT_EQ(v, -7);
  struct stat st;
  EXPECT_NE(stat("EncCrcBuff.txt", &st), 0);
}

TEST(DlschEncode, RejectsAnOutputTooSmallForTheCodedBits) {
  ScopedTempDir dir;
  const Alloc a{10, 1, 138, 20};
  std::vector<int32_t> out(100, -7);
  int64_t n = -1;
  const std::string text = captureDiag(
      [&] { n = nrDlschEncode(a.mcs, a.layers, a.nRePerPrb, a.nPrb, out.data(), 0, 99); });
  EXPECT_EQ(n, 0);
  EXPECT_NE(text.find("nrDlschEncode(): "), std::string::npos) << text;
  for (int32_t v : out) ASSERT_EQ(v, -7);
}

TEST(DlschEncode, EncodesWhenTheCrcDumpCannotBeCreated) {
  const Alloc a{5, 1, 138, 24};
  int64_t n1 = 0, n2 = 0;
  std::vector<int32_t> normal, blocked;
  {
    ScopedTempDir dir;
    normal = encode(a, 1, &n1);
  }
  {
    ScopedTempDir dir;
    ASSERT_EQ(mkdir("EncCrcBuff.txt", 0755), 0);  // a directory cannot be opened for writing
    const std::string text = captureStdout([&] { blocked = encode(a, 1, &n2); });
    EXPECT_NE(text.find("Fail to open file: EncCrcBuff.txt!"), std::string::npos) << text;
  }
  EXPECT_GT(n1, 0);
  EXPECT_EQ(n1, n2);
  EXPECT_EQ(normal, blocked);
}

// The dump is rewritten for every transport block: a smaller block after a larger one leaves
// exactly its own lines, nothing of the earlier file.
TEST(DlschEncode, CrcDumpHoldsOnlyTheLatestTransportBlock) {
  ScopedTempDir dir;
  int64_t n = 0;
  encode(Alloc{19, 1, 150, 40}, 0, &n);
  const size_t large = readBits("EncCrcBuff.txt").size();
  const Alloc small{3, 1, 100, 4};
  encode(small, 0, &n);
  const uint64_t A = tbsOf(small);
  ASSERT_LT(A + 16, large);
  const std::string dump = readWholeFile("EncCrcBuff.txt");
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), static_cast<long>(A + 16));
  const std::vector<int32_t> bits = readBits("EncCrcBuff.txt");
  ASSERT_EQ(bits.size(), A + 16);
  EXPECT_EQ(nrCrcCalc(bits.data(), kCrc16, static_cast<int32_t>(bits.size())), 0u);
}

// The encoder computes parity only as far as each block's selection reads it; its bits are those
// of full codewords rate-matched block by block, at every redundancy version and for high and low
// rates, also after a larger transport block left other contents in its buffers.
TEST(DlschEncode, BitsAreThoseOfFullCodewordsAtEveryRedundancyVersion) {
  ScopedTempDir dir;
  const Alloc allocs[] = {{27, 1, 150, 100}, {4, 1, 144, 20}, {20, 2, 132, 51}, {27, 1, 12, 3}};
  for (const Alloc& a : allocs)
    for (uint8_t rv = 0; rv < 4; rv++) {
      int64_t n = 0;
      const std::vector<int32_t> out = encode(a, rv, &n);
      const std::vector<int32_t> tb = readBits("EncCrcBuff.txt");
      NrLdpcParams p = nrLdpcParams;
      ASSERT_GT(p.C, 0);
      std::vector<int32_t> expect;
      int64_t s = 0;
      for (int r = 0; r < p.C; r++) {
        std::vector<int32_t> cb(p.K, 0), cw(p.N), f(p.E[r]);
        const int32_t data = p.Kp - p.L;
        std::copy_n(tb.begin() + s, data, cb.begin());
        if (p.L) {
          const uint32_t reg = nrCrcCalc(cb.data(), kCrc24B, data);
          for (int i = 0; i < 24; i++) cb[data + i] = static_cast<int32_t>((reg >> i) & 1);
        }
        ASSERT_TRUE(nrLdpcEncode(cb.data(), cw.data(), &p));
        ASSERT_TRUE(nrLdpcRateMatch(cw.data(), f.data(), r, &p));
        expect.insert(expect.end(), f.begin(), f.end());
        s += data;
      }
      ASSERT_EQ(n, static_cast<int64_t>(expect.size()));
      EXPECT_TRUE(std::equal(expect.begin(), expect.end(), out.begin()))
          << "MCS " << a.mcs << " rv " << +rv;
    }
}

// The byte-lane chain writes exactly the bits, the count, the dump and the PN register of the
// int32 chain, at every instruction-set level, over a table that reaches one code block with
// CRC16 and with CRC24A, several code blocks of both base graphs, filler bits, every modulation
// order, every redundancy version and one and two layers.
TEST(DlschEncode, BytePathWritesTheBitsOfTheInt32Path) {
  ScopedTempDir dir;
  const Alloc allocs[] = {{0, 1, 12, 1},     {9, 1, 144, 8},    {15, 1, 120, 12},
                          {1, 1, 156, 100},  {27, 1, 150, 100}, {20, 2, 132, 51},
                          {27, 2, 150, 106}, {5, 2, 60, 3},     {15, 1, 120, 20}};
  bool crc16 = false, crc24a = false, multiBg1 = false, multiBg2 = false, fillers = false;
  bool qm[9] = {};
  for (uint8_t cap = kNrCpuBaseline; cap < kNrCpuLevels; cap++) {
    if (nrCpuSetLevelCap(cap) != cap) continue;  // this CPU lacks the level
    for (const Alloc& a : allocs)
      for (uint8_t rv = 0; rv < 4; rv++) {
        int64_t n = 0;
        const std::vector<int32_t> want = encode(a, rv, &n);
        const std::string wantDump = readWholeFile("EncCrcBuff.txt");
        const std::vector<int8_t> wantState(gnrPnState, gnrPnState + 9);
        const NrLdpcParams p = nrLdpcParams;
        std::remove("EncCrcBuff.txt");
        std::vector<int8_t> got(want.size() + 1, -7);
        EXPECT_EQ(nrDlschEncodeBytes(a.mcs, a.layers, a.nRePerPrb, a.nPrb, got.data(), rv), n);
        EXPECT_EQ(got.back(), -7) << "wrote past G";
        ASSERT_GT(n, 0);
        int wrong = 0;
        for (int64_t i = 0; i < n; i++) wrong += got[i] != want[i];
        EXPECT_EQ(wrong, 0) << "MCS " << a.mcs << " RBs " << a.nPrb << " rv " << +rv << " level "
                            << +cap;
        EXPECT_EQ(readWholeFile("EncCrcBuff.txt"), wantDump) << "MCS " << a.mcs;
        EXPECT_EQ(std::vector<int8_t>(gnrPnState, gnrPnState + 9), wantState);
        crc16 |= p.C == 1 && p.A <= 3824;
        crc24a |= p.C == 1 && p.A > 3824;
        multiBg1 |= p.C > 1 && p.bg == 1;
        multiBg2 |= p.C > 1 && p.bg == 2;
        fillers |= p.F > 0;
        qm[p.Qm] = true;
      }
  }
  nrCpuSetLevelCap(0xFF);
  EXPECT_TRUE(crc16);
  EXPECT_TRUE(crc24a);
  EXPECT_TRUE(multiBg1);
  EXPECT_TRUE(multiBg2);
  EXPECT_TRUE(fillers);
  EXPECT_TRUE(qm[2] && qm[4] && qm[6] && qm[8]);
}

// The byte chain refuses what the int32 chain refuses, with the same line and no output.
TEST(DlschEncode, BytePathRefusesWhatTheInt32PathRefuses) {
  ScopedTempDir dir;
  struct Case {
    Alloc a;
    int64_t cap;
  };
  const Case cases[] = {{{27, 8, 156, 275}, -1}, {{10, 1, 138, 20}, 99}};
  for (const Case& c : cases) {
    uint64_t G = 0;
    tbsOf(c.a, &G);
    std::vector<int32_t> wide(G, -7);
    std::vector<int8_t> narrow(G, -7);
    int64_t n = -1, m = -1;
    const std::string want = captureDiag([&] {
      n = nrDlschEncode(c.a.mcs, c.a.layers, c.a.nRePerPrb, c.a.nPrb, wide.data(), 0, c.cap);
    });
    const std::string got = captureDiag([&] {
      m = nrDlschEncodeBytes(c.a.mcs, c.a.layers, c.a.nRePerPrb, c.a.nPrb, narrow.data(), 0, c.cap);
    });
    EXPECT_EQ(n, 0);
    EXPECT_EQ(m, 0);
    EXPECT_FALSE(got.empty());
    EXPECT_EQ(got, want);
    EXPECT_EQ(narrow, std::vector<int8_t>(G, -7));
  }
}
