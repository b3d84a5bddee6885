#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

#include "app/actions.h"
#include "app/slot_setup.h"
#include "config/mcs_table.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "tests/test_util.h"

namespace {

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
  return n;
}

struct Slot {
  const char* name;
  uint16_t mcs;
  uint16_t rbStart, rbN;
  uint8_t firstSym, lastSym;
  uint8_t dmrsFirstSym;
  uint8_t addPosN, addPos0, addPos1;
  uint8_t cdmGrpNoData;
  uint8_t rvIdx;
  uint8_t addPos2 = 0;  // a third additional DMRS position
};

// Overrides the default slot's PDSCH with the given allocation, keeping everything else.
void configure(const Slot& s) {
  nrGenDefaultSlotCfg();
  NrPdschCfg& d = gnrNbConfig.pdschCfg[0];
  // An allocation wider than the default BWP gets a BWP over the whole carrier.
  if (s.rbStart + s.rbN > gnrNbConfig.bwpCfg.nrb) {
    gnrNbConfig.bwpCfg.rbOffset = 0;
    gnrNbConfig.bwpCfg.nrb = gnrNbConfig.carrierCfg.nrb;
    d.bwpRbOffset = 0;
  }
  d.mcs = s.mcs;
  d.Qm = gnrMcsQm[s.mcs];
  d.codeRate = static_cast<uint16_t>(2.0f * gnrMcsRateX1024[s.mcs]);
  d.rbStart = s.rbStart;
  d.rbN = s.rbN;
  for (int k = 0; k < s.rbN; k++) d.rbIdx[k] = s.rbStart + k;
  d.symBitmap = static_cast<uint16_t>(((1u << (s.lastSym + 1)) - 1) & ~((1u << s.firstSym) - 1));
  d.dmrsFirstSym = s.dmrsFirstSym;
  d.dmrsAddPosN = s.addPosN;
  d.dmrsAddPos[0] = s.addPos0;
  d.dmrsAddPos[1] = s.addPos1;
  d.dmrsAddPos[2] = s.addPos2;
  d.cdmGrpNoData = s.cdmGrpNoData;
  d.rvIdx = s.rvIdx;
}

}  // namespace

// The bench end to end in one process: the transmit action writes the slot, the receive action
// reads it back, and every code block must check with the transmitted transport block recovered.
TEST(UeRx, DecodesTheTransmittedSlotOverATableOfConfigurations) {
  const Slot slots[] = {
      // name            mcs rbStart rbN first last dmrs0 addN add0 add1 cdm rv
      {"default-like", 19, 61, 12, 8, 12, 9, 1, 10, 0, 1, 3},
      {"mcs0-qpsk", 0, 0, 20, 2, 13, 2, 2, 7, 11, 1, 0},
      {"mcs9-16qam", 9, 10, 50, 0, 13, 2, 1, 11, 0, 1, 0},
      {"mcs27-256qam", 27, 0, 96, 1, 13, 2, 1, 9, 0, 1, 0},
      {"full-carrier", 27, 0, 106, 0, 13, 2, 1, 11, 0, 1, 0},
      {"mcs15-bg-by-rate", 15, 30, 5, 8, 12, 9, 1, 10, 0, 1, 0},
      {"cdm2-no-data-on-dmrs", 5, 20, 30, 2, 13, 3, 1, 11, 0, 2, 2},
  };
  for (const Slot& s : slots) {
    ScopedTempDir dir;
    configure(s);
    const std::string out = captureStdout([] {
      gNbTx();
      nrUeRx();
    });
    const size_t blocks = countOf(out, "===>Enter Dec module! ");
    EXPECT_GE(blocks, 1u) << s.name << "\n" << out;
    EXPECT_EQ(countOf(out, "dec CRC OK"), blocks) << s.name << "\n" << out;
    EXPECT_EQ(countOf(out, "dec CRC failed"), 0u) << s.name;
    EXPECT_NE(out.find("the PDSCH decode  finished\n"), std::string::npos) << s.name;
    const std::string enc = readWholeFile("EncCrcBuff.txt");
    EXPECT_FALSE(enc.empty()) << s.name;
    EXPECT_EQ(readWholeFile("DecBuff.txt"), enc) << s.name;
    if (std::string(s.name) == "mcs27-256qam") {
      EXPECT_GT(blocks, 1u) << out;
    }
  }
}

TEST(UeRx, DefaultSlotDecodesWithOneCodeBlock) {
  ScopedTempDir dir;
  const std::string out = captureStdout([] {
    gNbTx();
    nrUeRx();
  });
  EXPECT_NE(
      out.find("\n===>Enter Dec module! codeword: [0] dec CRC OK\nthe PDSCH decode  finished\n"),
      std::string::npos)
      << out;
  EXPECT_EQ(gnrDchMwItf.tbSize, 2976u);
  EXPECT_EQ(gnrDchMwItf.dataValid, 1);
  EXPECT_EQ(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt"));
  // A / G in units of 1/2048.
  const float rate = 2976.0f / static_cast<float>(gnrDchMwItf.codedBitN);
  EXPECT_EQ(gnrDchMwItf.codeRate, rate);
  EXPECT_EQ(gnrDchMwItf.pdschCfg.codeRateRef, static_cast<uint16_t>(rate * 2048.0f + 0.5));
}

TEST(UeRx, ReceiveWithoutTransmitTakesTheInvalidDataBranch) {
  ScopedTempDir dir;
  const std::string out = captureStdout([] { nrUeRx(); });
  EXPECT_NE(out.find("Fail to open file: nrNbTxData.dat!\n"), std::string::npos) << out;
  EXPECT_NE(out.find("the PDSCH decode: invalid data, cannot do dec \n"), std::string::npos) << out;
  EXPECT_EQ(out.find("Enter Dec module"), std::string::npos);
  EXPECT_EQ(gnrDchMwItf.dataValid, 0);
}

// c_init = RNTI * 2^15 + n_ID reaches 2^31 for the largest 16-bit values; the receiver must then
// descramble with the same sequence as the transmitter (the Gold generator ignores bit 31).
TEST(UeRx, DescramblesWithTheTransmittersSequenceForEveryRntiAndIdentity) {
  const struct {
    uint32_t rnti;
    uint16_t nId;
  } cases[] = {{1, 0}, {65535, 1023}, {65535, 32768}, {65535, 65535}};
  for (const auto& c : cases) {
    ScopedTempDir dir;
    nrGenDefaultSlotCfg();
    gnrNbConfig.pdschCfg[0].rnti = c.rnti;
    gnrNbConfig.cellCfg.nId = c.nId;
    const std::string out = captureStdout([] {
      gNbTx();
      nrUeRx();
    });
    EXPECT_NE(out.find("dec CRC OK\nthe PDSCH decode  finished\n"), std::string::npos)
        << c.rnti << " " << c.nId << "\n"
        << out;
  }
}

// The closing line follows every decoding run, also when the CRC fails (here the UE descrambles
// with another n_ID than the one the slot was sent with).
TEST(UeRx, FinishedLineFollowsAFailedDecodeToo) {
  ScopedTempDir dir;
  const std::string out = captureStdout([] {
    gNbTx();
    gnrNbConfig.cellCfg.nId = 1;
    nrUeRx();
  });
  EXPECT_EQ(gnrDchMwItf.dataValid, 1);
  EXPECT_NE(out.find("dec CRC failed\nthe PDSCH decode  finished\n"), std::string::npos) << out;
  EXPECT_EQ(out.find("CRC OK"), std::string::npos) << out;
}

// A property over the space of slots the bench can carry: random valid PDSCH allocations (MCS,
// symbols, DMRS layout, RBs inside the BWP, CDM groups without data) sent by
// the transmit action are all received with every code block checking.
TEST(UeRx, RandomValidSlotsDecode) {
  std::mt19937 rng(20261210);
  auto pick = [&](int lo, int hi) { return static_cast<int>(lo + rng() % (hi - lo + 1)); };
  for (int n = 0; n < 60; n++) {
    ScopedTempDir dir;
    nrGenDefaultSlotCfg();
    NrPdschCfg& d = gnrNbConfig.pdschCfg[0];
    d.mcs = static_cast<uint16_t>(pick(0, 27));
    d.Qm = gnrMcsQm[d.mcs];
    d.codeRate = static_cast<uint16_t>(2.0f * gnrMcsRateX1024[d.mcs]);
    // rv 0 starts the circular buffer at the systematic bits (TS 38.212 5.4.2.1); the others,
    // sent alone at high rates, may carry too little of them to decode without a retransmission.
    d.rvIdx = 0;
    const int first = pick(0, 11);
    const int last = pick(first + 2, 13);
    d.symBitmap = static_cast<uint16_t>(((1u << (last + 1)) - 1) & ~((1u << first) - 1));
    d.dmrsFirstSym = static_cast<uint8_t>(pick(first, first + 1));
    d.dmrsAddPosN = 0;
    for (int s = d.dmrsFirstSym + 3; s < last && d.dmrsAddPosN < 3; s += pick(3, 5))
      if (rng() % 2) d.dmrsAddPos[d.dmrsAddPosN++] = static_cast<uint8_t>(s);
    d.cdmGrpNoData = static_cast<uint8_t>(pick(1, 2));
    const int bwpNrb = gnrNbConfig.bwpCfg.nrb;
    // At least 8 RBs: the smallest allocations quantise the TBS (24 bits and up) to code rates
    // beyond what one transmission decodes, noise or not.
    d.rbStart = static_cast<uint16_t>(pick(0, bwpNrb - 8));
    d.rbN = static_cast<uint16_t>(pick(8, bwpNrb - d.rbStart));
    for (int k = 0; k < d.rbN; k++) d.rbIdx[k] = d.rbStart + k;
    std::ostringstream what;
    what << "mcs " << d.mcs << " symbols " << first << ".." << last << " dmrs "
         << int(d.dmrsFirstSym) << "+" << int(d.dmrsAddPosN) << " cdm " << int(d.cdmGrpNoData)
         << " rbs " << d.rbStart << "+" << d.rbN;

    const std::string out = captureStdout([] {
      gNbTx();
      nrUeRx();
    });
    const size_t blocks = countOf(out, "===>Enter Dec module! ");
    EXPECT_GE(blocks, 1u) << what.str() << "\n" << out;
    EXPECT_EQ(countOf(out, "dec CRC OK"), blocks) << what.str();
    EXPECT_EQ(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt")) << what.str();
  }
}

// A receive that does not decode leaves no transport block of an earlier success behind.
TEST(UeRx, FailedDecodeRemovesTheTransportBlockOfAnEarlierSuccess) {
  ScopedTempDir dir;
  captureConsole([] {
    EXPECT_TRUE(gNbTx());
    EXPECT_TRUE(nrUeRx());
  });
  ASSERT_EQ(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt"));
  gnrNbConfig.cellCfg.nId = 1;  // the UE now descrambles with another sequence
  const ConsoleText out = captureConsole([] { EXPECT_FALSE(nrUeRx()); });
  EXPECT_NE(out.out.find("dec CRC failed"), std::string::npos) << out.out;
  EXPECT_NE(access("DecBuff.txt", F_OK), 0) << "stale DecBuff.txt left behind";
}

// A second receive in the same process after the waveform file went away, or lost its samples,
// must not decode the samples the first receive left in memory.
TEST(UeRx, SecondReceiveWithoutTheWaveformReportsInvalidData) {
  const struct {
    const char* what;
    void (*spoil)();
  } cases[] = {
      {"deleted", [] { unlink("nrNbTxData.dat"); }},
      {"emptied", [] { writeWholeFile("nrNbTxData.dat", ""); }},
      {"truncated",
       [] { writeWholeFile("nrNbTxData.dat", readWholeFile("nrNbTxData.dat").substr(0, 9000)); }},
      {"replaced by a directory",
       [] {
         unlink("nrNbTxData.dat");
         mkdir("nrNbTxData.dat", 0755);
       }},
  };
  for (const auto& c : cases) {
    ScopedTempDir dir;
    captureConsole([] {
      EXPECT_TRUE(gNbTx());
      EXPECT_TRUE(nrUeRx());
    });
    c.spoil();
    bool ok = true;
    const ConsoleText out = captureConsole([&] { ok = nrUeRx(); });
    EXPECT_FALSE(ok) << c.what;
    EXPECT_NE(out.out.find("the PDSCH decode: invalid data, cannot do dec \n"), std::string::npos)
        << c.what << ": " << out.out;
    EXPECT_EQ(out.out.find("CRC OK"), std::string::npos) << c.what;
    EXPECT_NE(access("DecBuff.txt", F_OK), 0) << c.what;
    EXPECT_NE(out.err.find("nrNbTxData.dat"), std::string::npos) << c.what << ": " << out.err;
  }
}

// Redundancy version 2 starts the circular buffer at 33 Zc (TS 38.212 5.4.2.1): with these
// allocations its window (10560 ... 19919 of code blocks of Zc 320, information in 0 ... 6399)
// carries no information bit, so the decoder has nothing to decide them on. The all-zero word it
// would settle on passes its CRC; the blocks must fail instead.
TEST(UeRx, RedundancyVersionWithoutAnyInformationBitFails) {
  const Slot slots[] = {
      // name        mcs rbStart rbN first last dmrs0 addN add0 add1 cdm rv add2
      {"52 RBs 64QAM", 16, 0, 52, 2, 13, 2, 3, 5, 8, 1, 2, 11},
      {"24 RBs 64QAM", 17, 0, 24, 2, 13, 2, 3, 5, 8, 1, 2, 11},
  };
  for (const Slot& s : slots) {
    ScopedTempDir dir;
    configure(s);
    bool sent = false, received = true;
    const ConsoleText out = captureConsole([&] {
      sent = gNbTx();
      received = nrUeRx();
    });
    EXPECT_TRUE(sent) << s.name;
    EXPECT_FALSE(received) << s.name;
    EXPECT_GE(countOf(out.out, "dec CRC failed"), 1u) << s.name << "\n" << out.out;
    EXPECT_EQ(countOf(out.out, "CRC OK"), 0u) << s.name << "\n" << out.out;
    EXPECT_NE(access("DecBuff.txt", F_OK), 0) << s.name;
  }
}

// A property over slot files: random descriptions the file accepts (either MCS table, one or two
// layers, DMRS type 1 or 2 on any port pair, one to three additional positions, groups without
// data, RB runs or lists anywhere in the BWP) are sent and received with every code block checking.
TEST(UeRx, RandomSlotFilesDecode) {
  std::mt19937 rng(11);
  auto pick = [&](int lo, int hi) { return static_cast<int>(lo + rng() % (hi - lo + 1)); };
  int decoded = 0;
  for (int n = 0; n < 80; n++) {
    ScopedTempDir dir;
    std::memset(&gnrNbConfig, 0, sizeof(gnrNbConfig));
    std::memset(&gnrNbTxBuf, 0, sizeof(gnrNbTxBuf));
    std::memset(&gnrNbTxBuf1, 0, sizeof(gnrNbTxBuf1));
    const int table = pick(1, 2);
    const int layers = pick(1, 2);
    const int type = pick(1, 2);
    const int pair = pick(0, type == 1 ? 1 : 2);  // the CDM group of the layers' ports
    const int first = pick(0, 4);
    const int count = pick(5, 14 - first);
    std::ostringstream y;
    y << "cell: {antennaPorts: " << layers << "}\npdsch:\n  - mcsTable: " << table
      << "\n    mcs: " << pick(0, table == 1 ? 28 : 27) << "\n    layers: " << layers
      << "\n    rv: 0\n";
    if (rng() % 2) {
      const int start = pick(0, 60);
      y << "    rbStart: " << start << "\n    rbCount: " << pick(6, 96 - start) << "\n";
    } else {
      y << "    rbs: [";
      for (int rb = pick(0, 3), k = 0; rb < 96; rb += pick(1, 6), k++) y << (k ? ", " : "") << rb;
      y << "]\n";
    }
    y << "    symbolStart: " << first << "\n    symbolCount: " << count << "\n    dmrs:\n"
      << "      type: " << type << "\n      firstSymbol: " << first
      << "\n      additionalPositions: [";
    for (int s = first + 3, k = 0; s < first + count && k < 3; s += pick(3, 4), k++)
      y << (k ? ", " : "") << s;
    y << "]\n      ports: [" << 1000 + 2 * pair << ", " << 1001 + 2 * pair << "]\n"
      << "      cdmGroupsWithoutData: " << pick(pair + 1, 3) << "\n";
    nrGenDefaultSlotCfg();
    ASSERT_TRUE(nrSlotFileParse(y.str(), "random.yaml", &gnrNbConfig, nrSlotDerive)) << y.str();
    ConsoleText out;
    bool ok = false;
    out = captureConsole([&] { ok = gNbTx() && nrUeRx(); });
    EXPECT_TRUE(ok) << y.str() << out.out << out.err;
    EXPECT_EQ(countOf(out.out, "dec CRC failed"), 0u) << y.str();
    decoded += ok;
  }
  EXPECT_EQ(decoded, 80);
}
