#include "phy/rx/pdcch_rx.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "phy/coding/dci_decode.h"
#include "phy/common/sequence.h"
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

// Sends the PDCCHs of gnrNbConfig through nrPdcchTx and the OFDM modulator and sets the UE up
// from the record, as a receive action would.
void transmitSlot() {
  std::memset(gnrNbTxBuf.nbTxGrid, 0, sizeof(gnrNbTxBuf.nbTxGrid));
  ASSERT_TRUE(nrPdcchTx(&gnrNbConfig, gnrNbTxBuf.nbTxGrid));
  ASSERT_TRUE(nrOfdmMod(&gnrNbConfig, &gnrNbTxBuf));
  std::memcpy(ueFileSample, gnrNbTxBuf.nbTxSample, sizeof(ueFileSample));
  gnrCchMwItf.cchItfDone = 0;
  captureConsole([] { nrUeSetupFromNb(ueFileSample, 0); });
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
