// Tapped-delay-line fading channels TDL-A, TDL-B and TDL-C of TR 38.901 7.7.2: every tap a
// Rayleigh process with the classical (Jakes) Doppler spectrum from a sum of sinusoids,
// independent per tap and per transmit-receive antenna pair, applied to complex time samples.
#pragma once

#include <complex>
#include <cstdint>

#include "config/nr_config.h"
#include "phy/channel/channel_rng.h"

enum class NrTdlModel : uint8_t { kTdlA, kTdlB, kTdlC };

constexpr int kTdlMaxTaps = 24;    // TDL-C has the most taps
constexpr int kSosSinusoids = 16;  // sinusoids per Rayleigh process
constexpr int kChMaxAnt = 2;       // transmit ports and receive antennas
constexpr int kFdHalf = 16;        // half length of a tap's fractional-delay filter, samples
constexpr int kTdlMaxFir = 384;    // combined impulse response length the channel holds
constexpr double kTdlMaxDelaySpreadS = 1000e-9;
// The tap gains are evaluated every 1/16 of an OFDM symbol at 15 kHz (4.17 us) and held in
// between: at 1 kHz Doppler the phase moves by at most 0.026 rad within one such block.
constexpr double kTdlGainRateHz = 16.0 * 15000.0;

// One delay profile: kTdl*Delay (normalised: the rms delay spread is 1) and power in dB.
struct NrTdlProfile {
  const char* name;
  int tapN;
  const float* delay;
  const float* powerDb;
};
const NrTdlProfile& nrTdlProfile(NrTdlModel model);

// One Rayleigh process of unit mean power (Zheng and Xiao, IEEE Trans. Commun. 51(6), 2003):
//   g(t) = sqrt(2/M) sum_n (cos psi_n + j sin psi_n) cos(w_d t cos a_n + phi),
//   a_n = (2 pi n - pi + theta) / (4M), n = 1..M,
// with theta, phi and psi_n independent and uniform on [-pi, pi). Averaged over realisations its
// autocorrelation is J0(w_d tau) for any M.
struct NrSosFader {
  double omega[kSosSinusoids];  // w_d cos a_n, rad/s
  double phi;
  double cosPsi[kSosSinusoids];
  double sinPsi[kSosSinusoids];
};

// Draws the angles of one process with maximum Doppler shift dopplerHz from rng.
void nrSosInit(NrSosFader* f, double dopplerHz, NrChRng* rng);
// g(t).
std::complex<double> nrSosGain(const NrSosFader* f, double t);

// One realisation of a TDL channel between txN transmit ports and rxN receive antennas at the
// sampling rate fs.
struct NrTdlChannel {
  NrTdlModel model;
  int tapN;
  int rxN;
  int txN;
  double fs;
  double tapDelay[kTdlMaxTaps];  // samples
  double tapAmp[kTdlMaxTaps];    // square root of the tap power; the powers sum to 1
  int tapFirst[kTdlMaxTaps];     // first sample of the tap's fractional-delay filter (from -15)
  int tapLen[kTdlMaxTaps];
  float tapCoef[kTdlMaxTaps][2 * kFdHalf];
  int firLen;                                           // length of the combined impulse response
  NrSosFader fader[kChMaxAnt][kChMaxAnt][kTdlMaxTaps];  // [rx][tx][tap]
};

// Sets ch up for model with rms delay spread delaySpreadS (tap delays = normalised delay x
// delaySpreadS), maximum Doppler shift dopplerHz, and draws its fading processes from rng. The
// tap powers of the table are normalised to a sum of 1. A delay at a whole sample is a plain
// delay; any other is a Blackman-windowed sinc of 2 kFdHalf samples around it (band-limited, so
// an early tap's sinc starts a few samples before its delay).
// false, with a diagnostic, when the parameters are out of range (antennas 1..2, delay spread
// 0..1000 ns, Doppler 0..10 kHz, fs > 0) or the impulse response exceeds kTdlMaxFir samples.
bool nrTdlInit(NrTdlChannel* ch, NrTdlModel model, double delaySpreadS, double dopplerHz, double fs,
               int rxN, int txN, NrChRng* rng);

// Complex gain of tap l between transmit port p and receive antenna a at time t (seconds), tap
// power included.
std::complex<double> nrTdlTapGain(const NrTdlChannel* ch, int a, int p, int l, double t);

// out[a][n] = sum_p sum_k h_{a,p}(t0 + n / fs)[k] tx[p][n - k] for n < sampleN: the slot's
// samples of every port through the channel, with samples before and after the slot taken as zero
// (the slot sent on its own). The impulse responses are rebuilt every fs / kTdlGainRateHz samples
// from the tap gains at the start of the block. outRe/outIm hold sampleN floats per antenna.
void nrTdlApply(const NrTdlChannel* ch, const NrCpxFloat32* const* tx, int sampleN, double t0,
                float* const* outRe, float* const* outIm);
