// Polar encoder accelerator model for parity-check polar codes (TS 38.212 5.3.1.2 with the frozen
// set of 5.4.1.1): positions are typed frozen, information or parity check from the reliability
// sequence, the parity-check bits come from a five-stage cyclic register, and x = u G_N is
// computed by a pipeline of per-stage FIFOs taking one input bit per clock.
#pragma once

#include <cstdint>

constexpr int32_t kHwPolarMinLog2 = 5;   // N = 32
constexpr int32_t kHwPolarMaxLog2 = 10;  // N = 1024
constexpr int32_t kHwPolarMaxN = 1 << kHwPolarMaxLog2;
constexpr int32_t kHwPolarMaxE = 8192;          // TS 38.212 5.4.1: E <= 8192
constexpr int32_t kHwPolarDebugU = 1024;        // debug array: u from this element on
constexpr int32_t kHwPolarDebugLen = 2 * 1024;  // elements of a debug array

// Position types.
constexpr int32_t kHwPolarFrozen = 0;
constexpr int32_t kHwPolarInfo = 1;
constexpr int32_t kHwPolarParity = 2;

// Frozen-set rules of TS 38.212 5.4.1.1 (the index v of u lands at position p of the sub-block
// interleaver's output).
constexpr int32_t kHwPolarRuleNone = 0;     // no rate matching
constexpr int32_t kHwPolarRuleShorten = 1;  // v frozen unless p < E
constexpr int32_t kHwPolarRuleT2 = 2;       // v frozen if p < N - E or v < T2 (E >= 3N/4)
constexpr int32_t kHwPolarRuleT3 = 3;       // v frozen if p < N - E or v < T3 (E < 3N/4)

// The positions below N = 2^n left by the frozen-set rule `type` (E, T2, T3 as for
// nrHwPolarEnc): the value nrHwPolarEnc's `candidates` must hold. -1, reported, for arguments it
// refuses.
int32_t nrHwPolarCandidates(int32_t n, int32_t N, int32_t E, int32_t type, int32_t T2, int32_t T3);

// Encodes the K bits info (lowest bit of each element) into the N = 2^n bits out (0/1), x = u G_N:
// positions typed walking the reliability sequence below N from the least reliable index, the
// rule `type` excluding some, the most reliable K + nPC of the `candidates` left selected, nPC -
// nPCwm parity checks on the least reliable of them and, with nPCwm = 1, one more on the smallest
// row weight among the K most reliable (the most reliable index on ties). u takes the information
// bits in index order and at each parity check the register bit y0 (TS 38.212 5.3.1.2).
// debug (nullptr: none) receives the N position types from element 0 and u from element
// kHwPolarDebugU (kHwPolarDebugLen elements). Refused, reported and out untouched (false): n
// outside 5 .. 10 or N != 2^n, K < 1, nPC < 0, nPCwm other than 0 or 1 (or above nPC), E outside
// 1 .. 8192, type outside 0 .. 3, T2 or T3 outside 0 .. N, candidates other than
// nrHwPolarCandidates or below K + nPC.
bool nrHwPolarEnc(int32_t K, int32_t n, int32_t N, int32_t nPC, int32_t nPCwm, int32_t E,
                  int32_t type, int32_t T2, int32_t T3, int32_t candidates, const int32_t* info,
                  int32_t* out, int32_t* debug);

// TS 38.212 5.4.1.1: J(i) = (N/32) P(floor(32 i / N)) + (i mod N/32) for i < N. False, J
// untouched, when n is outside 5 .. 10 or N != 2^n.
bool nrHwPolarInterleaveIdx(int32_t N, int32_t n, int32_t* J);

// The selection of nrHwPolarEnc in list form: selIdx receives the K + nPC selected indices and
// infoIdx the K information indices, both least reliable first; pcFlag[0 .. N-1] is 1 at the
// parity-check indices and 0 elsewhere. Returns K + nPC, or -1 (reported, nothing written) for
// arguments nrHwPolarEnc refuses.
int32_t nrHwPolarSelectList(int32_t K, int32_t n, int32_t N, int32_t nPC, int32_t nPCwm, int32_t E,
                            int32_t type, int32_t T2, int32_t T3, int32_t candidates,
                            int32_t* selIdx, int32_t* infoIdx, int32_t* pcFlag);

// The indices below N = 2^n that the rule `type` freezes, ascending, into frozen (up to N
// elements). Returns their number, or -1 (reported, nothing written) for refused arguments.
int32_t nrHwPolarFrozenIdx(int32_t n, int32_t N, int32_t E, int32_t type, int32_t T2, int32_t T3,
                           int32_t* frozen);

namespace hw_polar_detail {
// The pipelined encoder alone: u (N = 2^n bits, n 5 .. 10) in at one bit per clock, x = u G_N out;
// trace (nullptr: none) receives the last stage's output at each of the 2N - 1 clocks, x[N-1] at
// clock N - 1 down to x[0] at clock 2N - 2.
void pipeline(int32_t n, int32_t N, const int32_t* u, int32_t* x, int32_t* trace);
}  // namespace hw_polar_detail
