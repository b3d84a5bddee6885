#include "phy/common/cpx_float.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <limits>

#include "config/nr_config.h"

namespace {
std::complex<float> c(nrCpxF v) { return {v.re, v.im}; }
}  // namespace

TEST(CpxFloat, OperationsMatchComplexArithmetic) {
  const nrCpxF vals[] = {{1.5f, -2.0f}, {0.25f, 3.0f}, {-7.0f, 0.5f}, {1024.0f, 0.0f}};
  for (nrCpxF a : vals)
    for (nrCpxF b : vals) {
      const std::complex<float> ca = c(a), cb = c(b);
      auto near = [](std::complex<float> x, std::complex<float> y) {
        return std::abs(x - y) <= 1e-4f * (1.0f + std::abs(y));
      };
      EXPECT_TRUE(near(c(nrCpxAdd(a, b)), ca + cb));
      EXPECT_TRUE(near(c(nrCpxSub(a, b)), ca - cb));
      EXPECT_TRUE(near(c(nrCpxMul(a, b)), ca * cb));
      EXPECT_TRUE(near(c(nrCpxMulConj(a, b)), ca * std::conj(cb)));
      EXPECT_TRUE(near(c(nrCpxDiv(a, b)), ca / cb));
      EXPECT_TRUE(near(c(nrCpxScale(a, -0.5f)), ca * -0.5f));
    }
}

TEST(CpxFloat, IqOperandsTakeILowAndQHighSigned) {
  const int32_t y = nrCpxPack(-300, 700);
  const nrCpxF b = {0.5f, -2.0f};
  const std::complex<float> cy(-300.0f, 700.0f), cb(0.5f, -2.0f);
  const nrCpxF m = nrCpxMulIq(y, b);
  const nrCpxF mc = nrCpxMulConjIq(y, b);
  EXPECT_EQ(c(m), cy * cb);
  EXPECT_EQ(c(mc), cy * std::conj(cb));
}

TEST(CpxFloat, Int16ConversionTruncatesSaturatesAndMapsNanToZero) {
  const float inf = std::numeric_limits<float>::infinity();
  const struct {
    double in;
    int16_t out;
  } cases[] = {{1.9, 1},           {-1.9, -1},        {32766.99, 32766}, {40000.0, 32767},
               {-40000.0, -32768}, {inf, 32767},      {-inf, -32768},    {std::nan(""), 0},
               {1e30, 32767},      {-32768.5, -32768}};
  for (const auto& t : cases) EXPECT_EQ(nrFloatToInt16(t.in), t.out) << t.in;
  // 0/0 of a zero estimate.
  const nrCpxF q = nrCpxDiv({1024.0f, 0.0f}, {0.0f, 0.0f});
  EXPECT_EQ(nrFloatToInt16(nrCpxMulIq(0, q).re), 0);
}
