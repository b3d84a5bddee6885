// OFDM modulation of one slot: grid -> 14 inverse DFTs with cyclic prefixes.
#pragma once

#include <cstdint>

#include "config/nr_config.h"
#include "phy/ofdm/fft.h"

// Turns gnrNbTxBuf-style grid buf->nbTxGrid into buf->nbTxSample (int16 I/Q, rounded, wrapping)
// and buf->nbTxSampleF (float I/Q), applying the carrier's txPowGain. A slot that does not fit
// the FFT or the sample buffers is reported, left untouched and gives false.
bool nrOfdmMod(const NrNbConfig* config, NrNbTxBuf* buf);
