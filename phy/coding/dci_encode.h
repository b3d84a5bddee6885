// DCI encoding for the PDCCH: CRC attachment with the RNTI mask (TS 38.212 7.3.2) and polar coding
// with rate matching (TS 38.212 7.3.3, 7.3.4).
#pragma once

#include <cstdint>

constexpr int kDciMaxPayload = 100;  // payload bits A the PDCCH chains carry
constexpr int kDciCrcLen = 24;       // TS 38.212 7.3.2: L = 24, CRC24C
constexpr int kDciRntiBits = 24;     // the RNTI mask covers the CRC bits as a 24-bit value

// Encodes the A payload bits (0/1) into E rate-matched bits out (0/1). With crcFlag set (what the
// PDCCH transmitter always does) the 24 CRC24C parity bits of TS 38.212 7.3.2, computed with 24
// leading ones, are appended with their last 24 bits XORed with the RNTI written as 24 bits (most
// significant first; a 16-bit RNTI leaves the first 8 CRC bits unmasked), and K = A + 24 bits are
// polar-encoded with n_max 9 (nrPolarEncode); with crcFlag clear the payload is taken as it is
// (K = A). Returns false, with a diagnostic and out untouched, for A of 0 or above 100, or a K
// the polar code cannot rate-match to E (K > E, E above 8192).
bool nrDciEncode(const int32_t* payload, uint16_t A, int16_t* out, uint8_t crcFlag, uint32_t rnti,
                 uint16_t E);

namespace dci_detail {
// The 24 parity bits of TS 38.212 7.3.2 over a (A bits, 0/1 bytes), XORed bit by bit with the
// 24-bit form of rnti: what follows the payload in c.
void maskedParity(const int8_t* a, uint16_t A, uint32_t rnti, int8_t* out);
}  // namespace dci_detail
