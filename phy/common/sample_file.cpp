#include "phy/common/sample_file.h"

#include <cstdio>

#include "config/console.h"
#include "config/nr_config.h"
#include "phy/common/text_lines.h"

namespace {

// Byte source over a file, read in large chunks (the reader scans every character).
struct ChunkReader {
  FILE* f;
  char buf[1 << 16];
  std::size_t pos = 0;
  std::size_t len = 0;

  int peek() {
    if (pos == len) {
      len = std::fread(buf, 1, sizeof(buf), f);
      pos = 0;
      if (len == 0) return EOF;
    }
    return static_cast<unsigned char>(buf[pos]);
  }
  void skip() { pos++; }
};

bool isSpace(int ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }
bool isDigit(int ch) { return ch >= '0' && ch <= '9'; }

void skipSpace(ChunkReader& in) {
  while (isSpace(in.peek())) in.skip();
}

// Scans one decimal integer like "%d" (leading white space, optional sign, digits). The value is
// kept modulo 2^32 so that any length of digits stays defined; callers keep the low 16 bits.
bool scanInt(ChunkReader& in, uint32_t* value) {
  skipSpace(in);
  int ch = in.peek();
  const bool negative = ch == '-';
  if (ch == '+' || ch == '-') {
    in.skip();
    ch = in.peek();
  }
  if (!isDigit(ch)) return false;
  uint32_t v = 0;
  while (isDigit(ch)) {
    v = v * 10u + static_cast<uint32_t>(ch - '0');
    in.skip();
    ch = in.peek();
  }
  *value = negative ? 0u - v : v;
  return true;
}

}  // namespace

void nrSampleFileWrite(const int32_t* samples, uint32_t count, const char* path,
                       uint8_t overwrite) {
  nrWriteTextLines(path, overwrite == 0, count, [samples](uint32_t i, char* p) {
    p = nrPutInt(p, nrCpxRe(samples[i]));
    *p++ = ',';
    p = nrPutInt(p, nrCpxIm(samples[i]));
    *p++ = '\n';
    return p;
  });
}

void nrSampleFileRead(int32_t* samples, uint32_t capacity, const char* path) {
  FILE* f = std::fopen(path, "r");
  if (!f) {
    nrPrintf("Fail to open file: %s!\n", path);
    return;
  }
  long size = 0;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  if (size < 0) size = 0;
  // A line holds at least four bytes ("0,0" and a line end).
  const uint64_t lines = static_cast<uint64_t>(size) / 4;
  const uint32_t n = lines < capacity ? static_cast<uint32_t>(lines) : capacity;

  static ChunkReader in;
  in.f = f;
  in.pos = in.len = 0;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t re = 0, im = 0;
    if (!scanInt(in, &re)) break;
    // What matched before a mismatch is stored; every later scan matches nothing.
    const int16_t oldIm = nrCpxIm(samples[i]);
    samples[i] = nrCpxPack(static_cast<int>(re & 0xFFFFu), oldIm);
    if (in.peek() != ',') break;
    in.skip();
    if (!scanInt(in, &im)) break;
    samples[i] = nrCpxPack(static_cast<int>(re & 0xFFFFu), static_cast<int>(im & 0xFFFFu));
    skipSpace(in);
  }
  std::fclose(f);
}
