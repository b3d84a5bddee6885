// Rate-matching and bit-interleaving stage of the encoder accelerator model (TS 38.212 5.4.2.1,
// 5.4.2.2): one reader per row of the bit interleaver starts at its own circular-buffer position,
// reads the encoder's output cell two bank rows at a time, skips the filler bits and pushes its
// bits into its own output FIFO. Element i of FIFO j is output bit i * Qm + j of the code block.
#pragma once

#include <cstdint>

#include "hwmodel/hw_params.h"

// Rate-matches the current code block r of codeword cw (0 or 1) from cell (the punctured codeword
// in bank rows) into fifos (kHwFifoNum FIFOs of kHwFifoDepth elements, FIFO j at j * kHwFifoDepth;
// write pointers from 0 for every block): reader j < Qm delivers the eRow selected bits
// j * eRow .. (j+1) * eRow - 1, eRow = eRowSmall for r <= cbBoundary, else eRowSmall + layers.
// Sets *rmFinish to 1 and advances the codeword's block index (to 0 after the last block). With
// dumpFile, the block's selected bits in reader order are written to that file ("%d \n" per bit;
// the first block after the codeword's last one, or after nrHwRateMatchReset, replaces the file,
// later blocks append). A refused record or cw, or a block index the record does not have (the
// codeword's reader is then reset to block 0), is reported and touches nothing (false). A dump
// that cannot be written is reported and gives false, the FIFOs being complete all the same.
bool nrHwRateMatch(const NrHwCwParams* record, int32_t cw, const int32_t* cell, int32_t* fifos,
                   int32_t* rmFinish, const char* dumpFile);

// The block index nrHwRateMatch processes next for codeword cw (0 for another cw).
int32_t nrHwRateMatchBlock(int32_t cw);

// Returns the readers of both codewords to block 0 and clears the dump-started flag.
void nrHwRateMatchReset();
