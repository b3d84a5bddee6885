#include "phy/coding/polar_encode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "phy/coding/polar_code.h"
#include "tests/test_util.h"

namespace {

// G_N = F^(x)n by repeated Kronecker products with F = [[1, 0], [1, 1]].
std::vector<std::vector<uint8_t>> kroneckerPower(uint32_t N) {
  std::vector<std::vector<uint8_t>> g = {{1}};
  for (uint32_t n = 1; n < N; n *= 2) {
    std::vector<std::vector<uint8_t>> h(2 * n, std::vector<uint8_t>(2 * n, 0));
    for (uint32_t i = 0; i < n; i++)
      for (uint32_t j = 0; j < n; j++) {
        h[i][j] = g[i][j];          // F(0,0) = 1
        h[n + i][j] = g[i][j];      // F(1,0) = 1
        h[n + i][n + j] = g[i][j];  // F(1,1) = 1
      }
    g = h;
  }
  return g;
}

}  // namespace

TEST(PolarEncode, ButterflyComputesTheProductWithTheKroneckerPower) {
  uint32_t seed = 7;
  for (uint32_t N = 1; N <= 512; N *= 2) {
    const auto G = kroneckerPower(N);
    for (int trial = 0; trial < 8; trial++) {
      std::vector<uint8_t> u(N), x(N, 0);
      for (auto& b : u) {
        seed = seed * 1664525u + 1013904223u;
        b = (seed >> 27) & 1;
      }
      for (uint32_t i = 0; i < N; i++)
        if (u[i])
          for (uint32_t j = 0; j < N; j++) x[j] ^= G[i][j];
      polar_detail::butterfly(u.data(), N);
      ASSERT_EQ(u, x) << "N " << N;
    }
  }
}

TEST(PolarEncode, RefusesSizesTheCodeCannotCarry) {
  int32_t c[200] = {};
  int16_t out[9000];
  struct Case {
    uint32_t K, E, nMax;
  };
  const Case cases[] = {{0, 108, 9},   {109, 108, 9}, {165, 1728, 9},
                        {64, 8193, 9}, {64, 108, 4},  {64, 108, 11}};
  for (const Case& k : cases) {
    std::fill(out, out + 9000, int16_t{-5});
    const std::string err =
        captureDiag([&] { EXPECT_FALSE(nrPolarEncode(c, k.K, out, k.E, k.nMax)); });
    EXPECT_NE(err.find("nrPolarEncode"), std::string::npos) << k.K << " " << k.E;
    EXPECT_EQ(out[0], -5);
  }
}
