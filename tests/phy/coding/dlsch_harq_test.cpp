// HARQ soft combining against the transmitter's own coded bits: the default slot's transport
// block (MCS 19, 64QAM, rate 0.85, 3456 coded bits) in every redundancy version, sent as noisy
// scrambled soft bits with fixed seeds.
#include "phy/coding/dlsch_harq.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "phy/channel/channel_rng.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/common/sequence.h"
#include "tests/test_util.h"

namespace {

constexpr int kMcs = 19;
constexpr int kRePerPrb = 48;
constexpr int kPrb = 12;
constexpr int32_t kCinit = 0x1234567;
constexpr uint16_t kRateX2048 = 1746;  // 852.5 x 2
constexpr uint32_t kQm = 6;

struct Tx {
  std::vector<int16_t> soft;
  uint32_t A = 0;
};

// The soft bits of rv as a receiver would see them: amplitude x bipolar scrambled bit plus
// Gaussian noise of deviation sigma, rounded and clipped to the demapper's 6-bit range.
Tx send(uint8_t rv, double amplitude, double sigma, uint64_t seed) {
  std::vector<int32_t> bits(8192);
  const int64_t G = nrDlschEncode(kMcs, 1, kRePerPrb, kPrb, bits.data(), rv);
  EXPECT_GT(G, 0);
  std::vector<int32_t> s(G);
  for (int64_t i = 0; i < G; i++) s[i] = 1 - 2 * bits[i];
  nrScrambleInt(s.data(), s.data(), static_cast<int32_t>(G), kCinit);
  NrChRng rng;
  nrChRngSeed(&rng, seed, rv);
  Tx t;
  t.soft.resize(G);
  for (int64_t i = 0; i < G; i++) {
    const double v = std::round(amplitude * s[i] + sigma * nrChRngGauss(&rng));
    t.soft[i] = static_cast<int16_t>(v < -32 ? -32 : (v > 31 ? 31 : v));
  }
  t.A = 2976;
  return t;
}

uint8_t receive(const Tx& t, uint8_t rv, NrHarqStats* st = nullptr) {
  return nrDlschHarqDecode(t.A, static_cast<uint32_t>(t.soft.size()), kCinit, kQm, rv,
                           t.soft.data(), 1, kRateX2048, st);
}

// The transport block and CRC the encoder dumped, one bit per line.
std::vector<int32_t> sentBits() {
  std::vector<int32_t> v;
  std::string text = readWholeFile("EncCrcBuff.txt");
  for (char c : text)
    if (c == '0' || c == '1') v.push_back(c - '0');
  return v;
}

}  // namespace

// Under noise that defeats rv 0 on its own, rv 0 combined with rv 2 decodes, to the bits sent;
// the passed code block is not decoded again by a later transmission.
TEST(DlschHarq, FailedFirstTransmissionDecodesAfterCombining) {
  ScopedTempDir dir;
  const double amplitude = 10.0, sigma = 8.0;  // soft-bit SNR of 1.9 dB
  const Tx rv0 = send(0, amplitude, sigma, 3);
  const std::vector<int32_t> sent = sentBits();
  const Tx rv2 = send(2, amplitude, sigma, 3);

  nrDlschHarqReset();
  NrHarqStats st{};
  EXPECT_EQ(receive(rv0, 0, &st), 0) << "rv 0 alone must fail at this noise";
  EXPECT_EQ(st.cbN, 1);
  EXPECT_EQ(st.decodes, 1);
  EXPECT_EQ(receive(rv2, 2, &st), 1) << "rv 0 + rv 2 must decode";
  std::vector<int32_t> got(sent.size() + 8);
  ASSERT_EQ(nrDlschHarqTbBits(got.data(), static_cast<int32_t>(got.size())),
            static_cast<int32_t>(sent.size()));
  got.resize(sent.size());
  EXPECT_EQ(got, sent);

  // A third transmission finds the block passed: no decoder run.
  EXPECT_EQ(receive(rv2, 2, &st), 1);
  EXPECT_EQ(st.decodes, 0);

  // rv 2 alone at the same noise also fails: the gain is the combining's.
  nrDlschHarqReset();
  EXPECT_EQ(receive(rv2, 2), 0);
}

// rv 1 and rv 2 start far into the circular buffer and leave out most systematic bits: alone,
// even without noise, they do not decode; combined with a noisy rv 0 that fails on its own, they
// do.
TEST(DlschHarq, NonSelfDecodableVersionsDecodeWithRv0) {
  ScopedTempDir dir;
  for (uint8_t rv : {1, 2}) {
    const Tx clean = send(rv, 31.0, 0.0, 5);
    const Tx noisy0 = send(0, 8.0, 8.0, 5);
    nrDlschHarqReset();
    EXPECT_EQ(receive(noisy0, 0), 0) << "rv 0 alone must fail at this noise";
    nrDlschHarqReset();
    EXPECT_EQ(receive(clean, rv), 0) << "rv " << int{rv} << " alone must not decode";
    EXPECT_EQ(receive(noisy0, 0), 1) << "rv " << int{rv} << " + rv 0 must decode";
  }
}

// The buffer starts afresh for a transport block of another shape, and a request that cannot be
// decoded is refused.
TEST(DlschHarq, NewShapeStartsAfreshAndBadRequestsAreRefused) {
  ScopedTempDir dir;
  const Tx clean2 = send(2, 31.0, 0.0, 9);
  nrDlschHarqReset();
  EXPECT_EQ(receive(clean2, 2), 0);
  // Another transport block size: the rv 2 values of the first are not combined into it.
  std::vector<int16_t> zeros(clean2.soft.size(), 0);
  EXPECT_EQ(nrDlschHarqDecode(1000, static_cast<uint32_t>(zeros.size()), kCinit, kQm, 0,
                              zeros.data(), 1, kRateX2048, nullptr),
            0);
  const std::string err = captureDiag([&] {
    EXPECT_EQ(
        nrDlschHarqDecode(2976, 3456, kCinit, kQm, 4, clean2.soft.data(), 1, kRateX2048, nullptr),
        0);
    EXPECT_EQ(nrDlschHarqDecode(2976, 3456, kCinit, kQm, 0, nullptr, 1, kRateX2048, nullptr), 0);
  });
  EXPECT_NE(err.find("not decoded"), std::string::npos) << err;
}
