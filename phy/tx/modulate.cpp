#include "phy/tx/modulate.h"

#include <cstdio>

#include "config/console.h"
#include "config/nr_config.h"

bool nrModulate(int32_t* out, const int16_t* in, int32_t count, uint16_t Qm) {
  if (Qm == 1) return false;  // pi/2-BPSK is accepted but not mapped
  if (Qm != 2 && Qm != 4 && Qm != 6 && Qm != 8) {
    nrPrintf("%d, modulation not supported!\n", Qm);
    return false;
  }
  const int32_t n = count / Qm;
  // Products in 32 bits, stored in 16: even values drive I, odd values Q; the first pair gives
  // the sign, each later pair halves the distance to the next level (Gray labelling).
  switch (Qm) {
    case 2:  // TS 38.211 5.1.3
      for (int32_t i = 0; i < n; i++) {
        const int16_t* s = in + 2 * i;
        out[i] = nrCpxPack(s[0] * kQpskScale, s[1] * kQpskScale);
      }
      break;
    case 4:  // TS 38.211 5.1.4
      for (int32_t i = 0; i < n; i++) {
        const int16_t* s = in + 4 * i;
        out[i] = nrCpxPack(s[0] * (2 - s[2]) * kQam16Scale, s[1] * (2 - s[3]) * kQam16Scale);
      }
      break;
    case 6:  // TS 38.211 5.1.5
      for (int32_t i = 0; i < n; i++) {
        const int16_t* s = in + 6 * i;
        out[i] = nrCpxPack(s[0] * (4 - s[2] * (2 - s[4])) * kQam64Scale,
                           s[1] * (4 - s[3] * (2 - s[5])) * kQam64Scale);
      }
      break;
    case 8:  // TS 38.211 5.1.6
      for (int32_t i = 0; i < n; i++) {
        const int16_t* s = in + 8 * i;
        out[i] = nrCpxPack(s[0] * (8 - s[2] * (4 - s[4] * (2 - s[6]))) * kQam256Scale,
                           s[1] * (8 - s[3] * (4 - s[5] * (2 - s[7]))) * kQam256Scale);
      }
      break;
  }
  return true;
}
