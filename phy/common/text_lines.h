// Output files of the bench: decimal text lines for the waveform and diagnostic files ("%d\n",
// "%d,%d\n"), formatted into one buffer instead of one printf per value, and raw byte files.
// Every write, flush, cut and close is checked: a failure is reported on the error stream with
// the file and the reason, and a file that could not be written completely does not stay behind
// looking complete (a rewritten regular file is removed, an appended one cut back to its old end).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>

#include "phy/common/stage_profile.h"

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

// An output file being written.
struct OutFile {
  int fd = -1;
  const char* path = nullptr;
  bool append = false;
  bool regular = false;  // a regular file: cut to length, removed or cut back on failure
  off_t startSize = 0;   // length before an append
  bool failed = false;
};

// Opens path for rewriting in place (append = false; cut to length on close) or appending.
// Prints "Fail to open file: %s!\n" and the reason, and returns false, when it cannot be opened;
// a FIFO without a reader counts as such rather than blocking the writer.
bool outOpen(OutFile* f, const char* path, bool append);
// Writes n bytes; after a failure (reported once) later writes do nothing.
bool outWrite(OutFile* f, const char* data, std::size_t n);
// Flushes, cuts a rewritten regular file to length and closes; true when every step succeeded.
// On failure the partial output is removed (rewrite) or cut back (append).
bool outClose(OutFile* f);
char* textBuffer();
}  // namespace detail

// Writes count lines to path: line(i, p) formats line i at p (at most 48 bytes, line end
// included) and returns its end. append = false replaces the file's contents, true appends.
// Returns false when the file cannot be opened or written (reported as above).
template <typename Line>
bool nrWriteTextLines(const char* path, bool append, uint32_t count, Line line) {
  NrStageScope io(NrStage::kFileIo);
  detail::OutFile f;
  if (!detail::outOpen(&f, path, append)) return false;
  char* buf = detail::textBuffer();
  char* p = buf;
  for (uint32_t i = 0; i < count; i++) {
    if (static_cast<std::size_t>(p - buf) + detail::kTextLineMax > detail::kTextChunk) {
      if (!detail::outWrite(&f, buf, static_cast<std::size_t>(p - buf))) break;
      p = buf;
    }
    p = line(i, p);
  }
  detail::outWrite(&f, buf, static_cast<std::size_t>(p - buf));
  return detail::outClose(&f);
}

// Number of output files of this process whose writing failed so far: an action compares it
// before and after its stages to learn whether a dump or output of theirs was lost.
uint32_t nrOutFileFailures();

// Replaces the contents of path with the n bytes at data (append: adds them at its end), checked
// like the text files.
bool nrWriteFileBytes(const char* path, const void* data, std::size_t n, bool append = false);

// Removes path if it is a regular file (an output of an earlier run that must not be taken for
// this run's); true when no such file remains.
bool nrRemoveStaleFile(const char* path);
