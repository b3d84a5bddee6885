// Transport block size determination, TS 38.214 5.1.3 with MCS index table 2 (Table 5.1.3.1-2).
#pragma once

#include <cstdint>

constexpr int kTbsTableSize = 93;

// TS 38.214 Table 5.1.3.2-1: TBS for N_info <= 3824, ascending.
extern const uint32_t gnrTbsTable[kTbsTableSize];

// From the MCS index (taken modulo 32), the data REs per PRB N'_RE, the PRB count and the layer
// count: the modulation order, the number of code blocks C, the target code rate x 1024, the TBS
// and the number of coded bits G = nRePerPrb * nPrb * Qm * numLayers (32-bit product). N_RE is
// capped at 156 per PRB for the TBS only. Returns the TBS.
uint64_t nrTbsCalc(int32_t mcsIndex, int32_t nRePerPrb, int32_t nPrb, int32_t numLayers,
                   int32_t* qm, int32_t* C, float* rateX1024, uint64_t* tbs, uint64_t* G);
