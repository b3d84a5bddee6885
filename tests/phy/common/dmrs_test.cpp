#include "phy/common/dmrs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "tests/test_util.h"

namespace {

// The default slot's PDSCH: type 1, ports {0, 1}, DMRS on 9 and 10, symbols 8..12, 12 RBs,
// 64QAM at R = 1746/2048, one layer, one CDM group without data.
NrPdschCfg defaultPdsch() {
  nrGenDefaultSlotCfg();
  return gnrNbConfig.pdschCfg[0];
}

std::string flags(const uint8_t* f, int n) {
  std::string s;
  for (int i = 0; i < n; i++) s += static_cast<char>('0' + f[i]);
  return s;
}

}  // namespace

TEST(DmrsPos, DefaultPdschUsesEvenSubcarriersOfSymbolsNineAndTen) {
  const NrPdschCfg p = defaultPdsch();
  uint8_t pos[12] = {}, sym[14] = {};
  std::string out;
  bool ok = false;
  out = captureStdout([&] { ok = nrGetDmrsPos(pos, sym, &p); });
  EXPECT_TRUE(ok);
  EXPECT_EQ(out, "");
  EXPECT_EQ(flags(pos, 12), "101010101010");
  EXPECT_EQ(flags(sym, 14), "00000000011000");
}

TEST(DmrsPos, SubcarrierPatternFollowsTypeAndCdmGroup) {
  const struct {
    uint8_t type;
    int ports;
    const char* pattern;
  } cases[] = {
      {1, 2, "101010101010"}, {1, 3, "010101010101"}, {1, 12, "010101010101"},
      {2, 2, "110000110000"}, {2, 4, "001100001100"},
  };
  for (const auto& c : cases) {
    NrPdschCfg p = defaultPdsch();
    p.dmrsType = c.type;
    std::memset(p.dmrsPortIdx, 0xFF, sizeof(p.dmrsPortIdx));
    for (int i = 0; i < c.ports; i++) p.dmrsPortIdx[i] = static_cast<uint8_t>(i);
    uint8_t pos[12] = {}, sym[14] = {};
    nrGetDmrsPos(pos, sym, &p);
    EXPECT_EQ(flags(pos, 12), c.pattern) << int{c.type} << " " << c.ports;
  }
}

TEST(DmrsPos, ExplicitBitmapsAreCopiedAndPrinted) {
  NrPdschCfg p = defaultPdsch();
  p.dmrsPosExplicit = 1;
  p.dchDmrsRePos = 0x0C3;
  p.dchDmrsOsPos = 0x2004;
  uint8_t pos[12] = {}, sym[14] = {};
  std::string out = captureStdout([&] { nrGetDmrsPos(pos, sym, &p); });
  EXPECT_EQ(flags(pos, 12), "110000110000");
  EXPECT_EQ(flags(sym, 14), "00100000000001");
  std::string want =
      "dchDmrsRePos=c3,dchDmrsOsPos=2004\ncalc by dchDmrsOsPos & dchDmrsRePos parameters\n";
  for (int k = 0; k < 12; k++)
    want += "dmrsPos[" + std::to_string(k) + "]=" + std::to_string(pos[k]) + "\n";
  for (int k = 0; k < 14; k++)
    want += "DMRSSymbolFlag[" + std::to_string(k) + "]=" + std::to_string(sym[k]) + "\n";
  EXPECT_EQ(out, want);

  // Zero bitmaps leave the caller's zeros but still print every line.
  p.dchDmrsRePos = 0;
  p.dchDmrsOsPos = 0;
  uint8_t pos0[12] = {}, sym0[14] = {};
  out = captureStdout([&] { nrGetDmrsPos(pos0, sym0, &p); });
  EXPECT_EQ(flags(pos0, 12), "000000000000");
  EXPECT_EQ(flags(sym0, 14), "00000000000000");
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2 + 12 + 14);
}

TEST(DmrsPos, SymbolsOutsideTheSlotAreRejected) {
  const std::function<void(NrPdschCfg&)> bad[] = {
      [](NrPdschCfg& p) { p.dmrsFirstSym = 14; },
      [](NrPdschCfg& p) { p.dmrsAddPosN = 4; },
      [](NrPdschCfg& p) { p.dmrsAddPos[0] = 200; },
  };
  for (const auto& set : bad) {
    NrPdschCfg p = defaultPdsch();
    set(p);
    uint8_t pos[12] = {}, sym[14] = {};
    bool ok = true;
    const std::string out = captureDiag([&] { ok = nrGetDmrsPos(pos, sym, &p); });
    EXPECT_FALSE(ok);
    EXPECT_NE(out.find("outside the slot"), std::string::npos) << out;
    EXPECT_EQ(flags(sym, 14), "00000000000000");
  }
}
