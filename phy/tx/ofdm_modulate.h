// OFDM modulation of one slot: grid -> 14 inverse DFTs with cyclic prefixes.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Exchanges element i and element n/2 + i for i < n/2 (n taken as 16 bits). dst may equal src.
void nrFftShift(int32_t* dst, const int32_t* src, uint32_t n);

// Turns gnrNbTxBuf-style grid buf->nbTxGrid into buf->nbTxSample (int16 I/Q, rounded, wrapping)
// and buf->nbTxSampleF (float I/Q), applying the carrier's txPowGain.
void nrOfdmMod(const NrNbConfig* config, NrNbTxBuf* buf);
