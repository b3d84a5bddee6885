// Downlink shared-channel decoding: descrambling (TS 38.211 7.3.1.1), code-block split, bit
// de-interleaving and de-rate-matching (TS 38.212 5.4.2 inverted) and LDPC decoding of every code
// block with its CRC check.
#pragma once

#include <cstdint>

#include "phy/coding/ldpc_params.h"

constexpr int32_t kFillerLlr = 1000;  // a filler bit is a certain 0

// The verdict on one code block of the last decoded transport block.
struct NrDlschCbVerdict {
  uint8_t crcOk;     // 1 when the code block's CRC checked
  uint8_t iterUsed;  // LDPC iterations run; 0 when the block never reached the decoder
  int32_t E;         // rate-matched soft bits of the block
};

// What the last nrDlschDecode call decided, for displays and probes; written only by
// nrDlschDecode (reset at every call), read through nrDlschDecLastReport.
struct NrDlschDecReport {
  uint32_t A;    // transport block size
  uint32_t G;    // soft bits handed over
  uint8_t tbOk;  // the call's result: 1 when every code block passed
  uint8_t bg;    // base graph of the code blocks (0 when the request was refused)
  int32_t Zc;    // lifting size
  int32_t cbN;   // code blocks decoded; 0 when the request was refused
  NrDlschCbVerdict cb[kMaxCodeBlocks];
};

// The report of the last nrDlschDecode call of the process (all zero before the first).
const NrDlschDecReport* nrDlschDecLastReport();

// Decodes one PDSCH codeword. A: transport block size; G: number of soft bits; R: code rate as a
// fraction; cInit: scrambling initialiser (RNTI * 2^15 + n_ID); Qm; rv 0..3; softBits: G soft
// bits in transmission order (positive = bit 0); numLayers.
//
// rateX2048: the target code rate x 2048 of the PDSCH entry (codeRate, from the MCS table). The
// base graph is chosen from it, as the transmitter does (TS 38.212 7.2.2); only when it is 0 is R
// used instead. The effective rate A/G can fall on the other side of 0.67 than the target rate
// once the transport block size is quantised, which would pick the other base graph.
//
// Prints one CRC verdict per code block and, when every block passes, writes the transport block
// with its CRC to "DecBuff.txt"; otherwise removes a "DecBuff.txt" of an earlier decode, so that
// no stale result stays behind (neither when gnrDiagFilesOn is cleared). Returns 1 when every code
// block passed, else 0.
// Requests that cannot be decoded (more than 100 code blocks, G beyond the soft-bit buffer
// capacity kUeLlrCap or below the rate-matched total, a code block without coded bits) are
// reported and give 0.
uint8_t nrDlschDecode(uint32_t A, uint32_t G, float R, int32_t cInit, uint32_t Qm, uint8_t rv,
                      const int16_t* softBits, uint8_t numLayers, uint16_t rateX2048 = 0);

// De-interleaves and de-rate-matches the E descrambled soft bits of one code block into the N
// LLRs of its circular buffer (fillers kFillerLlr, repetitions summed, untransmitted positions 0)
// and decodes it; writes the Kp decoded bits to decoded on a CRC pass. Returns 1 on a pass. A
// block whose soft bits are all 0 is not decoded and fails (the all-zero word would pass its CRC).
int32_t nrLdpcCbDecode(const int32_t* llr, int32_t E, int32_t* decoded, int32_t K, int32_t Kp,
                       int32_t Zc, int32_t Qm, int32_t k0, int32_t Ncb, int32_t N, uint8_t bg,
                       uint8_t iLS, uint8_t crcType);

// Building block exposed for its tests.
namespace dlsch_detail {
// TS 38.212 5.4.2 inverted for one code block: the N circular-buffer LLRs of the E soft bits,
// fillers (K'-2Zc .. K-2Zc-1) kFillerLlr, repeated positions summed, untransmitted positions 0.
// Expects parameters nrLdpcCbDecode has accepted (a circular buffer with a non-filler position).
void deRateMatch(const int32_t* llr, int32_t E, int32_t K, int32_t Kp, int32_t Zc, int32_t Qm,
                 int32_t k0, int32_t Ncb, int32_t N, int32_t* cbLlr);
// The same from 16-bit soft bits (each widened as it is read), as nrDlschDecode keeps them.
void deRateMatch(const int16_t* llr, int32_t E, int32_t K, int32_t Kp, int32_t Zc, int32_t Qm,
                 int32_t k0, int32_t Ncb, int32_t N, int32_t* cbLlr);
// The same into 16-bit positions, where no position receives more than one soft bit (no sums);
// otherwise writes nothing and returns false.
bool deRateMatch16(const int16_t* llr, int32_t E, int32_t K, int32_t Kp, int32_t Zc, int32_t Qm,
                   int32_t k0, int32_t Ncb, int32_t N, int16_t* cbLlr);
// nrLdpcCbDecode from 16-bit soft bits: the same checks, results and verdicts; the decoded bits
// are written only when keepBits (decoded must still point to K values).
int32_t cbDecode16(const int16_t* llr, int32_t E, int32_t* decoded, int32_t K, int32_t Kp,
                   int32_t Zc, int32_t Qm, int32_t k0, int32_t Ncb, int32_t N, uint8_t bg,
                   uint8_t iLS, uint8_t crcType, bool keepBits);
}  // namespace dlsch_detail
