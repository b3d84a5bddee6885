// Fixed-point layered normalised min-sum decoding of one LDPC code block (TS 38.212 5.3.2 codes),
// with early termination on the code-block CRC (TS 38.212 5.1).
#pragma once

#include <cstdint>

#include "phy/common/cpu_features.h"

constexpr int kLdpcDecMaxLayers = 46;     // BG1 rows
constexpr int kLdpcDecMaxEdges = 316;     // non-empty BG1 blocks
constexpr int kLdpcDecMaxRowWeight = 19;  // heaviest base-graph row
constexpr int kLdpcDecMaxCols = 68;       // BG1 columns
constexpr int kLdpcDecMaxZc = 384;        // largest lifting size

// Decoder settings and the parameters of the block being decoded. The settings (etEnable,
// minIter, maxIter, minStarEnable, normFactor, widths) are the caller's to adjust; nrLdpcDecode
// fills bg, numLayers, iLS, Kp, Zc and crcType for every call.
struct NrLdpcDecPara {
  int32_t etEnable = 1;  // 1: stop at the first CRC pass; else run maxIter, the last CRC decides
  uint8_t minIter = 3;   // the CRC is tested after iterations with index >= minIter
  uint8_t maxIter = 20;
  uint8_t bg = 0;
  uint8_t numLayers = 0;  // 46 (BG1) or 42 (BG2)
  uint8_t iLS = 0;
  uint16_t Kp = 0;
  uint16_t Zc = 0;
  uint8_t minStarEnable = 0;  // min* correction of the minima
  uint8_t normFactor = 25;    // normalisation numerator; the denominator is 32
  uint8_t appWidth = 9;       // a posteriori LLRs, 2..15 bits
  uint8_t msgWidth = 7;       // variable-to-check magnitudes, 2..8 bits
  uint8_t fracBits = 3;       // fractional bits of internal LLRs (inputs carry 2), 0..3
  uint8_t crcType = 0;        // nrCrcType of the code block
  // 1: layers whose degree-one parity column received nothing (all its LLRs 0) are not run. Such
  // a layer sends messages of magnitude 0 to every other column, so skipping it changes no
  // result; it is done only where the settings keep that exact (appWidth >= 9, and no min*
  // correction with msgWidth 8). 0: every layer runs (the full sweep).
  uint8_t skipSilentLayers = 1;
  // 1: once an iteration after the first leaves every check-to-variable message as it was, the
  // decoder is at a fixed point and the remaining iterations, which would repeat it exactly, are
  // not run; the iterations used, the verdict, the decoded bits and the a posteriori values are
  // those of running them. With early termination the test starts after the first failed CRC
  // test. 0: every iteration runs.
  uint8_t stopAtFixedPoint = 1;
};

// The decoder's parameter set; written by callers (settings) and by nrLdpcDecode, read by it.
extern NrLdpcDecPara nrLdpcDecPara;

// Layered schedule of one base graph, derived from the base-graph tables.
struct NrLdpcDecEdge {
  uint8_t col;
  int16_t shift[8];  // raw shift value V per set iLS
};
struct NrLdpcDecSchedule {
  int numLayers;
  int numEdges;
  uint8_t layerRow[kLdpcDecMaxLayers];   // base-graph row of each layer: 1, 3, 0, 2, 4, 5, ...
  uint8_t rowWeight[kLdpcDecMaxLayers];  // edges per layer
  uint8_t updateInd[kLdpcDecMaxLayers];  // when the previous layer is written back (0 ... 3)
  int8_t degOneCol[kLdpcDecMaxLayers];   // the layer's parity column of degree one, -1 if none
  NrLdpcDecEdge edge[kLdpcDecMaxEdges];  // grouped by layer, in layer order
};

// Schedule of base graph bg (1 or 2); nullptr for any other value.
const NrLdpcDecSchedule* nrLdpcDecSchedule(uint8_t bg);

// Decodes one code block. llr: N LLRs of codeword positions 2*Zc ... 2*Zc+N-1 (positive = bit 0,
// two fractional bits). A block passes when its CRC checks and none of its Kp information and CRC
// bits rests on an a posteriori value of exactly 0 (no information either way). On a pass writes
// the Kp decoded bits (0/1) to out and returns 1; otherwise returns 0 and leaves out untouched.
// Invalid block parameters are reported and give 0.
int32_t nrLdpcDecode(const int32_t* llr, int32_t* out, int32_t Kp, int32_t Zc, int32_t N,
                     uint8_t bg, uint8_t iLS, uint8_t crcType);

namespace ldpc_detail {
// nrLdpcDecode that writes the decoded bits only when keepBits (out may then be nullptr): the
// same verdict, iterations and a posteriori values, for callers that need the bits only in some
// cases. nrLdpcDecode is this with keepBits set.
int32_t decodeKeep(const int32_t* llr, int32_t* out, bool keepBits, int32_t Kp, int32_t Zc,
                   int32_t N, uint8_t bg, uint8_t iLS, uint8_t crcType);
// The same from 16-bit LLRs (the values the 32-bit ones would hold, for a de-rate-matching that
// needed no sums).
int32_t decodeKeep16(const int16_t* llr, int32_t* out, bool keepBits, int32_t Kp, int32_t Zc,
                     int32_t N, uint8_t bg, uint8_t iLS, uint8_t crcType);
}  // namespace ldpc_detail

// Iterations used by the last nrLdpcDecode call (maxIter when the CRC never passed).
uint8_t nrLdpcDecIterUsed();

// Iterations the last nrLdpcDecode call actually ran: nrLdpcDecIterUsed(), or fewer when it
// reached a fixed point (see stopAtFixedPoint).
uint8_t nrLdpcDecIterRun();

// Instruction sets of the check-node lane loops, narrowest first (the levels of
// phy/common/cpu_features.h).
constexpr uint8_t kLdpcLanesBaseline = kNrCpuBaseline;
constexpr uint8_t kLdpcLanesAvx2 = kNrCpuAvx2;
constexpr uint8_t kLdpcLanesAvx512 = kNrCpuAvx512;
// The lane loops run with the widest instruction set the CPU has. For tests and benchmarks:
// limits them to at most `widest` (through nrCpuSetLevelCap, so the cap holds for every block
// with variants); returns the set now in use.
uint8_t nrLdpcDecSetLanes(uint8_t widest);

// For probes and tests: the a posteriori LLRs (fracBits fractional bits) of codeword bits
// 0 ... count-1 as the last nrLdpcDecode call left them, in codeword order. Returns the number
// written: count, at most the codeword length with its punctured bits (68 or 52 times Zc).
// A decoding that skipped layers (see skipSilentLayers) does not maintain the APP memory of their
// degree-one columns (it keeps the input 0 there); every other column is exact. For those columns
// to read as the full sweep leaves them, this call first decodes the saved input of such a
// decoding again with every layer, for the iterations it used (a slow path, for probes only).
int32_t nrLdpcDecApp(int16_t* app, int32_t count);

// Layers the last nrLdpcDecode call ran per iteration (numLayers unless layers were skipped).
uint8_t nrLdpcDecLayersRun();
