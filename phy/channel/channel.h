// The channel between the transmitter's OFDM output and the receiver's input: AWGN alone or a
// TDL fading channel (phy/channel/tdl.h), an optional carrier frequency offset, and white
// Gaussian noise, on the complex samples of one slot in memory.
//
// SNR is defined per resource element of the PDSCH allocation: Es / N0, with Es the mean energy
// of the transmitted PDSCH data resource elements (summed over the transmit ports) and N0 the
// noise energy per subcarrier after the receiver's DFT. The DFT of the bench is unitary (the
// modulator scales by 1/sqrt(N), the demodulator likewise), so N0 equals the variance of the
// complex noise per time sample, and a resource element of transmit grid value X (Q10 integer:
// QPSK +-724) carries |X txPowGain / 1024|^2 in time-sample units (the modulator's output is
// txPowGain x IDFT(X / 1024) / sqrt(N)). The fading channels have a
// mean power gain of 1 per antenna pair, so Es / N0 is also the mean SNR per receive antenna.
#pragma once

#include <cstdint>

#include "config/nr_config.h"
#include "phy/channel/channel_rng.h"
#include "phy/channel/tdl.h"

enum class NrChannelModel : uint8_t { kAwgn, kTdlA, kTdlB, kTdlC };

struct NrChannelCfg {
  NrChannelModel model = NrChannelModel::kAwgn;
  double delaySpreadS = 300e-9;  // TDL rms delay spread
  double dopplerHz = 100.0;      // TDL maximum Doppler shift
  double cfoHz = 0.0;            // carrier frequency offset of the receiver
};

// One realisation of the channel of a slot.
struct NrChannelState {
  NrChannelCfg cfg;
  int rxN;
  int txN;
  double fs;
  NrTdlChannel tdl;  // the fading models' realisation
};

// Sets up a realisation for txN transmit ports and rxN receive antennas at fs samples/s; the
// fading processes are drawn from fadingRng. AWGN is the identity from port a to antenna a (an
// antenna without a port of its own receives noise only). false, with a diagnostic, when the
// parameters are out of range.
bool nrChannelInit(NrChannelState* ch, const NrChannelCfg* cfg, double fs, int rxN, int txN,
                   NrChRng* fadingRng);

// Noise variance per complex time sample (N0) for an SNR per resource element of snrDb and a
// data resource element energy of es (time-sample units).
double nrChannelNoiseVar(double es, double snrDb);

// Sends sampleN samples of every port (tx[p], float) through the realisation at time t0 (seconds
// since the realisation's origin; the Doppler processes and the frequency offset run on), adds
// complex white Gaussian noise of variance noiseVar per sample from noiseRng (0: none) and writes
// the receiver's input: rxSample[a] as ueRxSample holds it (real parts, then imaginary parts),
// each value rounded to the nearest integer (halves away from zero) and saturated to int16.
// Returns the number of values that saturated.
uint32_t nrChannelRun(const NrChannelState* ch, const NrCpxFloat32* const* tx, int sampleN,
                      double t0, double noiseVar, NrChRng* noiseRng,
                      int16_t (*rxSample)[2][kSlotSampleCap]);
