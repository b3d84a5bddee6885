#include "phy/tx/pdsch_tx.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/common/cpu_features.h"
#include "phy/common/dmrs.h"
#include "phy/common/sequence.h"
#include "phy/common/tbs.h"
#include "phy/rx/demod_soft.h"
#include "phy/tx/modulate.h"
#include "tests/test_util.h"

namespace {

// A one-PDSCH slot like the default one: symbols 8..12, DMRS type 1 on 9 and 10, ports {0, 1},
// 12 RBs from RB 61, MCS 19, BWP from common RB 4.
void defaultLikeSlot(NrNbConfig* c) {
  std::memset(c, 0, sizeof(*c));
  c->slotIdx = 7;
  c->bwpCfg.rbOffset = 4;
  c->cellCfg.nId = 1;
  c->pdschN = 1;
  NrPdschCfg& d = c->pdschCfg[0];
  d.rnti = 28764;
  d.layerN = 1;
  d.rvIdx = 3;
  d.mcs = 19;
  d.symBitmap = 0x1F00;
  d.rbN = 12;
  for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = 61 + r;
  d.dmrsPortIdx[0] = 0;
  d.dmrsPortIdx[1] = 1;
  d.dmrsPortIdx[2] = 0xFF;
  d.cdmGrpNoData = 1;
  d.dmrsScrId0 = 2;
  d.dmrsScrId1 = 1;
  d.dmrsType = 1;
  d.dmrsFirstSym = 9;
  d.dmrsEn = 1;
  d.dmrsAddPosN = 1;
  d.dmrsAddPos[0] = 10;
}

int nonZeroRe(const NrNbTxBuf& b) {
  int n = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++)
    for (int k = 0; k < kGridScCap; k++) n += b.nbTxGrid[l][k] != 0;
  return n;
}

NrNbTxBuf txBuf;

}  // namespace

TEST(PdschTx, DmrsPatternFollowsTypeAndPortList) {
  struct Case {
    uint8_t type;
    std::vector<uint8_t> ports;  // without the 0xFF end mark
    uint8_t dmrsEn;
    std::vector<int> marked;
  };
  const Case cases[] = {
      {1, {0, 1}, 1, {0, 2, 4, 6, 8, 10}},
      {2, {0, 1}, 1, {0, 1, 6, 7}},
      {1, {0, 1, 2, 3}, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {2, {0, 1, 2, 3}, 1, {0, 1, 2, 3, 6, 7, 8, 9}},
      {2, {0, 1, 2, 3, 4, 5}, 1, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}},
      {1, {0, 1}, 0, {}},  // DMRS off: DMRS symbols carry data everywhere
  };
  for (const Case& c : cases) {
    NrPdschCfg d{};
    d.symBitmap = 0x3FFC;
    d.dmrsType = c.type;
    d.dmrsEn = c.dmrsEn;
    d.dmrsFirstSym = 2;
    d.cdmGrpNoData = 1;
    std::memset(d.dmrsPortIdx, 0xFF, sizeof(d.dmrsPortIdx));
    for (size_t j = 0; j < c.ports.size(); j++) d.dmrsPortIdx[j] = c.ports[j];
    NrPdschLayout lay;
    nrPdschLayout(&d, &lay);
    std::vector<int> marked;
    for (int k = 0; k < kScPerRb; k++)
      if (lay.dchDmrsSc[k]) marked.push_back(k);
    EXPECT_EQ(marked, c.marked) << "type " << int(c.type) << ", " << c.ports.size() << " ports";
    EXPECT_EQ(lay.nDmrsSc, c.marked.size());
    EXPECT_EQ(lay.nRePerPrb, 12 * 12 - c.marked.size());
  }
}

TEST(PdschTx, DataRoomCountsEachDmrsSymbolOnceAndOnlyInsideTheAllocation) {
  struct Case {
    const char* what;
    uint16_t symBitmap;
    uint8_t type, cdmGrpNoData, first;
    std::vector<uint8_t> addPos;
    int nRePerPrb;
    std::vector<int> dmrsSyms;
  };
  const Case cases[] = {
      {"symbols 2..13, DMRS on 2", 0x3FFC, 1, 1, 2, {}, 138, {2}},
      {"default slot", 0x1F00, 1, 1, 9, {10}, 48, {9, 10}},
      {"DMRS listed twice", 0x1F00, 1, 1, 9, {9}, 54, {9}},
      {"one DMRS before the allocation", 0x1F00, 1, 1, 2, {10}, 54, {2, 10}},
      {"type 1, two CDM groups without data", 0x1F00, 1, 2, 9, {10}, 36, {9, 10}},
      {"type 1, three CDM groups without data", 0x1F00, 1, 3, 9, {}, 48, {9}},
      {"type 2, one CDM group without data", 0x1F00, 2, 1, 9, {10}, 52, {9, 10}},
      {"one symbol, all of it DMRS", 0x0004, 1, 2, 2, {}, 0, {2}},
  };
  for (const Case& c : cases) {
    NrPdschCfg d{};
    d.symBitmap = c.symBitmap;
    d.dmrsType = c.type;
    d.dmrsEn = 1;
    d.cdmGrpNoData = c.cdmGrpNoData;
    d.dmrsFirstSym = c.first;
    d.dmrsAddPosN = static_cast<uint8_t>(c.addPos.size());
    for (size_t i = 0; i < c.addPos.size(); i++) d.dmrsAddPos[i] = c.addPos[i];
    d.dmrsPortIdx[0] = 0;
    d.dmrsPortIdx[1] = 1;
    d.dmrsPortIdx[2] = 0xFF;
    NrPdschLayout lay;
    nrPdschLayout(&d, &lay);
    EXPECT_EQ(lay.nRePerPrb, c.nRePerPrb) << c.what;
    std::vector<int> syms;
    for (int l = 0; l < kSymbolsPerSlot; l++)
      if (lay.dchDmrsSym[l]) syms.push_back(l);
    EXPECT_EQ(syms, c.dmrsSyms) << c.what;
  }
}

TEST(PdschTx, DmrsInitialValueFollowsTs38211) {
  EXPECT_EQ(nrPdschDmrsCinit(0, 2, 0, 0), 393216u);
  // The product may exceed 32 bits: only its value modulo 2^31 counts.
  for (uint16_t slot : {0, 7, 19})
    for (uint32_t l : {0u, 9u, 13u})
      for (uint16_t nId : {0, 2, 1007, 65535})
        for (uint16_t nScid : {0, 1}) {
          const uint64_t exact =
              (1ull << 17) * (14ull * slot + l + 1) * (2ull * nId + 1) + 2ull * nId + nScid;
          EXPECT_EQ(nrPdschDmrsCinit(slot, l, nId, nScid), exact % (1ull << 31));
        }
}

TEST(PdschTx, RateMatchPatternsOrCsiRsSkipEveryEntry) {
  for (int which = 0; which < 2; which++) {
    std::memset(&txBuf, 0, sizeof(txBuf));
    defaultLikeSlot(&gnrNbConfig);
    gnrNbConfig.pdschCfg[0].tbSize = 12345;
    (which ? gnrNbConfig.csiRsN : gnrNbConfig.rbMapUsed) = 1;
    EXPECT_EQ(captureStdout([] { nrPdschTx(&gnrNbConfig, &txBuf); }), "");
    EXPECT_EQ(gnrNbConfig.pdschCfg[0].tbSize, 12345u);
    EXPECT_EQ(nonZeroRe(txBuf), 0);
  }
}

TEST(PdschTx, EmptyAllocationRecordsTheSmallestBlockAndWritesNothing) {
  ScopedTempDir dir;
  std::memset(&txBuf, 0, sizeof(txBuf));
  defaultLikeSlot(&gnrNbConfig);
  gnrNbConfig.pdschCfg[0].rbN = 0;
  nrPdschTx(&gnrNbConfig, &txBuf);
  EXPECT_EQ(gnrNbConfig.pdschCfg[0].tbSize, 24u);
  EXPECT_EQ(nonZeroRe(txBuf), 0);
}

// Entries the grid cannot hold are reported and skipped, and a good entry beside them is still
// sent (run under the address sanitizer, any stray write fails the test).
TEST(PdschTx, EntriesOutsideTheGridAreSkippedWithAMessage) {
  struct Case {
    const char* what;
    void (*spoil)(NrPdschCfg&);
  };
  const Case cases[] = {
      {"RB index 280", [](NrPdschCfg& d) { d.rbIdx[5] = 280; }},
      {"rbN 281", [](NrPdschCfg& d) { d.rbN = 281; }},
      {"first DMRS symbol 14", [](NrPdschCfg& d) { d.dmrsFirstSym = 14; }},
      {"additional DMRS symbol 200", [](NrPdschCfg& d) { d.dmrsAddPos[0] = 200; }},
      {"four additional DMRS positions", [](NrPdschCfg& d) { d.dmrsAddPosN = 4; }},
      {"DMRS type 3", [](NrPdschCfg& d) { d.dmrsType = 3; }},
      {"DMRS type 0", [](NrPdschCfg& d) { d.dmrsType = 0; }},
      {"no PDSCH symbol", [](NrPdschCfg& d) { d.symBitmap = 0xC000; }},
      {"no layer", [](NrPdschCfg& d) { d.layerN = 0; }},
      {"more than 100 code blocks",
       [](NrPdschCfg& d) {
         d.mcs = 27;
         d.layerN = 4;
         d.symBitmap = 0x3FFF;
         d.rbN = 200;
         for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = r;
       }},
  };
  ScopedTempDir dir;
  for (const Case& c : cases) {
    std::memset(&txBuf, 0, sizeof(txBuf));
    defaultLikeSlot(&gnrNbConfig);
    gnrNbConfig.pdschN = 2;
    gnrNbConfig.pdschCfg[1] = gnrNbConfig.pdschCfg[0];
    gnrNbConfig.pdschCfg[0].tbSize = 777;
    c.spoil(gnrNbConfig.pdschCfg[0]);
    const std::string out = captureDiag([] { nrPdschTx(&gnrNbConfig, &txBuf); });
    EXPECT_EQ(out.rfind("nrPdschTx: PDSCH 0 skipped, ", 0), 0u) << c.what << ": " << out;
    EXPECT_EQ(out.find("PDSCH 1"), std::string::npos) << c.what;
    EXPECT_EQ(gnrNbConfig.pdschCfg[0].tbSize, 777u) << c.what;
    EXPECT_EQ(gnrNbConfig.pdschCfg[1].tbSize, 2976u) << c.what;
    EXPECT_EQ(nonZeroRe(txBuf), 12 * (48 + 2 * 6)) << c.what;
  }
  // DMRS off needs no valid type.
  std::memset(&txBuf, 0, sizeof(txBuf));
  defaultLikeSlot(&gnrNbConfig);
  gnrNbConfig.pdschCfg[0].dmrsEn = 0;
  gnrNbConfig.pdschCfg[0].dmrsType = 7;
  EXPECT_EQ(captureDiag([] { nrPdschTx(&gnrNbConfig, &txBuf); }), "");
  EXPECT_EQ(nonZeroRe(txBuf), 12 * 60);
}

TEST(PdschTx, DefaultSlotOccupiesSymbolsEightToTwelveOfItsTwelveRbs) {
  ScopedTempDir dir;
  nrGenDefaultSlotCfg();
  std::memset(&txBuf, 0, sizeof(txBuf));
  nrPdschTx(&gnrNbConfig, &txBuf);
  const NrPdschCfg& d = gnrNbConfig.pdschCfg[0];
  ASSERT_EQ(d.rbN, 12);
  EXPECT_EQ(d.tbSize, 2976u);
  std::vector<bool> allocated(kMaxRb, false);
  for (int r = 0; r < d.rbN; r++) allocated[d.rbIdx[r]] = true;
  for (int l = 0; l < kSymbolsPerSlot; l++)
    for (int k = 0; k < kGridScCap; k++) {
      const bool inside = l >= 8 && l <= 12 && allocated[k / kScPerRb];
      EXPECT_EQ(txBuf.nbTxGrid[l][k] != 0, inside) << "symbol " << l << " subcarrier " << k;
    }
}

// Transmitter-side loopback over a table of slots: the grid holds exactly rbN x nRePerPrb data
// symbols plus the DMRS; hard decisions on the data REs, read in mapping order and descrambled,
// give back the encoder's bits; the DMRS REs are the QPSK Gold sequence of their symbol.
TEST(PdschTx, GridCarriesTheEncodedBitsAndTheDmrsSequence) {
  struct Case {
    const char* what;
    void (*vary)(NrNbConfig&);
  };
  const Case cases[] = {
      {"default-like slot", [](NrNbConfig&) {}},
      {"full carrier, 14 symbols, 256QAM",
       [](NrNbConfig& c) {
         NrPdschCfg& d = c.pdschCfg[0];
         d.mcs = 27;
         d.symBitmap = 0x3FFF;
         d.rbN = 106;
         for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = r;
         d.dmrsFirstSym = 2;
         d.dmrsAddPosN = 2;
         d.dmrsAddPos[0] = 7;
         d.dmrsAddPos[1] = 11;
       }},
      {"QPSK, type 2, DMRS listed twice",
       [](NrNbConfig& c) {
         NrPdschCfg& d = c.pdschCfg[0];
         d.mcs = 0;
         d.dmrsType = 2;
         d.dmrsAddPos[0] = 9;
       }},
      {"16QAM, DMRS before the allocation, RBs out of order",
       [](NrNbConfig& c) {
         NrPdschCfg& d = c.pdschCfg[0];
         d.mcs = 7;
         d.dmrsFirstSym = 3;
         for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = 200 - 3 * r;
       }},
      {"type 1, two CDM groups without data",
       [](NrNbConfig& c) { c.pdschCfg[0].cdmGrpNoData = 2; }},
  };
  ScopedTempDir dir;
  for (const Case& c : cases) {
    defaultLikeSlot(&gnrNbConfig);
    c.vary(gnrNbConfig);
    std::memset(&txBuf, 0, sizeof(txBuf));
    ASSERT_EQ(captureStdout([] { nrPdschTx(&gnrNbConfig, &txBuf); }), "") << c.what;
    const NrPdschCfg& d = gnrNbConfig.pdschCfg[0];
    NrPdschLayout lay;
    nrPdschLayout(&d, &lay);
    int dmrsSymN = 0;
    for (int l = 0; l < kSymbolsPerSlot; l++) dmrsSymN += lay.dchDmrsSym[l];
    const int dataN = d.rbN * lay.nRePerPrb;
    EXPECT_EQ(nonZeroRe(txBuf), dataN + dmrsSymN * d.rbN * lay.nDmrsSc) << c.what;

    // Data REs in mapping order: symbol, RB in list order, subcarrier.
    std::vector<int32_t> data;
    for (int l = lay.startSym; l <= lay.lastSym; l++)
      for (int r = 0; r < d.rbN; r++)
        for (int k = 0; k < kScPerRb; k++) {
          const bool dmrsRe = lay.dchDmrsSym[l] && (lay.dmrsNoData || lay.dchDmrsSc[k]);
          if (!dmrsRe) data.push_back(txBuf.nbTxGrid[l][kScPerRb * d.rbIdx[r] + k]);
        }
    ASSERT_EQ(static_cast<int>(data.size()), dataN) << c.what;

    int32_t Qm = 0, C = 0;
    float rate = 0;
    uint64_t tbs = 0, G = 0;
    nrTbsCalc(d.mcs, lay.nRePerPrb, d.rbN, d.layerN, &Qm, &C, &rate, &tbs, &G);
    EXPECT_EQ(d.tbSize, tbs) << c.what;
    std::vector<int32_t> coded(G + 8 * C);
    const int64_t nBits = nrDlschEncode(d.mcs, d.layerN, lay.nRePerPrb, d.rbN, coded.data(),
                                        d.rvIdx, static_cast<int64_t>(coded.size()));
    ASSERT_EQ(nBits, static_cast<int64_t>(dataN) * Qm) << c.what;

    std::vector<int16_t> soft(nBits);
    nrDemodSoft(data.data(), soft.data(), dataN, static_cast<uint16_t>(Qm));
    std::vector<int32_t> hard(nBits);
    for (int64_t i = 0; i < nBits; i++) hard[i] = soft[i] > 0 ? 1 : -1;
    const uint32_t cInit = d.rnti * 32768u + gnrNbConfig.cellCfg.nId;
    nrScrambleInt(hard.data(), hard.data(), static_cast<int32_t>(nBits),
                  static_cast<int32_t>(cInit));
    int wrong = 0;
    for (int64_t i = 0; i < nBits; i++) wrong += hard[i] != 1 - 2 * coded[i];
    EXPECT_EQ(wrong, 0) << c.what;

    // DMRS: symbol l, the j-th marked subcarrier of RB position r carries QPSK value
    // nDmrsSc * r + j of the sequence indexed from common RB 0.
    for (int l = 0; l < kSymbolsPerSlot; l++) {
      if (!lay.dchDmrsSym[l]) continue;
      const int n = lay.nDmrsSc * d.rbN;
      const uint32_t cDmrs = nrPdschDmrsCinit(gnrNbConfig.slotIdx, l, d.dmrsScrId0, d.dmrsScrId1);
      nrGoldSeqGen(
          static_cast<int32_t>(cDmrs), 2 * n, 1,
          static_cast<uint16_t>(2 * lay.nDmrsSc * (d.rbIdx[0] + gnrNbConfig.bwpCfg.rbOffset)));
      int bad = 0;
      for (int r = 0; r < d.rbN; r++)
        for (int k = 0, j = 0; k < kScPerRb; k++) {
          if (!lay.dchDmrsSc[k]) continue;
          const int i = lay.nDmrsSc * r + j++;
          const int32_t want = nrCpxPack(724 * gnrSeqBuf[kSeqBufGoldOffset + 2 * i],
                                         724 * gnrSeqBuf[kSeqBufGoldOffset + 2 * i + 1]);
          bad += txBuf.nbTxGrid[l][kScPerRb * d.rbIdx[r] + k] != want;
        }
      EXPECT_EQ(bad, 0) << c.what << ", DMRS symbol " << l;
    }
  }
}

// A one-symbol allocation whose only symbol is a DMRS symbol with every subcarrier marked has no
// data room: the smallest block is recorded and the symbol carries the DMRS of all its RBs, more
// values than the (empty) data needs. Run first in its process, so no earlier entry has grown the
// work buffers.
// Four ports listed (CDM groups 0 and 1), one layer on port 1000: the DMRS-only symbol carries
// that port's DMRS on group 0's subcarriers and nothing else; group 1's REs stay free for the
// other ports (TS 38.214 5.1.6.2), so no data either.
TEST(PdschTx, DmrsOnlySymbolCarriesTheLayersDmrsAndNoData) {
  ScopedTempDir dir;
  std::memset(&txBuf, 0, sizeof(txBuf));
  defaultLikeSlot(&gnrNbConfig);
  NrPdschCfg& d = gnrNbConfig.pdschCfg[0];
  d.symBitmap = 1u << 3;
  d.dmrsFirstSym = 3;
  d.dmrsAddPosN = 0;
  d.rbN = 273;
  for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = r;
  for (uint8_t j = 0; j < 4; j++) d.dmrsPortIdx[j] = j;  // Delta 0, 0, 1, 1
  d.dmrsPortIdx[4] = 0xFF;
  EXPECT_EQ(captureConsole([] { nrPdschTx(&gnrNbConfig, &txBuf); }).err, "");
  EXPECT_EQ(d.tbSize, 24u);
  EXPECT_EQ(nonZeroRe(txBuf), 273 * 6);
  for (int k = 0; k < 273 * 12; k++) {
    const int re = nrCpxRe(txBuf.nbTxGrid[3][k]), im = nrCpxIm(txBuf.nbTxGrid[3][k]);
    if (k % 2 == 0)
      ASSERT_TRUE(std::abs(re) == 724 && std::abs(im) == 724) << k;
    else
      ASSERT_EQ(txBuf.nbTxGrid[3][k], 0) << k;
  }
}

namespace {

NrNbTxBuf txBuf1;

// The data of every layer as the chain first placed it: int32 coded bits, bipolar values, the
// scrambler, the mapper, then one resource element at a time around the DMRS. Each grid is
// kSymbolsPerSlot * kGridScCap values; placed marks the REs written.
void referenceData(const NrNbConfig& c, std::vector<int32_t>* grid, std::vector<char>* placed) {
  const NrPdschCfg& d = c.pdschCfg[0];
  NrPdschLayout lay;
  nrPdschLayout(&d, &lay);
  int32_t Qm = 0, C = 0;
  float rate = 0;
  uint64_t tbs = 0, G = 0;
  nrTbsCalc(d.mcs, lay.nRePerPrb, d.rbN, d.layerN, &Qm, &C, &rate, &tbs, &G, d.mcsTable);
  std::vector<int32_t> bits(G + 8 * C * d.layerN);
  const int64_t n = nrDlschEncode(d.mcs, d.layerN, lay.nRePerPrb, d.rbN, bits.data(), d.rvIdx,
                                  static_cast<int64_t>(bits.size()), d.mcsTable);
  ASSERT_GT(n, 0);
  std::vector<int16_t> soft(n);
  for (int64_t i = 0; i < n; i++) soft[i] = static_cast<int16_t>(1 - 2 * bits[i]);
  nrScrambleShort(soft.data(), soft.data(), static_cast<int32_t>(n),
                  static_cast<int32_t>(nrPdschDataCinit(d.rnti, c.cellCfg.nId)));
  std::vector<int32_t> sym(n / Qm);
  nrModulate(sym.data(), soft.data(), static_cast<int32_t>(n), static_cast<uint16_t>(Qm));
  const uint64_t symN = sym.size();
  for (int v = 0; v < d.layerN; v++) {
    grid[v].assign(kSymbolsPerSlot * kGridScCap, 0);
    placed[v].assign(kSymbolsPerSlot * kGridScCap, 0);
    uint64_t m = v;
    for (int l = lay.startSym; l <= lay.lastSym; l++) {
      const bool dmrsSym = lay.dchDmrsSym[l] != 0;
      if (dmrsSym && lay.dmrsNoData) continue;
      for (int r = 0; r < d.rbN; r++)
        for (int k = 0; k < kScPerRb && m < symN; k++)
          if (!dmrsSym || !lay.dchNoDataSc[k]) {
            const int at = l * kGridScCap + kScPerRb * d.rbIdx[r] + k;
            grid[v][at] = sym[m];
            placed[v][at] = 1;
            m += d.layerN;
          }
    }
  }
}

}  // namespace

// Whatever the layers, DMRS symbols with or without data, RB order and modulation, every data
// RE of every layer holds the value of the reference chain and no other RE of the PDSCH symbols
// is written but the DMRS, at every instruction-set level.
TEST(PdschTx, DataRunsMatchTheReferenceChainForOneAndTwoLayers) {
  struct Case {
    const char* what;
    void (*vary)(NrNbConfig&);
    bool secondGrid;
  };
  const Case cases[] = {
      {"default-like slot", [](NrNbConfig&) {}, true},
      {"full carrier, two layers, DMRS symbols with data",
       [](NrNbConfig& c) {
         NrPdschCfg& d = c.pdschCfg[0];
         d.layerN = 2;
         d.mcs = 27;
         d.symBitmap = 0x3FFF;
         d.rbN = 106;
         for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = r;
         d.dmrsFirstSym = 2;
         d.dmrsAddPos[0] = 11;
       },
       true},
      {"two layers, 16QAM, DMRS symbols without data",
       [](NrNbConfig& c) {
         c.pdschCfg[0].layerN = 2;
         c.pdschCfg[0].mcs = 6;
         c.pdschCfg[0].cdmGrpNoData = 2;
       },
       true},
      {"two layers, QPSK, type 2, RBs out of order, rv 0",
       [](NrNbConfig& c) {
         NrPdschCfg& d = c.pdschCfg[0];
         d.layerN = 2;
         d.mcs = 2;
         d.rvIdx = 0;
         d.dmrsType = 2;
         for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = 200 - 3 * r;
       },
       true},
      {"DMRS off: DMRS symbols carry data everywhere",
       [](NrNbConfig& c) { c.pdschCfg[0].dmrsEn = 0; }, true},
      {"two layers, the second without a grid", [](NrNbConfig& c) { c.pdschCfg[0].layerN = 2; },
       false},
  };
  ScopedTempDir dir;
  for (uint8_t cap = kNrCpuBaseline; cap < kNrCpuLevels; cap++) {
    if (nrCpuSetLevelCap(cap) != cap) continue;  // this CPU lacks the level
    for (const Case& c : cases) {
      defaultLikeSlot(&gnrNbConfig);
      c.vary(gnrNbConfig);
      std::memset(&txBuf, 0, sizeof(txBuf));
      std::memset(&txBuf1, 0, sizeof(txBuf1));
      EXPECT_EQ(captureConsole([&] {
                  nrPdschTx(&gnrNbConfig, &txBuf, c.secondGrid ? &txBuf1 : nullptr);
                }).err,
                "")
          << c.what;
      const NrPdschCfg& d = gnrNbConfig.pdschCfg[0];
      std::vector<int32_t> grid[2];
      std::vector<char> placed[2];
      referenceData(gnrNbConfig, grid, placed);
      NrPdschLayout lay;
      nrPdschLayout(&d, &lay);
      const NrNbTxBuf* const bufs[2] = {&txBuf, &txBuf1};
      for (int v = 0; v < d.layerN; v++) {
        int wrong = 0, stray = 0, dataRe = 0;
        const bool sent = v == 0 || c.secondGrid;
        for (int l = 0; l < kSymbolsPerSlot; l++)
          for (int k = 0; k < kGridScCap; k++) {
            const int32_t got = bufs[v]->nbTxGrid[l][k];
            const int at = l * kGridScCap + k;
            if (placed[v][at]) {
              dataRe++;
              wrong += got != (sent ? grid[v][at] : 0);
            } else {
              stray += got != 0 && !lay.dchDmrsSym[l];
            }
          }
        EXPECT_EQ(dataRe, d.rbN * lay.nRePerPrb) << c.what;
        EXPECT_EQ(wrong, 0) << c.what << ", layer " << v << ", level " << +cap;
        EXPECT_EQ(stray, 0) << c.what << ", layer " << v;
      }
    }
  }
  nrCpuSetLevelCap(0xFF);
}
