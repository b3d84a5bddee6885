// Default slot configuration generator: fills gnrNbConfig with one downlink slot drawn from a
// seeded linear congruential generator, identical in every run of a process.
#pragma once

#include <cstdint>

#include "config/bit_math.h"
#include "config/nr_config.h"

constexpr uint32_t kSlotCfgSeed = 21845;  // 0x5555

// Seeds the generator and fills gnrNbConfig once per process (guarded by cfgDone).
void nrGenDefaultSlotCfg();
// The seed nrGenDefaultSlotCfg starts from: kSlotCfgSeed unless set otherwise (another slot).
void nrSetSlotCfgSeed(uint32_t seed);
uint32_t nrSlotCfgSeed();
// The FFT size (smallest power of two, at least 128, that keeps 12 nrb subcarriers within 85 % of
// the sampling rate), fftLen and the cyclic-prefix lengths of a carrier of nrb RBs.
void nrCellFftLayout(uint16_t nrb, NrCellCfg* cell);
// Calls nrGenDefaultSlotCfg unless cfg->cfgDone is 1.
void nrGenDefaultSlotCfgIfNeeded(const NrNbConfig* cfg);
// Fills YpTable with Y_{p,n} of TS 38.213 10.1 for the given RNTI.
void nrGenYpTable(uint32_t rnti);

// The process-wide pseudo-random generator (s = s * 214013 + 2531011, 15-bit output).
void nrRandSeed(uint32_t seed);
uint32_t nrRandDraw();
