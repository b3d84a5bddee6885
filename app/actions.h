// The bench's actions: plain procedures run to completion on the caller's thread.
#pragma once

#include <cstddef>

// Generates the slot configuration (once per process), builds the PDSCH slot, OFDM-modulates it
// and writes "nrNbTxData.dat" (text) and "nrNbTxDataf.dat" (raw little-endian floats).
void gNbTx();

// Reads "nrNbTxData.dat", sets the UE up from gnrNbConfig, receives the PDSCH and decodes it,
// reporting the CRC of every code block. Meaningful after gNbTx in the same process.
void nrUeRx();

struct NrAction {
  const char* name;
  void (*run)();
  const char* help;
};

// The actions the console front end can run, in the order listed by --help.
extern const NrAction kNrActions[];
extern const std::size_t kNrActionN;
