// PDCCH channel estimation from the CORESET DMRS (TS 38.211 7.4.1.3) and zero-forcing equalisation
// of the CORESET's data REs.
#pragma once

#include <cstdint>

#include "config/nr_config.h"
#include "phy/rx/pdsch_chest.h"

constexpr int kUeCchDataReCap = 13248;  // data REs of a CORESET occasion (280 RBs x 9 x 3 fit)
constexpr int kUeCchDmrsReCap = 3312;   // DMRS REs of a CORESET occasion
constexpr int kUeCchDmrsPerSymCap = 3 * kMaxRb;
constexpr int kCchEqScale = 64;  // equalised values are 64 x the symbol estimate

// CORESET data REs (symbol by symbol, RB by RB in rbIdx order, 9 per RB ascending), equalised in
// place into the antenna-0 slot; written by blind detection (extraction) and the estimator.
extern NrRxRe gnrUeCchDataRe[kUeCchDataReCap];
// CORESET DMRS REs in the same order, 3 per RB; written by blind detection, read by the estimator.
extern NrRxRe gnrUeCchDmrsRe[kUeCchDmrsReCap];

// Estimates the channel of a CORESET occasion of `duration` symbols from l0 from its DMRS REs
// (dmrsReN of them, the same number per symbol) and equalises its data REs in place: per symbol a
// least-squares estimate on each DMRS RE against the sequence of nrPdcchDmrsSeq (symbol l0 + s,
// slot, nId, from RB firstRb, each RB's values taken at its own index rbIdx[i] - rbIdx[0]), linear
// interpolation onto the data REs across RBs, and x = sum over both antennas of y conj(H) / |H|^2
// (|H|^2 at most 1 raised by 1), stored as 64 x (I, Q) truncated to int16 in the antenna-0 slot.
// rbIdx lists the CORESET's dmrsReN / duration / 3 RBs, ascending. Rewrites "debugRe0.txt" and
// "debugIm0.txt" per symbol (antenna-0 I and Q of up to 215 data REs before equalisation) and
// "debugRe.txt" / "debugIm.txt" (up to 216 equalised values) at the end. Returns false, with a
// diagnostic and nothing equalised, when the counts do not describe whole RBs in every symbol,
// exceed the buffers, or the DMRS lies beyond the Gold sequence.
bool nrUeCchChEstEq(NrRxRe* dataRe, uint32_t dataReN, const NrRxRe* dmrsRe, uint16_t dmrsReN,
                    const NrCchMwItf* cchItf, uint8_t duration, uint16_t firstRb, uint16_t nId,
                    uint16_t slot, uint8_t l0, const uint16_t* rbIdx);
