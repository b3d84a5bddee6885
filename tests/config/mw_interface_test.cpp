#include "config/mw_interface.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "config/config_files.h"
#include "config/nr_config.h"
#include "tests/config/file_fixture.h"
#include "tests/test_util.h"

namespace {

// Reads the three sections of the slot from a fixture directory (the current one).
void readSlot(const FileSlot& slot) {
  writeSections(".", 1, slot);
  captureConsole([] {
    ASSERT_TRUE(nrReadSectionCfg(".", "com1"));
    ASSERT_TRUE(nrReadSectionCfg(".", "cch1"));
    ASSERT_TRUE(nrReadSectionCfg(".", "dch1"));
  });
}

}  // namespace

TEST(MwInterface, RateMatchingRowMarksEveryPeriodthRbOnItsSymbols) {
  ASSERT_TRUE(nrApplyRmRow(10, 6, 2, 4, 0x3));
  for (int j = 0; j < kSymbolsPerSlot; j++)
    for (int r = 0; r < kMaxRb; r++) {
      const bool hit = j < 2 && (r == 10 || r == 12 || r == 14);
      ASSERT_EQ(gnrDchMwItf.rmMap[j][r], hit ? 4 : 0) << "symbol " << j << " RB " << r;
    }
  // Rows accumulate: masks of overlapping rows are ORed.
  ASSERT_TRUE(nrApplyRmRow(10, 1, 1, 0x801, 0x1));
  EXPECT_EQ(gnrDchMwItf.rmMap[0][10], 0x805);
  EXPECT_EQ(gnrDchMwItf.rmMap[1][10], 4);
  // The last RBs of the grid are reachable.
  ASSERT_TRUE(nrApplyRmRow(275, 5, 4, 1, 0x2000));
  EXPECT_EQ(gnrDchMwItf.rmMap[13][275], 1);
  EXPECT_EQ(gnrDchMwItf.rmMap[13][279], 1);
  EXPECT_EQ(gnrDchMwItf.rmMap[13][276], 0);
}

TEST(MwInterface, RateMatchingRowsOutsideTheMapAreRefused) {
  const struct {
    uint16_t first, count, period;
    const char* diag;
  } cases[] = {{10, 6, 0, "period 0"},
               {276, 5, 1, "RBs 276 to 280 reaches past RB 279"},
               {0, 65535, 7, "RBs 0 to 65534 reaches past RB 279"},
               {65535, 1, 1, "RBs 65535 to 65535"}};
  for (const auto& c : cases) {
    bool ok = true;
    const std::string err =
        captureDiag([&] { ok = nrApplyRmRow(c.first, c.count, c.period, 0xFFF, 0x3FFF); });
    EXPECT_FALSE(ok) << c.diag;
    EXPECT_NE(err.find(std::string("nrApplyRmRow: rate-matching row ")), std::string::npos);
    EXPECT_NE(err.find(c.diag), std::string::npos) << err;
  }
  for (int j = 0; j < kSymbolsPerSlot; j++)
    for (int r = 0; r < kMaxRb; r++) ASSERT_EQ(gnrDchMwItf.rmMap[j][r], 0);
}

TEST(MwInterface, DataInterfaceIsBuiltOnceFromTheDchRegisters) {
  ScopedTempDir dir;
  FileSlot slot;
  slot.startSymbol = 1;
  slot.noPdcch = 0;
  readSlot(slot);
  writeWholeFile("dchRateMatchConifg1.txt", "1,3,1,5,8,");
  captureConsole([] { ASSERT_TRUE(nrReadRateMatchCfg(".", 1)); });
  gnrUeConfig.bwpCfg.nrb = 52;
  gnrUeConfig.bwpCfg.rbOffset = 3;

  uint8_t built = 0;
  ConsoleText out = captureConsole([&] { built = nrUpdateDchMdwInterf(); });
  EXPECT_EQ(built, kDchItfBuilt);
  EXPECT_EQ(out.out,
            "===>>>> nrUpdateDchMdwInterf() started ===\n"
            "===>>>> nrUpdateCchMdwInterf() started ===\n"
            "=== nrUpdateCchMdwInterf() exited ===>>>>\n"
            "=== nrUpdateDchMdwInterf() exited ===>>>>\n");
  EXPECT_EQ(out.err, "");
  const NrDchMwItf& itf = gnrDchMwItf;
  const NrPdschCfg& p = itf.pdschCfg;
  EXPECT_EQ(gnrUeConfig.bwpCfg.nrb, 52) << "the BWP width stays as configured";
  EXPECT_EQ(p.bwpRbOffset, 3);
  EXPECT_EQ(p.symBitmap, 0x3FFC);
  EXPECT_EQ(p.Qm, 6u);
  EXPECT_EQ(p.layerN, 1);
  EXPECT_EQ(p.dmrsType, 1);
  EXPECT_EQ(p.dmrsEn, 1);
  EXPECT_EQ(p.dmrsFirstSym, 2);
  EXPECT_EQ(p.dmrsAddPosN, 1);
  EXPECT_EQ(p.dmrsAddPos[0], 11);
  EXPECT_EQ(p.cdmGrpNoData, 1);
  EXPECT_EQ(p.dmrsPorts[0], 1000);
  EXPECT_EQ(p.dmrsPorts[1], 1001);
  EXPECT_EQ(p.dmrsPortIdx[0], 0);
  EXPECT_EQ(p.dmrsPortIdx[1], 1);
  EXPECT_EQ(p.dmrsPortIdx[2], 0xFF);
  EXPECT_EQ(p.dmrsScrId0, 0);
  EXPECT_EQ(p.dmrsScrId1, 0);
  EXPECT_EQ(itf.rnti, 0x1234);
  EXPECT_EQ(itf.tbSize, 8448u);
  EXPECT_EQ(itf.pdcchPresent, 1);
  EXPECT_EQ(itf.dchItfDone, 1);
  EXPECT_EQ(itf.rmMap[3][1], 5);
  EXPECT_EQ(itf.rmMap[3][3], 5);
  EXPECT_EQ(itf.rmMap[2][1], 0);
  EXPECT_EQ(gnrCchMwItf.searchSpaceCfg[0].startSymbol, 1);

  out = captureConsole([&] { built = nrUpdateDchMdwInterf(); });
  EXPECT_EQ(built, kDchItfAlreadyBuilt);
  EXPECT_EQ(out.out, "");
  EXPECT_EQ(out.err, "");
}

TEST(MwInterface, SymbolBitmapCoversFirstToLastSymbol) {
  const struct {
    int32_t first, last;
    uint16_t bitmap;
  } cases[] = {{0, 13, 0x3FFF}, {2, 13, 0x3FFC}, {3, 3, 0x0008}, {0, 0, 0x0001}, {5, 9, 0x03E0}};
  for (const auto& c : cases) {
    std::memset(&gnrDchMwItf, 0, sizeof(gnrDchMwItf));
    const int32_t d[kDchRegN] = {0,  10, c.first, c.last, 1,    c.first, 0,    0,    0, 1, 1, 1,
                                 80, 0,  2,       0,      1000, 1000,    1000, 1000, 1, 0, 0};
    std::memcpy(dchRegData, d, sizeof(d));
    cchRegData[2] = 1;
    captureConsole([] { EXPECT_EQ(nrUpdateDchMdwInterf(), kDchItfBuilt); });
    EXPECT_EQ(gnrDchMwItf.pdschCfg.symBitmap, c.bitmap) << c.first << ".." << c.last;
  }
}

// Register values that would index past dmrsAddPos, shift past the bitmap or leave the map are
// refused; the interface stays unbuilt.
TEST(MwInterface, DataInterfaceRefusesValuesOutsideTheSlot) {
  const struct {
    const char* name;
    void (*edit)();
    const char* diag;
  } cases[] = {
      {"no DMRS symbol", [] { dchRegData[4] = 0; }, "dchRegData: 0 DMRS symbols"},
      {"five DMRS symbols", [] { dchRegData[4] = 5; }, "dchRegData: 5 DMRS symbols"},
      {"last symbol 14", [] { dchRegData[3] = 14; }, "dchRegData: PDSCH symbols 2 to 14"},
      {"last symbol 40", [] { dchRegData[3] = 40; }, "PDSCH symbols 2 to 40"},
      {"negative first symbol", [] { dchRegData[2] = -1; }, "PDSCH symbols -1 to 13"},
      {"DMRS symbol 20", [] { dchRegData[6] = 20; }, "DMRS symbol 20 outside the slot"},
      {"rate-matching row period 0",
       [] {
         gnrDchMwItf.rmCfgN = 1;
         const int16_t row[5] = {0, 4, 0, 1, 1};
         std::memcpy(gnrDchMwItf.rmCfg[0], row, sizeof(row));
       },
       "rmCfg: rate-matching row from RB 0 over 4 RBs has period 0"},
      {"search space at symbol 16", [] { cchRegData[3] = 16; },
       "cchRegData[3]: search-space first symbol 16 outside the slot"},
  };
  for (const auto& c : cases) {
    ScopedTempDir dir;
    nrPhyClearUeRecords();
    readSlot(FileSlot{});
    c.edit();
    gnrDchMwItf.pdschCfg.dmrsAddPosN = 9;
    uint8_t built = 9;
    const ConsoleText out = captureConsole([&] { built = nrUpdateDchMdwInterf(); });
    EXPECT_EQ(built, kDchItfRefused) << c.name;
    EXPECT_NE(out.err.find(c.diag), std::string::npos) << c.name << ": " << out.err;
    EXPECT_EQ(gnrDchMwItf.dchItfDone, 0) << c.name;
    EXPECT_EQ(gnrDchMwItf.pdschCfg.dmrsAddPosN, 9) << c.name;
  }
}

TEST(MwInterface, ControlInterfaceFromTheCchRegistersIsOneShot) {
  ScopedTempDir dir;
  FileSlot slot;
  slot.startSymbol = 2;
  slot.payload = 41;
  slot.ueSpecific = 0;
  readSlot(slot);
  gnrCchMwItf.slotIdx = 7;  // cleared by the build
  bool ok = false;
  ConsoleText out = captureConsole([&] { ok = nrUpdateCchMdwInterf(); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(out.out,
            "===>>>> nrUpdateCchMdwInterf() started ===\n"
            "=== nrUpdateCchMdwInterf() exited ===>>>>\n");
  const NrCchMwItf& c = gnrCchMwItf;
  EXPECT_EQ(c.slotIdx, 0);
  EXPECT_EQ(c.dciN, 1);
  const NrSearchSpaceCfg& ss = c.searchSpaceCfg[0];
  EXPECT_EQ(ss.startSymbol, 2);
  EXPECT_EQ(ss.monSymBitmap, 0x4);
  EXPECT_EQ(ss.monPeriod, 5);
  EXPECT_EQ(ss.coresetId, 0);
  EXPECT_EQ(ss.ssList[1], 3);
  EXPECT_EQ(c.dciEn[0], 1);
  EXPECT_EQ(c.aggrL[0], 8);
  EXPECT_EQ(c.dciAux[0], 15u);
  EXPECT_EQ(c.payloadSize[0], 41);
  EXPECT_EQ(c.ueSpecific[0], 0);
  EXPECT_EQ(c.cchItfDone, 1);

  cchRegData[5] = 99;
  out = captureConsole([&] { ok = nrUpdateCchMdwInterf(); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(out.out, "");
  EXPECT_EQ(gnrCchMwItf.payloadSize[0], 41);
}

TEST(MwInterface, ControlInterfaceFromTheMainFileHasOneOrTwoDcis) {
  sysRegData[6] = 3;
  sysRegData[8] = 39;
  sysRegData[9] = 1;
  sysRegData[12] = 4;
  bool ok = false;
  ConsoleText out = captureConsole([&] { ok = nrCchmwInterfConf(); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(out.out, "=== nrCchmwInterfConf() started ===\n=== nrCchmwInterfConf() exited ===\n");
  EXPECT_EQ(gnrCchMwItf.dciN, 1);
  EXPECT_EQ(gnrCchMwItf.searchSpaceCfg[0].monSymBitmap, 0x8);
  EXPECT_EQ(gnrCchMwItf.searchSpaceCfg[0].monSlot, 4);
  EXPECT_EQ(gnrCchMwItf.payloadSize[0], 39);

  sysRegData[38] = 1;
  sysRegData[40] = 13;
  sysRegData[42] = 57;
  sysRegData[45] = 1;
  captureConsole([&] { ok = nrCchmwInterfConf(); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(gnrCchMwItf.dciN, 2);
  EXPECT_EQ(gnrCchMwItf.searchSpaceCfg[1].startSymbol, 13);
  EXPECT_EQ(gnrCchMwItf.searchSpaceCfg[1].monSymBitmap, 0x2000);
  EXPECT_EQ(gnrCchMwItf.payloadSize[1], 57);
  EXPECT_EQ(gnrCchMwItf.ueSpecific[1], 1);

  sysRegData[40] = 300;  // 1 << 300 has no meaning
  out = captureConsole([&] { ok = nrCchmwInterfConf(); });
  EXPECT_FALSE(ok);
  EXPECT_NE(out.err.find("sysRegData[40]: search-space first symbol 300"), std::string::npos)
      << out.err;
}

TEST(MwInterface, DataInterfaceFromTheMainFileForEitherPdsch) {
  int16_t* s = sysRegData;
  gnrUeConfig.carrierCfg.nrb = 133;
  gnrUeConfig.bwpCfg.rbOffset = 4;
  s[10] = 100;
  s[11] = 30;
  const int16_t pdsch0[] = {1, 12, 3, 1, 6, 10, 0, 2, 1, 0x5678, static_cast<int16_t>(40000)};
  std::memcpy(&s[16], pdsch0, sizeof(pdsch0));
  s[28] = 8;
  s[30] = 1000;
  s[31] = 1001;

  bool ok = false;
  ConsoleText out = captureConsole([&] { ok = nrUeDchItfFromSys(0); });
  EXPECT_TRUE(ok) << out.err;
  EXPECT_EQ(out.out, "");
  const NrPdschCfg& p = gnrDchMwItf.pdschCfg;
  EXPECT_EQ(gnrUeConfig.bwpCfg.nrb, 133) << "the front end scans the whole carrier";
  EXPECT_EQ(p.rbN, 30);
  EXPECT_EQ(p.rbIdx[0], 100);
  EXPECT_EQ(p.rbIdx[29], 129);
  EXPECT_EQ(p.bwpRbOffset, 4);
  EXPECT_EQ(p.symBitmap, 0x1FFE);
  EXPECT_EQ(p.dmrsFirstSym, 1);
  EXPECT_EQ(p.dmrsAddPosN, 2);
  EXPECT_EQ(p.dmrsAddPos[0], 6);
  EXPECT_EQ(p.dmrsAddPos[1], 10);
  EXPECT_EQ(p.cdmGrpNoData, 2);
  EXPECT_EQ(p.Qm, 8u);
  EXPECT_EQ(gnrDchMwItf.rnti, 0x5678);
  EXPECT_EQ(gnrDchMwItf.tbSize, 40000u) << "the 16 stored bits of the TBS read unsigned";

  out = captureConsole([&] { ok = nrUeDchItfFromSys(1); });
  EXPECT_FALSE(ok);
  EXPECT_EQ(out.out, "not configed the second PDSCH \n");

  s[50] = 1;
  const int16_t pdsch1[] = {4, 9, 1, 4, 0, 0, 0, 1, 1, 0x4444, 1000};
  std::memcpy(&s[51], pdsch1, sizeof(pdsch1));
  s[63] = 2;
  captureConsole([&] { ok = nrUeDchItfFromSys(1); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(p.symBitmap, 0x03F0);
  EXPECT_EQ(p.dmrsAddPosN, 0);
  EXPECT_EQ(p.Qm, 2u);
  EXPECT_EQ(gnrDchMwItf.tbSize, 1000u);

  out = captureConsole([&] { ok = nrUeDchItfFromSys(2); });
  EXPECT_FALSE(ok);
  EXPECT_NE(out.err.find("PDSCH 2 requested"), std::string::npos) << out.err;

  s[11] = 200;  // RBs 100 .. 299
  out = captureConsole([&] { ok = nrUeDchItfFromSys(0); });
  EXPECT_FALSE(ok);
  EXPECT_NE(out.err.find("PDSCH of 200 RBs from RB 100"), std::string::npos) << out.err;
}

TEST(MwInterface, SlotDataIsCutAndMappedOnce) {
  ScopedTempDir dir;
  FileSlot slot;
  slot.noPdcch = 0;  // the control region excludes the PDSCH RBs below it
  slot.startSymbol = 2;
  slot.csFirst = 0;
  slot.csEnd = 24;
  slot.pdschFirst = 12;
  slot.pdschRbN = 24;
  readSlot(slot);
  gnrUeConfig.cellCfg.fftSize = 2048;
  gnrUeConfig.cellCfg.antPortN = 2;
  gnrUeConfig.cellCfg.rnti = 0x4601;
  for (int a = 0; a < 2; a++)
    for (int p = 0; p < 2; p++)
      for (int i = 0; i < kTvSampleCap; i++)
        tvSample[a][p][i] = static_cast<int16_t>(i / 30720 + 10 * (2 * a + p));
  captureConsole([] { ASSERT_EQ(nrUpdateDchMdwInterf(), kDchItfBuilt); });
  gnrUeConfig.coresetCfg[0].duration = 1;

  uint8_t r = 0;
  ConsoleText out = captureConsole([&] { r = nrPhylibUpdateDchDataForSlot(6); });
  EXPECT_EQ(r, kSlotDataPrepared);
  EXPECT_EQ(out.out,
            "===>>>> nrPhylibUpdateDchDataForSlot() started ===\n"
            "=== nrPhylibUpdateDchDataForSlot() exited ===>>>>\n");
  for (int f = 0; f < 4; f++) {
    EXPECT_EQ(ueRxSample[f / 2][f % 2][0], 6 + 10 * f);
    EXPECT_EQ(ueRxSample[f / 2][f % 2][30719], 6 + 10 * f);
  }
  const NrCellCfg& cell = gnrDchMwItf.cellCfg;
  EXPECT_EQ(cell.rbMap[2][12], kRbControl);
  EXPECT_EQ(cell.rbMap[2][24], kRbPdsch);
  EXPECT_EQ(cell.rbMap[3][12], kRbPdsch);
  EXPECT_EQ(cell.rbMap[1][12], kRbFree);
  EXPECT_EQ(gnrCchMwItf.cellCfg.rnti, 0x4601);
  EXPECT_EQ(gnrDchMwItf.dchSlotDone, 1);

  out = captureConsole([&] { r = nrPhylibUpdateDchDataForSlot(7); });
  EXPECT_EQ(r, kSlotDataAlreadyDone);
  EXPECT_EQ(out.out, "");
  EXPECT_EQ(ueRxSample[0][0][0], 6);

  // The control path cuts every call, and refuses a slot beyond the test vectors.
  out = captureConsole([&] { r = nrPhylibUpdateCchDataForSlot(7); });
  EXPECT_EQ(r, 1);
  EXPECT_EQ(out.out,
            "===>>>> nrPhylibUpdateCchDataForSlot() started ===\n"
            "=== nrPhylibUpdateCchDataForSlot() exited ===>>>>\n");
  EXPECT_EQ(ueRxSample[1][1][0], 7 + 30);
  EXPECT_EQ(gnrCchMwItf.cellCfg.nId, 0);
  out = captureConsole([&] { r = nrPhylibUpdateCchDataForSlot(10); });
  EXPECT_EQ(r, 0);
  EXPECT_NE(out.err.find("slot 10"), std::string::npos);

  std::memset(&gnrDchMwItf, 0, sizeof(gnrDchMwItf));
  captureConsole([&] { r = nrPhylibUpdateDchDataForSlot(11); });
  EXPECT_EQ(r, kSlotDataRefused);
  EXPECT_EQ(gnrDchMwItf.dchSlotDone, 0);
}

// The control flag is 1 - D[20] in 16 bits, whatever 32-bit value the dch section holds.
TEST(MwInterface, ControlFlagIsOneMinusTheNoPdcchRegister) {
  const struct {
    int32_t reg;
    uint16_t flag;
  } cases[] = {{0, 1}, {1, 0}, {2, 0xFFFF}, {INT32_MIN, 1}, {INT32_MAX, 2}};
  for (const auto& c : cases) {
    std::memset(&gnrDchMwItf, 0, sizeof(gnrDchMwItf));
    const int32_t d[kDchRegN] = {0,  10, 2, 13, 1,    2,    0,    0,    0,     1, 1, 1,
                                 80, 0,  2, 0,  1000, 1000, 1000, 1000, c.reg, 0, 0};
    std::memcpy(dchRegData, d, sizeof(d));
    cchRegData[2] = 1;
    captureConsole([] { EXPECT_EQ(nrUpdateDchMdwInterf(), kDchItfBuilt); });
    EXPECT_EQ(gnrDchMwItf.pdcchPresent, c.flag) << c.reg;
  }
}
