// Shared-channel encoding of the default slot's PDSCH and of a 100-RB MCS 27 allocation (13
// symbols, one DMRS symbol of type 1: 150 data REs per RB), the latter also without the CRC dump
// on int32 and on byte lanes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/common/tbs.h"
#include "tests/test_util.h"

namespace {

// Data REs per RB of a PDSCH entry as the transmit chain counts them (TS 38.211 7.4.1.1.2: type 1
// DMRS takes 6 subcarriers per CDM group, type 2 takes 4).
int32_t dataRePerRb(const NrPdschCfg& c) {
  int first = 0, last = 13;
  while (first < 14 && !((c.symBitmap >> first) & 1)) first++;
  while (last > 0 && !((c.symBitmap >> last) & 1)) last--;
  int ports = 0;
  while (ports < 12 && c.dmrsPortIdx[ports] != 0xFF) ports++;
  const int groups = c.dmrsType == 2 ? (ports + 1) / 2 : (ports > 2 ? 2 : 1);
  const int dmrsSc = c.dmrsEn == 1 ? (c.dmrsType == 2 ? 4 : 6) * groups : 0;
  return 12 * (last - first + 1) - dmrsSc * (c.dmrsAddPosN + 1);
}

// Bytes: the byte-lane chain nrDlschEncodeBytes instead of the int32 one; dump: whether
// "EncCrcBuff.txt" is written (as the console program does) or not (as the library path runs).
void run(benchmark::State& state, int32_t mcs, int32_t layers, int32_t nRePerPrb, int32_t nPrb,
         uint8_t rv, bool bytes = false, bool dump = true) {
  int32_t qm = 0, c = 0;
  float rate = 0;
  uint64_t tbs = 0, G = 0;
  nrTbsCalc(mcs, nRePerPrb, nPrb, layers, &qm, &c, &rate, &tbs, &G);
  std::vector<int32_t> out(G + qm * layers * c);
  std::vector<int8_t> outBytes(out.size());
  // The encoder rewrites "EncCrcBuff.txt" in the working directory: keep it out of the caller's.
  ScopedTempDir dir;
  gnrDiagFilesOn = dump;
  for (auto _ : state) {
    if (bytes)
      benchmark::DoNotOptimize(
          nrDlschEncodeBytes(mcs, layers, nRePerPrb, nPrb, outBytes.data(), rv));
    else
      benchmark::DoNotOptimize(nrDlschEncode(mcs, layers, nRePerPrb, nPrb, out.data(), rv));
    benchmark::ClobberMemory();
  }
  gnrDiagFilesOn = true;
  state.counters["TBS"] = static_cast<double>(tbs);
  state.counters["C"] = nrLdpcParams.C;
  state.counters["Mbit/s"] = benchmark::Counter(static_cast<double>(tbs) * state.iterations() / 1e6,
                                                benchmark::Counter::kIsRate);
}

void BM_DlschEncodeDefaultSlot(benchmark::State& state) {
  freshDefaultSlot();
  const NrPdschCfg& c = gnrNbConfig.pdschCfg[0];
  run(state, c.mcs, c.layerN, dataRePerRb(c), c.rbN, c.rvIdx);
}

void BM_DlschEncode100RbMcs27(benchmark::State& state) { run(state, 27, 1, 150, 100, 0); }
void BM_DlschEncode100RbMcs27NoDump(benchmark::State& state) {
  run(state, 27, 1, 150, 100, 0, false, false);
}
void BM_DlschEncodeBytes100RbMcs27NoDump(benchmark::State& state) {
  run(state, 27, 1, 150, 100, 0, true, false);
}

}  // namespace

BENCHMARK(BM_DlschEncodeDefaultSlot)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DlschEncode100RbMcs27)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DlschEncode100RbMcs27NoDump)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DlschEncodeBytes100RbMcs27NoDump)->Unit(benchmark::kMicrosecond);
