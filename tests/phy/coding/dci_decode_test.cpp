#include "phy/coding/dci_decode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "phy/common/pdcch_map.h"
#include "phy/common/sequence.h"
#include "tests/test_util.h"

namespace {

std::vector<int32_t> randomPayload(int A, uint32_t seed) {
  std::vector<int32_t> a(A);
  for (int32_t& v : a) {
    seed = seed * 1664525u + 1013904223u;
    v = (seed >> 23) & 1;
  }
  return a;
}

// The candidate as the transmitter sends it: encoded, bipolar, scrambled, at amplitude 90.
std::vector<int16_t> candidate(const std::vector<int32_t>& a, uint32_t rnti, uint16_t nId,
                               bool ueSpecific, int E) {
  std::vector<int16_t> v(E);
  EXPECT_TRUE(nrDciEncode(a.data(), static_cast<uint16_t>(a.size()), v.data(), 1, rnti,
                          static_cast<uint16_t>(E)));
  for (int16_t& b : v) b = static_cast<int16_t>(90 * (1 - 2 * b));
  nrScrambleShort(v.data(), v.data(), E,
                  static_cast<int32_t>(nrPdcchScrCinit(rnti, nId, ueSpecific)));
  return v;
}

}  // namespace

TEST(DciDecode, EveryGeneratedPayloadSizeRoundTripsAtEveryLevelForItsRntiOnly) {
  const uint32_t rnti = 28764;
  const uint16_t nId = 829;
  for (int A = 35; A <= 39; A++)
    for (int aggr = 1; aggr <= 16; aggr *= 2)
      for (bool ueSpecific : {false, true}) {
        const int E = 108 * aggr;
        const auto a = randomPayload(A, static_cast<uint32_t>(A * 31 + aggr));
        const auto soft = candidate(a, rnti, nId, ueSpecific, E);
        ASSERT_TRUE(nrDciDecode(soft.data(), static_cast<uint16_t>(E), rnti, nId,
                                static_cast<int16_t>(A), ueSpecific))
            << "A " << A << " L " << aggr << " ue " << ueSpecific;
        for (int i = 0; i < A; i++) ASSERT_EQ(gnrDciBits[i], a[i]) << i;
        EXPECT_FALSE(nrDciDecode(soft.data(), static_cast<uint16_t>(E), rnti + 1, nId,
                                 static_cast<int16_t>(A), ueSpecific));
        EXPECT_FALSE(nrDciDecode(soft.data(), static_cast<uint16_t>(E), 0xFFFF, nId,
                                 static_cast<int16_t>(A), ueSpecific));
      }
}

TEST(DciDecode, DecodedCrcCarriesTheRntiInItsLast16Bits) {
  const auto a = randomPayload(40, 5);
  const auto soft = candidate(a, 0xFFFF, 1, false, 108);
  ASSERT_TRUE(nrDciDecode(soft.data(), 108, 0xFFFF, 1, 40, 0));
  int8_t payload[40], parity[24];
  for (int i = 0; i < 40; i++) payload[i] = static_cast<int8_t>(a[i]);
  dci_detail::maskedParity(payload, 40, 0, parity);
  for (int i = 0; i < 24; i++) EXPECT_EQ(gnrDciBits[40 + i] ^ parity[i], i < 8 ? 0 : 1) << i;
}

TEST(DciDecode, RepetitionUsesTheFirstMotherCodeWordOnly) {
  // E = 864 repeats the 512 coded bits; corrupting every bit past the first 512 changes nothing.
  const auto a = randomPayload(40, 9);
  auto soft = candidate(a, 0x1234, 7, true, 864);
  for (int e = 512; e < 864; e++) soft[e] = static_cast<int16_t>(-soft[e]);
  ASSERT_TRUE(nrDciDecode(soft.data(), 864, 0x1234, 7, 40, 1));
  for (int i = 0; i < 40; i++) EXPECT_EQ(gnrDciBits[i], a[i]);
}

TEST(DciDecode, RefusesSizesOutsideTheCode) {
  const std::vector<int16_t> soft(1728, 50);
  struct Case {
    uint16_t E;
    int16_t A;
  };
  for (const Case k :
       {Case{108, 0}, Case{1728, 101}, Case{108, 85}, Case{9000, 40}, Case{108, -1}}) {
    const std::string err =
        captureDiag([&] { EXPECT_FALSE(nrDciDecode(soft.data(), k.E, 0x1234, 1, k.A, 1)); });
    EXPECT_NE(err.find("nrDciDecode"), std::string::npos) << k.A << " " << k.E;
  }
}

TEST(DciDecodeCheck, FindsTheRntiOfAnUnscrambledCandidateAndPrintsThePayload) {
  const auto a = randomPayload(39, 3);
  std::vector<int16_t> hard(216);
  ASSERT_TRUE(nrDciEncode(a.data(), 39, hard.data(), 1, 0x2B3C, 216));
  // Only the low byte counts.
  for (int16_t& b : hard) b = static_cast<int16_t>(b | 0x0100);
  std::string bits;
  for (int32_t v : a) bits += static_cast<char>('0' + v);

  const ConsoleText ok =
      captureConsole([&] { EXPECT_EQ(nrDciDecodeCheck(hard.data(), 39, 216, 0, 0x2B3C), 1); });
  EXPECT_EQ(ok.out, "decode suc!\n Payload:" + bits + "\n");
  const ConsoleText wrong =
      captureConsole([&] { EXPECT_EQ(nrDciDecodeCheck(hard.data(), 39, 216, 0, 0x2B3D), 0); });
  EXPECT_EQ(wrong.out, "");
  EXPECT_EQ(wrong.err, "");
}

TEST(DciDecodeCheck, RefusesOtherModesAndSizesWithoutReadingPastItsInput) {
  // A mode other than 0 would ask for a 1024-bit mother code from these 108 values.
  std::vector<int16_t> hard(108, 0);
  struct Case {
    uint16_t A, E;
    uint8_t m;
  };
  for (const Case k :
       {Case{40, 108, 1}, Case{40, 108, 3}, Case{0, 108, 0}, Case{101, 108, 0}, Case{85, 108, 0}}) {
    const ConsoleText t =
        captureConsole([&] { EXPECT_EQ(nrDciDecodeCheck(hard.data(), k.A, k.E, k.m, 0x1234), 0); });
    EXPECT_NE(t.err.find("nrDciDecodeCheck"), std::string::npos) << k.A << " " << int(k.m);
    EXPECT_EQ(t.out, "");
  }
}
