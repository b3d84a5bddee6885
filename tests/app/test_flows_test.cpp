// The file-driven test flows on test-vector directories written by the bench's own transmitter:
// loopback of both slots through PDCCH and PDSCH, the sections read per slot, the configuration
// steps, and missing or short files.
#include "app/test_flows.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/test_vector.h"
#include "config/config_files.h"
#include "config/nr_config.h"
#include "config/slot_update.h"
#include "config/tv_sample.h"
#include "phy/coding/crc.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/common/sequence.h"
#include "tests/config/file_fixture.h"
#include "tests/test_util.h"

namespace {

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
  return n;
}

std::string bits(const uint8_t* b, int n) {
  std::string s;
  for (int i = 0; i < n; i++) s += static_cast<char>('0' + b[i]);
  return s;
}

// The detection line of the DCI the writer sent in slot i: its first symbol, the aggregation
// index of its level and its candidate (the first CCE over the level), then its payload.
std::string detectionLine(const NrTvWriteReport& rep, int i, int candidate) {
  const NrTvSlotDesc& t = kNrTvSlots[i];
  int g = 0;
  while ((1 << g) < t.aggrL) g++;
  return "Detected DCI [crc Passed!]Start@" + std::to_string(t.startSymbol) +
         "symbol  \nAggrelvl " + std::to_string(g) + ", the " + std::to_string(candidate) +
         " th candi-DCI payload: " + bits(rep.slot[i].dci, rep.slot[i].payloadSize) + "\n";
}

// The transport block of size A as the transmitter sends it (PN9 from the start, then its CRC),
// one "%d\n" line per bit, as "EncCrcBuff.txt" and "DecBuff.txt" hold it.
std::string tbLines(uint32_t A) {
  std::vector<int32_t> tb(A + 24);
  nrPnSeqInit(9);
  nrPnSeqGen(9, tb.data(), A);
  const uint8_t type = A <= 3824 ? kCrc16 : kCrc24A;
  const int len = A <= 3824 ? kCrc16Len : kCrc24Len;
  const uint32_t crc = nrCrcCalc(tb.data(), type, static_cast<int32_t>(A));
  std::string s;
  for (uint32_t i = 0; i < A; i++) s += std::to_string(tb[i]) + "\n";
  for (int i = 0; i < len; i++) s += std::to_string((crc >> i) & 1) + "\n";
  return s;
}

NrTvWriteReport writeTv(const char* dir, NrTvChannelCfg ch = {}) {
  NrTvWriteReport rep{};
  const ConsoleText t = captureConsole([&] { EXPECT_TRUE(nrWriteTestVector(dir, &ch, &rep)); });
  EXPECT_EQ(t.err, "");
  return rep;
}

struct UeRun {
  int slots = 0;
  NrUeTestReport report{};
  ConsoleText text;
};
UeRun runUe(const char* dir) {
  UeRun r;
  r.text = captureConsole([&] { r.slots = nrUeTestMain(dir, &r.report); });
  return r;
}

// Cuts the four sample files of dir to `bytes` bytes.
void truncateSamples(const std::string& dir, off_t bytes) {
  for (const char* name : kTvFileNames)
    ASSERT_EQ(truncate((dir + "/" + name).c_str(), bytes), 0) << name;
}

// The first `bytes` bytes of a sample file only.
void truncateOne(const std::string& path, off_t bytes) {
  ASSERT_EQ(truncate(path.c_str(), bytes), 0);
}

// The records of slot `slot` of the writer's directory, as the UE flow sets them up.
void configureSlot(const char* dir, int digit, uint16_t slot) {
  captureConsole([&] {
    const std::string d = std::to_string(digit);
    ASSERT_TRUE(nrReadSectionCfg(dir, ("com" + d).c_str()));
    ASSERT_TRUE(nrReadSectionCfg(dir, ("cch" + d).c_str()));
    ASSERT_TRUE(nrReadSectionCfg(dir, ("dch" + d).c_str()));
    ASSERT_TRUE(updateSystemConfiguration(slot));
  });
}

constexpr uint32_t kSlotBytes = 2 * kSlotSampleCap;  // one slot of one sample file

}  // namespace

// Both slots come back through the files: each DCI with the payload sent, each transport block
// with every code block's CRC, over a clean second antenna and over the channels that make the
// two antennas differ.
TEST(TestFlows, LoopbackDecodesBothSlotsWithTheirDci) {
  NrTvChannelCfg gain;
  gain.kind = NrTvChannel::kPortGain;
  gain.gain = 0.25;
  NrTvChannelCfg hot = gain;
  hot.gain = 4.0;
  NrTvChannelCfg twoTap;
  twoTap.kind = NrTvChannel::kTwoTap;
  twoTap.delay = 8;
  twoTap.tapGain = 0.5;
  NrTvChannelCfg notch = twoTap;  // a deep notch across the band every 2048 / 37 subcarriers
  notch.delay = 37;
  notch.tapGain = -0.9;
  const struct {
    const char* name;
    NrTvChannelCfg ch;
  } cases[] = {{"identity", {}},
               {"antenna 2 at 1/4", gain},
               {"antenna 2 at 4", hot},
               {"two taps 8:0.5", twoTap},
               {"two taps 37:-0.9", notch}};
  for (const auto& c : cases) {
    ScopedTempDir dir;
    const NrTvWriteReport sent = writeTv("tv", c.ch);
    ASSERT_NE(sent.slot[0].tbSize, sent.slot[1].tbSize);
    // Slot 4's DCI follows another UE's in its PN9 sequence: no prefix of slot 2's.
    ASSERT_NE(bits(sent.slot[0].dci, 39), bits(sent.slot[1].dci, 39));
    const UeRun r = runUe("tv");
    const std::string& out = r.text.out;
    EXPECT_EQ(r.slots, 2);
    EXPECT_TRUE(r.report.allOk) << c.name << "\n" << out << r.text.err;
    // Slot 2: level 4 from CCE 0 (candidate 0); slot 4: level 2 from CCE 2 (candidate 1).
    const size_t dci2 = out.find(detectionLine(sent, 0, 0));
    const size_t dci4 = out.find(detectionLine(sent, 1, 1));
    EXPECT_NE(dci2, std::string::npos) << c.name << "\n" << out;
    EXPECT_NE(dci4, std::string::npos) << c.name;
    EXPECT_EQ(countOf(out, "Detected DCI"), 2u) << c.name << ": not the other UE's DCI";
    EXPECT_EQ(countOf(out, "dec CRC failed"), 0u) << c.name;
    EXPECT_EQ(countOf(out, "the PDSCH decode  finished\n"), 2u) << c.name;
    EXPECT_EQ(countOf(out, "invalid data"), 0u) << c.name;
    // Each slot: its DCI, then its code blocks from codeword 0 on, then the closing line.
    const size_t end2 = out.find("the PDSCH decode  finished\n");
    ASSERT_NE(end2, std::string::npos);
    EXPECT_LT(dci2, out.find("codeword: [0] dec CRC OK")) << c.name;
    EXPECT_LT(out.find("codeword: [0] dec CRC OK"), end2) << c.name;
    EXPECT_LT(end2, dci4) << c.name;
    EXPECT_NE(out.find("codeword: [0] dec CRC OK", dci4), std::string::npos) << c.name;
    // The last block decoded is slot 4's own: its size, not slot 2's.
    EXPECT_EQ(readWholeFile("DecBuff.txt"), tbLines(sent.slot[1].tbSize)) << c.name;
    EXPECT_EQ(readWholeFile("EncCrcBuff.txt"), readWholeFile("DecBuff.txt")) << c.name;
    for (const NrUeSlotOutcome& s : r.report.slot) {
      EXPECT_TRUE(s.configured && s.samplesHeld && s.pdcchExpected) << c.name;
      EXPECT_EQ(s.dciN, 1) << c.name << " slot " << s.slot;
      EXPECT_EQ(s.valid, 1);
      EXPECT_EQ(s.decoded, 1);
    }
  }
}

// Slot 2 is configured from the sections ending in 1, slot 4 from those ending in 2, each after
// the UE records were cleared: slot 4's PDSCH interface is its own.
TEST(TestFlows, EachSlotReadsItsOwnSections) {
  ScopedTempDir dir;
  const NrTvWriteReport sent = writeTv("tv");
  const UeRun r = runUe("tv");
  const std::string& out = r.text.out;
  const size_t slot4 = out.find("the PDSCH decode  finished\n");
  ASSERT_NE(slot4, std::string::npos) << out;
  for (const char* s : {"com", "cch", "dch"}) {
    const std::string one = "==> filepath = tv/NRPhy_configuration_" + std::string(s) + "1.txt\n";
    const std::string two = "==> filepath = tv/NRPhy_configuration_" + std::string(s) + "2.txt\n";
    EXPECT_EQ(countOf(out, one), 1u) << s;
    EXPECT_EQ(countOf(out, two), 1u) << s;
    EXPECT_LT(out.find(one), slot4) << s;
    EXPECT_GT(out.find(two), slot4) << s;
  }
  // The data interface was built once per slot, the samples loaded once per slot.
  EXPECT_EQ(countOf(out, "===>>>> nrUpdateDchMwInfo() started ===\n"), 2u);
  EXPECT_EQ(countOf(out, "===>>>>  nrPhylibLoadDataFile() started ===\n"), 2u);
  EXPECT_EQ(countOf(out, "===>>>> nrPhylibUpdateDchDataForSlot() started ===\n"), 2u);
  const NrDchMwItf& dch = gnrDchMwItf;
  EXPECT_EQ(dch.tbSize, sent.slot[1].tbSize);
  EXPECT_EQ(dch.rnti, kNrTvSlots[1].rnti);
  EXPECT_EQ(dch.pdschCfg.rbN, sent.slot[1].pdschRbN);
  EXPECT_EQ(dch.pdschCfg.rbIdx[6], 36) << "the second RB group of pdschRBG_Bitmap2.txt";
  EXPECT_EQ(dch.pdschCfg.rbIdx[12], 48) << "the third group skips RBs 42 .. 47";
  EXPECT_EQ(gnrUeConfig.coresetCfg[0].duration, kNrTvSlots[1].duration);
  EXPECT_EQ(gnrUeConfig.sysInitDone, 0) << "the next read starts from cleared records";
}

// A slot whose data the front end refuses is received once: one "no valid data" verdict, the
// invalid-data line, and a failed flow.
TEST(TestFlows, InvalidSlotRunsTheFrontEndOnce) {
  ScopedTempDir dir;
  writeTv("tv");
  // Slot 4's dch section with modulation order 3, which the front end does not demap.
  const std::string path = "tv/NRPhy_configuration_dch2.txt";
  std::string dch = readWholeFile(path);
  const size_t qm = dch.find("\n4 Qm\n");
  ASSERT_NE(qm, std::string::npos) << dch;
  dch.replace(qm, 6, "\n3 Qm\n");
  writeWholeFile(path, dch);

  const UeRun r = runUe("tv");
  EXPECT_EQ(countOf(r.text.out, "==>no valid data input!!!!\n"), 1u) << r.text.out;
  EXPECT_EQ(countOf(r.text.out, "the PDSCH decode: invalid data, cannot do dec \n"), 1u);
  EXPECT_EQ(countOf(r.text.out, "the PDSCH decode  finished\n"), 1u);
  EXPECT_EQ(countOf(r.text.err, "modulation order 3 not supported"), 1u) << r.text.err;
  EXPECT_TRUE(r.report.slot[0].ok);
  EXPECT_EQ(r.report.slot[1].dciN, 1) << "the PDCCH is still found";
  EXPECT_EQ(r.report.slot[1].valid, 0);
  EXPECT_FALSE(r.report.slot[1].ok);
  EXPECT_FALSE(r.report.allOk);
}

// A missing or short test-vector directory: the quoted open failures, the invalid-data line per
// slot that the files do not hold, a failed flow, and nothing received from zeros.
TEST(TestFlows, MissingOrShortFilesGiveInvalidData) {
  {
    ScopedTempDir dir;
    mkdir("empty", 0755);
    const UeRun r = runUe("empty");
    const std::string& out = r.text.out;
    EXPECT_EQ(r.slots, 2);
    EXPECT_EQ(countOf(out, "Fail to open file: empty/vuetxWavePort1Real.dat!\n"), 2u) << out;
    EXPECT_EQ(countOf(out, "Fail to open file: empty/vuetxWavePort2Imag.dat!\n"), 2u);
    EXPECT_EQ(countOf(out, "Fail to open file: empty/NRPhy_configuration_cch1.txt!\n"), 1u);
    EXPECT_EQ(countOf(out, "Fail to open file: empty/NRPhy_configuration_dch2.txt!\n"), 1u);
    EXPECT_EQ(countOf(out, "the PDSCH decode: invalid data, cannot do dec \n"), 2u);
    EXPECT_EQ(countOf(out, "DCH process"), 0u);
    EXPECT_EQ(countOf(out, "Enter Dec module"), 0u);
    EXPECT_FALSE(r.report.allOk);
    EXPECT_FALSE(r.report.slot[0].configured || r.report.slot[1].configured);
    EXPECT_NE(r.text.err.find("slot 2 not received: its configuration (com1, cch1, dch1)"),
              std::string::npos)
        << r.text.err;
  }
  const struct {
    const char* name;
    off_t bytes;        // all four files cut to this size (-1: only antenna 2's imaginary part)
    bool slot2, slot4;  // decoded
    const char* diag;
  } cases[] = {
      {"files of 1000 bytes", 1000, false, false, "slot 2 ends at sample 92160"},
      {"three slots", 3 * kSlotBytes, true, false, "slot 4 ends at sample 153600"},
      {"five slots less one byte", 5 * kSlotBytes - 1, true, false, "holds 153599 samples"},
      {"antenna 2 imaginary part short", -1, false, false, "vuetxWavePort2Imag.dat holds 30720"},
  };
  for (const auto& c : cases) {
    ScopedTempDir dir;
    writeTv("tv");
    if (c.bytes >= 0)
      truncateSamples("tv", c.bytes);
    else
      truncateOne("tv/vuetxWavePort2Imag.dat", kSlotBytes);
    const UeRun r = runUe("tv");
    const std::string& out = r.text.out;
    EXPECT_EQ(r.report.slot[0].decoded == 1, c.slot2) << c.name << "\n" << out;
    EXPECT_EQ(r.report.slot[1].decoded == 1, c.slot4) << c.name;
    EXPECT_FALSE(r.report.allOk) << c.name;
    EXPECT_EQ(countOf(out, "the PDSCH decode: invalid data, cannot do dec \n"),
              (c.slot2 ? 0u : 1u) + (c.slot4 ? 0u : 1u))
        << c.name;
    EXPECT_EQ(countOf(out, "dec CRC failed"), 0u) << c.name << ": no slot decoded from zeros";
    EXPECT_EQ(countOf(out, "Does not Detected"), 0u) << c.name << ": no search over zeros";
    EXPECT_NE(r.text.err.find(c.diag), std::string::npos) << c.name << "\n" << r.text.err;
  }
}

// genDChConfiguration for the second PDSCH of a main file without one says so and leaves the
// samples alone; its other results tell slot mod 4 from a refusal.
TEST(TestFlows, DataStepWithoutASecondPdschIsRefused) {
  ScopedTempDir dir;
  writeTv("tv");
  configureSlot("tv", 1, 2);
  std::memset(ueRxSample, 0x5A, sizeof(ueRxSample));
  int32_t r = 0;
  ConsoleText t = captureConsole([&] { r = genDChConfiguration("tv", 2, 1); });
  EXPECT_EQ(r, kGenDchRefused);
  EXPECT_NE(t.out.find("not configed the second PDSCH \n"), std::string::npos) << t.out;
  EXPECT_EQ(t.out.find("genCChConfiguration"), std::string::npos) << "steps without their lines";
  for (int a = 0; a < 2; a++)
    for (int c = 0; c < 2; c++)
      for (int i : {0, 30719}) EXPECT_EQ(ueRxSample[a][c][i], 0x5A5A);

  // PDSCH 0 of the main file: the redundancy-version index of the slot, 0 for slot 4 as well.
  for (uint16_t slot : {2, 3, 4}) {
    t = captureConsole([&] { r = genDChConfiguration("tv", slot, 0); });
    EXPECT_EQ(r, slot % 4) << t.err;
    EXPECT_EQ(gnrDchMwItf.pdschCfg.rvIdx, 0);
    EXPECT_EQ(gnrDchMwItf.cellCfg.fftSize, 2048);
    EXPECT_EQ(ueRxSample[0][0][100], tvSample[0][0][slot * kSlotSampleCap + 100]);
  }
  // The map of the main file's search space: its start symbol 0 lists none of ssList, so only
  // the PDSCH (symbols 1 .. 13, RBs 4 .. 63) is marked.
  const NrCellCfg& cell = gnrDchMwItf.cellCfg;
  EXPECT_EQ(cell.rbMap[0][10], kRbFree);
  EXPECT_EQ(cell.rbMap[1][4], kRbPdsch);
  EXPECT_EQ(cell.rbMap[13][63], kRbPdsch);
  EXPECT_EQ(cell.rbMap[13][64], kRbFree);
}

// genCChConfiguration copies 15 N samples of the slot into every receive antenna.
TEST(TestFlows, ControlStepCopiesTheSlotIntoEveryAntenna) {
  ScopedTempDir dir;
  NrTvChannelCfg twoTap;  // the antennas differ, so that each copy is told apart
  twoTap.kind = NrTvChannel::kTwoTap;
  twoTap.delay = 8;
  twoTap.tapGain = 0.5;
  writeTv("tv", twoTap);
  configureSlot("tv", 1, 2);
  std::memset(ueRxSample, 0x5A, sizeof(ueRxSample));
  uint8_t r = 0;
  const ConsoleText t = captureConsole([&] { r = genCChConfiguration("tv", 4); });
  ASSERT_EQ(r, 1) << t.err;
  EXPECT_EQ(t.out.rfind("=== genCChConfiguration() started ===\n=== nrSysInit() started ===\n", 0),
            0u)
      << t.out;
  EXPECT_NE(
      t.out.find("=== nrCchmwInterfConf() exited ===\n=== genCChConfiguration() exited ===\n"),
      std::string::npos)
      << t.out;
  const uint32_t first = 4u * kSlotSampleCap;
  int differ = 0;
  for (int a = 0; a < 2; a++)
    for (int c = 0; c < 2; c++) {
      for (uint32_t i = 0; i < static_cast<uint32_t>(kSlotSampleCap); i++)
        ASSERT_EQ(ueRxSample[a][c][i], tvSample[a][c][first + i]) << a << c << " " << i;
      differ += std::memcmp(ueRxSample[0][c], ueRxSample[1][c], sizeof(ueRxSample[0][c])) != 0;
    }
  EXPECT_EQ(differ, 4);
  EXPECT_EQ(gnrCchMwItf.cellCfg.nId, 0);
  EXPECT_EQ(gnrCchMwItf.payloadSize[0], kNrTvSlots[0].payloadSize) << "from the main file";

  // A negative slot is refused before anything is read.
  std::string err = captureDiag([&] { r = genCChConfiguration("tv", -1); });
  EXPECT_EQ(r, 0);
  EXPECT_NE(err.find("slot -1 is negative"), std::string::npos) << err;
}

// Without the per-slot update the cell block is empty: the steps refuse to cut or receive a slot
// (FFT size 0) instead of running on it.
TEST(TestFlows, StepsInAFreshProcessRefuseWithoutTheCellBlock) {
  ScopedTempDir dir;
  writeTv("tv");
  const struct {
    const char* name;
    int (*run)();
  } steps[] = {
      {"genCChConfiguration", [] { return int{genCChConfiguration("tv", 2)}; }},
      {"genDChConfiguration",
       [] { return genDChConfiguration("tv", 2, 0) == kGenDchRefused ? 0 : 1; }},
      {"genDChRxConfiguration", [] { return int{genDChRxConfiguration("tv", 2, 0)}; }},
      {"genSlotRxData", [] { return int{genSlotRxData("tv", 2)}; }},
  };
  for (const auto& s : steps) {
    int r = 1;
    const ConsoleText t = captureConsole([&] { r = s.run(); });
    EXPECT_EQ(r, 0) << s.name;
    EXPECT_NE(t.err.find(std::string(s.name) + ": no cell block (FFT size 0, 0 antennas"),
              std::string::npos)
        << s.name << "\n"
        << t.err;
    EXPECT_EQ(t.out.find("DCH process"), std::string::npos) << s.name;
    EXPECT_EQ(t.out.find("no valid data"), std::string::npos) << s.name;
    EXPECT_EQ(gnrDchMwItf.rxDone, 0) << s.name << ": the front end did not run";
  }
}

// With the cell block of the per-slot update, the receive step takes slot 2's PDSCH as the main
// file describes it, and it decodes.
TEST(TestFlows, ReceiveStepDecodesTheMainFilesPdsch) {
  ScopedTempDir dir;
  const NrTvWriteReport sent = writeTv("tv");
  configureSlot("tv", 1, 2);
  uint8_t valid = 0;
  captureConsole([&] { valid = genDChRxConfiguration("tv", 2, 0); });
  ASSERT_EQ(valid, 1);
  const NrDchMwItf& dch = gnrDchMwItf;
  EXPECT_EQ(dch.tbSize, sent.slot[0].tbSize);
  EXPECT_EQ(dch.cellCfg.rbMap[0][0], kRbControl) << "CORESET 0's RBs in its symbol";
  uint8_t decoded = 0;
  captureConsole([&] {
    decoded = nrDlschDecode(dch.tbSize, dch.codedBitN, dch.codeRate,
                            static_cast<int32_t>(nrPdschDataCinit(dch.rnti, 0)), dch.pdschCfg.Qm,
                            dch.pdschCfg.rvIdx, ueLlrBuf, dch.pdschCfg.layerN, 0);
  });
  EXPECT_EQ(decoded, 1);
  EXPECT_EQ(readWholeFile("DecBuff.txt"), tbLines(sent.slot[0].tbSize));

  // genSlotRxData cuts any slot the files hold, and refuses one beyond them.
  std::memset(ueRxSample, 0, sizeof(ueRxSample));
  captureConsole([] { EXPECT_EQ(genSlotRxData("tv", 4), 1); });
  EXPECT_EQ(ueRxSample[1][1][5], tvSample[1][1][4 * kSlotSampleCap + 5]);
  truncateSamples("tv", 4 * kSlotBytes);
  uint8_t r = 1;
  const std::string err = captureDiag([&] { r = genSlotRxData("tv", 4); });
  EXPECT_EQ(r, 0);
  EXPECT_NE(err.find("genSlotRxData: slot 4 ends at sample 153600"), std::string::npos) << err;
}

// The gNB flow configures slot 0 from the sections ending in 1 and, without a terminal on
// standard input, returns at once.
TEST(TestFlows, GnbFlowConfiguresTheFirstSlot) {
  ScopedTempDir dir;
  writeTv("tv");
  const int devNull = open("/dev/null", O_RDONLY);
  const int savedIn = dup(STDIN_FILENO);
  dup2(devNull, STDIN_FILENO);
  bool ok = false;
  int key = 0;
  ConsoleText t = captureConsole([&] { key = nrGnbTestMain("tv", &ok); });
  EXPECT_TRUE(ok) << t.err;
  EXPECT_EQ(key, kNrNoKey);
  EXPECT_EQ(t.out.rfind("===>>gNB test Main  \n", 0), 0u);
  EXPECT_NE(t.out.find("==> filepath = tv/NRPhy_configuration_dch1.txt\n"), std::string::npos);
  EXPECT_EQ(t.out.find("dch2"), std::string::npos);
  EXPECT_NE(t.out.find("=== updateSystemConfiguration() exited ===>>>>\n"), std::string::npos);
  EXPECT_EQ(t.err, "");
  EXPECT_EQ(gnrDchMwItf.pdschCfg.symBitmap, 0x3FFE) << "slot 2's PDSCH, symbols 1 .. 13";

  mkdir("empty", 0755);
  t = captureConsole([&] { key = nrGnbTestMain("empty", &ok); });
  EXPECT_FALSE(ok);
  EXPECT_NE(t.out.find("Fail to open file: empty/NRPhy_configuration_com1.txt!\n"),
            std::string::npos);
  EXPECT_NE(t.err.find("nrGnbTestMain: slot 0 not configured"), std::string::npos) << t.err;
  dup2(savedIn, STDIN_FILENO);
  close(savedIn);
  close(devNull);
}

// The directory the writer makes reads back as the slots it sent: the main file's registers, and
// no file of an earlier recording that the slots do not use.
TEST(TestFlows, WriterFilesReadBackAsTheSlotsSent) {
  ScopedTempDir dir;
  mkdir("tv", 0755);
  // An earlier recording's rate-matching rows and CORESET bitmap would change both slots.
  writeWholeFile("tv/dchRateMatchConifg1.txt", commaFile({0, 60, 1, 4095, 0x3FFF}));
  writeWholeFile("tv/coresetRBG_Bitmap2.txt", commaFile({0, 1, 1, 1}));
  writeWholeFile("tv/pdschRBG_Bitmap1.txt", commaFile({1}));
  freshDefaultSlot();
  const NrNbConfig before = gnrNbConfig;
  const NrTvWriteReport sent = writeTv("tv");
  EXPECT_EQ(std::memcmp(&before, &gnrNbConfig, sizeof(before)), 0) << "gnrNbConfig restored";
  for (const char* gone :
       {"tv/dchRateMatchConifg1.txt", "tv/coresetRBG_Bitmap2.txt", "tv/pdschRBG_Bitmap1.txt"})
    EXPECT_NE(access(gone, F_OK), 0) << gone;
  EXPECT_EQ(readWholeFile("tv/pdschRBG_Bitmap2.txt"), "1,1,0,1,0,1,1,1,\n");
  EXPECT_EQ(readWholeFile("tv/NRPhy_configuration_com2.txt"),
            "com section of slot 4\n106 carrierNrb\n0 bwpRbOffset\n106 bwpNrb\n");
  for (const char* name : kTvFileNames)
    EXPECT_EQ(readWholeFile(std::string("tv/") + name).size(), 2u * kTvSampleCap) << name;

  bool ok = false;
  captureConsole([&] { ok = nrSysInit("tv"); });
  ASSERT_TRUE(ok);
  const NrTvSlotDesc& t = kNrTvSlots[0];
  EXPECT_EQ(sysRegData[9], t.ueSpecific) << "index 10 keeps the PDSCH's first RB";
  EXPECT_EQ(sysRegData[10], t.pdschFirstRb);
  EXPECT_EQ(sysRegData[12], 2);
  EXPECT_EQ(static_cast<uint16_t>(sysRegData[26]), sent.slot[0].tbSize);
  EXPECT_EQ(sysRegData[38], 0);
  EXPECT_EQ(sysRegData[50], 0);
  EXPECT_EQ(sysRegData[69], 0);
  EXPECT_EQ(gnrUeConfig.coresetCfg[0].allocNrb, 48);
  EXPECT_EQ(gnrUeConfig.coresetCfg[0].intvC, 4);

  EXPECT_TRUE(runUe("tv").report.allOk);
}

// Channel values the writer cannot apply are refused before anything is written.
TEST(TestFlows, WriterRefusesChannelsOutOfRange) {
  ScopedTempDir dir;
  const struct {
    NrTvChannel kind;
    double gain;
    uint32_t delay;
    double tapGain;
    const char* why;
  } bad[] = {{NrTvChannel::kPortGain, 8.5, 0, 0, "port gain outside 0 .. 8"},
             {NrTvChannel::kPortGain, -0.1, 0, 0, "port gain outside 0 .. 8"},
             {NrTvChannel::kTwoTap, 1, 0, 0.5, "delay outside 1 .. 144"},
             {NrTvChannel::kTwoTap, 1, 145, 0.5, "delay outside 1 .. 144"},
             {NrTvChannel::kTwoTap, 1, 8, 1.5, "tap gain outside -1 .. 1"}};
  for (const auto& b : bad) {
    NrTvChannelCfg ch;
    ch.kind = b.kind;
    ch.gain = b.gain;
    ch.delay = b.delay;
    ch.tapGain = b.tapGain;
    bool ok = true;
    const std::string err = captureDiag([&] { ok = nrWriteTestVector("tv", &ch, nullptr); });
    EXPECT_FALSE(ok) << b.why;
    EXPECT_NE(err.find(b.why), std::string::npos) << err;
    EXPECT_NE(access("tv", F_OK), 0) << b.why;
  }
}
