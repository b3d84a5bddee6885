// TS 38.214 Table 5.1.3.1-2 (MCS index table 2, up to 256QAM), indexed by the MCS index.
// Entries 28..31 are the reserved rows: modulation order only, rate 0.
#pragma once

#include <cstdint>

constexpr int kMcsTableSize = 32;

extern const uint16_t gnrMcsQm[kMcsTableSize];      // modulation order Qm
extern const float gnrMcsRateX1024[kMcsTableSize];  // target code rate x 1024 (682.5, 916.5 exact)
