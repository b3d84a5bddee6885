// Decimal text lines for the waveform and diagnostic files ("%d\n", "%d,%d\n"), formatted into
// one buffer instead of one printf per value.
#pragma once

#include <cstdint>
#include <cstdio>

// Appends the decimal form of v at p (like "%d") and returns the end.
inline char* nrPutInt(char* p, int32_t v) {
  char digits[10];
  int n = 0;
  uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  do {
    digits[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  if (v < 0) *p++ = '-';
  while (n) *p++ = digits[--n];
  return p;
}

namespace detail {
constexpr std::size_t kTextChunk = 1 << 16;
constexpr std::size_t kTextLineMax = 48;
FILE* textOpen(const char* path, bool append);
void textClose(FILE* f, const char* path, bool append);
char* textBuffer();
}  // namespace detail

// Writes count lines to path: line(i, p) formats line i at p (at most 48 bytes, line end
// included) and returns its end. append = false replaces the file's contents, true appends.
// Prints "Fail to open file: %s!\n" and returns false when the file cannot be opened.
template <typename Line>
bool nrWriteTextLines(const char* path, bool append, uint32_t count, Line line) {
  FILE* f = detail::textOpen(path, append);
  if (!f) return false;
  char* buf = detail::textBuffer();
  char* p = buf;
  for (uint32_t i = 0; i < count; i++) {
    if (static_cast<std::size_t>(p - buf) + detail::kTextLineMax > detail::kTextChunk) {
      std::fwrite(buf, 1, static_cast<std::size_t>(p - buf), f);
      p = buf;
    }
    p = line(i, p);
  }
  std::fwrite(buf, 1, static_cast<std::size_t>(p - buf), f);
  detail::textClose(f, path, append);
  return true;
}
