#include "phy/coding/ldpc_tables.h"

#include "phy/coding/ldpc_base_graphs.inc"

namespace {

// Lookups by lifting size: the position of Zc itself, and of the smallest size >= z.
struct LiftLookup {
  int16_t exact[kLiftSizeMax + 1];
  int16_t ceil[kLiftSizeMax + 1];
  uint8_t set[kLiftSizeN];
  LiftLookup() {
    for (int z = 0; z <= kLiftSizeMax; z++) exact[z] = ceil[z] = -1;
    for (int i = 0; i < kLiftSizeN; i++) exact[gnrLdpcLiftSizes[i]] = static_cast<int16_t>(i);
    for (int z = kLiftSizeMax; z >= 0; z--)
      ceil[z] = exact[z] >= 0 ? exact[z] : z < kLiftSizeMax ? ceil[z + 1] : -1;
    for (int i = 0, s = 0; i < kLiftSizeN; i++) {
      while (gnrLdpcLiftSetEnd[s] <= i) s++;
      set[i] = static_cast<uint8_t>(s);
    }
  }
};

const LiftLookup& liftLookup() {
  static const LiftLookup t;
  return t;
}

}  // namespace

int32_t nrLdpcLiftIndex(int64_t Zc) {
  return Zc < 0 || Zc > kLiftSizeMax ? -1 : liftLookup().exact[Zc];
}

int32_t nrLdpcLiftCeilIndex(int64_t minZc) {
  if (minZc > kLiftSizeMax) return -1;
  return liftLookup().ceil[minZc < 0 ? 0 : minZc];
}

int32_t nrLdpcLiftSet(int32_t idx) {
  return idx < 0 || idx >= kLiftSizeN ? -1 : liftLookup().set[idx];
}
