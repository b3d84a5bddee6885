#include "config/config_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "config/mcs_table.h"
#include "config/nr_config.h"
#include "tests/config/file_fixture.h"
#include "tests/test_util.h"

namespace {

// Values 1, 4, 7, ...: distinct, so that every index is told apart.
std::vector<long long> distinctValues(int n) {
  std::vector<long long> v;
  for (int i = 0; i < n; i++) v.push_back(3 * i + 1);
  return v;
}

// A complete main file describing one CORESET of 48 RBs and one PDSCH.
std::vector<long long> mainFile() {
  std::vector<long long> s = {106, 0, 0,    0,    48,   1,    0,  0, 39, 1,    10,   20,   2,    0,
                              0,   0, 2,    13,   2,    2,    11, 0, 0,  1,    1,    4660, 8448, 0,
                              6,   1, 1000, 1001, 1000, 1000, 1,  6, 2,  0,    0,    1,    0,    10,
                              38,  0, 48,   1,    0,    6,    2,  0, 0,  1,    13,   1,    2,    2,
                              2,   2, 1,    1,    0,    0,    0,  0, 1,  1000, 1000, 1000, 1000};
  return s;
}

void setSys(std::vector<long long>& s, int idx, long long v) { s[static_cast<size_t>(idx)] = v; }

}  // namespace

// The register-file syntax over a table of small files: the title is never a value, text after a
// value is free, a line that holds no value repeats the previous one, and only a file that ends
// in a line break stores its last value a second time.
TEST(ConfigFiles, RegisterSyntaxStoresOneValuePerLineAndRepeatsTheLastAfterALineBreak) {
  ScopedTempDir dir;
  const struct {
    const char* text;
    std::vector<int16_t> regs;
  } cases[] = {
      {"title\n5 first\n6 second\n", {5, 6, 6}},
      {"title\n5 first\n6 second", {5, 6}},
      {"title\n5\n6", {5, 6}},
      {"title 99\n5\n", {5, 5}},
      {"title\n5\n\n\n6\n", {5, 6, 6}},
      {"title\n5 a\nno value here\n7\n", {5, 5, 7, 7}},
      {"title\n1 2 3\n", {1, 1}},
      {"title\n-3 x\n+4\n", {-3, 4, 4}},
      {"title\r\n5\r\n6\r\n", {5, 6, 6}},
      {"title\n", {0}},
      {"title", {}},
      {"", {}},
      {"title\n70000\n", {4464, 4464}},  // low 16 bits
  };
  for (const auto& c : cases) {
    writeWholeFile("NRPhy_configuration.txt", c.text);
    std::memset(sysRegData, 0x55, sizeof(sysRegData));
    int32_t count = 0;
    captureConsole([&] { count = nrReadSysCfg("NRPhy_configuration.txt"); });
    ASSERT_EQ(count, static_cast<int32_t>(c.regs.size())) << c.text;
    for (size_t i = 0; i < c.regs.size(); i++) EXPECT_EQ(sysRegData[i], c.regs[i]) << c.text;
  }
}

TEST(ConfigFiles, MainFileOf69ValuesStores70RegistersAndZeroesTheTrailingCopy) {
  ScopedTempDir dir;
  const std::vector<long long> v = distinctValues(69);
  writeWholeFile("NRPhy_configuration.txt", regFile(v));
  ConsoleText out;
  int32_t count = 0;
  out = captureConsole([&] { count = nrReadSysCfg("NRPhy_configuration.txt"); });
  EXPECT_EQ(out.out, "sucess to open file: NRPhy_configuration.txt!\n");
  EXPECT_EQ(out.err, "");
  EXPECT_EQ(count, 70);
  for (int i = 0; i < 69; i++) EXPECT_EQ(sysRegData[i], v[i]) << i;
  EXPECT_EQ(sysRegData[69], 0);

  // Without the final line break there is no trailing copy: the rule zeroes the last value read.
  writeWholeFile("NRPhy_configuration.txt", regFile(v, false));
  captureConsole([&] { count = nrReadSysCfg("NRPhy_configuration.txt"); });
  EXPECT_EQ(count, 69);
  for (int i = 0; i < 68; i++) EXPECT_EQ(sysRegData[i], v[i]) << i;
  EXPECT_EQ(sysRegData[68], 0);
}

TEST(ConfigFiles, ShortMainFilesReceiveTheDefaults) {
  ScopedTempDir dir;
  const int16_t defaults28[10] = {2, 1, 1000, 1000, 1000, 1000, 0, 6, 2, 0};
  const int16_t defaults38[31] = {0, 1, 0, 10, 38, 0, 48, 1, 0, 6, 2, 0,    0,    1,    13,  1,
                                  2, 2, 2, 2,  1,  1, 0,  0, 0, 0, 1, 1000, 1000, 1000, 1000};
  for (int lines : {38, 37, 43}) {
    const std::vector<long long> v = distinctValues(lines);
    writeWholeFile("NRPhy_configuration.txt", regFile(v));
    std::memset(sysRegData, 0x55, sizeof(sysRegData));
    int32_t count = 0;
    captureConsole([&] { count = nrReadSysCfg("NRPhy_configuration.txt"); });
    EXPECT_EQ(count, lines + 1);
    for (int i = 0; i < 28; i++) EXPECT_EQ(sysRegData[i], v[i]) << lines << " lines, index " << i;
    for (int i = 28; i < 38; i++)
      EXPECT_EQ(sysRegData[i], lines >= 38 ? v[i] : defaults28[i - 28])
          << lines << " lines, index " << i;
    for (int i = 38; i < 69; i++) EXPECT_EQ(sysRegData[i], defaults38[i - 38]) << i;
    EXPECT_EQ(sysRegData[69], 0x5555) << "index 69 is not touched by a short file";
  }
}

TEST(ConfigFiles, OlderLayoutMovesThePdschFirstRbToIndex10) {
  ScopedTempDir dir;
  // The older layout lacks the parameter at index 9: 68 value lines, the tenth named.
  std::string text = "title\n";
  for (int i = 0; i < 68; i++)
    text += std::to_string(100 + i) + (i == 9 ? " PDSCHRBOffset\n" : " p\n");
  writeWholeFile("NRPhy_configuration.txt", text);
  int32_t count = 0;
  captureConsole([&] { count = nrReadSysCfg("NRPhy_configuration.txt"); });
  EXPECT_EQ(count, 70);
  for (int i = 0; i < 9; i++) EXPECT_EQ(sysRegData[i], 100 + i);
  EXPECT_EQ(sysRegData[9], 0);
  for (int i = 10; i < 69; i++) EXPECT_EQ(sysRegData[i], 99 + i) << i;
  EXPECT_EQ(sysRegData[69], 0);
}

TEST(ConfigFiles, RegistersBeyondTheCapacityAreDropped) {
  ScopedTempDir dir;
  writeWholeFile("NRPhy_configuration.txt", regFile(distinctValues(200)));
  int32_t count = 0;
  const ConsoleText out = captureConsole([&] { count = nrReadSysCfg("NRPhy_configuration.txt"); });
  EXPECT_EQ(count, 70);
  EXPECT_EQ(sysRegData[68], 3 * 68 + 1);
  EXPECT_EQ(sysRegData[69], 0);
  EXPECT_NE(out.err.find("NRPhy_configuration.txt: 130 values beyond the 70 registers dropped"),
            std::string::npos)
      << out.err;

  // A com section of many lines fills its four registers only.
  writeWholeFile(sectionPath(".", "com1"), regFile(distinctValues(50)));
  EXPECT_TRUE(captureConsole([] { return nrReadSectionCfg(".", "com1"); }).err.find("dropped") !=
              std::string::npos);
  EXPECT_EQ(comRegData[3], 10);
}

TEST(ConfigFiles, MainFileThatCannotBeReadIsReportedAndRefused) {
  ScopedTempDir dir;
  ASSERT_EQ(mkfifo("fifo.txt", 0644), 0);
  ASSERT_EQ(mkdir("dir.txt", 0755), 0);
  for (const char* path : {"missing.txt", "fifo.txt", "dir.txt"}) {
    std::memset(sysRegData, 0x22, sizeof(sysRegData));
    int32_t count = 0;
    const ConsoleText out = captureConsole([&] { count = nrReadSysCfg(path); });
    EXPECT_EQ(count, -1) << path;
    EXPECT_EQ(out.out, std::string("Fail to open file: ") + path + "!\n");
    EXPECT_NE(out.err.find(path), std::string::npos);
    EXPECT_EQ(sysRegData[0], 0x2222);
  }
}

TEST(ConfigFiles, SysInitSetsCarrierBwpAndCoresetsFromTheMainFile) {
  ScopedTempDir dir;
  std::vector<long long> s = mainFile();
  setSys(s, 3, 12);
  setSys(s, 4, 60);  // 48 RBs
  setSys(s, 38, 1);  // a second CORESET of 24 RBs, 2 symbols, Lreg 2, intvR 3
  setSys(s, 39, 2);
  setSys(s, 43, 70);
  setSys(s, 44, 94);
  setSys(s, 46, 1);
  setSys(s, 47, 2);
  setSys(s, 48, 3);
  setSys(s, 49, 1);
  writeWholeFile("NRPhy_configuration.txt", regFile(s));
  bool ok = false;
  const ConsoleText out = captureConsole([&] { ok = nrSysInit(dir.path().c_str()); });
  ASSERT_TRUE(ok) << out.err;
  const std::string d = dir.path();
  EXPECT_EQ(out.out, "=== nrSysInit() started ===\n==> filepath = " + d + "\n==> filepath = " + d +
                         "\nsucess to open file: " + d +
                         "/NRPhy_configuration.txt!\n=== nrSysInit() exited ===\n");
  const NrUeConfig& ue = gnrUeConfig;
  EXPECT_EQ(ue.carrierCfg.nrb, 106);
  EXPECT_EQ(ue.bwpCfg.rbOffset, 0);
  EXPECT_EQ(ue.coresetN, 2);
  const NrCoresetCfg& c0 = ue.coresetCfg[0];
  EXPECT_EQ(c0.allocNrb, 48);
  EXPECT_EQ(c0.rbIdx[0], 12);
  EXPECT_EQ(c0.rbIdx[47], 59);
  EXPECT_EQ(c0.duration, 1);
  EXPECT_EQ(c0.Lreg, 6);
  EXPECT_EQ(c0.intvR, 2);
  EXPECT_EQ(c0.regBundleRbN, 6);
  EXPECT_EQ(c0.intvC, 4);
  EXPECT_EQ(c0.regBundleN, 8);
  EXPECT_EQ(ue.bwpCfg.rbIdxN, 48);
  EXPECT_EQ(ue.bwpCfg.rbIdx[0], 13);
  const NrCoresetCfg& c1 = ue.coresetCfg[1];
  EXPECT_EQ(c1.allocNrb, 24);
  EXPECT_EQ(c1.rbIdx[0], 70);
  EXPECT_EQ(c1.duration, 2);
  EXPECT_EQ(c1.CchIntvEn, 1);
  EXPECT_EQ(c1.Nshift, 1);
  EXPECT_EQ(c1.regBundleRbN, 1);
  EXPECT_EQ(c1.intvC, 8);
  EXPECT_EQ(c1.regBundleN, 24);
  for (int k = 0; k < 14; k++) EXPECT_EQ(cpPatternTbl[k], kCpPattern[k]);
  EXPECT_EQ(cpPatternTbl[14], 128);
}

// CORESET values that would divide by zero or overrun the RB lists are refused before any
// record changes.
TEST(ConfigFiles, SysInitRefusesCoresetsTheRecordsCannotHold) {
  const struct {
    const char* name;
    std::vector<std::pair<int, long long>> set;
    const char* diag;
  } cases[] = {
      {"zero duration", {{5, 0}}, "CORESET duration 0"},
      {"zero Lreg", {{35, 0}}, "Lreg 0"},
      {"zero intvR", {{36, 0}}, "intvR 0"},
      {"end below first", {{3, 50}, {4, 44}}, "CORESET RBs 50 up to 44"},
      {"end past the grid", {{3, 250}, {4, 290}}, "CORESET RBs 250 up to 290"},
      {"no interleaver column",
       {{3, 0}, {4, 6}, {5, 1}, {34, 1}, {35, 6}, {36, 2}},
       "no interleaver column"},
      {"second CORESET zero Lreg", {{38, 1}, {47, 0}}, "Lreg 0"},
      {"carrier wider than the grid", {{0, 300}}, "carrier of 300 RBs"},
  };
  for (const auto& c : cases) {
    ScopedTempDir dir;
    std::vector<long long> s = mainFile();
    for (const auto& [idx, v] : c.set) setSys(s, idx, v);
    writeWholeFile("NRPhy_configuration.txt", regFile(s));
    std::memset(&gnrUeConfig, 0, sizeof(gnrUeConfig));
    bool ok = true;
    const ConsoleText out = captureConsole([&] { ok = nrSysInit(dir.path().c_str()); });
    EXPECT_FALSE(ok) << c.name;
    EXPECT_NE(out.err.find(c.diag), std::string::npos) << c.name << ": " << out.err;
    EXPECT_EQ(out.out.find("nrSysInit() exited"), std::string::npos) << c.name;
    EXPECT_EQ(gnrUeConfig.coresetCfg[0].allocNrb, 0) << c.name;
  }
  // The non-interleaved 6-RB CORESET is fine: the interleaver is not used.
  ScopedTempDir dir;
  std::vector<long long> s = mainFile();
  for (const auto& [idx, v] :
       std::vector<std::pair<int, long long>>{{3, 0}, {4, 6}, {5, 1}, {34, 0}, {35, 6}, {36, 2}})
    setSys(s, idx, v);
  writeWholeFile("NRPhy_configuration.txt", regFile(s));
  EXPECT_TRUE(captureConsole([&] { EXPECT_TRUE(nrSysInit(dir.path().c_str())); }).err.empty());
}

TEST(ConfigFiles, SectionReadPrintsItsPathsAndFillsTheRegisters) {
  ScopedTempDir dir;
  FileSlot slot;
  writeSections(".", 1, slot);
  ConsoleText out = captureConsole([] { EXPECT_TRUE(nrReadSectionCfg(".", "com1")); });
  EXPECT_EQ(out.out, "==> filepath = .\n==> filepath = ./NRPhy_configuration_com1.txt\n");
  EXPECT_EQ(out.err, "");
  const uint16_t com[4] = {106, 0, 106, 106};
  for (int i = 0; i < 4; i++) EXPECT_EQ(comRegData[i], com[i]);

  out = captureConsole([] { EXPECT_TRUE(nrReadSectionCfg(".", "cch1")); });
  EXPECT_EQ(out.err, "");
  const std::vector<long long> cch = slot.cch();
  for (int i = 0; i < 11; i++) EXPECT_EQ(cchRegData[i], cch[i]) << i;
  EXPECT_EQ(cchRegData[11], cch[10]);
  EXPECT_EQ(gnrUeConfig.coresetCfg[0].allocNrb, 48);
  EXPECT_EQ(gnrUeConfig.coresetCfg[0].rbIdx[47], 47);

  out = captureConsole([] { EXPECT_TRUE(nrReadSectionCfg(".", "dch1")); });
  EXPECT_EQ(out.err, "");
  const std::vector<long long> dch = slot.dch();
  for (int i = 0; i < 22; i++) EXPECT_EQ(dchRegData[i], dch[i]) << i;
  EXPECT_EQ(dchRegData[22], dch[21]);
  const NrPdschCfg& p = gnrDchMwItf.pdschCfg;
  EXPECT_EQ(p.codeRate, static_cast<uint16_t>(2.0f * gnrMcsRateX1024[19]));
  EXPECT_EQ(p.rbN, 20);
  for (int i = 0; i < 20; i++) EXPECT_EQ(p.rbIdx[i], 10 + i);
}

TEST(ConfigFiles, DchSectionWithoutItsMcsLineHasNoCodeRate) {
  ScopedTempDir dir;
  FileSlot slot;
  std::vector<long long> d = slot.dch();
  d.resize(21);  // 21 value lines: 22 registers with the trailing copy
  writeWholeFile(sectionPath(".", "dch1"), regFile(d));
  gnrUeConfig.sysInitDone = 1;  // no clear: the rate must be written by the reader
  gnrDchMwItf.pdschCfg.codeRate = 777;
  captureConsole([] { EXPECT_TRUE(nrReadSectionCfg(".", "dch1")); });
  EXPECT_EQ(dchRegData[21], 32);
  EXPECT_EQ(dchRegData[20], slot.noPdcch);
  EXPECT_EQ(gnrDchMwItf.pdschCfg.codeRate, 0);
}

// The first section read of a process clears the UE records; later reads keep what earlier
// sections set.
TEST(ConfigFiles, FirstSectionReadClearsTheUeRecordsOnce) {
  ScopedTempDir dir;
  writeSections(".", 1, FileSlot{});
  gnrDchMwItf.tbSize = 99;
  sysRegData[5] = 7;
  captureConsole([] { nrReadSectionCfg(".", "com1"); });
  EXPECT_EQ(gnrUeConfig.sysInitDone, 1);
  EXPECT_EQ(gnrDchMwItf.tbSize, 0u);
  EXPECT_EQ(sysRegData[5], 0);
  gnrDchMwItf.tbSize = 99;
  captureConsole([] { nrReadSectionCfg(".", "cch1"); });
  EXPECT_EQ(gnrDchMwItf.tbSize, 99u);
  EXPECT_EQ(comRegData[0], 106);
}

TEST(ConfigFiles, CoresetBitmapListsGroupsOfSixFromTheFirstRb) {
  ScopedTempDir dir;
  FileSlot slot;
  slot.csFirst = 12;
  slot.csEnd = 30;
  writeSections(".", 1, slot);
  writeWholeFile("coresetRBG_Bitmap1.txt", "1,0,1,\n");
  const ConsoleText out = captureConsole([] { EXPECT_TRUE(nrReadSectionCfg(".", "cch1")); });
  const NrCoresetCfg& cs = gnrUeConfig.coresetCfg[0];
  for (int i = 0; i < 6; i++) EXPECT_EQ(cs.rbIdx[i], 12 + i);
  for (int i = 6; i < 12; i++) EXPECT_EQ(cs.rbIdx[i], 24 + i - 6);
  EXPECT_EQ(cs.allocNrb, 18);
  EXPECT_NE(out.err.find("coresetRBG_Bitmap1.txt: the bitmap lists 12 RBs for the 18 configured"),
            std::string::npos)
      << out.err;
}

// Each bitmap is applied once, by its own section, from the configured first RB, and read from
// the section's directory even when no test-vector data was loaded: a bitmap that starts with 0
// does not walk the CORESET on with every read.
TEST(ConfigFiles, BitmapsApplyOnceFromTheSectionDirectory) {
  ScopedTempDir dir;
  FileSlot slot;
  slot.csFirst = 12;
  slot.csEnd = 24;
  slot.pdschFirst = 30;
  slot.pdschRbN = 12;
  mkdir("tv", 0755);
  writeSections("tv", 1, slot);
  writeWholeFile("tv/coresetRBG_Bitmap1.txt", "0,1,1,");
  writeWholeFile("tv/pdschRBG_Bitmap1.txt", "1,0,0,1,");
  for (int pass = 0; pass < 3; pass++) {
    captureConsole([] {
      EXPECT_TRUE(nrReadSectionCfg("tv", "cch1"));
      EXPECT_TRUE(nrReadSectionCfg("tv", "dch1"));
      EXPECT_TRUE(nrReadSectionCfg("tv", "cch1"));
    });
    const NrCoresetCfg& cs = gnrUeConfig.coresetCfg[0];
    for (int i = 0; i < 12; i++) EXPECT_EQ(cs.rbIdx[i], 18 + i) << "pass " << pass;
    const NrPdschCfg& p = gnrDchMwItf.pdschCfg;
    for (int i = 0; i < 6; i++) EXPECT_EQ(p.rbIdx[i], 30 + i) << "pass " << pass;
    for (int i = 6; i < 12; i++) EXPECT_EQ(p.rbIdx[i], 48 + i - 6) << "pass " << pass;
  }
}

// Bitmaps from other tools stay inside the 280 RB indices and the grid.
TEST(ConfigFiles, BitmapGroupsBeyondTheGridAreDropped) {
  ScopedTempDir dir;
  FileSlot slot;
  slot.csFirst = 0;
  slot.csEnd = 48;
  writeSections(".", 2, slot);
  std::vector<long long> ones(100, 1);
  writeWholeFile("coresetRBG_Bitmap2.txt", commaFile(ones));
  gnrUeConfig.sysInitDone = 1;  // no clear: the marks around the list must stay
  std::memset(gnrUeConfig.coresetCfg[0].rbIdx, 0x77, sizeof(gnrUeConfig.coresetCfg[0].rbIdx));
  std::memset(gnrUeConfig.coresetCfg[1].rbIdx, 0x77, sizeof(gnrUeConfig.coresetCfg[1].rbIdx));
  const ConsoleText out = captureConsole([] { EXPECT_TRUE(nrReadSectionCfg(".", "cch2")); });
  const NrCoresetCfg& cs = gnrUeConfig.coresetCfg[0];
  // 46 groups fit the 280 indices; RB 275 would start a group past RB 279.
  EXPECT_EQ(cs.rbIdx[275], 275);
  EXPECT_EQ(cs.rbIdx[276], 0x7777);
  EXPECT_EQ(gnrUeConfig.coresetCfg[1].rbIdx[0], 0x7777);
  EXPECT_NE(out.err.find("54 groups beyond RB 279 or the 280 RB indices dropped"),
            std::string::npos)
      << out.err;
}

TEST(ConfigFiles, RateMatchingRowsAreReadFiveToARow) {
  ScopedTempDir dir;
  writeWholeFile("dchRateMatchConifg1.txt", "10,6,2,4,3,\n7, 2,1,\nx,");
  bool ok = false;
  const ConsoleText out = captureConsole([&] { ok = nrReadRateMatchCfg(".", 1); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(gnrDchMwItf.rmCfgN, 1);
  const int16_t row0[5] = {10, 6, 2, 4, 3};
  for (int i = 0; i < 5; i++) EXPECT_EQ(gnrDchMwItf.rmCfg[0][i], row0[i]);
  // The incomplete second row stays in the table without being counted.
  EXPECT_EQ(gnrDchMwItf.rmCfg[1][0], 7);
  EXPECT_EQ(gnrDchMwItf.rmCfg[1][1], 2);
  EXPECT_EQ(gnrDchMwItf.rmCfg[1][2], 1);
  EXPECT_NE(out.err.find("not an integer"), std::string::npos) << out.err;

  // A missing file is no error and says nothing.
  EXPECT_EQ(captureConsole([] { EXPECT_TRUE(nrReadRateMatchCfg(".", 7)); }).err, "");
}

TEST(ConfigFiles, RateMatchingRowsOutsideTheMapRefuseTheFile) {
  ScopedTempDir dir;
  const struct {
    const char* text;
    const char* diag;  // nullptr: the row is accepted
  } cases[] = {
      {"10,6,2,4,3,\n10,6,0,4,3,", "row 2: rate-matching row from RB 10 over 6 RBs has period 0"},
      {"275,5,1,4,3,", nullptr},  // RBs 275..279: the last RBs of the grid
      {"276,5,1,4,3,", "row 1: rate-matching row of RBs 276 to 280 reaches past RB 279"},
      {"-1,1,1,4,3,", "row 1: rate-matching row of RBs 65535 to 65535 reaches past RB 279"},
  };
  for (const auto& c : cases) {
    writeWholeFile("dchRateMatchConifg1.txt", c.text);
    gnrDchMwItf.rmCfgN = 9;
    bool ok = false;
    const ConsoleText out = captureConsole([&] { ok = nrReadRateMatchCfg(".", 1); });
    if (c.diag == nullptr) {
      EXPECT_TRUE(ok) << c.text;
      EXPECT_EQ(gnrDchMwItf.rmCfgN, 1);
      EXPECT_EQ(out.err, "");
      continue;
    }
    EXPECT_FALSE(ok) << c.text;
    EXPECT_EQ(gnrDchMwItf.rmCfgN, 0) << c.text;
    EXPECT_NE(out.err.find(std::string("dchRateMatchConifg1.txt ") + c.diag), std::string::npos)
        << out.err;
  }

  // More rows than the table holds: the first 128 are kept.
  std::vector<long long> v;
  for (int r = 0; r < 200; r++) v.insert(v.end(), {r % 200, 1, 1, 1, 1});
  writeWholeFile("dchRateMatchConifg1.txt", commaFile(v));
  bool ok = false;
  const ConsoleText out = captureConsole([&] { ok = nrReadRateMatchCfg(".", 1); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(gnrDchMwItf.rmCfgN, 128);
  EXPECT_EQ(gnrDchMwItf.rmCfg[127][0], 127);
  EXPECT_NE(out.err.find("beyond the 128 rows dropped (360 values)"), std::string::npos) << out.err;
}

// Section values that would index past an array or divide by zero are refused with the file's
// name and the reason; the registers keep their previous contents.
TEST(ConfigFiles, SectionsWithValuesTheRecordsCannotHoldAreRefused) {
  const struct {
    const char* name;
    const char* section;
    void (*edit)(FileSlot&);
    const char* diag;
  } cases[] = {
      {"zero duration", "cch1", [](FileSlot& s) { s.duration = 0; }, "CORESET duration 0"},
      {"zero Lreg", "cch1", [](FileSlot& s) { s.Lreg = 0; }, "Lreg 0"},
      {"zero intvR", "cch1", [](FileSlot& s) { s.intvR = 0; }, "intvR 0"},
      {"end below first", "cch1", [](FileSlot& s) { s.csFirst = 30, s.csEnd = 24; },
       "CORESET RBs 30 up to 24"},
      {"wider than the RB list", "cch1", [](FileSlot& s) { s.csEnd = 300; }, "up to 300"},
      {"start symbol 16", "cch1", [](FileSlot& s) { s.startSymbol = 16; },
       "search-space first symbol 16"},
      {"one REG bundle", "cch1",
       [](FileSlot& s) { s.csFirst = 0, s.csEnd = 6, s.duration = 1, s.Lreg = 6, s.intvR = 2; },
       "no interleaver column"},
      {"huge REG bundles", "cch1", [](FileSlot& s) { s.Lreg = 65533, s.intvR = 65533; },
       "no interleaver column"},
      {"MCS 32", "dch1", [](FileSlot& s) { s.mcs = 32; }, "MCS index 32"},
      {"MCS -1", "dch1", [](FileSlot& s) { s.mcs = -1; }, "MCS index -1"},
      {"no DMRS symbol", "dch1", [](FileSlot& s) { s.dmrsN = 0; }, "0 DMRS symbols"},
      {"five DMRS symbols", "dch1", [](FileSlot& s) { s.dmrsN = 5; }, "5 DMRS symbols"},
      {"DMRS past the slot", "dch1", [](FileSlot& s) { s.dmrsSym[1] = 14; }, "DMRS symbol 14"},
      {"281 RBs", "dch1", [](FileSlot& s) { s.pdschFirst = 0, s.pdschRbN = 281; },
       "PDSCH of 281 RBs"},
      {"RBs past 279", "dch1", [](FileSlot& s) { s.pdschFirst = 270, s.pdschRbN = 11; },
       "PDSCH of 11 RBs from RB 270"},
      {"last symbol before first", "dch1", [](FileSlot& s) { s.firstSym = 9, s.lastSym = 8; },
       "PDSCH symbols 9 to 8"},
      {"symbol 40", "dch1", [](FileSlot& s) { s.lastSym = 40; }, "PDSCH symbols 2 to 40"},
      {"BWP too wide", "com1", [](FileSlot& s) { s.bwpNrb = 281; }, "BWP of 281 RBs"},
  };
  for (const auto& c : cases) {
    ScopedTempDir dir;
    FileSlot slot;
    c.edit(slot);
    writeSections(".", 1, slot);
    gnrUeConfig.sysInitDone = 1;  // no clear: the registers must keep these marks
    std::memset(cchRegData, 0x33, sizeof(cchRegData));
    std::memset(dchRegData, 0x33, sizeof(dchRegData));
    std::memset(comRegData, 0x33, sizeof(comRegData));
    bool ok = true;
    const ConsoleText out = captureConsole([&] { ok = nrReadSectionCfg(".", c.section); });
    EXPECT_FALSE(ok) << c.name;
    EXPECT_EQ(out.err.rfind(std::string("./NRPhy_configuration_") + c.section + ".txt: ", 0), 0u)
        << c.name << ": " << out.err;
    EXPECT_NE(out.err.find(c.diag), std::string::npos) << c.name << ": " << out.err;
    EXPECT_EQ(cchRegData[2], 0x3333) << c.name;
    EXPECT_EQ(dchRegData[4], 0x33333333) << c.name;
    EXPECT_EQ(comRegData[2], 0x3333) << c.name;
  }
}

TEST(ConfigFiles, SectionNamesAndPathsOutsideTheConventionAreRefused) {
  ScopedTempDir dir;
  writeSections(".", 1, FileSlot{});
  const std::string longDir(300, 'd');
  const struct {
    std::string dir;
    const char* section;
    const char* diag;
  } cases[] = {
      {".", "xyz1", "section \"xyz1\" is none of com, cch, dch"},
      {".", "cch", "section \"cch\" lacks the digit"},
      {".", "dchX", "section \"dchX\" lacks the digit"},
      {longDir, "com1", "exceeds the 255-character limit"},
      {".", "cch7", "Fail to open file"},
  };
  for (const auto& c : cases) {
    bool ok = true;
    const ConsoleText out =
        captureConsole([&] { ok = nrReadSectionCfg(c.dir.c_str(), c.section); });
    EXPECT_FALSE(ok) << c.section;
    EXPECT_NE((out.err + out.out).find(c.diag), std::string::npos) << out.out << out.err;
  }
  // Bitmap and rate-matching files that exist but cannot be read fail their section.
  mkdir("pdschRBG_Bitmap1.txt", 0755);
  bool ok = true;
  const ConsoleText out = captureConsole([&] { ok = nrReadSectionCfg(".", "dch1"); });
  EXPECT_FALSE(ok);
  EXPECT_NE(out.err.find("./pdschRBG_Bitmap1.txt: a directory"), std::string::npos) << out.err;
}
