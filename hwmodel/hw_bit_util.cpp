#include "hwmodel/hw_bit_util.h"

#include <cstdlib>

#include "config/console.h"

namespace {

constexpr uint32_t kPrintChunk = 1024;  // values formatted per console call
constexpr int kRand15Mask = 0x7FFF;     // the 15-bit generator output the probabilities refer to
constexpr float kRand15Max = 32767.0f;

}  // namespace

void nrHwBitsPrint(const int32_t* bits, uint32_t n) {
  char line[2 * kPrintChunk + 1];
  for (uint32_t i = 0; i < n; i += kPrintChunk) {
    const uint32_t m = n - i < kPrintChunk ? n - i : kPrintChunk;
    for (uint32_t k = 0; k < m; k++) {
      const int32_t b = bits[i + k];
      line[2 * k] = b == 0 ? '0' : b == 1 ? '1' : '?';
      line[2 * k + 1] = ' ';
    }
    line[2 * m] = '\0';
    nrPrintf("%s", line);
  }
  nrPrintf("\n");
}

void nrHwFloatsPrint(const float* values, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) nrPrintf("%f ", static_cast<double>(values[i]));
}

void nrHwRandBits(int32_t* bits, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) bits[i] = std::rand() & 1;
}

void nrHwRandBitsMasked(int32_t* bits, const int32_t* mask, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) bits[i] = mask[i] != 0 ? std::rand() & 1 : 0;
}

int64_t nrHwBitChannel(int32_t* bits, int32_t m, int32_t type, float p) {
  if ((type != kHwChanFlip && type != kHwChanErase) || m < 0 || m > kHwChanMaxLog2) {
    nrDiag("nrHwBitChannel(): type %d with 2^%d bits: no such channel, bits left as they are\n",
           type, m);
    return -1;
  }
  // The probabilities are on the scale of a 15-bit generator; glibc's rand() has 31 bits, of
  // which the low 15 give the same uniform draw.
  int64_t changed = 0;
  const uint32_t n = 1u << m;
  for (uint32_t i = 0; i < n; i++) {
    const float draw = static_cast<float>(std::rand() & kRand15Mask) / kRand15Max;
    if (draw >= p) continue;
    bits[i] = type == kHwChanFlip ? bits[i] ^ 1 : kHwBitErasure;
    changed++;
  }
  return changed;
}
