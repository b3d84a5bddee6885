// File-driven test flows: the gNB-side configuration check and the UE-side receive loop over the
// slots of a test-vector directory (configuration files and four sample files), and the single
// configuration steps a host can call. Everything runs on the process-wide records.
//
// Slots of the UE flow: each slot is configured from its own section files. PDCCH blind
// detection (and the PDSCH front end and decoder after it) end a slot's configuration, so the
// first section read of the next slot clears the UE records and the data interface, the slot's
// samples and its soft bits are built again from that slot's files: slot 4 is received from the
// "com2", "cch2", "dch2" sections and its own samples, not from slot 2's.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// Directories of the two mains when the host names none.
constexpr char kGnbTestDefaultDir[] = "V:/Corvane";
constexpr char kUeTestDefaultDir[] = "Y:/Connect/TestVector/case4_10";
constexpr int kTestFilePathCap = 100;  // gFilePath: a directory of up to 99 characters

// nrGnbTestMain's key code when standard input is not a terminal (no key is waited for).
constexpr int kNrNoKey = -1;

// Prints "===>>gNB test Main  \n", runs the default slot configuration generator, reads the
// sections "com1", "cch1", "dch1" of dir (kGnbTestDefaultDir when nullptr), updates the
// configuration for slot 0, prints the PDSCH's DMRS positions where it names them and computes
// its TBS. Then, only when standard input is a terminal, waits for one key press (no echo).
// Returns the key's code (kNrNoKey without a terminal or at its end of file); *ok (may be
// nullptr) tells whether the slot was configured (sections read, update accepted).
int nrGnbTestMain(const char* dir = nullptr, bool* ok = nullptr);

// The outcome of one slot of nrUeTestMain.
struct NrUeSlotOutcome {
  uint16_t slot;
  bool configured;     // sections read and the per-slot update accepted
  bool samplesHeld;    // the sample files hold the whole slot
  uint8_t dciN;        // DCIs detected
  bool pdcchExpected;  // the dch section says the slot carries a PDCCH
  uint8_t valid;       // the PDSCH front end's verdict
  uint8_t decoded;     // every code block's CRC checked
  bool ok;             // decoded, and a DCI found where one is expected
};
struct NrUeTestReport {
  int slotsProcessed;
  NrUeSlotOutcome slot[2];
  bool allOk;  // every slot ok
};

// For slots 2 and 4 of dir (kUeTestDefaultDir when nullptr): loads the sample files, reads the
// sections ending in 1 (slot 2) or 2 (slot 4), updates the configuration, detects the PDCCH,
// receives the PDSCH (the front end runs once per slot) and decodes it, printing "the PDSCH decode
// finished\n" after a decode or "the PDSCH decode: invalid data, cannot do dec \n" when the slot
// gives no valid data (its configuration refused, its samples missing from the files, or the
// front end's verdict). Returns the number of slots processed (2); report (may be nullptr) tells
// per slot what happened and whether every slot decoded.
int nrUeTestMain(const char* dir = nullptr, NrUeTestReport* report = nullptr);

// The steps below work on whatever earlier calls left in the records; they need the cell block
// (FFT size, antennas, cyclic prefixes) that the per-slot update (updateSystemConfiguration)
// fills, and refuse, reported, to cut a slot without it.

// Prints "=== genCChConfiguration() started ===\n"; system initialisation from dir, the sample
// files of dir, the control interface from the main file (cell block with n_ID 0), and slot
// `slot` copied into ueRxSample for every receive antenna; prints "=== genCChConfiguration()
// exited ===\n". Returns 1, or 0 (reported) when a step is refused.
uint8_t genCChConfiguration(const char* dir, int16_t slot);

// genDChConfiguration's result when a step is refused (every slot's own result, slot mod 4, is
// 0 .. 3).
constexpr int32_t kGenDchRefused = -1;

// The steps of genCChConfiguration without its lines, then the data interface of PDSCH n from the
// main file ("not configed the second PDSCH \n" and kGenDchRefused for n = 1 without one, before
// any sample is touched), the slot's samples, the occupancy map of the main file's search space
// and the cell block into gnrDchMwItf, rvIdx 0. Returns slot mod 4, or kGenDchRefused.
int32_t genDChConfiguration(const char* dir, uint16_t slot, uint8_t n);

// As genDChConfiguration with the receive map (the CORESET's RBs always control, the control
// RB list too for a listed symbol), rvIdx from the main file; then the PDSCH front end and the
// effective code rate. Returns the front end's verdict (1 valid soft bits in ueLlrBuf), 0 also
// when a step is refused.
uint8_t genDChRxConfiguration(const char* dir, uint16_t slot, uint8_t n);

// The sample files of dir, then slot `slot` into ueRxSample for every receive antenna. Returns 1,
// or 0 (reported) when the slot cannot be cut or the files do not hold it.
uint8_t genSlotRxData(const char* dir, uint16_t slot);

// Prints the PDSCH's DMRS positions when it names them explicitly (nrGetDmrsPos). Returns false
// when the DMRS symbols do not fit the slot.
bool nrPrintDmrsPos(uint16_t slot, const NrUeConfig* ueConfig, const NrDchMwItf* dchItf);

// `veltra nrUeTestMain [DIR]` and `veltra nrGnbTestMain [DIR]` (argv[0] names the main): exit
// code 0 every slot decoded (nrUeTestMain) or the slot was configured (nrGnbTestMain), 1 not,
// 2 usage.
int nrTestMainCommand(int argc, char** argv);
