// The bit-level test utilities: console forms of bit and float arrays, random bits with and
// without a mask, and the flip and erasure channels at their probabilities.
#include "hwmodel/hw_bit_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "tests/test_util.h"

TEST(HwBitUtil, PrintsBitsAndFloats) {
  const int32_t bits[] = {1, 0, 2, -1, 1};
  const float values[] = {0.5f, -2.0f};
  const ConsoleText t = captureConsole([&] {
    nrHwBitsPrint(bits, 5);
    nrHwFloatsPrint(values, 2);
  });
  EXPECT_EQ(t.out, "1 0 ? ? 1 \n0.500000 -2.000000 ");

  // Long arrays come out whole.
  std::vector<int32_t> many(3000, 1);
  many[2999] = 0;
  const std::string out = captureConsole([&] { nrHwBitsPrint(many.data(), 3000); }).out;
  ASSERT_EQ(out.size(), 6001u);
  EXPECT_EQ(out.substr(5996), "1 0 \n");
}

TEST(HwBitUtil, RandomBitsAreBitsAndFollowTheMask) {
  std::srand(686866);
  std::vector<int32_t> bits(4096, -9), mask(4096);
  nrHwRandBits(bits.data(), 4096);
  int ones = 0;
  for (int32_t b : bits) {
    ASSERT_TRUE(b == 0 || b == 1);
    ones += b;
  }
  EXPECT_NEAR(ones, 2048, 200);

  for (size_t i = 0; i < mask.size(); i++) mask[i] = i % 3 == 0 ? 0 : static_cast<int32_t>(i);
  nrHwRandBitsMasked(bits.data(), mask.data(), 4096);
  ones = 0;
  for (size_t i = 0; i < bits.size(); i++) {
    if (i % 3 == 0) {
      ASSERT_EQ(bits[i], 0) << i;
    }
    ASSERT_TRUE(bits[i] == 0 || bits[i] == 1);
    ones += bits[i];
  }
  EXPECT_NEAR(ones, 4096 * 2 / 3 / 2, 200);
}

// 2^16 bits at p = 0.1: about 6554 changed (five standard deviations apart), flipped bits flipped,
// erased bits 2; p = 0 changes nothing and p above 1 everything.
TEST(HwBitUtil, ChannelsChangeBitsWithTheirProbability) {
  std::srand(1);
  const int32_t m = 16;
  const size_t n = size_t{1} << m;
  for (const int32_t type : {kHwChanFlip, kHwChanErase}) {
    std::vector<int32_t> orig(n), bits;
    for (size_t i = 0; i < n; i++)
      orig[i] = static_cast<int32_t>(static_cast<uint32_t>(i * 2654435761u) >> 31);
    bits = orig;
    const int64_t changed = nrHwBitChannel(bits.data(), m, type, 0.1f);
    EXPECT_NEAR(static_cast<double>(changed), 0.1 * n, 5 * std::sqrt(0.09 * n)) << type;
    int64_t diff = 0;
    for (size_t i = 0; i < n; i++) {
      if (bits[i] == orig[i]) continue;
      diff++;
      ASSERT_EQ(bits[i], type == kHwChanFlip ? 1 - orig[i] : kHwBitErasure) << i;
    }
    EXPECT_EQ(diff, changed);

    bits = orig;
    EXPECT_EQ(nrHwBitChannel(bits.data(), m, type, 0.0f), 0);
    EXPECT_EQ(bits, orig);
    EXPECT_EQ(nrHwBitChannel(bits.data(), m, type, 1.5f), static_cast<int64_t>(n));
  }
  std::vector<int32_t> one(1, 0);
  const std::string err = captureDiag([&] {
    EXPECT_EQ(nrHwBitChannel(one.data(), 0, 3, 0.5f), -1);
    EXPECT_EQ(nrHwBitChannel(one.data(), -1, kHwChanFlip, 0.5f), -1);
    EXPECT_EQ(nrHwBitChannel(one.data(), kHwChanMaxLog2 + 1, kHwChanFlip, 0.5f), -1);
  });
  EXPECT_NE(err.find("nrHwBitChannel()"), std::string::npos);
  EXPECT_EQ(one[0], 0);
}
