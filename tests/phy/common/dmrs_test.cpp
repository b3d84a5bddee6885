#include "phy/common/dmrs.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>
#include <string>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/tx/pdsch_tx.h"
#include "tests/test_util.h"

namespace {

// The default slot's PDSCH: type 1, ports {0, 1}, DMRS on 9 and 10, symbols 8..12, 12 RBs,
// 64QAM at R = 1746/2048, one layer, one CDM group without data.
NrPdschCfg defaultPdsch() {
  nrGenDefaultSlotCfg();
  return gnrNbConfig.pdschCfg[0];
}

std::set<int> bitsOf(uint16_t mask) {
  std::set<int> s;
  for (int k = 0; k < 12; k++)
    if ((mask >> k) & 1) s.insert(k);
  return s;
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

// The DMRS pattern against TS 38.211 Tables 7.4.1.1.2-1 (type 1) and 7.4.1.1.2-2 (type 2), taken
// down here from the tables themselves: per port p = 1000 + j its CDM group lambda and Delta, and
// the subcarriers k = 4n + 2k' + Delta (type 1) or 6n + k' + Delta (type 2), k' = 0, 1. The REs
// without data (TS 38.214 5.1.6.2) are the CDM groups 0 .. (groups without data) - 1 and those of
// the ports. Every user of the pattern is checked over the table: the module, the transmitter's
// layout and nrGetDmrsPos (the group of the listed ports).
TEST(Dmrs, PatternFollowsTs38211TablesForEveryTypePortCountAndCdmGroupsWithoutData) {
  struct Row {
    int lambda, delta;
  };
  const Row type1[4] = {{0, 0}, {0, 0}, {1, 1}, {1, 1}};  // ports 1000..1003
  const Row type2[4] = {{0, 0}, {0, 0}, {1, 2}, {1, 2}};
  for (uint8_t type : {1, 2}) {
    const Row* table = type == 1 ? type1 : type2;
    for (int ports = 1; ports <= 4; ports++) {
      for (int noData = 1; noData <= 3; noData++) {
        std::set<int> dmrs, groups;
        for (int j = 0; j < ports; j++) {
          groups.insert(table[j].lambda);
          for (int n = 0; n < (type == 1 ? 3 : 2); n++)
            for (int kp = 0; kp < 2; kp++)
              dmrs.insert(type == 1 ? 4 * n + 2 * kp + table[j].delta
                                    : 6 * n + kp + table[j].delta);
        }
        for (int g = 0; g < std::min(noData, type == 1 ? 2 : 3); g++) groups.insert(g);
        std::set<int> empty;  // subcarriers without data: every group listed
        for (int g : groups)
          for (int k = 0; k < 12; k++)
            if (type == 1 ? k % 2 == g : (k % 6) / 2 == g) empty.insert(k);

        const std::string what = "type " + std::to_string(type) + ", " + std::to_string(ports) +
                                 " ports, " + std::to_string(noData) + " groups without data";
        NrPdschCfg p = defaultPdsch();
        p.dmrsType = type;
        p.dmrsEn = 1;
        p.cdmGrpNoData = static_cast<uint8_t>(noData);
        std::memset(p.dmrsPortIdx, 0xFF, sizeof(p.dmrsPortIdx));
        for (int j = 0; j < ports; j++) p.dmrsPortIdx[j] = static_cast<uint8_t>(j);
        for (int j = 0; j < ports; j++)
          EXPECT_EQ(nrDmrsCdmGroup(type, j), table[j].lambda) << what << ", port " << j;
        EXPECT_EQ(bitsOf(nrDmrsListSc(&p)), dmrs) << what;
        EXPECT_EQ(bitsOf(nrDmrsNoDataSc(&p)), empty) << what;
        NrPdschLayout lay;
        nrPdschLayout(&p, &lay);
        std::set<int> txDmrs, txEmpty;
        for (int k = 0; k < 12; k++) {
          if (lay.dchDmrsSc[k]) txDmrs.insert(k);
          if (lay.dchNoDataSc[k]) txEmpty.insert(k);
        }
        EXPECT_EQ(txDmrs, dmrs) << what << " (transmitter)";
        EXPECT_EQ(txEmpty, empty) << what << " (transmitter)";
        EXPECT_EQ(lay.nDmrsSc, dmrs.size()) << what;

        uint8_t pos[12] = {}, sym[14] = {};
        ASSERT_TRUE(nrGetDmrsPos(pos, sym, &p));
        std::set<int> posSet, groupSet;
        const int g = ports > 2 ? 1 : 0;
        for (int k = 0; k < 12; k++) {
          if (pos[k]) posSet.insert(k);
          if (type == 1 ? k % 2 == g : (k % 6) / 2 == g) groupSet.insert(k);
        }
        EXPECT_EQ(posSet, groupSet) << what << " (nrGetDmrsPos)";
      }
    }
  }
}
