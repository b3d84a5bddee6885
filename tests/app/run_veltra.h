// Runs the console program (or a launcher in front of it) as a child process, the way a script
// does, and finds the processes it started.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tests/test_util.h"

struct ProgramRun {
  int code = -1;
  std::string out;
  std::string err;
};

// Starts program with args in dir without waiting; stdout and stderr go to dir/.stdout and
// dir/.stderr. As root, the child drops to an unprivileged user when asked, so that directory
// permissions apply to it.
inline pid_t startProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::string& dir, bool unprivileged = false) {
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
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// The exit code of a started program (128 + signal when a signal ended it).
inline int waitCode(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Runs program with args in dir and collects its exit code and output.
inline ProgramRun runProgram(const std::string& program, const std::vector<std::string>& args,
                             const std::string& dir, bool unprivileged = false) {
  ProgramRun r;
  r.code = waitCode(startProgram(program, args, dir, unprivileged));
  const std::string outPath = dir + "/.stdout", errPath = dir + "/.stderr";
  r.out = readWholeFile(outPath);
  r.err = readWholeFile(errPath);
  unlink(outPath.c_str());
  unlink(errPath.c_str());
  return r;
}

#ifdef VELTRA_BIN
inline ProgramRun runVeltra(const std::vector<std::string>& args, const std::string& dir,
                            bool unprivileged = false) {
  return runProgram(VELTRA_BIN, args, dir, unprivileged);
}
inline pid_t startVeltra(const std::vector<std::string>& args, const std::string& dir) {
  return startProgram(VELTRA_BIN, args, dir);
}
#endif

// The child processes of pid.
inline std::vector<pid_t> childrenOf(pid_t pid) {
  std::vector<pid_t> kids;
  DIR* d = opendir("/proc");
  while (dirent* e = d ? readdir(d) : nullptr) {
    const pid_t p = static_cast<pid_t>(std::atoi(e->d_name));
    if (p <= 0) continue;
    std::ifstream stat("/proc/" + std::string(e->d_name) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    int ppid = 0;
    if (std::sscanf(line.c_str() + close + 1, " %c %d", &state, &ppid) == 2 && ppid == pid)
      kids.push_back(p);
  }
  if (d) closedir(d);
  return kids;
}
