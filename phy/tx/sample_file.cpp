#include "phy/tx/sample_file.h"

#include <cctype>
#include <cstdio>

#include "config/nr_config.h"

namespace {

void skipSpace(FILE* f) {
  int ch;
  while ((ch = std::getc(f)) != EOF && std::isspace(ch)) {
  }
  if (ch != EOF) std::ungetc(ch, f);
}

// Scans one decimal integer like "%d" (leading white space, optional sign, digits). The value is
// kept modulo 2^32 so that any length of digits stays defined; callers keep the low 16 bits.
bool scanInt(FILE* f, uint32_t* value) {
  skipSpace(f);
  int ch = std::getc(f);
  bool negative = false;
  if (ch == '+' || ch == '-') {
    negative = ch == '-';
    ch = std::getc(f);
  }
  if (ch == EOF || !std::isdigit(ch)) {
    if (ch != EOF) std::ungetc(ch, f);
    return false;
  }
  uint32_t v = 0;
  while (ch != EOF && std::isdigit(ch)) {
    v = v * 10u + static_cast<uint32_t>(ch - '0');
    ch = std::getc(f);
  }
  if (ch != EOF) std::ungetc(ch, f);
  *value = negative ? 0u - v : v;
  return true;
}

}  // namespace

void nrSampleFileWrite(const int32_t* samples, uint32_t count, const char* path, uint8_t overwrite) {
  FILE* f = std::fopen(path, overwrite ? "w" : "a");
  if (!f) {
    std::printf("Fail to open file: %s!\n", path);
    return;
  }
  for (uint32_t i = 0; i < count; i++)
    std::fprintf(f, "%d,%d\n", nrCpxRe(samples[i]), nrCpxIm(samples[i]));
  std::fclose(f);
}

void nrSampleFileRead(int32_t* samples, uint32_t capacity, const char* path) {
  FILE* f = std::fopen(path, "r");
  if (!f) {
    std::printf("Fail to open file: %s!\n", path);
    return;
  }
  long size = 0;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  if (size < 0) size = 0;
  // A line holds at least four bytes ("0,0" and a line end).
  const uint64_t lines = static_cast<uint64_t>(size) / 4;
  const uint32_t n = lines < capacity ? static_cast<uint32_t>(lines) : capacity;

  for (uint32_t i = 0; i < n; i++) {
    uint32_t re = 0, im = 0;
    if (!scanInt(f, &re)) break;
    // What matched before a mismatch is stored; every later scan matches nothing.
    const int16_t oldIm = nrCpxIm(samples[i]);
    samples[i] = nrCpxPack(static_cast<int>(re & 0xFFFFu), oldIm);
    if (std::getc(f) != ',') break;
    if (!scanInt(f, &im)) break;
    samples[i] = nrCpxPack(static_cast<int>(re & 0xFFFFu), static_cast<int>(im & 0xFFFFu));
    skipSpace(f);
  }
  std::fclose(f);
}
