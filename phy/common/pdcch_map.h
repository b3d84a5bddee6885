// PDCCH resource mapping shared by the transmitter and the receiver: CORESET geometry checks, the
// CCE-to-REG mapping of TS 38.211 7.3.2.2, the data and DMRS subcarriers of a REG, and the
// scrambling and DMRS sequence initialisers (TS 38.211 7.3.2.3, 7.4.1.3).
#pragma once

#include <cstdint>

#include "config/nr_config.h"

constexpr int kCoresetCap = 3;          // coresetCfg entries of a configuration record
constexpr int kCoresetMaxDuration = 3;  // TS 38.211 7.3.2.2: CORESET symbols
constexpr int kRegPerCce = 6;           // TS 38.211 7.3.2.2: REGs per CCE
constexpr int kPdcchRePerReg = 9;       // data REs of a REG (the DMRS takes subcarriers 1, 5, 9)
constexpr int kPdcchDmrsPerReg = 3;
constexpr int kPdcchBitsPerCce = 2 * kPdcchRePerReg * kRegPerCce;  // 108 QPSK bits
constexpr int kPdcchMaxAggr = 16;
constexpr int kPdcchAggrLevels = 5;  // 1, 2, 4, 8, 16
constexpr int kPdcchMaxCandRb = 96;  // capacity of NrPdcchCfg::rbIdx: 16 CCEs of 6 REGs
constexpr int kPdcchMaxE = kPdcchBitsPerCce * kPdcchMaxAggr;

// Data subcarriers of a REG in ascending order.
constexpr int kPdcchDataSc[kPdcchRePerReg] = {0, 2, 3, 4, 6, 7, 8, 10, 11};
// TS 38.211 7.4.1.3.2: the DMRS sits on subcarriers 4k' + 1 of every REG.
constexpr bool nrPdcchIsDmrsSc(int k) { return k % 4 == 1; }

// True for the aggregation levels 1, 2, 4, 8 and 16.
constexpr bool nrPdcchAggrValid(uint32_t L) {
  return L == 1 || L == 2 || L == 4 || L == 8 || L == 16;
}

// Why a CORESET cannot carry a PDCCH (nullptr when it can): duration 1 .. 3, allocNrb a non-zero
// multiple of 6 up to 280, the first allocNrb RB indices strictly ascending and below 280.
const char* nrCoresetCheck(const NrCoresetCfg* cs);

// Index of the first of the three CORESET entries in use (duration non-zero) whose coresetId is
// id, or -1 when none is.
int nrCoresetFind(const NrCoresetCfg* coresets, uint16_t id);

// TS 38.211 7.3.2.2: the CORESET RB positions (indices into cs->rbIdx, in every CORESET symbol)
// of the aggrL CCEs from firstCce, in CCE and bundle order. Interleaved (CchIntvEn non-zero): CCE
// c takes the REG bundles bundleMap[6c/L + k], k < 6/L, of bundleN bundles of L REGs, each
// covering L/duration consecutive positions; non-interleaved: bundles of 6 REGs, CCE c covering
// positions 6c/duration onwards. Returns the number of positions written to pos (6 aggrL /
// duration for a whole candidate), or -1 when a CCE lies beyond the CORESET's N_REG/6 CCEs, a
// bundle or position beyond the CORESET, or L does not split the CCE into whole bundles over the
// CORESET's symbols.
int nrPdcchCcePositions(const NrCoresetCfg* cs, const uint16_t* bundleMap, uint32_t bundleN,
                        uint32_t L, uint32_t firstCce, uint32_t aggrL, uint16_t* pos);

// TS 38.211 7.3.2.3: c_init = (n_RNTI 2^16 + n_ID) mod 2^31 of the PDCCH scrambling; n_RNTI is the
// RNTI for UE-specific scrambling, 0 otherwise.
inline uint32_t nrPdcchScrCinit(uint32_t rnti, uint16_t nId, bool ueSpecific) {
  const uint64_t nRnti = ueSpecific ? rnti : 0;
  return static_cast<uint32_t>(((nRnti << 16) + nId) % (1ull << 31));
}

// TS 38.211 7.4.1.3.1: c_init of the PDCCH DMRS in symbol l of slot slotIdx, modulo 2^31.
uint32_t nrPdcchDmrsCinit(uint16_t slotIdx, uint32_t l, uint16_t nId);

// The DMRS bits of symbol l for the RBs firstRb .. firstRb + rbSpan - 1 (TS 38.211 7.4.1.3.2, the
// sequence counted from RB 0): 6 rbSpan bipolar values from position 6 firstRb, RB firstRb + q
// holding values 6q .. 6q + 5 (the I and Q bits of its three DMRS REs). Returns them (in
// gnrSeqBuf), or nullptr, with a diagnostic, when they lie beyond the Gold sequence.
const int8_t* nrPdcchDmrsSeq(uint16_t slotIdx, uint32_t l, uint16_t nId, uint32_t firstRb,
                             uint32_t rbSpan);
