// The hardware model's stages on one full code block (Zc 384, no fillers) of each base graph: the
// CRC stage with its bank writer, the edge-table encoder and the FIFO rate matcher (256QAM, E of
// one pass of the buffer); throughput counted in information bits. The software encoder and rate
// matcher of the same block are in ldpc_encode_bench.cpp.
#include <benchmark/benchmark.h>

#include <vector>

#include "hwmodel/hw_crc.h"
#include "hwmodel/hw_ldpc_enc.h"
#include "hwmodel/hw_params.h"
#include "hwmodel/hw_rate_match.h"

namespace {

// One code block of K' = K at Zc 384 (iLS 1, zExp 5): BG1 A = 8424 with CRC24A, BG2 A = 3824
// with CRC16.
struct Block {
  NrHwCwParams rec{};
  LdpcCoreParams core{};
  std::vector<int32_t> payload, bank, cell, fifos;
  int32_t crcOut[kHwCrcOutLen] = {};
};

Block fullBlock(int bg) {
  Block b;
  NrHwCwParams& r = b.rec;
  r.bgIdx = bg - 1;
  r.iLS = 1;
  r.zExp = 5;
  r.extRowNum = bg == 1 ? 42 : 38;
  r.infoLen = bg == 1 ? 8424 : 3824;
  r.tbCrc24 = bg == 1 ? 1 : 0;
  r.Ncb = (bg == 1 ? 66 : 50) * 384;
  r.Qm = 8;
  r.layerNumM1 = 0;
  r.cbNum = 1;
  r.eRowSmall = r.Ncb / 8;
  nrHwRowStartCalc(&r, 0);
  nrHwCoreParamCalc(&r, &b.core);
  b.payload.resize(r.infoLen);
  for (int32_t k = 0; k < r.infoLen; k++) b.payload[k] = (k * 2654435761u >> 7) & 1;
  b.bank.assign(kHwCrcBankSlots, 0);
  b.cell.assign(kHwCellSlots, 0);
  b.fifos.assign(kHwFifoNum * kHwFifoDepth, 0);
  nrHwCrcCb(&r, 0, b.payload.data(), b.crcOut, b.bank.data());
  nrHwCellLoadSys(&b.core, b.bank.data(), b.cell.data());
  return b;
}

void rate(benchmark::State& state, const Block& b) {
  state.counters["Mbit/s"] = benchmark::Counter(
      static_cast<double>(b.core.Kp) * state.iterations() / 1e6, benchmark::Counter::kIsRate);
}

void BM_HwCrcCb(benchmark::State& state) {
  Block b = fullBlock(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    nrHwCrcCb(&b.rec, 0, b.payload.data(), b.crcOut, b.bank.data());
    benchmark::DoNotOptimize(b.bank.data());
    benchmark::ClobberMemory();
  }
  rate(state, b);
}

void BM_HwLdpcEnc(benchmark::State& state) {
  Block b = fullBlock(static_cast<int>(state.range(0)));
  int32_t encFinish = 0;
  for (auto _ : state) {
    nrHwLdpcEnc(&b.core, b.bank.data(), b.cell.data(), &encFinish);
    benchmark::DoNotOptimize(b.cell.data());
    benchmark::ClobberMemory();
  }
  rate(state, b);
}

void BM_HwRateMatch(benchmark::State& state) {
  Block b = fullBlock(static_cast<int>(state.range(0)));
  int32_t encFinish = 0, rmFinish = 0;
  nrHwLdpcEnc(&b.core, b.bank.data(), b.cell.data(), &encFinish);
  nrHwRateMatchReset();
  for (auto _ : state) {
    nrHwRateMatch(&b.rec, 0, b.cell.data(), b.fifos.data(), &rmFinish, nullptr);
    benchmark::DoNotOptimize(b.fifos.data());
    benchmark::ClobberMemory();
  }
  rate(state, b);
}

}  // namespace

BENCHMARK(BM_HwCrcCb)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HwLdpcEnc)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HwRateMatch)->Arg(1)->Arg(2)->ArgName("bg")->Unit(benchmark::kMicrosecond);
