#include "app/sweep_workers.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/console.h"

namespace {

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

[[noreturn]] void workerLoop(const NrSweepCfg* cfg, int cmdFd, int resFd) {
  // Ctrl-C reaches the whole process group: the coordinator alone decides what happens.
  signal(SIGINT, SIG_IGN);
  NrSweepTask t;
  while (readAll(cmdFd, &t, sizeof(t))) {
    NrSweepResult r{t.point, t.batch, {}};
    nrSweepRunSlots(cfg, cfg->snrDb[t.point], static_cast<uint64_t>(t.batch) * kSweepBatch,
                    static_cast<uint64_t>(nrSweepBatchSlots(cfg, t.batch)), &r.tally);
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

int64_t nrSweepBatchSlots(const NrSweepCfg* cfg, int64_t b) {
  const int64_t first = b * kSweepBatch;
  const int64_t left = cfg->slotsPerPoint - first;
  return left < kSweepBatch ? left : kSweepBatch;
}

void nrSweepLedgerInit(NrSweepLedger* l, const NrSweepCfg* cfg) {
  l->cfg = cfg;
  l->batchN = (cfg->slotsPerPoint + kSweepBatch - 1) / kSweepBatch;
  l->st.assign(cfg->snrDb.size(), NrSweepPointState{});
  for (NrSweepPointState& p : l->st) {
    p.have.assign(l->batchN, 0);
    p.batch.assign(l->batchN, NrSweepTally{});
  }
  l->slotsDone = 0;
}

bool nrSweepLedgerNextTask(NrSweepLedger* l, NrSweepTask* t) {
  for (size_t p = 0; p < l->st.size(); p++) {
    NrSweepPointState& s = l->st[p];
    if (s.settled || s.nextTask >= l->batchN) continue;
    *t = NrSweepTask{static_cast<int32_t>(p), static_cast<int32_t>(s.nextTask++)};
    return true;
  }
  return false;
}

bool nrSweepLedgerAdd(NrSweepLedger* l, const NrSweepResult& r) {
  if (r.point < 0 || static_cast<size_t>(r.point) >= l->st.size() || r.batch < 0 ||
      r.batch >= l->batchN)
    return false;
  l->slotsDone += r.tally.slots;
  NrSweepPointState& s = l->st[r.point];
  s.have[r.batch] = 1;
  s.batch[r.batch] = r.tally;
  const uint64_t maxErrors = static_cast<uint64_t>(l->cfg->maxErrors);
  while (!s.settled && s.counted < l->batchN && s.have[s.counted]) {
    nrSweepTallyAdd(&s.sum, s.batch[s.counted]);
    s.counted++;
    if (s.counted == l->batchN || (maxErrors > 0 && s.sum.tbErrors >= maxErrors)) s.settled = true;
  }
  return true;
}

void nrSweepLedgerPoints(const NrSweepLedger& l, std::vector<NrSweepPoint>* points) {
  points->clear();
  for (size_t p = 0; p < l.st.size(); p++)
    if (l.st[p].sum.slots > 0) points->push_back(NrSweepPoint{l.cfg->snrDb[p], l.st[p].sum});
}

void nrSweepShowProgress(const NrSweepLedger& l, double seconds) {
  const size_t pointN = l.st.size();
  size_t p = 0;
  while (p < pointN && l.st[p].settled) p++;
  if (p == pointN) return;
  const double rate = seconds > 0 ? l.slotsDone / seconds : 0.0;
  uint64_t left = 0;
  for (size_t q = p; q < pointN; q++)
    if (!l.st[q].settled) left += l.cfg->slotsPerPoint - l.st[q].sum.slots;
  std::fprintf(stderr,
               "\r\033[KSNR %.2f dB (point %zu/%zu): %llu/%lld slots, %llu errors, %.1f slots/s, "
               "ETA %s at most",
               l.cfg->snrDb[p], p + 1, pointN, static_cast<unsigned long long>(l.st[p].sum.slots),
               static_cast<long long>(l.cfg->slotsPerPoint),
               static_cast<unsigned long long>(l.st[p].sum.tbErrors), rate,
               rate > 0 ? clock(left / rate).c_str() : "?");
  std::fflush(stderr);
}

NrSweepProgress nrSweepProgressStart(bool shown) {
  const auto now = std::chrono::steady_clock::now();
  return NrSweepProgress{shown, now, now - std::chrono::milliseconds(kSweepProgressMs)};
}

void nrSweepProgressTick(NrSweepProgress* p, const NrSweepLedger& l) {
  if (!p->shown) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - p->last < std::chrono::milliseconds(kSweepProgressMs)) return;
  p->last = now;
  nrSweepShowProgress(l, std::chrono::duration<double>(now - p->start).count());
}

void nrSweepProgressEnd(const NrSweepProgress& p) {
  if (!p.shown) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
}

bool nrSweepPoolStart(NrSweepPool* pool, const NrSweepCfg* cfg, int jobs) {
  std::fflush(stdout);
  std::fflush(stderr);
  pool->workers.assign(jobs, NrSweepWorker{});
  std::vector<NrSweepWorker>& workers = pool->workers;
  for (int w = 0; w < jobs; w++) {
    int cmd[2], res[2];
    if (pipe(cmd) != 0) {
      nrDiag("veltra sweep: cannot create a pipe for worker %d: %s\n", w, std::strerror(errno));
      nrSweepPoolStop(pool, true);
      return false;
    }
    if (pipe(res) != 0) {
      nrDiag("veltra sweep: cannot create a pipe for worker %d: %s\n", w, std::strerror(errno));
      close(cmd[0]);
      close(cmd[1]);
      nrSweepPoolStop(pool, true);
      return false;
    }
    const pid_t pid = fork();
    if (pid < 0) {
      nrDiag("veltra sweep: cannot start worker %d: %s\n", w, std::strerror(errno));
      for (int fd : {cmd[0], cmd[1], res[0], res[1]}) close(fd);
      nrSweepPoolStop(pool, true);
      return false;
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
  return true;
}

bool nrSweepPoolSend(NrSweepPool* pool, int w, const NrSweepTask& task) {
  NrSweepWorker& wk = pool->workers[w];
  if (!writeAll(wk.cmdFd, &task, sizeof(task))) return false;
  wk.busy = true;
  wk.task = task;
  return true;
}

bool nrSweepPoolBusy(const NrSweepPool& pool) {
  for (const NrSweepWorker& w : pool.workers)
    if (w.busy) return true;
  return false;
}

bool nrSweepPoolCollect(NrSweepPool* pool, const NrSweepCfg* cfg, int timeoutMs,
                        std::vector<NrSweepResult>* got, std::string* why) {
  std::vector<NrSweepWorker>& workers = pool->workers;
  const size_t jobs = workers.size();
  std::vector<pollfd> fds(jobs);
  for (size_t w = 0; w < jobs; w++) fds[w] = pollfd{workers[w].resFd, POLLIN, 0};
  const int n = poll(fds.data(), fds.size(), timeoutMs);
  if (n < 0 && errno != EINTR) {
    *why = std::string("waiting for the workers failed: ") + std::strerror(errno);
    return false;
  }
  const int64_t batchN = (cfg->slotsPerPoint + kSweepBatch - 1) / kSweepBatch;
  const int pointN = static_cast<int>(cfg->snrDb.size());
  for (size_t w = 0; n > 0 && w < jobs; w++) {
    if (fds[w].revents == 0) continue;
    NrSweepWorker& wk = workers[w];
    NrSweepResult r;
    if (!readAll(wk.resFd, &r, sizeof(r)) || r.point < 0 || r.point >= pointN || r.batch < 0 ||
        r.batch >= batchN) {
      int status = 0;
      waitpid(wk.pid, &status, 0);
      char line[256];
      if (wk.busy)
        std::snprintf(line, sizeof(line),
                      "worker %zu (pid %d) %s while measuring SNR %.2f dB, slots %lld..%lld", w,
                      static_cast<int>(wk.pid), describeStatus(status).c_str(),
                      cfg->snrDb[wk.task.point],
                      static_cast<long long>(wk.task.batch) * kSweepBatch,
                      static_cast<long long>(wk.task.batch) * kSweepBatch +
                          nrSweepBatchSlots(cfg, wk.task.batch) - 1);
      else
        std::snprintf(line, sizeof(line), "worker %zu (pid %d) %s", w, static_cast<int>(wk.pid),
                      describeStatus(status).c_str());
      *why = line;
      wk.pid = -1;
      return false;
    }
    wk.busy = false;
    got->push_back(r);
  }
  return true;
}

void nrSweepPoolStop(NrSweepPool* pool, bool kill) {
  for (NrSweepWorker& w : pool->workers) {
    if (w.cmdFd >= 0) close(w.cmdFd);
    w.cmdFd = -1;
    if (w.pid > 0 && (w.busy || kill)) ::kill(w.pid, SIGTERM);
  }
  for (NrSweepWorker& w : pool->workers) {
    if (w.pid > 0) waitpid(w.pid, nullptr, 0);
    if (w.resFd >= 0) close(w.resFd);
    w.pid = -1;
    w.resFd = -1;
    w.busy = false;
  }
}
