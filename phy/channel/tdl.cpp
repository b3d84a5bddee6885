#include "phy/channel/tdl.h"

#include <cmath>
#include <cstring>

#include "config/console.h"

namespace {

#include "phy/channel/tdl_profiles.inc"

constexpr double kPi = 3.14159265358979323846;
constexpr double kMaxDopplerHz = 10000.0;

const NrTdlProfile kProfiles[] = {
    {"TDL-A", kTdlATapN, kTdlADelay, kTdlAPowerDb},
    {"TDL-B", kTdlBTapN, kTdlBDelay, kTdlBPowerDb},
    {"TDL-C", kTdlCTapN, kTdlCDelay, kTdlCPowerDb},
};

// Port samples split into real and imaginary parts behind kTdlMaxFir zeros (the silence before
// the slot), and the combined impulse response of the current block.
float padRe[kChMaxAnt][kTdlMaxFir + kSlotSampleCap + kFdHalf];
float padIm[kChMaxAnt][kTdlMaxFir + kSlotSampleCap + kFdHalf];
float firRe[kTdlMaxFir];
float firIm[kTdlMaxFir];

double sinc(double x) { return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x); }

// Blackman window on -1 <= u <= 1.
double blackman(double u) {
  return 0.42 + 0.5 * std::cos(kPi * u) + 0.08 * std::cos(2.0 * kPi * u);
}

// The fractional-delay filter of a tap at delay samples, normalised to unit gain at DC; it may
// start up to kFdHalf - 1 samples before the delay (before sample 0 for the earliest taps).
void delayFilter(double delay, int* first, int* len, float* coef) {
  const double whole = std::floor(delay);
  const double frac = delay - whole;
  const int n0 = static_cast<int>(whole);
  if (frac < 1e-9) {
    *first = n0;
    *len = 1;
    coef[0] = 1.0f;
    return;
  }
  const int lo = n0 - kFdHalf + 1;
  const int hi = n0 + kFdHalf;
  double c[2 * kFdHalf];
  double sum = 0.0;
  for (int k = lo; k <= hi; k++) {
    const double x = k - delay;
    c[k - lo] = sinc(x) * blackman(x / kFdHalf);
    sum += c[k - lo];
  }
  *first = lo;
  *len = hi - lo + 1;
  for (int k = 0; k < *len; k++) coef[k] = static_cast<float>(c[k] / sum);
}

}  // namespace

const NrTdlProfile& nrTdlProfile(NrTdlModel model) {
  return kProfiles[static_cast<int>(model) < 3 ? static_cast<int>(model) : 0];
}

void nrSosInit(NrSosFader* f, double dopplerHz, NrChRng* rng) {
  const auto angle = [&] { return 2.0 * kPi * nrChRngUniform(rng) - kPi; };
  const double wd = 2.0 * kPi * dopplerHz;
  const double theta = angle();
  f->phi = angle();
  for (int n = 0; n < kSosSinusoids; n++) {
    const double a = (2.0 * kPi * (n + 1) - kPi + theta) / (4.0 * kSosSinusoids);
    const double psi = angle();
    f->omega[n] = wd * std::cos(a);
    f->cosPsi[n] = std::cos(psi);
    f->sinPsi[n] = std::sin(psi);
  }
}

std::complex<double> nrSosGain(const NrSosFader* f, double t) {
  double re = 0.0, im = 0.0;
  for (int n = 0; n < kSosSinusoids; n++) {
    const double c = std::cos(f->omega[n] * t + f->phi);
    re += f->cosPsi[n] * c;
    im += f->sinPsi[n] * c;
  }
  const double norm = std::sqrt(2.0 / kSosSinusoids);
  return {norm * re, norm * im};
}

bool nrTdlInit(NrTdlChannel* ch, NrTdlModel model, double delaySpreadS, double dopplerHz, double fs,
               int rxN, int txN, NrChRng* rng) {
  if (rxN < 1 || rxN > kChMaxAnt || txN < 1 || txN > kChMaxAnt || !(fs > 0.0) ||
      !(delaySpreadS >= 0.0 && delaySpreadS <= kTdlMaxDelaySpreadS) ||
      !(dopplerHz >= 0.0 && dopplerHz <= kMaxDopplerHz)) {
    nrDiag(
        "nrTdlInit: %d x %d antennas, delay spread %g ns, Doppler %g Hz, %g samples/s: out of "
        "range (1..2 antennas, 0..1000 ns, 0..10000 Hz)\n",
        rxN, txN, delaySpreadS * 1e9, dopplerHz, fs);
    return false;
  }
  const NrTdlProfile& prof = nrTdlProfile(model);
  ch->model = model;
  ch->tapN = prof.tapN;
  ch->rxN = rxN;
  ch->txN = txN;
  ch->fs = fs;
  double total = 0.0;
  for (int l = 0; l < prof.tapN; l++) total += std::pow(10.0, prof.powerDb[l] / 10.0);
  ch->firLen = 0;
  for (int l = 0; l < prof.tapN; l++) {
    ch->tapAmp[l] = std::sqrt(std::pow(10.0, prof.powerDb[l] / 10.0) / total);
    ch->tapDelay[l] = static_cast<double>(prof.delay[l]) * delaySpreadS * fs;
    delayFilter(ch->tapDelay[l], &ch->tapFirst[l], &ch->tapLen[l], ch->tapCoef[l]);
    const int end = ch->tapFirst[l] + ch->tapLen[l] + kFdHalf;
    if (end > ch->firLen) ch->firLen = end;
  }
  if (ch->firLen > kTdlMaxFir) {
    nrDiag("nrTdlInit: %s at %g ns spans %d samples at %g samples/s, more than %d\n", prof.name,
           delaySpreadS * 1e9, ch->firLen, fs, kTdlMaxFir);
    return false;
  }
  // Independent processes per antenna pair and tap, drawn in a fixed order.
  for (int a = 0; a < rxN; a++)
    for (int p = 0; p < txN; p++)
      for (int l = 0; l < prof.tapN; l++) nrSosInit(&ch->fader[a][p][l], dopplerHz, rng);
  return true;
}

std::complex<double> nrTdlTapGain(const NrTdlChannel* ch, int a, int p, int l, double t) {
  return ch->tapAmp[l] * nrSosGain(&ch->fader[a][p][l], t);
}

void nrTdlApply(const NrTdlChannel* ch, const NrCpxFloat32* const* tx, int sampleN, double t0,
                float* const* outRe, float* const* outIm) {
  const int L = ch->firLen;
  const int pad = kTdlMaxFir;
  // Impulse response index j holds delay j - kFdHalf: the sinc of an early fractional tap reaches
  // back before its delay (its ringing arrives with the samples that follow).
  for (int p = 0; p < ch->txN; p++) {
    std::memset(padRe[p], 0, sizeof(float) * pad);
    std::memset(padIm[p], 0, sizeof(float) * pad);
    for (int n = 0; n < sampleN; n++) {
      padRe[p][pad + n] = tx[p][n].re;
      padIm[p][pad + n] = tx[p][n].im;
    }
    std::memset(padRe[p] + pad + sampleN, 0, sizeof(float) * kFdHalf);
    std::memset(padIm[p] + pad + sampleN, 0, sizeof(float) * kFdHalf);
  }
  long blockL = std::lround(ch->fs / kTdlGainRateHz);
  const int block = blockL < 1 ? 1 : static_cast<int>(blockL);
  const double dt = block / ch->fs;
  const double norm = std::sqrt(2.0 / kSosSinusoids);

  for (int a = 0; a < ch->rxN; a++) {
    float* yr = outRe[a];
    float* yi = outIm[a];
    std::memset(yr, 0, sizeof(float) * sampleN);
    std::memset(yi, 0, sizeof(float) * sampleN);
    for (int p = 0; p < ch->txN; p++) {
      // Phasors exp(j(w_n t + phi)) of every sinusoid, advanced block by block by rotation.
      static std::complex<double> ph[kTdlMaxTaps][kSosSinusoids];
      static std::complex<double> step[kTdlMaxTaps][kSosSinusoids];
      for (int l = 0; l < ch->tapN; l++) {
        const NrSosFader& f = ch->fader[a][p][l];
        for (int n = 0; n < kSosSinusoids; n++) {
          ph[l][n] = std::polar(1.0, f.omega[n] * t0 + f.phi);
          step[l][n] = std::polar(1.0, f.omega[n] * dt);
        }
      }
      const float* xr = padRe[p] + pad;
      const float* xi = padIm[p] + pad;
      for (int b0 = 0; b0 < sampleN; b0 += block) {
        std::memset(firRe, 0, sizeof(float) * L);
        std::memset(firIm, 0, sizeof(float) * L);
        for (int l = 0; l < ch->tapN; l++) {
          const NrSosFader& f = ch->fader[a][p][l];
          double gr = 0.0, gi = 0.0;
          for (int n = 0; n < kSosSinusoids; n++) {
            gr += f.cosPsi[n] * ph[l][n].real();
            gi += f.sinPsi[n] * ph[l][n].real();
            ph[l][n] *= step[l][n];
          }
          const double s = ch->tapAmp[l] * norm;
          const float* c = ch->tapCoef[l];
          for (int j = 0; j < ch->tapLen[l]; j++) {
            firRe[ch->tapFirst[l] + kFdHalf + j] += static_cast<float>(s * gr) * c[j];
            firIm[ch->tapFirst[l] + kFdHalf + j] += static_cast<float>(s * gi) * c[j];
          }
        }
        const int end = b0 + block < sampleN ? b0 + block : sampleN;
        for (int j = 0; j < L; j++) {
          const float hr = firRe[j], hi = firIm[j];
          if (hr == 0.0f && hi == 0.0f) continue;
          const float* sr = xr - (j - kFdHalf);
          const float* si = xi - (j - kFdHalf);
          for (int n = b0; n < end; n++) {
            yr[n] += hr * sr[n] - hi * si[n];
            yi[n] += hr * si[n] + hi * sr[n];
          }
        }
      }
    }
  }
}
