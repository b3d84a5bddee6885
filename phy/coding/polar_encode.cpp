#include "phy/coding/polar_encode.h"

#include <cstring>

#include "config/console.h"
#include "phy/coding/polar_code.h"

namespace polar_detail {

void butterfly(uint8_t* x, uint32_t N) {
  // F^(x)n = [[G, 0], [G, G]] with G = F^(x)(n-1): the first half of each 2h block takes the XOR
  // of both halves, stage by stage from h = 1 up.
  for (uint32_t h = 1; h < N; h *= 2)
    for (uint32_t b = 0; b < N; b += 2 * h)
      for (uint32_t j = b; j < b + h; j++) x[j] ^= x[j + h];
}

}  // namespace polar_detail

bool nrPolarEncode(const int32_t* c, uint32_t K, int16_t* out, uint32_t E, uint32_t nMax) {
  const bool interleave = nMax == kPolarNmaxDci;
  if (K == 0 || K > E || E > static_cast<uint32_t>(kPolarMaxE) || nMax < kPolarNminLog2 ||
      nMax > kPolarNmaxLog2 || (interleave && K > static_cast<uint32_t>(kPolarKilMax))) {
    nrDiag(
        "nrPolarEncode: K %u, E %u, n_max %u not encodable (K 1..E, E <= %d, n_max 5..10, "
        "K <= %d with n_max 9)\n",
        K, E, nMax, kPolarMaxE, kPolarKilMax);
    return false;
  }
  const uint32_t N = nrPolarCodeLength(K, E, nMax);
  if (!nrPolarConstruct(K, E, N, nMax)) return false;

  // TS 38.212 5.3.1.1: c'_k = c_Pi(k).
  static int16_t pi[kPolarKilMax];
  static uint8_t cIl[kPolarNmaxLen];
  if (interleave) {
    nrPolarIlPattern(K, pi);
    for (uint32_t k = 0; k < K; k++) cIl[k] = static_cast<uint8_t>(c[pi[k]] & 1);
  } else {
    for (uint32_t k = 0; k < K; k++) cIl[k] = static_cast<uint8_t>(c[k] & 1);
  }

  // TS 38.212 5.3.1.2: u from c', frozen positions 0; parity-check bits from a 5-bit cyclic
  // register that rotates at every position and accumulates the information bits.
  static uint8_t u[kPolarNmaxLen];
  uint32_t k = 0;
  uint8_t y[5] = {0, 0, 0, 0, 0};
  for (uint32_t i = 0; i < N; i++) {
    const uint8_t y0 = y[0];
    y[0] = y[1];
    y[1] = y[2];
    y[2] = y[3];
    y[3] = y[4];
    y[4] = y0;
    if (!gnrPolarInfoInd[i]) {
      u[i] = 0;
      continue;
    }
    bool pc = false;
    for (int32_t j = 0; j < gnrPolarPcN; j++)
      pc = pc || gnrPolarPcPos[j] == static_cast<int32_t>(i);
    if (pc) {
      u[i] = y[0];
    } else {
      u[i] = cIl[k++];
      y[0] ^= u[i];
    }
  }

  // d = u G_N.
  polar_detail::butterfly(u, N);

  // TS 38.212 5.4.1.1 sub-block interleaving y_n = d_J(n), then 5.4.1.2 bit selection.
  const int16_t* J = polar_detail::subblockTable(N);
  if (E >= N) {
    for (uint32_t e = 0; e < E; e++) out[e] = u[J[e % N]];
  } else {
    const uint32_t first = nrPolarPunctured(K, E) ? N - E : 0;
    for (uint32_t e = 0; e < E; e++) out[e] = u[J[first + e]];
  }
  return true;
}
