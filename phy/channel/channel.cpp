#include "phy/channel/channel.h"

#include <cmath>
#include <cstring>

#include "config/console.h"

namespace {

constexpr double kTwoPi = 6.283185307179586476925;
constexpr double kMaxCfoHz = 1e6;

// The received samples of every antenna before noise and rounding.
float rxRe[kChMaxAnt][kSlotSampleCap];
float rxIm[kChMaxAnt][kSlotSampleCap];

NrTdlModel tdlOf(NrChannelModel m) {
  return m == NrChannelModel::kTdlA   ? NrTdlModel::kTdlA
         : m == NrChannelModel::kTdlB ? NrTdlModel::kTdlB
                                      : NrTdlModel::kTdlC;
}

// Nearest integer, halves away from zero, saturated to int16; counts saturations.
inline int16_t toInt16(double v, uint32_t* sat) {
  const double r = std::round(v);
  if (r > 32767.0) {
    ++*sat;
    return 32767;
  }
  if (r < -32768.0) {
    ++*sat;
    return -32768;
  }
  return static_cast<int16_t>(r);
}

}  // namespace

bool nrChannelInit(NrChannelState* ch, const NrChannelCfg* cfg, double fs, int rxN, int txN,
                   NrChRng* fadingRng) {
  if (rxN < 1 || rxN > kChMaxAnt || txN < 1 || txN > kChMaxAnt || !(fs > 0.0) ||
      !(std::fabs(cfg->cfoHz) <= kMaxCfoHz)) {
    nrDiag(
        "nrChannelInit: %d x %d antennas, %g samples/s, CFO %g Hz: out of range (1..2 "
        "antennas, |CFO| <= 1 MHz)\n",
        rxN, txN, fs, cfg->cfoHz);
    return false;
  }
  ch->cfg = *cfg;
  ch->rxN = rxN;
  ch->txN = txN;
  ch->fs = fs;
  if (cfg->model == NrChannelModel::kAwgn) return true;
  return nrTdlInit(&ch->tdl, tdlOf(cfg->model), cfg->delaySpreadS, cfg->dopplerHz, fs, rxN, txN,
                   fadingRng);
}

double nrChannelNoiseVar(double es, double snrDb) { return es / std::pow(10.0, snrDb / 10.0); }

uint32_t nrChannelRun(const NrChannelState* ch, const NrCpxFloat32* const* tx, int sampleN,
                      double t0, double noiseVar, NrChRng* noiseRng,
                      int16_t (*rxSample)[2][kSlotSampleCap]) {
  if (sampleN > kSlotSampleCap) sampleN = kSlotSampleCap;
  float* re[kChMaxAnt] = {rxRe[0], rxRe[1]};
  float* im[kChMaxAnt] = {rxIm[0], rxIm[1]};
  if (ch->cfg.model == NrChannelModel::kAwgn) {
    for (int a = 0; a < ch->rxN; a++)
      for (int n = 0; n < sampleN; n++) {
        re[a][n] = a < ch->txN ? tx[a][n].re : 0.0f;
        im[a][n] = a < ch->txN ? tx[a][n].im : 0.0f;
      }
  } else {
    nrTdlApply(&ch->tdl, tx, sampleN, t0, re, im);
  }

  // The receiver's oscillator off by cfoHz: a phase ramp from the realisation's origin.
  const double cfo = ch->cfg.cfoHz;
  const double sigma = std::sqrt(noiseVar / 2.0);  // per real dimension
  uint32_t sat = 0;
  for (int a = 0; a < ch->rxN; a++)
    for (int n = 0; n < sampleN; n++) {
      double yr = re[a][n], yi = im[a][n];
      if (cfo != 0.0) {
        const double ph = kTwoPi * cfo * (t0 + n / ch->fs);
        const double c = std::cos(ph), s = std::sin(ph);
        const double r = yr * c - yi * s;
        yi = yr * s + yi * c;
        yr = r;
      }
      if (noiseVar > 0.0) {
        yr += sigma * nrChRngGauss(noiseRng);
        yi += sigma * nrChRngGauss(noiseRng);
      }
      rxSample[a][0][n] = toInt16(yr, &sat);
      rxSample[a][1][n] = toInt16(yi, &sat);
    }
  return sat;
}
