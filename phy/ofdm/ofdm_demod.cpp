#include "phy/ofdm/ofdm_demod.h"

#include <cmath>
#include <cstring>

#include "config/console.h"
#include "phy/common/cpu_features.h"
#include "phy/common/cpx_float.h"
#include "phy/common/stage_profile.h"
#include "phy/ofdm/fft.h"

int32_t gnrUeRxGrid[kSymbolsPerSlot][2][kMaxFftSize];

namespace {

// The n FFT outputs of one symbol divided by sqrtN and truncated to packed int16 I/Q
// (nrFloatToInt16 of each part). The plain loop is the reference; the variants divide whole
// vectors of parts (the same IEEE division) and leave the last values, fewer than a vector, to it.
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

using ToIqFn = void (*)(const fftw_complex* in, int32_t* out, uint32_t n, double sqrtN);

void toIqBaseline(const fftw_complex* in, int32_t* out, uint32_t n, double sqrtN) {
  toIqPlain(in, out, 0, n, sqrtN);
}

#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 void toIqAvx2(const fftw_complex* in, int32_t* out, uint32_t n, double sqrtN) {
  toIqLanes<4>(in, out, n, sqrtN);
}
VELTRA_TARGET_AVX512 void toIqAvx512(const fftw_complex* in, int32_t* out, uint32_t n,
                                     double sqrtN) {
  toIqLanes<8>(in, out, n, sqrtN);
}
constexpr ToIqFn kToIqFns[kNrCpuLevels] = {toIqBaseline, toIqAvx2, toIqAvx512};
#else
constexpr ToIqFn kToIqFns[kNrCpuLevels] = {toIqBaseline, nullptr, nullptr};
#endif

}  // namespace

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
  for (int l = firstSym; l <= lastSym; l++) {
    const uint32_t offset = nrOfdmSymbolStart(cell, l);
    const int16_t* re = &rxSample[ant][0][offset];
    const int16_t* im = &rxSample[ant][1][offset];
    for (uint32_t i = 0; i < n; i++) {
      fft->in[i][0] = re[i];
      fft->in[i][1] = im[i];
    }
    fftw_execute(fft->plan);
    int32_t* out = grid[l][ant];
    toIq(fft->out, out, n, sqrtN);
    nrFftShift(out, out, n);
  }
  return true;
}
