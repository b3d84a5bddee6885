// Per-PDSCH DMRS layout (TS 38.211 7.4.1.1.2) and transport block size (TS 38.214 5.1.3.2).
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Sets dmrsPos[k] = 1 for the DMRS subcarriers k of an RB and DMRSSymbolFlag[l] = 1 for the DMRS
// symbols l of the slot; the caller clears both arrays first. With dmrsPosExplicit the two
// bitmaps dchDmrsRePos / dchDmrsOsPos are copied (a zero bitmap leaves its array alone) and
// printed. Returns false, with a console line and no symbol flag set, when a DMRS symbol lies
// outside the slot or more than three additional positions are listed.
bool nrGetDmrsPos(uint8_t dmrsPos[kScPerRb], uint8_t DMRSSymbolFlag[kSymbolsPerSlot],
                  const NrPdschCfg* pdsch);

// Transport block size in bits of the PDSCH entry with xOverhead REs of overhead per RB; fills
// whichever of codeRate / codeRateRef (x 2048) is zero from the other.
uint32_t nrCalcDchTbs(uint16_t xOverhead, NrPdschCfg* pdsch);
