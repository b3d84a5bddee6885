// PDSCH channel estimation from the DMRS (TS 38.211 7.4.1.1) and zero-forcing equalisation.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// One received resource element: the int16 I/Q pair (nrCpxPack form) of receive antenna 0 and of
// receive antenna 1. After equalisation the two slots hold layer 0 and layer 1 (two layers) or
// the per-antenna equalised value of the single layer, in Q10.
struct NrRxRe {
  int32_t ant[2];
};

// DMRS REs per DMRS symbol the estimator holds: every estimate covers two subcarriers of the
// 3360-subcarrier grid.
constexpr int kDmrsRePerSymCap = kGridScCap / 2;
constexpr int kMaxDmrsSymbols = 4;  // first DMRS symbol plus up to three additional ones

// Estimates the channel of one slot from the DMRS REs (DMRS symbol by DMRS symbol, ascending
// subcarrier) and equalises the data REs in place, for one layer on port 1000 or 1001 or two
// layers on ports 1000/1001, DMRS type 1. The number of data REs processed follows from the
// PDSCH entry of dchItf; dataReN only bounds it. slot is n_s of the DMRS sequence. A
// configuration the working storage cannot hold is reported on the console, left unequalised
// and gives false.
bool nrUeDchChEstEq(NrRxRe* dataRe, uint32_t dataReN, const NrRxRe* dmrsRe, uint16_t dmrsReN,
                    const NrDchMwItf* dchItf, uint16_t slot);

// Time-interpolation code of every symbol of the slot from the DMRS symbol indices symNum
// (unused entries 15) and the number of additional DMRS symbols addPosN (0..3): bits 15..8 the
// weight w of the later DMRS symbol in 1/128, bits 7..4 the earlier DMRS index d1, bits 3..0 the
// later index d2; 0x8000 codes copy DMRS symbol d1 = d2 unchanged.
void nrDchTimeInterpCodes(const int16_t symNum[kMaxDmrsSymbols], int addPosN,
                          uint16_t codes[kSymbolsPerSlot]);
