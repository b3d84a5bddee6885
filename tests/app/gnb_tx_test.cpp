#include <gtest/gtest.h>

#include <cstring>

#include "app/actions.h"
#include "config/nr_config.h"
#include "phy/common/sample_file.h"
#include "tests/test_util.h"

TEST(GnbTx, WritesBothWaveformFilesOfOneSlot) {
  ScopedTempDir dir;
  gNbTx();
  const std::string text = readWholeFile("nrNbTxData.dat");
  size_t lineN = 0;
  for (char ch : text) lineN += ch == '\n';
  EXPECT_EQ(lineN, 30720u);
  const std::string bin = readWholeFile("nrNbTxDataf.dat");
  ASSERT_EQ(bin.size(), 245760u);
  // The float file holds nbTxSampleF byte for byte; the text file reads back as nbTxSample.
  EXPECT_EQ(std::memcmp(bin.data(), gnrNbTxBuf.nbTxSampleF, bin.size()), 0);
  static int32_t back[30720];
  nrSampleFileRead(back, 30720, "nrNbTxData.dat");
  EXPECT_EQ(std::memcmp(back, gnrNbTxBuf.nbTxSample, sizeof(back)), 0);
}

TEST(GnbTx, SecondActionReusesTheConfigurationAndRewritesTheSameFiles) {
  ScopedTempDir dir;
  gNbTx();
  static NrNbConfig first;
  std::memcpy(&first, &gnrNbConfig, sizeof(first));
  const std::string text1 = readWholeFile("nrNbTxData.dat");
  const std::string bin1 = readWholeFile("nrNbTxDataf.dat");
  gNbTx();
  EXPECT_EQ(std::memcmp(&first, &gnrNbConfig, sizeof(first)), 0);
  EXPECT_EQ(readWholeFile("nrNbTxData.dat"), text1);
  EXPECT_EQ(readWholeFile("nrNbTxDataf.dat"), bin1);
}

TEST(GnbTx, UnwritableFloatFileIsReported) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir("nrNbTxDataf.dat", 0755), 0);  // a directory cannot be opened for writing
  const std::string out = captureStdout([] { gNbTx(); });
  EXPECT_NE(out.find("Fail to open file: nrNbTxDataf.dat!\n"), std::string::npos);
  EXPECT_EQ(readWholeFile("nrNbTxData.dat").size() > 0, true);
}

// The default slot's PDSCH (symbols 8..12) is the only content of the waveform: every other
// symbol, cyclic prefix included, stays silent.
TEST(GnbTx, SendsTheDefaultPdschInSymbolsEightToTwelveOnly) {
  ScopedTempDir dir;
  gNbTx();
  EXPECT_EQ(gnrNbConfig.pdschCfg[0].tbSize, 2976u);
  const uint32_t n = gnrNbConfig.cellCfg.fftSize;
  uint32_t pos = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    const uint32_t len = gnrNbConfig.cellCfg.cpLen[l] + n;
    int nonZero = 0;
    for (uint32_t t = pos; t < pos + len; t++) nonZero += gnrNbTxBuf.nbTxSample[t] != 0;
    if (l >= 8 && l <= 12) {
      EXPECT_GT(nonZero, static_cast<int>(len / 2)) << "symbol " << l;
    } else {
      EXPECT_EQ(nonZero, 0) << "symbol " << l;
    }
    pos += len;
  }
}
