#include "phy/rx/pdcch_rx.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "phy/coding/dci_decode.h"
#include "phy/common/sequence.h"
#include "phy/ofdm/ofdm_demod.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/tx/pdcch_tx.h"
#include "tests/test_util.h"

namespace {

// The first `bits` PN9 bits, which the transmitter sends as the first payload of a call.
std::string pn9Payload(int bits) {
  int32_t v[128];
  nrPnSeqInit(9);
  nrPnSeqGen(9, v, bits);
  std::string s;
  for (int i = 0; i < bits; i++) s += static_cast<char>('0' + v[i]);
  return s;
}

// OFDM-modulates the transmit grid and sets the UE up from gnrNbConfig with those samples, as a
// receive action would (the control interface rebuilt for this slot).
void modulateAndSetUpUe() {
  ASSERT_TRUE(nrOfdmMod(&gnrNbConfig, &gnrNbTxBuf));
  std::memcpy(ueFileSample, gnrNbTxBuf.nbTxSample, sizeof(ueFileSample));
  gnrCchMwItf.cchItfDone = 0;
  captureConsole([] { nrUeSetupFromNb(ueFileSample, 0); });
}

// Sends the PDCCHs of gnrNbConfig through nrPdcchTx into an empty grid, then as above.
void transmitSlot() {
  std::memset(gnrNbTxBuf.nbTxGrid, 0, sizeof(gnrNbTxBuf.nbTxGrid));
  ASSERT_TRUE(nrPdcchTx(&gnrNbConfig, gnrNbTxBuf.nbTxGrid));
  modulateAndSetUpUe();
}

struct Detection {
  int count;
  ConsoleText text;
};

Detection detect() {
  Detection d{};
  d.text = captureConsole([&] {
    d.count = nrUeCchBlindDetect(ueRxSample, &gnrCchMwItf, gnrUeConfig.coresetCfg,
                                 &gnrUeConfig.bwpCfg, gnrCchMwItf.slotIdx);
  });
  return d;
}

// "Detected DCI" lines in the console text.
int detectedLines(const std::string& out) {
  int n = 0;
  for (size_t p = out.find("Detected DCI"); p != std::string::npos;
       p = out.find("Detected DCI", p + 1))
    n++;
  return n;
}

// An interleaved CORESET of 48 RBs from RB 10 in one symbol (8 CCEs, bundles of 6 REGs, R = 2)
// monitored at symbol 2 of the slot, with one PDCCH of aggregation level aggr.
void oneSymbolCoreset(uint8_t aggr) {
  freshDefaultSlot();
  NrCoresetCfg& cs = gnrNbConfig.coresetCfg[0];
  cs.duration = 1;
  cs.allocNrb = 48;
  cs.cceN = 8;
  for (int r = 0; r < 48; r++) cs.rbIdx[r] = static_cast<uint16_t>(10 + r);
  cs.Lreg = 6;
  cs.intvR = 2;
  cs.Nshift = 0;
  cs.regBundleN = 8;
  cs.intvC = 4;
  for (int c = 0; c < 4; c++)
    for (int r = 0; r < 2; r++) cs.regBundleMap[2 * c + r] = static_cast<uint16_t>(4 * r + c);
  gnrNbConfig.searchSpaceCfg[0].startSymbol = 2;
  gnrNbConfig.searchSpaceCfg[0].monSymBitmap = 1u << 2;
  gnrNbConfig.pdcchCfg[0].aggrL = aggr;
  gnrNbConfig.pdcchCfg[0].cceStart = 0;
}

class PdcchLoopback : public ::testing::Test {
 protected:
  ScopedTempDir dir_;  // the estimator writes its debug files
};

}  // namespace

TEST_F(PdcchLoopback, DefaultSlotIsDetectedAtLevelFourCandidateEightWithItsPayload) {
  freshDefaultSlot();
  transmitSlot();
  const Detection d = detect();
  const std::string payload = pn9Payload(39);
  EXPECT_EQ(d.text.out,
            "Detected DCI [crc Passed!]Start@8symbol  \nAggrelvl 2, the 8 th candi-DCI payload: " +
                payload + "\n");
  EXPECT_EQ(d.text.err, "");
  ASSERT_EQ(d.count, 1);
  for (int i = 0; i < 39; i++) {
    EXPECT_EQ(gnrDciBits[i], payload[i] - '0') << i;
    EXPECT_EQ(dciStore[0][i], payload[i] - '0') << i;
  }
}

TEST_F(PdcchLoopback, ReceiveGridKeepsTheTransmittedScale) {
  // The demodulator divides by sqrt(N): the default slot's DMRS comes back near +-724, far from
  // the int16 limits an unscaled transform would reach (724 x sqrt(2048) = 32764).
  freshDefaultSlot();
  transmitSlot();
  detect();
  const int k0 = 2048 / 2 - 6 * 106;
  for (int r = 5; r < 77; r++)
    for (int k : {1, 5, 9}) {
      const int32_t v = gnrUeRxGrid[8][0][k0 + 12 * r + k];
      ASSERT_NEAR(std::abs(nrCpxRe(v)), 724, 4) << "RB " << r;
      ASSERT_NEAR(std::abs(nrCpxIm(v)), 724, 4) << "RB " << r;
    }
}

TEST_F(PdcchLoopback, OnlyCandidatesInsideThePdcchPassTheWeakReGate) {
  // The level-4 PDCCH on CCEs 32 .. 35: its four level-1 and two level-2 candidates and itself;
  // the level-8 candidate over CCEs 32 .. 39 is half empty.
  freshDefaultSlot();
  transmitSlot();
  detect();
  EXPECT_EQ(gnrUeCchDecodedN, 7u);
}

TEST_F(PdcchLoopback, SearchIsExhaustiveOverTheLevelsThatFitTheCoreset) {
  // 8 CCEs: 8, 4, 2 and 1 candidates at levels 1, 2, 4 and 8, none at 16; a level-8 PDCCH makes
  // every one of them strong enough to be decoded.
  oneSymbolCoreset(8);
  transmitSlot();
  const Detection d = detect();
  EXPECT_EQ(gnrUeCchDecodedN, 15u);
  EXPECT_EQ(d.text.out,
            "Detected DCI [crc Passed!]Start@2symbol  \nAggrelvl 3, the 0 th candi-DCI payload: " +
                pn9Payload(39) + "\n");
}

TEST_F(PdcchLoopback, CoresetWithoutItsPdcchReportsNoDetection) {
  // Nothing sent, then a PDCCH for another RNTI: neither is this UE's DCI.
  freshDefaultSlot();
  gnrNbConfig.searchSpaceCfg[0].monSlot = static_cast<uint16_t>(gnrNbConfig.slotIdx + 1);
  transmitSlot();
  gnrCchMwItf.searchSpaceCfg[0].monSlot = gnrNbConfig.slotIdx;
  Detection d = detect();
  EXPECT_EQ(d.text.out, "Does not Detected and DCI!!!\n");
  EXPECT_EQ(d.count, 0);
  EXPECT_EQ(gnrUeCchDecodedN, 0u);

  freshDefaultSlot();
  transmitSlot();
  gnrCchMwItf.cellCfg.rnti = static_cast<uint16_t>(gnrCchMwItf.cellCfg.rnti + 1);
  d = detect();
  EXPECT_EQ(d.text.out, "Does not Detected and DCI!!!\n");
  EXPECT_EQ(d.count, 0);
}

TEST_F(PdcchLoopback, TransmitterAndReceiverAgreeOnTheCoresetForEveryBwpOffset) {
  // The generator draws rbOffset 0 .. 9 and starts the CORESET at 6 ceil(b / 6) - 1 (0 for 0).
  for (int b = 0; b <= 9; b++) {
    freshDefaultSlot();
    gnrNbConfig.bwpCfg.rbOffset = static_cast<uint16_t>(b);
    const int first = b == 0 ? 0 : (b + 5) / 6 * 6 - 1;
    for (int r = 0; r < 72; r++)
      gnrNbConfig.coresetCfg[0].rbIdx[r] = static_cast<uint16_t>(first + r);
    transmitSlot();
    const Detection d = detect();
    EXPECT_EQ(d.count, 1) << "rbOffset " << b;
    EXPECT_EQ(detectedLines(d.text.out), 1) << "rbOffset " << b;
  }
}

TEST_F(PdcchLoopback, CoresetWithAGapInItsRbListIsReceived) {
  freshDefaultSlot();
  for (int r = 36; r < 72; r++) gnrNbConfig.coresetCfg[0].rbIdx[r] = static_cast<uint16_t>(25 + r);
  transmitSlot();
  const Detection d = detect();
  EXPECT_EQ(d.count, 1);
  EXPECT_NE(d.text.out.find("Aggrelvl 2, the 8 th candi-DCI payload: " + pn9Payload(39)),
            std::string::npos);
}

TEST_F(PdcchLoopback, LaterSlotsOfTheProcessCarryTheirDmrs) {
  freshDefaultSlot();
  for (int slot : {7, 8, 9}) {
    gnrNbConfig.slotIdx = static_cast<uint16_t>(slot);
    gnrNbConfig.searchSpaceCfg[0].monSlot = static_cast<uint16_t>(slot);
    transmitSlot();
    EXPECT_EQ(gnrCchMwItf.slotIdx, slot);
    EXPECT_EQ(detect().count, 1) << "slot " << slot;
  }
}

TEST_F(PdcchLoopback, TwoSearchSpacesOnOneSymbolSearchTwice) {
  freshDefaultSlot();
  transmitSlot();
  gnrCchMwItf.dciN = 2;
  gnrCchMwItf.searchSpaceCfg[1] = gnrCchMwItf.searchSpaceCfg[0];
  gnrCchMwItf.payloadSize[1] = gnrCchMwItf.payloadSize[0];
  gnrCchMwItf.ueSpecific[1] = gnrCchMwItf.ueSpecific[0];
  const Detection d = detect();
  EXPECT_EQ(detectedLines(d.text.out), 2);
  EXPECT_EQ(d.count, 1);
  for (int i = 0; i < 39; i++) EXPECT_EQ(gnrDciBits[i], pn9Payload(39)[i] - '0');
}

TEST_F(PdcchLoopback, MoreThanTenDetectionsAreBounded) {
  // Sixteen level-1 PDCCHs for the same RNTI: ten from one transmitter call, six from a second.
  freshDefaultSlot();
  NrNbConfig& c = gnrNbConfig;
  c.pdcchN = 10;
  for (int j = 0; j < 10; j++) {
    c.pdcchCfg[j] = c.pdcchCfg[0];
    c.pdcchCfg[j].aggrL = 1;
    c.pdcchCfg[j].cceStart = static_cast<uint16_t>(j);
  }
  std::memset(gnrNbTxBuf.nbTxGrid, 0, sizeof(gnrNbTxBuf.nbTxGrid));
  ASSERT_TRUE(nrPdcchTx(&c, gnrNbTxBuf.nbTxGrid));
  c.pdcchN = 6;
  for (int j = 0; j < 6; j++) c.pdcchCfg[j].cceStart = static_cast<uint16_t>(10 + j);
  ASSERT_TRUE(nrPdcchTx(&c, gnrNbTxBuf.nbTxGrid));
  modulateAndSetUpUe();
  const Detection d = detect();
  EXPECT_EQ(d.count, 10);
  EXPECT_EQ(detectedLines(d.text.out), 10);
  EXPECT_NE(d.text.err.find("more than 10 DCIs"), std::string::npos) << d.text.err;
}

TEST_F(PdcchLoopback, WrongRegBundleSizeIsReportedAndNothingIsMappedWithIt) {
  freshDefaultSlot();
  transmitSlot();
  gnrUeConfig.coresetCfg[0].regBundleN = 108;  // L = 216 / 108 = 2 over three symbols
  const Detection d = detect();
  EXPECT_EQ(d.text.out,
            "the configuration REG bundles sized is wrong[please ref 3GPP. 38.211]!!!\n"
            "Does not Detected and DCI!!!\n");
  EXPECT_EQ(d.count, 0);
}

TEST_F(PdcchLoopback, RefusesConfigurationsItCannotSearch) {
  struct Case {
    const char* what;
    void (*mutate)();
    const char* says;
    int count;
  };
  const Case cases[] = {
      {"payload past the dciStore row", [] { gnrCchMwItf.payloadSize[0] = 61; }, "payloadSize 61",
       0},
      {"payload 101", [] { gnrCchMwItf.payloadSize[0] = 101; }, "payloadSize 101", 0},
      {"payload 0", [] { gnrCchMwItf.payloadSize[0] = 0; }, "payloadSize 0", 0},
      {"unknown CORESET", [] { gnrCchMwItf.searchSpaceCfg[0].coresetId = 9; }, "coresetId 9", 0},
      {"regBundleN 0", [] { gnrUeConfig.coresetCfg[0].regBundleN = 0; }, "regBundleN 0", 0},
      {"intvC 0", [] { gnrUeConfig.coresetCfg[0].intvC = 0; }, "intvC 0", 0},
      {"allocNrb 300", [] { gnrUeConfig.coresetCfg[0].allocNrb = 300; }, "allocNrb", 0},
      {"three antennas", [] { gnrCchMwItf.cellCfg.antPortN = 3; }, "3 receive antennas", 0},
      {"occasion past the slot", [] { gnrCchMwItf.searchSpaceCfg[0].monSymBitmap = 1u << 12; },
       "leave the slot", 0},
      {"carrier wider than the FFT", [] { gnrUeConfig.carrierCfg.nrb = 200; }, "outside", 0},
      {"eleven DCIs", [] { gnrCchMwItf.dciN = 11; }, "dciN 11", 1},
  };
  for (const Case& k : cases) {
    freshDefaultSlot();
    transmitSlot();
    k.mutate();
    const Detection d = detect();
    EXPECT_NE(d.text.err.find(k.says), std::string::npos) << k.what << ": " << d.text.err;
    EXPECT_EQ(d.count, k.count) << k.what;
    EXPECT_EQ(detectedLines(d.text.out), k.count) << k.what;
  }
}
