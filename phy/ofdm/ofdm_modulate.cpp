#include "phy/ofdm/ofdm_modulate.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/console.h"
#include "phy/common/cpu_features.h"
#include "phy/common/stage_profile.h"

namespace {

// Below this magnitude the truncation fits an int32 with room for the rounding step.
constexpr double kSmallOutput = 0x1p30;

// Nearest integer with halves away from zero (llround), keeping the low 16 bits (no saturation).
inline int16_t roundWrap16(double v) {
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<int64_t>(std::llround(v))));
}

// The same for |v| < kSmallOutput without a library call: v - trunc(v) is exact in binary floating
// point, so the halfway test sees the true fraction.
[[gnu::always_inline]] inline int16_t roundWrap16Small(double v) {
  const int32_t t = static_cast<int32_t>(v);
  const double f = v - static_cast<double>(t);
  const int32_t r = t + (f >= 0.5 ? 1 : 0) - (f <= -0.5 ? 1 : 0);
  return static_cast<int16_t>(static_cast<uint16_t>(static_cast<uint32_t>(r)));
}

// Scaled samples of one symbol (double), kept between the two passes of scaleRound.
alignas(64) double scaledRe[kMaxFftSize];
alignas(64) double scaledIm[kMaxFftSize];

// First pass over whole vectors: scale, the float samples, and whether every value is small
// enough for roundWrap16Small; then the rounded int16 samples, by llround where one is not.
[[gnu::always_inline]] inline void scaleRoundLanes(const fftw_complex* out, uint32_t n, double gain,
                                                   double sqrtN, NrCpxFloat32* f, int32_t* s) {
  int32_t large = 0;
  for (uint32_t t = 0; t < n; t++) {
    const double re = gain * (out[t][0] / sqrtN);
    const double im = -(gain * (out[t][1] / sqrtN));
    f[t] = NrCpxFloat32{static_cast<float>(re), static_cast<float>(im)};
    scaledRe[t] = re;
    scaledIm[t] = im;
    // A NaN compares false and counts as large.
    large |= !(std::fabs(re) < kSmallOutput) | !(std::fabs(im) < kSmallOutput);
  }
  if (large) {
    for (uint32_t t = 0; t < n; t++)
      s[t] = nrCpxPack(roundWrap16(scaledRe[t]), roundWrap16(scaledIm[t]));
    return;
  }
  for (uint32_t t = 0; t < n; t++)
    s[t] = nrCpxPack(roundWrap16Small(scaledRe[t]), roundWrap16Small(scaledIm[t]));
}

using ScaleRoundFn = void (*)(const fftw_complex*, uint32_t, double, double, NrCpxFloat32*,
                              int32_t*);
void scaleRoundPlain(const fftw_complex* out, uint32_t n, double gain, double sqrtN,
                     NrCpxFloat32* f, int32_t* s) {
  scaleRoundLanes(out, n, gain, sqrtN, f, s);
}
#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 void scaleRoundAvx2(const fftw_complex* out, uint32_t n, double gain,
                                       double sqrtN, NrCpxFloat32* f, int32_t* s) {
  scaleRoundLanes(out, n, gain, sqrtN, f, s);
}
VELTRA_TARGET_AVX512 void scaleRoundAvx512(const fftw_complex* out, uint32_t n, double gain,
                                           double sqrtN, NrCpxFloat32* f, int32_t* s) {
  scaleRoundLanes(out, n, gain, sqrtN, f, s);
}
constexpr ScaleRoundFn kScaleRoundFns[kNrCpuLevels] = {scaleRoundPlain, scaleRoundAvx2,
                                                       scaleRoundAvx512};
#else
constexpr ScaleRoundFn kScaleRoundFns[kNrCpuLevels] = {scaleRoundPlain, nullptr, nullptr};
#endif

}  // namespace

namespace ofdm_detail {

void scaleRound(const fftw_complex* out, uint32_t n, double gain, double sqrtN, NrCpxFloat32* f,
                int32_t* s) {
  nrCpuPick(kScaleRoundFns)(out, n, gain, sqrtN, f, s);
}

}  // namespace ofdm_detail

bool nrOfdmMod(const NrNbConfig* config, NrNbTxBuf* buf) {
  NrStageScope ofdm(NrStage::kOfdm);
  const uint32_t n = config->cellCfg.fftSize;
  const uint32_t nrb = config->carrierCfg.nrb;
  const uint32_t half = 6 * nrb;
  // The grid must fit the FFT and the slot the sample streams; anything else is left untouched.
  uint32_t total = 0;
  bool fits = n != 0 && n <= kMaxFftSize && (n & (n - 1)) == 0 && 2 * half <= n;
  for (int l = 0; fits && l < kSymbolsPerSlot; l++) {
    fits = config->cellCfg.cpLen[l] <= n;
    total += config->cellCfg.cpLen[l] + n;
  }
  if (!fits || total > static_cast<uint32_t>(kSlotSampleCap)) {
    nrDiag("nrOfdmMod: FFT size %u, %u RBs: slot does not fit, not modulated\n", n, nrb);
    return false;
  }

  const uint32_t lo = n / 2 - half;
  const uint32_t hi = n / 2 + (config->carrierCfg.zeroScUsed == 0 ? 1 : 0);
  const double gain = config->carrierCfg.txPowGain;
  const double sqrtN = std::sqrt(static_cast<double>(n));

  NrFftPlan& fft = *nrFftForward(n);
  // Grid entry k of the lower half sits at bin lo + k, of the upper half at hi + k; the half swap
  // then moves the centre to bin 0: bin i lands at i + n/2 below n/2, at i - n/2 above.
  const uint32_t h = n / 2;
  auto shifted = [h](uint32_t i) { return i < h ? i + h : i - h; };

  uint32_t pos = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    const int32_t* grid = buf->nbTxGrid[l];
    // Inverse DFT as a forward DFT of the conjugate, conjugated back below; bins outside the
    // carrier are zero.
    std::memset(fft.in, 0, sizeof(fftw_complex) * n);
    auto put = [&fft](uint32_t b, int32_t x) {
      fft.in[b][0] = static_cast<double>(nrCpxRe(x) / 1024.0f);
      fft.in[b][1] = static_cast<double>(-nrCpxIm(x) / 1024.0f);
    };
    for (uint32_t k = 0; k < half; k++) {
      put(shifted(lo + k), grid[k]);
      put(shifted(hi + k), grid[half + k]);
    }
    fftw_execute(fft.plan);

    // The symbol goes straight to its place after the cyclic prefix, which then repeats its tail.
    const uint32_t cp = config->cellCfg.cpLen[l];
    int32_t* body = &buf->nbTxSample[pos + cp];
    NrCpxFloat32* bodyF = &buf->nbTxSampleF[pos + cp];
    ofdm_detail::scaleRound(fft.out, n, gain, sqrtN, bodyF, body);
    std::memcpy(&buf->nbTxSample[pos], body + (n - cp), cp * sizeof(int32_t));
    std::memcpy(&buf->nbTxSampleF[pos], bodyF + (n - cp), cp * sizeof(NrCpxFloat32));
    pos += cp + n;
  }
  return true;
}
