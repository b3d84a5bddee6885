// Cyclic redundancy checks of TS 38.212 5.1: bit-serial register semantics (no preload unless
// stated, no final inversion), bit i of the register being parity bit p_i.
#pragma once

#include <cstdint>

// CRC selector of the channel coding chain; values other than 0 and 1 select CRC16.
using nrCrcType = uint8_t;
constexpr nrCrcType kCrc24A = 0;
constexpr nrCrcType kCrc24B = 1;
constexpr nrCrcType kCrc16 = 2;

// Register constants: generator without its leading term, bit-reversed over L bits (coefficient
// of D^(L-1) in bit 0).
constexpr uint32_t kCrc24APoly = 0xDF3261;
constexpr uint32_t kCrc24BPoly = 0xC60001;
constexpr uint32_t kCrc16Poly = 0x8408;
constexpr uint32_t kCrc24CPoly = 0xE88D4D;  // polar DCI CRC, no nrCrcType value

constexpr int kCrc24Len = 24;
constexpr int kCrc16Len = 16;

// Register after count bits (lowest bit of each element used); count <= 0 gives 0.
uint32_t nrCrcCalc(const int32_t* bits, uint8_t crcType, int32_t count);

// Same over count bits of packed words, first bit in bit 31 of word 0; the low bits of a last,
// partial word are ignored. A block followed by its own parity gives 0.
uint32_t nrCrcCalcPacked(const uint32_t* words, uint8_t crcType, int32_t count);

// TS 38.212 7.3.2: register preloaded with 24 one-bits, then the count data bits (0/1 bytes);
// parityOut[j] = bit j of the register for j < L (0 beyond bit 31).
void nrCrcCalcDci(int8_t* parityOut, const int8_t* bits, int8_t L, uint32_t poly, uint16_t count);

// nrCrcCalcDci without the preload: a general CRC for any register constant of up to 32 bits.
void nrCrcCalcPoly(int8_t* parityOut, const int8_t* bits, int8_t L, uint32_t poly, uint16_t count);

// CRC24C by explicit polynomial long division: dst[0 .. len-1] = src, dst[len .. len+23] = p_0 ..
// p_23. src holds len elements and is not modified.
void nrCrc24cDivide(const int8_t* src, uint16_t len, int8_t* dst);

// Copies count bits of in to out (in may equal out) and appends the L parity bits of the
// polynomial (family, index): (0,0) CRC6, (0,1) CRC11, (1,0) CRC24A, (1,1) CRC24B, (2,0) CRC16,
// (2,1) CRC24C. Returns count + L, or 0 without writing for another selector or count < 0.
uint32_t nrCrcAttach(const int32_t* in, int32_t* out, int32_t family, int32_t index, int32_t count);

// Coefficients of D^(L-1) .. D^0 of the generator (leading term dropped) as L elements: code 0
// CRC8, 1 CRC16, 2 CRC24A, 3 CRC24B, 4 CRC6, 5 CRC11, 6 CRC24C. Returns L, 0 for another code.
int32_t nrCrcGenPoly(int32_t code, int8_t* coeffs);

// Building blocks exposed for their tests.
namespace crc_detail {
// Packs 32 one-bit elements (lowest bit of each) into a word, the first into bit 31: the plain
// reference, its SSE2 variant (the baseline wherever the target has SSE2) and an AVX2 variant;
// nrCrcCalc picks one at run time (phy/common/cpu_features.h).
uint32_t packBitsPlain(const int32_t* bits);
#if defined(__SSE2__)
uint32_t packBitsSse2(const int32_t* bits);
#endif
// nullptr where the build has no AVX2 variant; call only when nrCpuLevelDetected() has AVX2.
using PackBitsFn = uint32_t (*)(const int32_t*);
extern const PackBitsFn packBitsAvx2;
}  // namespace crc_detail
