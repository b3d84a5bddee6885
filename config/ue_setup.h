// UE set-up from the gNB's own slot configuration (transmit-receive bench) and the slot
// occupancy map shared with the file-driven flows.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Copies carrier, BWP and CORESETs of gnrNbConfig into gnrUeConfig, builds gnrCchMwItf (once),
// gnrDchMwItf and its occupancy map, and copies 15 x fftSize samples of fileSample into the
// given port of ueRxSample (real parts, then imaginary parts). Returns false, samples not copied,
// for a port other than 0 or 1.
bool nrUeSetupFromNb(const int32_t* fileSample, uint8_t port);

// Control-channel interface from the gNB record; does nothing while cchItf->cchItfDone is 1.
void nrUeInitCchmwItfFromNb(NrCchMwItf* cchItf, const NrNbConfig* nbCfg);

// Data-channel interface from the gNB record (first PDSCH entry); always rewrites its fields.
void nrUeInitDchmwItfFromNb(NrDchMwItf* dchItf, const NrNbConfig* nbCfg);

// Slot occupancy map: 1 for the control region of the search space's CORESET (selected by
// position; only when ctrlFlag is non-zero), 2 for the PDSCH REs not already marked, 0 elsewhere.
// RB indices of 280 or more and symbols past 13 lie outside the map and are not written.
void nrGenRbMap(int32_t rbMap[kSymbolsPerSlot][kMaxRb], uint16_t slot, uint16_t ctrlFlag,
                const NrSearchSpaceCfg* searchSpace, const NrCoresetCfg* coresets,
                const NrPdschCfg* pdsch);
