// Input files from other tools: paths of bounded length, opening that a FIFO, directory or
// device cannot block or fool, and a byte scanner for the decimal text formats ("%d" values
// separated by white space, line texts, commas).
#pragma once

#include <cstddef>
#include <cstdint>

// Longest full path the readers build (dir + file name), in characters; path buffers hold one
// more for the terminating NUL.
constexpr int kMaxPathLen = 255;
using NrPath = char[kMaxPathLen + 1];

// Formats a path into out like snprintf. A path longer than kMaxPathLen characters is refused:
// reported on the error stream, naming who built it and its length; out is then empty.
bool nrBuildPath(NrPath out, const char* who, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// An opened input file.
struct NrInputFile {
  int fd = -1;
  uint64_t size = 0;           // bytes, at the time of opening
  int err = 0;                 // errno of a failed open (0 when it opened but was refused)
  const char* kind = nullptr;  // "a directory", "a FIFO", ... when not a regular file
};

// Opens path for reading. The open does not wait (a FIFO without a writer cannot block), and
// anything but a regular file is refused. Returns true with f->fd and f->size set; false with
// f->err or f->kind telling why (nothing printed).
bool nrOpenInputFile(const char* path, NrInputFile* f);
// The reason of a refused nrOpenInputFile as text ("No such file or directory", "a FIFO").
const char* nrInputFileReason(const NrInputFile* f);
void nrCloseInputFile(NrInputFile* f);

// Byte source over an open file, read in chunks into a caller's buffer, counting line feeds.
struct NrTextIn {
  int fd = -1;
  char* buf = nullptr;
  std::size_t cap = 0;
  std::size_t pos = 0;
  std::size_t len = 0;
  uint64_t line = 1;     // line of the next byte, 1-based
  bool ioError = false;  // a read failed (reads then as the end of the file)

  int peek();  // next byte (0..255) or -1 at the end of the file
  void skip();
};

// Starts reading f with buf as the chunk buffer.
void nrTextInit(NrTextIn* in, int fd, char* buf, std::size_t cap);

// A decimal integer scanned like "%d": the value modulo 2^64 (so the low 16 or 32 bits are
// exact whatever the digit count) and whether it lies within int32 and within int16.
struct NrScannedInt {
  uint64_t wrapped;
  bool inInt32;
  bool inInt16;
  bool inU16OrI16;  // -32768 .. 65535: fits a 16-bit register read as signed or unsigned
};
enum class NrScan { kOk, kEnd, kBad };  // a number, only white space to the end, anything else

// Skips white space (line breaks included).
void nrSkipSpace(NrTextIn* in);
// Skips white space, then scans an optional sign and decimal digits. kBad leaves the reader at
// the first byte that is not part of a number (a sign without digits is consumed).
NrScan nrScanInt(NrTextIn* in, NrScannedInt* v);
// Reads the rest of the current line up to, not including, its line feed; keeps at most cap - 1
// bytes in text (NUL-terminated) and their count in *textLen. Returns false when the end of the
// file came before a line feed.
bool nrReadLineRest(NrTextIn* in, char* text, std::size_t cap, std::size_t* textLen);
