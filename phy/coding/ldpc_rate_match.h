// LDPC rate matching of one code block: bit selection (TS 38.212 5.4.2.1) and bit interleaving (TS
// 38.212 5.4.2.2).
#pragma once

#include <cstdint>

#include "phy/coding/ldpc_params.h"

// Writes the E[r] rate-matched, interleaved bits of code block r to out, selected cyclically from
// the first Ncb elements of the codeword d starting at k0 and skipping filler positions (-1). Uses
// E[r], k0, Ncb and Qm of params. A k0 outside the buffer is taken modulo Ncb. A block that cannot
// be rate-matched (r outside the E array, Qm < 1, Ncb < 1, or a buffer with no bit but fillers) is
// reported, nothing is written and the result is false.
bool nrLdpcRateMatch(const int32_t* d, int32_t* out, int32_t r, const NrLdpcParams* params);

// The same on byte lanes: one bit per int8_t element in and out, fillers marked -1 in d.
bool nrLdpcRateMatchBytes(const int8_t* d, int8_t* out, int32_t r, const NrLdpcParams* params);

// Parity column blocks of Zc bits (counted from the first core parity block, as
// nrLdpcEncodeParity counts them) that hold every codeword position the selection of code block
// r reads: from k0 to its E[r]-th non-filler position, or the whole circular buffer when the
// selection wraps around it. Uses K, Kp, Zc, N, Ncb, k0, Qm and E[r] of params; 0 for a block
// nrLdpcRateMatch would refuse.
int32_t nrLdpcRateMatchParityCols(int32_t r, const NrLdpcParams* params);
