// Helpers shared by the tests.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "config/console.h"
#include "config/mcs_table.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"

// Runs a test in a fresh temporary working directory, so that tests running in parallel never
// share the bench's fixed file names; the directory is removed afterwards.
class ScopedTempDir {
 public:
  ScopedTempDir() {
    char tmpl[] = "/tmp/veltra_test_XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made ? made : "/tmp";
    char cwd[4096];
    old_ = getcwd(cwd, sizeof(cwd)) ? cwd : "/tmp";
    if (chdir(path_.c_str()) != 0) std::abort();
  }
  ~ScopedTempDir() {
    if (chdir(old_.c_str()) != 0) return;
    const std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) return;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::string old_;
};

inline std::string readWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void writeWholeFile(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}

// Silences standard output while in scope (benchmarks of stages that print on every call).
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    saved_ = dup(1);
    devNull_ = std::fopen("/dev/null", "w");
    if (devNull_) dup2(fileno(devNull_), 1);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
    if (devNull_) std::fclose(devNull_);
  }

 private:
  int saved_;
  FILE* devNull_;
};

// Captures what a callable prints on standard output.
template <typename F>
std::string captureStdout(F&& f) {
  std::fflush(stdout);
  char name[] = "/tmp/veltra_stdout_XXXXXX";
  const int fd = mkstemp(name);
  const int saved = dup(1);
  dup2(fd, 1);
  f();
  std::fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(fd);
  std::string text = readWholeFile(name);
  unlink(name);
  return text;
}

// Draws the default slot configuration again, as a fresh process would (benchmarks run several
// configurations in one process).
inline void freshDefaultSlot() {
  std::memset(&gnrNbConfig, 0, sizeof(gnrNbConfig));
  nrGenDefaultSlotCfg();
}

// The default slot with its PDSCH over the whole 106-RB carrier (BWP widened to match), all 14
// symbols, MCS 27 (256QAM), DMRS type 1 on symbols 2 and 11.
inline void fullCarrierSlot() {
  freshDefaultSlot();
  gnrNbConfig.bwpCfg.rbOffset = 0;
  gnrNbConfig.bwpCfg.nrb = gnrNbConfig.carrierCfg.nrb;
  NrPdschCfg& d = gnrNbConfig.pdschCfg[0];
  d.bwpRbOffset = 0;
  d.mcs = 27;
  d.Qm = gnrMcsQm[d.mcs];
  d.codeRate = static_cast<uint16_t>(2.0f * gnrMcsRateX1024[d.mcs]);
  d.symBitmap = 0x3FFF;
  d.rbStart = 0;
  d.rbN = gnrNbConfig.carrierCfg.nrb;
  for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = r;
  d.dmrsFirstSym = 2;
  d.dmrsAddPosN = 1;
  d.dmrsAddPos[0] = 11;
}

// What the library and the actions printed through the console sink while f ran, by stream:
// out = the system's console lines (standard output by default), err = diagnostics.
struct ConsoleText {
  std::string out;
  std::string err;
};
template <typename F>
ConsoleText captureConsole(F&& f) {
  ConsoleText text;
  nrConsoleSetSink(
      [](NrConsoleStream stream, const char* s, std::size_t len, void* user) {
        ConsoleText* t = static_cast<ConsoleText*>(user);
        (stream == NrConsoleStream::kOut ? t->out : t->err).append(s, len);
      },
      &text);
  f();
  nrConsoleSetSink(nullptr, nullptr);
  return text;
}

// The diagnostics printed while f ran.
template <typename F>
std::string captureDiag(F&& f) {
  return captureConsole(std::forward<F>(f)).err;
}
