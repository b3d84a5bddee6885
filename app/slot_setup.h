// The slot the actions work on: the default generator's draw, another seed, or a slot file on
// top of the draw; and the description of the slot the transmitter sent.
#pragma once

#include <cstdint>

#include "config/slot_file.h"

// What the transmit chain makes of PDSCH entry i of cfg (modulation order, rate, TBS, code
// blocks, coded bits); returns why it cannot send the entry (or why the receiver could not take
// it), or nullptr.
const char* nrSlotDerive(const NrNbConfig* cfg, int i, NrSlotDerived* out);

// Before the actions: draws the slot with seed (the file's `seed` when no seed is given, else the
// generator's own) and applies the slot file at slotFile (nullptr: none). false, reported, when the
// file cannot be read or is refused: nothing has run yet.
bool nrSlotSetup(const char* slotFile, bool hasSeed, uint32_t seed);

// Writes the description of the slot in gnrNbConfig, as sent, to path (derived sizes, seed,
// waveform layout). false, reported, when it cannot be written.
bool nrSlotWriteFile(const char* path);

// The antenna ports of the slot (one waveform file pair each): 1 or 2.
int nrSlotAntennaPorts(const NrNbConfig* cfg);
