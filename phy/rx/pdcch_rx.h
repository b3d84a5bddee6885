// PDCCH blind detection: OFDM demodulation of each CORESET occasion, DMRS channel estimation and
// an exhaustive search of the CORESET's candidates at aggregation levels 1 to 16 (TS 38.213 10.1,
// TS 38.211 7.3.2), each plausible candidate decoded as a DCI (TS 38.212 7.3).
#pragma once

#include <cstdint>

#include "config/nr_config.h"

constexpr int kDciStoreRows = 10;    // DCIs kept per CORESET occasion
constexpr int kDciStoreRowLen = 60;  // payload bits per stored DCI

// dciStore: the payloads (one bit per byte) of the DCIs detected in the current CORESET occasion,
// from row 0; written by blind detection, read by it when it hands them over in gnrDciBits.
extern uint8_t dciStore[kDciStoreRows][kDciStoreRowLen];

// gnrUeCchCandMap: 1 where CORESET symbol s and CORESET RB position i belong to the current
// candidate; written and read by blind detection.
extern uint8_t gnrUeCchCandMap[4][kMaxRb];

// gnrUeCchBundleMap: the REG bundle interleaver f(j) of TS 38.211 7.3.2.2 of the CORESET being
// searched; written and read by blind detection.
extern uint16_t gnrUeCchBundleMap[kGridScCap];

// gnrUeCchDecodedN: candidates handed to the DCI decoder by the last blind detection (those that
// passed the weak-RE gate); written by blind detection, read by tests and benchmarks.
extern uint32_t gnrUeCchDecodedN;

// Finds the DCIs of one received slot (rxSample laid out as ueRxSample). For every search space
// i < dciN of cchItf: the CORESET of coresets with its coresetId, and for every symbol set in its
// monSymBitmap a CORESET occasion: the CORESET symbols are OFDM-demodulated into gnrUeRxGrid
// (receive antennas cellCfg.antPortN; one antenna is copied to the second), split into DMRS and
// data REs, equalised by nrUeCchChEstEq (DMRS from RB bwp->rbOffset + rbIdx[0], n_ID cellCfg.nId,
// n_s slot), and every candidate of the CORESET at aggregation levels 1, 2, 4, 8, 16 whose
// equalised REs are not mostly weak is decoded with nrDciDecode (cellCfg.rnti, payloadSize[i],
// ueSpecific[i]). Prints "Detected DCI [crc Passed!]Start@%dsymbol  \nAggrelvl %d, the %d th
// candi-DCI payload: " with the symbol, the aggregation index and the candidate, the payload bits
// and "\n" per detection (kept in dciStore, at most 10 per occasion), or "Does not Detected and
// DCI!!!\n" for an occasion without one. The carrier's width comes from gnrUeConfig. Returns the
// number of DCIs of the last occasion searched, their payloads one after another in gnrDciBits,
// and clears gnrUeConfig.sysInitDone. A search space whose CORESET is missing or malformed, whose
// payload does not fit dciStore, or whose occasion leaves the slot or the FFT is skipped with a
// diagnostic.
uint8_t nrUeCchBlindDetect(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCchMwItf* cchItf,
                           const NrCoresetCfg* coresets, const NrBwpCfg* bwp, uint16_t slot);
