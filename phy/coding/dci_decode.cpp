#include "phy/coding/dci_decode.h"

#include <cstring>

#include "config/console.h"
#include "phy/coding/polar_code.h"
#include "phy/coding/polar_decode.h"
#include "phy/common/pdcch_map.h"
#include "phy/common/sequence.h"

uint8_t gnrDciBits[kDciBitsCap];

namespace {

constexpr int kDciMaxK = kDciMaxPayload + kDciCrcLen;

// Hard bits of the candidate being decoded and the decoder's input and decisions.
uint8_t hardBits[kPolarMaxE];
uint8_t decIn[kPolarNmaxLen];
uint8_t uHat[kPolarNmaxLen];

bool sizesFit(const char* who, int A, uint32_t E) {
  const uint32_t K = static_cast<uint32_t>(A) + kDciCrcLen;
  if (A <= 0 || A > kDciMaxPayload || K > E || E > static_cast<uint32_t>(kPolarMaxE)) {
    nrDiag(
        "%s: payload of %d bits in %u coded bits not decodable (payload 1 .. %d, K = A + 24 "
        "up to E, E <= %d)\n",
        who, A, E, kDciMaxPayload, kPolarMaxE);
    return false;
  }
  return true;
}

// Rate recovery, SC decoding and de-interleaving of hardBits[0 .. E-1] into gnrDciBits[0 .. K-1].
bool decodeHard(uint32_t K, uint32_t E) {
  const uint32_t N = nrPolarCodeLength(K, E, kPolarNmaxDci);
  if (!nrPolarConstruct(K, E, N, kPolarNmaxDci)) return false;
  if (!nrPolarRateRecover(hardBits, E, K, N, decIn)) return false;
  // Every code is decoded on the length-512 recursion of n_max 9: a shorter code sits in its first
  // N positions with known zeros and frozen bits beyond (the decoder skips the frozen subtrees).
  if (!nrPolarScDecode(uHat, decIn, kPolarErasureP, gnrPolarInfoInd, kPolarNmaxDci)) return false;

  // TS 38.212 5.3.1.2: c' on the information positions in index order (parity checks skipped),
  // then 5.3.1.1 undone: c_Pi(k) = c'_k.
  static uint8_t cIl[kDciMaxK];
  uint32_t k = 0;
  for (uint32_t i = 0; i < N && k < K; i++) {
    if (!gnrPolarInfoInd[i]) continue;
    bool pc = false;
    for (int32_t j = 0; j < gnrPolarPcN; j++)
      pc = pc || gnrPolarPcPos[j] == static_cast<int32_t>(i);
    if (!pc) cIl[k++] = uHat[i];
  }
  static int16_t pi[kPolarKilMax];
  nrPolarIlPattern(K, pi);
  for (uint32_t j = 0; j < K; j++) gnrDciBits[pi[j]] = cIl[j];
  return true;
}

// The parity of TS 38.212 7.3.2 over the payload in gnrDciBits, masked with rnti.
void expectedCrc(int A, uint32_t rnti, int8_t* out) {
  int8_t a[kDciMaxPayload];
  for (int i = 0; i < A; i++) a[i] = static_cast<int8_t>(gnrDciBits[i]);
  dci_detail::maskedParity(a, static_cast<uint16_t>(A), rnti, out);
}

}  // namespace

bool nrDciDecode(const int16_t* soft, uint16_t E, uint32_t rnti, uint16_t nId, int16_t A,
                 uint16_t scrFlag) {
  if (!sizesFit("nrDciDecode", A, E)) return false;
  const uint32_t cInit = nrPdcchScrCinit(rnti, nId, scrFlag != 0);
  if (nrGoldSeqGen(static_cast<int32_t>(cInit), E, 1, 0) != E) return false;
  const int8_t* c = gnrSeqBuf + kSeqBufGoldOffset;
  for (uint32_t e = 0; e < E; e++) {
    // The product is kept in 16 bits, as the soft values are.
    const int16_t s = static_cast<int16_t>(soft[e] * c[e]);
    hardBits[e] = s <= 0 ? 1 : 0;
  }
  const uint32_t K = static_cast<uint32_t>(A) + kDciCrcLen;
  if (!decodeHard(K, E)) return false;

  int8_t crc[kDciCrcLen];
  expectedCrc(A, rnti, crc);
  for (int i = 0; i < kDciCrcLen; i++)
    if (static_cast<uint8_t>(crc[i]) != gnrDciBits[A + i]) return false;
  return true;
}

uint8_t nrDciDecodeCheck(const int16_t* hard, uint16_t A, uint16_t E, uint8_t m, uint32_t rnti) {
  if (m != 0) {
    nrDiag("nrDciDecodeCheck: mode %u (n_max %u) not decodable, only mode 0 (n_max 9)\n", m,
           9u + m);
    return 0;
  }
  if (!sizesFit("nrDciDecodeCheck", A, E)) return 0;
  for (uint32_t e = 0; e < E; e++) hardBits[e] = static_cast<uint8_t>(hard[e] & 1);
  const uint32_t K = static_cast<uint32_t>(A) + kDciCrcLen;
  if (!decodeHard(K, E)) return 0;

  // The received CRC unmasked with the recomputed parity leaves the RNTI it was masked with.
  int8_t parity[kDciCrcLen];
  expectedCrc(A, 0, parity);
  uint32_t mask = 0;
  for (int i = 0; i < kDciCrcLen; i++)
    mask = (mask << 1) | ((static_cast<uint32_t>(parity[i]) ^ gnrDciBits[A + i]) & 1u);
  if (mask != rnti) return 0;

  char line[kDciMaxPayload + 2];
  for (int i = 0; i < A; i++) line[i] = static_cast<char>('0' + gnrDciBits[i]);
  line[A] = '\n';
  line[A + 1] = '\0';
  nrPrintf("decode suc!\n Payload:%s", line);
  return 1;
}
