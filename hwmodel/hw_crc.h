// CRC stage of the encoder accelerator model: the transport-block CRC (CRC16 / CRC24A) and the
// code-block CRC24B of TS 38.212 5.1, 7.2.1 and 5.2.2 computed 64 bits per step with GF(2)
// matrices, while the code block (payload, CRC, filler zeros) is written to the encoder's input
// memory in bank rows.
#pragma once

#include <cstdint>

#include "hwmodel/hw_params.h"

// CRC selectors of the engine.
constexpr int32_t kHwCrcSel16 = 0;
constexpr int32_t kHwCrcSel24A = 1;
constexpr int32_t kHwCrcSel24B = 2;
constexpr int32_t kHwCrcOutLen = 24;  // elements of a crcOut record

// Modes of nrHwCrcRun.
constexpr int32_t kHwCrcModeTb = 0;  // transport-block CRC
constexpr int32_t kHwCrcModeCb = 1;  // code-block CRC24B

// T_e: the n x n matrix of multiplication by x^e modulo the generator g(x) (TS 38.212 5.1), row i
// and column j referring to the coefficients of x^(n-1-i) and x^(n-1-j); one word per row, column
// 0 in the most significant of the n bits. Computed from the generator polynomials at compile time.
extern const uint32_t (&gnrHwCrc16Mat)[4][16];   // CRC16: T_64, T_48, T_32, T_16
extern const uint32_t (&gnrHwCrc24AMat)[3][24];  // CRC24A: T_64, T_40, T_16
extern const uint32_t (&gnrHwCrc24BMat)[3][24];  // CRC24B: T_64, T_40, T_16

// One 64-bit step of an n-bit CRC engine (n = 24 or 16) with the matrices above: state holds the
// register, element i (coefficient of x^(n-1-i)) in bit n-1-i; word holds 64 stream bits, the
// first in bit 63. Returns the register after them (T_64 state plus the word reduced modulo g).
uint32_t nrHwCrcStep(int32_t n, const uint32_t* matrices, uint64_t word, uint32_t state);

// One CRC pass over a record's data: mode kHwCrcModeTb runs the transport-block CRC (CRC24A if
// tbCrc24, else CRC16) over the A = infoLen (C = 1) or infoLen * C - n (C > 1) bits of data,
// writing the code block to cbBank only when C = 1; mode kHwCrcModeCb runs the CRC24B over the
// infoLen bits of data and writes the code block to cbBank. The bank receives the data bits, the
// parity bits and K - K' filler zeros in rows of bitLenOneBank bits from row 0 (cbBank may be
// null: no bank output). crcOut[0 .. n-1] = p_0 .. p_(n-1). A refused record or mode is reported
// and touches nothing (false).
bool nrHwCrcRun(const NrHwCwParams* record, int32_t mode, const int32_t* data, int32_t* crcOut,
                int32_t* cbBank);

// The CRC stage of code block r: for the last block the transport-block CRC over the codeword's
// payload (element 0 on); then, when C > 1, the transport-block parity copied into the last n
// payload elements of the last block (payload[A .. A+n-1]) and the CRC24B of block r's infoLen
// payload elements starting at r * infoLen. crcOut holds the parity of the last pass, cbBank the
// code block. A refused record or r outside 0 .. C-1 is reported and touches nothing (false).
bool nrHwCrcCb(const NrHwCwParams* record, int32_t r, int32_t* payload, int32_t* crcOut,
               int32_t* cbBank);

// Bank-row writer: count bits (lowest bit of each element) go into the staging row, which holds
// *bitOfst bits from earlier calls; every full row of bitLenOneBank bits is copied to row *wrAddr
// of cbBank and *wrAddr advances; with flush a partial row is copied without advancing, *bitOfst
// keeping its length. A refused record, or a write that would leave the code block's K bits
// (kb * bankNumOneZc rows), is reported and touches nothing (false).
bool nrHwBankWrite(const NrHwCwParams* record, const int32_t* bits, int32_t count, bool flush,
                   int32_t* wrAddr, int32_t* bitOfst, int32_t* cbBank);

// Filler completion of a code block: reloads the partial row at *wrAddr (its *bitOfst bits) and
// writes it again followed by the K - K' filler zeros, flushing, so that the block fills exactly
// kb * bankNumOneZc rows. Refusals as nrHwBankWrite.
bool nrHwBankFill(const NrHwCwParams* record, int32_t* wrAddr, int32_t* bitOfst, int32_t* cbBank);
