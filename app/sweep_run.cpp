// The sweep on one machine: worker processes measure batches of slots handed out in SNR and slot
// order while the coordinator counts them (app/sweep_workers.h) and shows the progress.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/sweep.h"
#include "app/sweep_workers.h"
#include "config/console.h"

namespace {

volatile sig_atomic_t gInterrupted = 0;
void onInterrupt(int) { gInterrupted = 1; }

}  // namespace

int nrSweepRun(const NrSweepCfg* cfg, int jobs, std::vector<NrSweepPoint>* points,
               bool* interrupted) {
  *interrupted = false;
  NrSweepLedger ledger;
  nrSweepLedgerInit(&ledger, cfg);

  gInterrupted = 0;
  struct sigaction sa {
  }, oldSa{};
  sa.sa_handler = onInterrupt;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGINT, &sa, &oldSa);  // no SA_RESTART: poll returns at once

  NrSweepPool pool;
  bool failed = !nrSweepPoolStart(&pool, cfg, jobs);

  NrSweepProgress progress = nrSweepProgressStart(isatty(2) == 1);
  std::vector<NrSweepResult> got;
  while (!failed && !gInterrupted) {
    for (size_t w = 0; w < pool.workers.size(); w++) {
      if (pool.workers[w].busy) continue;
      NrSweepTask t;
      if (!nrSweepLedgerNextTask(&ledger, &t)) break;
      if (!nrSweepPoolSend(&pool, static_cast<int>(w), t)) break;  // shows on its result pipe
    }
    if (!nrSweepPoolBusy(pool)) break;

    got.clear();
    std::string why;
    if (!nrSweepPoolCollect(&pool, cfg, kSweepProgressMs, &got, &why)) {
      nrDiag("veltra sweep: %s; no results written\n", why.c_str());
      failed = true;
    }
    for (const NrSweepResult& r : got) nrSweepLedgerAdd(&ledger, r);
    nrSweepProgressTick(&progress, ledger);
  }
  *interrupted = gInterrupted != 0 && !failed;
  nrSweepProgressEnd(progress);

  // Idle workers end when their command pipe closes; busy ones are stopped.
  nrSweepPoolStop(&pool, failed || *interrupted);
  sigaction(SIGINT, &oldSa, nullptr);
  if (failed) return 1;
  nrSweepLedgerPoints(ledger, points);
  return *interrupted ? 1 : 0;
}
