#include "phy/coding/dci_encode.h"

#include "config/console.h"
#include "phy/coding/crc.h"
#include "phy/coding/polar_code.h"
#include "phy/coding/polar_encode.h"

namespace dci_detail {

void maskedParity(const int8_t* a, uint16_t A, uint32_t rnti, int8_t* out) {
  nrCrcCalcDci(out, a, kDciCrcLen, kCrc24CPoly, A);
  for (int i = 0; i < kDciRntiBits; i++) out[i] ^= static_cast<int8_t>((rnti >> (23 - i)) & 1u);
}

}  // namespace dci_detail

bool nrDciEncode(const int32_t* payload, uint16_t A, int16_t* out, uint8_t crcFlag, uint32_t rnti,
                 uint16_t E) {
  if (A == 0 || A > kDciMaxPayload) {
    nrDiag("nrDciEncode: payload of %u bits not supported (1 .. %d)\n", A, kDciMaxPayload);
    return false;
  }
  static int32_t c[kDciMaxPayload + kDciCrcLen];
  for (int i = 0; i < A; i++) c[i] = payload[i] & 1;
  uint32_t K = A;
  if (crcFlag) {
    int8_t a[kDciMaxPayload];
    int8_t p[kDciCrcLen];
    for (int i = 0; i < A; i++) a[i] = static_cast<int8_t>(c[i]);
    dci_detail::maskedParity(a, A, rnti, p);
    for (int i = 0; i < kDciCrcLen; i++) c[A + i] = p[i];
    K += kDciCrcLen;
  }
  return nrPolarEncode(c, K, out, E, kPolarNmaxDci);
}
