#include "phy/common/cpu_features.h"

#include <gtest/gtest.h>

namespace {

int pickedPlain() { return 0; }
int pickedAvx2() { return 1; }
int pickedAvx512() { return 2; }

}  // namespace

// A cap lowers the level of every block, never raises it above what the CPU has, and lifting it
// restores the detected level.
TEST(CpuFeatures, CapsLowerTheLevelButNeverRaiseIt) {
  const uint8_t detected = nrCpuLevelDetected();
  ASSERT_LE(detected, kNrCpuAvx512);
  EXPECT_EQ(nrCpuLevel(), detected);
  EXPECT_EQ(nrCpuSetLevelCap(kNrCpuBaseline), kNrCpuBaseline);
  EXPECT_EQ(nrCpuLevel(), kNrCpuBaseline);
  EXPECT_EQ(nrCpuSetLevelCap(0xFF), detected);
  EXPECT_EQ(nrCpuSetLevelCap(kNrCpuAvx2), detected < kNrCpuAvx2 ? detected : kNrCpuAvx2);
  nrCpuSetLevelCap(kNrCpuAvx512);
  EXPECT_EQ(nrCpuLevel(), detected);
}

// The table entry of the level in effect is used; an empty entry falls back to the widest
// narrower one, down to the baseline.
TEST(CpuFeatures, PickTakesTheWidestEntryAtOrBelowTheLevel) {
  using Fn = int (*)();
  const Fn full[kNrCpuLevels] = {pickedPlain, pickedAvx2, pickedAvx512};
  const Fn noAvx512[kNrCpuLevels] = {pickedPlain, pickedAvx2, nullptr};
  const Fn plainOnly[kNrCpuLevels] = {pickedPlain, nullptr, nullptr};
  const uint8_t detected = nrCpuLevelDetected();
  for (uint8_t cap = kNrCpuBaseline; cap <= detected; cap++) {
    ASSERT_EQ(nrCpuSetLevelCap(cap), cap);
    EXPECT_EQ(nrCpuPick(full)(), cap);
    EXPECT_EQ(nrCpuPick(noAvx512)(), cap < kNrCpuAvx2 ? 0 : 1);
    EXPECT_EQ(nrCpuPick(plainOnly)(), 0);
  }
  nrCpuSetLevelCap(kNrCpuAvx512);
}
