// Random numbers of the channel models: a counter-free, seekable-by-key generator, so that every
// slot of a sweep draws its channel and noise from its own keys (seed, SNR, slot index) alone,
// whichever process or order computes it.
#pragma once

#include <cstdint>

// xoshiro256** state, seeded through splitmix64 from up to four keys.
struct NrChRng {
  uint64_t s[4];
  bool hasSpare;  // the second value of the last Box-Muller pair is pending
  double spare;
};

// Seeds r from the keys (k0, k1, k2, k3): different key tuples give unrelated streams.
void nrChRngSeed(NrChRng* r, uint64_t k0, uint64_t k1 = 0, uint64_t k2 = 0, uint64_t k3 = 0);
// The next 64 random bits.
uint64_t nrChRngNext(NrChRng* r);
// Uniform on [0, 1) with 53 random bits.
double nrChRngUniform(NrChRng* r);
// Standard normal N(0, 1) (Box-Muller, both values of a pair used in turn).
double nrChRngGauss(NrChRng* r);
