// Polar encoding with rate matching, TS 38.212 5.3.1 and 5.4.1 (no channel interleaving, I_BIL = 0,
// as for the downlink control and broadcast channels).
#pragma once

#include <cstdint>

// Encodes the K bits c (0/1, one per element) into E bits out (0/1): the input interleaver
// (TS 38.212 5.3.1.1, applied when nMax is 9), the code construction of nrPolarConstruct, the
// parity-check bits (TS 38.212 5.3.1.2), x = u G_N, the sub-block interleaver and the bit
// selection (repetition, puncturing or shortening) of TS 38.212 5.4.1. Leaves gnrPolarInfoInd and
// gnrPolarPcPos describing the code. Returns false, with a diagnostic and out untouched, for K of
// 0, K > E, E above 8192, an nMax outside 5 .. 10, or K above 164 with nMax 9.
bool nrPolarEncode(const int32_t* c, uint32_t K, int16_t* out, uint32_t E, uint32_t nMax);

namespace polar_detail {
// x <- x G_N in place (x holds N bits, 0/1): G_N = F^(x)n, F = [[1, 0], [1, 1]], computed by the
// butterfly, log2 N stages of N/2 XORs.
void butterfly(uint8_t* x, uint32_t N);
}  // namespace polar_detail
