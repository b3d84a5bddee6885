#include "phy/channel/channel_rng.h"

#include <cmath>
#include <initializer_list>

namespace {

constexpr double kTwoPi = 6.283185307179586476925;

inline uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// splitmix64 step: a bijective mixer, so that nearby keys give unrelated states.
inline uint64_t splitmix(uint64_t* x) {
  uint64_t z = (*x += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

void nrChRngSeed(NrChRng* r, uint64_t k0, uint64_t k1, uint64_t k2, uint64_t k3) {
  // Each key is folded in through its own mixing round before the state is drawn.
  uint64_t x = 0x5EED5EED5EED5EEDull;
  for (uint64_t k : {k0, k1, k2, k3}) {
    x ^= k;
    x = splitmix(&x);
  }
  for (uint64_t& s : r->s) s = splitmix(&x);
  r->hasSpare = false;
  r->spare = 0.0;
}

uint64_t nrChRngNext(NrChRng* r) {
  uint64_t* s = r->s;
  const uint64_t out = rotl(s[1] * 5, 7) * 9;
  const uint64_t t = s[1] << 17;
  s[2] ^= s[0];
  s[3] ^= s[1];
  s[1] ^= s[2];
  s[0] ^= s[3];
  s[2] ^= t;
  s[3] = rotl(s[3], 45);
  return out;
}

double nrChRngUniform(NrChRng* r) { return static_cast<double>(nrChRngNext(r) >> 11) * 0x1.0p-53; }

double nrChRngGauss(NrChRng* r) {
  if (r->hasSpare) {
    r->hasSpare = false;
    return r->spare;
  }
  // 1 - u lies in (0, 1]: the logarithm stays finite.
  const double radius = std::sqrt(-2.0 * std::log(1.0 - nrChRngUniform(r)));
  const double angle = kTwoPi * nrChRngUniform(r);
  r->spare = radius * std::sin(angle);
  r->hasSpare = true;
  return radius * std::cos(angle);
}
