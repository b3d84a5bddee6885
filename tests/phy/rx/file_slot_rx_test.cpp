#include "phy/rx/file_slot_rx.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "app/actions.h"
#include "config/config_files.h"
#include "config/mcs_table.h"
#include "config/mw_interface.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "config/slot_update.h"
#include "config/tv_sample.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/common/sequence.h"
#include "phy/common/tv_files.h"
#include "tests/config/file_fixture.h"
#include "tests/test_util.h"

namespace {

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
  return n;
}

struct TxSlot {
  const char* name;
  uint16_t carrierNrb;
  uint16_t bwpRbOffset, bwpNrb;
  std::vector<uint16_t> rbGroups;  // empty: the generator's contiguous allocation
  uint16_t firstRb, rbN;           // with rbGroups: the groups' first RB and RB count
};

// The default slot, made describable by the file flow: cell n_ID 0 and DMRS scrambling identity
// 0 (the file flow's interface sets both), DMRS type 1, redundancy version 0 (the flow's).
void configureTx(const TxSlot& t) {
  freshDefaultSlot();
  NrNbConfig& c = gnrNbConfig;
  c.cellCfg.nId = 0;
  NrPdschCfg& d = c.pdschCfg[0];
  d.dmrsScrId0 = 0;
  d.dmrsScrId1 = 0;
  d.dmrsType = 1;
  d.rvIdx = 0;
  if (t.carrierNrb != 0) {
    c.carrierCfg.nrb = t.carrierNrb;
    c.bwpCfg.rbOffset = t.bwpRbOffset;
    c.bwpCfg.nrb = t.bwpNrb;
    d.bwpRbOffset = t.bwpRbOffset;
    d.rbN = t.rbN;
    for (int i = 0; i < t.rbN; i++) d.rbIdx[i] = static_cast<uint16_t>(t.firstRb + i);
  }
  if (!t.rbGroups.empty()) {
    d.rbN = 0;
    for (uint16_t g = 0; g < t.rbGroups.size(); g++)
      if (t.rbGroups[g])
        for (int k = 0; k < 6; k++) d.rbIdx[d.rbN++] = static_cast<uint16_t>(t.firstRb + 6 * g + k);
  }
}

// The section files that describe the transmitted slot (no PDCCH in it).
FileSlot describe(const TxSlot& t) {
  const NrNbConfig& c = gnrNbConfig;
  const NrPdschCfg& d = c.pdschCfg[0];
  FileSlot f;
  f.carrierNrb = c.carrierCfg.nrb;
  f.bwpRbOffset = c.bwpCfg.rbOffset;
  f.bwpNrb = c.bwpCfg.nrb;
  f.cellRnti = d.rnti;
  f.pdschFirst = d.rbIdx[0];
  f.pdschRbN = t.rbGroups.empty() ? d.rbN : t.rbN;
  int first = 0;
  while (((d.symBitmap >> first) & 1) == 0) first++;
  int last = 13;
  while (((d.symBitmap >> last) & 1) == 0) last--;
  f.firstSym = first;
  f.lastSym = last;
  f.dmrsN = d.dmrsAddPosN + 1;
  f.dmrsSym[0] = d.dmrsFirstSym;
  for (int k = 0; k < 3; k++) f.dmrsSym[k + 1] = d.dmrsAddPos[k];
  f.cdm = d.cdmGrpNoData;
  f.layerN = d.layerN;
  f.rnti = d.rnti;
  f.tbs = d.tbSize;
  f.Qm = d.Qm;
  f.noPdcch = 1;
  f.mcs = d.mcs;
  return f;
}

// The transmitted slot at its slot index of a frame, on both receive antennas; the other slots
// are silent.
void writeTestVectors(const std::string& dir, uint16_t slot) {
  std::vector<int16_t> re(kTvSampleCap, 0), im(kTvSampleCap, 0);
  for (int i = 0; i < kSlotSampleCap; i++) {
    re[slot * kSlotSampleCap + i] = nrCpxRe(gnrNbTxBuf.nbTxSample[i]);
    im[slot * kSlotSampleCap + i] = nrCpxIm(gnrNbTxBuf.nbTxSample[i]);
  }
  const int16_t* const parts[2][2] = {{re.data(), im.data()}, {re.data(), im.data()}};
  ASSERT_TRUE(nrWriteTvSampleFiles(dir.c_str(), parts, kTvSampleCap));
}

}  // namespace

// The transmitter's slot travels through the four sample files and the section files of a
// test-vector directory, and the file-driven receive path decodes it.
TEST(FileSlotRx, TransmittedSlotDecodesThroughTheTestVectorFiles) {
  const TxSlot slots[] = {
      {"default slot", 0, 0, 0, {}, 0, 0},
      // PDSCH RBs above 105 of a 140-RB carrier: scanned because the BWP keeps its width.
      {"wide carrier", 140, 0, 140, {}, 110, 30},
      // An RB-group bitmap of the dch section lists the non-contiguous allocation.
      {"RB groups", 106, 0, 106, {1, 0, 1, 1, 0, 1}, 30, 24},
  };
  for (const TxSlot& t : slots) {
    ScopedTempDir dir;
    configureTx(t);
    ASSERT_TRUE(captureConsole([] { EXPECT_TRUE(gNbTx()); }).err.empty()) << t.name;
    const uint16_t slot = gnrNbConfig.slotIdx;
    mkdir("tv", 0755);
    writeTestVectors("tv", slot);
    writeSections("tv", 1, describe(t));
    if (!t.rbGroups.empty()) {
      std::vector<long long> bits(t.rbGroups.begin(), t.rbGroups.end());
      writeWholeFile("tv/pdschRBG_Bitmap1.txt", commaFile(bits));
    }

    // A fresh receive: the records as a new process has them.
    nrPhyClearUeRecords();
    uint8_t valid = 0;
    const ConsoleText rx = captureConsole([&] {
      ASSERT_TRUE(nrUeGetFileData("tv"));
      ASSERT_TRUE(nrReadSectionCfg("tv", "com1"));
      ASSERT_TRUE(nrReadSectionCfg("tv", "cch1"));
      ASSERT_TRUE(nrReadSectionCfg("tv", "dch1"));
      ASSERT_TRUE(updateSystemConfiguration(slot));
      valid = nrPhylibUpdateDecDataForSlot(slot);
    });
    ASSERT_EQ(valid, 1) << t.name << "\n" << rx.out << rx.err;
    EXPECT_NE(rx.out.find("===>>>> nrPhylibUpdateDecDataForSlot() started ===\n"
                          "===>>>> nrPhylibUpdateDchDataForSlot() started ===\n"
                          "=== nrPhylibUpdateDchDataForSlot() exited ===>>>>\n"),
              std::string::npos)
        << rx.out;
    EXPECT_NE(rx.out.find("==>DCH process done! output LLR>>>\n"
                          "=== nrPhylibUpdateDecDataForSlot() exit ===>>>>\n"),
              std::string::npos)
        << rx.out;

    const NrDchMwItf& dch = gnrDchMwItf;
    EXPECT_EQ(dch.tbSize, gnrNbConfig.pdschCfg[0].tbSize) << t.name;
    EXPECT_EQ(dch.codeRate, static_cast<float>(dch.tbSize) / static_cast<float>(dch.codedBitN));
    const uint32_t cInit = nrPdschDataCinit(dch.rnti, dch.cellCfg.nId);
    uint8_t decoded = 0;
    const std::string out = captureStdout([&] {
      decoded = nrDlschDecode(dch.tbSize, dch.codedBitN, dch.codeRate, static_cast<int32_t>(cInit),
                              dch.pdschCfg.Qm, dch.pdschCfg.rvIdx, ueLlrBuf, dch.pdschCfg.layerN,
                              dch.pdschCfg.codeRate);
    });
    EXPECT_EQ(decoded, 1) << t.name << "\n" << out;
    EXPECT_GE(countOf(out, "dec CRC OK"), 1u) << t.name;
    EXPECT_EQ(countOf(out, "dec CRC failed"), 0u) << t.name;
    EXPECT_EQ(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt")) << t.name;
  }
}

// Once the slot's soft bits are valid, later calls return that verdict without receiving again.
TEST(FileSlotRx, LaterSlotsReuseTheValidSoftBits) {
  ScopedTempDir dir;
  configureTx({"default slot", 0, 0, 0, {}, 0, 0});
  captureConsole([] { gNbTx(); });
  const uint16_t slot = gnrNbConfig.slotIdx;
  writeTestVectors(".", slot);
  writeSections(".", 1, describe({"default slot", 0, 0, 0, {}, 0, 0}));
  nrPhyClearUeRecords();
  captureConsole([&] {
    nrUeGetFileData(".");
    nrReadSectionCfg(".", "com1");
    nrReadSectionCfg(".", "cch1");
    nrReadSectionCfg(".", "dch1");
    updateSystemConfiguration(slot);
    ASSERT_EQ(nrPhylibUpdateDecDataForSlot(slot), 1);
  });
  uint8_t valid = 0;
  const ConsoleText again = captureConsole([&] { valid = nrPhylibUpdateDecDataForSlot(slot + 1); });
  EXPECT_EQ(valid, 1);
  EXPECT_EQ(again.out,
            "===>>>> nrPhylibUpdateDecDataForSlot() started ===\n"
            "=== nrPhylibUpdateDecDataForSlot() exit ===>>>>\n");
}

// Without a usable data interface, or without the slot's samples, nothing is received.
TEST(FileSlotRx, RefusedInterfaceOrSlotGivesNoData) {
  ScopedTempDir dir;
  // No dch section read: zero DMRS symbols.
  uint8_t valid = 9;
  ConsoleText out = captureConsole([&] { valid = nrPhylibUpdateDecDataForSlot(0); });
  EXPECT_EQ(valid, 0);
  EXPECT_NE(out.err.find("dchRegData: 0 DMRS symbols"), std::string::npos) << out.err;
  EXPECT_NE(out.err.find("slot 0 not received, no data interface"), std::string::npos);
  EXPECT_EQ(out.out.find("DCH process"), std::string::npos);

  writeSections(".", 1, FileSlot{});
  captureConsole([] {
    nrReadSectionCfg(".", "com1");
    nrReadSectionCfg(".", "cch1");
    nrReadSectionCfg(".", "dch1");
    updateSystemConfiguration(12);
  });
  out = captureConsole([&] { valid = nrPhylibUpdateDecDataForSlot(12); });
  EXPECT_EQ(valid, 0);
  EXPECT_NE(out.err.find("nrCutTvSlot: slot 12"), std::string::npos) << out.err;
  EXPECT_EQ(gnrDchMwItf.dataValid, 0);
  EXPECT_EQ(gnrDchMwItf.codeRate, 0.0f);
}

// A slot whose soft bits the front end refused is not received a second time: the refusal is
// printed once and later calls return it.
TEST(FileSlotRx, InvalidSlotIsReceivedOnce) {
  ScopedTempDir dir;
  const TxSlot t = {"default slot", 0, 0, 0, {}, 0, 0};
  configureTx(t);
  captureConsole([] { gNbTx(); });
  const uint16_t slot = gnrNbConfig.slotIdx;
  writeTestVectors(".", slot);
  FileSlot f = describe(t);
  f.Qm = 3;  // no such modulation: the front end refuses the slot
  writeSections(".", 1, f);
  nrPhyClearUeRecords();
  captureConsole([&] {
    nrUeGetFileData(".");
    nrReadSectionCfg(".", "com1");
    nrReadSectionCfg(".", "cch1");
    nrReadSectionCfg(".", "dch1");
    updateSystemConfiguration(slot);
  });
  uint8_t valid = 9;
  ConsoleText out = captureConsole([&] { valid = nrPhylibUpdateDecDataForSlot(slot); });
  EXPECT_EQ(valid, 0);
  EXPECT_EQ(countOf(out.out, "==>no valid data input!!!!\n"), 1u) << out.out;
  EXPECT_EQ(countOf(out.err, "modulation order 3 not supported"), 1u) << out.err;
  out = captureConsole([&] { valid = nrPhylibUpdateDecDataForSlot(slot); });
  EXPECT_EQ(valid, 0);
  EXPECT_EQ(out.out,
            "===>>>> nrPhylibUpdateDecDataForSlot() started ===\n"
            "=== nrPhylibUpdateDecDataForSlot() exit ===>>>>\n");
  EXPECT_EQ(out.err, "");
}
