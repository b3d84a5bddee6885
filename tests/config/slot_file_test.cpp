#include "config/slot_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>

#include "app/slot_setup.h"
#include "config/slot_config_gen.h"
#include "tests/test_util.h"

namespace {

std::string describe(const NrNbConfig& c) {
  NrSlotDerived derived[kSlotFileMaxPdsch] = {};
  for (int i = 0; i < c.pdschN; i++) nrSlotDerive(&c, i, &derived[i]);
  return nrSlotFileText(&c, derived, 21845, nullptr);
}

}  // namespace

// What the writer says the parser reads back to the same slot: the default draw, and a slot that
// uses every form the file has (two layers, type 2, an RB list, table 1).
TEST(SlotFile, WrittenSlotReadsBackToTheSameSlot) {
  nrGenDefaultSlotCfg();
  const NrNbConfig drawn = gnrNbConfig;
  const std::string text = describe(drawn);
  NrNbConfig back = drawn;
  ASSERT_TRUE(nrSlotFileParse(text, "default.yaml", &back, nrSlotDerive)) << text;
  EXPECT_EQ(describe(back), text);
  EXPECT_EQ(std::memcmp(&back.pdschCfg[0], &drawn.pdschCfg[0], offsetof(NrPdschCfg, dmrsPortIdx)),
            0);

  NrNbConfig varied = drawn;
  const std::string edit =
      "cell: {antennaPorts: 2, nId: 700}\nslot: 3\npdsch:\n"
      "  - {mcsTable: 1, mcs: 28, layers: 2, rv: 1, rbs: [0, 1, 2, 40, 41, 95],\n"
      "     symbolStart: 1, symbolCount: 13,\n"
      "     dmrs: {type: 2, firstSymbol: 1, additionalPositions: [4, 8, 12], ports: [1002, 1003],\n"
      "            cdmGroupsWithoutData: 3, scramblingId: 40000, nScid: 1}}\n";
  ASSERT_TRUE(nrSlotFileParse(edit, "edit.yaml", &varied, nrSlotDerive));
  const NrPdschCfg& d = varied.pdschCfg[0];
  EXPECT_EQ(d.Qm, 6u);
  EXPECT_EQ(d.codeRate, 1896);  // 948 x 2
  EXPECT_EQ(d.symBitmap, 0x3FFE);
  EXPECT_EQ(d.rbN, 6);
  EXPECT_EQ(d.rbIdx[5], 95);
  EXPECT_EQ(d.dmrsPorts[1], 1003);
  EXPECT_EQ(varied.cellCfg.antPortN, 2);
  const std::string text2 = describe(varied);
  NrNbConfig back2 = drawn;
  ASSERT_TRUE(nrSlotFileParse(text2, "varied.yaml", &back2, nrSlotDerive)) << text2;
  EXPECT_EQ(describe(back2), text2);
}

// A slot file is written by people: each mistake is named with file, line and column, and the
// configuration is left as it was.
TEST(SlotFile, MistakesAreNamedWithLineAndColumnAndChangeNothing) {
  const struct {
    const char* what;
    const char* text;
    const char* diag;
  } cases[] = {
      {"unknown key", "slot: 3\ncolour: red\n", "t.yaml:2:1: colour: unknown key"},
      {"wrong type", "slot: seven\n", "t.yaml:1:7: slot: expected an integer, found \"seven\""},
      {"list for a mapping", "carrier: [1, 2]\n", "t.yaml:1:10: carrier: expected a mapping"},
      {"broken YAML", "pdsch: [\n  {mcs: 3\n", "t.yaml:"},
      {"RB beyond the BWP", "pdsch:\n  - {rbStart: 90, rbCount: 10}\n",
       "pdsch[0].rbCount: RBs 90..99 reach beyond the BWP's 96 RBs"},
      {"MCS above the table", "pdsch:\n  - {mcsTable: 1, mcs: 29}\n",
       "t.yaml:2:24: pdsch[0].mcs: 29 is outside 0..28"},
      {"DMRS outside the allocation",
       "pdsch:\n  - symbolStart: 8\n    symbolCount: 5\n    dmrs: {firstSymbol: 3}\n",
       "t.yaml:4:25: pdsch[0].dmrs.firstSymbol: DMRS symbol 3 lies outside the PDSCH symbols "
       "8..12"},
      {"more layers than ports", "pdsch:\n  - {layers: 2, dmrs: {ports: [1000]}}\n",
       "pdsch[0].dmrs.ports: 2 layers need at least as many ports, 1 listed"},
      {"more layers than antenna ports", "cell: {antennaPorts: 1}\npdsch:\n  - {layers: 2}\n",
       "cell.antennaPorts: 1 antenna ports cannot carry 2 layers"},
      {"layers on two CDM groups",
       "pdsch:\n  - {layers: 2, dmrs: {ports: [1000, 1002], cdmGroupsWithoutData: 2}}\n",
       "two layers take a port pair of one CDM group"},
      {"groups without data short of the port's", "pdsch:\n  - dmrs: {ports: [1002]}\n",
       "cdmGroupsWithoutData: 1 does not cover CDM group 1 of the listed ports"},
      {"port beyond the type", "pdsch:\n  - dmrs: {type: 1, ports: [1008]}\n",
       "port 1008 does not exist for DMRS type 1"},
      {"stale derived size", "pdsch:\n  - mcs: 4\n    derived: {tbs: 2976}\n",
       "t.yaml:3:20: pdsch[0].derived.tbs: 2976 differs from this allocation's"},
      {"entries sharing an RB",
       "pdsch:\n  - {rbStart: 10, rbCount: 5}\n  - {rbStart: 14, rbCount: 5}\n",
       "pdsch[1]: RB 14 of symbol 8 is used by an earlier entry"},
      {"BWP beyond the carrier", "bwp: {rbOffset: 50, nrb: 60}\n",
       "bwp: RBs 50..109 reach beyond the carrier's 106 RBs"},
      {"empty", "", "t.yaml: file: empty"},
  };
  nrGenDefaultSlotCfg();
  const NrNbConfig before = gnrNbConfig;
  for (const auto& c : cases) {
    NrNbConfig cfg = before;
    bool ok = true;
    const std::string err =
        captureDiag([&] { ok = nrSlotFileParse(c.text, "t.yaml", &cfg, nrSlotDerive); });
    EXPECT_FALSE(ok) << c.what;
    EXPECT_NE(err.find(c.diag), std::string::npos) << c.what << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.what << ": " << err;
    EXPECT_EQ(std::memcmp(&cfg, &before, sizeof(cfg)), 0) << c.what;
  }
}

TEST(SlotFile, UnreadableFilesAreRefused) {
  ScopedTempDir dir;
  ASSERT_EQ(mkfifo("fifo.yaml", 0644), 0);
  std::string text;
  EXPECT_NE(captureDiag([&] {
              EXPECT_FALSE(nrSlotFileRead("none.yaml", &text));
            }).find("none.yaml: cannot open the slot file: No such file or directory"),
            std::string::npos);
  EXPECT_NE(captureDiag([&] {
              EXPECT_FALSE(nrSlotFileRead("fifo.yaml", &text));
            }).find("fifo.yaml: not a regular file"),
            std::string::npos);
  writeWholeFile("ok.yaml", "seed: 7\nslot: 2\n");
  ASSERT_TRUE(nrSlotFileRead("ok.yaml", &text));
  uint32_t seed = 0;
  EXPECT_TRUE(nrSlotFileSeed(text, &seed));
  EXPECT_EQ(seed, 7u);
  EXPECT_FALSE(nrSlotFileSeed("slot: 2\n", &seed));
}
