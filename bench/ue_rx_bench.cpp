// The whole receive action (waveform file read, UE set-up, PDSCH front end, decoding chain with
// its console lines and files) for the default slot and for a full-carrier 256QAM slot
// (106 RBs, 14 symbols, MCS 27), each sent once by the transmit action beforehand.
#include <benchmark/benchmark.h>

#include "app/actions.h"
#include "config/mcs_table.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/coding/ldpc_decode.h"
#include "tests/test_util.h"

namespace {

void run(benchmark::State& state, bool fullCarrier) {
  ScopedTempDir dir;
  QuietStdout quiet;
  if (fullCarrier) {
    fullCarrierSlot();
  } else {
    freshDefaultSlot();
  }
  gNbTx();
  for (auto _ : state) {
    nrUeRx();
    benchmark::DoNotOptimize(gnrDchMwItf.codedBitN);
  }
  state.counters["TBS"] = gnrDchMwItf.tbSize;
  state.counters["lastIter"] = nrLdpcDecIterUsed();
  state.counters["Mbit/s"] =
      benchmark::Counter(static_cast<double>(gnrDchMwItf.tbSize) * state.iterations() / 1e6,
                         benchmark::Counter::kIsRate);
}

void BM_UeRxDefaultSlot(benchmark::State& state) { run(state, false); }
void BM_UeRxFullCarrier(benchmark::State& state) { run(state, true); }

}  // namespace

BENCHMARK(BM_UeRxDefaultSlot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_UeRxFullCarrier)->Unit(benchmark::kMillisecond);
