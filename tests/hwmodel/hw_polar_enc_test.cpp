// The polar encoder hardware model against the polar chain of phy/coding: the pipeline against
// u G_N, the position types and codeword against nrPolarConstruct / nrPolarEncode, the parity-check
// placement, the frozen-set rules and the refusals.
#include "hwmodel/hw_polar_enc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "phy/coding/polar_code.h"
#include "phy/coding/polar_encode.h"
#include "tests/test_util.h"

namespace {

std::vector<int32_t> randomBits(uint32_t n, std::mt19937& rng) {
  std::vector<int32_t> v(n);
  for (int32_t& b : v) b = static_cast<int32_t>(rng() & 1);
  return v;
}

// x = u G_N by the software butterfly of phy/coding.
std::vector<int32_t> timesGn(const std::vector<int32_t>& u) {
  std::vector<uint8_t> x(u.begin(), u.end());
  polar_detail::butterfly(x.data(), static_cast<uint32_t>(x.size()));
  return std::vector<int32_t>(x.begin(), x.end());
}

// The frozen-set rule and thresholds TS 38.212 5.4.1.1 gives K bits rate-matched to E.
struct Rule {
  int32_t type, T2, T3;
};

Rule ruleFor(uint32_t K, uint32_t E, uint32_t N) {
  if (E >= N) return {kHwPolarRuleNone, 0, 0};
  if (!nrPolarPunctured(K, E)) return {kHwPolarRuleShorten, 0, 0};
  const auto T2 = static_cast<int32_t>(std::ceil(3.0 * N / 4 - E / 2.0));
  const auto T3 = static_cast<int32_t>(std::ceil(9.0 * N / 16 - E / 4.0));
  return 4 * E >= 3 * N ? Rule{kHwPolarRuleT2, T2, 0} : Rule{kHwPolarRuleT3, 0, T3};
}

}  // namespace

// Every supported length with random u (all positions information, so u is the input itself):
// the encoder's x is u G_N.
TEST(HwPolarEnc, OutputIsUTimesGnForEveryLength) {
  std::mt19937 rng(11);
  for (int32_t n = kHwPolarMinLog2; n <= kHwPolarMaxLog2; n++) {
    const int32_t N = 1 << n;
    const int32_t cand = nrHwPolarCandidates(n, N, N, kHwPolarRuleNone, 0, 0);
    ASSERT_EQ(cand, N);
    for (int trial = 0; trial < 4; trial++) {
      const std::vector<int32_t> u = randomBits(N, rng);
      std::vector<int32_t> x(N, -1), debug(kHwPolarDebugLen, -1);
      ASSERT_TRUE(nrHwPolarEnc(N, n, N, 0, 0, N, kHwPolarRuleNone, 0, 0, cand, u.data(), x.data(),
                               debug.data()));
      ASSERT_EQ(
          std::vector<int32_t>(debug.begin() + kHwPolarDebugU, debug.begin() + kHwPolarDebugU + N),
          u);
      ASSERT_EQ(x, timesGn(u)) << "N " << N;
    }
  }
}

// G_N's first row is e_0 and its last row all ones.
TEST(HwPolarEnc, SingleOneAtTheEndsOfU) {
  const int32_t n = 5, N = 32;
  for (const int32_t at : {0, N - 1}) {
    std::vector<int32_t> u(N, 0), x(N, -1);
    u[at] = 1;
    ASSERT_TRUE(
        nrHwPolarEnc(N, n, N, 0, 0, N, kHwPolarRuleNone, 0, 0, N, u.data(), x.data(), nullptr));
    std::vector<int32_t> expect(N, at == 0 ? 0 : 1);
    expect[0] = 1;
    EXPECT_EQ(x, expect) << "1 at " << at;
  }
}

// The pipeline runs 2N - 1 clocks and emits x[N-1] at clock N - 1 down to x[0] at clock 2N - 2;
// with the only 1 of u entering last, nothing comes out before clock N - 1.
TEST(HwPolarEnc, PipelineEmitsTheCodewordLastBitFirstFromClockNMinusOne) {
  std::mt19937 rng(5);
  for (int32_t n = kHwPolarMinLog2; n <= kHwPolarMaxLog2; n++) {
    const int32_t N = 1 << n;
    const std::vector<int32_t> u = randomBits(N, rng);
    std::vector<int32_t> x(N, -1), trace(2 * N, -7);
    hw_polar_detail::pipeline(n, N, u.data(), x.data(), trace.data());
    EXPECT_EQ(trace[2 * N - 1], -7) << "a clock after 2N - 2";
    const std::vector<int32_t> expect = timesGn(u);
    for (int32_t t = N - 1; t <= 2 * N - 2; t++) ASSERT_EQ(trace[t], expect[2 * N - 2 - t]) << t;

    std::vector<int32_t> last(N, 0);
    last[N - 1] = 1;
    hw_polar_detail::pipeline(n, N, last.data(), x.data(), trace.data());
    for (int32_t t = 0; t <= 2 * N - 2; t++) ASSERT_EQ(trace[t], t >= N - 1 ? 1 : 0) << t;
  }
}

TEST(HwPolarEnc, InterleaveIndexIsTheSubblockPattern) {
  for (int32_t n = kHwPolarMinLog2; n <= kHwPolarMaxLog2; n++) {
    const int32_t N = 1 << n;
    std::vector<int32_t> J(N, -1);
    std::vector<int16_t> ref(N);
    ASSERT_TRUE(nrHwPolarInterleaveIdx(N, n, J.data()));
    ASSERT_TRUE(nrPolarSubblockPattern(N, ref.data()));
    EXPECT_EQ(J, std::vector<int32_t>(ref.begin(), ref.end())) << "N " << N;
  }
  std::vector<int32_t> J(64, -1);
  EXPECT_FALSE(nrHwPolarInterleaveIdx(64, 5, J.data()));
  EXPECT_FALSE(nrHwPolarInterleaveIdx(16, 4, J.data()));
  EXPECT_EQ(J[0], -1);
}

// For the same K, E and construction as TS 38.212 gives them (n_max 10: no input interleaver,
// parity checks for 18 <= K <= 25), the model's positions are nrPolarConstruct's and its codeword
// is the one nrPolarEncode sub-block interleaves and selects from: every transmitted bit agrees.
TEST(HwPolarEnc, EqualsTheSoftwareEncoderBeforeRateMatching) {
  struct Case {
    uint32_t K, E;
  };
  // Repetition, shortening, puncturing with both thresholds, with and without parity checks
  // (n_PC^wm = 1 when E - K > 189), every length from 32 to 1024.
  const Case cases[] = {{12, 32},   {20, 40},   {20, 100},   {25, 240},   {18, 220}, {24, 700},
                        {40, 60},   {64, 108},  {64, 864},   {100, 200},  {22, 56},  {19, 210},
                        {120, 180}, {200, 260}, {300, 1000}, {500, 1500}, {30, 100}, {60, 300}};
  bool seen[4] = {};
  bool wm = false, pc = false;
  std::mt19937 rng(3);
  for (const Case& c : cases) {
    const std::string what = "K " + std::to_string(c.K) + ", E " + std::to_string(c.E);
    const uint32_t N = nrPolarCodeLength(c.K, c.E, kPolarNmaxLog2);
    const int32_t n = std::countr_zero(N);
    const Rule rule = ruleFor(c.K, c.E, N);
    const int32_t nPC = static_cast<int32_t>(nrPolarPcCount(c.K, kPolarNmaxLog2));
    const int32_t nPCwm = nPC > 0 && c.E - c.K > kPolarPcWmMinGap ? 1 : 0;
    seen[rule.type] = true;
    pc |= nPC > 0;
    wm |= nPCwm > 0;

    const std::vector<int32_t> info = randomBits(c.K, rng);
    std::vector<int16_t> sw(c.E, -1);
    ASSERT_TRUE(nrPolarEncode(info.data(), c.K, sw.data(), c.E, kPolarNmaxLog2)) << what;

    const int32_t cand = nrHwPolarCandidates(n, N, c.E, rule.type, rule.T2, rule.T3);
    std::vector<int32_t> x(N, -1), debug(kHwPolarDebugLen, -1);
    ASSERT_TRUE(nrHwPolarEnc(c.K, n, N, nPC, nPCwm, c.E, rule.type, rule.T2, rule.T3, cand,
                             info.data(), x.data(), debug.data()))
        << what;

    for (uint32_t i = 0; i < N; i++) {
      bool isPc = false;
      for (int32_t j = 0; j < gnrPolarPcN; j++) isPc |= gnrPolarPcPos[j] == static_cast<int32_t>(i);
      const int32_t expect = !gnrPolarInfoInd[i] ? kHwPolarFrozen
                             : isPc              ? kHwPolarParity
                                                 : kHwPolarInfo;
      ASSERT_EQ(debug[i], expect) << what << ", index " << i;
    }
    std::vector<int16_t> J(N);
    ASSERT_TRUE(nrPolarSubblockPattern(N, J.data()));
    const uint32_t first = c.E < N && nrPolarPunctured(c.K, c.E) ? N - c.E : 0;
    for (uint32_t e = 0; e < c.E; e++)
      ASSERT_EQ(sw[e], x[J[(first + e) % N]]) << what << ", bit " << e;
  }
  for (int t = 0; t < 4; t++) EXPECT_TRUE(seen[t]) << "rule " << t;
  EXPECT_TRUE(pc && wm);
}

// nPC = 3, nPCwm = 1: the two least reliable selected positions and the minimum-weight one among
// the K most reliable (the most reliable of them on ties) are parity checks; K positions carry
// information.
TEST(HwPolarEnc, ParityChecksOnTheLeastReliableAndTheMinimumWeightPosition) {
  for (const int32_t K : {18, 21, 25}) {
    const int32_t n = 9, N = 512;
    const int32_t cand = nrHwPolarCandidates(n, N, 400, kHwPolarRuleShorten, 0, 0);
    std::vector<int32_t> sel(N, -1), inf(N, -1), pcFlag(N, -1);
    ASSERT_EQ(nrHwPolarSelectList(K, n, N, 3, 1, 400, kHwPolarRuleShorten, 0, 0, cand, sel.data(),
                                  inf.data(), pcFlag.data()),
              K + 3);
    // The K most reliable selected positions are sel[3 ..]; the smallest weight, latest on ties.
    int32_t best = sel[3];
    for (int32_t i = 4; i < K + 3; i++)
      if (std::popcount(static_cast<uint32_t>(sel[i])) <=
          std::popcount(static_cast<uint32_t>(best)))
        best = sel[i];
    std::vector<int32_t> pcs;
    for (int32_t v = 0; v < N; v++)
      if (pcFlag[v]) pcs.push_back(v);
    std::vector<int32_t> expect = {sel[0], sel[1], best};
    std::sort(expect.begin(), expect.end());
    EXPECT_EQ(pcs, expect) << "K " << K;
    // The information list is the selection without the three parity checks, in the same order.
    std::vector<int32_t> info;
    for (int32_t i = 0; i < K + 3; i++)
      if (!pcFlag[sel[i]]) info.push_back(sel[i]);
    EXPECT_EQ(info, std::vector<int32_t>(inf.begin(), inf.begin() + K));
    EXPECT_EQ(info.size(), static_cast<size_t>(K));

    // The encoder types the same positions.
    std::vector<int32_t> bits(K, 1), x(N), debug(kHwPolarDebugLen);
    ASSERT_TRUE(nrHwPolarEnc(K, n, N, 3, 1, 400, kHwPolarRuleShorten, 0, 0, cand, bits.data(),
                             x.data(), debug.data()));
    for (int32_t v = 0; v < N; v++) {
      const bool isInfo = std::find(inf.begin(), inf.begin() + K, v) != inf.begin() + K;
      const int32_t expect = pcFlag[v] ? kHwPolarParity : isInfo ? kHwPolarInfo : kHwPolarFrozen;
      EXPECT_EQ(debug[v], expect) << "K " << K << ", index " << v;
    }
  }
}

// Each rule freezes exactly the indices whose interleaved position it excludes; shortening to
// E = N - 1 freezes only the index sent to the last position.
TEST(HwPolarEnc, FrozenSetRulesExcludeTheirPositions) {
  for (int32_t n = kHwPolarMinLog2; n <= kHwPolarMaxLog2; n++) {
    const int32_t N = 1 << n;
    std::vector<int32_t> J(N), frozen(N, -1);
    ASSERT_TRUE(nrHwPolarInterleaveIdx(N, n, J.data()));
    ASSERT_EQ(nrHwPolarFrozenIdx(n, N, N - 1, kHwPolarRuleShorten, 0, 0, frozen.data()), 1);
    EXPECT_EQ(frozen[0], J[N - 1]);
    EXPECT_EQ(nrHwPolarCandidates(n, N, N - 1, kHwPolarRuleShorten, 0, 0), N - 1);

    // Puncturing N/4 positions with a threshold T: J(0 .. N/4 - 1) and 0 .. T - 1.
    const int32_t E = N - N / 4, T = N / 8 + 1;
    for (const int32_t type : {kHwPolarRuleT2, kHwPolarRuleT3}) {
      std::vector<bool> expect(N, false);
      for (int32_t p = 0; p < N - E; p++) expect[J[p]] = true;
      for (int32_t v = 0; v < T; v++) expect[v] = true;
      const int32_t m = nrHwPolarFrozenIdx(n, N, E, type, type == kHwPolarRuleT2 ? T : 0,
                                           type == kHwPolarRuleT3 ? T : 0, frozen.data());
      std::vector<int32_t> want;
      for (int32_t v = 0; v < N; v++)
        if (expect[v]) want.push_back(v);
      EXPECT_EQ(std::vector<int32_t>(frozen.begin(), frozen.begin() + std::max(m, 0)), want)
          << "N " << N << ", rule " << type;
    }
  }
}

TEST(HwPolarEnc, RefusesArgumentsItCannotEncode) {
  const int32_t n = 6, N = 64;
  const int32_t cand = nrHwPolarCandidates(n, N, 40, kHwPolarRuleShorten, 0, 0);
  ASSERT_EQ(cand, 40);
  struct Case {
    const char* what;
    int32_t K, n, N, nPC, nPCwm, E, type, T2, T3, cand;
  };
  const Case cases[] = {
      {"n below 5", 8, 4, 16, 0, 0, 16, 0, 0, 0, 16},
      {"n above 10", 8, 11, 2048, 0, 0, 2048, 0, 0, 0, 2048},
      {"N other than 2^n", 8, 6, 32, 0, 0, 40, 1, 0, 0, cand},
      {"K of 0", 0, n, N, 0, 0, 40, 1, 0, 0, cand},
      {"nPCwm 2", 8, n, N, 3, 2, 40, 1, 0, 0, cand},
      {"nPCwm without nPC", 8, n, N, 0, 1, 40, 1, 0, 0, cand},
      {"unknown rule", 8, n, N, 0, 0, 40, 4, 0, 0, cand},
      {"E of 0", 8, n, N, 0, 0, 0, 1, 0, 0, cand},
      {"T2 beyond N", 8, n, N, 0, 0, 40, 2, 65, 0, cand},
      {"candidates too many", 8, n, N, 0, 0, 40, 1, 0, 0, cand + 1},
      {"candidates too few", 8, n, N, 0, 0, 40, 1, 0, 0, cand - 1},
      {"more bits than candidates", 38, n, N, 3, 0, 40, 1, 0, 0, cand},
  };
  std::vector<int32_t> info(64, 1);
  for (const Case& c : cases) {
    std::vector<int32_t> out(2048, -3);
    const std::string err = captureDiag([&] {
      EXPECT_FALSE(nrHwPolarEnc(c.K, c.n, c.N, c.nPC, c.nPCwm, c.E, c.type, c.T2, c.T3, c.cand,
                                info.data(), out.data(), nullptr))
          << c.what;
    });
    EXPECT_NE(err.find("nrHwPolarEnc()"), std::string::npos) << c.what << ": " << err;
    EXPECT_EQ(std::count(out.begin(), out.end(), -3), 2048) << c.what;
  }
}
