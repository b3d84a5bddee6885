// Polar code construction of TS 38.212 5.3.1 and 5.4.1.1: the code length, the information,
// parity-check and frozen positions, the input interleaver and the sub-block interleaver.
#pragma once

#include <cstdint>

#include "phy/common/sequence.h"

constexpr int kPolarNmaxLen = 1024;  // N at n_max = 10, the longest mother code
constexpr int kPolarNminLog2 = 5;    // TS 38.212 5.3.1: n_min
constexpr int kPolarNmaxLog2 = 10;
constexpr int kPolarKilMax = 164;    // TS 38.212 5.3.1.1: K_IL^max
constexpr int kPolarSubblockN = 32;  // TS 38.212 5.4.1.1: sub-blocks
constexpr int kPolarNmaxDci = 9;     // TS 38.212 7.3.3: n_max of the downlink control channel
constexpr int kPolarMaxE = 8192;     // TS 38.212 5.4.1: E <= 8192
constexpr int kPolarPcMax = 3;       // TS 38.212 5.3.1.2: n_PC
constexpr int kPolarPcMinK = 18;     // parity-check bits for 18 <= K <= 25
constexpr int kPolarPcMaxK = 25;
constexpr int kPolarPcWmMinGap = 189;  // n_PC^wm = 1 when E - K > 189

static_assert(kSeqBufPolarOffset + kPolarNmaxLen <= kSeqBufGoldOffset,
              "the polar work area must not reach the Gold sequence output");

// gnrPolarInfoInd: byte i is 1 where u_i is an information or parity-check bit, 0 where it is
// frozen (the 1024 bytes of gnrSeqBuf from kSeqBufPolarOffset); written by nrPolarConstruct, read
// by the polar encoder and decoder.
inline int8_t* const gnrPolarInfoInd = gnrSeqBuf + kSeqBufPolarOffset;

// gnrPolarPcPos: the bit indices of the parity-check bits (the first gnrPolarPcN entries);
// written by nrPolarConstruct, read by the polar encoder and decoder.
extern int32_t gnrPolarPcPos[kPolarPcMax];
extern int32_t gnrPolarPcN;

// Number of parity-check bits n_PC: 3 for 18 <= K <= 25 on the uplink control channel (n_max 10,
// TS 38.212 6.3.1.3.1), 0 for the downlink control and broadcast channels (n_max 9, TS 38.212
// 7.3.3 and 7.1.4).
constexpr uint32_t nrPolarPcCount(uint32_t K, uint32_t nMax) {
  return nMax == kPolarNmaxLog2 && K >= kPolarPcMinK && K <= kPolarPcMaxK ? kPolarPcMax : 0;
}

// TS 38.212 5.4.1: the rate-matching mode for E < N: puncturing when K/E <= 7/16, else shortening.
constexpr bool nrPolarPunctured(uint32_t K, uint32_t E) { return 16 * K <= 7 * E; }

// TS 38.212 5.3.1: the mother code length N for K bits rate-matched to E bits with n_max (5 to 10):
// n = max(min(n1, n2, n_max), 5), minimum rate 1/8. Returns 0 for K or E of 0 or an n_max outside
// 5 .. 10.
uint32_t nrPolarCodeLength(uint32_t K, uint32_t E, uint32_t nMax);

// TS 38.212 5.3.1.2 and 5.4.1.1: fills gnrPolarInfoInd (all 1024 bytes), gnrPolarPcPos and
// gnrPolarPcN for K information bits, E rate-matched bits, code length N and n_max (which sets
// n_PC, see nrPolarPcCount). Returns false, with a diagnostic and nothing written, when N is not a
// power of two from 32 to 1024, K is 0, K > E, or the positions left by rate matching cannot hold
// the K + n_PC bits.
bool nrPolarConstruct(uint32_t K, uint32_t E, uint32_t N, uint32_t nMax = kPolarNmaxDci);

// TS 38.212 5.4.1.1: J(0 .. N-1) of the sub-block interleaver. Returns false, J untouched, when N
// is not a power of two from 32 to 1024.
bool nrPolarSubblockPattern(uint32_t N, int16_t* J);

// TS 38.212 5.3.1.1: the interleaving pattern Pi(0 .. K-1) for K <= 164 bits; returns K, or 0
// (pi untouched) for K of 0 or above 164.
uint32_t nrPolarIlPattern(uint32_t K, int16_t* pi);

namespace polar_detail {
// TS 38.212 Table 5.3.1.2-1: Q_0^1023, the kPolarNmaxLen indices in ascending reliability.
const int16_t* sequence();
// TS 38.212 Table 5.4.1.1-1: the sub-block interleaver pattern P(0 .. 31).
const int16_t* subblockPerm();
// J(0 .. N-1) for a valid N (see nrPolarSubblockPattern), computed once per process.
const int16_t* subblockTable(uint32_t N);
// True for N a power of two from 32 to 1024.
bool validLength(uint32_t N);
}  // namespace polar_detail
