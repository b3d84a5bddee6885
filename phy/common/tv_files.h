// Writers of the files of a test-vector directory, in the formats their readers take
// (config/config_files.h: register files, RB-group bitmaps and rate-matching rows;
// config/tv_sample.h: the four raw sample files). Every file is written with
// phy/common/text_lines.h: each write checked and reported, no partial file left behind.
#pragma once

#include <cstdint>

// Longest title line and parameter name a register file carries (a line of a text file holds at
// most 48 bytes: value, blank, name and line break); longer ones are cut.
constexpr int kRegTitleCap = 46;
constexpr int kRegNameCap = 34;

// One line of a register file: the value and the parameter's name written after it.
struct NrRegLine {
  int32_t value;
  const char* name;
};

// Writes a register file: the title line, then one "<value> <name>" line per register, every line
// ending in a line break. The reader stores n + 1 registers from it (the last value twice, as it
// does for every file that ends in a line break). false, reported, when it cannot be written.
bool nrWriteRegFile(const char* path, const char* title, const NrRegLine* regs, uint32_t n);

// Writes n "%d," items on one line and a line break (RB-group bitmaps, rate-matching rows).
bool nrWriteCommaFile(const char* path, const int32_t* values, uint32_t n);

// Writes the four sample files of dir (kTvSampleFileName of config/tv_sample.h), parts[antenna]
// [0 real, 1 imaginary] of n samples each, raw signed 16-bit little-endian with no header. false,
// reported, when a path is too long or a file cannot be written (the files written before it stay).
bool nrWriteTvSampleFiles(const char* dir, const int16_t* const parts[2][2], uint32_t n);
