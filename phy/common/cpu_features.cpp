#include "phy/common/cpu_features.h"

#include <algorithm>

namespace {

uint8_t detect() {
#ifdef VELTRA_X86_VARIANTS
  // __builtin_cpu_supports also checks that the OS saves the wider register state (XGETBV).
  __builtin_cpu_init();
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
      __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2"))
    return kNrCpuAvx512;
  if (__builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi2")) return kNrCpuAvx2;
#endif
  return kNrCpuBaseline;
}

// Level in effect; written by nrCpuSetLevelCap (and on first use), read by every dispatcher.
uint8_t levelInEffect = 0xFF;

}  // namespace

uint8_t nrCpuLevelDetected() {
  static const uint8_t detected = detect();
  return detected;
}

uint8_t nrCpuLevel() {
  if (levelInEffect == 0xFF) levelInEffect = nrCpuLevelDetected();
  return levelInEffect;
}

uint8_t nrCpuSetLevelCap(uint8_t widest) {
  levelInEffect = std::min(widest, nrCpuLevelDetected());
  return levelInEffect;
}
