#include "phy/coding/crc.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "phy/common/cpu_features.h"

namespace {

// TS 38.212 5.1 register, one bit at a time: the reference for every engine.
uint32_t serialCrc(const std::vector<int>& bits, uint32_t poly) {
  uint32_t r = 0;
  for (int b : bits) {
    const uint32_t f = (r & 1u) ^ static_cast<uint32_t>(b & 1);
    r >>= 1;
    if (f) r ^= poly;
  }
  return r;
}

uint32_t typePoly(uint8_t crcType) {
  return crcType == 0 ? 0xDF3261u : crcType == 1 ? 0xC60001u : 0x8408u;
}

int typeLen(uint8_t crcType) { return crcType <= 1 ? 24 : 16; }

std::vector<int> randomBits(std::mt19937& rng, int n) {
  std::vector<int> v(n);
  for (int& b : v) b = static_cast<int>(rng() & 1);
  return v;
}

// Packs MSB first; the bits after the last one are filled with garbage.
std::vector<uint32_t> pack(const std::vector<int>& bits, std::mt19937& rng) {
  std::vector<uint32_t> w(bits.size() / 32 + 1);
  w.back() = rng();
  for (size_t i = 0; i < bits.size(); i++) {
    const uint32_t m = 1u << (31 - i % 32);
    w[i / 32] = bits[i] ? (w[i / 32] | m) : (w[i / 32] & ~m);
  }
  return w;
}

// Register constant from nrCrcGenPoly's coefficients (D^(L-1) coefficient into bit 0).
uint32_t reversedConstant(int32_t code, int32_t* len) {
  int8_t c[32];
  *len = nrCrcGenPoly(code, c);
  uint32_t v = 0;
  for (int j = 0; j < *len; j++) v |= static_cast<uint32_t>(c[j]) << j;
  return v;
}

}  // namespace

TEST(Crc, RegisterConstantsAreTheReversedGeneratorsOfTs38212) {
  int32_t len = 0;
  EXPECT_EQ(reversedConstant(2, &len), kCrc24APoly);
  EXPECT_EQ(len, 24);
  EXPECT_EQ(reversedConstant(3, &len), kCrc24BPoly);
  EXPECT_EQ(reversedConstant(1, &len), kCrc16Poly);
  EXPECT_EQ(len, 16);
  EXPECT_EQ(reversedConstant(6, &len), kCrc24CPoly);
  // CRC8 D^8+D^7+D^4+D^3+D+1, CRC6 D^6+D^5+1, CRC11 D^11+D^10+D^9+D^5+1.
  int8_t c[32];
  ASSERT_EQ(nrCrcGenPoly(0, c), 8);
  EXPECT_EQ(std::vector<int8_t>(c, c + 8), (std::vector<int8_t>{1, 0, 0, 1, 1, 0, 1, 1}));
  ASSERT_EQ(nrCrcGenPoly(4, c), 6);
  EXPECT_EQ(std::vector<int8_t>(c, c + 6), (std::vector<int8_t>{1, 0, 0, 0, 0, 1}));
  ASSERT_EQ(nrCrcGenPoly(5, c), 11);
  EXPECT_EQ(std::vector<int8_t>(c, c + 11), (std::vector<int8_t>{1, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
  EXPECT_EQ(nrCrcGenPoly(7, c), 0);
  EXPECT_EQ(nrCrcGenPoly(-1, c), 0);
}

// The packed engine at every instruction-set level (carry-less folding of 128-bit blocks from
// AVX2 on) gives the bit-serial register for lengths around and well beyond the folding block.
TEST(Crc, PackedEngineMatchesTheBitSerialRegisterAtEveryLevel) {
  std::mt19937 rng(24);
  std::vector<int> lengths;
  for (int n = 200; n <= 700; n++) lengths.push_back(n);
  for (int n : {1023, 1024, 1056, 1600, 2048, 3824, 8424, 8448, 25344, 110656, 233632})
    lengths.push_back(n);
  for (uint8_t cap = kNrCpuBaseline; cap < kNrCpuLevels; cap++) {
    if (nrCpuSetLevelCap(cap) != cap) continue;  // this CPU lacks the level
    for (uint8_t crcType : {kCrc24A, kCrc24B, kCrc16}) {
      for (int n : lengths) {
        const std::vector<int> bits = randomBits(rng, n);
        const std::vector<uint32_t> packed = pack(bits, rng);
        ASSERT_EQ(nrCrcCalcPacked(packed.data(), crcType, n), serialCrc(bits, typePoly(crcType)))
            << int(crcType) << " " << n << " level " << int(cap);
      }
    }
  }
  nrCpuSetLevelCap(0xFF);
}

TEST(Crc, TableEnginesMatchTheBitSerialRegisterForEveryLength) {
  std::mt19937 rng(7);
  std::vector<int> lengths;
  for (int n = 0; n <= 140; n++) lengths.push_back(n);
  for (int n : {255, 256, 257, 1000, 3824, 3840, 8447, 8448, 25344}) lengths.push_back(n);
  for (uint8_t crcType : {0, 1, 2, 3, 200, 255}) {
    for (int n : lengths) {
      const std::vector<int> bits = randomBits(rng, n);
      const uint32_t ref = serialCrc(bits, typePoly(crcType));
      // Only the lowest bit of a 32-bit element counts.
      std::vector<int32_t> wide(n);
      for (int i = 0; i < n; i++) wide[i] = bits[i] | static_cast<int32_t>(rng() & 0xFFFFFFFEu);
      ASSERT_EQ(nrCrcCalc(wide.data(), crcType, n), ref) << int(crcType) << " " << n;
      const std::vector<uint32_t> packed = pack(bits, rng);
      ASSERT_EQ(nrCrcCalcPacked(packed.data(), crcType, n), ref) << int(crcType) << " " << n;
      if (n <= 300) {
        const std::vector<int8_t> narrow(bits.begin(), bits.end());
        int8_t parity[24];
        nrCrcCalcPoly(parity, narrow.data(), 24, typePoly(crcType), static_cast<uint16_t>(n));
        for (int j = 0; j < 24; j++) ASSERT_EQ(parity[j], static_cast<int8_t>((ref >> j) & 1));
      }
    }
  }
  EXPECT_EQ(nrCrcCalc(nullptr, kCrc24A, 0), 0u);
  EXPECT_EQ(nrCrcCalcPacked(nullptr, kCrc24A, -5), 0u);
}

TEST(Crc, BlockWithItsOwnParityChecksToZeroAndAnySingleBitErrorIsCaught) {
  std::mt19937 rng(11);
  for (uint8_t crcType : {kCrc24A, kCrc24B, kCrc16}) {
    const int len = typeLen(crcType);
    for (int a : {1, 40, 100, 3824, 8424}) {
      std::vector<int32_t> block(a + len);
      for (int i = 0; i < a; i++) block[i] = static_cast<int32_t>(rng() & 1);
      const uint32_t r = nrCrcCalc(block.data(), crcType, a);
      ASSERT_LT(r, 1u << len);
      for (int i = 0; i < len; i++) block[a + i] = (r >> i) & 1;  // parity after the data
      std::vector<int> bits(block.begin(), block.end());
      std::vector<uint32_t> packed = pack(bits, rng);
      ASSERT_EQ(nrCrcCalcPacked(packed.data(), crcType, a + len), 0u) << a;
      ASSERT_EQ(nrCrcCalc(block.data(), crcType, a + len), 0u) << a;
      for (int i = 0; i < a + len; i++) {
        packed[i / 32] ^= 1u << (31 - i % 32);
        ASSERT_NE(nrCrcCalcPacked(packed.data(), crcType, a + len), 0u) << a << " " << i;
        packed[i / 32] ^= 1u << (31 - i % 32);
      }
    }
  }
}

TEST(Crc, PackedCountIgnoresTheLowBitsOfTheLastWord) {
  const uint32_t words[2] = {0x12345678u, 0xABC00000u};
  const uint32_t r = nrCrcCalcPacked(words, kCrc24A, 42);
  for (uint32_t junk : {0x003FFFFFu, 0x00155555u, 0x00000001u}) {
    const uint32_t other[2] = {words[0], words[1] | junk};
    EXPECT_EQ(nrCrcCalcPacked(other, kCrc24A, 42), r);
  }
  const uint32_t flipped[2] = {words[0], words[1] ^ 0x00200000u};  // bit 42, the first one left out
  EXPECT_EQ(nrCrcCalcPacked(flipped, kCrc24A, 42), r);
  const uint32_t counted[2] = {words[0], words[1] ^ 0x00400000u};  // bit 41, the last one counted
  EXPECT_NE(nrCrcCalcPacked(counted, kCrc24A, 42), r);
}

TEST(Crc, DciCrcPreloadsTwentyFourOnes) {
  std::mt19937 rng(3);
  for (int n : {0, 1, 12, 39, 140}) {
    std::vector<int> withOnes(24, 1);
    const std::vector<int> data = randomBits(rng, n);
    withOnes.insert(withOnes.end(), data.begin(), data.end());
    const uint32_t ref = serialCrc(withOnes, kCrc24CPoly);
    const std::vector<int8_t> bits(data.begin(), data.end());
    int8_t parity[26];
    std::fill(parity, parity + 26, int8_t{9});
    nrCrcCalcDci(parity, bits.data(), 24, kCrc24CPoly, static_cast<uint16_t>(n));
    for (int j = 0; j < 24; j++) ASSERT_EQ(parity[j], static_cast<int8_t>((ref >> j) & 1)) << n;
    EXPECT_EQ(parity[24], 9);  // exactly L outputs
    if (n == 0) {
      EXPECT_NE(ref, 0u);
    }
  }
}

TEST(Crc, ParityOutputsBeyondTheRegisterAreZeroAndNonPositiveLengthWritesNothing) {
  const int8_t bits[5] = {1, 1, 0, 1, 1};
  int8_t parity[40];
  std::fill(parity, parity + 40, int8_t{9});
  nrCrcCalcPoly(parity, bits, 0, 0xFFFFFFFFu, 5);
  nrCrcCalcPoly(parity, bits, -3, 0xFFFFFFFFu, 5);
  EXPECT_EQ(parity[0], 9);
  nrCrcCalcPoly(parity, bits, 40, 0xFFFFFFFFu, 5);
  const uint32_t ref = serialCrc({1, 1, 0, 1, 1}, 0xFFFFFFFFu);
  for (int j = 0; j < 32; j++) EXPECT_EQ(parity[j], static_cast<int8_t>((ref >> j) & 1));
  for (int j = 32; j < 40; j++) EXPECT_EQ(parity[j], 0);
}

TEST(Crc, LongDivisionAgreesWithTheRegisterForCrc24c) {
  std::mt19937 rng(5);
  for (int n : {0, 1, 2, 23, 24, 25, 64, 140, 1000}) {
    const std::vector<int> data = randomBits(rng, n);
    const std::vector<int8_t> src(data.begin(), data.end());
    std::vector<int8_t> dst(n + 24, 7);
    nrCrc24cDivide(src.data(), static_cast<uint16_t>(n), dst.data());
    int8_t parity[24];
    nrCrcCalcPoly(parity, src.data(), 24, kCrc24CPoly, static_cast<uint16_t>(n));
    EXPECT_EQ(std::vector<int8_t>(dst.begin(), dst.begin() + n), src);
    EXPECT_EQ(std::vector<int8_t>(dst.begin() + n, dst.end()),
              std::vector<int8_t>(parity, parity + 24))
        << n;
    EXPECT_EQ(std::vector<int>(src.begin(), src.end()), data);  // input untouched
  }
}

TEST(Crc, AttachAppendsTheParityOfEverySelectedPolynomial) {
  struct Sel {
    int32_t family, index, code;
  };
  const Sel sels[] = {{0, 0, 4}, {0, 1, 5}, {1, 0, 2}, {1, 1, 3}, {2, 0, 1}, {2, 1, 6}};
  std::mt19937 rng(9);
  for (const Sel& s : sels) {
    int32_t len = 0;
    const uint32_t poly = reversedConstant(s.code, &len);
    for (int n : {0, 1, 30, 200}) {
      const std::vector<int> data = randomBits(rng, n);
      std::vector<int32_t> in(data.begin(), data.end());
      std::vector<int32_t> out(n + len + 1, -7);
      ASSERT_EQ(nrCrcAttach(in.data(), out.data(), s.family, s.index, n),
                static_cast<uint32_t>(n + len));
      const uint32_t ref = serialCrc(data, poly);
      for (int i = 0; i < n; i++) ASSERT_EQ(out[i], in[i]);
      for (int j = 0; j < len; j++) ASSERT_EQ(out[n + j], static_cast<int32_t>((ref >> j) & 1));
      ASSERT_EQ(out[n + len], -7);
      // In place, and the transmit chain's own CRCs give the same parity.
      in.resize(n + len);
      nrCrcAttach(in.data(), in.data(), s.family, s.index, n);
      ASSERT_EQ(in, std::vector<int32_t>(out.begin(), out.end() - 1));
      if (s.family == 1 || (s.family == 2 && s.index == 0)) {
        ASSERT_EQ(nrCrcCalc(in.data(), static_cast<uint8_t>(s.family == 2 ? 2 : s.index), n), ref);
      }
    }
  }
  int32_t in[4] = {1, 0, 1, 1};
  int32_t out[30] = {};
  for (auto [f, i, n] : {std::tuple{3, 0, 4}, {0, 2, 4}, {-1, 0, 4}, {1, 0, -1}})
    EXPECT_EQ(nrCrcAttach(in, out, f, i, n), 0u);
  EXPECT_EQ(std::vector<int32_t>(out, out + 30), std::vector<int32_t>(30, 0));
}

TEST(Crc, Sse2BitPackingMatchesThePlainLoop) {
#if defined(__SSE2__)
  std::mt19937 rng(13);
  int32_t bits[32];
  for (int trial = 0; trial < 2000; trial++) {
    for (int32_t& b : bits) b = static_cast<int32_t>(rng());  // only the lowest bit counts
    if (trial < 32) {
      for (int i = 0; i < 32; i++) bits[i] = i == trial ? 1 : 0;  // each position alone
    }
    ASSERT_EQ(crc_detail::packBitsSse2(bits), crc_detail::packBitsPlain(bits)) << trial;
  }
  for (int i = 0; i < 32; i++) bits[i] = i == 0 ? 1 : 0;
  EXPECT_EQ(crc_detail::packBitsPlain(bits), 0x80000000u);
#else
  GTEST_SKIP() << "no SSE2 on this target";
#endif
}

// The AVX2 packing, picked at run time where the CPU has it, agrees with the plain loop, and
// nrCrcCalc gives the same register at every level.
TEST(Crc, Avx2BitPackingAndEveryLevelMatchThePlainLoop) {
  std::mt19937 rng(17);
  std::vector<int32_t> block(8448 + 13);
  for (int32_t& b : block) b = static_cast<int32_t>(rng());
  const uint32_t ref = [&] {
    nrCpuSetLevelCap(kNrCpuBaseline);
    return nrCrcCalc(block.data(), kCrc24A, static_cast<int32_t>(block.size()));
  }();
  for (uint8_t level = kNrCpuBaseline; level <= nrCpuLevelDetected(); level++) {
    nrCpuSetLevelCap(level);
    EXPECT_EQ(nrCrcCalc(block.data(), kCrc24A, static_cast<int32_t>(block.size())), ref);
  }
  nrCpuSetLevelCap(kNrCpuAvx512);
  if (nrCpuLevelDetected() < kNrCpuAvx2 || !crc_detail::packBitsAvx2)
    GTEST_SKIP() << "no AVX2 on this CPU";
  int32_t bits[32];
  for (int trial = 0; trial < 2000; trial++) {
    for (int32_t& b : bits) b = static_cast<int32_t>(rng());
    if (trial < 32) {
      for (int i = 0; i < 32; i++) bits[i] = i == trial ? 1 : 0;
    }
    ASSERT_EQ(crc_detail::packBitsAvx2(bits), crc_detail::packBitsPlain(bits)) << trial;
  }
}
