// PDSCH receiver front end: OFDM demodulation, RE extraction, channel estimation and
// equalisation, layer demapping, rate-matching masks and soft demapping of one slot.
#pragma once

#include <cstdint>

#include "config/nr_config.h"
#include "phy/ofdm/ofdm_demod.h"
#include "phy/rx/pdsch_chest.h"
#include "phy/rx/pdsch_rx_na.h"

// Capacities of the largest slot the receiver accepts: N = 2048 gives at most 2048 REs per
// symbol, so 14 x 2048 data REs (and as many DMRS REs); two layers double the demapper inputs and
// 256QAM turns each into 8 soft bits, which is exactly kUeLlrCap.
constexpr int kUeDchReCap = kSymbolsPerSlot * kMaxFftSize;
constexpr int kUeDchDemapInCap = kMaxLayers * kUeDchReCap;
static_assert(kUeDchDemapInCap * kMaxQm == kUeLlrCap, "soft-bit buffer must hold every input");
static_assert(kUeDchReCap <= 0xFFFF, "DMRS RE count is handed over in 16 bits");

// PDSCH data REs in extraction order, equalised in place; written and read by the front end and
// the channel estimator. Written by nothing else: the front end keeps every entry past the
// slot's REs zero (as are the soft bits of ueLlrBuf past codedBitN) by clearing what an earlier
// slot left there.
extern NrRxRe gnrUeDchDataRe[kUeDchReCap];
// PDSCH DMRS REs in extraction order, zero past them; written by the front end, read by the
// channel estimator.
extern NrRxRe gnrUeDchDmrsRe[kUeDchReCap];
// Soft-demapper input (layers interleaved RE by RE); written and read by the front end.
extern int32_t gnrUeDchDemapIn[kUeDchDemapInCap];

// Options of nrUeDchRxProc beyond the default receiver (nullptr: the default in every respect).
struct NrDchRxOpts {
  bool noiseAware = false;       // the noise-aware variant of phy/rx/pdsch_rx_na.h
  bool mmse = false;             // noise-aware, two layers: MMSE rather than ZF
  bool dumps = true;             // write the debug files
  float llrScale = kNaLlrScale;  // noise-aware soft bits per LLR unit
};

// Receives the PDSCH of one slot from rxSample (laid out as ueRxSample) into ueLlrBuf and sets
// dataRePerSym, codedBitN, rxDone and dataValid of dchItf. carrierNrb places carrier subcarrier 0
// at FFT bin N/2 - 6 carrierNrb; gridNrb RBs of rbMap are scanned; slot is n_s of the DMRS.
// Returns true when the slot held valid data. A configuration beyond the receiver's capacities is
// rejected with a console line and dataValid 0. opts selects the noise-aware variant (the same
// RE extraction and layer order, its own estimation, equalisation and soft bits; the slot is
// valid when it held data REs) and whether the debug files are written.
bool nrUeDchRxProc(const int16_t (*rxSample)[2][kSlotSampleCap], NrDchMwItf* dchItf,
                   int16_t carrierNrb, int16_t gridNrb, uint16_t slot,
                   const NrDchRxOpts* opts = nullptr);

// Effective code rate of the received slot: codeRate = tbSize / codedBitN in single precision
// (0 without coded bits), and codeRateRef of its PDSCH = codeRate x 2048 rounded to nearest.
void nrUeDchSetCodeRate(NrDchMwItf* dchItf);
