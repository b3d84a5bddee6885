// Noise-aware PDSCH reception, the receiver variant beside the fixed-noise one: channel estimates
// smoothed in frequency with a window chosen by Stein's unbiased risk estimate and, in time,
// averaged over the DMRS symbols or fitted by a line through them, the noise variance
// estimated from the DMRS, maximum-ratio combining (one layer) or ZF / MMSE (two layers) with the
// post-equalisation noise of every resource element, and max-log soft bits scaled by that noise
// before the 6-bit clipping of the decoder's input range.
#pragma once

#include <cstdint>

#include "config/nr_config.h"
#include "phy/common/cpx_float.h"
#include "phy/rx/pdsch_chest.h"

// Soft bits per natural-log LLR unit: the LDPC decoder reads its inputs with two fractional bits
// (4 = LLR 1) and saturates them at -32..31 (LLR -8 .. 7.75).
constexpr float kNaLlrScale = 4.0f;

// Equalised symbols (unit mean power) and their noise variance per data RE and layer, in data RE
// order; written by nrUeDchChEstEqNa, read by nrDemodSoftNa.
extern nrCpxF gnrUeDchEqNa[kSymbolsPerSlot * kMaxFftSize][kMaxLayers];
extern float gnrUeDchNvNa[kSymbolsPerSlot * kMaxFftSize][kMaxLayers];
// The noise variance per resource element estimated from the DMRS of the last slot (receive grid
// units) and the half width of the frequency smoothing window chosen for it (in estimates).
extern float gnrUeDchNoiseVarNa;
extern int gnrUeDchSmoothNa;
// Whether the last slot's estimates follow a line in time through the DMRS symbols (a channel
// that moves more than the noise of the slope) rather than their mean.
extern bool gnrUeDchSlopeNa;

// Estimates the channel and the noise from the DMRS REs (as nrUeDchChEstEq takes them) and
// equalises the unequalised data REs into gnrUeDchEqNa / gnrUeDchNvNa; mmse selects MMSE rather
// than ZF for two layers (one layer is always combined by maximum ratio). The data REs are not
// changed. false, with a diagnostic, for a configuration the estimator cannot take.
bool nrUeDchChEstEqNa(const NrRxRe* dataRe, uint32_t dataReN, const NrRxRe* dmrsRe,
                      uint16_t dmrsReN, const NrDchMwItf* dchItf, uint16_t slot, bool mmse);

// Max-log soft bits of the data REs listed in reIdx (reN entries): for each RE its layers in
// turn (layer 0, then layer 1), Qm soft bits per layer in the bit order of the modulation mapper
// (TS 38.211 5.1), soft = LLR x llrScale rounded and clipped to -32..31. Returns the number of
// soft bits written (reN x layers x Qm); 0 for an order other than 2, 4, 6, 8.
uint32_t nrDemodSoftNa(const int32_t* reIdx, uint32_t reN, int layers, uint16_t Qm, float llrScale,
                       int16_t* soft);
