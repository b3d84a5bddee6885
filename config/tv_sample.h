// Test-vector waveform acquisition: the four raw sample files of a test-vector directory into
// tvSample, and one slot at a time from tvSample into ueRxSample.
//
// File format: "/vuetxWavePort1Real.dat", "/vuetxWavePort1Imag.dat", "/vuetxWavePort2Real.dat",
// "/vuetxWavePort2Imag.dat" appended to the directory path, each a headerless sequence of signed
// 16-bit little-endian integers (size / 2 samples; an odd last byte is ignored), sample 0 being
// the first sample of slot 0, slots following without gaps.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

// The sample files, appended to the directory path: kTvSampleFileName[antenna][0 real, 1 imag].
extern const char* const kTvSampleFileName[2][2];

// Loads cpPatternTbl and reads the four sample files of dir into tvSample (antenna 1 real/imag
// to [0][0]/[0][1], antenna 2 to [1][0]/[1][1]). At most kTvSampleCap samples per file are kept
// (the rest is reported and dropped); the part of tvSample a file does not fill, or all of it
// when the file cannot be read, is zeroed so that an earlier directory's samples never pass for
// this one's. A file that cannot be opened is reported ("Fail to open file: %s!\n") and the next
// is read. Returns true when all four files were read.
bool nrUeGetFileData(const char* dir);

// The same four files into tvSample, announced as the library's data-file loader.
bool nrPhylibLoadDataFile(const char* dir);

// Whether the files read last hold the whole of slot `slot` (15 x fftSize samples from sample
// 15 x fftSize x slot) for every antenna below cell->antPortN, real and imaginary parts alike
// (tvSampleN). A slot they do not hold is not received: its samples would read as zero. Reports
// the first file that falls short, naming who asks.
bool nrTvSlotHeld(const char* who, uint16_t slot, const NrCellCfg* cell);

// Copies slot `slot` (15 x fftSize samples from sample 15 x fftSize x slot) of tvSample into
// ueRxSample for every antenna below cell->antPortN. Refused, with a diagnostic and nothing
// copied, when the FFT size is 0 or above 2048, the antenna count above 2, or the slot lies
// beyond the test-vector store.
bool nrCutTvSlot(uint16_t slot, const NrCellCfg* cell);
