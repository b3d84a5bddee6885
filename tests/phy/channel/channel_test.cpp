// The channel models against their definitions, statistically with fixed seeds: the noise level
// the SNR asks for, the TDL power-delay profiles, the Doppler autocorrelation J0, the
// fractional-delay filters' frequency response, the frequency offset, and a noise-free pass.
#include "phy/channel/channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>

#include "phy/channel/tdl.h"
#include "tests/test_util.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kFs = 30.72e6;
constexpr int kSlotN = 30720;

// A test waveform: unit-power complex samples (a sum of tones), the same for every port.
NrCpxFloat32 wave[kSlotN];
int16_t rxA[2][2][kSlotSampleCap];
int16_t rxB[2][2][kSlotSampleCap];

void makeWave(double amplitude) {
  for (int n = 0; n < kSlotN; n++) {
    const double ph = 2.0 * kPi * (0.01 * n + 1e-6 * n * n);
    wave[n] = {static_cast<float>(amplitude * std::cos(ph)),
               static_cast<float>(amplitude * std::sin(ph))};
  }
}

}  // namespace

// The noise of the AWGN channel has the variance the SNR per RE asks for: measured as the power of
// the difference between noisy and noise-free receiver input over 100 slots, within 0.1 dB.
TEST(Awgn, MeasuredSnrEqualsTheRequestedOne) {
  makeWave(300.0);
  const NrCpxFloat32* tx[2] = {wave, wave};
  NrChannelCfg cfg;
  NrChannelState ch;
  NrChRng fading;
  nrChRngSeed(&fading, 7);
  ASSERT_TRUE(nrChannelInit(&ch, &cfg, kFs, 1, 1, &fading));
  const double es = 1024.0 * 1024.0;  // a QPSK RE of the Q10 grid at unity gain
  for (double snrDb : {0.0, 10.0, 20.0}) {
    const double noiseVar = nrChannelNoiseVar(es, snrDb);
    double power = 0.0;
    long count = 0;
    for (uint64_t slot = 0; slot < 100; slot++) {
      NrChRng noise;
      nrChRngSeed(&noise, 7, slot);
      nrChannelRun(&ch, tx, kSlotN, 0.0, 0.0, &noise, rxA);
      nrChannelRun(&ch, tx, kSlotN, 0.0, noiseVar, &noise, rxB);
      for (int c = 0; c < 2; c++)
        for (int n = 0; n < kSlotN; n++) {
          const double d = rxB[0][c][n] - rxA[0][c][n];
          power += d * d;
        }
      count += kSlotN;
    }
    const double measuredDb = 10.0 * std::log10(es / (power / count));
    EXPECT_NEAR(measuredDb, snrDb, 0.1) << snrDb;
  }
}

// With noise far below the int16 resolution the receiver input is the transmitted waveform
// rounded to int16 (halves away from zero), saturated at the int16 limits.
TEST(Awgn, VeryHighSnrGivesTheRoundedWaveform) {
  makeWave(1000.0);
  wave[5] = {40000.0f, -40000.0f};  // beyond int16: saturates
  wave[6] = {2.75f, -2.25f};
  const NrCpxFloat32* tx[2] = {wave, wave};
  NrChannelCfg cfg;
  NrChannelState ch;
  NrChRng rng;
  nrChRngSeed(&rng, 1);
  ASSERT_TRUE(nrChannelInit(&ch, &cfg, kFs, 2, 2, &rng));
  const uint32_t sat = nrChannelRun(&ch, tx, kSlotN, 0.0, nrChannelNoiseVar(1e6, 200.0), &rng, rxA);
  EXPECT_EQ(sat, 4u);
  for (int a = 0; a < 2; a++)
    for (int n = 0; n < kSlotN; n++) {
      if (n == 5) {
        EXPECT_EQ(rxA[a][0][n], 32767);
        EXPECT_EQ(rxA[a][1][n], -32768);
        continue;
      }
      // A value exactly halfway between two integers is left to the noise.
      for (int c = 0; c < 2; c++) {
        const double v = c == 0 ? wave[n].re : wave[n].im;
        if (std::fabs(v - std::trunc(v)) == 0.5) continue;
        ASSERT_EQ(rxA[a][c][n], static_cast<int16_t>(std::round(v))) << n;
      }
    }
  EXPECT_EQ(rxA[0][0][6], 3);
  EXPECT_EQ(rxA[0][1][6], -2);
}

// A frequency offset turns the waveform by 2 pi f t from the realisation's origin.
TEST(Awgn, FrequencyOffsetRotatesThePhase) {
  makeWave(10000.0);
  const NrCpxFloat32* tx[2] = {wave, wave};
  NrChannelCfg cfg;
  cfg.cfoHz = 1500.0;
  NrChannelState ch;
  NrChRng rng;
  nrChRngSeed(&rng, 1);
  ASSERT_TRUE(nrChannelInit(&ch, &cfg, kFs, 1, 1, &rng));
  const double t0 = 8e-3;
  nrChannelRun(&ch, tx, kSlotN, t0, 0.0, &rng, rxA);
  for (int n = 0; n < kSlotN; n += 997) {
    const std::complex<double> x(wave[n].re, wave[n].im);
    const std::complex<double> y = x * std::polar(1.0, 2.0 * kPi * 1500.0 * (t0 + n / kFs));
    EXPECT_NEAR(rxA[0][0][n], y.real(), 0.51) << n;
    EXPECT_NEAR(rxA[0][1][n], y.imag(), 0.51) << n;
  }
}

// Mean power of every tap of every profile over 4000 independent realisations (fixed seeds):
// the table's power normalised to a sum of 1, within 5 %; the profiles' rms delay spread is the
// one asked for.
TEST(Tdl, MeanTapPowerFollowsEachProfile) {
  constexpr int kRuns = 4000;
  for (NrTdlModel m : {NrTdlModel::kTdlA, NrTdlModel::kTdlB, NrTdlModel::kTdlC}) {
    const NrTdlProfile& prof = nrTdlProfile(m);
    double total = 0.0;
    for (int l = 0; l < prof.tapN; l++) total += std::pow(10.0, prof.powerDb[l] / 10.0);
    static NrTdlChannel ch;
    double power[kTdlMaxTaps] = {};
    for (int r = 0; r < kRuns; r++) {
      NrChRng rng;
      nrChRngSeed(&rng, 11, static_cast<uint64_t>(m), r);
      ASSERT_TRUE(nrTdlInit(&ch, m, 300e-9, 100.0, kFs, 2, 2, &rng));
      // Four antenna pairs, each at two times far apart in Doppler terms.
      for (int a = 0; a < 2; a++)
        for (int p = 0; p < 2; p++)
          for (double t : {0.0, 0.5})
            for (int l = 0; l < prof.tapN; l++)
              power[l] += std::norm(nrTdlTapGain(&ch, a, p, l, t));
    }
    double mean = 0.0, meanSq = 0.0;
    for (int l = 0; l < prof.tapN; l++) {
      const double want = std::pow(10.0, prof.powerDb[l] / 10.0) / total;
      EXPECT_NEAR(power[l] / (kRuns * 8.0), want, 0.05 * want) << prof.name << " tap " << l + 1;
      mean += want * ch.tapDelay[l];
      meanSq += want * ch.tapDelay[l] * ch.tapDelay[l];
    }
    EXPECT_NEAR(std::sqrt(meanSq - mean * mean) / kFs, 300e-9, 1e-9) << prof.name;
  }
}

// The autocorrelation of a tap, averaged over independent processes, follows J0(2 pi fd tau)
// (Jakes' spectrum) at lags up to 5 ms, within 0.03.
TEST(Tdl, TapAutocorrelationFollowsBesselJ0) {
  constexpr int kRuns = 20000;
  const double fd = 100.0;
  const double lags[] = {0.0, 0.5e-3, 1e-3, 2e-3, 3e-3, 3.83e-3, 5e-3};
  std::complex<double> acf[7] = {};
  for (int r = 0; r < kRuns; r++) {
    NrChRng rng;
    nrChRngSeed(&rng, 21, r);
    NrSosFader f;
    nrSosInit(&f, fd, &rng);
    const double t0 = 0.1 * nrChRngUniform(&rng);
    const std::complex<double> g0 = nrSosGain(&f, t0);
    for (int k = 0; k < 7; k++) acf[k] += g0 * std::conj(nrSosGain(&f, t0 + lags[k]));
  }
  for (int k = 0; k < 7; k++) {
    const double want = std::cyl_bessel_j(0.0, 2.0 * kPi * fd * lags[k]);
    EXPECT_NEAR(acf[k].real() / kRuns, want, 0.03) << lags[k];
    EXPECT_NEAR(acf[k].imag() / kRuns, 0.0, 0.03) << lags[k];
  }
}

// The channel applied to an impulse has the frequency response sum_l g_l exp(-j 2 pi f tau_l)
// of its taps (fractional delays included) across the band a carrier occupies, within 2 % of the
// channel's rms gain.
TEST(Tdl, ImpulseResponseMatchesTheTapsInBand) {
  // An impulse at sample kAt: the response of the early taps' sinc starts before it.
  constexpr int kAt = 64;
  static NrCpxFloat32 impulse[kSlotN];
  impulse[kAt] = {1.0f, 0.0f};
  const NrCpxFloat32* tx[1] = {impulse};
  static float re[kSlotN], im[kSlotN];
  float* outRe[1] = {re};
  float* outIm[1] = {im};
  for (NrTdlModel m : {NrTdlModel::kTdlA, NrTdlModel::kTdlC}) {
    NrChRng rng;
    nrChRngSeed(&rng, 5, static_cast<uint64_t>(m));
    static NrTdlChannel ch;
    ASSERT_TRUE(nrTdlInit(&ch, m, 300e-9, 0.0, kFs, 1, 1, &rng));
    nrTdlApply(&ch, tx, 1024, 0.0, outRe, outIm);
    double gain = 0.0, err = 0.0;
    int count = 0;
    for (double f = -0.42; f <= 0.42; f += 0.01) {
      std::complex<double> h(0.0, 0.0), want(0.0, 0.0);
      for (int n = -kFdHalf; n < ch.firLen; n++)
        h += std::complex<double>(re[kAt + n], im[kAt + n]) * std::polar(1.0, -2.0 * kPi * f * n);
      for (int l = 0; l < ch.tapN; l++)
        want += nrTdlTapGain(&ch, 0, 0, l, 0.0) * std::polar(1.0, -2.0 * kPi * f * ch.tapDelay[l]);
      gain += std::norm(want);
      err = std::max(err, std::abs(h - want));
      count++;
    }
    EXPECT_LT(err, 0.02 * std::sqrt(gain / count)) << nrTdlProfile(m).name;
  }
}

TEST(Tdl, OutOfRangeParametersAreRefused) {
  NrChRng rng;
  nrChRngSeed(&rng, 1);
  static NrTdlChannel ch;
  const std::string err = captureDiag([&] {
    EXPECT_FALSE(nrTdlInit(&ch, NrTdlModel::kTdlC, 2e-6, 100.0, kFs, 1, 1, &rng));
    EXPECT_FALSE(nrTdlInit(&ch, NrTdlModel::kTdlC, 300e-9, -1.0, kFs, 1, 1, &rng));
    EXPECT_FALSE(nrTdlInit(&ch, NrTdlModel::kTdlC, 300e-9, 100.0, kFs, 3, 1, &rng));
  });
  EXPECT_NE(err.find("out of range"), std::string::npos) << err;
}
