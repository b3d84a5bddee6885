#include "phy/common/sequence.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "phy/common/cpu_features.h"
#include "tests/test_util.h"

namespace {

// TS 38.211 5.2.1 register by register: c(n) = x1(n + 1600) + x2(n + 1600) mod 2.
std::vector<int> referenceGold(uint32_t cInit, uint32_t offset, uint32_t count) {
  const uint32_t len = offset + count + 1600 + 31;
  std::vector<int> x1(len, 0), x2(len, 0);
  x1[0] = 1;
  for (int i = 0; i < 31; i++) x2[i] = (cInit >> i) & 1;
  for (uint32_t n = 0; n + 31 < len; n++) {
    x1[n + 31] = (x1[n + 3] + x1[n]) % 2;
    x2[n + 31] = (x2[n + 3] + x2[n + 2] + x2[n + 1] + x2[n]) % 2;
  }
  std::vector<int> c(count);
  for (uint32_t i = 0; i < count; i++) c[i] = (x1[offset + i + 1600] + x2[offset + i + 1600]) % 2;
  return c;
}

std::vector<int> goldOut(uint32_t count) {
  return std::vector<int>(gnrSeqBuf + kSeqBufGoldOffset, gnrSeqBuf + kSeqBufGoldOffset + count);
}

std::string asBits(const std::vector<int>& v) {
  std::string s;
  for (int b : v) s += static_cast<char>('0' + b);
  return s;
}

}  // namespace

TEST(GoldSequence, FirstBitsMatchTheKnownCheckValues) {
  EXPECT_EQ(nrGoldSeqGen(0, 32, 0, 0), 32u);
  EXPECT_EQ(asBits(goldOut(32)), "00000010000110100001001001111010");
  EXPECT_EQ(nrGoldSeqGen(1, 32, 0, 0), 32u);
  EXPECT_EQ(asBits(goldOut(32)), "00000010100000110000001101110100");
}

TEST(GoldSequence, MatchesRegisterReferenceForAnyStartAndLength) {
  struct Case {
    int32_t cInit;
    uint32_t count;
    uint16_t offset;
  };
  const Case cases[] = {
      {0x12345678, 1, 0},   {0x7FFFFFFF, 63, 1},        {1000, 64, 63},     {-5, 65, 64},
      {0x2AAAAAAA, 129, 7}, {98765, 1000, 1234},        {17, 33000, 65535}, {2, 3000, 65535},
      {42, 98696, 0},       {43, 98696 - 65535, 65535},
  };
  for (const Case& k : cases) {
    ASSERT_EQ(nrGoldSeqGen(k.cInit, k.count, 0, k.offset), k.count);
    // Bit 31 of c_init does not enter the registers.
    const std::vector<int> ref = referenceGold(static_cast<uint32_t>(k.cInit), k.offset, k.count);
    ASSERT_EQ(goldOut(k.count), ref) << k.cInit << " " << k.offset << " " << k.count;
    ASSERT_EQ(nrGoldSeqGen(k.cInit, k.count, 1, k.offset), k.count);
    const std::vector<int> bip = goldOut(k.count);
    for (uint32_t i = 0; i < k.count; i++) ASSERT_EQ(bip[i], 1 - 2 * ref[i]) << i;
  }
}

TEST(GoldSequence, OffsetRequestIsASliceOfTheOffsetZeroSequence) {
  const uint32_t total = 5000;
  nrGoldSeqGen(0x5A5A5A5, total, 1, 0);
  const std::vector<int> whole = goldOut(total);
  for (uint16_t k : {1, 31, 32, 64, 100, 777, 4999}) {
    const uint32_t m = total - k;
    ASSERT_EQ(nrGoldSeqGen(0x5A5A5A5, m, 1, k), m);
    EXPECT_EQ(goldOut(m), std::vector<int>(whole.begin() + k, whole.end())) << k;
  }
}

// The packed words carry c(0), c(1), ... bit 0 first.
TEST(GoldSequence, PackedWordsHoldTheSequenceFromBitZero) {
  for (int32_t cInit : {0, 1, 51234, 0x7FFFFFFF}) {
    std::vector<uint64_t> words(40, 0x5A5A5A5Au);
    nrGoldSeqWords(cInit, words.data(), 39);
    EXPECT_EQ(words[39], 0x5A5A5A5Au) << "wrote past the words";
    const std::vector<int> ref = referenceGold(static_cast<uint32_t>(cInit), 0, 39 * 64);
    for (int n = 0; n < 39 * 64; n++)
      ASSERT_EQ(static_cast<int>((words[n / 64] >> (n % 64)) & 1), ref[n]) << cInit << " " << n;
  }
}

TEST(GoldSequence, OnlyFormOneIsBipolar) {
  nrGoldSeqGen(77, 200, 1, 3);
  const std::vector<int> bip = goldOut(200);
  for (int8_t form : {0, 2, -1, 127}) {
    nrGoldSeqGen(77, 200, form, 3);
    const std::vector<int> bits = goldOut(200);
    for (int i = 0; i < 200; i++) {
      ASSERT_TRUE(bits[i] == 0 || bits[i] == 1);
      ASSERT_EQ(bip[i], 1 - 2 * bits[i]);
    }
  }
}

TEST(GoldSequence, WritesExactlyCountBytesOfTheGoldArea) {
  std::memset(gnrSeqBuf, 0x55, sizeof(gnrSeqBuf));
  EXPECT_EQ(nrGoldSeqGen(9, 0, 1, 10), 0u);
  for (int i = 0; i < kSeqBufSize; i++) ASSERT_EQ(gnrSeqBuf[i], 0x55) << i;
  EXPECT_EQ(nrGoldSeqGen(9, 70, 1, 10), 70u);
  for (int i = 0; i < kSeqBufSize; i++) {
    const bool written = i >= kSeqBufGoldOffset && i < kSeqBufGoldOffset + 70;
    ASSERT_EQ(gnrSeqBuf[i] == 0x55, !written) << i;
  }
}

TEST(GoldSequence, RejectsRequestsBeyondTheSequenceBuffer) {
  struct Case {
    uint32_t count;
    uint16_t offset;
  };
  const Case cases[] = {{kGoldSeqLimit + 1, 0}, {kGoldSeqLimit - 65534, 65535}, {0xFFFFFFFFu, 1}};
  std::memset(gnrSeqBuf, 0x55, sizeof(gnrSeqBuf));
  for (const Case& k : cases) EXPECT_EQ(nrGoldSeqGen(3, k.count, 1, k.offset), 0u);
  for (int i = 0; i < kSeqBufSize; i++) ASSERT_EQ(gnrSeqBuf[i], 0x55) << i;
  // The largest requests still fit; the longest reaches the last byte of the buffer.
  EXPECT_EQ(nrGoldSeqGen(3, kGoldSeqLimit - 65535, 1, 65535), kGoldSeqLimit - 65535);
  EXPECT_EQ(nrGoldSeqGen(3, kGoldSeqLimit, 1, 0), kGoldSeqLimit);
  EXPECT_NE(gnrSeqBuf[kSeqBufSize - 1], 0x55);
}

TEST(Scrambler, AppliesTheGoldSequenceFromBitZero) {
  const int32_t n = 3001;
  // c_init acts modulo 2^31 as in the Gold generator.
  for (int32_t cInit : {0x3FFF0123, 0, -12345}) {
    std::vector<int32_t> src(n);
    std::vector<int16_t> src16(n);
    std::mt19937 rng(1);
    for (int32_t j = 0; j < n; j++) {
      src[j] = static_cast<int32_t>(rng() % 2001) - 1000;
      src16[j] = static_cast<int16_t>(src[j]);
    }
    std::vector<int32_t> dst(n);
    std::vector<int16_t> dst16(n);
    nrScrambleInt(src.data(), dst.data(), n, cInit);
    nrScrambleShort(src16.data(), dst16.data(), n, cInit);
    const std::vector<int> c = referenceGold(static_cast<uint32_t>(cInit), 0, n);
    for (int32_t j = 0; j < n; j++) {
      ASSERT_EQ(dst[j], src[j] * (1 - 2 * c[j])) << j;
      ASSERT_EQ(dst16[j], dst[j]) << j;
    }
  }
}

TEST(Scrambler, ScramblingTwiceInPlaceRestoresTheInput) {
  for (int32_t n : {1, 63, 64, 65, 10000}) {
    std::vector<int32_t> orig(n);
    for (int32_t j = 0; j < n; j++) orig[j] = (j % 3 == 0) ? 1 : -1;
    std::vector<int32_t> buf = orig;
    std::vector<int16_t> buf16(orig.begin(), orig.end());
    nrScrambleInt(buf.data(), buf.data(), n, 0x1234567 + n);
    nrScrambleShort(buf16.data(), buf16.data(), n, 0x1234567 + n);
    EXPECT_NE(buf, orig);
    EXPECT_EQ(std::vector<int32_t>(buf16.begin(), buf16.end()), buf);
    nrScrambleInt(buf.data(), buf.data(), n, 0x1234567 + n);
    EXPECT_EQ(buf, orig) << n;
  }
}

TEST(Scrambler, ProductWrapsInTheElementWidthAndEmptyCountWritesNothing) {
  // c(0..31) for c_init 0 starts with six zeros and then a one (bit 6).
  int32_t v[7] = {INT32_MIN, 0, 0, 0, 0, 0, INT32_MIN};
  nrScrambleInt(v, v, 7, 0);
  EXPECT_EQ(v[0], INT32_MIN);
  EXPECT_EQ(v[6], INT32_MIN);
  int16_t s[7] = {INT16_MIN, 0, 0, 0, 0, 0, INT16_MAX};
  nrScrambleShort(s, s, 7, 0);
  EXPECT_EQ(s[6], -INT16_MAX);
  int32_t untouched[2] = {5, 6};
  int32_t out[2] = {7, 8};
  nrScrambleInt(untouched, out, 0, 0);
  nrScrambleInt(untouched, out, -3, 0);
  EXPECT_EQ(out[0], 7);
  EXPECT_EQ(out[1], 8);
}

TEST(PnSequence, StartsWithTheKnownPrefixAndHasPeriod511) {
  nrPnSeqInit(9);
  std::vector<int32_t> out(1100);
  nrPnSeqGen(9, out.data(), out.size());
  std::string prefix;
  for (int i = 0; i < 40; i++) prefix += static_cast<char>('0' + out[i]);
  EXPECT_EQ(prefix, "1111111110000111101110000101100110110111");
  for (size_t i = 0; i + 511 < out.size(); i++) ASSERT_EQ(out[i + 511], out[i]) << i;
  // 511 = 7 * 73: no shorter period divides it.
  for (int p : {7, 73}) {
    bool periodic = true;
    for (int i = 0; i < 511 && periodic; i++) periodic = out[i + p] == out[i];
    EXPECT_FALSE(periodic) << p;
  }
  int ones = 0;
  for (int i = 0; i < 511; i++) ones += out[i];
  EXPECT_EQ(ones, 256);  // m-sequence balance
}

TEST(PnSequence, ContinuesAcrossCallsUntilReinitialised) {
  nrPnSeqInit(9);
  std::vector<int32_t> whole(3000);
  nrPnSeqGen(9, whole.data(), whole.size());
  nrPnSeqInit(9);
  std::vector<int32_t> parts(3000, -1);
  size_t at = 0;
  for (size_t chunk : {0, 1, 8, 9, 10, 31, 32, 33, 95, 96, 97, 0, 200, 511, 512}) {
    nrPnSeqGen(9, parts.data() + at, chunk);
    at += chunk;
  }
  nrPnSeqGen(9, parts.data() + at, parts.size() - at);
  EXPECT_EQ(parts, whole);
  // Re-initialising restarts the sequence.
  nrPnSeqInit(9);
  std::vector<int32_t> again(40);
  nrPnSeqGen(9, again.data(), again.size());
  EXPECT_EQ(again, std::vector<int32_t>(whole.begin(), whole.begin() + 40));
}

// The byte form is the int32 form: the same bits, the same packed words (first bit in bit 31,
// zeros past the end) and the same register afterwards, in one call or in pieces.
TEST(PnSequence, ByteFormCarriesTheBitsPackedWordsAndRegisterOfTheWordForm) {
  for (size_t count : {0, 1, 9, 31, 32, 33, 95, 96, 97, 511, 1000, 4097}) {
    nrPnSeqInit(9);
    std::vector<int32_t> want(count + 600);
    nrPnSeqGen(9, want.data(), count);
    std::vector<int8_t> wantState(gnrPnState, gnrPnState + 9);
    nrPnSeqGen(9, want.data() + count, 600);

    nrPnSeqInit(9);
    std::vector<int8_t> got(count + 600, -1);
    std::vector<uint32_t> packed((count + 31) / 32 + 1, 0xDEADBEEFu);
    ASSERT_TRUE(nrPnSeqGenBytes(9, got.data(), count, packed.data()));
    EXPECT_EQ(std::vector<int8_t>(gnrPnState, gnrPnState + 9), wantState) << count;
    EXPECT_EQ(packed.back(), count % 32 ? packed.back() : 0xDEADBEEFu) << "wrote past the words";
    ASSERT_TRUE(nrPnSeqGenBytes(9, got.data() + count, 600, nullptr));
    for (size_t i = 0; i < want.size(); i++) ASSERT_EQ(got[i], want[i]) << count << ", bit " << i;
    for (size_t i = 0; i < 32 * ((count + 31) / 32); i++) {
      const uint32_t bit = (packed[i / 32] >> (31 - i % 32)) & 1;
      ASSERT_EQ(bit, i < count ? static_cast<uint32_t>(want[i]) : 0u)
          << count << ", word bit " << i;
    }
  }
  EXPECT_FALSE(captureStdout([] { nrPnSeqGenBytes(7, nullptr, 10, nullptr); }).empty());
}

// One pass from coded bits to scrambled bipolar values equals the bipolar form followed by the
// scrambler.
TEST(Scrambler, BitsToScrambledBipolarMatchesBipolarThenScramble) {
  std::mt19937 rng(14);
  for (uint8_t cap = kNrCpuBaseline; cap < kNrCpuLevels; cap++) {
    if (nrCpuSetLevelCap(cap) != cap) continue;  // this CPU lacks the level
    for (int32_t count : {0, 1, 63, 64, 65, 1000, 4099}) {
      for (int32_t cInit : {0, 1, 0x7FFFFFFF, -1, 942155}) {
        std::vector<int8_t> bits(count);
        for (auto& b : bits) b = static_cast<int8_t>(rng() & 1);
        std::vector<int16_t> want(count + 1, 77), got(count + 1, 77);
        for (int32_t i = 0; i < count; i++) want[i] = static_cast<int16_t>(1 - 2 * bits[i]);
        nrScrambleShort(want.data(), want.data(), count, cInit);
        nrScrambleBitsShort(bits.data(), got.data(), count, cInit);
        EXPECT_EQ(got, want) << count << ", cInit " << cInit << ", level " << +cap;
      }
    }
  }
  nrCpuSetLevelCap(0xFF);
}

TEST(PnSequence, IsAllZeroWithoutInitialisation) {
  std::vector<int32_t> out(50, 7);
  nrPnSeqGen(9, out.data(), out.size());
  EXPECT_EQ(out, std::vector<int32_t>(50, 0));
}

TEST(PnSequence, OtherOrdersAreNotSupported) {
  nrPnSeqInit(9);
  std::vector<int32_t> out(20, 7);
  EXPECT_EQ(captureStdout([&] { nrPnSeqGen(8, out.data(), out.size()); }), "not support!\n");
  EXPECT_EQ(out, std::vector<int32_t>(20, 7));
  // A failed initialisation leaves the register cleared.
  EXPECT_EQ(captureStdout([] { nrPnSeqInit(15); }), "not support!\n");
  nrPnSeqGen(9, out.data(), out.size());
  EXPECT_EQ(out, std::vector<int32_t>(20, 0));
}

namespace {

// TS 38.211 7.4.2.2.1 / 7.4.2.3.1, straight from the recursions.
std::vector<int> mseq(const int (&initMsbFirst)[7], int tap) {
  std::vector<int> x(127);
  for (int i = 0; i < 7; i++) x[i] = initMsbFirst[6 - i];
  for (int i = 0; i + 7 < 127; i++) x[i + 7] = (x[i + tap] + x[i]) % 2;
  return x;
}

}  // namespace

TEST(SsbSequences, PssAndSssFollowTheTs38211Formulas) {
  const std::vector<int> x = mseq({1, 1, 1, 0, 1, 1, 0}, 4);
  const std::vector<int> x0 = mseq({0, 0, 0, 0, 0, 0, 1}, 4);
  const std::vector<int> x1 = mseq({0, 0, 0, 0, 0, 0, 1}, 1);
  for (int t = 0; t < 3; t++) EXPECT_EQ(gnrSsbMseq[128 * t + 127], 0);
  std::memset(gnrSeqBuf, 0x55, 1280);
  for (uint8_t nId2 = 0; nId2 < 3; nId2++) {
    nrPssGen(nId2);
    for (int n = 0; n < 127; n++)
      ASSERT_EQ(gnrSeqBuf[128 + n], 1 - 2 * x[(n + 43 * nId2) % 127]) << int(nId2) << " " << n;
    for (uint16_t nId1 : {0, 1, 111, 112, 200, 224, 335}) {
      nrSssGen(nId1, nId2);
      const int m0 = 15 * (nId1 / 112) + 5 * nId2;
      const int m1 = nId1 % 112;
      for (int n = 0; n < 127; n++)
        ASSERT_EQ(gnrSeqBuf[n], (1 - 2 * x0[(n + m0) % 127]) * (1 - 2 * x1[(n + m1) % 127]))
            << nId1 << " " << int(nId2) << " " << n;
    }
  }
  // Neither generator touches the byte between the two sequences or the polar area.
  EXPECT_EQ(gnrSeqBuf[127], 0x55);
  EXPECT_EQ(gnrSeqBuf[255], 0x55);
  EXPECT_EQ(gnrSeqBuf[256], 0x55);
}

TEST(SsbSequences, DistinctCellIdsGiveDistinctSequences) {
  // Every physical cell id 3 N_ID^(1) + N_ID^(2) of TS 38.211 7.4.2.1 has its own SSS.
  std::vector<std::string> seen;
  for (uint16_t nId1 = 0; nId1 < 336; nId1++)
    for (uint8_t nId2 = 0; nId2 < 3; nId2++) {
      nrSssGen(nId1, nId2);
      seen.emplace_back(reinterpret_cast<const char*>(gnrSeqBuf), 127);
    }
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(std::unique(seen.begin(), seen.end()), seen.end());
}

// The 16-bit scrambler used on the receive path agrees with the 32-bit one on the widened values
// wherever 16 bits hold the product, and says so exactly when one does not (-32768 negated).
TEST(Scrambler, ShortExactMatchesTheWidenedProductAndFlagsTheOneThatWraps) {
  const int32_t n = 4099;
  const int32_t cInit = 0x2345678;
  const std::vector<int> c = referenceGold(static_cast<uint32_t>(cInit), 0, n);
  // A position the sequence negates and one it keeps, both well inside the block.
  int32_t negated = -1, kept = -1;
  for (int32_t j = 1000; j < n && (negated < 0 || kept < 0); j++) {
    if (c[j] && negated < 0) negated = j;
    if (!c[j] && kept < 0) kept = j;
  }
  ASSERT_GE(negated, 0);
  ASSERT_GE(kept, 0);
  std::mt19937 rng(5);
  std::vector<int16_t> src(n);
  for (int16_t& x : src) x = static_cast<int16_t>(static_cast<int32_t>(rng() % 65536) - 32768);
  for (int16_t& x : src) x = x == INT16_MIN ? 0 : x;  // placed below
  struct Case {
    int32_t at;  // where -32768 goes, -1 for nowhere
    bool exact;
  };
  for (const Case& k : {Case{-1, true}, Case{kept, true}, Case{negated, false}}) {
    std::vector<int16_t> in = src;
    if (k.at >= 0) in[k.at] = INT16_MIN;
    std::vector<int32_t> wide(in.begin(), in.end());
    nrScrambleInt(wide.data(), wide.data(), n, cInit);
    // Every instruction set, lengths ending inside a 32-lane step and in place.
    for (uint8_t level = 0; level <= nrCpuLevelDetected(); level++) {
      nrCpuSetLevelCap(level);
      for (int32_t len : {n, n - 17, 40}) {
        const bool covers = k.at < len;
        std::vector<int16_t> got(n, 77);
        EXPECT_EQ(nrScrambleShortExact(in.data(), got.data(), len, cInit), k.exact || !covers)
            << k.at << " level " << +level;
        for (int32_t j = 0; j < n; j++) {
          if (j >= len) {
            ASSERT_EQ(got[j], 77) << "wrote past the count";
          } else if (j == k.at && !k.exact) {
            ASSERT_EQ(got[j], INT16_MIN);  // wrapped, as nrScrambleShort wraps
          } else {
            ASSERT_EQ(got[j], wide[j]) << j << " level " << +level;
          }
        }
        std::vector<int16_t> same = in;
        nrScrambleShortExact(same.data(), same.data(), len, cInit);
        ASSERT_TRUE(std::equal(same.begin(), same.begin() + len, got.begin()));
      }
    }
    nrCpuSetLevelCap(nrCpuLevelDetected());
  }
  int16_t none = 3;
  EXPECT_TRUE(nrScrambleShortExact(&none, &none, 0, cInit));
  EXPECT_EQ(none, 3);
}
