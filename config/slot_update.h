// Per-slot configuration update of the file-driven flows: the UE records of one slot from the
// registers of its com, cch and dch sections.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Completes gnrUeConfig from comRegData and cchRegData (carrier and BWP widths, CORESET 0 with
// its derived REG bundle values, the cell block: 2 antennas, N = 2048, cpLen from cpPatternTbl),
// rebuilds gnrCchMwItf (cleared first) and, once, gnrDchMwItf, and builds the slot occupancy map
// in gnrUeConfig's cell block. Refused (false, reported, records unchanged) for CORESET values
// the records cannot hold (see nrCheckCoresetCfg); false also when an interface builder refuses.
bool updateSystemConfiguration(uint16_t slot);

// nrUpdateCchMdwInterf announced under its own name (same one-shot flag cchItfDone).
bool nrUpdateCchInfo();
// nrUpdateDchMdwInterf announced under its own name (same one-shot flag dchItfDone and results).
uint8_t nrUpdateDchMwInfo();

// Slot occupancy map of the search space: the same map as nrGenRbMap.
void nrGenSsRbMap(int32_t rbMap[kSymbolsPerSlot][kMaxRb], uint16_t slot, uint16_t ctrlFlag,
                  const NrSearchSpaceCfg* searchSpace, const NrCoresetCfg* coresets,
                  const NrPdschCfg* pdsch);
