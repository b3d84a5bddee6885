// The MCS tables of the PDSCH, indexed by the MCS index: TS 38.214 Table 5.1.3.1-2 (MCS index
// table 2, up to 256QAM; the bench's table) and Table 5.1.3.1-1 (MCS index table 1, up to 64QAM).
// The last rows are reserved: modulation order only, rate 0.
#pragma once

#include <cstdint>

constexpr int kMcsTableSize = 32;

extern const uint16_t gnrMcsQm[kMcsTableSize];      // modulation order Qm
extern const float gnrMcsRateX1024[kMcsTableSize];  // target code rate x 1024 (682.5, 916.5 exact)

extern const uint16_t gnrMcsQmTable1[kMcsTableSize];
extern const float gnrMcsRateX1024Table1[kMcsTableSize];

// Selector of the MCS table of a PDSCH entry (NrPdschCfg::mcsTable): table 2 unless table 1 is
// named.
constexpr uint8_t kMcsTableQam256 = 2;  // TS 38.214 Table 5.1.3.1-2
constexpr uint8_t kMcsTableQam64 = 1;   // TS 38.214 Table 5.1.3.1-1

// Qm and R x 1024 of MCS index mcs (taken modulo 32) of the selected table.
inline uint16_t nrMcsQm(uint8_t table, uint32_t mcs) {
  return (table == kMcsTableQam64 ? gnrMcsQmTable1 : gnrMcsQm)[mcs & (kMcsTableSize - 1)];
}
inline float nrMcsRateX1024(uint8_t table, uint32_t mcs) {
  return (table == kMcsTableQam64 ? gnrMcsRateX1024Table1
                                  : gnrMcsRateX1024)[mcs & (kMcsTableSize - 1)];
}
// The last MCS index of the table that is not reserved (27 or 28).
inline uint32_t nrMcsLastIndex(uint8_t table) { return table == kMcsTableQam64 ? 28 : 27; }
