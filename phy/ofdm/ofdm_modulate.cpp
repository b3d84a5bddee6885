#include "phy/ofdm/ofdm_modulate.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/console.h"
#include "phy/common/cpu_features.h"
#include "phy/common/stage_profile.h"

#ifdef VELTRA_X86_VARIANTS
#include <immintrin.h>
#endif

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
// x / d as a product with the correction step of Markstein's theorem: with y = RN(1/d) and q a
// faithful rounding of x/d, r = x - d*q is exact and RN(q + r*y) is the correctly rounded quotient.
// q = RN(x*y) is faithful when |d*y - 1| <= 2^-54 (the caller checks this for its d). The steps
// cannot underflow while |x| >= 2^-900: the caller takes smaller non-zero values to the division.
// An infinite x gives NaN here, which the caller's range check also sends to the division. The
// sign is copied from x, so that a zero keeps it as it does through x/d.
[[gnu::always_inline]] VELTRA_TARGET_AVX512 inline __m512d quotientAvx512(__m512d x, __m512d d,
                                                                          __m512d y) {
  const __m512d q = _mm512_mul_pd(x, y);
  const __m512d r = _mm512_fnmadd_pd(d, q, x);
  const __m512i sign = _mm512_set1_epi64(INT64_MIN);
  // Bitwise select (0xCA): sign ? x : q'.
  return _mm512_castsi512_pd(_mm512_ternarylogic_epi64(
      sign, _mm512_castpd_si512(x), _mm512_castpd_si512(_mm512_fmadd_pd(r, y, q)), 0xCA));
}

// Eight values (four complex samples) per step: quotient, gain, conjugation, float samples and
// rounding.
VELTRA_TARGET_AVX512 void scaleRoundAvx512(const fftw_complex* out, uint32_t n, double gain,
                                           double sqrtN, NrCpxFloat32* f, int32_t* s) {
  const double y = 1.0 / sqrtN;
  if (n % 4 != 0 || !(std::fabs(std::fma(sqrtN, y, -1.0)) <= 0x1p-54)) {
    scaleRoundLanes(out, n, gain, sqrtN, f, s);
    return;
  }
  const __m512d d = _mm512_set1_pd(sqrtN);
  const __m512d vy = _mm512_set1_pd(y);
  // The conjugation in the gain: (-gain) * q is -(gain * q) bit for bit (round to nearest is
  // symmetric), but for a NaN, which goes to the plain loop below anyway.
  const __m512d g = _mm512_set_pd(-gain, gain, -gain, gain, -gain, gain, -gain, gain);
  const __m512d half = _mm512_set1_pd(0.5);
  const __m512i sign = _mm512_set1_epi64(INT64_MIN);
  // Truncation of NaN or of a value beyond the 32-bit range (and of -2^31 itself).
  const __m256i indefinite = _mm256_set1_epi32(INT32_MIN);
  // Bit patterns of |x| less one below that of 2^-900 - 1: the non-zero values too small for the
  // product form. Their exact quotients and the product form's both lie below 2^-899 with the
  // sign of x; times a gain of at most 2^700 both give a float ±0 of the same sign and the integer
  // 0, so only a larger gain (or NaN) needs them found.
  const bool findTiny = !(std::fabs(gain) <= 0x1p700);
  const __m512i tinyBits = _mm512_set1_epi64(std::bit_cast<int64_t>(0x1p-900) - 1);
  const __m512i oneBit = _mm512_set1_epi64(1);
  __mmask8 large = 0;
  __mmask8 tiny = 0;
  for (uint32_t t = 0; t < n; t += 4) {
    const __m512d x = _mm512_loadu_pd(&out[t][0]);
    if (findTiny)
      tiny |= _mm512_cmp_epu64_mask(_mm512_sub_epi64(_mm512_castpd_si512(_mm512_abs_pd(x)), oneBit),
                                    tinyBits, _MM_CMPINT_LT);
    const __m512d v = _mm512_mul_pd(g, quotientAvx512(x, d, vy));
    _mm256_storeu_ps(&f[t].re, _mm512_maskz_cvtpd_ps(0xFF, v));
    // Halves away from zero: |v| + 1/2 rounded toward zero (the sum with v's sign, as rounding
    // toward zero is symmetric), then truncated. Rounding toward zero keeps every sum below the
    // next integer there when the exact one is (0.5 - 2^-54 + 0.5 stays below 1), and an exact
    // integer at or above it. A sum at or beyond the int32 range, or NaN, truncates to the
    // indefinite value.
    const __m512d halfSigned = _mm512_castsi512_pd(
        _mm512_ternarylogic_epi64(sign, _mm512_castpd_si512(v), _mm512_castpd_si512(half), 0xCA));
    const __m256i r = _mm512_maskz_cvttpd_epi32(
        0xFF,
        _mm512_maskz_add_round_pd(0xFF, v, halfSigned, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC));
    large |= _mm256_cmpeq_epi32_mask(r, indefinite);
    // Low 16 bits of each value, re and im interleaved: four packed samples.
    _mm_storeu_si128(reinterpret_cast<__m128i*>(&s[t]), _mm256_cvtepi32_epi16(r));
  }
  // A tiny input with a large gain, or an output whose rounding reaches 2^31 in magnitude (or a
  // NaN) anywhere: the symbol again with the division and llround (rare).
  if (tiny || large) scaleRoundLanes(out, n, gain, sqrtN, f, s);
}
constexpr ScaleRoundFn kScaleRoundFns[kNrCpuLevels] = {scaleRoundPlain, scaleRoundAvx2,
                                                       scaleRoundAvx512};
#else
constexpr ScaleRoundFn kScaleRoundFns[kNrCpuLevels] = {scaleRoundPlain, nullptr, nullptr};
#endif

// Grid values (Q10, packed I/Q) to FFT input bins, conjugated: the inverse DFT is taken as the
// forward DFT of the conjugate. The negation is done on the integer, so that a zero stays +0.
[[gnu::always_inline]] inline void gridToBinsLanes(const int32_t* grid, uint32_t count,
                                                   fftw_complex* bins) {
  for (uint32_t k = 0; k < count; k++) {
    const int32_t x = grid[k];
    const int32_t re = static_cast<int16_t>(x);
    const int32_t negIm = -(x >> 16);
    bins[k][0] = static_cast<double>(static_cast<float>(re) / 1024.0f);
    bins[k][1] = static_cast<double>(static_cast<float>(negIm) / 1024.0f);
  }
}

using GridToBinsFn = void (*)(const int32_t*, uint32_t, fftw_complex*);
void gridToBinsPlain(const int32_t* grid, uint32_t count, fftw_complex* bins) {
  gridToBinsLanes(grid, count, bins);
}
#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 void gridToBinsAvx2(const int32_t* grid, uint32_t count, fftw_complex* bins) {
  gridToBinsLanes(grid, count, bins);
}
VELTRA_TARGET_AVX512 void gridToBinsAvx512(const int32_t* grid, uint32_t count,
                                           fftw_complex* bins) {
  gridToBinsLanes(grid, count, bins);
}
constexpr GridToBinsFn kGridToBinsFns[kNrCpuLevels] = {gridToBinsPlain, gridToBinsAvx2,
                                                       gridToBinsAvx512};
#else
constexpr GridToBinsFn kGridToBinsFns[kNrCpuLevels] = {gridToBinsPlain, nullptr, nullptr};
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

  const uint32_t hi = n / 2 + (config->carrierCfg.zeroScUsed == 0 ? 1 : 0);
  const double gain = config->carrierCfg.txPowGain;
  const double sqrtN = std::sqrt(static_cast<double>(n));

  NrFftPlan& fft = *nrFftForward(n);
  const GridToBinsFn gridToBins = nrCpuPick(kGridToBinsFns);
  // The half swap moves the centre to bin 0: grid entry k of the lower half lands at bin
  // n - half + k, of the upper half at dc + k (dc = 1 when the centre subcarrier stays empty).
  // Where the two runs meet (2 * half = n with an empty centre) the upper half is written last.
  const uint32_t dc = hi - n / 2;
  const uint32_t upperEnd = dc + half;

  uint32_t pos = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    const int32_t* grid = buf->nbTxGrid[l];
    // Bins outside the carrier are zero; the input buffer is shared with other transforms, so
    // they are cleared for every symbol.
    if (dc) std::memset(fft.in, 0, sizeof(fftw_complex));
    if (upperEnd < n - half)
      std::memset(fft.in + upperEnd, 0, sizeof(fftw_complex) * (n - half - upperEnd));
    gridToBins(grid, half, fft.in + (n - half));
    gridToBins(grid + half, half, fft.in + dc);
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
