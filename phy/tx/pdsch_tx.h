// PDSCH transmit chain: transport block -> coded, scrambled, modulated data and DMRS on the
// resource grid of one slot (TS 38.211 7.3.1, 7.4.1.1; TS 38.214 5.1.3).
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Resource-element layout of one PDSCH entry in its slot.
struct NrPdschLayout {
  uint16_t dchDmrsSym[kSymbolsPerSlot];  // 1 for each OFDM symbol that carries DMRS
  uint16_t dchDmrsSc[kScPerRb];          // 1 for each subcarrier of an RB that carries DMRS
  uint16_t startSym;                     // first and last PDSCH symbol
  uint16_t lastSym;
  uint16_t dchNoDataSc[kScPerRb];  // 1 for each subcarrier of a DMRS symbol without data
  uint16_t nDmrsSc;                // DMRS subcarriers per RB in a DMRS symbol
  uint16_t dmrsNoData;             // 1 when DMRS symbols carry no data at all
  uint16_t nRePerPrb;              // data resource elements per RB in the slot
};

// Why the chain cannot place this entry on the grid (an RB or a DMRS symbol outside it, a DMRS
// type other than 1 or 2, no PDSCH symbol, no layer), or nullptr when it can.
const char* nrPdschTxCheck(const NrPdschCfg* pdsch);

// DMRS pattern (TS 38.211 7.4.1.1.2, ports 1000 + list position), the subcarriers of DMRS
// symbols left without data (TS 38.214 5.1.6.2: the CDM groups without data) and the data
// resource elements per RB. Each DMRS symbol inside startSym..lastSym is counted once; DMRS
// symbols outside the allocation are transmitted but take no data room. The entry must pass
// nrPdschTxCheck.
void nrPdschLayout(const NrPdschCfg* pdsch, NrPdschLayout* layout);

// Builds every PDSCH entry of config into the grids (only the REs it maps) and records each
// entry's tbSize. Layer v (TS 38.211 7.3.1.3: codeword symbols v, v + L, ...) and the DMRS of its
// port dmrsPorts[v] go to the grid of antenna port v: buf for layer 0, buf1 for layer 1 (identity
// precoding); a layer without a grid is not sent. Skips everything when rbMapUsed or csiRsN is set;
// an entry that fails nrPdschTxCheck, or whose transport block needs more than 100 code blocks, is
// skipped with a console line and leaves grid and tbSize untouched. Returns false when an entry was
// skipped for a reason of its own (not for rbMapUsed / csiRsN, which skip by design).
bool nrPdschTx(NrNbConfig* config, NrNbTxBuf* buf, NrNbTxBuf* buf1 = nullptr);
