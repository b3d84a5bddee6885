// Slots per second of the sweep engine on AWGN, one job: the channel, the receiver and the decoder
// of one slot per iteration, for the default slot (noise-aware and fixed-noise receivers) and for
// a full-carrier 256QAM slot (106 RBs, 14 symbols, MCS 27), each a few dB above its 10 % BLER
// point.
#include <benchmark/benchmark.h>

#include "app/sweep.h"
#include "config/console.h"
#include "tests/test_util.h"

namespace {

void run(benchmark::State& state, bool fullCarrier, NrRxVariant rx, double snrDb) {
  ScopedTempDir dir;
  nrConsoleSetSink([](NrConsoleStream, const char*, std::size_t, void*) {}, nullptr);
  if (fullCarrier)
    fullCarrierSlot();
  else
    freshDefaultSlot();
  NrSweepCfg cfg;
  cfg.receiver = rx;
  NrSweepSlotInfo info{};
  if (!nrSweepPrepare(&cfg, &info)) state.SkipWithError("slot not prepared");
  uint64_t slot = 0;
  NrSweepTally sum{};
  for (auto _ : state) {
    NrSweepTally t{};
    nrSweepRunSlots(&cfg, snrDb, slot++, 1, &t);
    nrSweepTallyAdd(&sum, t);
  }
  nrConsoleSetSink(nullptr, nullptr);
  state.counters["slots/s"] =
      benchmark::Counter(static_cast<double>(sum.slots), benchmark::Counter::kIsRate);
  state.counters["BLER"] = sum.slots ? static_cast<double>(sum.tbErrors) / sum.slots : 0.0;
}

void BM_SweepAwgnDefaultSlot(benchmark::State& s) { run(s, false, NrRxVariant::kNoiseAware, 20.0); }
void BM_SweepAwgnDefaultSlotFixedNoise(benchmark::State& s) {
  run(s, false, NrRxVariant::kFixedNoise, 22.0);
}
void BM_SweepAwgnFullCarrier(benchmark::State& s) { run(s, true, NrRxVariant::kNoiseAware, 28.0); }

}  // namespace

BENCHMARK(BM_SweepAwgnDefaultSlot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SweepAwgnDefaultSlotFixedNoise)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SweepAwgnFullCarrier)->Unit(benchmark::kMillisecond);
