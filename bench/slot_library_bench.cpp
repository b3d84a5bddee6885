// One slot through the library path, no waveform files: transmit (PDSCH chain and OFDM modulation
// of every antenna port), receive (UE set-up from the samples, PDSCH front end without debug
// files, decoding chain), and the parts of the receiver on their own. Two slots: the default one
// (12 RBs, 64QAM, one layer, one antenna) and the full carrier with two layers on two antennas
// (106 RBs, 14 symbols, MCS 27). Noise-free, so the decoder stops at its first CRC check. The
// diagnostic files of encoder and decoding chain are off. BM_LibStages* time the whole slot with
// the per-stage profile on and report each stage's time per slot (us) as a counter.
#include <benchmark/benchmark.h>

#include "app/slot_setup.h"
#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/coding/ldpc_decode.h"
#include "phy/common/sequence.h"
#include "phy/common/stage_profile.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/rx/pdsch_rx.h"
#include "phy/tx/pdsch_tx.h"
#include "tests/test_util.h"

namespace {

enum class Slot { kDefault, kFullCarrier2x2, kFullCarrier2x2Rv0 };

NrNbTxBuf* const kPortBuf[2] = {&gnrNbTxBuf, &gnrNbTxBuf1};

void drawSlot(Slot s) {
  if (s == Slot::kDefault) {
    freshDefaultSlot();
    return;
  }
  fullCarrierSlot();
  gnrNbConfig.cellCfg.antPortN = 2;
  gnrNbConfig.pdschCfg[0].layerN = 2;
  // The drawn slot sends redundancy version 3: its circular buffer starts among the last parity
  // columns and misses part of the systematic ones, so the decoder runs 14 layers and 6-7
  // iterations. Version 0 is the first transmission: 4 layers, stop at the 4th iteration.
  if (s == Slot::kFullCarrier2x2Rv0) gnrNbConfig.pdschCfg[0].rvIdx = 0;
}

bool transmit() {
  const int ports = nrSlotAntennaPorts(&gnrNbConfig);
  bool ok = nrPdschTx(&gnrNbConfig, kPortBuf[0], ports == 2 ? kPortBuf[1] : nullptr);
  for (int p = 0; p < ports; p++) ok = nrOfdmMod(&gnrNbConfig, kPortBuf[p]) && ok;
  return ok;
}

// The UE set-up with the transmitted samples of every antenna, as the receive action does with
// the files' samples.
void setUpUe() {
  const int ports = nrSlotAntennaPorts(&gnrNbConfig);
  for (int a = 0; a < ports; a++) nrUeSetupFromNb(kPortBuf[a]->nbTxSample, static_cast<uint8_t>(a));
}

bool frontEnd() {
  NrDchRxOpts opts;
  opts.dumps = false;
  return nrUeDchRxProc(ueRxSample, &gnrDchMwItf, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                       static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), gnrCchMwItf.slotIdx, &opts);
}

uint8_t decode() {
  NrDchMwItf* dch = &gnrDchMwItf;
  nrUeDchSetCodeRate(dch);
  return nrDlschDecode(dch->tbSize, dch->codedBitN, dch->codeRate,
                       static_cast<int32_t>(nrPdschDataCinit(dch->rnti, dch->cellCfg.nId)),
                       dch->pdschCfg.Qm, dch->pdschCfg.rvIdx, ueLlrBuf, dch->pdschCfg.layerN,
                       dch->pdschCfg.codeRate);
}

bool receive() {
  setUpUe();
  return frontEnd() && decode() == 1;
}

enum class Part { kSlot, kTransmit, kReceive, kFrontEnd, kDecode, kStages };

void run(benchmark::State& state, Slot s, Part part) {
  ScopedTempDir dir;
  QuietStdout quiet;
  gnrDiagFilesOn = false;
  drawSlot(s);
  nrLdpcDecPara = NrLdpcDecPara{};
  bool ok = transmit() && receive();
  if (!ok) state.SkipWithError("the slot does not decode");
  if (part == Part::kStages) nrProfileEnable(true);
  for (auto _ : state) {
    switch (part) {
      case Part::kSlot:
      case Part::kStages:
        ok = transmit() && receive();
        break;
      case Part::kTransmit:
        ok = transmit();
        break;
      case Part::kReceive:
        ok = receive();
        break;
      case Part::kFrontEnd:
        ok = frontEnd();
        break;
      case Part::kDecode:
        ok = decode() == 1;
        break;
    }
    benchmark::DoNotOptimize(ok);
  }
  if (!ok) state.SkipWithError("the slot does not decode");
  if (part == Part::kStages) {
    nrProfileEnable(false);
    const NrStageTime* t = nrProfileStages();
    for (int i = 0; i < static_cast<int>(NrStage::kStageCount); i++)
      if (t[i].calls > 0)
        state.counters[nrStageName(static_cast<NrStage>(i))] = benchmark::Counter(
            static_cast<double>(t[i].ns) / 1e3, benchmark::Counter::kAvgIterations);
  }
  gnrDiagFilesOn = true;
  state.counters["TBS"] = gnrDchMwItf.tbSize;
  state.counters["lastIter"] = nrLdpcDecIterUsed();
  // Iterations of every code block of the last decoding, summed: the decoder's real load.
  const NrDlschDecReport* rep = nrDlschDecLastReport();
  int iterations = 0;
  for (int r = 0; r < rep->cbN; r++) iterations += rep->cb[r].iterUsed;
  state.counters["iterations"] = iterations;
  state.counters["layersRun"] = nrLdpcDecLayersRun();
}

void BM_LibSlotDefault(benchmark::State& st) { run(st, Slot::kDefault, Part::kSlot); }
void BM_LibSlotFull2x2(benchmark::State& st) { run(st, Slot::kFullCarrier2x2, Part::kSlot); }
void BM_LibTxDefault(benchmark::State& st) { run(st, Slot::kDefault, Part::kTransmit); }
void BM_LibTxFull2x2(benchmark::State& st) { run(st, Slot::kFullCarrier2x2, Part::kTransmit); }
void BM_LibRxDefault(benchmark::State& st) { run(st, Slot::kDefault, Part::kReceive); }
void BM_LibRxFull2x2(benchmark::State& st) { run(st, Slot::kFullCarrier2x2, Part::kReceive); }
void BM_LibFrontEndDefault(benchmark::State& st) { run(st, Slot::kDefault, Part::kFrontEnd); }
void BM_LibFrontEndFull2x2(benchmark::State& st) {
  run(st, Slot::kFullCarrier2x2, Part::kFrontEnd);
}
void BM_LibDecodeDefault(benchmark::State& st) { run(st, Slot::kDefault, Part::kDecode); }
void BM_LibDecodeFull2x2(benchmark::State& st) { run(st, Slot::kFullCarrier2x2, Part::kDecode); }
void BM_LibStagesDefault(benchmark::State& st) { run(st, Slot::kDefault, Part::kStages); }
void BM_LibStagesFull2x2(benchmark::State& st) { run(st, Slot::kFullCarrier2x2, Part::kStages); }

void BM_LibSlotFull2x2Rv0(benchmark::State& st) { run(st, Slot::kFullCarrier2x2Rv0, Part::kSlot); }
void BM_LibTxFull2x2Rv0(benchmark::State& st) {
  run(st, Slot::kFullCarrier2x2Rv0, Part::kTransmit);
}
void BM_LibRxFull2x2Rv0(benchmark::State& st) { run(st, Slot::kFullCarrier2x2Rv0, Part::kReceive); }
void BM_LibFrontEndFull2x2Rv0(benchmark::State& st) {
  run(st, Slot::kFullCarrier2x2Rv0, Part::kFrontEnd);
}
void BM_LibDecodeFull2x2Rv0(benchmark::State& st) {
  run(st, Slot::kFullCarrier2x2Rv0, Part::kDecode);
}
void BM_LibStagesFull2x2Rv0(benchmark::State& st) {
  run(st, Slot::kFullCarrier2x2Rv0, Part::kStages);
}

}  // namespace

BENCHMARK(BM_LibSlotDefault)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibSlotFull2x2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibTxDefault)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibTxFull2x2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibRxDefault)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibRxFull2x2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibFrontEndDefault)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibFrontEndFull2x2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibDecodeDefault)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibDecodeFull2x2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibStagesDefault)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibStagesFull2x2)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibSlotFull2x2Rv0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibTxFull2x2Rv0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibRxFull2x2Rv0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibFrontEndFull2x2Rv0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibDecodeFull2x2Rv0)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LibStagesFull2x2Rv0)->Unit(benchmark::kMicrosecond);
