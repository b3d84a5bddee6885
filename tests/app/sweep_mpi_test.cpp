// `mpirun -np K veltra sweep` as a cluster job runs it: the CSV of any number of ranks is that of
// one worker on one machine, a rank that fails or dies fails the sweep without a CSV, ranks that
// disagree on the program, options or slot are refused before anything is measured, and a build
// without MPI refuses to run as ranks. The launcher is the one found at configure time; without
// one these tests skip.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "app/sweep.h"
#include "tests/app/run_veltra.h"
#include "tests/test_util.h"

namespace {

bool has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

#ifdef VELTRA_MPIRUN
// Built with AddressSanitizer: gcc says so with a macro, clang through __has_feature.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// mpirun as a CI job in a container needs it: as root, more ranks than cores on a shared machine,
// no binding to cores, and no cross-memory attach between the ranks (often not permitted there).
std::vector<std::string> launcherOptions() {
  return {"--allow-run-as-root",
          "--oversubscribe",
          "--bind-to",
          "none",
          "--mca",
          "btl_vader_single_copy_mechanism",
          "none"};
}

// The options of one group of ranks (before its -np). Under AddressSanitizer the ranks keep every
// check but the leak check: Open MPI leaves its own allocations in place at MPI_Finalize and
// unloads its components, whose stacks no suppression can then name. The runs of one process in
// these tests keep the leak check.
std::vector<std::string> rankOptions() {
  if (!kAddressSanitizer) return {};
  const char* asan = std::getenv("ASAN_OPTIONS");
  const std::string given = asan && *asan ? std::string(asan) + ":" : "";
  return {"-x", "ASAN_OPTIONS=" + given + "detect_leaks=0"};
}

std::vector<std::string> mpirun(int ranks, const std::vector<std::string>& veltraArgs) {
  std::vector<std::string> a = launcherOptions();
  for (const std::string& o : rankOptions()) a.push_back(o);
  a.insert(a.end(), {"-np", std::to_string(ranks), VELTRA_BIN});
  a.insert(a.end(), veltraArgs.begin(), veltraArgs.end());
  return a;
}

ProgramRun runMpi(int ranks, const std::vector<std::string>& veltraArgs, const std::string& dir) {
  return runProgram(VELTRA_MPIRUN, mpirun(ranks, veltraArgs), dir);
}

#ifdef VELTRA_MPI
// The process of rank r among the children of the launcher, -1 while there is none yet.
pid_t rankProcess(pid_t launcher, int r) {
  for (pid_t p : childrenOf(launcher)) {
    std::ifstream env("/proc/" + std::to_string(p) + "/environ");
    const std::string vars((std::istreambuf_iterator<char>(env)), std::istreambuf_iterator<char>());
    if (has(vars, std::string("OMPI_COMM_WORLD_RANK=") + std::to_string(r) + '\0')) return p;
  }
  return -1;
}

// Starts a long two-rank sweep writing r.csv over a stale one and waits until it measures; gives
// the launcher and the process of rank 1.
bool startLongSweep(const std::string& dir, pid_t* launcher, pid_t* rank1) {
  writeWholeFile("r.csv", "stale\n");
  *launcher = startProgram(
      VELTRA_MPIRUN, mpirun(2, {"sweep", "--snr", "0:1:30", "--slots", "100000", "--out", "r.csv"}),
      dir);
  for (int i = 0; i < 400; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    *rank1 = rankProcess(*launcher, 1);
    if (*rank1 > 0 && has(readWholeFile(".stdout"), "MPI rank(s)") &&
        childrenOf(*rank1).size() == 1)
      return true;
  }
  return false;
}
#endif  // VELTRA_MPI
#endif  // VELTRA_MPIRUN

}  // namespace

TEST(MpiSweep, VersionSaysWhetherMpiIsIn) {
  ScopedTempDir dir;
  const ProgramRun r = runVeltra({"--version"}, dir.path());
  EXPECT_EQ(r.code, 0);
#ifdef VELTRA_MPI
  EXPECT_TRUE(has(r.out, "MPI sweeps: built with ")) << r.out;
#else
  EXPECT_TRUE(has(r.out, "MPI sweeps: not built")) << r.out;
#endif
}

// mpirun, srun with or without an MPI plugin, and Hydra tell a process that it is a rank; a
// single-task Slurm step or a plain start does not make one.
TEST(MpiSweep, LaunchersAreRecognisedFromTheirEnvironment) {
  const char* vars[] = {
      "OMPI_COMM_WORLD_SIZE", "OMPI_COMM_WORLD_RANK", "PMI_SIZE", "PMI_RANK", "PMIX_RANK",
      "SLURM_STEP_NUM_TASKS", "SLURM_PROCID"};
  const struct {
    std::vector<std::pair<const char*, const char*>> env;
    bool launched;
    int rank, size;
  } cases[] = {
      {{}, false, 0, 0},
      {{{"OMPI_COMM_WORLD_SIZE", "4"}, {"OMPI_COMM_WORLD_RANK", "2"}, {"PMIX_RANK", "2"}},
       true,
       2,
       4},
      {{{"PMI_SIZE", "3"}, {"PMI_RANK", "1"}}, true, 1, 3},
      {{{"PMIX_RANK", "5"}, {"SLURM_STEP_NUM_TASKS", "8"}, {"SLURM_PROCID", "5"}}, true, 5, 8},
      {{{"PMIX_RANK", "0"}}, true, 0, 0},
      {{{"SLURM_STEP_NUM_TASKS", "4"}, {"SLURM_PROCID", "3"}}, true, 3, 4},
      {{{"SLURM_STEP_NUM_TASKS", "1"}, {"SLURM_PROCID", "0"}}, false, 0, 0},
      {{{"OMPI_COMM_WORLD_SIZE", "two"}}, false, 0, 0},
  };
  for (const auto& c : cases) {
    for (const char* v : vars) unsetenv(v);
    std::string what;
    for (const auto& [name, value] : c.env) {
      setenv(name, value, 1);
      what += std::string(name) + "=" + value + " ";
    }
    int rank = -1, size = -1;
    EXPECT_EQ(nrSweepLauncher(&rank, &size), c.launched) << what;
    if (c.launched) {
      EXPECT_EQ(rank, c.rank) << what;
      EXPECT_EQ(size, c.size) << what;
    }
  }
  for (const char* v : vars) unsetenv(v);
}

#ifdef VELTRA_MPI

// Two and three ranks (the latter with two workers each) write the CSV of --jobs 1, byte for
// byte: with the stop after enough block errors, and with HARQ over a fading channel. Rank 0
// alone writes the CSV and the plot.
TEST(MpiSweep, RanksWriteTheCsvOfOneWorkerByteForByte) {
#ifndef VELTRA_MPIRUN
  GTEST_SKIP() << "no mpirun at configure time";
#else
  ScopedTempDir dir;
  const struct {
    std::vector<std::string> sweep;
    int ranks;
    int jobs;
  } cases[] = {
      {{"--snr", "15:1:19", "--slots", "60", "--errors", "15", "--receiver", "noise-aware"}, 2, 1},
      {{"--channel", "tdlc", "--snr", "20:10:40", "--slots", "30", "--harq", "2", "--cfo", "300"},
       2,
       1},
      {{"--snr", "15:1:19", "--slots", "60", "--errors", "15", "--receiver", "noise-aware"}, 3, 2},
  };
  for (const auto& c : cases) {
    std::vector<std::string> one = {"sweep", "--jobs", "1", "--out", "one.csv"};
    one.insert(one.end(), c.sweep.begin(), c.sweep.end());
    const ProgramRun r1 = runVeltra(one, dir.path());
    ASSERT_EQ(r1.code, 0) << r1.err;

    std::vector<std::string> ranks = {
        "sweep", "--jobs", std::to_string(c.jobs), "--out", "ranks.csv", "--plot", "ranks"};
    ranks.insert(ranks.end(), c.sweep.begin(), c.sweep.end());
    const ProgramRun rk = runMpi(c.ranks, ranks, dir.path());
    ASSERT_EQ(rk.code, 0) << rk.out << rk.err;
    EXPECT_TRUE(has(rk.out, std::to_string(c.ranks) + " MPI rank(s)")) << rk.out;
    const std::string csv = readWholeFile("one.csv");
    EXPECT_EQ(csv.rfind(std::string(kSweepCsvHeader) + "\n", 0), 0u) << csv;
    EXPECT_EQ(readWholeFile("ranks.csv"), csv) << c.ranks << " ranks";
    // One opening line and one CSV: the other ranks print nothing of their own.
    size_t wrote = 0;
    for (size_t at = rk.out.find("wrote ranks.csv"); at != std::string::npos;
         at = rk.out.find("wrote ranks.csv", at + 1))
      wrote++;
    EXPECT_EQ(wrote, 1u) << rk.out;
    EXPECT_EQ(readWholeFile("ranks.png").substr(1, 3), "PNG");
  }
#endif
}

// A worker of rank 1 killed mid-sweep: that rank names it and what it measured, rank 0 names the
// rank, every rank ends with exit code 1, and no CSV is left (the stale one is removed).
TEST(MpiSweep, RankWhoseWorkerDiesFailsTheSweepWithoutCsv) {
#ifndef VELTRA_MPIRUN
  GTEST_SKIP() << "no mpirun at configure time";
#else
  ScopedTempDir dir;
  pid_t launcher = -1, rank1 = -1;
  ASSERT_TRUE(startLongSweep(dir.path(), &launcher, &rank1)) << readWholeFile(".stderr");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(childrenOf(rank1).at(0), SIGKILL);
  EXPECT_EQ(waitCode(launcher), 1);
  const std::string err = readWholeFile(".stderr");
  // The worker may die before or after its first batch is handed out (a loaded machine): the
  // point is named only in the second case.
  EXPECT_TRUE(has(err, "rank 1 on ") && has(err, "killed by signal 9")) << err;
  EXPECT_TRUE(has(err, "rank 1 of 2 failed") && has(err, "r.csv not written")) << err;
  EXPECT_NE(access("r.csv", F_OK), 0);
  EXPECT_TRUE(childrenOf(launcher).empty());
#endif
}

// Rank 1 itself killed: the launcher ends the job with that rank's status (128 + 9) and says so,
// rank 0 says that no CSV was written, and none is.
TEST(MpiSweep, KilledRankEndsTheJobWithoutCsv) {
#ifndef VELTRA_MPIRUN
  GTEST_SKIP() << "no mpirun at configure time";
#else
  ScopedTempDir dir;
  pid_t launcher = -1, rank1 = -1;
  ASSERT_TRUE(startLongSweep(dir.path(), &launcher, &rank1)) << readWholeFile(".stderr");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  kill(rank1, SIGKILL);
  EXPECT_NE(waitCode(launcher), 0);
  const std::string err = readWholeFile(".stderr");
  EXPECT_TRUE(has(err, "rank 1") && has(err, "signal 9")) << err;
  EXPECT_TRUE(has(err, "veltra sweep: stopped by a signal") && has(err, "r.csv not written"))
      << err;
  EXPECT_NE(access("r.csv", F_OK), 0);
#endif
}

// Rank 1 with another seed, another program file (the same program with a byte appended) or
// another slot file under the same name (its own working directory) is refused before anything
// is measured: exit code 2, the rank and what differs named, no CSV.
TEST(MpiSweep, RanksThatDisagreeAreRefusedAtStartUp) {
#ifndef VELTRA_MPIRUN
  GTEST_SKIP() << "no mpirun at configure time";
#else
  ScopedTempDir dir;
  writeWholeFile("veltra-other", readWholeFile(VELTRA_BIN) + "x");
  chmod("veltra-other", 0755);
  mkdir("a", 0755);
  mkdir("b", 0755);
  writeWholeFile("a/slot.yaml", "pdsch:\n  - mcs: 10\n");
  writeWholeFile("b/slot.yaml", "pdsch:\n  - mcs: 11\n");
  const std::vector<std::string> sweep = {"sweep", "--snr", "10:1:11", "--slots",
                                          "20",    "--out", "r.csv"};
  const std::string other = dir.path() + "/veltra-other";
  const struct {
    std::vector<std::string> rank0, rank1;  // mpirun's arguments before each rank's sweep
    std::vector<std::string> extra;         // appended to rank 1's sweep
    const char* says;
  } cases[] = {
      {{}, {}, {"--seed", "2"}, "has other options"},
      {{}, {"__other__"}, {}, "runs another program file"},
      {{"-wdir", "a"}, {"-wdir", "b"}, {}, "set up another slot"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = launcherOptions();
    const bool withSlot = !c.rank0.empty();
    for (int r = 0; r < 2; r++) {
      const std::vector<std::string>& pre = r == 0 ? c.rank0 : c.rank1;
      if (r == 1) args.push_back(":");
      for (const std::string& o : rankOptions()) args.push_back(o);
      args.insert(args.end(), {"-np", "1"});
      std::string program = VELTRA_BIN;
      for (const std::string& p : pre)
        if (p == "__other__")
          program = other;
        else
          args.push_back(p);
      args.push_back(program);
      args.insert(args.end(), sweep.begin(), sweep.end());
      if (withSlot) args.insert(args.end(), {"--slot", "slot.yaml"});
      if (r == 1) args.insert(args.end(), c.extra.begin(), c.extra.end());
    }
    const ProgramRun r = runProgram(VELTRA_MPIRUN, args, dir.path());
    EXPECT_EQ(r.code, 2) << c.says << "\n" << r.err;
    EXPECT_TRUE(has(r.err, std::string("rank 1 on ")) && has(r.err, c.says)) << r.err;
    EXPECT_TRUE(has(r.err, "1 of 2 ranks disagree with rank 0")) << r.err;
    EXPECT_FALSE(has(r.out, "wrote")) << r.out;
    EXPECT_NE(access("r.csv", F_OK), 0);
    EXPECT_NE(access("a/r.csv", F_OK), 0);
  }
  // The same slot file in both directories: the ranks agree and measure.
  writeWholeFile("b/slot.yaml", readWholeFile("a/slot.yaml"));
  std::vector<std::string> args = launcherOptions();
  for (const char* wdir : {"a", "b"}) {
    if (std::string(wdir) == "b") args.push_back(":");
    for (const std::string& o : rankOptions()) args.push_back(o);
    args.insert(args.end(), {"-np", "1", "-wdir", wdir, VELTRA_BIN});
    args.insert(args.end(), sweep.begin(), sweep.end());
    args.insert(args.end(), {"--slot", "slot.yaml"});
  }
  const ProgramRun r = runProgram(VELTRA_MPIRUN, args, dir.path());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(has(readWholeFile("a/r.csv"), "\n10.000,20,")) << readWholeFile("a/r.csv");
#endif
}

#else  // without MPI

// Every rank would run the whole sweep and write the same CSV: refused.
TEST(MpiSweep, BuildWithoutMpiRefusesToRunAsRanks) {
#ifndef VELTRA_MPIRUN
  GTEST_SKIP() << "no mpirun at configure time";
#else
  ScopedTempDir dir;
  const ProgramRun r =
      runMpi(2, {"sweep", "--snr", "10:1:11", "--slots", "20", "--out", "r.csv"}, dir.path());
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_TRUE(has(r.err, "built without MPI")) << r.err;
  EXPECT_NE(access("r.csv", F_OK), 0);
#endif
}

#endif
