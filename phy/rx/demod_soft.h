// Soft demapper: equalised Q10 symbols -> one int16 soft bit per coded bit (positive for bit 0),
// in the bit order of nrModulate.
#pragma once

#include <cstdint>

// Weak soft-bit count of the last demapped block: written by nrDemodSoft (16QAM adds to it,
// QPSK adds to it, 64QAM and 256QAM replace it), cleared and read by the PDSCH receiver to judge
// whether a slot held data.
extern uint32_t gnrWeakLlrCnt;

// Demaps count symbols (nrCpxPack form, Q10) of order Qm into count x Qm soft bits.
//   Qm 2: trunc(16 a x), unclipped; a Q soft bit of 0 counts as weak.
//   Qm 4, 6, 8: exact per-dimension Gaussian LLR with a fixed noise term, clipped to -32..31.
//   16QAM counts a symbol as weak when |soft bit 3| <= 1; 64QAM and 256QAM count soft bits whose
//   unclipped value is 0 and store that count.
// Other orders write nothing and leave gnrWeakLlrCnt unchanged.
void nrDemodSoft(const int32_t* symbols, int16_t* soft, int32_t count, uint16_t Qm);
