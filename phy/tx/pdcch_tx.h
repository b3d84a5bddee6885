// PDCCH transmit chain: DCI payload, CRC and polar coding, scrambling, QPSK, REG mapping of the
// candidate and the CORESET DMRS on the resource grid of one slot (TS 38.211 7.3.2, 7.4.1.3;
// TS 38.212 7.3).
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Writes the PDCCHs of the slot config->slotIdx into grid (14 rows of 3360 Q10 values, element
// 12 RB + k, the layout of nbTxGrid; only the mapped elements are written): for every search space
// whose monSlot is the slot, every PDCCH entry gets the next PN9 payload (one PN9 sequence per
// call), the RNTI-masked CRC and polar code of nrDciEncode for E = 108 aggrL bits, the scrambling
// of TS 38.211 7.3.2.3 (n_ID = pci) and QPSK, and is mapped frequency first, then time, on the 9
// data subcarriers of the candidate's RBs (nrPdcchCandRbs) in the search space's startSymbol and
// the following symbols of its CORESET. The DMRS of the whole CORESET is written once per CORESET
// symbol and call (each call is a slot: dmrsFilled is cleared on entry and set once written). An
// entry whose CORESET is missing or malformed, whose aggregation level, payload size or symbols do
// not fit, or whose candidate lies outside its CORESET is skipped with a diagnostic; a
// configuration with rbMapUsed set sends nothing. Returns true when every entry was sent.
bool nrPdcchTx(NrNbConfig* config, int32_t (*grid)[kGridScCap]);

// TS 38.211 7.3.2.2: fills pdcch->rbN and rbIdx with the RBs of its candidate in coreset: the
// aggrL CCEs from CCE cceStart x span (span = 6 aggrL / duration) when interleaved, through the
// coreset's regBundleMap with bundles of Lreg REGs; the RB positions cceStart x span onwards when
// not. Returns false, with a diagnostic and rbN 0, when the candidate does not lie wholly inside
// the CORESET (or the CORESET's bundles cannot hold CCEs).
bool nrPdcchCandRbs(NrPdcchCfg* pdcch, const NrCoresetCfg* coreset);

// Bubble sort of n values in place: ascending when ascending is non-zero, else descending.
void nrSortU16(uint16_t* values, uint16_t n, uint8_t ascending);
