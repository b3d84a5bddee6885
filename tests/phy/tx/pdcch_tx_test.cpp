#include "phy/tx/pdcch_tx.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "phy/coding/dci_encode.h"
#include "phy/common/pdcch_map.h"
#include "phy/common/sequence.h"
#include "tests/test_util.h"

namespace {

int32_t (*const grid)[kGridScCap] = gnrNbTxBuf.nbTxGrid;

void clearGrid() { std::memset(gnrNbTxBuf.nbTxGrid, 0, sizeof(gnrNbTxBuf.nbTxGrid)); }

bool gridIsEmpty() {
  for (int l = 0; l < kSymbolsPerSlot; l++)
    for (int k = 0; k < kGridScCap; k++)
      if (grid[l][k] != 0) return false;
  return true;
}

// A one-symbol interleaved CORESET of 48 RBs (8 CCEs, bundles of 6 REGs, R = 2) from RB 10,
// monitored at symbol 2, with one PDCCH at aggregation level 1.
void oneSymbolSlot(uint8_t ueSpecific) {
  freshDefaultSlot();
  NrCoresetCfg& cs = gnrNbConfig.coresetCfg[0];
  cs.duration = 1;
  cs.allocNrb = 48;
  cs.cceN = 8;
  for (int r = 0; r < 48; r++) cs.rbIdx[r] = static_cast<uint16_t>(10 + r);
  cs.Lreg = 6;
  cs.intvR = 2;
  cs.Nshift = 1;
  cs.regBundleN = 8;
  cs.intvC = 4;
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 2; r++)
      cs.regBundleMap[2 * c + r] = static_cast<uint16_t>((4 * r + c + 1) % 8);
  gnrNbConfig.searchSpaceCfg[0].startSymbol = 2;
  NrPdcchCfg& p = gnrNbConfig.pdcchCfg[0];
  p.aggrL = 1;
  p.cceStart = 1;  // CCE 1 x 6 / 1 = 6 of 8
  p.ueSpecific = ueSpecific;
}

// The QPSK symbols nrPdcchTx should send for the first PDCCH of a call.
std::vector<int32_t> expectedSymbols(const NrPdcchCfg& p, uint16_t pci) {
  int32_t payload[100];
  nrPnSeqInit(9);
  nrPnSeqGen(9, payload, p.payloadSize);
  const int E = 108 * p.aggrL;
  std::vector<int16_t> bits(E);
  EXPECT_TRUE(
      nrDciEncode(payload, p.payloadSize, bits.data(), 1, p.rnti, static_cast<uint16_t>(E)));
  // TS 38.211 7.3.2.3 scrambling of the bits, then 1 - 2b on each half of a QPSK symbol.
  nrGoldSeqGen(static_cast<int32_t>(p.ueSpecific ? (p.rnti << 16) + pci : pci), E, 0, 0);
  std::vector<int32_t> sym(E / 2);
  for (int i = 0; i < E / 2; i++) {
    const int b0 = bits[2 * i] ^ gnrSeqBuf[kSeqBufGoldOffset + 2 * i];
    const int b1 = bits[2 * i + 1] ^ gnrSeqBuf[kSeqBufGoldOffset + 2 * i + 1];
    sym[i] = nrCpxPack(724 * (1 - 2 * b0), 724 * (1 - 2 * b1));
  }
  return sym;
}

}  // namespace

TEST(PdcchCandRbs, DefaultPdcchTakesEightRbsOfCcesThirtyTwoToThirtyFive) {
  freshDefaultSlot();
  NrPdcchCfg& p = gnrNbConfig.pdcchCfg[0];
  ASSERT_TRUE(nrPdcchCandRbs(&p, &gnrNbConfig.coresetCfg[0]));
  // Bundles f(64 .. 71) = 58, 70, 11, 23, 35, 47, 59, 71 of the CORESET starting at RB 5.
  EXPECT_EQ(std::vector<int>(p.rbIdx, p.rbIdx + p.rbN),
            (std::vector<int>{63, 75, 16, 28, 40, 52, 64, 76}));
}

TEST(PdcchCandRbs, RefusesStartsWhoseCcesLeaveTheCoreset) {
  // The generator can draw cceStart 8 at level 4 and 10 at level 2: CCE 64 and CCE 40 of 36.
  for (auto [aggr, start] : {std::pair{4, 8}, std::pair{2, 10}, std::pair{16, 1}}) {
    freshDefaultSlot();
    NrPdcchCfg& p = gnrNbConfig.pdcchCfg[0];
    p.aggrL = static_cast<uint8_t>(aggr);
    p.cceStart = static_cast<uint16_t>(start);
    clearGrid();
    const std::string err = captureDiag([&] {
      EXPECT_FALSE(nrPdcchCandRbs(&p, &gnrNbConfig.coresetCfg[0]));
      EXPECT_FALSE(nrPdcchTx(&gnrNbConfig, grid));
    });
    EXPECT_NE(err.find("cceStart " + std::to_string(start)), std::string::npos) << err;
    EXPECT_EQ(p.rbN, 0);
    EXPECT_TRUE(gridIsEmpty());
  }
}

TEST(PdcchTx, LevelOneInOneSymbolSendsFiftyFourSymbolsOnSixRbsWithTheCoresetDmrs) {
  for (uint8_t ueSpecific : {0, 1}) {
    oneSymbolSlot(ueSpecific);
    clearGrid();
    ASSERT_TRUE(nrPdcchTx(&gnrNbConfig, grid));
    const NrPdcchCfg& p = gnrNbConfig.pdcchCfg[0];
    // CCE 1 x 6 = 6, bundle f(6) = (4 x 0 + 3 + 1) mod 8 = 4: CORESET positions 24 .. 29.
    ASSERT_EQ(p.rbN, 6);
    for (int r = 0; r < 6; r++) EXPECT_EQ(p.rbIdx[r], 34 + r);

    const std::vector<int32_t> sym = expectedSymbols(p, gnrNbConfig.cellCfg.pci);
    const int8_t* dmrs = nrPdcchDmrsSeq(gnrNbConfig.slotIdx, 2, gnrNbConfig.cellCfg.pci,
                                        gnrNbConfig.bwpCfg.rbOffset + 10u, 48);
    ASSERT_NE(dmrs, nullptr);
    int used = 0;
    for (int l = 0; l < kSymbolsPerSlot; l++)
      for (int k = 0; k < kGridScCap; k++) {
        const int rb = k / 12, sc = k % 12;
        int32_t expect = 0;
        if (l == 2 && rb >= 10 && rb < 58 && sc % 4 == 1) {
          const int i = 3 * (rb - 10) + sc / 4;
          expect = nrCpxPack(724 * dmrs[2 * i], 724 * dmrs[2 * i + 1]);
        } else if (l == 2 && rb >= 34 && rb < 40) {
          const int q =
              static_cast<int>(std::find(kPdcchDataSc, kPdcchDataSc + 9, sc) - kPdcchDataSc);
          expect = sym[9 * (rb - 34) + q];
        }
        ASSERT_EQ(grid[l][k], expect) << "ue " << int(ueSpecific) << " l " << l << " k " << k;
        used += expect != 0;
      }
    EXPECT_EQ(used, 54 + 3 * 48);
  }
}

TEST(PdcchTx, DmrsOfRbsAfterAGapTakesTheirOwnSequenceIndex) {
  oneSymbolSlot(1);
  NrCoresetCfg& cs = gnrNbConfig.coresetCfg[0];
  for (int r = 24; r < 48; r++) cs.rbIdx[r] = static_cast<uint16_t>(cs.rbIdx[r] + 30);  // RBs 64 ..
  clearGrid();
  ASSERT_TRUE(nrPdcchTx(&gnrNbConfig, grid));
  const int8_t* dmrs = nrPdcchDmrsSeq(gnrNbConfig.slotIdx, 2, gnrNbConfig.cellCfg.pci,
                                      gnrNbConfig.bwpCfg.rbOffset + 10u, 78);
  for (int r = 0; r < 48; r++) {
    const int rb = cs.rbIdx[r];
    for (int k = 0; k < 3; k++) {
      const int i = 3 * (rb - 10) + k;
      EXPECT_EQ(grid[2][12 * rb + 4 * k + 1], nrCpxPack(724 * dmrs[2 * i], 724 * dmrs[2 * i + 1]))
          << "RB " << rb;
    }
  }
  // The candidate (positions 24 .. 29) lies after the gap; nothing is written inside it.
  EXPECT_EQ(gnrNbConfig.pdcchCfg[0].rbIdx[0], 64);
  for (int k = 12 * 34; k < 12 * 64; k++) EXPECT_EQ(grid[2][k], 0) << k;
}

TEST(PdcchTx, EveryCallIsASlotWithItsOwnCoresetDmrs) {
  freshDefaultSlot();
  // A second PDCCH on the same CORESET: the DMRS is written once, by the first.
  gnrNbConfig.pdcchN = 2;
  gnrNbConfig.pdcchCfg[1] = gnrNbConfig.pdcchCfg[0];
  gnrNbConfig.pdcchCfg[1].cceStart = 0;
  const NrCoresetCfg& cs = gnrNbConfig.coresetCfg[0];
  for (int slot : {7, 8}) {
    gnrNbConfig.slotIdx = static_cast<uint16_t>(slot);
    gnrNbConfig.searchSpaceCfg[0].monSlot = static_cast<uint16_t>(slot);
    clearGrid();
    ASSERT_TRUE(nrPdcchTx(&gnrNbConfig, grid));
    EXPECT_EQ(cs.dmrsFilled, 1);
    for (int l = 8; l < 11; l++) {
      const int8_t* dmrs =
          nrPdcchDmrsSeq(static_cast<uint16_t>(slot), static_cast<uint32_t>(l),
                         gnrNbConfig.cellCfg.pci, gnrNbConfig.bwpCfg.rbOffset + 5u, 72);
      for (int r = 0; r < 72; r++)
        for (int k = 0; k < 3; k++) {
          const int i = 3 * r + k;
          ASSERT_EQ(grid[l][12 * (5 + r) + 4 * k + 1],
                    nrCpxPack(724 * dmrs[2 * i], 724 * dmrs[2 * i + 1]))
              << "slot " << slot << " symbol " << l << " RB " << 5 + r;
        }
    }
  }
}

TEST(PdcchTx, SendsOnlyInTheMonitoredSlot) {
  freshDefaultSlot();
  gnrNbConfig.searchSpaceCfg[0].monSlot = static_cast<uint16_t>(gnrNbConfig.slotIdx + 1);
  clearGrid();
  EXPECT_TRUE(nrPdcchTx(&gnrNbConfig, grid));
  EXPECT_TRUE(gridIsEmpty());
  EXPECT_EQ(gnrNbConfig.pdcchCfg[0].rbN, 0);
}

TEST(PdcchTx, RefusesEntriesItCannotPlace) {
  struct Case {
    const char* what;
    void (*mutate)(NrNbConfig&);
    const char* says;
  };
  const Case cases[] = {
      {"no such CORESET", [](NrNbConfig& c) { c.pdcchCfg[0].coresetId = 9; }, "coresetId 9"},
      {"payload 101", [](NrNbConfig& c) { c.pdcchCfg[0].payloadSize = 101; }, "payloadSize"},
      {"payload 0", [](NrNbConfig& c) { c.pdcchCfg[0].payloadSize = 0; }, "payloadSize"},
      {"level 3", [](NrNbConfig& c) { c.pdcchCfg[0].aggrL = 3; }, "aggrL"},
      {"symbols past 13", [](NrNbConfig& c) { c.searchSpaceCfg[0].startSymbol = 12; }, "slot"},
      {"no RBs", [](NrNbConfig& c) { c.coresetCfg[0].allocNrb = 0; }, "allocNrb"},
      {"rbMapUsed", [](NrNbConfig& c) { c.rbMapUsed = 1; }, "rbMapUsed"},
  };
  for (const Case& k : cases) {
    freshDefaultSlot();
    k.mutate(gnrNbConfig);
    clearGrid();
    const std::string err = captureDiag([] { EXPECT_FALSE(nrPdcchTx(&gnrNbConfig, grid)); });
    EXPECT_NE(err.find(k.says), std::string::npos) << k.what << ": " << err;
    EXPECT_TRUE(gridIsEmpty()) << k.what;
  }
}

TEST(SortU16, SortsBothWaysInPlace) {
  uint16_t v[] = {5, 3, 9, 3, 0, 65535, 7};
  nrSortU16(v, 7, 1);
  EXPECT_EQ(std::vector<uint16_t>(v, v + 7), (std::vector<uint16_t>{0, 3, 3, 5, 7, 9, 65535}));
  nrSortU16(v, 7, 0);
  EXPECT_EQ(std::vector<uint16_t>(v, v + 7), (std::vector<uint16_t>{65535, 9, 7, 5, 3, 3, 0}));
  nrSortU16(v, 0, 1);
}
