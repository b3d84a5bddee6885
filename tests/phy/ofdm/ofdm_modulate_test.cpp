#include "phy/ofdm/ofdm_modulate.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>

#include "config/nr_config.h"
#include "phy/common/cpu_features.h"

namespace {

// A 106-RB carrier at N = 2048 with the normal cyclic-prefix pattern.
void setCarrier(NrNbConfig& c, uint16_t zeroScUsed, uint16_t gain = 1024) {
  std::memset(&c, 0, sizeof(c));
  c.carrierCfg.nrb = 106;
  c.carrierCfg.zeroScUsed = zeroScUsed;
  c.carrierCfg.txPowGain = gain;
  c.cellCfg.fftSize = 2048;
  const uint16_t pattern[14] = {10, 9, 9, 9, 9, 9, 9, 10, 9, 9, 9, 9, 9, 9};
  for (int l = 0; l < 14; l++) c.cellCfg.cpLen[l] = pattern[l] * 16;
}

NrNbConfig cfg;
NrNbTxBuf buf;

// Start of symbol l's segment (its cyclic prefix) in the sample streams.
uint32_t segmentStart(int l) {
  uint32_t pos = 0;
  for (int k = 0; k < l; k++) pos += cfg.cellCfg.cpLen[k] + cfg.cellCfg.fftSize;
  return pos;
}

}  // namespace

TEST(OfdmMod, EmptyGridGivesSilence) {
  setCarrier(cfg, 1);
  std::memset(&buf, 0x55, sizeof(buf.nbTxSample) + sizeof(buf.nbTxSampleF) + sizeof(buf.nbTxGrid));
  std::memset(buf.nbTxGrid, 0, sizeof(buf.nbTxGrid));
  nrOfdmMod(&cfg, &buf);
  for (int i = 0; i < 30720; i++) {
    ASSERT_EQ(buf.nbTxSample[i], 0) << i;
    ASSERT_EQ(buf.nbTxSampleF[i].re, 0.0f) << i;
    ASSERT_EQ(buf.nbTxSampleF[i].im, 0.0f) << i;
  }
}

TEST(OfdmMod, CentreSubcarrierIsDcOrBinOne) {
  for (uint16_t zeroSc : {1, 0}) {
    setCarrier(cfg, zeroSc);
    std::memset(&buf, 0, sizeof(buf));
    buf.nbTxGrid[3][6 * 106] = nrCpxPack(1024, 0);  // first subcarrier of the upper half
    nrOfdmMod(&cfg, &buf);
    const uint32_t start = segmentStart(3) + cfg.cellCfg.cpLen[3];
    const double amp = 1024.0 / std::sqrt(2048.0);  // 22.627...
    for (int n = 0; n < 2048; n++) {
      // zeroScUsed: bin 0, a constant; otherwise bin 1, one counter-clockwise turn per symbol.
      const double phase = zeroSc ? 0.0 : 2.0 * M_PI * n / 2048.0;
      const NrCpxFloat32 f = buf.nbTxSampleF[start + n];
      ASSERT_NEAR(f.re, amp * std::cos(phase), 1e-4) << n;
      ASSERT_NEAR(f.im, amp * std::sin(phase), 1e-4) << n;
      ASSERT_EQ(nrCpxRe(buf.nbTxSample[start + n]), std::lround(amp * std::cos(phase))) << n;
      ASSERT_EQ(nrCpxIm(buf.nbTxSample[start + n]), std::lround(amp * std::sin(phase))) << n;
    }
    if (zeroSc) {
      EXPECT_EQ(nrCpxRe(buf.nbTxSample[start]), 23);
    }
    // Other symbols stay silent.
    EXPECT_EQ(buf.nbTxSample[segmentStart(2) + 500], 0);
  }
}

TEST(OfdmMod, LowestGridSubcarrierIsTheLowestNegativeFrequency) {
  setCarrier(cfg, 1);
  std::memset(&buf, 0, sizeof(buf));
  buf.nbTxGrid[0][0] = nrCpxPack(0, 1024);  // value j
  nrOfdmMod(&cfg, &buf);
  const uint32_t start = cfg.cellCfg.cpLen[0];
  const double amp = 1024.0 / std::sqrt(2048.0);
  const int bin = 2048 - 6 * 106;
  for (int n = 0; n < 2048; n += 7) {
    const double phase = 2.0 * M_PI * bin * n / 2048.0 + M_PI / 2;
    ASSERT_NEAR(buf.nbTxSampleF[start + n].re, amp * std::cos(phase), 1e-3) << n;
    ASSERT_NEAR(buf.nbTxSampleF[start + n].im, amp * std::sin(phase), 1e-3) << n;
  }
}

TEST(OfdmMod, CyclicPrefixRepeatsTheSymbolTail) {
  setCarrier(cfg, 1);
  std::memset(&buf, 0, sizeof(buf));
  for (int l = 0; l < 14; l++)
    for (int k = 0; k < 1272; k += 5) buf.nbTxGrid[l][k] = nrCpxPack(724 * ((k + l) % 3 - 1), -724);
  nrOfdmMod(&cfg, &buf);
  for (int l = 0; l < 14; l++) {
    const uint32_t s = segmentStart(l);
    const uint32_t cp = cfg.cellCfg.cpLen[l];
    for (uint32_t i = 0; i < cp; i++) {
      ASSERT_EQ(buf.nbTxSample[s + i], buf.nbTxSample[s + 2048 + i]) << l << "," << i;
      ASSERT_EQ(buf.nbTxSampleF[s + i].re, buf.nbTxSampleF[s + 2048 + i].re);
    }
  }
  EXPECT_EQ(segmentStart(14), 30720u);
}

TEST(OfdmMod, LargeValuesWrapInIntegersButNotInFloats) {
  setCarrier(cfg, 1, 65535);
  std::memset(&buf, 0, sizeof(buf));
  // All 1272 subcarriers at +32767 add up coherently at n = 0: far beyond int16.
  for (int k = 0; k < 1272; k++) buf.nbTxGrid[5][k] = nrCpxPack(32767, 0);
  nrOfdmMod(&cfg, &buf);
  const uint32_t start = segmentStart(5) + cfg.cellCfg.cpLen[5];
  const double expect = 65535.0 * (32767.0 / 1024.0) * 1272 / std::sqrt(2048.0);
  EXPECT_NEAR(buf.nbTxSampleF[start].re, expect, expect * 1e-6);
  const int64_t rounded = std::llround(static_cast<double>(buf.nbTxSampleF[start].re));
  // The float copy is rounded to 24 bits of mantissa: compare only the wrap, not the last bits.
  EXPECT_NE(nrCpxRe(buf.nbTxSample[start]), rounded);
  EXPECT_LT(std::abs(static_cast<int>(nrCpxRe(buf.nbTxSample[start])) -
                     static_cast<int16_t>(static_cast<uint16_t>(rounded))),
            64);
}

// A DC value X on N = 256 gives x[n] = G / 1024 * X / 16 exactly, so halfway cases appear: the
// integer stream rounds them away from zero, the float stream keeps them. Only 15 * N samples are
// written.
TEST(OfdmMod, GainScalesAndHalvesRoundAwayFromZero) {
  const struct {
    uint16_t gain;
    int16_t re, im;
    float fRe, fIm;
    int16_t iRe, iIm;
  } cases[] = {
      {1024, 40, -8, 2.5f, -0.5f, 3, -1},
      {1024, -24, 8, -1.5f, 0.5f, -2, 1},
      {512, 40, -8, 1.25f, -0.25f, 1, 0},
      {3072, 8, -24, 1.5f, -4.5f, 2, -5},
  };
  for (const auto& c : cases) {
    std::memset(&cfg, 0, sizeof(cfg));
    cfg.carrierCfg.nrb = 10;
    cfg.carrierCfg.zeroScUsed = 1;
    cfg.carrierCfg.txPowGain = c.gain;
    cfg.cellCfg.fftSize = 256;
    const uint16_t pattern[14] = {10, 9, 9, 9, 9, 9, 9, 10, 9, 9, 9, 9, 9, 9};
    for (int l = 0; l < 14; l++) cfg.cellCfg.cpLen[l] = pattern[l] * 2;
    std::memset(&buf, 0, sizeof(buf));
    for (int i = 15 * 256; i < 30720; i++) buf.nbTxSample[i] = 99;
    for (int l = 0; l < 14; l++) buf.nbTxGrid[l][60] = nrCpxPack(c.re, c.im);  // DC subcarrier
    nrOfdmMod(&cfg, &buf);
    for (int i = 0; i < 15 * 256; i++) {
      ASSERT_EQ(buf.nbTxSampleF[i].re, c.fRe) << c.gain << " " << i;
      ASSERT_EQ(buf.nbTxSampleF[i].im, c.fIm) << c.gain << " " << i;
      ASSERT_EQ(nrCpxRe(buf.nbTxSample[i]), c.iRe) << c.gain << " " << i;
      ASSERT_EQ(nrCpxIm(buf.nbTxSample[i]), c.iIm) << c.gain << " " << i;
    }
    for (int i = 15 * 256; i < 30720; i++) ASSERT_EQ(buf.nbTxSample[i], 99) << i;
  }
}

TEST(OfdmMod, CarrierWiderThanTheFftIsRejected) {
  setCarrier(cfg, 1);
  cfg.carrierCfg.nrb = 200;  // 2400 subcarriers do not fit 2048 bins
  std::memset(&buf, 0, sizeof(buf));
  buf.nbTxSample[0] = 77;
  nrOfdmMod(&cfg, &buf);
  EXPECT_EQ(buf.nbTxSample[0], 77);
}

TEST(FftShift, SwapsHalvesInPlaceAndOutOfPlace) {
  int32_t a[8] = {0, 1, 2, 3, 4, 5, 6, 7};
  int32_t b[8];
  nrFftShift(b, a, 8);
  const int32_t expect[8] = {4, 5, 6, 7, 0, 1, 2, 3};
  for (int i = 0; i < 8; i++) EXPECT_EQ(b[i], expect[i]);
  nrFftShift(a, a, 8);
  for (int i = 0; i < 8; i++) EXPECT_EQ(a[i], expect[i]);
}

// The output step at every instruction-set level against llround itself: exact halves, the
// neighbours of halves, values up to the fast path's bound, symbols with values beyond the int32
// range (wrapped to 16 bits) or a NaN, signed zero, and sqrt(N) a power of two or not.
TEST(OfdmMod, OutputRoundingMatchesLlroundAtEveryLevel) {
  constexpr uint32_t kN = 512;
  static fftw_complex out[kN];
  uint32_t rng = 12345;
  auto next = [&rng] { return rng = rng * 1664525u + 1013904223u; };
  const double special[] = {0.5,
                            -0.5,
                            1.5,
                            -1.5,
                            2.5,
                            -32768.5,
                            32767.5,
                            65535.5,
                            -0.0,
                            0.0,
                            1073741823.5,
                            -1073741823.5,
                            std::nextafter(0.5, 0.0),
                            std::nextafter(-0.5, 0.0),
                            std::nextafter(1073741823.5, 0.0),
                            0x1p31 + 12345.5,
                            -0x1p40 - 0.5,
                            0x1p53,
                            1e300,
                            std::nextafter(2.5, 0.0),
                            std::nextafter(-2.5, 0.0),
                            2147483647.4,
                            2147483647.5,
                            -2147483648.0,
                            -2147483648.49};
  auto wrap = [](double v) {
    return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(std::llround(v))));
  };
  const struct {
    const char* what;
    double gain;
    double sqrtN;
    double limit;  // values from here up are replaced (beyond 2^30 the symbol goes to llround)
    bool nan;
  } cases[] = {
      {"unit scale", 1.0, 1.0, 0x1p30, false},
      {"unit scale, just beyond int32", 1.0, 1.0, 0x1p32, false},
      {"unit scale, huge values", 1.0, 1.0, HUGE_VAL, false},
      {"power-of-two sqrt(N)", 1024.0, 32.0, 0x1p30, false},
      {"N = 2048", 1024.0, std::sqrt(2048.0), 0x1p30, false},
      {"N = 2048, huge values", 1024.0, std::sqrt(2048.0), HUGE_VAL, false},
      {"a NaN among the values", 3.0, 7.0, 0x1p30, true},
  };
  for (const auto& c : cases) {
    for (uint32_t t = 0; t < kN; t++)
      for (int k = 0; k < 2; k++) {
        const uint32_t r = next();
        // The high bits pick: the low bits of this generator repeat with a short period.
        double v = r >> 30 == 0 ? special[(r >> 8) % (sizeof special / sizeof special[0])]
                                : static_cast<double>(static_cast<int32_t>(next())) / 64.0 +
                                      static_cast<double>(r % 3) * 0.5;
        if (!(std::fabs(v) < c.limit)) v = -2.5;
        out[t][k] = v * c.sqrtN / c.gain;
      }
    if (c.nan) out[kN / 3][1] = std::nan("");
    NrCpxFloat32 refF[kN];
    int32_t refS[kN];
    for (uint32_t t = 0; t < kN; t++) {
      const double re = c.gain * (out[t][0] / c.sqrtN);
      const double im = c.gain * (out[t][1] / c.sqrtN);
      refF[t] = NrCpxFloat32{static_cast<float>(re), static_cast<float>(-im)};
      refS[t] = nrCpxPack(wrap(re), wrap(-im));
    }
    for (uint8_t cap : {kNrCpuBaseline, kNrCpuAvx2, kNrCpuAvx512}) {
      if (nrCpuSetLevelCap(cap) != cap) continue;  // this CPU lacks the level
      NrCpxFloat32 f[kN];
      int32_t s[kN];
      ofdm_detail::scaleRound(out, kN, c.gain, c.sqrtN, f, s);
      for (uint32_t t = 0; t < kN; t++) {
        ASSERT_EQ(s[t], refS[t]) << c.what << ", level " << int{cap} << ", sample " << t << ": "
                                 << out[t][0] << " " << out[t][1];
        ASSERT_EQ(std::memcmp(&f[t], &refF[t], sizeof f[t]), 0) << c.what << ", sample " << t;
      }
    }
    nrCpuSetLevelCap(0xFF);
  }
}

// The whole slot against a per-bin reference (grid entry by entry through the half swap, a
// cleared input, the transform, the baseline output step), with the shared transform input left
// dirty by another user first: every bin outside the carrier must still read zero.
TEST(OfdmMod, SlotMatchesBinByBinPlacementAtEveryLevel) {
  const struct {
    uint32_t n;
    uint16_t nrb;
    uint16_t zeroScUsed;
  } cases[] = {{2048, 106, 0}, {2048, 106, 1}, {256, 21, 0}, {128, 10, 1}, {64, 1, 0}};
  uint32_t rng = 777;
  auto next = [&rng] { return rng = rng * 1664525u + 1013904223u; };
  static NrCpxFloat32 refF[kMaxFftSize];
  static int32_t refS[kMaxFftSize];
  for (const auto& c : cases) {
    setCarrier(cfg, c.zeroScUsed, 1000);
    cfg.carrierCfg.nrb = c.nrb;
    cfg.cellCfg.fftSize = c.n;
    for (int l = 0; l < 14; l++) cfg.cellCfg.cpLen[l] = c.n / 16;
    const uint32_t half = 6u * c.nrb;
    for (int l = 0; l < 14; l++)
      for (uint32_t k = 0; k < 2 * half; k++) {
        const uint32_t r = next();
        // Mostly constellation-sized values, some extremes and zeros.
        buf.nbTxGrid[l][k] = r % 7 == 0    ? 0
                             : r % 11 == 0 ? static_cast<int32_t>(next())
                                           : nrCpxPack(static_cast<int16_t>(r >> 20) - 2048,
                                                       static_cast<int16_t>(r >> 8 & 0xFFF) - 2048);
      }
    for (uint8_t cap : {kNrCpuBaseline, kNrCpuAvx2, kNrCpuAvx512}) {
      if (nrCpuSetLevelCap(cap) != cap) continue;
      NrFftPlan& fft = *nrFftForward(c.n);
      for (uint32_t b = 0; b < kMaxFftSize; b++) fft.in[b][0] = fft.in[b][1] = std::nan("");
      ASSERT_TRUE(nrOfdmMod(&cfg, &buf));
      nrCpuSetLevelCap(kNrCpuBaseline);
      const uint32_t h = c.n / 2;
      auto shifted = [h](uint32_t i) { return i < h ? i + h : i - h; };
      const uint32_t lo = h - half;
      const uint32_t hi = h + (c.zeroScUsed == 0 ? 1 : 0);
      uint32_t pos = 0;
      for (int l = 0; l < 14; l++) {
        std::memset(fft.in, 0, sizeof(fftw_complex) * c.n);
        auto put = [&fft](uint32_t b, int32_t x) {
          fft.in[b][0] = static_cast<double>(nrCpxRe(x) / 1024.0f);
          fft.in[b][1] = static_cast<double>(-nrCpxIm(x) / 1024.0f);
        };
        for (uint32_t k = 0; k < half; k++) {
          put(shifted(lo + k), buf.nbTxGrid[l][k]);
          put(shifted(hi + k), buf.nbTxGrid[l][half + k]);
        }
        fftw_execute(fft.plan);
        ofdm_detail::scaleRound(fft.out, c.n, 1000.0, std::sqrt(static_cast<double>(c.n)), refF,
                                refS);
        pos += cfg.cellCfg.cpLen[l];
        ASSERT_EQ(std::memcmp(&buf.nbTxSample[pos], refS, c.n * sizeof(int32_t)), 0)
            << "N " << c.n << ", level " << int{cap} << ", symbol " << l;
        ASSERT_EQ(std::memcmp(&buf.nbTxSampleF[pos], refF, c.n * sizeof(NrCpxFloat32)), 0)
            << "N " << c.n << ", level " << int{cap} << ", symbol " << l;
        pos += c.n;
      }
      nrCpuSetLevelCap(0xFF);
    }
  }
}

// The output step's quotient by sqrt(N) at every level against the division itself, over inputs
// of every magnitude: FFT-sized values, values whose quotient lies next to a half, random bit
// patterns of any exponent (huge, tiny, subnormal, infinite, NaN), signed zeros, and gains of
// either sign. A symbol carries one family, so the fast path and its fall-backs are both seen.
TEST(OfdmMod, ScalingQuotientIsTheCorrectlyRoundedDivisionAtEveryLevel) {
  constexpr uint32_t kN = 256;
  static fftw_complex out[kN];
  uint64_t rng = 99;
  auto next = [&rng] {
    rng ^= rng << 13;
    rng ^= rng >> 7;
    rng ^= rng << 17;
    return rng;
  };
  const double divisors[] = {
      std::sqrt(2048.0), std::sqrt(512.0), std::sqrt(128.0), 32.0, std::sqrt(3.0), 1.0};
  // A huge gain lifts quotients of subnormal values into the float range.
  // The products of the tiny values are found only above a gain of 2^700 (2^760 makes them
  // float subnormals); up to it they round to zeros either way.
  const double gains[] = {1024.0, 0.75, -3.0, 0x1p700, -0x1p760, 0x1p1000};
  for (double d : divisors)
    for (double gain : gains)
      for (int family = 0; family < 6; family++)
        for (int rep = 0; rep < 40; rep++) {
          for (uint32_t t = 0; t < kN; t++)
            for (int k = 0; k < 2; k++) {
              const uint64_t r = next();
              double v = 0;
              switch (family) {
                case 0:  // transform outputs of Q10 grids
                  v = static_cast<double>(static_cast<int32_t>(r)) / 4096.0;
                  break;
                case 1:  // quotients next to a half
                  v = (static_cast<double>(static_cast<int32_t>(r) >> 12) + 0.5) * d / gain *
                      (1.0 + static_cast<double>(static_cast<int8_t>(r >> 56)) * 0x1p-52);
                  break;
                case 2:  // mantissas at moderate exponents
                  v = std::ldexp(static_cast<double>(r >> 11), static_cast<int>(r % 60) - 80);
                  break;
                case 3:  // any bit pattern
                  v = std::bit_cast<double>(r);
                  break;
                case 4:  // signed zeros among small values
                  v = r % 3 == 0 ? (r & 8 ? -0.0 : 0.0)
                                 : std::ldexp(static_cast<double>(r >> 40), -20);
                  break;
                default:  // a few subnormal values in an ordinary symbol
                  v = t % 50 == 7 ? std::ldexp(static_cast<double>(r >> (12 + r % 48)), -1074)
                                  : static_cast<double>(static_cast<int16_t>(r)) / gain;
                  break;
              }
              out[t][k] = v;
            }
          NrCpxFloat32 refF[kN];
          int32_t refS[kN];
          nrCpuSetLevelCap(kNrCpuBaseline);
          ofdm_detail::scaleRound(out, kN, gain, d, refF, refS);
          for (uint8_t cap : {kNrCpuAvx2, kNrCpuAvx512}) {
            if (nrCpuSetLevelCap(cap) != cap) continue;
            NrCpxFloat32 f[kN];
            int32_t s[kN];
            ofdm_detail::scaleRound(out, kN, gain, d, f, s);
            ASSERT_EQ(std::memcmp(f, refF, sizeof f), 0)
                << "divisor " << d << ", gain " << gain << ", family " << family;
            ASSERT_EQ(std::memcmp(s, refS, sizeof s), 0)
                << "divisor " << d << ", gain " << gain << ", family " << family;
          }
          nrCpuSetLevelCap(0xFF);
        }
}
