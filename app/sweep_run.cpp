// The sweep's worker processes: the library's records are process-wide, so parallel measurement
// takes processes. Every batch of slots is measured from its keys alone and counted in slot order,
// so the results do not depend on the number of workers or their timing.
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/sweep.h"
#include "config/console.h"

namespace {

volatile sig_atomic_t gInterrupted = 0;
void onInterrupt(int) { gInterrupted = 1; }

constexpr int kProgressMs = 250;

struct Task {
  int32_t point;
  int32_t batch;
};
struct Result {
  int32_t point;
  int32_t batch;
  NrSweepTally tally;
};

struct Worker {
  pid_t pid = -1;
  int cmdFd = -1;
  int resFd = -1;
  bool busy = false;
  Task task{};
};

// Per point: the batches measured so far (in any order), how many of them count (the prefix in
// slot order up to the stop), their sum, and whether the point is settled.
struct PointState {
  std::vector<char> have;
  std::vector<NrSweepTally> batch;
  int64_t nextTask = 0;
  int64_t counted = 0;
  NrSweepTally sum{};
  bool settled = false;
};

bool writeAll(int fd, const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t w = write(fd, p, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool readAll(int fd, void* data, size_t n) {
  char* p = static_cast<char*>(data);
  while (n > 0) {
    const ssize_t r = read(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

int64_t batchSlots(const NrSweepCfg* cfg, int64_t b) {
  const int64_t first = b * kSweepBatch;
  const int64_t left = cfg->slotsPerPoint - first;
  return left < kSweepBatch ? left : kSweepBatch;
}

[[noreturn]] void workerLoop(const NrSweepCfg* cfg, int cmdFd, int resFd) {
  // Ctrl-C reaches the whole process group: the coordinator alone decides what happens.
  signal(SIGINT, SIG_IGN);
  Task t;
  while (readAll(cmdFd, &t, sizeof(t))) {
    Result r{t.point, t.batch, {}};
    nrSweepRunSlots(cfg, cfg->snrDb[t.point], static_cast<uint64_t>(t.batch) * kSweepBatch,
                    static_cast<uint64_t>(batchSlots(cfg, t.batch)), &r.tally);
    if (!writeAll(resFd, &r, sizeof(r))) _exit(1);
  }
  _exit(0);
}

std::string describeStatus(int status) {
  if (WIFSIGNALED(status)) return "killed by signal " + std::to_string(WTERMSIG(status));
  if (WIFEXITED(status)) return "exited with code " + std::to_string(WEXITSTATUS(status));
  return "stopped";
}

std::string clock(double s) {
  const long t = s < 0 ? 0 : static_cast<long>(s + 0.5);
  char buf[32];
  std::snprintf(buf, sizeof(buf), "%ld:%02ld:%02ld", t / 3600, (t / 60) % 60, t % 60);
  return buf;
}

}  // namespace

int nrSweepRun(const NrSweepCfg* cfg, int jobs, std::vector<NrSweepPoint>* points,
               bool* interrupted) {
  *interrupted = false;
  const int pointN = static_cast<int>(cfg->snrDb.size());
  const int64_t batchN = (cfg->slotsPerPoint + kSweepBatch - 1) / kSweepBatch;
  std::vector<PointState> st(pointN);
  for (PointState& p : st) {
    p.have.assign(batchN, 0);
    p.batch.assign(batchN, NrSweepTally{});
  }

  gInterrupted = 0;
  struct sigaction sa {
  }, oldSa{};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &oldSa);  // no SA_RESTART: poll returns at once

  std::fflush(stdout);
  std::fflush(stderr);
  std::vector<Worker> workers(jobs);
  bool failed = false;
  for (int w = 0; w < jobs && !failed; w++) {
    int cmd[2], res[2];
    if (pipe(cmd) != 0 || pipe(res) != 0) {
      nrDiag("veltra sweep: cannot create a pipe for worker %d: %s\n", w, std::strerror(errno));
      failed = true;
      break;
    }
    const pid_t pid = fork();
    if (pid < 0) {
      nrDiag("veltra sweep: cannot start worker %d: %s\n", w, std::strerror(errno));
      failed = true;
      break;
    }
    if (pid == 0) {
      close(cmd[1]);
      close(res[0]);
      for (int o = 0; o < w; o++) {  // the other workers' ends belong to the coordinator
        close(workers[o].cmdFd);
        close(workers[o].resFd);
      }
      workerLoop(cfg, cmd[0], res[1]);
    }
    close(cmd[0]);
    close(res[1]);
    workers[w].pid = pid;
    workers[w].cmdFd = cmd[1];
    workers[w].resFd = res[0];
  }
  // A worker that died must not take the coordinator with it when it writes to the pipe.
  signal(SIGPIPE, SIG_IGN);

  const bool progress = isatty(2) == 1;
  const auto start = std::chrono::steady_clock::now();
  uint64_t slotsDone = 0;
  auto lastShown = start - std::chrono::milliseconds(kProgressMs);

  const auto nextTask = [&](Task* t) {
    for (int p = 0; p < pointN; p++) {
      PointState& s = st[p];
      if (s.settled || s.nextTask >= batchN) continue;
      *t = Task{p, static_cast<int32_t>(s.nextTask++)};
      return true;
    }
    return false;
  };
  // Counts the batches of point p in slot order; the point settles after its last batch or at the
  // first whole batch at which its errors reach the limit.
  const auto settle = [&](int p) {
    PointState& s = st[p];
    while (!s.settled && s.counted < batchN && s.have[s.counted]) {
      nrSweepTallyAdd(&s.sum, s.batch[s.counted]);
      s.counted++;
      if (s.counted == batchN ||
          (cfg->maxErrors > 0 && s.sum.tbErrors >= static_cast<uint64_t>(cfg->maxErrors)))
        s.settled = true;
    }
  };
  const auto showProgress = [&](bool force) {
    if (!progress) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - lastShown < std::chrono::milliseconds(kProgressMs)) return;
    lastShown = now;
    int p = 0;
    while (p < pointN && st[p].settled) p++;
    if (p == pointN) return;
    const double secs = std::chrono::duration<double>(now - start).count();
    const double rate = secs > 0 ? slotsDone / secs : 0.0;
    uint64_t left = 0;
    for (int q = p; q < pointN; q++)
      if (!st[q].settled) left += cfg->slotsPerPoint - st[q].sum.slots;
    std::fprintf(stderr,
                 "\r\033[KSNR %.2f dB (point %d/%d): %llu/%lld slots, %llu errors, %.1f slots/s, "
                 "ETA %s at most",
                 cfg->snrDb[p], p + 1, pointN, static_cast<unsigned long long>(st[p].sum.slots),
                 static_cast<long long>(cfg->slotsPerPoint),
                 static_cast<unsigned long long>(st[p].sum.tbErrors), rate,
                 rate > 0 ? clock(left / rate).c_str() : "?");
    std::fflush(stderr);
  };

  while (!failed && !gInterrupted) {
    for (Worker& w : workers) {
      if (w.busy) continue;
      Task t;
      if (!nextTask(&t)) break;
      if (!writeAll(w.cmdFd, &t, sizeof(t))) break;  // a dead worker shows on its result pipe
      w.busy = true;
      w.task = t;
    }
    bool anyBusy = false;
    for (const Worker& w : workers) anyBusy = anyBusy || w.busy;
    if (!anyBusy) break;

    std::vector<pollfd> fds(jobs);
    for (int w = 0; w < jobs; w++) fds[w] = pollfd{workers[w].resFd, POLLIN, 0};
    const int n = poll(fds.data(), fds.size(), kProgressMs);
    if (n < 0 && errno != EINTR) {
      nrDiag("veltra sweep: waiting for the workers failed: %s\n", std::strerror(errno));
      failed = true;
      break;
    }
    for (int w = 0; n > 0 && w < jobs && !failed; w++) {
      if (fds[w].revents == 0) continue;
      Worker& wk = workers[w];
      Result r;
      if (!readAll(wk.resFd, &r, sizeof(r)) || r.point < 0 || r.point >= pointN || r.batch < 0 ||
          r.batch >= batchN) {
        int status = 0;
        waitpid(wk.pid, &status, 0);
        if (wk.busy)
          nrDiag(
              "veltra sweep: worker %d (pid %d) %s while measuring SNR %.2f dB, slots %lld..%lld; "
              "no results written\n",
              w, static_cast<int>(wk.pid), describeStatus(status).c_str(),
              cfg->snrDb[wk.task.point], static_cast<long long>(wk.task.batch) * kSweepBatch,
              static_cast<long long>(wk.task.batch) * kSweepBatch + batchSlots(cfg, wk.task.batch) -
                  1);
        else
          nrDiag("veltra sweep: worker %d (pid %d) %s; no results written\n", w,
                 static_cast<int>(wk.pid), describeStatus(status).c_str());
        wk.pid = -1;
        failed = true;
        break;
      }
      wk.busy = false;
      slotsDone += r.tally.slots;
      PointState& s = st[r.point];
      s.have[r.batch] = 1;
      s.batch[r.batch] = r.tally;
      settle(r.point);
    }
    showProgress(false);
  }
  *interrupted = gInterrupted != 0 && !failed;
  if (progress) {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
  }

  // Idle workers end when their command pipe closes; busy ones are stopped.
  for (Worker& w : workers) {
    if (w.cmdFd >= 0) close(w.cmdFd);
    if (w.pid > 0 && (w.busy || failed || *interrupted)) kill(w.pid, SIGTERM);
  }
  for (Worker& w : workers) {
    if (w.pid > 0) waitpid(w.pid, nullptr, 0);
    if (w.resFd >= 0) close(w.resFd);
  }
  sigaction(SIGINT, &oldSa, nullptr);
  if (failed) return 1;

  points->clear();
  for (int p = 0; p < pointN; p++)
    if (st[p].sum.slots > 0) points->push_back(NrSweepPoint{cfg->snrDb[p], st[p].sum});
  return *interrupted ? 1 : 0;
}
