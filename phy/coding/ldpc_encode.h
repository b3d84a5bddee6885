// LDPC encoding of one code block with the quasi-cyclic codes of TS 38.212 5.3.2.
#pragma once

#include <cstdint>

#include "phy/coding/ldpc_params.h"

// Encodes the K bits of codeBlock (elements K'..K-1 are the filler bits) into the N = 66*Zc (BG1)
// or 50*Zc (BG2) elements of codeword, the codeword without its first 2*Zc systematic bits. Uses
// bg, iLS, Zc, K and Kp of params. Marks the filler positions with -1 in both codeBlock and
// codeword. Parameters that describe no lifted base graph are reported, leave both arrays untouched
// and give false.
bool nrLdpcEncode(int32_t* codeBlock, int32_t* codeword, const NrLdpcParams* params);
