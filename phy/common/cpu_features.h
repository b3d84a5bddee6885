// Run-time choice of instruction-set variants. The baseline binary stays portable (no -march
// flags): a hot block keeps its plain reference, puts each wider variant in a function compiled
// for that instruction set (VELTRA_TARGET_AVX2, VELTRA_TARGET_AVX512) and picks one per call from
// a table indexed by level with nrCpuPick. A new variant is one function and one table entry.
#pragma once

#include <cstdint>

// Instruction-set levels, narrowest first. Baseline is what the build targets (SSE2 on x86-64).
constexpr uint8_t kNrCpuBaseline = 0;
constexpr uint8_t kNrCpuAvx2 = 1;    // AVX2 (with the OS saving the YMM state)
constexpr uint8_t kNrCpuAvx512 = 2;  // AVX-512 F, BW, VL and DQ (with the OS saving the ZMM state)
constexpr int kNrCpuLevels = 3;

#if defined(__x86_64__) && defined(__GNUC__)
#define VELTRA_X86_VARIANTS 1
// Function attributes of the variants; helpers they call are inlined into them (always_inline)
// and so compiled for the same set, while every other function stays baseline.
#define VELTRA_TARGET_AVX2 __attribute__((target("avx2,bmi,bmi2,popcnt")))
#define VELTRA_TARGET_AVX512 \
  __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2,bmi,bmi2,popcnt")))
#endif

// Widest level the CPU has, detected once per process.
uint8_t nrCpuLevelDetected();

// Level in effect for every block with variants: the detected level, or less after a cap.
uint8_t nrCpuLevel();

// For tests and benchmarks: caps the level of every block at `widest` (a value above the detected
// level leaves the detected one); returns the level now in effect.
uint8_t nrCpuSetLevelCap(uint8_t widest);

// Variant for the level in effect: the entry of that level, or of the widest narrower level that
// has one (an empty entry is nullptr). The baseline entry must be present.
template <typename Fn>
Fn nrCpuPick(const Fn (&table)[kNrCpuLevels]) {
  for (int level = nrCpuLevel(); level > 0; level--)
    if (table[level]) return table[level];
  return table[0];
}
