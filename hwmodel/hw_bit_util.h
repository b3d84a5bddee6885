// Bit-level utilities of the hardware-model test benches: printing bit and float arrays on the
// console, random bit patterns from the C library's generator, and a binary symmetric or erasure
// channel.
#pragma once

#include <cstdint>

constexpr int32_t kHwBitErasure = 2;    // the erasure channel's output for a lost bit
constexpr int32_t kHwChanFlip = 1;      // channel type: binary symmetric (bit flipped)
constexpr int32_t kHwChanErase = 2;     // channel type: binary erasure
constexpr int32_t kHwChanMaxLog2 = 24;  // at most 2^24 bits per channel call

// Prints the n bits as "1", "0" or "?" (any other value), each followed by " ", then "\n".
void nrHwBitsPrint(const int32_t* bits, uint32_t n);

// Prints the n values with "%f", each followed by " ".
void nrHwFloatsPrint(const float* values, uint32_t n);

// n random bits from the C library's generator (rand() AND 1).
void nrHwRandBits(int32_t* bits, uint32_t n);

// Random bits where mask[i] is non-zero, 0 elsewhere.
void nrHwRandBitsMasked(int32_t* bits, const int32_t* mask, uint32_t n);

// Passes the 2^m bits through a channel: kHwChanFlip flips each bit with probability p,
// kHwChanErase replaces it by kHwBitErasure with probability p; the draw is the generator's 15-bit
// value / 32767 as a float, taken when below p. Returns the number of bits changed, or -1
// (reported, bits untouched) for another type or m outside 0 .. kHwChanMaxLog2.
int64_t nrHwBitChannel(int32_t* bits, int32_t m, int32_t type, float p);
