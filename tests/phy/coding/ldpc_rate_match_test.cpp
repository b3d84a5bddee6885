#include "phy/coding/ldpc_rate_match.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_tables.h"
#include "phy/common/cpu_features.h"
#include "tests/test_util.h"

namespace {

NrLdpcParams rateMatchParams(int ncb, int k0, int e, int qm) {
  NrLdpcParams p{};
  p.C = 1;
  p.Ncb = ncb;
  p.N = ncb;
  p.k0 = k0;
  p.E[0] = e;
  p.Qm = qm;
  return p;
}

// TS 38.212 5.4.2.1 and 5.4.2.2 taken literally: one position of the circular buffer per step,
// then the row-by-row write and column-by-column read of the interleaver matrix.
std::vector<int32_t> referenceRateMatch(const std::vector<int32_t>& d, int k0, int e, int qm) {
  std::vector<int32_t> sel;
  for (int i = k0; static_cast<int>(sel.size()) < e; i = (i + 1) % static_cast<int>(d.size()))
    if (d[i] != -1) sel.push_back(d[i]);
  const int n = e / qm;
  std::vector<int32_t> out(e);
  for (int l = 0; l < qm; l++)
    for (int k = 0; k < n; k++) out[k * qm + l] = sel[l * n + k];
  return out;
}

}  // namespace

// The codeword holds position labels instead of bits, so that the output shows which position each
// output element came from; -1 marks fillers.
TEST(LdpcRateMatch, SelectsCyclicallySkippingFillersAndInterleaves) {
  struct Case {
    const char* what;
    std::vector<int32_t> d;
    int k0, e, qm;
    std::vector<int32_t> expect;
  };
  const Case cases[] = {
      {"interleave Qm 2, E 6", {10, 11, 12, 13, 14, 15}, 0, 6, 2, {10, 13, 11, 14, 12, 15}},
      {"interleave Qm 4, E 8",
       {10, 11, 12, 13, 14, 15, 16, 17},
       0,
       8,
       4,
       {10, 12, 14, 16, 11, 13, 15, 17}},
      {"fillers removed", {10, 11, -1, -1, 14, 15}, 0, 4, 1, {10, 11, 14, 15}},
      {"tail punctured", {10, 11, -1, 13, 14, 15}, 0, 3, 1, {10, 11, 13}},
      {"wraps and repeats", {10, 11, -1, 13, 14}, 3, 8, 1, {13, 14, 10, 11, 13, 14, 10, 11}},
      {"k0 inside fillers", {10, 11, -1, -1, 14, 15}, 2, 3, 1, {14, 15, 10}},
      {"wrap then interleave", {10, -1, 12, 13}, 2, 6, 2, {12, 12, 13, 13, 10, 10}},
      {"k0 beyond the buffer", {10, 11, 12, 13}, 6, 2, 1, {12, 13}},
  };
  for (const Case& c : cases) {
    const NrLdpcParams p = rateMatchParams(static_cast<int>(c.d.size()), c.k0, c.e, c.qm);
    std::vector<int32_t> out(c.e + 1, -7);
    nrLdpcRateMatch(c.d.data(), out.data(), 0, &p);
    EXPECT_EQ(out[c.e], -7) << c.what << ": wrote past E";
    out.pop_back();
    EXPECT_EQ(out, c.expect) << c.what;
  }
}

TEST(LdpcRateMatch, ReadsTheLengthOfItsOwnCodeBlock) {
  NrLdpcParams p = rateMatchParams(4, 0, 2, 1);
  p.C = 2;
  p.E[1] = 5;
  const int32_t d[] = {1, 0, 0, 1};
  std::vector<int32_t> out(6, -7);
  nrLdpcRateMatch(d, out.data(), 1, &p);
  EXPECT_EQ(out, (std::vector<int32_t>{1, 0, 0, 1, 1, -7}));
}

TEST(LdpcRateMatch, RejectsBlocksItCannotSelectFrom) {
  const int32_t fillers[] = {-1, -1, -1};
  const int32_t bits[] = {1, 0, 1};
  struct Case {
    const int32_t* d;
    NrLdpcParams p;
    int r;
  };
  NrLdpcParams zeroQm = rateMatchParams(3, 0, 4, 0);
  const Case cases[] = {
      {fillers, rateMatchParams(3, 0, 4, 1), 0},
      {bits, zeroQm, 0},
      {bits, rateMatchParams(3, 0, 4, 1), 100},
      {bits, rateMatchParams(3, 0, 4, 1), -1},
  };
  for (const Case& c : cases) {
    std::vector<int32_t> out(4, -7);
    const std::string text = captureDiag([&] { nrLdpcRateMatch(c.d, out.data(), c.r, &c.p); });
    EXPECT_NE(text.find("nrLdpcRateMatch(): "), std::string::npos);
    EXPECT_EQ(out, std::vector<int32_t>(4, -7));
  }
}

// An encoded block read from k0 = 0 with E equal to its non-filler count and Qm 1 is the codeword
// without its fillers.
TEST(LdpcRateMatch, FullLengthSelectionIsTheCodewordWithoutFillers) {
  nrLdpcParamCalc(1000, 100000, 300, 1, 0, 1, &nrLdpcParams);
  ASSERT_GT(nrLdpcParams.F, 0);
  std::vector<int32_t> block(nrLdpcParams.K, 0), codeword(nrLdpcParams.N);
  for (int k = 0; k < nrLdpcParams.Kp; k++) block[k] = (k * 7 + k / 3) & 1;
  nrLdpcEncode(block.data(), codeword.data(), &nrLdpcParams);
  std::vector<int32_t> expect;
  for (int32_t v : codeword)
    if (v != -1) expect.push_back(v);
  nrLdpcParams.Qm = 1;
  nrLdpcParams.E[0] = static_cast<int32_t>(expect.size());
  std::vector<int32_t> out(expect.size());
  nrLdpcRateMatch(codeword.data(), out.data(), 0, &nrLdpcParams);
  EXPECT_EQ(out, expect);
}

// Random buffers (filler runs anywhere, scattered fillers, none), starts, lengths below and far
// above the buffer and every modulation order agree with the literal procedure.
TEST(LdpcRateMatch, AgreesWithStepByStepSelectionOverRandomRequests) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 400; trial++) {
    const int ncb = 1 + static_cast<int>(rng() % 300);
    std::vector<int32_t> d(ncb);
    for (int i = 0; i < ncb; i++) d[i] = static_cast<int32_t>(100 + i);
    switch (trial % 3) {
      case 0: {  // one filler run, as the encoder leaves it
        const int a = static_cast<int>(rng() % ncb);
        const int len = static_cast<int>(rng() % (ncb - a));
        for (int i = a; i < a + len; i++) d[i] = -1;
        break;
      }
      case 1:
        for (int i = 0; i < ncb; i++)
          if (rng() % 4 == 0) d[i] = -1;
        break;
      default:
        break;
    }
    d[rng() % ncb] = 50;  // at least one bit
    const int qms[] = {1, 2, 4, 6, 8, 3};
    const int qm = qms[trial % 6];
    const int e = qm * static_cast<int>(rng() % (3 * ncb / qm + 2));
    const int k0 = static_cast<int>(rng() % ncb);
    const NrLdpcParams p = rateMatchParams(ncb, k0, e, qm);
    std::vector<int32_t> out(e + 1, -7);
    nrLdpcRateMatch(d.data(), out.data(), 0, &p);
    ASSERT_EQ(out[e], -7);
    out.pop_back();
    ASSERT_EQ(out, referenceRateMatch(d, k0, e, qm))
        << "trial " << trial << " Ncb " << ncb << " k0 " << k0 << " E " << e << " Qm " << qm;
  }
}

// The byte rate matcher (rows read in place, assembled where the selection splits them) agrees
// with the literal procedure over random buffers, starts, lengths and orders at every
// instruction-set level, and refuses a buffer of fillers only.
TEST(LdpcRateMatch, BytePathAgreesWithStepByStepSelectionAtEveryLevel) {
  for (uint8_t cap = kNrCpuBaseline; cap < kNrCpuLevels; cap++) {
    if (nrCpuSetLevelCap(cap) != cap) continue;  // this CPU lacks the level
    std::mt19937 rng(11);
    for (int trial = 0; trial < 600; trial++) {
      const int ncb = 1 + static_cast<int>(rng() % 400);
      std::vector<int32_t> d(ncb);
      for (int i = 0; i < ncb; i++) d[i] = i % 120;  // position labels that fit a byte
      if (trial % 3 == 0) {
        const int a = static_cast<int>(rng() % ncb);
        const int len = static_cast<int>(rng() % (ncb - a));
        for (int i = a; i < a + len; i++) d[i] = -1;
      } else if (trial % 3 == 1) {
        for (int i = 0; i < ncb; i++)
          if (rng() % 4 == 0) d[i] = -1;
      }
      d[rng() % ncb] = 50;
      const int qms[] = {1, 2, 4, 6, 8, 3};
      const int qm = qms[trial % 6];
      const int e = qm * static_cast<int>(rng() % (3 * ncb / qm + 2));
      const int k0 = static_cast<int>(rng() % ncb);
      const NrLdpcParams p = rateMatchParams(ncb, k0, e, qm);
      const std::vector<int8_t> narrow(d.begin(), d.end());
      std::vector<int8_t> out(e + 1, -7);
      nrLdpcRateMatchBytes(narrow.data(), out.data(), 0, &p);
      ASSERT_EQ(out[e], -7);
      const std::vector<int32_t> want = referenceRateMatch(d, k0, e, qm);
      ASSERT_EQ(std::vector<int32_t>(out.begin(), out.end() - 1), want)
          << "trial " << trial << " Ncb " << ncb << " k0 " << k0 << " E " << e << " Qm " << qm
          << " level " << +cap;
    }
  }
  nrCpuSetLevelCap(0xFF);
  const int8_t fillers[] = {-1, -1, -1};
  const NrLdpcParams p = rateMatchParams(3, 0, 4, 2);
  std::vector<int8_t> out(4, -7);
  EXPECT_NE(captureDiag([&] {
              nrLdpcRateMatchBytes(fillers, out.data(), 0, &p);
            }).find("filler bits only"),
            std::string::npos);
  EXPECT_EQ(out, std::vector<int8_t>(4, -7));
}

// The parity columns the rate matcher states are all it reads: over random blocks, rates and
// redundancy versions, garbage (filler marks included) beyond them leaves the output unchanged,
// while a change in the last stated column shows (unless the selection wraps and reads all).
TEST(LdpcRateMatch, ReadsNoParityBeyondTheColumnsItStates) {
  std::mt19937 rng(21);
  int partial = 0;
  for (int trial = 0; trial < 300; trial++) {
    NrLdpcParams p{};
    p.bg = 1 + static_cast<int>(rng() % 2);
    const int pos = static_cast<int>(rng() % kLiftSizeN);
    p.Zc = gnrLdpcLiftSizes[pos];
    p.K = (p.bg == 1 ? 22 : 10) * p.Zc;
    p.Kp = p.K - static_cast<int32_t>(rng() % (p.K / 3 + 1));
    p.N = (p.bg == 1 ? 66 : 50) * p.Zc;
    p.Ncb = p.N;
    p.Qm = 2 << (rng() % 4);
    const int num[2][4] = {{0, 17, 33, 56}, {0, 13, 25, 43}};
    const int rv = static_cast<int>(rng() % 4);
    p.k0 = num[p.bg - 1][rv] * p.Ncb / p.N * p.Zc;
    p.E[0] = p.Qm * static_cast<int32_t>(1 + rng() % (2 * p.N / p.Qm));
    std::vector<int32_t> cw(p.N);
    for (int32_t& v : cw) v = static_cast<int32_t>(rng() & 1);
    for (int k = std::max(0, p.Kp - 2 * p.Zc); k < p.K - 2 * p.Zc; k++) cw[k] = -1;
    std::vector<int32_t> ref(p.E[0]), out(p.E[0]);
    ASSERT_TRUE(nrLdpcRateMatch(cw.data(), ref.data(), 0, &p));
    const int cols = nrLdpcRateMatchParityCols(0, &p);
    const int rows = (p.N - p.K + 2 * p.Zc) / p.Zc;
    ASSERT_GE(cols, 0);
    ASSERT_LE(cols, rows);
    const int firstUnread = p.K - 2 * p.Zc + cols * p.Zc;
    std::vector<int32_t> junk = cw;
    for (int k = firstUnread; k < p.N; k++) junk[k] = static_cast<int32_t>(rng() % 3) - 1;
    ASSERT_TRUE(nrLdpcRateMatch(junk.data(), out.data(), 0, &p));
    ASSERT_EQ(out, ref) << "trial " << trial << " cols " << cols;
    if (cols > 0 && cols < rows) {
      partial++;
      // The last stated column is read: flipping all of it changes the selection.
      std::vector<int32_t> flipped = cw;
      for (int k = firstUnread - p.Zc; k < firstUnread; k++) flipped[k] ^= 1;
      ASSERT_TRUE(nrLdpcRateMatch(flipped.data(), out.data(), 0, &p));
      EXPECT_NE(out, ref) << "trial " << trial << " cols " << cols;
    }
  }
  EXPECT_GT(partial, 50);
}
