// Link-level sweeps: the receiver variants and HARQ through the sweep engine in this process, and
// `veltra sweep` / `veltra plot` as a script runs them (CSV, worker processes, interrupts, bad
// options, plots).
#include "app/sweep.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "config/nr_config.h"
#include "phy/rx/pdsch_rx_na.h"
#include "tests/app/run_veltra.h"
#include "tests/test_util.h"

namespace {

bool has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

NrSweepTally measure(const NrSweepCfg& cfg, double snrDb, uint64_t slots) {
  NrSweepTally t{};
  nrSweepRunSlots(&cfg, snrDb, 0, slots, &t);
  return t;
}

}  // namespace

// Both receivers decode a clean slot of every modulation; the noise-aware one estimates the noise
// variance per RE from the DMRS within 10 % (0.4 dB).
TEST(SweepEngine, ReceiversDecodeCleanSlotsAndTheNoiseIsEstimated) {
  ScopedTempDir dir;
  freshDefaultSlot();
  for (int mcs : {4, 11, 20, 27}) {
    NrSweepCfg cfg;
    cfg.mcs = mcs;
    NrSweepSlotInfo info{};
    ASSERT_TRUE(nrSweepPrepare(&cfg, &info)) << mcs;
    for (NrRxVariant rx : {NrRxVariant::kFixedNoise, NrRxVariant::kNoiseAware}) {
      cfg.receiver = rx;
      const NrSweepTally t = measure(cfg, 200.0, 2);
      EXPECT_EQ(t.tbErrors, 0u) << "MCS " << mcs << " receiver " << static_cast<int>(rx);
      EXPECT_EQ(t.deliveredBits, 2ull * info.tbs);
    }
    // The mean estimate over 20 slots (one slot's has about 9 % spread).
    cfg.receiver = NrRxVariant::kNoiseAware;
    for (double snr : {5.0, 15.0, 25.0}) {
      double sum = 0.0;
      for (uint64_t slot = 0; slot < 20; slot++) {
        NrSweepTally t{};
        nrSweepRunSlots(&cfg, snr, slot, 1, &t);
        sum += gnrUeDchNoiseVarNa;
      }
      const double want = nrChannelNoiseVar(info.es, snr);
      EXPECT_NEAR(sum / 20 / want, 1.0, 0.1) << "MCS " << mcs << " at " << snr << " dB";
    }
  }
  // No debug file is written by the sweep's receivers.
  EXPECT_NE(access("dchSoftbit.txt", F_OK), 0);
  EXPECT_NE(access("EncCrcBuff.txt", F_OK), 0);
}

// Two layers on two antennas: the noise-aware ZF and MMSE variants decode over AWGN and TDL-C.
TEST(SweepEngine, TwoLayersDecodeWithZfAndMmse) {
  ScopedTempDir dir;
  freshDefaultSlot();
  gnrNbConfig.cellCfg.antPortN = 2;
  gnrNbConfig.pdschCfg[0].layerN = 2;
  NrSweepCfg cfg;
  cfg.mcs = 11;
  NrSweepSlotInfo info{};
  ASSERT_TRUE(nrSweepPrepare(&cfg, &info));
  EXPECT_EQ(info.layers, 2u);
  for (NrRxVariant rx :
       {NrRxVariant::kFixedNoise, NrRxVariant::kNoiseAware, NrRxVariant::kNoiseAwareMmse}) {
    cfg.receiver = rx;
    EXPECT_EQ(measure(cfg, 200.0, 2).tbErrors, 0u) << static_cast<int>(rx);
  }
  cfg.channel.model = NrChannelModel::kTdlC;
  for (NrRxVariant rx : {NrRxVariant::kNoiseAware, NrRxVariant::kNoiseAwareMmse}) {
    cfg.receiver = rx;
    EXPECT_LE(measure(cfg, 40.0, 10).tbErrors, 2u) << static_cast<int>(rx);
  }
}

// Where rv 0 alone fails (noise-aware receiver, 16 dB, MCS 19, 10 % BLER near 17.8 dB), HARQ
// delivers the blocks after more transmissions: fewer block errors, more than one transmission per
// block.
TEST(SweepEngine, HarqDeliversWhatTheFirstTransmissionMisses) {
  ScopedTempDir dir;
  freshDefaultSlot();
  NrSweepCfg cfg;
  cfg.receiver = NrRxVariant::kNoiseAware;
  NrSweepSlotInfo info{};
  ASSERT_TRUE(nrSweepPrepare(&cfg, &info));
  const NrSweepTally once = measure(cfg, 16.0, 20);
  cfg.harqMax = 4;
  const NrSweepTally harq = measure(cfg, 16.0, 20);
  EXPECT_EQ(once.tbErrors, 20u);
  EXPECT_LE(harq.tbErrors, 2u);
  EXPECT_GE(harq.transmissions, 40u);
  EXPECT_EQ(harq.slots, 20u);
}

TEST(SweepEngine, WilsonIntervalOfKnownCases) {
  double lo = 0, hi = 0;
  nrWilson95(0, 100, &lo, &hi);
  EXPECT_NEAR(lo, 0.0, 1e-12);
  EXPECT_NEAR(hi, 0.0370, 1e-4);
  nrWilson95(50, 100, &lo, &hi);
  EXPECT_NEAR(lo, 0.4038, 1e-4);
  EXPECT_NEAR(hi, 0.5962, 1e-4);
  nrWilson95(100, 100, &lo, &hi);
  EXPECT_NEAR(lo, 0.9630, 1e-4);
  EXPECT_DOUBLE_EQ(hi, 1.0);
}

// The same sweep on one and on two worker processes gives the same CSV, byte for byte, with the
// stop after enough block errors and with HARQ over a fading channel.
TEST(SweepCli, OneAndTwoJobsGiveIdenticalCsv) {
  ScopedTempDir dir;
  const std::vector<std::vector<std::string>> sweeps = {
      {"--snr", "15:1:19", "--slots", "60", "--errors", "15", "--receiver", "noise-aware"},
      {"--channel", "tdlc", "--snr", "20:10:40", "--slots", "30", "--harq", "2", "--cfo", "300"},
  };
  for (const auto& s : sweeps) {
    std::string csv[2];
    for (int j = 1; j <= 2; j++) {
      std::vector<std::string> args = {"sweep", "--jobs", std::to_string(j), "--out", "r.csv"};
      args.insert(args.end(), s.begin(), s.end());
      const ProgramRun r = runVeltra(args, dir.path());
      ASSERT_EQ(r.code, 0) << r.err;
      EXPECT_TRUE(r.err.empty()) << "stderr is not a terminal: no progress\n" << r.err;
      csv[j - 1] = readWholeFile("r.csv");
    }
    EXPECT_EQ(csv[0], csv[1]);
    EXPECT_NE(access("r.csv.part", F_OK), 0) << "the CSV is renamed into place";
    EXPECT_EQ(csv[0].rfind(std::string(kSweepCsvHeader) + "\n", 0), 0u) << csv[0];
  }
  // The stop: at 15 dB every block fails, so the point ends after the batch with the 15th error.
  const ProgramRun r = runVeltra({"sweep", "--snr", "15:1:15", "--slots", "60", "--errors", "15",
                                  "--receiver", "noise-aware", "--out", "s.csv"},
                                 dir.path());
  EXPECT_TRUE(has(readWholeFile("s.csv"), "\n15.000,20,20,1.000000,")) << readWholeFile("s.csv");
}

TEST(SweepCli, BadOptionsAreUsageErrors) {
  ScopedTempDir dir;
  const struct {
    std::vector<std::string> args;
    const char* says;
  } cases[] = {
      {{"--slots", "-5"}, "--slots -5"},
      {{"--snr", "0:0:10"}, "never gets"},
      {{"--snr", "10:1:0"}, "never gets"},
      {{"--snr", "0:0.001:100"}, "points, at most"},
      {{"--snr", "a:1:3"}, "not a number"},
      {{"--channel", "rayleigh"}, "--channel rayleigh"},
      {{"--jobs", "1000"}, "--jobs 1000"},
      {{"--jobs", "0"}, "--jobs 0"},
      {{"--harq", "5"}, "--harq 5"},
      {{"--errors", "-1"}, "--errors -1"},
      {{"--delay-spread", "5000"}, "--delay-spread"},
      {{"--cfo", "20000"}, "--cfo"},
      {{"--receiver", "best"}, "--receiver best"},
      {{"--mcs", "40"}, "--mcs 40"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"sweep", "--out", "x.csv"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ProgramRun r = runVeltra(args, dir.path());
    EXPECT_EQ(r.code, 2) << c.args[0] << " " << c.args[1] << "\n" << r.err;
    EXPECT_TRUE(has(r.err, c.says)) << r.err;
    EXPECT_NE(access("x.csv", F_OK), 0);
  }
}

// A worker killed mid-sweep fails the sweep with exit code 1, names the worker, and leaves no
// CSV (an older one is removed).
TEST(SweepCli, WorkerThatDiesFailsTheSweep) {
  ScopedTempDir dir;
  writeWholeFile("r.csv", "stale\n");
  const pid_t pid = startVeltra(
      {"sweep", "--jobs", "2", "--snr", "0:1:30", "--slots", "100000", "--out", "r.csv"},
      dir.path());
  std::vector<pid_t> kids;
  for (int i = 0; i < 200 && kids.size() < 2; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    kids = childrenOf(pid);
  }
  ASSERT_EQ(kids.size(), 2u);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(kids[0], SIGKILL);
  EXPECT_EQ(waitCode(pid), 1);
  const std::string err = readWholeFile(".stderr");
  EXPECT_TRUE(has(err, "killed by signal 9") && has(err, "no results written")) << err;
  EXPECT_NE(access("r.csv", F_OK), 0);
  EXPECT_TRUE(childrenOf(pid).empty());
}

// A CSV that cannot be put in place fails the sweep with exit code 1 and leaves neither a CSV nor
// the partial file it was written to: the parent is not a directory, or the name is a directory.
TEST(SweepCli, UnwritableCsvFailsAndLeavesNoPartialFile) {
  ScopedTempDir dir;
  writeWholeFile("f", "a file\n");
  mkdir("d", 0755);
  for (const char* out : {"f/r.csv", "d"}) {
    const ProgramRun r =
        runVeltra({"sweep", "--snr", "20:1:20", "--slots", "20", "--out", out}, dir.path());
    EXPECT_EQ(r.code, 1) << out << "\n" << r.err;
    EXPECT_TRUE(has(r.err, out)) << r.err;
    EXPECT_NE(access((std::string(out) + ".part").c_str(), F_OK), 0) << out;
  }
  struct stat st;
  ASSERT_EQ(stat("d", &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

// Ctrl-C writes the points measured so far, each a whole number of batches in slot order.
TEST(SweepCli, InterruptWritesWhatWasMeasured) {
  ScopedTempDir dir;
  const pid_t pid = startVeltra(
      {"sweep", "--jobs", "1", "--snr", "0:1:30", "--slots", "100000", "--out", "r.csv"},
      dir.path());
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  kill(pid, SIGINT);
  EXPECT_EQ(waitCode(pid), 1);
  const std::string csv = readWholeFile("r.csv");
  ASSERT_EQ(csv.rfind(std::string(kSweepCsvHeader) + "\n", 0), 0u) << csv;
  const std::string row = csv.substr(csv.find('\n') + 1);
  ASSERT_FALSE(row.empty()) << "nothing measured in 1.5 s";
  EXPECT_EQ(row.rfind("0.000,", 0), 0u) << row;
  const long slots = std::atol(row.c_str() + row.find(',') + 1);
  EXPECT_GT(slots, 0);
  EXPECT_EQ(slots % kSweepBatch, 0);
  EXPECT_TRUE(has(readWholeFile(".stderr"), "interrupted"));
}

// --plot writes the PNG, the SVG and the script that renders them; `veltra plot` overlays files.
TEST(SweepCli, PlotsAreRenderedFromTheCsvWithTheirScript) {
  ScopedTempDir dir;
  ProgramRun r = runVeltra({"sweep", "--snr", "16:1:20", "--slots", "20", "--receiver",
                            "noise-aware", "--out", "a.csv", "--plot", "a"},
                           dir.path());
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(readWholeFile("a.png").substr(1, 3), "PNG");
  EXPECT_TRUE(has(readWholeFile("a.svg"), "<svg"));
  EXPECT_TRUE(has(readWholeFile("a.gp"), "a.csv"));
  r = runVeltra({"plot", "--out", "both", "a.csv=first", "a.csv=second"}, dir.path());
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(readWholeFile("both.png").substr(1, 3), "PNG");
  EXPECT_TRUE(has(readWholeFile("both.gp"), "\"second\""));
  r = runVeltra({"plot", "--out", "x", "missing.csv"}, dir.path());
  EXPECT_EQ(r.code, 2);
}
