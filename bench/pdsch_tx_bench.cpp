// The whole transmit action (configuration, PDSCH chain, OFDM modulation, both waveform files)
// for the default slot and for a full-carrier 256QAM allocation (106 RBs, 14 symbols, MCS 27),
// and the PDSCH chain alone for the latter.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/actions.h"
#include "config/mcs_table.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/tx/pdsch_tx.h"
#include "tests/test_util.h"

namespace {

void BM_GnbTxDefaultSlot(benchmark::State& state) {
  ScopedTempDir dir;  // the action writes its files into the working directory
  freshDefaultSlot();
  for (auto _ : state) {
    gNbTx();
    benchmark::DoNotOptimize(gnrNbTxBuf.nbTxSample[100]);
  }
}

// The generator keeps a configuration once made, so the action sends the modified slot.
void BM_GnbTxFullCarrier(benchmark::State& state) {
  ScopedTempDir dir;  // the action writes its files into the working directory
  fullCarrierSlot();
  for (auto _ : state) {
    gNbTx();
    benchmark::DoNotOptimize(gnrNbTxBuf.nbTxSample[100]);
  }
}

void BM_PdschTxFullCarrier(benchmark::State& state) {
  ScopedTempDir dir;  // the action writes its files into the working directory
  fullCarrierSlot();
  for (auto _ : state) {
    nrPdschTx(&gnrNbConfig, &gnrNbTxBuf);
    benchmark::DoNotOptimize(gnrNbTxBuf.nbTxGrid[5][100]);
  }
}

}  // namespace

BENCHMARK(BM_GnbTxDefaultSlot)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GnbTxFullCarrier)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PdschTxFullCarrier)->Unit(benchmark::kMillisecond);
