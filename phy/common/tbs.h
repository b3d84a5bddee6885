// Transport block size determination, TS 38.214 5.1.3 with MCS index table 2 (Table 5.1.3.1-2).
#pragma once

#include <cstdint>

#include "config/mcs_table.h"
#include "config/nr_config.h"

constexpr int kTbsTableSize = 93;

// TS 38.214 Table 5.1.3.2-1: TBS for N_info <= 3824, ascending.
extern const uint32_t gnrTbsTable[kTbsTableSize];

// From the MCS index (taken modulo 32), the data REs per PRB N'_RE, the PRB count and the layer
// count: the modulation order, the number of code blocks C, the target code rate x 1024, the TBS
// and the number of coded bits G = nRePerPrb * nPrb * Qm * numLayers (32-bit product). N_RE is
// capped at 156 per PRB for the TBS only. Returns the TBS.
// mcsTable selects the MCS table (config/mcs_table.h; table 2 by default).
uint64_t nrTbsCalc(int32_t mcsIndex, int32_t nRePerPrb, int32_t nPrb, int32_t numLayers,
                   int32_t* qm, int32_t* C, float* rateX1024, uint64_t* tbs, uint64_t* G,
                   uint8_t mcsTable = kMcsTableQam256);

// TS 38.214 5.1.3.2 steps 3 and 4: the TBS of an information size nInfo (0 or more) and the number
// of code blocks it is cut into; lowRate selects the code blocks of R <= 1/4.
uint64_t nrTbsQuantise(int64_t nInfo, bool lowRate, int64_t* C);

// Transport block size in bits of the PDSCH entry with xOverhead REs of overhead per RB
// (TS 38.214 5.1.3.2, N'_RE from the DMRS layout of nrGetDmrsPos, rate in 1/2048, N_info rounded
// to nearest in integers); fills whichever of codeRate / codeRateRef (x 2048) is zero from the
// other.
uint32_t nrCalcDchTbs(uint16_t xOverhead, NrPdschCfg* pdsch);
