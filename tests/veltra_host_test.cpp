// A host program that sees only the umbrella header runs the downlink chain through the library's
// public entry points, without the bench's actions or waveform files.
#include <gtest/gtest.h>

#include "tests/test_util.h"
#include "veltra.h"

TEST(VeltraHost, SlotTravelsFromGridToDecodedBitsThroughThePublicApi) {
  ScopedTempDir dir;  // the coding stages write their diagnostic files here
  const std::string out = captureStdout([] {
    nrGenDefaultSlotCfg();
    nrPdschTx(&gnrNbConfig, &gnrNbTxBuf);
    nrOfdmMod(&gnrNbConfig, &gnrNbTxBuf);

    // The waveform reaches the UE directly, one slot of samples.
    nrUeSetupFromNb(gnrNbTxBuf.nbTxSample, 0);
    ASSERT_TRUE(nrUeDchRxProc(ueRxSample, &gnrDchMwItf,
                              static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                              static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), gnrCchMwItf.slotIdx));
    const NrDchMwItf& d = gnrDchMwItf;
    const int32_t cInit = static_cast<int32_t>(d.rnti) * 32768 + d.cellCfg.nId;
    EXPECT_EQ(nrDlschDecode(d.tbSize, d.codedBitN, float(d.tbSize) / float(d.codedBitN), cInit,
                            d.pdschCfg.Qm, d.pdschCfg.rvIdx, ueLlrBuf, d.pdschCfg.layerN,
                            d.pdschCfg.codeRate),
              1);
  });
  EXPECT_NE(out.find("codeword: [0] dec CRC OK"), std::string::npos) << out;
  EXPECT_EQ(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt"));
}
