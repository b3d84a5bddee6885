// Waveform sample files: "%d,%d\n" text lines of complex int16 samples (I, Q).
#pragma once

#include <cstdint>

// Writes count samples, one "%d,%d\n" line each; overwrite != 0 replaces the file, 0 appends.
// Returns false when the file cannot be opened or written (reported; see nrWriteTextLines).
bool nrSampleFileWrite(const int32_t* samples, uint32_t count, const char* path, uint8_t overwrite);

// Reads at most capacity samples (and at most file size / 4 lines). Values keep their low 16 bits;
// at the first text that does not match "%d,%d" the remaining samples keep their contents.
// Returns the number of samples read completely, or -1 when the file cannot be opened or is not a
// regular file (a FIFO, directory or device is refused without blocking). On the error stream it
// reports the first malformed line (number and content) with the number of samples read, and once
// per file a value outside int16.
int64_t nrSampleFileRead(int32_t* samples, uint32_t capacity, const char* path);
