#include "phy/coding/ldpc_rate_match.h"

#include <gtest/gtest.h>

#include <vector>

#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
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
    const std::string text = captureStdout([&] { nrLdpcRateMatch(c.d, out.data(), c.r, &c.p); });
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
