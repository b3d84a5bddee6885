#include "phy/ofdm/fft.h"

#include <bit>

#include "config/nr_config.h"

namespace {

constexpr int kFftSizeN = 12;  // 1, 2, 4, ..., 2048

struct FftCache {
  fftw_complex* in = nullptr;
  fftw_complex* out = nullptr;
  NrFftPlan plan[kFftSizeN] = {};
};

FftCache cache;

}  // namespace

NrFftPlan* nrFftForward(uint32_t n) {
  if (n == 0 || n > static_cast<uint32_t>(kMaxFftSize) || !std::has_single_bit(n)) return nullptr;
  if (!cache.in) {
    cache.in = fftw_alloc_complex(kMaxFftSize);
    cache.out = fftw_alloc_complex(kMaxFftSize);
  }
  NrFftPlan& p = cache.plan[std::countr_zero(n)];
  if (!p.plan) {
    p.n = n;
    p.in = cache.in;
    p.out = cache.out;
    p.plan =
        fftw_plan_dft_1d(static_cast<int>(n), cache.in, cache.out, FFTW_FORWARD, FFTW_ESTIMATE);
  }
  return &p;
}

void nrFftShift(int32_t* dst, const int32_t* src, uint32_t n) {
  const uint32_t half = static_cast<uint16_t>(n) / 2;
  for (uint32_t i = 0; i < half; i++) {
    const int32_t a = src[i];
    const int32_t b = src[half + i];
    dst[i] = b;
    dst[half + i] = a;
  }
}
