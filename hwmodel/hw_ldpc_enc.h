// LDPC encoding stage of the encoder accelerator model (TS 38.212 5.3.2): the code block is read
// column block by column block from the bank memory, every parity row is summed by walking a
// compact edge table with one Zc-wide cyclic shifter and an XOR accumulator, and the punctured
// codeword is written to an output cell in the same bank-row layout.
#pragma once

#include <cstdint>

#include "hwmodel/hw_params.h"
#include "phy/coding/ldpc_tables.h"

constexpr int32_t kHwEdgeVals = 9;  // an edge: column index, then the shifts V of sets 0..7
// Entry capacities: the core rows hold at most kb + 1 edges each; the extension rows at most every
// non-empty block of both base graphs (316 + 197).
constexpr int32_t kHwCoreEdgeCap = 4 * (kBg1Cols - kBg1Rows + 1) + 4 * (kBg2Cols - kBg2Rows + 1);
constexpr int32_t kHwExtEdgeCap = 316 + 197;
constexpr int32_t kHwExtRowsBg1 = kBg1Rows - 4;
constexpr int32_t kHwExtRowsBg2 = kBg2Rows - 4;

// The edge table of both base graphs, derived once from the shift tables of TS 38.212 Tables
// 5.3.2-2/-3. Rows list their edges in ascending column order.
//   core: rows 0..3 of BG1, then rows 0..3 of BG2: the systematic columns (< kb), and in addition
//         column kb+1 in row 1 and column kb+3 in row 2 (the sums of rows 0 and 3 enter there);
//   ext:  rows 4.. of BG1, then of BG2: every non-empty column but the row's own parity column.
// Offsets count int32 values (entries x kHwEdgeVals); a row ends where the next one starts.
struct NrHwEdgeTbl {
  int32_t coreLen;  // int32 values of core in use
  int32_t extLen;   // int32 values of ext in use
  int32_t coreRowOfst[8];
  int32_t extRowOfst[kHwExtRowsBg1 + kHwExtRowsBg2];
  int32_t core[kHwCoreEdgeCap * kHwEdgeVals];
  int32_t ext[kHwExtEdgeCap * kHwEdgeVals];
};

extern const NrHwEdgeTbl nrHwBgEdgeTbl;

// Copies the systematic column blocks 2 .. kb-1 of the bank memory into cell columns 0 .. kb-3
// (whole 48-slot rows), the part of the punctured codeword the encoder does not compute. A core
// that describes no lifted base graph is reported and touches nothing (false).
bool nrHwCellLoadSys(const LdpcCoreParams* core, const int32_t* cbBank, int32_t* cell);

// Encodes the code block in cbBank (kb column blocks in bank rows, fillers 0): the core parity
// columns kb .. kb+3 from the row sums of rows 0..3, then the extension parity columns
// extColStart .. extColEnd-1, written to cell columns kb-2 .. (the punctured codeword, column c
// in cell column c-2; the first bitLenOneBank slots of each row, the rest untouched). Sets
// *encFinish to 1. A core that describes no lifted base graph is reported and touches nothing
// (false).
bool nrHwLdpcEnc(const LdpcCoreParams* core, const int32_t* cbBank, int32_t* cell,
                 int32_t* encFinish);
