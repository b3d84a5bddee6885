// The bench's own transmit and receive stages for the fuzz targets of the receive path: the
// transmit action's chain on gnrNbConfig and the receive action's stages after its file read.
#pragma once

#include <cstdint>
#include <cstring>

#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "fuzz/fuzz_util.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/common/sequence.h"
#include "phy/common/text_lines.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/rx/pdsch_rx.h"
#include "phy/tx/pdsch_tx.h"

namespace fuzz_slot {

constexpr char kDecFile[] = "DecBuff.txt";     // the decoded transport block and its CRC
constexpr char kEncFile[] = "EncCrcBuff.txt";  // the transmitted one

// Samples of one slot of the configured cell.
inline uint32_t slotSamples() {
  const uint32_t n = 15u * gnrNbConfig.cellCfg.fftSize;
  return n < static_cast<uint32_t>(kSlotSampleCap) ? n : kSlotSampleCap;
}

// The transmit action's chain on gnrNbConfig: PDSCH onto the grid, OFDM modulation into
// gnrNbTxBuf.nbTxSample. Writes "EncCrcBuff.txt" in the working directory.
inline void transmitSlot() {
  std::memset(&gnrNbTxBuf, 0, sizeof(gnrNbTxBuf));
  FUZZ_CHECK(nrPdschTx(&gnrNbConfig, &gnrNbTxBuf), "the reference slot cannot be transmitted");
  FUZZ_CHECK(nrOfdmMod(&gnrNbConfig, &gnrNbTxBuf), "the reference slot cannot be modulated");
}

// The decoding request the receive action forms from gnrDchMwItf after the front end.
struct DecodeRequest {
  uint32_t A, G;
  float R;
  int32_t cInit;
  uint32_t Qm;
  uint8_t rv, layers;
  uint16_t rateX2048;
};

inline DecodeRequest requestFromItf(const NrDchMwItf& dch) {
  DecodeRequest q;
  q.A = dch.tbSize;
  q.G = dch.codedBitN;
  q.R = q.G != 0 ? static_cast<float>(q.A) / static_cast<float>(q.G) : 0.0f;
  q.cInit = static_cast<int32_t>(nrPdschDataCinit(dch.rnti, dch.cellCfg.nId));
  q.Qm = dch.pdschCfg.Qm;
  q.rv = dch.pdschCfg.rvIdx;
  q.layers = dch.pdschCfg.layerN;
  q.rateX2048 = dch.pdschCfg.codeRate;
  return q;
}

inline uint8_t decode(const DecodeRequest& q, const int16_t* softBits) {
  return nrDlschDecode(q.A, q.G, q.R, q.cInit, q.Qm, q.rv, softBits, q.layers, q.rateX2048);
}

struct RxResult {
  bool valid;       // what nrUeDchRxProc returned
  uint8_t decoded;  // what nrDlschDecode returned (0 when not called)
};

// The receive action's stages after its file read, on the samples in ueFileSample: UE set-up
// from the gNB's record, PDSCH front end and, when it found valid data, decoding; an invalid slot
// removes an earlier "DecBuff.txt" as the action does.
inline RxResult receiveSlot() {
  nrUeSetupFromNb(ueFileSample, 0);
  NrDchMwItf* dch = &gnrDchMwItf;
  RxResult r{};
  r.valid = nrUeDchRxProc(ueRxSample, dch, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                          static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), gnrCchMwItf.slotIdx);
  if (!dch->dataValid) {
    nrRemoveStaleFile(kDecFile);
    return r;
  }
  r.decoded = decode(requestFromItf(*dch), ueLlrBuf);
  return r;
}

}  // namespace fuzz_slot
