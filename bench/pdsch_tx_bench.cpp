// The whole transmit action (configuration, PDSCH chain, OFDM modulation, both waveform files)
// for the default slot and for a full-carrier 256QAM allocation (106 RBs, 14 symbols, MCS 27),
// and the PDSCH chain alone for the latter.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "app/actions.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/tx/pdsch_tx.h"

namespace {

// The action writes its files into the working directory: keep them out of the caller's.
class BenchDir {
 public:
  BenchDir() {
    char tmpl[] = "/tmp/veltra_bench_XXXXXX";
    path_ = mkdtemp(tmpl);
    char cwd[4096];
    old_ = getcwd(cwd, sizeof(cwd));
    if (chdir(path_.c_str()) != 0) std::abort();
  }
  ~BenchDir() {
    if (chdir(old_.c_str()) != 0) return;
    const std::string cmd = "rm -rf '" + path_ + "'";
    if (std::system(cmd.c_str()) != 0) return;
  }

 private:
  std::string path_, old_;
};

void fullCarrierSlot() {
  nrGenDefaultSlotCfg();
  NrPdschCfg& d = gnrNbConfig.pdschCfg[0];
  d.mcs = 27;
  d.symBitmap = 0x3FFF;
  d.rbN = 106;
  for (int r = 0; r < d.rbN; r++) d.rbIdx[r] = r;
  d.dmrsFirstSym = 2;
  d.dmrsAddPosN = 0;
}

void BM_GnbTxDefaultSlot(benchmark::State& state) {
  BenchDir dir;
  for (auto _ : state) {
    gNbTx();
    benchmark::DoNotOptimize(gnrNbTxBuf.nbTxSample[100]);
  }
}

// The generator keeps a configuration once made, so the action sends the modified slot.
void BM_GnbTxFullCarrier(benchmark::State& state) {
  BenchDir dir;
  fullCarrierSlot();
  for (auto _ : state) {
    gNbTx();
    benchmark::DoNotOptimize(gnrNbTxBuf.nbTxSample[100]);
  }
}

void BM_PdschTxFullCarrier(benchmark::State& state) {
  BenchDir dir;
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
