// Shift-register sequences: the Gold sequence c(n) of TS 38.211 5.2.1, the scramblers built on it,
// the PN9 payload generator and the PSS/SSS sequences of TS 38.211 7.4.2.2 / 7.4.2.3.
#pragma once

#include <cstdint>

// Layout of the sequence buffer gnrSeqBuf.
constexpr int kSeqBufSssOffset = 0;      // 127 SSS values
constexpr int kSeqBufPssOffset = 128;    // 127 PSS values
constexpr int kSeqBufPolarOffset = 256;  // byte work area of the polar coding (1024 bytes)
constexpr int kSeqBufGoldOffset = 1280;  // Gold sequence output
// A Gold request must satisfy offset + count <= kGoldSeqLimit: the sequence is defined on the
// register length 100296 less the TS 38.211 5.2.1 offset N_C = 1600.
constexpr uint32_t kGoldSeqLimit = 98696;
constexpr int kSeqBufSize = kSeqBufGoldOffset + static_cast<int>(kGoldSeqLimit);

constexpr int kSsbSeqLen = 127;  // TS 38.211 7.4.2: PSS and SSS length

// gnrSeqBuf: written by nrGoldSeqGen (from byte 1280), nrPssGen (128..254), nrSssGen (0..126) and
// the polar coding (256..1279); read by the DMRS, PDCCH and polar callers right after each call.
extern int8_t gnrSeqBuf[kSeqBufSize];

// gnrPnState: the 9 PN register stages (one bit per byte, state[0] is the output stage); written
// by nrPnSeqInit, advanced by nrPnSeqGen.
extern int8_t gnrPnState[32];

// The three length-127 m-sequences in bipolar form 1 - 2x, each followed by one zero byte: PSS x
// (TS 38.211 7.4.2.2.1) at 0, SSS x0 at 128 and x1 at 256 (7.4.2.3.1).
extern const int8_t gnrSsbMseq[3 * 128];

// Writes c(offset) ... c(offset + count - 1) of the Gold sequence initialised with cInit (taken
// modulo 2^31) to gnrSeqBuf from byte 1280: 1 - 2c(n) if form is 1, else c(n). Returns count.
// A request with offset + count > kGoldSeqLimit writes nothing and returns 0.
uint32_t nrGoldSeqGen(int32_t cInit, uint32_t count, int8_t form, uint16_t offset);

// c(0) ... c(64 nWords - 1) of the Gold sequence initialised with cInit (modulo 2^31), packed
// 64 to a word: c(64k + j) is bit j of out[k].
void nrGoldSeqWords(int32_t cInit, uint64_t* out, uint32_t nWords);

// TS 38.211 7.3.1.1: c_init = n_RNTI * 2^15 + n_ID of the PDSCH data scrambling, codeword 0,
// formed in 32 bits: with the largest 16-bit values it reaches bit 31, which the Gold sequence
// ignores, so it wraps rather than saturates.
inline uint32_t nrPdschDataCinit(uint32_t rnti, uint16_t nId) { return (rnti << 15) + nId; }

// dst[j] = src[j] * (1 - 2c(j)) for j < count, c initialised with cInit (modulo 2^31); dst may
// equal src. The product wraps in the element width.
void nrScrambleInt(const int32_t* src, int32_t* dst, int32_t count, int32_t cInit);
void nrScrambleShort(const int16_t* src, int16_t* dst, int32_t count, int32_t cInit);
// nrScrambleShort that also tells whether every product is exact: false when a value of -32768
// was negated (32768 does not fit in 16 bits and wraps to -32768), which nrScrambleInt on the
// widened values would have given as 32768.
bool nrScrambleShortExact(const int16_t* src, int16_t* dst, int32_t count, int32_t cInit);

// Bipolar form and scrambling of coded bits in one pass: dst[j] = 1 - 2 (bits[j] xor c(j)) for
// count 0/1 bytes, which is nrScrambleShort of the bipolar values 1 - 2 bits[j].
void nrScrambleBitsShort(const int8_t* bits, int16_t* dst, int32_t count, int32_t cInit);

// PN generator x^9 + x^5 + 1: nrPnSeqInit(9) loads the all-ones register; nrPnSeqGen writes count
// bits (0/1, one per element), continuing from the register. Other orders print "not support!"
// and give false.
bool nrPnSeqInit(int8_t order);
bool nrPnSeqGen(int8_t order, int32_t* out, uint64_t count);

// nrPnSeqGen with one 0/1 byte per bit in out and, unless packed is nullptr, the same bits 32 per
// word with the first in bit 31 (the order of nrCrcCalcPacked; bits of the last word beyond count
// are 0). Advances the register exactly as nrPnSeqGen does.
bool nrPnSeqGenBytes(int8_t order, int8_t* out, uint64_t count, uint32_t* packed);

// The 127 PSS values (+-1) to gnrSeqBuf from byte 128 / the 127 SSS values to gnrSeqBuf from 0.
void nrPssGen(uint8_t nId2);
void nrSssGen(uint16_t nId1, uint8_t nId2);
