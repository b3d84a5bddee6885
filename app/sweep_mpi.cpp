#include "app/sweep_mpi.h"

#include <fcntl.h>
#include <mpi.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/console.h"

namespace {

constexpr int kMaxStopWorkers = 256;  // workers a stopping rank signals (--jobs is far below)
constexpr size_t kReadChunk = 1 << 16;

// What the stop handler needs, set before it is installed (async-signal-safe use only).
pid_t stopWorkers[kMaxStopWorkers];
int stopWorkerN = 0;
char stopLine[512];
size_t stopLineLen = 0;

void onStop(int) {
  for (int i = 0; i < stopWorkerN; i++) kill(stopWorkers[i], SIGTERM);
  if (stopLineLen > 0) {
    const ssize_t ignored = write(STDERR_FILENO, stopLine, stopLineLen);
    (void)ignored;
  }
  _exit(1);
}

// A round's share of one rank: whether its workers all delivered, and their results.
struct RoundHead {
  int32_t failed;
  int32_t n;
};

std::string hostName() {
  char h[kSweepHostChars] = {};
  if (gethostname(h, sizeof(h) - 1) != 0) return "?";
  return h;
}

}  // namespace

bool nrSweepMpiInit(int* rank, int* size) {
  if (MPI_Init(nullptr, nullptr) != MPI_SUCCESS) {
    std::fprintf(stderr, "veltra sweep: MPI could not start; nothing measured\n");
    return false;
  }
  MPI_Comm_rank(MPI_COMM_WORLD, rank);
  MPI_Comm_size(MPI_COMM_WORLD, size);
  return true;
}

void nrSweepMpiFinalize() { MPI_Finalize(); }

std::string nrSweepMpiLibrary() {
  char v[MPI_MAX_LIBRARY_VERSION_STRING] = {};
  int len = 0;
  MPI_Get_library_version(v, &len);
  std::string s(v, static_cast<size_t>(std::max(len, 0)));
  // "Open MPI v4.1.4, package: ...": the name and version before the details.
  const size_t cut = s.find_first_of(",\n");
  if (cut != std::string::npos) s.resize(cut);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

uint64_t nrSweepProgramDigest() {
  const int fd = open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  static char buf[kReadChunk];
  uint64_t h = kFnv64Offset;
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    h = nrFnv1a64(buf, static_cast<size_t>(n), h);
  }
  close(fd);
  return h;
}

uint64_t nrSweepOptionsDigest(int argc, char** argv) {
  uint64_t h = kFnv64Offset;
  for (int i = 1; i < argc; i++) h = nrFnv1a64(argv[i], std::strlen(argv[i]) + 1, h);  // with NUL
  return h;
}

int nrSweepMpiCheck(const NrSweepRankState& mine, const std::string& why, int rank, int size,
                    int launcherSize) {
  if (launcherSize > size) {
    // Every task is a rank 0 of its own: each would run the whole sweep.
    std::fprintf(stderr,
                 "veltra sweep: the launcher started %d tasks but MPI counts %d rank(s) in this "
                 "one: the tasks do not form one MPI job (under Slurm: srun --mpi=pmix, or "
                 "mpirun inside the allocation); nothing measured\n",
                 launcherSize, size);
    return kExitUsage;
  }
  NrSweepRankState root = mine;
  MPI_Bcast(&root, sizeof(root), MPI_BYTE, 0, MPI_COMM_WORLD);

  int code = -1;
  bool differs = false;
  if (rank != 0) {
    const char* what[3] = {nullptr, nullptr, nullptr};
    int n = 0;
    if (mine.program != root.program) what[n++] = "runs another program file";
    if (mine.options != root.options) what[n++] = "has other options";
    if (root.code < 0 && mine.code < 0 && mine.slot != root.slot)
      what[n++] = "set up another slot (a different slot file?)";
    for (int i = 0; i < n; i++)
      std::fprintf(stderr,
                   "veltra sweep: rank %d on %s %s than rank 0 on %s: every rank must run the same "
                   "veltra with the same options and slot; nothing measured\n",
                   rank, mine.host, what[i], root.host);
    differs = n > 0;
    if (differs) code = kExitUsage;
    // A failure of this rank alone (rank 0 reports its own, which every rank shares).
    if (!differs && mine.code >= 0 && root.code < 0) {
      std::fprintf(stderr, "%sveltra sweep: rank %d on %s cannot take part; nothing measured\n",
                   why.c_str(), rank, mine.host);
      code = mine.code;
    }
  } else if (mine.code >= 0) {
    std::fputs(why.c_str(), stderr);
  }
  if (root.code >= 0) code = std::max(code, static_cast<int>(root.code));

  // Rank 0 says how many ranks disagreed or failed; every rank takes the worst code.
  int counts[2] = {differs ? 1 : 0, !differs && code >= 0 && rank != 0 && root.code < 0 ? 1 : 0};
  int total[2] = {0, 0};
  MPI_Reduce(counts, total, 2, MPI_INT, MPI_SUM, 0, MPI_COMM_WORLD);
  int worst = code;
  MPI_Allreduce(&code, &worst, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  std::fflush(stderr);
  if (rank == 0 && total[0] > 0)
    std::fprintf(stderr,
                 "veltra sweep: %d of %d ranks disagree with rank 0 on the program, options or "
                 "slot; nothing measured\n",
                 total[0], size);
  if (rank == 0 && total[1] > 0)
    std::fprintf(stderr, "veltra sweep: %d of %d ranks cannot take part; nothing measured\n",
                 total[1], size);
  return worst;
}

int nrSweepRunMpi(const NrSweepCfg* cfg, NrSweepPool* pool, int rank, int size,
                  std::vector<NrSweepPoint>* points) {
  NrSweepLedger ledger;
  nrSweepLedgerInit(&ledger, cfg);
  const int jobs = static_cast<int>(pool->workers.size());
  const int perRound = size * jobs;
  const size_t block = sizeof(RoundHead) + sizeof(NrSweepResult) * jobs;
  std::vector<char> mine(block), all(block * size);
  std::vector<NrSweepTask> tasks(perRound);
  std::vector<NrSweepResult> got;
  const std::string host = hostName();

  NrSweepProgress progress = nrSweepProgressStart(rank == 0 && isatty(2) == 1);
  bool failed = false;
  for (;;) {
    // Every rank draws the same round from the same ledger; its share starts at rank x jobs.
    int n = 0;
    while (n < perRound && nrSweepLedgerNextTask(&ledger, &tasks[n])) n++;
    if (n == 0) break;
    const int first = rank * jobs;
    const int mineN = std::clamp(n - first, 0, jobs);
    got.clear();
    bool ok = true;
    std::string why;
    for (int w = 0; w < mineN && ok; w++) ok = nrSweepPoolSend(pool, w, tasks[first + w]);
    // A worker that could not take its batch shows on its result pipe below.
    ok = true;
    while (ok && static_cast<int>(got.size()) < mineN)
      ok = nrSweepPoolCollect(pool, cfg, kSweepProgressMs, &got, &why);
    if (!ok)
      nrDiag("veltra sweep: rank %d on %s: %s; no results written\n", rank, host.c_str(),
             why.c_str());

    const RoundHead head{ok ? 0 : 1, static_cast<int32_t>(ok ? got.size() : 0)};
    std::memcpy(mine.data(), &head, sizeof(head));
    if (head.n > 0)
      std::memcpy(mine.data() + sizeof(head), got.data(), sizeof(NrSweepResult) * head.n);
    MPI_Allgather(mine.data(), static_cast<int>(block), MPI_BYTE, all.data(),
                  static_cast<int>(block), MPI_BYTE, MPI_COMM_WORLD);

    // Every rank counts every rank's batches: the ledgers stay alike.
    for (int r = 0; r < size; r++) {
      RoundHead h;
      std::memcpy(&h, all.data() + block * r, sizeof(h));
      if (h.failed) {
        failed = true;
        if (rank == 0)
          nrDiag("veltra sweep: rank %d of %d failed (its message above); no results written\n", r,
                 size);
        continue;
      }
      for (int i = 0; i < h.n && i < jobs; i++) {
        NrSweepResult res;
        std::memcpy(&res, all.data() + block * r + sizeof(h) + sizeof(NrSweepResult) * i,
                    sizeof(res));
        nrSweepLedgerAdd(&ledger, res);
      }
    }
    if (failed) break;
    nrSweepProgressTick(&progress, ledger);
  }
  nrSweepProgressEnd(progress);
  if (failed) return 1;
  nrSweepLedgerPoints(ledger, points);
  return 0;
}

int nrSweepMpiAgree(int code) {
  MPI_Bcast(&code, 1, MPI_INT, 0, MPI_COMM_WORLD);
  return code;
}

void nrSweepMpiOnStop(const NrSweepPool& pool, int rank, const std::string& out) {
  stopWorkerN = 0;
  for (const NrSweepWorker& w : pool.workers)
    if (w.pid > 0 && stopWorkerN < kMaxStopWorkers) stopWorkers[stopWorkerN++] = w.pid;
  stopLineLen = 0;
  if (rank == 0) {
    const int n = std::snprintf(stopLine, sizeof(stopLine),
                                "veltra sweep: stopped by a signal (the MPI launcher ends every "
                                "rank when one fails, or the job was cancelled); %s not written\n",
                                out.c_str());
    stopLineLen = n < 0 ? 0 : std::min(static_cast<size_t>(n), sizeof(stopLine) - 1);
  }
  struct sigaction sa {};
  sa.sa_handler = onStop;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
}

void nrSweepMpiHoldSignals(bool hold) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}
