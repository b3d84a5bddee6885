// Slot files through the console program: a slot described in a file is sent by one process and
// received by another from the file the transmitter wrote, as a user passing the waveform through
// other tools would do.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "tests/app/run_veltra.h"
#include "tests/test_util.h"

namespace {

struct Slot {
  std::string name;
  int mcsTable = 2, mcs = 10, layers = 1, rv = 0;
  int rbStart = 0, rbCount = 20;
  std::vector<int> rbs;  // instead of rbStart/rbCount when not empty
  int symbolStart = 2, symbolCount = 12;
  int type = 1, firstSymbol = 2;
  std::vector<int> addPos;
  std::vector<int> ports = {1000, 1001};
  int cdm = 1;
  bool fullCarrier = false;
};

std::string list(const std::vector<int>& v) {
  std::string s = "[";
  for (size_t i = 0; i < v.size(); i++) s += (i ? ", " : "") + std::to_string(v[i]);
  return s + "]";
}

std::string yamlOf(const Slot& s) {
  std::ostringstream y;
  if (s.fullCarrier) y << "bwp: {rbOffset: 0, nrb: 106}\n";
  y << "pdsch:\n"
    << "  - mcsTable: " << s.mcsTable << "\n    mcs: " << s.mcs << "\n    layers: " << s.layers
    << "\n    rv: " << s.rv << "\n";
  if (s.rbs.empty())
    y << "    rbStart: " << s.rbStart << "\n    rbCount: " << s.rbCount << "\n";
  else
    y << "    rbs: " << list(s.rbs) << "\n";
  y << "    symbolStart: " << s.symbolStart << "\n    symbolCount: " << s.symbolCount << "\n"
    << "    dmrs:\n      type: " << s.type << "\n      firstSymbol: " << s.firstSymbol
    << "\n      additionalPositions: " << list(s.addPos) << "\n      ports: " << list(s.ports)
    << "\n      cdmGroupsWithoutData: " << s.cdm << "\n";
  return y.str();
}

// Every MCS of both tables, the other parameters turning with it, and the configurations that
// stretch the chain: two layers, DMRS type 2, the second and third CDM group, three additional
// DMRS symbols, full carrier, short symbol runs, an RB list with gaps.
std::vector<Slot> slots() {
  std::vector<Slot> out;
  for (int table : {1, 2})
    for (int mcs = 0; mcs <= (table == 1 ? 28 : 27); mcs++) {
      Slot s;
      s.name = "table " + std::to_string(table) + " mcs " + std::to_string(mcs);
      s.mcsTable = table;
      s.mcs = mcs;
      s.layers = 1 + mcs % 2;
      s.type = 1 + (mcs / 2) % 2;
      s.cdm = 1 + (mcs / 4) % 2;
      s.symbolStart = mcs % 3;
      s.symbolCount = 14 - s.symbolStart - (mcs % 4);
      s.firstSymbol = s.symbolStart;
      if (s.symbolCount >= 10) s.addPos = {s.symbolStart + 5, s.symbolStart + 9};
      s.rbStart = mcs % 7;
      s.rbCount = 8 + 3 * mcs;
      out.push_back(s);
    }
  Slot s;
  s.name = "full carrier, 256QAM, two layers, three additional DMRS symbols";
  s.mcs = 27;
  s.layers = 2;
  s.fullCarrier = true;
  s.rbCount = 106;
  s.symbolStart = 0;
  s.symbolCount = 14;
  s.firstSymbol = 2;
  s.addPos = {5, 8, 11};
  out.push_back(s);
  s = Slot{};
  s.name = "type 2, two layers on ports 1004/1005 (CDM group 2)";
  s.type = 2;
  s.layers = 2;
  s.ports = {1004, 1005};
  s.cdm = 3;
  out.push_back(s);
  s = Slot{};
  s.name = "type 1, one layer on port 1003 (CDM group 1, cover -1)";
  s.ports = {1003};
  s.cdm = 2;
  out.push_back(s);
  s = Slot{};
  s.name = "one layer, ports of both CDM groups listed";
  s.ports = {1000, 1001, 1002, 1003};
  s.cdm = 2;
  out.push_back(s);
  s = Slot{};
  s.name = "type 2, one layer, three CDM groups without data";
  s.type = 2;
  s.cdm = 3;
  s.ports = {1000};
  out.push_back(s);
  s = Slot{};
  s.name = "two symbols, DMRS on the first";
  s.symbolStart = 9;
  s.symbolCount = 2;
  s.firstSymbol = 9;
  s.mcs = 4;
  s.rbCount = 40;
  out.push_back(s);
  s = Slot{};
  s.name = "RB list with gaps";
  s.rbs = {3, 4, 5, 9, 10, 30, 31, 32, 33, 60};
  out.push_back(s);
  s = Slot{};
  s.name = "redundancy version 2 at a low rate";
  s.mcs = 1;
  s.rv = 2;
  out.push_back(s);
  return out;
}

}  // namespace

TEST(SlotCli, EverySlotFileDecodesInAProcessOfItsOwn) {
  for (const Slot& s : slots()) {
    ScopedTempDir dir;
    writeWholeFile("slot.yaml", yamlOf(s));
    const ProgramRun tx = runVeltra({"--slot", "slot.yaml", "gNbTx"}, dir.path());
    ASSERT_EQ(tx.code, 0) << s.name << "\n" << yamlOf(s) << tx.err;
    EXPECT_EQ(access("nrNbTxData1.dat", F_OK) == 0, s.layers == 2) << s.name;
    // The receiver knows the slot only from the file the transmitter wrote.
    const ProgramRun rx = runVeltra({"--slot", "nrSlotCfg.yaml", "nrUeRx"}, dir.path());
    EXPECT_EQ(rx.code, 0) << s.name << "\n" << rx.out << rx.err;
    EXPECT_TRUE(readWholeFile("DecBuff.txt") == readWholeFile("EncCrcBuff.txt")) << s.name;
    EXPECT_FALSE(readWholeFile("DecBuff.txt").empty()) << s.name;
  }
}

// Without --slot and --seed the actions send the default slot; its file, read back in another
// process, receives it; --seed draws another slot, which travels the same way.
TEST(SlotCli, DefaultAndSeededSlotsTravelThroughTheirFile) {
  ScopedTempDir dir;
  ProgramRun r = runVeltra({"gNbTx"}, dir.path());
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string defaultSlot = readWholeFile("nrSlotCfg.yaml");
  EXPECT_NE(defaultSlot.find("seed: 21845"), std::string::npos) << defaultSlot;
  EXPECT_NE(defaultSlot.find("tbs: 2976"), std::string::npos) << defaultSlot;
  EXPECT_NE(defaultSlot.find("sampleRate: 30720000"), std::string::npos) << defaultSlot;
  r = runVeltra({"--slot", "nrSlotCfg.yaml", "nrUeRx"}, dir.path());
  EXPECT_EQ(r.code, 0) << r.out << r.err;

  r = runVeltra({"--seed", "12", "gNbTx"}, dir.path());
  ASSERT_EQ(r.code, 0) << r.err;
  const std::string seeded = readWholeFile("nrSlotCfg.yaml");
  EXPECT_NE(seeded.find("seed: 12"), std::string::npos);
  EXPECT_NE(seeded, defaultSlot);
  r = runVeltra({"--slot", "nrSlotCfg.yaml", "nrUeRx"}, dir.path());
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_EQ(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt"));
}

// A refused slot file stops the program before any action runs, with exit code 2 and one line
// naming the file, line and column.
TEST(SlotCli, RefusedSlotFileIsAUsageErrorBeforeAnythingRuns) {
  ScopedTempDir dir;
  writeWholeFile("bad.yaml", "pdsch:\n  - mcs: 99\n");
  ProgramRun r = runVeltra({"--slot", "bad.yaml", "gNbTx"}, dir.path());
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("bad.yaml:2:10: pdsch[0].mcs: 99 is outside 0..27"), std::string::npos)
      << r.err;
  EXPECT_NE(access("nrNbTxData.dat", F_OK), 0);
  r = runVeltra({"--slot", "missing.yaml", "gNbTx"}, dir.path());
  EXPECT_EQ(r.code, 2);
  EXPECT_NE(r.err.find("missing.yaml: cannot open the slot file"), std::string::npos) << r.err;
}
