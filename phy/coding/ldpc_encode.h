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

// Parity column blocks of Zc bits in the codeword: the four core ones, then one per extension row
// (42 for BG1, 38 for BG2).
int32_t nrLdpcParityCols(const NrLdpcParams* params);

// nrLdpcEncode computing only the first parityCols parity column blocks (the core ones first, then
// the extension rows in order; clamped to 0 ... nrLdpcParityCols): codeword elements 0 ...
// K - 2*Zc + parityCols*Zc - 1 are written exactly as nrLdpcEncode writes them, the rest are left
// untouched. nrLdpcRateMatchParityCols tells how many the rate matcher reads.
bool nrLdpcEncodeParity(int32_t* codeBlock, int32_t* codeword, const NrLdpcParams* params,
                        int32_t parityCols);

// The same on byte lanes: one bit per int8_t element in and out, fillers marked -1 in both.
bool nrLdpcEncodeBytes(int8_t* codeBlock, int8_t* codeword, const NrLdpcParams* params,
                       int32_t parityCols);
