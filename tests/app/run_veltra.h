// Runs the console program as a child process, the way a script does.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/test_util.h"

struct ProgramRun {
  int code = -1;
  std::string out;
  std::string err;
};

// Runs veltra with args in dir; as root, the child drops to an unprivileged user when asked, so
// that directory permissions apply to it.
inline ProgramRun runVeltra(const std::vector<std::string>& args, const std::string& dir,
                            bool unprivileged = false) {
  const std::string outPath = dir + "/.stdout", errPath = dir + "/.stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int o = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    const int e = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    // No terminal on standard input, as in a script: nothing waits for a key.
    const int in = open("/dev/null", O_RDONLY);
    dup2(in, 0);
    dup2(o, 1);
    dup2(e, 2);
    if (unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    std::vector<char*> argv{const_cast<char*>(VELTRA_BIN)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(VELTRA_BIN, argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ProgramRun r;
  r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.out = readWholeFile(outPath);
  r.err = readWholeFile(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return r;
}
