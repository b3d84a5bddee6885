// The console program as a script sees it: exit codes, help, version and the working directory,
// run as a child process.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "hwmodel/hw_driver.h"
#include "tests/app/run_veltra.h"
#include "tests/test_util.h"

namespace {

bool has(const std::string& text, const std::string& what) {
  return text.find(what) != std::string::npos;
}

}  // namespace

TEST(Cli, ExitCodesTellWhatHappened) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    void (*prepare)();  // in the run directory
    bool unprivileged;
    int code;
    const char* stderrHas;
  } cases[] = {
      {"transmit and receive", {"gNbTx", "nrUeRx"}, nullptr, false, 0, ""},
      {"receive alone", {"nrUeRx"}, nullptr, false, 1, "veltra: nrUeRx failed"},
      {"unknown action", {"gNbTx", "noSuchAction"}, nullptr, false, 2, "noSuchAction"},
      {"no action", {}, nullptr, false, 2, "actions"},
      {"read-only directory",
       {"gNbTx", "nrUeRx"},
       [] { chmod(".", 0555); },
       true,
       1,
       "nrNbTxData.dat: cannot open for writing: Permission denied"},
      {"full device",
       {"gNbTx"},
       [] { symlink("/dev/full", "nrNbTxData.dat"); },
       false,
       1,
       "nrNbTxData.dat: write failed: No space left on device"},
      {"float file on a full device",
       {"gNbTx"},
       [] { symlink("/dev/full", "nrNbTxDataf.dat"); },
       false,
       1,
       "nrNbTxDataf.dat: write failed: No space left on device"},
      {"missing -C directory", {"-C", "no/such/dir", "gNbTx"}, nullptr, false, 2, "no/such/dir"},
  };
  for (const auto& c : cases) {
    ScopedTempDir dir;
    chmod(dir.path().c_str(), 0777);  // reachable by the unprivileged child
    if (c.prepare) c.prepare();
    const ProgramRun r = runVeltra(c.args, dir.path(), c.unprivileged);
    chmod(dir.path().c_str(), 0755);
    EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.out << r.err;
    EXPECT_TRUE(has(r.err, c.stderrHas)) << c.what << ": " << r.err;
  }
}

// An action that fails stops the line: the actions after it do not run on its leftovers.
TEST(Cli, ActionsAfterAFailureDoNotRun) {
  ScopedTempDir dir;
  const ProgramRun r = runVeltra({"nrUeRx", "gNbTx"}, dir.path());
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.err, "veltra: nrUeRx failed; not run: gNbTx")) << r.err;
  EXPECT_NE(access("nrNbTxData.dat", F_OK), 0);
}

TEST(Cli, HelpVersionAndActionHelp) {
  ScopedTempDir dir;
  ProgramRun r = runVeltra({"--help"}, dir.path());
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(has(r.out, "gNbTx") && has(r.out, "nrUeRx") && has(r.out, "Exit codes")) << r.out;

  r = runVeltra({"--version"}, dir.path());
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("veltra ", 0), 0u) << r.out;

  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"help", "nrUeRx"}, std::vector<std::string>{"nrUeRx", "--help"}}) {
    r = runVeltra(args, dir.path());
    EXPECT_EQ(r.code, 0) << args[0];
    EXPECT_TRUE(has(r.out, "Reads:") && has(r.out, "Writes:") && has(r.out, "DecBuff.txt"))
        << r.out;
    EXPECT_FALSE(has(r.out, "nrNbTxDataf.dat  the same waveform")) << "gNbTx's help too";
  }
  EXPECT_NE(access("DecBuff.txt", F_OK), 0) << "help ran the action";

  r = runVeltra({"help", "bogus"}, dir.path());
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(has(r.err, "bogus")) << r.err;
}

// -C runs the actions in another directory; the files land there.
TEST(Cli, DirectoryOptionRunsTheActionsThere) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir("work", 0755), 0);
  const ProgramRun r = runVeltra({"-C", "work", "gNbTx", "nrUeRx"}, dir.path());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(has(r.out, "dec CRC OK"));
  EXPECT_EQ(readWholeFile("work/DecBuff.txt"), readWholeFile("work/EncCrcBuff.txt"));
  EXPECT_FALSE(readWholeFile("work/DecBuff.txt").empty());
  EXPECT_NE(access("nrNbTxData.dat", F_OK), 0);
}

// hwRef writes the hardware model's reference files in the working directory, the same files the
// library run writes, and prints the transport block size on a line of its own.
TEST(Cli, HwRefWritesTheReferenceFiles) {
  ScopedTempDir dir;
  ASSERT_EQ(mkdir("cli", 0755), 0);
  ASSERT_EQ(mkdir("lib", 0755), 0);
  const std::vector<std::string> args = {"-C", "cli",          "hwRef", "--mcs", "20", "--layers",
                                         "2",  "--re-per-prb", "120",   "--prb", "40"};
  const ProgramRun r = runVeltra(args, dir.path());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  ASSERT_EQ(chdir("lib"), 0);
  const ConsoleText lib = captureConsole([] { EXPECT_TRUE(nrHwPdschRefRun(20, 2, 120, 40)); });
  ASSERT_EQ(chdir(".."), 0);
  EXPECT_EQ(r.out, lib.out + "\n");
  EXPECT_TRUE(has(r.out, "TBS is ")) << r.out;
  for (const char* f :
       {"ldpc_infobits.txt", "res_hw_cbEnc.txt", "res_hw_fifo_i.txt", "lpdc_encRMout.txt"}) {
    const std::string cli = readWholeFile(std::string("cli/") + f);
    EXPECT_FALSE(cli.empty()) << f;
    EXPECT_TRUE(cli == readWholeFile(std::string("lib/") + f)) << f;
  }
  EXPECT_NE(access("cli/nrNbTxData.dat", F_OK), 0) << "hwRef alone runs no action";
}

TEST(Cli, HwRefOptionsAreCheckedAndFailuresReported) {
  const struct {
    const char* what;
    std::vector<std::string> args;
    int code;
    const char* stderrHas;
  } cases[] = {
      {"missing --prb",
       {"hwRef", "--mcs", "5", "--layers", "1", "--re-per-prb", "100"},
       2,
       "--prb"},
      {"MCS beyond 31",
       {"hwRef", "--mcs", "32", "--layers", "1", "--re-per-prb", "100", "--prb", "10"},
       2,
       "--mcs"},
      {"no layers",
       {"hwRef", "--mcs", "5", "--layers", "0", "--re-per-prb", "100", "--prb", "10"},
       2,
       "--layers"},
      {"not a number",
       {"hwRef", "--mcs", "5", "--layers", "1", "--re-per-prb", "many", "--prb", "10"},
       2,
       "--re-per-prb"},
      {"an action after hwRef",
       {"hwRef", "--mcs", "5", "--layers", "1", "--re-per-prb", "100", "--prb", "10", "gNbTx"},
       2,
       "gNbTx"},
      {"refused by the model",
       {"hwRef", "--mcs", "31", "--layers", "4", "--re-per-prb", "168", "--prb", "275"},
       1,
       "veltra: hwRef failed"},
      {"an action fails first",
       {"nrUeRx", "hwRef", "--mcs", "5", "--layers", "1", "--re-per-prb", "100", "--prb", "10"},
       1,
       "not run: hwRef"},
  };
  for (const auto& c : cases) {
    ScopedTempDir dir;
    const ProgramRun r = runVeltra(c.args, dir.path());
    EXPECT_EQ(r.code, c.code) << c.what << "\n" << r.out << r.err;
    EXPECT_TRUE(has(r.err, c.stderrHas)) << c.what << ": " << r.err;
    EXPECT_NE(access("lpdc_encRMout.txt", F_OK), 0) << c.what;
  }

  // Actions first, then hwRef, in one process; a file that cannot be written fails the run.
  ScopedTempDir dir;
  ProgramRun r = runVeltra(
      {"gNbTx", "hwRef", "--mcs", "5", "--layers", "1", "--re-per-prb", "100", "--prb", "10"},
      dir.path());
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(access("nrNbTxData.dat", F_OK), 0);
  EXPECT_EQ(access("lpdc_encRMout.txt", F_OK), 0);
  ASSERT_EQ(unlink("res_hw_fifo_i.txt"), 0);
  ASSERT_EQ(symlink("/dev/full", "res_hw_fifo_i.txt"), 0);
  r = runVeltra({"hwRef", "--mcs", "5", "--layers", "1", "--re-per-prb", "100", "--prb", "10"},
                dir.path());
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(has(r.err, "res_hw_fifo_i.txt: write failed") && has(r.err, "veltra: hwRef failed"))
      << r.err;
}

TEST(Cli, HwRefHelpNamesTheFilesItWrites) {
  ScopedTempDir dir;
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"hwRef", "--help"}, std::vector<std::string>{"help", "hwRef"},
        std::vector<std::string>{"hwRef", "--mcs", "5", "--help"}}) {
    const ProgramRun r = runVeltra(args, dir.path());
    EXPECT_EQ(r.code, 0) << args[0];
    for (const char* f : {"ldpc_infobits.txt", "res_hw_cbEnc.txt", "res_hw_fifo_i.txt",
                          "lpdc_encRMout.txt", "--re-per-prb"})
      EXPECT_TRUE(has(r.out, f)) << f << "\n" << r.out;
  }
  EXPECT_NE(access("lpdc_encRMout.txt", F_OK), 0) << "help ran the command";
  const ProgramRun r = runVeltra({"--help"}, dir.path());
  EXPECT_TRUE(has(r.out, "hwRef --mcs M --layers L --re-per-prb N --prb P")) << r.out;
}
