#include "config/slot_update.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "config/config_files.h"
#include "config/mw_interface.h"
#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "tests/config/file_fixture.h"
#include "tests/test_util.h"

namespace {

void readSlot(const FileSlot& slot) {
  writeSections(".", 1, slot);
  captureConsole([] {
    ASSERT_TRUE(nrReadSectionCfg(".", "com1"));
    ASSERT_TRUE(nrReadSectionCfg(".", "cch1"));
    ASSERT_TRUE(nrReadSectionCfg(".", "dch1"));
  });
}

}  // namespace

TEST(SlotUpdate, CompletesTheUeRecordsOfTheSlot) {
  ScopedTempDir dir;
  FileSlot slot;
  slot.carrierNrb = 133;
  slot.bwpRbOffset = 2;
  slot.bwpNrb = 120;
  slot.csFirst = 6;
  slot.csEnd = 54;  // 48 RBs
  slot.duration = 1;
  slot.Lreg = 6;
  slot.intvR = 2;
  slot.Nshift = 3;
  slot.cellRnti = 0x4601;
  slot.noPdcch = 0;
  slot.pdschFirst = 100;
  slot.pdschRbN = 30;
  readSlot(slot);
  // The cyclic prefixes come from the file flow's own pattern, not from the gNB record.
  for (int k = 0; k < 14; k++) gnrNbConfig.cellCfg.cpLen[k] = 1;

  bool ok = false;
  const ConsoleText out = captureConsole([&] { ok = updateSystemConfiguration(4); });
  ASSERT_TRUE(ok) << out.err;
  EXPECT_EQ(out.err, "");
  EXPECT_EQ(out.out,
            "===>>>> updateSystemConfiguration() started ===\n"
            "===>>>> nrUpdateCchInfo() started ===\n"
            "=== nrUpdateCchInfo() exited ===>>>>\n"
            "===>>>> nrUpdateDchMwInfo() started ===\n"
            "=== nrUpdateDchMwInfo() exited ===>>>>\n"
            "=== updateSystemConfiguration() exited ===>>>>\n");
  const NrUeConfig& ue = gnrUeConfig;
  EXPECT_EQ(ue.carrierCfg.nrb, 133);
  EXPECT_EQ(ue.bwpCfg.rbOffset, 2);
  EXPECT_EQ(ue.bwpCfg.nrb, 120) << "the com file's BWP width is kept";
  EXPECT_EQ(ue.coresetN, 1);
  const NrCoresetCfg& cs = ue.coresetCfg[0];
  EXPECT_EQ(cs.allocNrb, 48);
  EXPECT_EQ(cs.duration, 1);
  EXPECT_EQ(cs.Nshift, 3);
  EXPECT_EQ(cs.regBundleRbN, 6);
  EXPECT_EQ(cs.intvC, 4);
  EXPECT_EQ(cs.regBundleN, 8);
  EXPECT_EQ(ue.bwpCfg.rbIdxN, 48);
  EXPECT_EQ(ue.bwpCfg.rbIdx[0], 7);
  EXPECT_EQ(ue.bwpCfg.rbIdx[47], 54);
  const NrCellCfg& cell = ue.cellCfg;
  EXPECT_EQ(cell.pci, 0);
  EXPECT_EQ(cell.rnti, 0x4601);
  EXPECT_EQ(cell.nId, 0);
  EXPECT_EQ(cell.antPortN, 2);
  EXPECT_EQ(cell.fftSize, 2048);
  EXPECT_EQ(cell.fftLen, 2048);
  const uint16_t cp[14] = {160, 144, 144, 144, 144, 144, 144, 160, 144, 144, 144, 144, 144, 144};
  for (int k = 0; k < 14; k++) EXPECT_EQ(cell.cpLen[k], cp[k]) << k;
  EXPECT_EQ(ue.slotsPerFrame, 10);
  EXPECT_EQ(ue.symbolsPerFrame, 140);
  // The map of the slot: the CORESET on the search space's symbol 0, the PDSCH beyond RB 105.
  EXPECT_EQ(cell.rbMap[0][6], kRbControl);
  EXPECT_EQ(cell.rbMap[2][129], kRbPdsch);
  EXPECT_EQ(cell.rbMap[2][130], kRbFree);
  EXPECT_EQ(gnrDchMwItf.dchItfDone, 1);
  EXPECT_EQ(gnrCchMwItf.cchItfDone, 1);
}

// A second slot rebuilds the control interface (cleared each time) but keeps the data interface
// of the first.
TEST(SlotUpdate, SecondSlotRebuildsOnlyTheControlInterface) {
  ScopedTempDir dir;
  readSlot(FileSlot{});
  captureConsole([] { ASSERT_TRUE(updateSystemConfiguration(2)); });
  cchRegData[5] = 57;
  dchRegData[12] = 1;
  const ConsoleText out = captureConsole([] { EXPECT_TRUE(updateSystemConfiguration(4)); });
  EXPECT_EQ(out.out,
            "===>>>> updateSystemConfiguration() started ===\n"
            "===>>>> nrUpdateCchInfo() started ===\n"
            "=== nrUpdateCchInfo() exited ===>>>>\n"
            "=== updateSystemConfiguration() exited ===>>>>\n");
  EXPECT_EQ(gnrCchMwItf.payloadSize[0], 57);
  EXPECT_EQ(gnrDchMwItf.tbSize, 8448u);
  EXPECT_EQ(nrUpdateDchMwInfo(), kDchItfAlreadyBuilt);
}

// CORESET registers that would divide by zero are refused before anything changes.
TEST(SlotUpdate, RefusesCoresetRegistersThatDivideByZero) {
  const struct {
    int reg;
    uint16_t value;
    const char* diag;
  } cases[] = {{2, 0, "CORESET duration 0"},
               {8, 0, "Lreg 0"},
               {9, 0, "intvR 0"},
               {1, 3, "CORESET RBs 6 up to 3"}};
  for (const auto& c : cases) {
    ScopedTempDir dir;
    nrPhyClearUeRecords();
    FileSlot slot;
    slot.intvEn = 0;
    readSlot(slot);
    cchRegData[0] = 6;
    cchRegData[c.reg] = c.value;
    gnrCchMwItf.slotIdx = 9;
    bool ok = true;
    const ConsoleText out = captureConsole([&] { ok = updateSystemConfiguration(0); });
    EXPECT_FALSE(ok) << c.diag;
    EXPECT_EQ(out.out, "") << c.diag;
    EXPECT_EQ(out.err.rfind("updateSystemConfiguration: cchRegData: ", 0), 0u) << out.err;
    EXPECT_NE(out.err.find(c.diag), std::string::npos) << out.err;
    EXPECT_EQ(gnrCchMwItf.slotIdx, 9) << "nothing changed";
    EXPECT_EQ(gnrUeConfig.cellCfg.fftSize, 0);
  }
}

// The search-space map is the occupancy map of the UE set-up, over random CORESETs, search
// spaces and PDSCH allocations.
TEST(SlotUpdate, SearchSpaceMapEqualsTheUeSetupMap) {
  std::mt19937 rng(7);
  static int32_t a[kSymbolsPerSlot][kMaxRb];
  static int32_t b[kSymbolsPerSlot][kMaxRb];
  for (int trial = 0; trial < 200; trial++) {
    NrCoresetCfg cs[3] = {};
    for (NrCoresetCfg& c : cs) {
      c.duration = static_cast<uint16_t>(1 + rng() % 3);
      c.allocNrb = static_cast<uint16_t>(6 * (rng() % 20));
      const uint16_t first = static_cast<uint16_t>(rng() % 160);
      for (int i = 0; i < c.allocNrb; i++) c.rbIdx[i] = static_cast<uint16_t>(first + i);
    }
    NrSearchSpaceCfg ss = {};
    ss.coresetId = static_cast<uint16_t>(rng() % 4);
    ss.monSymBitmap = static_cast<uint16_t>(rng() & 0x3FFF);
    NrPdschCfg pdsch = {};
    pdsch.symBitmap = static_cast<uint16_t>(rng() & 0x3FFF);
    pdsch.rbN = static_cast<uint16_t>(rng() % 100);
    const uint16_t first = static_cast<uint16_t>(rng() % 180);
    for (int i = 0; i < pdsch.rbN; i++) pdsch.rbIdx[i] = static_cast<uint16_t>(first + i);
    const uint16_t ctrl = static_cast<uint16_t>(rng() % 2);
    std::memset(a, 0x11, sizeof(a));
    nrGenSsRbMap(a, 3, ctrl, &ss, cs, &pdsch);
    nrGenRbMap(b, 3, ctrl, &ss, cs, &pdsch);
    ASSERT_EQ(std::memcmp(a, b, sizeof(a)), 0) << "trial " << trial;
  }
}
