#include "phy/common/stage_profile.h"

#include <time.h>

#include "config/console.h"

bool gnrProfileOn = false;

namespace {

constexpr int kMaxDepth = 16;  // nested scopes followed; deeper ones are charged to the outer one
constexpr int kStageN = static_cast<int>(NrStage::kStageCount);

const char* const kStageNames[kStageN] = {
    "generation", "encoding",      "mapping",    "OFDM",         "file I/O",  "UE set-up",
    "FFT",        "RE extraction", "estimation", "equalisation", "demapping", "de-rate-matching",
    "decoding"};

// The figures, the open scopes and the time from which the innermost one is charged.
NrStageTime stages[kStageN];
NrStage open[kMaxDepth];
int depth = 0;
int beyond = 0;  // scopes open beyond kMaxDepth
uint64_t mark = 0;
uint64_t spanStart = 0;
uint64_t cpuStart = 0;

uint64_t clockNs(clockid_t id) {
  timespec t{};
  clock_gettime(id, &t);
  return static_cast<uint64_t>(t.tv_sec) * 1000000000ull + static_cast<uint64_t>(t.tv_nsec);
}

// The monotonic clock costs tens of nanoseconds a read; the thread's CPU clock is a system call
// and is read only at the ends of the span.
uint64_t nowNs() { return clockNs(CLOCK_MONOTONIC); }

}  // namespace

namespace profile_detail {

void enter(NrStage s) {
  if (depth == kMaxDepth) {
    beyond++;
    return;
  }
  const uint64_t now = nowNs();
  if (depth > 0) stages[static_cast<int>(open[depth - 1])].ns += now - mark;
  open[depth++] = s;
  stages[static_cast<int>(s)].calls++;
  mark = now;
}

void leave() {
  if (beyond > 0) {
    beyond--;
    return;
  }
  if (depth == 0) return;  // opened before the figures were cleared
  const uint64_t now = nowNs();
  stages[static_cast<int>(open[--depth])].ns += now - mark;
  mark = now;
}

}  // namespace profile_detail

void nrProfileEnable(bool on) {
  if (on) {
    for (NrStageTime& s : stages) s = NrStageTime{};
    depth = 0;
    beyond = 0;
    spanStart = nowNs();
    cpuStart = clockNs(CLOCK_THREAD_CPUTIME_ID);
  }
  gnrProfileOn = on;
}

const NrStageTime* nrProfileStages() { return stages; }

const char* nrStageName(NrStage s) {
  const int i = static_cast<int>(s);
  return i >= 0 && i < kStageN ? kStageNames[i] : "?";
}

void nrProfilePrint() {
  const double span = static_cast<double>(nowNs() - spanStart) / 1e3;
  const double cpu = static_cast<double>(clockNs(CLOCK_THREAD_CPUTIME_ID) - cpuStart) / 1e3;
  nrDiag("%-18s %12s %8s %7s %14s\n", "stage", "time [us]", "share", "calls", "per call [us]");
  double inside = 0;
  for (int i = 0; i < kStageN; i++) {
    const double us = static_cast<double>(stages[i].ns) / 1e3;
    inside += us;
    const uint32_t calls = stages[i].calls;
    nrDiag("%-18s %12.1f %7.1f%% %7u %14.1f%s\n", kStageNames[i], us,
           span > 0 ? 100.0 * us / span : 0.0, calls, calls ? us / calls : 0.0,
           i == static_cast<int>(NrStage::kDecoding) ? "  per code block" : "");
  }
  const double rest = span > inside ? span - inside : 0.0;
  nrDiag("%-18s %12.1f %7.1f%%\n", "outside the stages", rest,
         span > 0 ? 100.0 * rest / span : 0.0);
  nrDiag("%-18s %12.1f\n", "total (wall)", span);
  nrDiag("%-18s %12.1f\n", "total (CPU)", cpu);
}
