// OFDM modulation of one slot: grid -> 14 inverse DFTs with cyclic prefixes.
#pragma once

#include <cstdint>

#include "config/nr_config.h"
#include "phy/ofdm/fft.h"

// Turns gnrNbTxBuf-style grid buf->nbTxGrid into buf->nbTxSample (int16 I/Q, rounded, wrapping)
// and buf->nbTxSampleF (float I/Q), applying the carrier's txPowGain. A slot that does not fit
// the FFT or the sample buffers is reported, left untouched and gives false.
bool nrOfdmMod(const NrNbConfig* config, NrNbTxBuf* buf);

namespace ofdm_detail {
// The output step of one symbol: x = gain * (out / sqrtN) in double, conjugated; f gets x as
// float, s the I/Q of x rounded to the nearest integer (halves away from zero) and wrapped to
// 16 bits. Picks the instruction-set variant in effect (phy/common/cpu_features.h).
void scaleRound(const fftw_complex* out, uint32_t n, double gain, double sqrtN, NrCpxFloat32* f,
                int32_t* s);
}  // namespace ofdm_detail
