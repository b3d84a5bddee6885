#include "phy/tx/modulate.h"

#include <cstdio>

#include "config/console.h"
#include "config/nr_config.h"
#include "phy/common/cpu_features.h"

namespace {

// Products in 32 bits, stored in 16: even values drive I, odd values Q; the first pair gives the
// sign, each later pair halves the distance to the next level (Gray labelling).
template <int kQm>
[[gnu::always_inline]] inline void mapLanes(int32_t* out, const int16_t* in, int32_t n) {
  for (int32_t i = 0; i < n; i++) {
    const int16_t* s = in + kQm * i;
    if constexpr (kQm == 2) {  // TS 38.211 5.1.3
      out[i] = nrCpxPack(s[0] * kQpskScale, s[1] * kQpskScale);
    } else if constexpr (kQm == 4) {  // TS 38.211 5.1.4
      out[i] = nrCpxPack(s[0] * (2 - s[2]) * kQam16Scale, s[1] * (2 - s[3]) * kQam16Scale);
    } else if constexpr (kQm == 6) {  // TS 38.211 5.1.5
      out[i] = nrCpxPack(s[0] * (4 - s[2] * (2 - s[4])) * kQam64Scale,
                         s[1] * (4 - s[3] * (2 - s[5])) * kQam64Scale);
    } else {  // TS 38.211 5.1.6
      out[i] = nrCpxPack(s[0] * (8 - s[2] * (4 - s[4] * (2 - s[6]))) * kQam256Scale,
                         s[1] * (8 - s[3] * (4 - s[5] * (2 - s[7]))) * kQam256Scale);
    }
  }
}

[[gnu::always_inline]] inline void mapAny(int32_t* out, const int16_t* in, int32_t n, int qm) {
  switch (qm) {
    case 2:
      mapLanes<2>(out, in, n);
      break;
    case 4:
      mapLanes<4>(out, in, n);
      break;
    case 6:
      mapLanes<6>(out, in, n);
      break;
    default:
      mapLanes<8>(out, in, n);
      break;
  }
}

using MapFn = void (*)(int32_t*, const int16_t*, int32_t, int);
void mapPlain(int32_t* out, const int16_t* in, int32_t n, int qm) { mapAny(out, in, n, qm); }
#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 void mapAvx2(int32_t* out, const int16_t* in, int32_t n, int qm) {
  mapAny(out, in, n, qm);
}
VELTRA_TARGET_AVX512 void mapAvx512(int32_t* out, const int16_t* in, int32_t n, int qm) {
  mapAny(out, in, n, qm);
}
constexpr MapFn kMapFns[kNrCpuLevels] = {mapPlain, mapAvx2, mapAvx512};
#else
constexpr MapFn kMapFns[kNrCpuLevels] = {mapPlain, nullptr, nullptr};
#endif

}  // namespace

bool nrModulate(int32_t* out, const int16_t* in, int32_t count, uint16_t Qm) {
  if (Qm == 1) return false;  // pi/2-BPSK is accepted but not mapped
  if (Qm != 2 && Qm != 4 && Qm != 6 && Qm != 8) {
    nrPrintf("%d, modulation not supported!\n", Qm);
    return false;
  }
  nrCpuPick(kMapFns)(out, in, count / Qm, Qm);
  return true;
}
