// The hardware model against the software chain of phy/coding, stage by stage: CRC parity and bank
// memory, encoder cell, rate-matcher FIFOs.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "config/mcs_table.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/common/tbs.h"
#include "tests/hwmodel/hw_test_util.h"
#include "tests/test_util.h"

using hwtest::HwMem;
using hwtest::Shape;

namespace {

constexpr int32_t kQms[] = {1, 2, 4, 6, 8};

// What a table of cases reached, so that a table edited later still covers every path.
struct Coverage {
  bool bg[2] = {};
  bool set[8] = {};
  bool qm[9] = {};
  bool segmented = false, largeE = false, k0InFillers = false, wraps = false, repeats = false;
  bool smallZc = false, largeZc = false;

  void add(const NrHwCwParams& r, int32_t k0) {
    const int32_t Zc = nrHwLiftSize(r.iLS, r.zExp);
    const int32_t K = (r.bgIdx == 0 ? 22 : 10) * Zc;
    const int32_t Kp = nrHwRecordKp(&r);
    const int32_t fillers = K - Kp;
    const int32_t m = r.Ncb - fillers;
    bg[r.bgIdx] = set[r.iLS] = qm[r.Qm] = true;
    segmented |= r.cbNum > 1;
    largeE |= r.cbBoundary < r.cbNum - 1;
    k0InFillers |= fillers > 0 && k0 >= Kp - 2 * Zc && k0 < K - 2 * Zc;
    wraps |= static_cast<int64_t>(r.eRowSmall) * r.Qm > m;
    repeats |= r.eRowSmall > m;
    smallZc |= Zc <= 4;
    largeZc |= Zc >= 352;
  }
  void expectComplete() const {
    EXPECT_TRUE(bg[0] && bg[1]);
    for (int s = 0; s < 8; s++) EXPECT_TRUE(set[s]) << "set " << s;
    for (int32_t q : kQms) EXPECT_TRUE(qm[q]) << "Qm " << q;
    EXPECT_TRUE(segmented);
    EXPECT_TRUE(largeE);
    EXPECT_TRUE(k0InFillers);
    EXPECT_TRUE(wraps);
    EXPECT_TRUE(repeats);
    EXPECT_TRUE(smallZc);
    EXPECT_TRUE(largeZc);
  }
};

void randomPayload(HwMem& m, int32_t bits, uint32_t seed) {
  std::mt19937 rng(seed);
  for (int32_t i = 0; i < bits; i++) m.payload[i] = static_cast<int32_t>(rng() & 1);
}

// One shape per lifting size of each base graph, the other parameters rotating through their
// values: fillers or none, one or three code blocks, every Qm and layer count, rows shorter than
// a pass of the buffer, a little longer, and several passes long, k0 of every redundancy version
// or inside the filler range.
Shape shapeFor(int32_t bgIdx, int32_t idx, int32_t n) {
  const int32_t Zc = gnrLdpcLiftSizes[idx];
  const int32_t kb = bgIdx == 0 ? 22 : 10;
  const int32_t K = kb * Zc;
  const int32_t N = (bgIdx == 0 ? 66 : 50) * Zc;
  Shape s{};
  s.bgIdx = bgIdx;
  s.Zc = Zc;
  s.C = n % 7 >= 4 && K >= 96 ? 3 : 1;
  int32_t Kp = K - (K - 2 * Zc) * (n % 4) / 8;
  const int32_t minKp = s.C > 1 ? 48 : 16;
  if (Kp < minKp) Kp = minKp;
  s.tbCrc24 = s.C > 1 || (n % 2 == 1 && Kp >= 24) ? 1 : 0;
  s.infoLen = Kp - (s.C > 1 || s.tbCrc24 ? 24 : 16);
  s.Qm = kQms[n % 5];
  s.layers = 1 + n % 4;
  const int32_t m = N - (K - Kp);
  const int32_t eRows[3] = {std::max(1, m / (3 * s.Qm)), m / s.Qm + 7,
                            std::min(65535 - s.layers, 3 * m + 5)};
  s.eRowSmall = eRows[n % 3];
  s.cbBoundary = s.C > 1 ? n % 2 : 0;
  static constexpr int32_t kRv[2][4] = {{0, 17, 33, 56}, {0, 13, 25, 43}};
  s.k0 = n % 5 == 4 ? Kp - 2 * Zc + (K - Kp) / 2 : kRv[bgIdx][n % 4] * Zc;
  return s;
}

}  // namespace

// Every lifting size of both base graphs: the model's CRC, bank memory, encoder cell and FIFOs
// equal nrCrcCalc, the software code block, nrLdpcEncode's codeword (fillers as 0) and
// nrLdpcRateMatch's output read as bit i * Qm + j = FIFO j element i.
TEST(HwChain, EveryStageEqualsTheSoftwareChainForEveryLiftingSize) {
  Coverage cov;
  HwMem m;
  int32_t n = 0;
  for (int32_t bgIdx = 0; bgIdx < 2; bgIdx++)
    for (int32_t idx = 0; idx < kLiftSizeN; idx++, n++) {
      const Shape s = shapeFor(bgIdx, idx, n);
      const NrHwCwParams rec = hwtest::recordOf(s);
      cov.add(rec, s.k0);
      randomPayload(m, hwtest::tbBits(rec), static_cast<uint32_t>(n));
      const std::vector<int32_t> tb = hwtest::swTransportBlock(rec, m.payload.data());
      nrHwRateMatchReset();
      for (int32_t r = 0; r < rec.cbNum; r++) {
        hwtest::expectBlockMatches(
            rec, m, tb, s.k0, r, "BG" + std::to_string(bgIdx + 1) + " Zc " + std::to_string(s.Zc));
        if (HasFatalFailure()) return;
      }
    }
  cov.expectComplete();
}

namespace {

struct Alloc {
  int32_t mcs, layers, nRePerPrb, nPrb;
};

// Allocations from the smallest transport block to 150 code blocks: every modulation order, low
// rates (base graph 2 with segmentation), the half-valued rates of MCS 20 and 26, many layers.
const Alloc kAllocs[] = {
    {0, 1, 12, 1},    {2, 1, 60, 3},    {4, 2, 100, 10},   {1, 1, 156, 273},  {6, 1, 48, 20},
    {9, 2, 132, 25},  {11, 1, 156, 52}, {14, 3, 144, 60},  {17, 2, 120, 80},  {20, 2, 120, 80},
    {22, 1, 96, 106}, {26, 4, 156, 51}, {27, 1, 156, 273}, {27, 4, 156, 273}, {5, 4, 36, 2},
};

}  // namespace

// The model run as the drivers run it: parameters from an MCS and an allocation, the PN9 payload
// of nrHwTxPrepare, every code block of every redundancy version through all stages.
TEST(HwChain, PreparedTransportBlocksMatchTheSoftwareChainForEveryRedundancyVersion) {
  Coverage cov;
  HwMem m;
  std::vector<int32_t> payload2(2 * static_cast<size_t>(kHwPayloadBits));
  uint32_t regs[2 * kHwCfgRegWords];
  for (const Alloc& a : kAllocs) {
    const std::string what = "MCS " + std::to_string(a.mcs) + ", " + std::to_string(a.layers) +
                             " layers, " + std::to_string(a.nRePerPrb) + " REs x " +
                             std::to_string(a.nPrb) + " PRBs";
    const uint64_t tbs = nrHwTxPrepare(a.mcs, a.layers, a.nRePerPrb, a.nPrb, regs, payload2.data());
    ASSERT_GT(tbs, 0u) << what;
    for (int32_t rv = 0; rv < 4; rv++) {
      NrHwCwParams rec;
      ASSERT_EQ(nrHwLdpcParamCalc(a.mcs, a.layers, a.nRePerPrb, a.nPrb, rv, &rec), tbs) << what;
      const NrLdpcParams sw0 = hwtest::swParams(rec, 0, 0);
      static constexpr int32_t kRv[2][4] = {{0, 17, 33, 56}, {0, 13, 25, 43}};
      const int32_t k0 = kRv[rec.bgIdx][rv] * sw0.Zc;
      cov.add(rec, k0);
      std::copy_n(payload2.begin(), kHwPayloadBits, m.payload.begin());
      const std::vector<int32_t> tb = hwtest::swTransportBlock(rec, m.payload.data());
      nrHwRateMatchReset();
      for (int32_t r = 0; r < rec.cbNum; r++) {
        hwtest::expectBlockMatches(rec, m, tb, k0, r, what + ", rv " + std::to_string(rv));
        if (HasFatalFailure()) return;
      }
    }
  }
  EXPECT_TRUE(cov.bg[0] && cov.bg[1] && cov.segmented && cov.largeE);
  for (int32_t q : {2, 4, 6, 8}) EXPECT_TRUE(cov.qm[q]) << "Qm " << q;
}

// Where the model's integer rate and the software's float rate give the same transport block, the
// FIFOs read out in transmission order, concatenated over the code blocks, are the bits
// nrDlschEncode sends for redundancy version 0.
TEST(HwChain, FifoOutputInTransmissionOrderIsTheSharedChannelEncoderOutput) {
  ScopedTempDir dir;
  HwMem m;
  std::vector<int32_t> payload2(2 * static_cast<size_t>(kHwPayloadBits));
  uint32_t regs[2 * kHwCfgRegWords];
  int compared = 0;
  for (const Alloc& a : kAllocs) {
    const uint64_t tbs = nrHwTxPrepare(a.mcs, a.layers, a.nRePerPrb, a.nPrb, regs, payload2.data());
    int32_t qm = 0, c = 0;
    float rate = 0;
    uint64_t swTbs = 0, G = 0;
    nrTbsCalc(a.mcs, a.nRePerPrb, a.nPrb, a.layers, &qm, &c, &rate, &swTbs, &G);
    const NrHwCwParams& rec = nrHwCwParams[0];
    if (swTbs != tbs || rec.cbNum > kMaxCodeBlocks) continue;
    std::vector<int32_t> expect(G);
    const int64_t sent = nrDlschEncode(a.mcs, a.layers, a.nRePerPrb, a.nPrb, expect.data(), 0);
    ASSERT_GT(sent, 0);

    std::copy_n(payload2.begin(), kHwPayloadBits, m.payload.begin());
    LdpcCoreParams core;
    ASSERT_TRUE(nrHwCoreParamCalc(&rec, &core));
    nrHwRateMatchReset();
    std::vector<int32_t> got;
    for (int32_t r = 0; r < rec.cbNum; r++) {
      int32_t encFinish = 0, rmFinish = 0;
      ASSERT_TRUE(nrHwCrcCb(&rec, r, m.payload.data(), m.crcOut, m.bank.data()));
      ASSERT_TRUE(nrHwCellLoadSys(&core, m.bank.data(), m.cell.data()));
      ASSERT_TRUE(nrHwLdpcEnc(&core, m.bank.data(), m.cell.data(), &encFinish));
      ASSERT_TRUE(nrHwRateMatch(&rec, 0, m.cell.data(), m.fifos.data(), &rmFinish, nullptr));
      const int32_t eRow = rec.eRowSmall + (r > rec.cbBoundary ? rec.layerNumM1 + 1 : 0);
      for (int32_t i = 0; i < eRow; i++)
        for (int32_t j = 0; j < rec.Qm; j++)
          got.push_back(m.fifos[static_cast<int64_t>(j) * kHwFifoDepth + i]);
    }
    expect.resize(sent);
    EXPECT_EQ(got, expect) << "MCS " << a.mcs << ", " << a.nPrb << " PRBs";
    compared++;
  }
  EXPECT_GE(compared, 10);
}
