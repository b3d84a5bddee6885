// Downlink shared-channel encoding of one transport block (TS 38.212 7.2.1, 7.2.2, 5.2.2, 5.3.2,
// 5.4.2): PN9 payload, transport-block CRC, code-block segmentation with CRC24B, LDPC encoding,
// rate matching and concatenation.
#pragma once

#include <cstdint>

#include "config/mcs_table.h"

// Encodes the transport block sized by nrTbsCalc(mcsIndex, nRePerPrb, nPrb, numLayers) with
// redundancy version rv into out, code block 0 first, and returns the number of bits written
// (sumE of nrLdpcParams, at most G). The payload restarts the PN9 sequence on every call. Dumps
// the transport block with its CRC to "EncCrcBuff.txt" (unless gnrDiagFilesOn is cleared). outCap
// is the number of elements out holds; -1 stands for the G elements the caller guarantees. A
// request that nrLdpcParamCalc rejects (more than 100 code blocks, ...) or whose bits exceed outCap
// is reported on stdout and writes nothing, returning 0. mcsTable selects the MCS table
// (config/mcs_table.h; table 2 by default).
int64_t nrDlschEncode(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                      int32_t* out, uint8_t rv, int64_t outCap = -1,
                      uint8_t mcsTable = kMcsTableQam256);

// nrDlschEncode on byte lanes: the same bits in the same order, one 0/1 byte each, the same
// parameters, checks, console lines and "EncCrcBuff.txt" dump. The payload is generated and its
// CRCs are computed 32 bits at a time.
int64_t nrDlschEncodeBytes(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                           int8_t* out, uint8_t rv, int64_t outCap = -1,
                           uint8_t mcsTable = kMcsTableQam256);
