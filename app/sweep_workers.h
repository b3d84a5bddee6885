// The sweep's worker processes and the ledger that counts their batches in slot order, shared by
// the coordinator of one machine (nrSweepRun) and that of MPI ranks (nrSweepRunMpi). The library's
// records are process-wide, so parallel measurement takes processes; every batch is measured from
// its keys alone and counted in slot order, so the results depend neither on how many processes
// measure nor on their timing.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "app/sweep.h"

// One batch: slots batch * kSweepBatch .. of one SNR point (fewer than kSweepBatch at the end).
struct NrSweepTask {
  int32_t point;
  int32_t batch;
};
struct NrSweepResult {
  int32_t point;
  int32_t batch;
  NrSweepTally tally;
};

// Slots in batch b of a point.
int64_t nrSweepBatchSlots(const NrSweepCfg* cfg, int64_t b);

// Per point: the batches measured so far (in any order), how many of them count (the prefix in
// slot order up to the stop), their sum, and whether the point is settled.
struct NrSweepPointState {
  std::vector<char> have;
  std::vector<NrSweepTally> batch;
  int64_t nextTask = 0;
  int64_t counted = 0;
  NrSweepTally sum{};
  bool settled = false;
};

struct NrSweepLedger {
  const NrSweepCfg* cfg = nullptr;
  int64_t batchN = 0;
  std::vector<NrSweepPointState> st;
  uint64_t slotsDone = 0;  // every slot measured, counted or not
};

void nrSweepLedgerInit(NrSweepLedger* l, const NrSweepCfg* cfg);
// The next batch to measure: the first point, in SNR order, that is not settled and has batches
// not yet handed out. false when there is none.
bool nrSweepLedgerNextTask(NrSweepLedger* l, NrSweepTask* t);
// Records a measured batch and counts the point's batches in slot order: the point settles after
// its last batch or at the first whole batch at which its block errors reach the limit. false
// (nothing recorded) for a batch outside the sweep.
bool nrSweepLedgerAdd(NrSweepLedger* l, const NrSweepResult& r);
// Every point with counted slots, in SNR order.
void nrSweepLedgerPoints(const NrSweepLedger& l, std::vector<NrSweepPoint>* points);
// The progress line on standard error (a terminal): the first unsettled point, the rate and the
// time left at most.
void nrSweepShowProgress(const NrSweepLedger& l, double seconds);

// How often the progress line is redrawn and the longest a coordinator waits for results.
constexpr int kSweepProgressMs = 250;
// The progress line of a sweep: drawn only when `shown` (standard error is a terminal), at most
// every kSweepProgressMs, and cleared at the end.
struct NrSweepProgress {
  bool shown;
  std::chrono::steady_clock::time_point start, last;
};
NrSweepProgress nrSweepProgressStart(bool shown);
void nrSweepProgressTick(NrSweepProgress* p, const NrSweepLedger& l);
void nrSweepProgressEnd(const NrSweepProgress& p);

struct NrSweepWorker {
  pid_t pid = -1;
  int cmdFd = -1;
  int resFd = -1;
  bool busy = false;
  NrSweepTask task{};
};

struct NrSweepPool {
  std::vector<NrSweepWorker> workers;
};

// Forks `jobs` worker processes that measure the batches sent to them (nrSweepPrepare done in
// this process). false, reported, when one cannot be started; the started ones are stopped.
bool nrSweepPoolStart(NrSweepPool* pool, const NrSweepCfg* cfg, int jobs);
// Hands task to the idle worker w; false when its command pipe is broken (a dead worker, which
// shows on its result pipe).
bool nrSweepPoolSend(NrSweepPool* pool, int w, const NrSweepTask& task);
// Waits up to timeoutMs for the results of busy workers and appends them to got. false when a
// worker died or sent a batch outside the sweep, with *why naming it and what it was measuring;
// true also when the wait was interrupted by a signal.
bool nrSweepPoolCollect(NrSweepPool* pool, const NrSweepCfg* cfg, int timeoutMs,
                        std::vector<NrSweepResult>* got, std::string* why);
bool nrSweepPoolBusy(const NrSweepPool& pool);
// Ends the workers: idle ones when their command pipe closes, busy ones (every one with `kill`)
// by SIGTERM; waits for them all.
void nrSweepPoolStop(NrSweepPool* pool, bool kill);
