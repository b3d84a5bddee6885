// Interface builders of the file-driven flows: gnrCchMwItf and gnrDchMwItf from the register
// arrays of the configuration files, the rate-matching map, and the per-slot sample and occupancy
// map preparation.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Control interface from sysRegData (search space and DCI 0; DCI 1 when sysRegData[38] is
// non-zero). Not one-shot, clears nothing. Refused (false, reported) for a search-space first
// symbol outside the slot.
bool nrCchmwInterfConf();

// Control interface from cchRegData; does nothing (true) while cchItfDone is 1. Refused (false,
// reported, record unchanged) for a search-space first symbol outside the slot.
bool nrUpdateCchMdwInterf();

// Results of nrUpdateDchMdwInterf.
constexpr uint8_t kDchItfRefused = 0;
constexpr uint8_t kDchItfBuilt = 1;
constexpr uint8_t kDchItfAlreadyBuilt = 2;

// Data interface from dchRegData and the rate-matching rows (builds the control interface first).
// Returns kDchItfAlreadyBuilt at once, printing nothing, while dchItfDone is 1. The BWP width of
// gnrUeConfig stays as configured. kDchItfRefused (reported, nothing changed) for PDSCH symbols or
// DMRS symbols outside the slot, a DMRS symbol count outside 1..4, a bad rate-matching row, or a
// refused control interface.
uint8_t nrUpdateDchMdwInterf();

// One rate-matching row into rmMap of gnrDchMwItf: for every RB first + i (i < count, i a
// multiple of period; RB indices relative to the PDSCH's first RB, as the front end reads rmMap)
// and every symbol whose bit is set in symbols: rmMap[symbol][RB] |= mask. Refused (false,
// reported, map unchanged) for period 0 or RBs past 279.
bool nrApplyRmRow(uint16_t first, uint16_t count, uint16_t period, uint16_t mask, uint16_t symbols);

// Data interface of PDSCH n (0 or 1) from sysRegData: RBs (also set for any n), symbols, DMRS,
// layers, RNTI, TBS. The BWP width scanned by the front end becomes the carrier width. Prints
// "not configed the second PDSCH \n" and returns false for n = 1 without a second PDSCH; false
// (reported) for n above 1 and for values outside the slot or the RB grid.
bool nrUeDchItfFromSys(uint8_t n);

// Copies the cell block of gnrUeConfig (nId 0) into gnrCchMwItf and slot `slot` of tvSample into
// ueRxSample. Returns 1, or 0 when the slot cannot be cut (see nrCutTvSlot).
uint8_t nrPhylibUpdateCchDataForSlot(uint16_t slot);

// Redundancy version of the file-driven flows' PDSCH per slot mod 4.
constexpr uint8_t rvIdxLoop[4] = {0, 0, 0, 0};

// Results of nrPhylibUpdateDchDataForSlot.
constexpr uint8_t kSlotDataAlreadyDone = 0;
constexpr uint8_t kSlotDataPrepared = 1;
constexpr uint8_t kSlotDataRefused = 2;

// Once until the records are cleared (dchSlotDone): the slot's samples into ueRxSample, the
// occupancy map of the slot into the cell block of gnrUeConfig, and that cell block into
// gnrDchMwItf; rvIdx 0.
uint8_t nrPhylibUpdateDchDataForSlot(uint16_t slot);

// Builds shared by the per-slot update, which announces them under its own names.
namespace mw_detail {
bool buildCchItf(const char* name);
uint8_t buildDchItf(const char* name);
}  // namespace mw_detail
