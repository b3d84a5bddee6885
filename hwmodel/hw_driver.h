// Drivers of the encoder accelerator model: a full PDSCH run from an MCS and an allocation, and a
// per-code-block run from a parameter record and a payload, each running the CRC, LDPC encoder and
// rate-matcher models block by block and writing their signals as reference files for hardware
// verification.
#pragma once

#include <cstdint>

#include "hwmodel/hw_params.h"

constexpr int32_t kHwCellNum = 2;  // ping-pong output cells of the encoder per codeword

// dumpDir: the directory the reference files go to, "./" (the working directory); every file
// name below is written as dumpDir followed by the name.
extern const char dumpDir[];

// Reference files of nrHwPdschRefRun.
extern const char kHwInfoBitsFile[];  // "ldpc_infobits.txt": payload bits per block, "%d \n"
extern const char kHwCbEncFile[];     // "res_hw_cbEnc.txt": encoder cell per block, headed
extern const char kHwFifoIFile[];     // "res_hw_fifo_i.txt": selected bits e_k, "%d \n"
extern const char kHwRmOutFile[];     // "lpdc_encRMout.txt": output bits in order, "%d\n"
// Reference files of nrHwCbRefRun.
extern const char kHwCrcFile[];     // "res_hw_crc.txt": payload then parity bits, "%d \n"
extern const char kHwCirBufFile[];  // "res_hw_cirbuf.txt": encoder cell rows, "%01d \n"
extern const char kHwFifoFile[];    // "res_hw_fifo.txt": selected bits e_k, "%d \n"

// LdpcCbBufCellFlg[cw][c]: 1 while encoder cell c of codeword cw holds an encoded block that is
// not rate-matched yet; set after encoding and cleared after rate matching by the drivers.
extern int32_t LdpcCbBufCellFlg[kHwCodewords][kHwCellNum];
// RmFinishFlag[cw]: 1 once the rate matcher completed codeword cw's current block; cleared by the
// drivers before each block, set by nrHwRateMatch.
extern int32_t RmFinishFlag[kHwCodewords];

// Full run for codeword 0 (codeword 1 is prepared but not run): nrHwTxPrepare (the PN9 transport
// block, the records and registers), "TBS is %d" printed without a line end, then for every code
// block the payload bits to "ldpc_infobits.txt" (the last block of a segmented transport block
// without its 24 transport-block CRC bits), the CRC and encoder models, the encoder cell to
// "res_hw_cbEnc.txt" (headed by headInfo as the previous block left it, all 0 for the first), the
// rate matcher with its dump "res_hw_fifo_i.txt", and the block's output bits in transmission
// order (FIFO j element i is bit i Qm + j) to "lpdc_encRMout.txt"; headInfo then describes the
// block (word 1 eRow, word 2 block, word 3 codeword). The first block replaces each file, later
// blocks append. Returns false, reported, when the request is refused (nothing written) or a
// stage or a file fails (the run goes on with the next file).
bool nrHwPdschRefRun(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb);

// Runs every code block of the codeword described by record on payload (its transport block
// bits: infoLen x C - L_TB of them when C > 1, infoLen when C = 1) and stores each block's parity
// bits in crcValues (C x n elements: the CRC24B, n = 24, when C > 1; the transport-block CRC when
// C = 1). Per block it writes "res_hw_crc.txt" (the block's infoLen payload bits, the transport-
// block CRC ending the last one, then its n parity bits), "res_hw_cirbuf.txt" (the encoder cell)
// and, through the rate matcher, "res_hw_fifo.txt" (the selected bits); the first block replaces
// each file, later blocks append. Uses the memories and the rate-matcher state of codeword 0.
// Returns false, reported, when nrHwCwParamsCheck refuses the record (nothing written) or a stage
// or a file fails.
bool nrHwCbRefRun(const NrHwCwParams* record, const int32_t* payload, int32_t* crcValues);
