#include "hwmodel/hw_params.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "config/mcs_table.h"
#include "phy/coding/ldpc_params.h"
#include "phy/common/sequence.h"
#include "phy/common/tbs.h"
#include "tests/hwmodel/hw_test_util.h"
#include "tests/test_util.h"

using hwtest::Shape;

namespace {

// TS 38.212 5.4.2.1 one position at a time: the circular-buffer positions of the selected bits
// j * eRowSmall (j < Qm), read from k0 with the filler positions skipped.
std::vector<int32_t> walkRowStarts(const NrHwCwParams& r, int32_t k0) {
  const int32_t Zc = nrHwLiftSize(r.iLS, r.zExp);
  const int32_t fS = nrHwRecordKp(&r) - 2 * Zc;
  const int32_t fE = (r.bgIdx == 0 ? 20 : 8) * Zc;
  std::vector<int32_t> starts;
  int64_t selected = 0;
  for (int32_t p = k0; static_cast<int32_t>(starts.size()) < r.Qm; p = (p + 1) % r.Ncb) {
    if (p >= fS && p < fE) continue;
    while (static_cast<int32_t>(starts.size()) < r.Qm &&
           selected == static_cast<int64_t>(starts.size()) * r.eRowSmall)
      starts.push_back(p);
    selected++;
  }
  return starts;
}

struct Alloc {
  int32_t mcs, layers, nRePerPrb, nPrb;
};

std::vector<Alloc> allocGrid() {
  std::vector<Alloc> v;
  for (int32_t mcs = 0; mcs < 32; mcs++)
    for (int32_t nPrb : {1, 4, 17, 52, 106, 273})
      v.push_back({mcs, 1 + (mcs + nPrb) % 4, 12 + (mcs * 7 + nPrb) % 145, nPrb});
  return v;
}

// A record with every field at a distinct in-range value.
NrHwCwParams sampleRecord() {
  Shape s{};
  s.bgIdx = 1;
  s.Zc = 5;
  s.infoLen = 7;
  s.C = 1;
  s.tbCrc24 = 0;
  s.Qm = 6;
  s.layers = 3;
  s.eRowSmall = 11;
  s.k0 = 13;
  return hwtest::recordOf(s);
}

}  // namespace

// Zc = base * 2^zExp with the register's 3-bit pattern: Zc 2 and 3 are set 0 / set 1 with zExp
// -2 (pattern 6), Zc 5 set 2 with -1 (pattern 7), and the pattern reads back as the same size.
TEST(HwParams, LiftingSizesDecomposeIntoSetBaseAndExponent) {
  struct Case {
    int32_t Zc, iLS, zExp;
  };
  for (const Case& c : {Case{2, 0, -2}, Case{3, 1, -2}, Case{5, 2, -1}, Case{10, 2, 0},
                        Case{7, 3, 0}, Case{256, 0, 5}, Case{384, 1, 5}, Case{240, 7, 4}}) {
    int32_t iLS = -1;
    EXPECT_EQ(hwtest::zExpOf(c.Zc, &iLS), c.zExp) << "Zc " << c.Zc;
    EXPECT_EQ(iLS, c.iLS) << "Zc " << c.Zc;
  }
  for (int32_t idx = 0; idx < kLiftSizeN; idx++) {
    const int32_t Zc = gnrLdpcLiftSizes[idx];
    int32_t iLS = 0;
    const int32_t z = hwtest::zExpOf(Zc, &iLS);
    EXPECT_EQ(nrHwLiftSize(iLS, z & 7), Zc) << "pattern of Zc " << Zc;
  }
  EXPECT_EQ(nrHwLiftSize(3, -1), 0);  // 7 / 2 is no lifting size
  EXPECT_EQ(nrHwLiftSize(0, 6 + 8), 0);

  Shape s{};
  s.bgIdx = 1;
  s.Zc = 2;
  s.infoLen = 4;
  s.C = 1;
  s.Qm = 2;
  s.layers = 1;
  s.eRowSmall = 3;
  const NrHwCwParams two = hwtest::recordOf(s);
  uint32_t w[kHwCfgRegWords];
  ASSERT_TRUE(nrHwRegPack(&two, true, w));
  EXPECT_EQ((w[1] >> 8) & 7u, 6u);
  EXPECT_EQ((w[1] >> 4) & 7u, 0u);
}

TEST(HwParams, BankGeometrySplitsColumnBlocksAtTheSetThreshold) {
  struct Case {
    int32_t Zc, bitLen, num;
  };
  // Below the threshold one row; at or above it rows of the threshold, halved beyond 48 slots.
  for (const Case& c :
       {Case{32, 32, 1}, Case{64, 32, 2}, Case{72, 36, 2}, Case{40, 40, 1}, Case{384, 48, 8},
        Case{256, 32, 8}, Case{2, 2, 1}, Case{44, 44, 1}, Case{352, 44, 8}, Case{224, 28, 8}}) {
    Shape s{};
    s.bgIdx = 0;
    s.Zc = c.Zc;
    s.infoLen = 22 * c.Zc - 24;
    s.C = 1;
    s.tbCrc24 = 1;
    s.Qm = 1;
    s.layers = 1;
    s.eRowSmall = 1;
    const NrHwCwParams rec = hwtest::recordOf(s);
    LdpcCoreParams core;
    ASSERT_TRUE(nrHwCoreParamCalc(&rec, &core));
    int32_t bitLen = 0, num = 0;
    ASSERT_TRUE(nrHwBankGeometry(core.Zc, core.Zthr, core.zExpAbove, &bitLen, &num));
    EXPECT_EQ(bitLen, c.bitLen) << "Zc " << c.Zc;
    EXPECT_EQ(num, c.num) << "Zc " << c.Zc;
  }
  int32_t bitLen = -1, num = -1;
  EXPECT_FALSE(nrHwBankGeometry(96, 48, 0, &bitLen, &num));  // 48 bits x 1 row is not 96
  EXPECT_FALSE(nrHwBankGeometry(120, 120, 0, &bitLen, &num));
  EXPECT_EQ(bitLen, -1);
  EXPECT_EQ(num, -1);
}

TEST(HwParams, CoreParametersDescribeTheLiftedBaseGraph) {
  for (int32_t bgIdx = 0; bgIdx < 2; bgIdx++)
    for (int32_t idx = 0; idx < kLiftSizeN; idx++) {
      const int32_t Zc = gnrLdpcLiftSizes[idx];
      const int32_t kb = bgIdx == 0 ? 22 : 10;
      Shape s{};
      s.bgIdx = bgIdx;
      s.Zc = Zc;
      s.tbCrc24 = kb * Zc >= 40 ? 1 : 0;
      s.infoLen = kb * Zc - (s.tbCrc24 ? 24 : 16);
      s.C = 1;
      s.Qm = 1;
      s.layers = 1;
      s.eRowSmall = 1;
      const NrHwCwParams rec = hwtest::recordOf(s);
      LdpcCoreParams c;
      ASSERT_TRUE(nrHwCoreParamCalc(&rec, &c));
      EXPECT_EQ(c.Zc, Zc);
      EXPECT_EQ(c.K, kb * Zc);
      EXPECT_EQ(c.N, (bgIdx == 0 ? 66 : 50) * Zc);
      EXPECT_EQ(c.Kp, kb * Zc);
      EXPECT_EQ(c.extColStart, kb + 4);
      EXPECT_EQ(c.extColEnd, bgIdx == 0 ? 68 : 52);
      // The exponents around the threshold give back Zc.
      if (Zc > c.Zthr) {
        EXPECT_EQ(c.Zthr << c.zExpAbove, Zc);
        EXPECT_EQ(c.zExpBelow, -1);
      } else {
        EXPECT_EQ(c.zExpAbove, 0);
        EXPECT_EQ(kHwLiftBase[c.iLS] << kHwLiftThrExp[c.iLS], c.Zthr);
        EXPECT_GE(c.zExpBelow, 0);
      }
    }
}

TEST(HwParams, RegisterWordsCarryEachFieldAtItsBits) {
  NrHwCwParams r = sampleRecord();
  uint32_t w[kHwCfgRegWords];
  ASSERT_TRUE(nrHwRegPack(&r, true, w));
  EXPECT_EQ(w[0], 1u);
  EXPECT_EQ(w[1], 1u | 2u << 4 | 7u << 8 | 0u << 16 | 38u << 24);  // zExp -1: pattern 7
  EXPECT_EQ(w[2], 0u | 7u << 4);
  EXPECT_EQ(w[3], static_cast<uint32_t>(r.Ncb) | 6u << 16 | 2u << 20);
  EXPECT_EQ(w[4], 1u | 0u << 8);
  EXPECT_EQ(w[5], 11u);
  for (int i = 0; i < 4; i++)
    EXPECT_EQ(w[6 + i], static_cast<uint32_t>(r.m_k0[2 * i]) |
                            static_cast<uint32_t>(r.m_k0[2 * i + 1]) << 16);
  ASSERT_TRUE(nrHwRegPack(&r, false, w));
  EXPECT_EQ(w[0], 0u);
}

// Unpacking gives back every field (zExp as its 3-bit pattern), and packing the unpacked records
// gives back the words, for the records of many allocations and redundancy versions.
TEST(HwParams, RegisterPackAndUnpackRoundTrip) {
  int checked = 0;
  NrHwCwParams prev = sampleRecord();
  for (const auto& a : allocGrid()) {
    NrHwCwParams rec;
    if (nrHwLdpcParamCalc(a.mcs, a.layers, a.nRePerPrb, a.nPrb, a.mcs % 4, &rec) == 0) continue;
    uint32_t regs[2 * kHwCfgRegWords];
    ASSERT_TRUE(nrHwRegPack(&rec, true, regs));
    ASSERT_TRUE(nrHwRegPack(&prev, false, regs + kHwCfgRegWords));
    nrHwRegUnpack(regs);
    const NrHwCwParams* back = nrHwCwParams;
    for (int cw = 0; cw < 2; cw++) {
      NrHwCwParams want = cw == 0 ? rec : prev;
      want.zExp &= 7;
      EXPECT_EQ(std::memcmp(&back[cw], &want, sizeof(want)), 0) << "MCS " << a.mcs << " cw " << cw;
    }
    uint32_t again[2 * kHwCfgRegWords];
    ASSERT_TRUE(nrHwRegPack(&back[0], true, again));
    ASSERT_TRUE(nrHwRegPack(&back[1], false, again + kHwCfgRegWords));
    EXPECT_EQ(std::memcmp(again, regs, sizeof(regs)), 0);
    prev = rec;
    checked++;
  }
  EXPECT_GT(checked, 150);
}

// The closed form equals a walk of the circular buffer for every Qm, rows shorter and longer than
// the buffer (wrap-around, repeated passes), k0 before, inside, at the ends of and after the
// filler range, and short and long codes of both base graphs.
TEST(HwParams, ClosedFormRowStartsEqualAWalkOfTheCircularBuffer) {
  int checked = 0;
  for (int32_t bgIdx = 0; bgIdx < 2; bgIdx++)
    for (int32_t Zc : {2, 5, 13, 44, 208, 384}) {
      const int32_t kb = bgIdx == 0 ? 22 : 10;
      const int32_t K = kb * Zc;
      for (int32_t Kp : {K, K - (K - 2 * Zc) / 3, 2 * Zc + 17})
        for (int32_t Qm : {1, 2, 4, 6, 8}) {
          if (Kp < 16 || Kp > K || Kp < 2 * Zc) continue;
          Shape s{};
          s.bgIdx = bgIdx;
          s.Zc = Zc;
          s.infoLen = Kp - 16;
          s.C = 1;
          s.Qm = Qm;
          s.layers = 1;
          const int32_t N = (bgIdx == 0 ? 66 : 50) * Zc;
          const int32_t fS = Kp - 2 * Zc, fE = K - 2 * Zc, m = N - (K - Kp);
          for (int32_t e : {0, 1, m / Qm - 1, m / Qm, m / Qm + 1, m - 1, m, m + 1, 2 * m + 3}) {
            for (int32_t k0 : {0, 17 * Zc % N, fS - 1, fS, fE - 1, fE, N - 1}) {
              if (e < 0 || k0 < 0 || k0 >= N) continue;
              s.eRowSmall = e;
              s.k0 = k0;
              NrHwCwParams r = hwtest::recordOf(s);
              const std::vector<int32_t> walk = walkRowStarts(r, k0);
              for (int32_t j = 0; j < Qm; j++)
                ASSERT_EQ(r.m_k0[j], walk[j])
                    << "BG" << bgIdx + 1 << " Zc " << Zc << " K' " << Kp << " Qm " << Qm << " eRow "
                    << e << " k0 " << k0 << " row " << j;
              for (int32_t j = Qm; j < 8; j++) EXPECT_EQ(r.m_k0[j], 0);
              checked++;
            }
          }
        }
    }
  EXPECT_GT(checked, 2000);
}

// For every allocation the software chain accepts, the model's record describes the same code:
// base graph, lifting size, K', code blocks, E per block and k0; and the transport block size is
// nrTbsCalc's wherever the MCS rate is an integer (the model truncates 682.5 and 916.5).
TEST(HwParams, ParametersAgreeWithTheSoftwareChain) {
  int checked = 0;
  for (const auto& a : allocGrid())
    for (int32_t rv = 0; rv < 4; rv++) {
      NrHwCwParams rec;
      const uint64_t tbs = nrHwLdpcParamCalc(a.mcs, a.layers, a.nRePerPrb, a.nPrb, rv, &rec);
      ASSERT_GT(tbs, 0u) << "MCS " << a.mcs << " PRBs " << a.nPrb;
      const int i = a.mcs % 32;
      int32_t qm = 0, c = 0;
      float rate = 0;
      uint64_t swTbs = 0, G = 0;
      nrTbsCalc(a.mcs, a.nRePerPrb, a.nPrb, a.layers, &qm, &c, &rate, &swTbs, &G);
      if (gnrMcsRateX1024[i] == static_cast<float>(static_cast<int>(gnrMcsRateX1024[i]))) {
        EXPECT_EQ(tbs, swTbs) << "MCS " << a.mcs << " PRBs " << a.nPrb;
      }
      NrLdpcParams p{};
      const float r1024 = static_cast<float>(static_cast<int>(gnrMcsRateX1024[i]));
      bool accepted = false;
      captureDiag([&] {
        accepted = nrLdpcParamCalc(static_cast<int64_t>(tbs), static_cast<int64_t>(G), r1024, qm,
                                   static_cast<uint8_t>(rv), a.layers, &p);
      });
      if (!accepted) continue;  // beyond the software record's 100 code blocks
      const std::string what = "MCS " + std::to_string(a.mcs) + " PRBs " + std::to_string(a.nPrb);
      EXPECT_EQ(rec.bgIdx + 1, p.bg) << what;
      EXPECT_EQ(nrHwLiftSize(rec.iLS, rec.zExp), p.Zc) << what;
      EXPECT_EQ(rec.iLS, p.iLS) << what;
      EXPECT_EQ(nrHwRecordKp(&rec), p.Kp) << what;
      EXPECT_EQ(rec.cbNum, p.C) << what;
      EXPECT_EQ(rec.Ncb, p.Ncb) << what;
      EXPECT_EQ(rec.Qm, qm) << what;
      EXPECT_EQ(rec.tbCrc24, tbs > 3824 ? 1 : 0) << what;
      for (int32_t r = 0; r < rec.cbNum; r++)
        EXPECT_EQ(hwtest::swParams(rec, p.k0, r).E[0], p.E[r]) << what << " block " << r;
      const std::vector<int32_t> walk = walkRowStarts(rec, p.k0);
      for (int32_t j = 0; j < rec.Qm; j++) EXPECT_EQ(rec.m_k0[j], walk[j]) << what;
      checked++;
    }
  EXPECT_GT(checked, 600);
}

// Codeword 0 and 1 get the same record, the same register words but the start flag, and the same
// PN9 transport block; the C library generator is left seeded with 686866.
TEST(HwParams, TxPrepareFillsBothCodewordsFromOneRecord) {
  std::vector<int32_t> payload(2 * static_cast<size_t>(kHwPayloadBits), 5);
  uint32_t regs[2 * kHwCfgRegWords];
  const uint64_t tbs = nrHwTxPrepare(27, 2, 132, 106, regs, payload.data());
  const int seeded = std::rand();
  std::srand(686866);
  EXPECT_EQ(seeded, std::rand());

  NrHwCwParams rec;
  ASSERT_EQ(nrHwLdpcParamCalc(27, 2, 132, 106, 0, &rec), tbs);
  EXPECT_EQ(std::memcmp(&nrHwCwParams[0], &rec, sizeof(rec)), 0);
  EXPECT_EQ(std::memcmp(&nrHwCwParams[1], &rec, sizeof(rec)), 0);
  uint32_t words[kHwCfgRegWords];
  ASSERT_TRUE(nrHwRegPack(&rec, true, words));
  EXPECT_EQ(std::memcmp(regs, words, sizeof(words)), 0);
  EXPECT_EQ(regs[kHwCfgRegWords], 0u);
  EXPECT_EQ(std::memcmp(regs + kHwCfgRegWords + 1, words + 1, sizeof(words) - 4), 0);

  std::vector<int32_t> pn(tbs);
  nrPnSeqInit(9);
  nrPnSeqGen(9, pn.data(), tbs);
  EXPECT_TRUE(std::equal(pn.begin(), pn.end(), payload.begin()));
  EXPECT_EQ(payload[tbs], 5);  // beyond the transport block the area is left as it was
  EXPECT_TRUE(std::equal(payload.begin(), payload.begin() + kHwPayloadBits,
                         payload.begin() + kHwPayloadBits));
}

// Requests and records the registers cannot hold are refused with a diagnostic naming the value,
// before anything is written.
TEST(HwParams, RefusesParameterSetsBeyondTheRegisterWidths) {
  NrHwCwParams untouched;
  std::memset(&untouched, 0x5A, sizeof(untouched));
  struct Request {
    const char* what;
    int32_t mcs, layers, nRePerPrb, nPrb;
    const char* field;
  };
  const Request requests[] = {
      {"five layers", 10, 5, 156, 10, "numLayers"},
      {"no REs", 10, 1, 0, 10, "nRePerPrb"},
      {"N_info product beyond 32 bits", 27, 4, 156, 600, "N_info"},
      {"G beyond 32 bits", 0, 4, 2000000, 300, "G beyond 32 bits"},
      {"row beyond 16 bits", 0, 1, 10000, 10, "eRowSmall"},
  };
  for (const Request& q : requests) {
    NrHwCwParams rec = untouched;
    uint64_t tbs = 1;
    const std::string diag = captureDiag(
        [&] { tbs = nrHwLdpcParamCalc(q.mcs, q.layers, q.nRePerPrb, q.nPrb, 0, &rec); });
    EXPECT_EQ(tbs, 0u) << q.what;
    EXPECT_NE(diag.find("nrHwLdpcParamCalc(): "), std::string::npos) << q.what;
    EXPECT_NE(diag.find(q.field), std::string::npos) << q.what << ": " << diag;
    EXPECT_EQ(std::memcmp(&rec, &untouched, sizeof(rec)), 0) << q.what;
  }

  // Records: every field beyond its register, and codes the memories cannot hold.
  struct Bad {
    const char* what;
    void (*spoil)(NrHwCwParams*);
    const char* field;
  };
  const Bad bads[] = {
      {"infoLen of 15 bits", [](NrHwCwParams* r) { r->infoLen = 16384; }, "infoLen"},
      {"256 code blocks", [](NrHwCwParams* r) { r->cbNum = 256; }, "cbNum"},
      {"no code block", [](NrHwCwParams* r) { r->cbNum = 0; }, "cbNum"},
      {"cbBoundary of 9 bits", [](NrHwCwParams* r) { r->cbBoundary = 256; }, "cbBoundary"},
      {"zExp beyond 3 bits", [](NrHwCwParams* r) { r->zExp = 8; }, "zExp"},
      {"zExp of no size", [](NrHwCwParams* r) { r->zExp = -2; }, "zExp"},
      {"bgIdx 2", [](NrHwCwParams* r) { r->bgIdx = 2; }, "bgIdx"},
      {"iLS 8", [](NrHwCwParams* r) { r->iLS = 8; }, "iLS"},
      {"Qm 3", [](NrHwCwParams* r) { r->Qm = 3; }, "Qm"},
      {"five layers", [](NrHwCwParams* r) { r->layerNumM1 = 4; }, "layerNumM1"},
      {"eRowSmall of 17 bits", [](NrHwCwParams* r) { r->eRowSmall = 65536; }, "eRowSmall"},
      {"Ncb of 16 bits", [](NrHwCwParams* r) { r->Ncb = 32768; }, "Ncb"},
      {"Ncb beyond the codeword", [](NrHwCwParams* r) { r->Ncb += 1; }, "Ncb"},
      {"m_k0 of 16 bits", [](NrHwCwParams* r) { r->m_k0[7] = 32768; }, "m_k0"},
      {"m_k0 beyond Ncb", [](NrHwCwParams* r) { r->m_k0[1] = r->Ncb; }, "m_k0"},
      {"extension rows beyond the graph", [](NrHwCwParams* r) { r->extRowStart = 1; },
       "extRowStart + extRowNum"},
      {"K' beyond K", [](NrHwCwParams* r) { r->infoLen += 64; }, "K'"},
      {"row longer than a FIFO",
       [](NrHwCwParams* r) {
         r->eRowSmall = 65535;
         r->cbNum = 2;
         r->infoLen = 20;
       },
       "eRow"},
  };
  for (const Bad& b : bads) {
    NrHwCwParams rec = sampleRecord();
    ASSERT_TRUE(nrHwCwParamsCheck(&rec, "test"));
    b.spoil(&rec);
    uint32_t words[kHwCfgRegWords];
    std::memset(words, 0xA5, sizeof(words));
    LdpcCoreParams core;
    std::memset(&core, 0xA5, sizeof(core));
    const std::string diag = captureDiag([&] {
      EXPECT_FALSE(nrHwRegPack(&rec, true, words)) << b.what;
      EXPECT_FALSE(nrHwCoreParamCalc(&rec, &core)) << b.what;
    });
    EXPECT_NE(diag.find("nrHwRegPack(): "), std::string::npos) << b.what;
    EXPECT_NE(diag.find(std::string(b.field) + " = "), std::string::npos) << b.what << ": " << diag;
    for (uint32_t w : words) EXPECT_EQ(w, 0xA5A5A5A5u) << b.what;
    EXPECT_EQ(core.Zc, static_cast<int32_t>(0xA5A5A5A5)) << b.what;
  }

  // A refused preparation writes no register, record or payload element.
  std::vector<int32_t> payload(2 * static_cast<size_t>(kHwPayloadBits), 3);
  uint32_t regs[2 * kHwCfgRegWords];
  std::memset(regs, 0xA5, sizeof(regs));
  std::memset(nrHwCwParams, 0x5A, sizeof(nrHwCwParams));
  const std::string diag =
      captureDiag([&] { EXPECT_EQ(nrHwTxPrepare(0, 1, 10000, 10, regs, payload.data()), 0u); });
  EXPECT_NE(diag.find("eRowSmall"), std::string::npos);
  for (uint32_t w : regs) EXPECT_EQ(w, 0xA5A5A5A5u);
  for (const NrHwCwParams& r : nrHwCwParams) EXPECT_EQ(std::memcmp(&r, &untouched, sizeof(r)), 0);
  EXPECT_TRUE(std::all_of(payload.begin(), payload.end(), [](int32_t v) { return v == 3; }));
}
