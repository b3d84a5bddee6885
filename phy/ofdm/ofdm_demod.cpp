#include "phy/ofdm/ofdm_demod.h"

#include <climits>
#include <cmath>
#include <cstring>

#include "config/console.h"
#include "phy/common/cpu_features.h"
#include "phy/common/cpx_float.h"
#include "phy/common/simd_lanes.h"
#include "phy/common/stage_profile.h"
#include "phy/ofdm/fft.h"

#ifdef VELTRA_X86_VARIANTS
#include <immintrin.h>
#endif

int32_t gnrUeRxGrid[kSymbolsPerSlot][2][kMaxFftSize];

namespace {

// The FFT outputs from..n - 1 of one symbol divided by sqrtN and truncated to packed int16 I/Q
// (nrFloatToInt16 of each part). The plain loop is the reference; the variants divide whole
// vectors of parts (the same IEEE division; AVX-512 multiplies where that truncates alike, see
// toIqAvx512) and leave the last values, fewer than a vector, to it.
void toIqPlain(const fftw_complex* in, int32_t* out, uint32_t from, uint32_t n, double sqrtN) {
  for (uint32_t i = from; i < n; i++)
    out[i] = nrCpxPack(nrFloatToInt16(in[i][0] / sqrtN), nrFloatToInt16(in[i][1] / sqrtN));
}

// Vectors of kW parts (kW / 2 complex values) and their integer forms.
template <int kW>
struct PartLanes {
  typedef double D __attribute__((vector_size(8 * kW)));
  typedef int32_t I32 __attribute__((vector_size(4 * kW)));
  typedef int16_t I16 __attribute__((vector_size(2 * kW)));
};

template <int kW>
[[gnu::always_inline]] inline void toIqLanes(const fftw_complex* in, int32_t* out, uint32_t n,
                                             double sqrtN) {
  using D = typename PartLanes<kW>::D;
  using I32 = typename PartLanes<kW>::I32;
  using I16 = typename PartLanes<kW>::I16;
  constexpr uint32_t kStep = kW / 2;
  uint32_t i = 0;
  for (; i + kStep <= n; i += kStep) {
    D v;
    std::memcpy(&v, &in[i][0], sizeof(v));
    v = v / sqrtN;
    // nrFloatToInt16 lane by lane: NaN to 0, saturation, truncation toward zero.
    v = v == v ? v : D{};
    v = v >= 32767.0 ? 32767.0 : v;
    v = v <= -32768.0 ? -32768.0 : v;
    // I, Q, I, Q ... as int16 is the packed form of kStep values (I in the low half).
    const I16 iq = __builtin_convertvector(__builtin_convertvector(v, I32), I16);
    std::memcpy(&out[i], &iq, sizeof(iq));
  }
  toIqPlain(in, out, i, n, sqrtN);
}

// The samples from..n - 1 of one symbol (real and imaginary parts apart) as the FFT's complex
// input. The variants convert and interleave whole vectors and leave the last samples to it.
void fromSamplesPlain(const int16_t* re, const int16_t* im, fftw_complex* in, uint32_t from,
                      uint32_t n) {
  for (uint32_t i = from; i < n; i++) {
    in[i][0] = re[i];
    in[i][1] = im[i];
  }
}

template <int kW>
[[gnu::always_inline]] inline void fromSamplesLanes(const int16_t* re, const int16_t* im,
                                                    fftw_complex* in, uint32_t n) {
  using D = typename PartLanes<kW>::D;
  using I32 = typename PartLanes<kW>::I32;
  using I16 = typename PartLanes<kW>::I16;
  uint32_t i = 0;
  for (; i + kW <= n; i += kW) {
    I16 r, q;
    std::memcpy(&r, re + i, sizeof(r));
    std::memcpy(&q, im + i, sizeof(q));
    const D dr = __builtin_convertvector(__builtin_convertvector(r, I32), D);
    const D dq = __builtin_convertvector(__builtin_convertvector(q, I32), D);
    D lo, hi;
    nrInterleave<kW>(lo, hi, dr, dq);
    std::memcpy(&in[i][0], &lo, sizeof(lo));
    std::memcpy(&in[i + kW / 2][0], &hi, sizeof(hi));
  }
  fromSamplesPlain(re, im, in, i, n);
}

using ToIqFn = void (*)(const fftw_complex* in, int32_t* out, uint32_t n, double sqrtN);
using FromSamplesFn = void (*)(const int16_t* re, const int16_t* im, fftw_complex* in, uint32_t n);

void toIqBaseline(const fftw_complex* in, int32_t* out, uint32_t n, double sqrtN) {
  toIqPlain(in, out, 0, n, sqrtN);
}
void fromSamplesBaseline(const int16_t* re, const int16_t* im, fftw_complex* in, uint32_t n) {
  fromSamplesPlain(re, im, in, 0, n);
}

#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 void toIqAvx2(const fftw_complex* in, int32_t* out, uint32_t n, double sqrtN) {
  toIqLanes<4>(in, out, n, sqrtN);
}
// AVX-512: the quotient x / sqrtN formed as a product with the correction step of Markstein's
// theorem. With y = RN(1 / sqrtN) and q = RN(x * y) a faithful rounding of x / sqrtN (true while
// |sqrtN * y - 1| <= 2^-54, checked for the given sqrtN), r = x - sqrtN * q is exact and
// RN(q + r * y) is the correctly rounded quotient, so it truncates exactly as the quotient does.
// Below 2^-900 the steps may underflow, but there both quotients lie below 1 and truncate to 0.
// A vector with a NaN, an infinity or a part beyond the 32-bit range goes to the plain loop.
VELTRA_TARGET_AVX512 void toIqAvx512(const fftw_complex* in, int32_t* out, uint32_t n,
                                     double sqrtN) {
  const double inv = 1.0 / sqrtN;
  if (!(std::fabs(std::fma(sqrtN, inv, -1.0)) <= 0x1p-54)) {
    toIqLanes<8>(in, out, n, sqrtN);
    return;
  }
  const __m512d d = _mm512_set1_pd(sqrtN);
  const __m512d y = _mm512_set1_pd(inv);
  // Truncation of NaN or of a value beyond the 32-bit range.
  const __m256i indefinite = _mm256_set1_epi32(INT32_MIN);
  uint32_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m512d x = _mm512_loadu_pd(&in[i][0]);
    const __m512d q = _mm512_mul_pd(x, y);
    const __m512d r = _mm512_fnmadd_pd(d, q, x);
    const __m256i t = _mm512_mask_cvttpd_epi32(indefinite, 0xFF, _mm512_fmadd_pd(r, y, q));
    if (_mm256_cmpeq_epi32_mask(t, indefinite)) {
      toIqPlain(in, out, i, i + 4, sqrtN);
      continue;
    }
    // Saturation to int16 of the truncated parts: the packed form of four values.
    _mm256_mask_cvtsepi32_storeu_epi16(&out[i], 0xFF, t);
  }
  toIqPlain(in, out, i, n, sqrtN);
}
VELTRA_TARGET_AVX512 void fromSamplesAvx512(const int16_t* re, const int16_t* im, fftw_complex* in,
                                            uint32_t n) {
  fromSamplesLanes<8>(re, im, in, n);
}
constexpr ToIqFn kToIqFns[kNrCpuLevels] = {toIqBaseline, toIqAvx2, toIqAvx512};
// AVX2 measured no faster than the baseline loop (which the compiler already vectorises).
constexpr FromSamplesFn kFromSamplesFns[kNrCpuLevels] = {fromSamplesBaseline, nullptr,
                                                         fromSamplesAvx512};
#else
constexpr ToIqFn kToIqFns[kNrCpuLevels] = {toIqBaseline, nullptr, nullptr};
constexpr FromSamplesFn kFromSamplesFns[kNrCpuLevels] = {fromSamplesBaseline, nullptr, nullptr};
#endif

}  // namespace

void detail::ofdmToIq(const double (*in)[2], int32_t* out, uint32_t n, double sqrtN) {
  nrCpuPick(kToIqFns)(in, out, n, sqrtN);
}

uint32_t nrOfdmSymbolStart(const NrCellCfg* cell, int l) {
  uint32_t pos = 0;
  for (int k = 0; k < l; k++) pos += cell->cpLen[k] + cell->fftSize;
  return pos + cell->cpLen[l];
}

bool nrOfdmDemod(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCellCfg* cell, int firstSym,
                 int lastSym, int ant, int32_t (*grid)[2][kMaxFftSize]) {
  NrStageScope fftStage(NrStage::kFft);
  const uint32_t n = cell->fftSize;
  NrFftPlan* fft = nrFftForward(n);
  if (!fft) {
    nrDiag("nrOfdmDemod: FFT size %u not supported (power of two up to %d)\n", n, kMaxFftSize);
    return false;
  }
  uint32_t slotLen = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) slotLen += cell->cpLen[l] + n;
  if (slotLen > static_cast<uint32_t>(kSlotSampleCap)) {
    nrDiag("nrOfdmDemod: slot of %u samples exceeds the %d-sample buffer\n", slotLen,
           kSlotSampleCap);
    return false;
  }
  if (firstSym < 0 || lastSym >= kSymbolsPerSlot || ant < 0 || ant > 1) {
    nrDiag("nrOfdmDemod: symbols %d..%d of antenna %d outside the slot\n", firstSym, lastSym, ant);
    return false;
  }

  const double sqrtN = std::sqrt(static_cast<double>(n));
  const ToIqFn toIq = nrCpuPick(kToIqFns);
  const FromSamplesFn fromSamples = nrCpuPick(kFromSamplesFns);
  // The half swap on the way out: bins N/2 .. N - 1 first (for N = 1 the one bin stays).
  const uint32_t half = n / 2;
  for (int l = firstSym; l <= lastSym; l++) {
    const uint32_t offset = nrOfdmSymbolStart(cell, l);
    fromSamples(&rxSample[ant][0][offset], &rxSample[ant][1][offset], fft->in, n);
    fftw_execute(fft->plan);
    int32_t* out = grid[l][ant];
    toIq(fft->out + half, out, n - half, sqrtN);
    toIq(fft->out, out + (n - half), half, sqrtN);
  }
  return true;
}
