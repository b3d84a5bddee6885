// Slot description files: a YAML file that states one downlink slot (carrier, BWP, cell, slot
// number, PDSCH entries with their DMRS) on top of the default slot generator's draw, and that the
// transmit action writes back with the derived sizes and the waveform's layout.
#pragma once

#include <cstdint>
#include <string>

#include "config/nr_config.h"

constexpr int kSlotFileMaxPdsch = 10;  // capacity of pdschCfg

// What the transmitter derived for one PDSCH entry, written under `derived` and checked on reading.
struct NrSlotDerived {
  uint32_t qm;
  float rateX1024;  // target code rate x 1024 of the MCS table
  uint32_t tbs;
  uint32_t codeBlocks;
  uint64_t codedBits;  // G
};

// The waveform's layout, written under `waveform` for readers of the sample files.
struct NrSlotWaveform {
  uint32_t sampleRate;  // samples per second
  uint32_t samplesPerSlot;
  uint32_t antennaPorts;
};

// Derives what the transmitter would send for PDSCH entry i of cfg; returns why it cannot send
// the entry, or nullptr.
using NrSlotDeriveFn = const char* (*)(const NrNbConfig* cfg, int i, NrSlotDerived* out);

// Applies the fields the file states to *cfg; the rest keep their values (the generator's draw).
// Everything is checked before *cfg changes: an unknown key, a wrong type or a value out of range
// (an RB beyond the BWP, an MCS above the table, a DMRS symbol outside the allocation, more layers
// than ports or antenna ports, an entry derive refuses, derived values that differ from derive's)
// gives false and one diagnostic "NAME:LINE:COLUMN: key: what was expected", and *cfg is
// untouched. derive may be nullptr (no check of the entries' sizes).
bool nrSlotFileParse(const std::string& text, const char* name, NrNbConfig* cfg,
                     NrSlotDeriveFn derive);

// Reads the slot file at path (a regular file of at most 1 MiB); reported, false, otherwise.
bool nrSlotFileRead(const char* path, std::string* text);

// The generator seed the text states (its top-level `seed`); false when it states none or the
// text is no YAML mapping (nrSlotFileParse reports those).
bool nrSlotFileSeed(const std::string& text, uint32_t* seed);

// The YAML text describing the slot of cfg (every field the file can state, commented), the
// derived values of its pdschN entries, the generator seed and the waveform layout.
std::string nrSlotFileText(const NrNbConfig* cfg, const NrSlotDerived* derived, uint32_t seed,
                           const NrSlotWaveform* waveform);
