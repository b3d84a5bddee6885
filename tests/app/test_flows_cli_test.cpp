// `veltra writeTestVector`, `veltra nrUeTestMain` and `veltra nrGnbTestMain` as a script runs
// them: loopback, exit codes, usage errors and help.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/app/run_veltra.h"
#include "tests/config/file_fixture.h"
#include "tests/test_util.h"

namespace {

bool has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) n++;
  return n;
}

// The payload bits of the writer's "slot N: DCI of ... : BITS" line.
std::string sentDci(const std::string& out, int slot) {
  const std::string tag = "slot " + std::to_string(slot) + ": DCI of ";
  const size_t p = out.find(tag);
  if (p == std::string::npos) return "?";
  const size_t colon = out.find(": ", p + tag.size());
  return out.substr(colon + 2, out.find('\n', colon) - colon - 2);
}

}  // namespace

// The writer's directory decodes in a second process, both slots, on every channel option.
TEST(TestFlowsCli, WrittenDirectoryDecodesInLoopback) {
  const std::vector<std::vector<std::string>> options = {
      {}, {"--port-gain", "0.5"}, {"--two-tap", "12:0.6"}};
  for (const auto& opt : options) {
    ScopedTempDir dir;
    std::vector<std::string> args = {"writeTestVector", "tv"};
    args.insert(args.end(), opt.begin(), opt.end());
    const ProgramRun w = runVeltra(args, dir.path());
    ASSERT_EQ(w.code, 0) << w.out << w.err;
    EXPECT_TRUE(has(w.out, "veltra writeTestVector: wrote tv\n")) << w.out;
    const ProgramRun r = runVeltra({"nrUeTestMain", "tv"}, dir.path());
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    for (int slot : {2, 4})
      EXPECT_EQ(countOf(r.out, "candi-DCI payload: " + sentDci(w.out, slot) + "\n"), 1u)
          << "slot " << slot << "\n"
          << w.out << r.out;
    EXPECT_EQ(countOf(r.out, "===>Enter Dec module! codeword: [0] dec CRC OK"), 2u) << r.out;
    EXPECT_EQ(countOf(r.out, "the PDSCH decode  finished\n"), 2u);
    EXPECT_EQ(readWholeFile("DecBuff.txt"), readWholeFile("EncCrcBuff.txt"));
  }
}

TEST(TestFlowsCli, MissingOrShortDirectoryFailsWithExitCodeOne) {
  ScopedTempDir dir;
  mkdir("empty", 0755);
  ProgramRun r = runVeltra({"nrUeTestMain", "empty"}, dir.path());
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.out, "Fail to open file: empty/vuetxWavePort1Real.dat!\n")) << r.out;
  EXPECT_TRUE(has(r.out, "Fail to open file: empty/NRPhy_configuration_com1.txt!\n"));
  EXPECT_EQ(countOf(r.out, "the PDSCH decode: invalid data, cannot do dec \n"), 2u);
  EXPECT_TRUE(has(r.err, "veltra: nrUeTestMain failed")) << r.err;

  // The default directory of the UE flow does not exist here.
  r = runVeltra({"nrUeTestMain"}, dir.path());
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(
      has(r.out, "Fail to open file: Y:/Connect/TestVector/case4_10/vuetxWavePort1Real.dat!"))
      << r.out;

  ASSERT_EQ(runVeltra({"writeTestVector", "tv"}, dir.path()).code, 0);
  for (const char* name : kTvFileNames)
    ASSERT_EQ(truncate((std::string("tv/") + name).c_str(), 1000), 0);
  r = runVeltra({"nrUeTestMain", "tv"}, dir.path());
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(countOf(r.out, "the PDSCH decode: invalid data, cannot do dec \n"), 2u) << r.out;

  r = runVeltra({"nrGnbTestMain", "empty"}, dir.path());
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.out, "===>>gNB test Main  \n"));
  r = runVeltra({"nrGnbTestMain", "tv"}, dir.path());
  EXPECT_EQ(r.code, 0) << r.err;
}

TEST(TestFlowsCli, UsageErrorsAndHelp) {
  ScopedTempDir dir;
  const struct {
    std::vector<std::string> args;
    const char* err;
  } usage[] = {
      {{"writeTestVector"}, "DIR is required"},
      {{"writeTestVector", "tv", "--port-gain", "9"}, "port gain outside 0 .. 8"},
      {{"writeTestVector", "tv", "--two-tap", "8"}, "expected D:A"},
      {{"writeTestVector", "tv", "--two-tap", "200:0.5"}, "delay outside 1 .. 144"},
      {{"writeTestVector", "tv", "--port-gain", "1", "--two-tap", "8:0.5"}, "excludes"},
      {{"nrUeTestMain", "a", "b"}, "not expected: b"},
  };
  for (const auto& u : usage) {
    const ProgramRun r = runVeltra(u.args, dir.path());
    EXPECT_EQ(r.code, 2) << u.args.back() << "\n" << r.err;
    EXPECT_TRUE(has(r.err, u.err)) << u.err << "\n" << r.err;
  }
  EXPECT_NE(access("tv", F_OK), 0) << "nothing written on a usage error";

  for (const char* cmd : {"writeTestVector", "nrUeTestMain", "nrGnbTestMain"}) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{cmd, "--help"}, std::vector<std::string>{"help", cmd}}) {
      const ProgramRun r = runVeltra(args, dir.path());
      EXPECT_EQ(r.code, 0) << cmd;
      EXPECT_TRUE(has(r.out, "Writes:") && has(r.out, "Prints:") && has(r.out, "Exit codes:"))
          << cmd << "\n"
          << r.out;
    }
  }
  const ProgramRun r = runVeltra({"--help"}, dir.path());
  EXPECT_TRUE(has(r.out, "veltra writeTestVector DIR")) << r.out;
}
