// OFDM demodulation of received slots: cyclic-prefix removal, DFT and half swap, for any range of
// symbols and any receive antenna (PDSCH and PDCCH receivers alike).
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Frequency-domain grid [symbol][receive antenna][FFT bin after the half swap], int16 I/Q in
// nrCpxPack form (Q10, like the transmit grid): written by the OFDM demodulator, read by the
// PDSCH front end and the PDCCH receivers.
extern int32_t gnrUeRxGrid[kSymbolsPerSlot][2][kMaxFftSize];

// First sample of the useful part of symbol l (after its cyclic prefix) in a slot of cell.
uint32_t nrOfdmSymbolStart(const NrCellCfg* cell, int l);

// Demodulates symbols firstSym .. lastSym of receive antenna ant of rxSample (laid out as
// ueRxSample: real parts, then imaginary parts) into grid[l][ant]: the N samples after the
// cyclic prefix, a forward DFT scaled by 1/sqrt(N), truncation toward zero to int16 (saturating),
// the half swap. Returns false with a diagnostic, writing nothing, when N is not a power of two up
// to 2048, the slot exceeds the sample buffers, the symbols lie outside the slot or ant is not
// 0 or 1.
bool nrOfdmDemod(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCellCfg* cell, int firstSym,
                 int lastSym, int ant, int32_t (*grid)[2][kMaxFftSize]);

namespace detail {
// The scaling and truncation of nrOfdmDemod on its own, with the variant of the level in effect:
// out[i] = packed int16 I/Q of in[i] / sqrtN (truncated toward zero, saturating, NaN to 0).
void ofdmToIq(const double (*in)[2], int32_t* out, uint32_t n, double sqrtN);
}  // namespace detail
