// The bench's actions: plain procedures run to completion on the caller's thread. Each returns
// true when it succeeded and false when it ran and failed (files, invalid data, a CRC failure);
// every reason is reported on the console as it happens.
#pragma once

#include <cstddef>
#include <cstdint>

// Generates the slot configuration (once per process), builds the PDSCH slot, OFDM-modulates it
// and writes "nrNbTxData.dat" (text) and "nrNbTxDataf.dat" (raw little-endian floats).
bool gNbTx();

// Reads "nrNbTxData.dat", sets the UE up from gnrNbConfig, receives the PDSCH and decodes it,
// reporting the CRC of every code block. Meaningful after gNbTx in the same process. Succeeds
// when the slot held valid data and every code block's CRC checks.
bool nrUeRx();

struct NrAction {
  const char* name;
  bool (*run)();
  const char* summary;  // one line for the list of actions
  const char* details;  // what the action reads, writes and prints
};

// The actions the console front end can run, in the order listed by --help.
extern const NrAction kNrActions[];
extern const std::size_t kNrActionN;

// The action called name, nullptr when there is none.
const NrAction* nrFindAction(const char* name);

// The hardware reference run behind `veltra hwRef`: the encoder accelerator model's full run
// (nrHwPdschRefRun) for the MCS index (table 2), layers, data REs per PRB and PRBs, writing its
// reference files to the working directory and ending its "TBS is N" line. Succeeds when the
// model accepts the request and every file is written.
bool hwRef(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb);

// A command of the console front end that takes options: its name, usage, one-line summary and
// what it reads, writes and prints.
struct NrCommandHelp {
  const char* name;
  const char* usage;
  const char* summary;
  const char* details;
};
extern const NrCommandHelp kNrHwRefHelp;
