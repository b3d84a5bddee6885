#include "phy/rx/pdcch_chest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "phy/common/pdcch_map.h"
#include "tests/test_util.h"

namespace {

using Cpx = std::complex<double>;

constexpr uint16_t kSlot = 7;
constexpr uint16_t kNid = 829;
constexpr uint16_t kRbOffset = 1;

int32_t pack(Cpx v) {
  return nrCpxPack(static_cast<int>(std::lround(v.real())),
                   static_cast<int>(std::lround(v.imag())));
}

// The REs of a CORESET occasion received through a flat channel per symbol and antenna:
// DMRS of TS 38.211 7.4.1.3 at amplitude 724 (each RB at its own index from the first RB) and
// random QPSK data of amplitude 724, in the estimator's list order.
struct Occasion {
  std::vector<uint16_t> rbIdx;
  int duration;
  int l0;
  std::vector<Cpx> sent;  // data symbols per data RE
  uint32_t dataN = 0;
  uint16_t dmrsN = 0;

  void build(const Cpx H[3][2]) {
    uint32_t seed = 11;
    const int R = static_cast<int>(rbIdx.size());
    sent.clear();
    dataN = dmrsN = 0;
    for (int s = 0; s < duration; s++) {
      const int8_t* b = nrPdcchDmrsSeq(kSlot, static_cast<uint32_t>(l0 + s), kNid,
                                       kRbOffset + rbIdx[0], rbIdx[R - 1] - rbIdx[0] + 1u);
      ASSERT_NE(b, nullptr);
      std::vector<Cpx> dmrs;
      for (int r = 0; r < R; r++)
        for (int k = 0; k < 3; k++) {
          const int i = 3 * (rbIdx[r] - rbIdx[0]) + k;
          dmrs.emplace_back(724.0 * b[2 * i], 724.0 * b[2 * i + 1]);
        }
      for (const Cpx& r : dmrs)
        gnrUeCchDmrsRe[dmrsN++] = NrRxRe{{pack(H[s][0] * r), pack(H[s][1] * r)}};
      for (int n = 0; n < 9 * R; n++) {
        seed = seed * 1664525u + 1013904223u;
        const Cpx x((seed >> 20) & 1 ? 724 : -724, (seed >> 21) & 1 ? 724 : -724);
        sent.push_back(x);
        gnrUeCchDataRe[dataN++] = NrRxRe{{pack(H[s][0] * x), pack(H[s][1] * x)}};
      }
    }
  }

  bool run() {
    return nrUeCchChEstEq(gnrUeCchDataRe, dataN, gnrUeCchDmrsRe, dmrsN, &gnrCchMwItf,
                          static_cast<uint8_t>(duration),
                          static_cast<uint16_t>(kRbOffset + rbIdx[0]), kNid, kSlot,
                          static_cast<uint8_t>(l0), rbIdx.data());
  }
};

class PdcchChest : public ::testing::Test {
 protected:
  ScopedTempDir dir_;  // the estimator writes its debug files
};

}  // namespace

TEST_F(PdcchChest, EqualisesEverySymbolWithItsOwnDmrsAcrossAGapInTheRbList) {
  // Unit-gain channels, a different phase per symbol and antenna: both antennas' zero-forcing
  // results add up to 2 x / |H_ls| with |H_ls| = 724 sqrt 2, so 64 x that is x / 8.
  const Cpx H[3][2] = {{std::polar(1.0, 0.3), std::polar(1.0, -2.0)},
                       {std::polar(1.0, 1.7), std::polar(1.0, 2.9)},
                       {std::polar(1.0, -0.8), std::polar(1.0, 0.1)}};
  std::vector<uint16_t> gapped;
  for (int r = 0; r < 12; r++) gapped.push_back(static_cast<uint16_t>(5 + r));
  for (int r = 0; r < 12; r++) gapped.push_back(static_cast<uint16_t>(40 + r));
  for (int duration = 1; duration <= 3; duration++) {
    Occasion o{gapped, duration, 8, {}};
    o.build(H);
    ASSERT_TRUE(o.run()) << duration;
    const double scale = 2.0 * 64.0 / (724.0 * std::sqrt(2.0));
    for (uint32_t e = 0; e < o.dataN; e++) {
      const int32_t v = gnrUeCchDataRe[e].ant[0];
      ASSERT_NEAR(nrCpxRe(v), o.sent[e].real() * scale, 1.01)
          << "duration " << duration << " RE " << e;
      ASSERT_NEAR(nrCpxIm(v), o.sent[e].imag() * scale, 1.01)
          << "duration " << duration << " RE " << e;
    }
  }
}

TEST_F(PdcchChest, WithoutDmrsEnergyTheOutputIsZero) {
  // A zero estimate has power 0, raised by 1 before the division: no infinities, just zeros.
  const Cpx H[3][2] = {{0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}};
  Occasion o{{20, 21, 22, 23, 24, 25}, 1, 2, {}};
  o.build(H);
  for (uint32_t e = 0; e < o.dataN; e++)
    gnrUeCchDataRe[e] = NrRxRe{{nrCpxPack(300, -300), nrCpxPack(300, -300)}};
  ASSERT_TRUE(o.run());
  for (uint32_t e = 0; e < o.dataN; e++) EXPECT_EQ(gnrUeCchDataRe[e].ant[0], 0) << e;
}

TEST_F(PdcchChest, DebugFilesHoldTheLastSymbolBeforeAndTheFirstValuesAfterEqualisation) {
  const Cpx H[3][2] = {{1.0, 1.0}, {Cpx(0, 1), 1.0}, {1.0, 1.0}};
  Occasion o{{}, 2, 4, {}};
  for (int r = 0; r < 30; r++) o.rbIdx.push_back(static_cast<uint16_t>(r));
  o.build(H);
  // The second symbol starts at data RE 9 x 30 = 270.
  std::vector<int> rawRe;
  for (uint32_t e = 270; e < 270 + 215; e++) rawRe.push_back(nrCpxRe(gnrUeCchDataRe[e].ant[0]));
  ASSERT_TRUE(o.run());
  auto lines = [](const std::string& name) {
    std::istringstream in(readWholeFile(name));
    std::vector<int> v;
    for (int x; in >> x;) v.push_back(x);
    return v;
  };
  EXPECT_EQ(lines("debugRe0.txt"), rawRe);
  std::vector<int> eqIm;
  for (uint32_t e = 0; e < 216; e++) eqIm.push_back(nrCpxIm(gnrUeCchDataRe[e].ant[0]));
  EXPECT_EQ(lines("debugIm.txt"), eqIm);
}

TEST_F(PdcchChest, RefusesListsThatAreNotWholeRbs) {
  const Cpx H[3][2] = {{1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}};
  Occasion o{{3, 4, 5, 6, 7, 8}, 2, 0, {}};
  o.build(H);
  const int32_t before = gnrUeCchDataRe[0].ant[0];
  for (uint16_t dmrsN : {uint16_t{35}, uint16_t{0}, uint16_t{3 * 281 * 2}}) {
    const std::string err = captureDiag([&] {
      EXPECT_FALSE(nrUeCchChEstEq(gnrUeCchDataRe, o.dataN, gnrUeCchDmrsRe, dmrsN, &gnrCchMwItf, 2,
                                  4, kNid, kSlot, 0, o.rbIdx.data()));
    });
    EXPECT_NE(err.find("nrUeCchChEstEq"), std::string::npos) << dmrsN;
  }
  const std::string err = captureDiag([&] {
    EXPECT_FALSE(nrUeCchChEstEq(gnrUeCchDataRe, o.dataN, gnrUeCchDmrsRe, o.dmrsN, &gnrCchMwItf, 2,
                                4, kNid, kSlot, 13, o.rbIdx.data()));
  });
  EXPECT_NE(err.find("nrUeCchChEstEq"), std::string::npos);
  // A list out of order would index the sequence before its first RB.
  o.rbIdx[3] = 2;
  EXPECT_NE(captureDiag([&] {
              EXPECT_FALSE(nrUeCchChEstEq(gnrUeCchDataRe, o.dataN, gnrUeCchDmrsRe, o.dmrsN,
                                          &gnrCchMwItf, 2, 4, kNid, kSlot, 0, o.rbIdx.data()));
            }).find("ascending"),
            std::string::npos);
  EXPECT_EQ(gnrUeCchDataRe[0].ant[0], before);
}
