// Waveform sample files: "%d,%d\n" text lines of complex int16 samples (I, Q).
#pragma once

#include <cstdint>

// Writes count samples, one "%d,%d\n" line each; overwrite != 0 replaces the file, 0 appends.
void nrSampleFileWrite(const int32_t* samples, uint32_t count, const char* path, uint8_t overwrite);

// Reads at most capacity samples (and at most file size / 4 lines). Values keep their low 16 bits;
// at the first text that does not match "%d,%d" the remaining samples keep their contents.
void nrSampleFileRead(int32_t* samples, uint32_t capacity, const char* path);
