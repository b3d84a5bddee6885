// Modulation mapper: bipolar coded bits -> Q10 complex symbols (TS 38.211 5.1).
#pragma once

#include <cstdint>

// Amplitude x 1024 of one constellation unit at unit average power.
constexpr int32_t kQpskScale = 724;   // 1024 / sqrt(2)
constexpr int32_t kQam16Scale = 324;  // 1024 / sqrt(10)
constexpr int32_t kQam64Scale = 158;  // 1024 / sqrt(42)
constexpr int32_t kQam256Scale = 79;  // 1024 / sqrt(170)

// Maps count bipolar values (+1 for bit 0, -1 for bit 1) to count / Qm symbols (nrCpxPack form,
// Q10) for Qm = 2, 4, 6, 8; values beyond the last whole symbol are ignored. Qm = 1 (pi/2-BPSK)
// writes nothing; any other order prints "%d, modulation not supported!\n" and writes nothing.
// Returns false when nothing was mapped (Qm 1 or an unsupported order).
bool nrModulate(int32_t* out, const int16_t* in, int32_t count, uint16_t Qm);

// Scrambling and mapping in one pass: count coded bits (0/1 bytes) scrambled with the Gold
// sequence of cInit (TS 38.211 7.3.1.1) and mapped to count / Qm symbols exactly as nrModulate
// maps their scrambled bipolar values, for Qm = 2, 4, 6, 8. Any other order writes nothing and
// gives false, for the caller to take nrModulate's path.
bool nrModulateScrambled(int32_t* out, const int8_t* bits, int32_t count, uint16_t Qm,
                         int32_t cInit);
