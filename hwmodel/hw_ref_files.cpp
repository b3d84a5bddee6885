#include "hwmodel/hw_ref_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "config/console.h"
#include "phy/common/text_lines.h"

uint32_t headInfo[kHwHeadInfoWords];

namespace {

constexpr int kLineMax = static_cast<int>(detail::kTextLineMax);  // bytes of one written line
constexpr int kPrefixMax = 8;           // address prefix of a headed word line
constexpr int kMaxConv = 2;             // values of one caller-formatted line
constexpr std::size_t kFmtMax = 64;     // characters of a caller format
constexpr int kConvMaxLen = 13;         // widest rendering of a 32-bit value ("%#o")
constexpr int kHeadTags = 4;            // header lines tags 1 .. 4
constexpr std::size_t kTextMax = 1024;  // characters of a register-table text
constexpr int32_t kSymbols = 14;        // OFDM symbols of a slot
constexpr int32_t kMaxStreams = 3;
constexpr uint32_t kSymCountMask = 0xFFF;  // 12-bit word counts of the symbol dump
constexpr int kWideWords = kHwRefWideMaxBits / 32;
constexpr int kWideWordsPerCall = 4;  // a wide line is written in three parts of 4 words

// ---- Caller formats ------------------------------------------------------------------------

// A validated caller format cut into one segment per conversion (literal text, the conversion,
// and for the last one the text behind it), so that each value is rendered with its own type.
struct Fmt {
  int conv = 0;
  bool sgn[kMaxConv] = {};
  char seg[kMaxConv][kFmtMax] = {};
};

bool badFmt(const char* who, const char* fmt, const char* why) {
  // The format as C source would spell it, on one line.
  char shown[2 * kFmtMax + 1] = "(null)";
  if (fmt) {
    std::size_t n = 0;
    for (const char* c = fmt; *c && n + 2 < sizeof(shown); c++) {
      const unsigned char ch = static_cast<unsigned char>(*c);
      if (ch == '\n' || ch == '\t') {
        shown[n++] = '\\';
        shown[n++] = ch == '\n' ? 'n' : 't';
      } else {
        shown[n++] = ch < 0x20 || ch == 0x7F ? '?' : static_cast<char>(ch);
      }
    }
    shown[n] = '\0';
  }
  nrDiag("%s(): format \"%s\" %s, nothing written!\n", who, shown, why);
  return false;
}

bool isDigit(int ch) { return ch >= '0' && ch <= '9'; }

bool parseFmt(const char* who, const char* fmt, int wantConv, int maxLen, Fmt* f) {
  if (!fmt) return badFmt(who, fmt, "is missing");
  const std::size_t len = std::strlen(fmt);
  if (len >= kFmtMax) return badFmt(who, fmt, "is too long");
  int total = 0;
  std::size_t start[kMaxConv] = {};
  int conv = 0;
  for (std::size_t i = 0; i < len;) {
    if (fmt[i] != '%') {
      total++;
      i++;
      continue;
    }
    if (fmt[i + 1] == '%') {
      total++;
      i += 2;
      continue;
    }
    if (conv == wantConv) return badFmt(who, fmt, "holds more conversions than values");
    start[conv] = i++;
    while (fmt[i] && std::strchr("-+ #0", fmt[i])) i++;
    int width = 0, prec = 0, digits = 0;
    for (; isDigit(fmt[i]); i++, digits++) width = width * 10 + (fmt[i] - '0');
    if (digits > 2) return badFmt(who, fmt, "has a width beyond two digits");
    if (fmt[i] == '.') {
      i++;
      for (digits = 0; isDigit(fmt[i]); i++, digits++) prec = prec * 10 + (fmt[i] - '0');
      if (digits > 2) return badFmt(who, fmt, "has a precision beyond two digits");
    }
    if (!fmt[i] || !std::strchr("diuxXo", fmt[i]))
      return badFmt(who, fmt, "holds a conversion other than %d %i %u %x %X %o");
    f->sgn[conv] = fmt[i] == 'd' || fmt[i] == 'i';
    int widest = width > prec + 2 ? width : prec + 2;
    if (widest < kConvMaxLen) widest = kConvMaxLen;
    total += widest;
    conv++;
    i++;
  }
  if (conv != wantConv) return badFmt(who, fmt, "holds fewer conversions than values");
  if (total > maxLen) return badFmt(who, fmt, "can print a line longer than 48 characters");
  f->conv = conv;
  for (int c = 0; c < conv; c++) {
    const std::size_t from = c == 0 ? 0 : start[c];
    const std::size_t to = c + 1 < conv ? start[c + 1] : len;
    std::memcpy(f->seg[c], fmt + from, to - from);
    f->seg[c][to - from] = '\0';
  }
  return true;
}

// Renders the values with a validated format at p (at most the format's checked length).
char* render(const Fmt& f, const uint32_t* v, char* p) {
  for (int c = 0; c < f.conv; c++) {
    char tmp[kFmtMax + kLineMax];
    const int n = f.sgn[c] ? std::snprintf(tmp, sizeof(tmp), f.seg[c], static_cast<int32_t>(v[c]))
                           : std::snprintf(tmp, sizeof(tmp), f.seg[c], v[c]);
    if (n > 0) {
      const std::size_t m = static_cast<std::size_t>(n) < sizeof(tmp) ? n : sizeof(tmp) - 1;
      std::memcpy(p, tmp, m);
      p += m;
    }
  }
  return p;
}

// ---- Fixed line shapes ---------------------------------------------------------------------

char* putHex(char* p, uint64_t v, int digits) {
  static const char kHex[] = "0123456789abcdef";
  for (int d = digits - 1; d >= 0; d--) *p++ = kHex[(v >> (4 * d)) & 0xF];
  return p;
}

// "%0Nx": at least minDigits digits.
char* putHexMin(char* p, uint32_t v, int minDigits) {
  int digits = 1;
  while (digits < 8 && (v >> (4 * digits)) != 0) digits++;
  return putHex(p, v, digits > minDigits ? digits : minDigits);
}

// "%01x %08x \n"
char* putTagLine(char* p, uint32_t tag, uint32_t value) {
  p = putHex(p, tag, 1);
  *p++ = ' ';
  p = putHex(p, value, 8);
  *p++ = ' ';
  *p++ = '\n';
  return p;
}

// "%01x %08x \n\n" with f and ffffffff.
char* putEndLine(char* p) {
  p = putTagLine(p, kHwRefEndTag, kHwRefEndWord);
  *p++ = '\n';
  return p;
}

// "%08x %08x \n"
char* putPairLine(char* p, uint32_t a, uint32_t b) {
  p = putHex(p, a, 8);
  *p++ = ' ';
  p = putHex(p, b, 8);
  *p++ = ' ';
  *p++ = '\n';
  return p;
}

// Elements first .. first+count-1 of bits (lowest bit each, 0 at and beyond n) as a word, bit k =
// element first + k.
uint64_t packBits(const int32_t* bits, uint64_t n, uint64_t first, int count) {
  uint64_t w = 0;
  for (int k = 0; k < count && first + k < n; k++)
    w |= static_cast<uint64_t>(bits[first + k] & 1) << k;
  return w;
}

// "0 %08x%08x \n": the 64-bit data line of elements 64 l .. 64 l + 63.
char* putDataLine(char* p, const int32_t* bits, uint64_t n, uint64_t l) {
  const uint64_t w = packBits(bits, n, 64 * l, 64);
  *p++ = '0';
  *p++ = ' ';
  p = putHex(p, w >> 32, 8);
  p = putHex(p, w & 0xFFFFFFFFu, 8);
  *p++ = ' ';
  *p++ = '\n';
  return p;
}

uint32_t ceilDiv(uint64_t a, uint64_t b) { return static_cast<uint32_t>((a + b - 1) / b); }

bool refuse(const char* who, const char* what, long long value, const char* why) {
  nrDiag("%s(): %s = %lld %s, nothing written!\n", who, what, value, why);
  return false;
}

// Lines that one writer call may produce: the count of nrWriteTextLines is 32-bit.
bool fitsLines(const char* who, uint64_t lines) {
  return lines <= UINT32_MAX ||
         refuse(who, "lines", static_cast<long long>(lines), "exceed one file write");
}

// ---- Reading -------------------------------------------------------------------------------

// A reference file being read, in large chunks, with the file offset of every character.
struct RefIn {
  int fd = -1;
  const char* path = nullptr;
  const char* who = nullptr;
  int64_t base = 0;  // file offset of buf[0]
  std::size_t pos = 0;
  std::size_t len = 0;
  bool ioError = false;
  char buf[1 << 16];

  int peek() {
    if (pos == len) {
      base += static_cast<int64_t>(len);
      pos = len = 0;
      ssize_t n;
      do n = read(fd, buf, sizeof(buf));
      while (n < 0 && errno == EINTR);
      if (n < 0) ioError = true;
      if (n <= 0) return EOF;
      len = static_cast<std::size_t>(n);
    }
    return static_cast<unsigned char>(buf[pos]);
  }
  void skip() { pos++; }
  int64_t offset() const { return base + static_cast<int64_t>(pos); }
};

RefIn gIn;

const char* fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  return "not a regular file";
}

void closeIn() {
  if (gIn.fd >= 0) close(gIn.fd);
  gIn.fd = -1;
}

// Opens path at byte offset: regular files up to kHwRefFileMaxBytes only, without waiting on a
// FIFO.
bool openIn(const char* who, const char* path, int64_t offset) {
  gIn.fd = -1;
  gIn.path = path;
  gIn.who = who;
  gIn.base = offset;
  gIn.pos = gIn.len = 0;
  gIn.ioError = false;
  if (!path) {
    nrDiag("%s(): no file name given, nothing read\n", who);
    return false;
  }
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    nrPrintf("Fail to open file: %s!\n", path);
    if (fd < 0)
      nrDiag("%s: cannot open for reading: %s\n", path, std::strerror(err));
    else
      nrDiag("%s: %s, not a reference file: not read\n", path, fileKind(st.st_mode));
    if (fd >= 0) close(fd);
    return false;
  }
  if (st.st_size > kHwRefFileMaxBytes) {
    nrDiag("%s: %lld bytes, more than the %lld bytes of a reference file: not read\n", path,
           static_cast<long long>(st.st_size), static_cast<long long>(kHwRefFileMaxBytes));
    close(fd);
    return false;
  }
  if (offset < 0 || offset > st.st_size || lseek(fd, offset, SEEK_SET) != offset) {
    nrDiag("%s: offset %lld lies outside the file of %lld bytes: not read\n", path,
           static_cast<long long>(offset), static_cast<long long>(st.st_size));
    close(fd);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  gIn.fd = fd;
  return true;
}

// Moves the reader to byte offset of the open file.
bool seekIn(int64_t offset) {
  if (lseek(gIn.fd, offset, SEEK_SET) != offset) return false;
  gIn.base = offset;
  gIn.pos = gIn.len = 0;
  return true;
}

bool isSpace(int ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }

int hexVal(int ch) {
  if (ch >= '0' && ch <= '9') return ch - '0';
  if (ch >= 'a' && ch <= 'f') return ch - 'a' + 10;
  if (ch >= 'A' && ch <= 'F') return ch - 'A' + 10;
  return -1;
}

void skipSpace() {
  while (isSpace(gIn.peek())) gIn.skip();
}

enum class Tok { kOk, kEnd, kBad };  // a value, the end of the file, anything else

// One "%x" value of at most maxDigits significant digits, ending at white space or the file end.
Tok hexTok(int maxDigits, uint64_t* v) {
  skipSpace();
  int ch = gIn.peek();
  if (ch == EOF) return Tok::kEnd;
  if (hexVal(ch) < 0) return Tok::kBad;
  uint64_t x = 0;
  int sig = 0;
  for (int d = hexVal(ch); d >= 0; d = hexVal(ch)) {
    if (sig > 0 || d != 0) sig++;
    if (sig > maxDigits) return Tok::kBad;
    x = x << 4 | static_cast<uint64_t>(d);
    gIn.skip();
    ch = gIn.peek();
  }
  if (ch != EOF && !isSpace(ch)) return Tok::kBad;
  *v = x;
  return Tok::kOk;
}

// Reports why reading stopped at the current offset and closes the file; returns -1.
int64_t fault(Tok t, const char* what, uint64_t done, uint64_t wanted) {
  if (gIn.ioError)
    nrDiag("%s: read failed at byte %lld: %s\n", gIn.path, static_cast<long long>(gIn.offset()),
           std::strerror(errno));
  else if (t == Tok::kEnd)
    nrDiag("%s: the file ends after %llu of %llu %s (truncated)\n", gIn.path,
           static_cast<unsigned long long>(done), static_cast<unsigned long long>(wanted), what);
  else
    nrDiag("%s: malformed text at byte %lld after %llu of %llu %s\n", gIn.path,
           static_cast<long long>(gIn.offset()), static_cast<unsigned long long>(done),
           static_cast<unsigned long long>(wanted), what);
  closeIn();
  return -1;
}

// A "%x %x" pair of 32-bit values; a pair cut after its first value counts as the file's end.
Tok pairTok(uint32_t* a, uint32_t* b) {
  uint64_t x = 0, y = 0;
  Tok t = hexTok(8, &x);
  if (t != Tok::kOk) return t;
  t = hexTok(8, &y);
  if (t != Tok::kOk) return t;
  *a = static_cast<uint32_t>(x);
  *b = static_cast<uint32_t>(y);
  return Tok::kOk;
}

// A tagged line: a tag digit and a 32-bit value, or a 64-bit value after tag 0.
Tok tagTok(uint32_t* tag, uint64_t* v) {
  uint64_t t = 0;
  Tok k = hexTok(1, &t);
  if (k != Tok::kOk) return k;
  *tag = static_cast<uint32_t>(t);
  return hexTok(t == 0 ? 16 : 8, v);
}

bool isEndPair(uint32_t a, uint32_t b) { return a == kHwRefEndWord && b == kHwRefEndWord; }

}  // namespace

// ---- Writers -------------------------------------------------------------------------------

bool nrHwRefValuesWrite(const char* path, bool append, const int32_t* values, uint32_t n,
                        const char* fmt) {
  static const char* const kWho = "nrHwRefValuesWrite";
  // The reference files' own formats take the fast path.
  if (fmt && (std::strcmp(fmt, "%d \n") == 0 || std::strcmp(fmt, "%d\n") == 0)) {
    const bool blank = fmt[2] == ' ';
    return nrWriteTextLines(path, append, n, [&](uint32_t i, char* p) {
      p = nrPutInt(p, values[i]);
      if (blank) *p++ = ' ';
      *p++ = '\n';
      return p;
    });
  }
  Fmt f;
  if (!parseFmt(kWho, fmt, 1, kLineMax, &f)) return false;
  return nrWriteTextLines(path, append, n, [&](uint32_t i, char* p) {
    const uint32_t v = static_cast<uint32_t>(values[i]);
    return render(f, &v, p);
  });
}

bool nrHwRefPackedWrite(const char* path, bool append, const int32_t* bits, uint32_t n,
                        int32_t perWord, const char* fmt) {
  static const char* const kWho = "nrHwRefPackedWrite";
  if (perWord < 1 || perWord > 32) return refuse(kWho, "perWord", perWord, "is outside 1 .. 32");
  Fmt f;
  if (!parseFmt(kWho, fmt, 1, kLineMax, &f)) return false;
  return nrWriteTextLines(path, append, ceilDiv(n, perWord), [&](uint32_t i, char* p) {
    const uint32_t w = static_cast<uint32_t>(packBits(bits, n, uint64_t{i} * perWord, perWord));
    return render(f, &w, p);
  });
}

bool nrHwRefTaggedBitsWrite(const char* path, bool append, const int32_t* bits, uint32_t n,
                            uint32_t value3) {
  const uint32_t lines = ceilDiv(n, 64);
  const uint32_t head[kHeadTags] = {0, n, value3, 0};
  static constexpr uint32_t kTags[kHeadTags] = {1, 2, 3, 0xA};
  return nrWriteTextLines(path, append, lines + kHeadTags + 2, [&](uint32_t i, char* p) {
    if (i < kHeadTags) return putTagLine(p, kTags[i], head[i]);
    if (i < kHeadTags + lines) return putDataLine(p, bits, n, i - kHeadTags);
    if (i == kHeadTags + lines) return putEndLine(p);
    *p++ = '\n';
    return p;
  });
}

bool nrHwRefHeadedWordsWrite(const char* path, bool append, const int32_t* bits, uint32_t n,
                             int32_t wordBits, int64_t startAddr, const char* fmt) {
  static const char* const kWho = "nrHwRefHeadedWordsWrite";
  if (wordBits < 1 || wordBits > 32)
    return refuse(kWho, "wordBits", wordBits, "is outside 1 .. 32");
  if (startAddr > static_cast<int64_t>(UINT32_MAX))
    return refuse(kWho, "startAddr", startAddr, "exceeds 32 bits");
  Fmt f;
  if (!parseFmt(kWho, fmt, 1, kLineMax - kPrefixMax, &f)) return false;
  const uint32_t words = ceilDiv(n, wordBits);
  const uint32_t head = startAddr < 0 ? kHeadTags : 0;
  if (!fitsLines(kWho, uint64_t{words} + head + 1)) return false;
  return nrWriteTextLines(path, append, words + head + 1, [&](uint32_t i, char* p) {
    if (i < head) return putTagLine(p, i + 1, headInfo[i]);
    if (i == words + head) return putEndLine(p);
    const uint32_t k = i - head;
    if (startAddr < 0) {
      *p++ = '0';
      *p++ = ' ';
    } else {
      p = putHexMin(p, static_cast<uint32_t>(startAddr + k), 4);
    }
    const uint32_t w = static_cast<uint32_t>(packBits(bits, n, uint64_t{k} * wordBits, wordBits));
    return render(f, &w, p);
  });
}

bool nrHwRefHeaded64Write(const char* path, bool append, const int32_t* bits, uint32_t n) {
  const uint32_t lines = ceilDiv(n, 64);
  return nrWriteTextLines(path, append, lines + kHeadTags + 1, [&](uint32_t i, char* p) {
    if (i < kHeadTags) return putTagLine(p, i + 1, headInfo[i]);
    if (i < kHeadTags + lines) return putDataLine(p, bits, n, i - kHeadTags);
    return putEndLine(p);
  });
}

bool nrHwRefAddrBlockWrite(const char* path, bool append, const uint32_t* values, uint32_t n,
                           uint32_t startIndex, uint32_t head1, uint32_t head2) {
  const uint32_t head = append ? 0 : 2;
  if (!fitsLines("nrHwRefAddrBlockWrite", uint64_t{n} + head + 1)) return false;
  return nrWriteTextLines(path, append, n + head + 1, [&](uint32_t i, char* p) {
    if (i < head)
      return putPairLine(p, i == 0 ? kHwRefAddrHead1 : kHwRefAddrHead2, i == 0 ? head1 : head2);
    if (i == n + head) {
      p = putPairLine(p, kHwRefEndWord, kHwRefEndWord);
      *p++ = '\n';
      return p;
    }
    // Word addresses: 4 bytes per value, modulo the 32-bit address space.
    const uint32_t k = i - head;
    return putPairLine(p, kHwRefAddrBase + 4u * (startIndex + k), values[k]);
  });
}

bool nrHwRefAddrListWrite(const char* path, bool append, const uint32_t* values, uint32_t n,
                          uint32_t startAddr, const char* fmt) {
  static const char* const kWho = "nrHwRefAddrListWrite";
  Fmt f;
  if (!parseFmt(kWho, fmt, 2, kLineMax, &f)) return false;
  if (!fitsLines(kWho, uint64_t{n} + 4)) return false;
  return nrWriteTextLines(path, append, n + 4, [&](uint32_t i, char* p) {
    uint32_t v[2];
    if (i < 2) {
      v[0] = i == 0 ? kHwRefAddrHead1 : kHwRefAddrHead2;
      v[1] = 0;
    } else if (i < n + 2) {
      v[0] = startAddr + 4u * (i - 2);
      v[1] = values[i - 2];
    } else if (i == n + 2) {
      v[0] = v[1] = kHwRefEndWord;
    } else {
      *p++ = '\n';
      return p;
    }
    return render(f, v, p);
  });
}

bool nrHwRefWideWrite(const char* path, bool append, const int32_t* bits, uint32_t n,
                      int32_t groupBits) {
  static const char* const kWho = "nrHwRefWideWrite";
  if (groupBits < 1 || groupBits > kHwRefWideMaxBits)
    return refuse(kWho, "groupBits", groupBits, "is outside 1 .. 384");
  const uint32_t groups = ceilDiv(n, groupBits);
  constexpr int kParts = kWideWords / kWideWordsPerCall;
  if (!fitsLines(kWho, uint64_t{groups} * kParts)) return false;
  return nrWriteTextLines(path, append, groups * kParts, [&](uint32_t i, char* p) {
    const uint32_t g = i / kParts;
    const int part = static_cast<int>(i % kParts);
    const uint64_t first = uint64_t{g} * groupBits;
    // Words 11 .. 8 in the first part, 7 .. 4 in the second, 3 .. 0 in the last.
    for (int w = kWideWords - 1 - part * kWideWordsPerCall;
         w >= kWideWords - (part + 1) * kWideWordsPerCall; w--) {
      const int from = 32 * w;
      const int count = groupBits - from < 32 ? groupBits - from : 32;
      const uint64_t word = count > 0 ? packBits(bits, n, first + from, count) : 0;
      p = putHex(p, word, 8);
    }
    if (part == kParts - 1) {
      *p++ = ' ';
      *p++ = '\n';
    }
    return p;
  });
}

bool nrHwCbEncDump(const char* path, bool append, const int32_t* cell, int32_t rows,
                   int32_t bitLen) {
  static const char* const kWho = "nrHwCbEncDump";
  if (bitLen < 1 || bitLen > 48) return refuse(kWho, "bitLen", bitLen, "is outside 1 .. 48");
  if (rows < 0) return refuse(kWho, "rows", rows, "is negative");
  if (!fitsLines(kWho, uint64_t{static_cast<uint32_t>(rows)} * bitLen + kHeadTags + 1))
    return false;
  const uint32_t bits = static_cast<uint32_t>(rows) * static_cast<uint32_t>(bitLen);
  return nrWriteTextLines(path, append, bits + kHeadTags + 1, [&](uint32_t i, char* p) {
    if (i < kHeadTags) return putTagLine(p, i + 1, headInfo[i]);
    if (i == bits + kHeadTags) return putEndLine(p);
    const uint32_t k = i - kHeadTags;
    *p++ = static_cast<char>('0' + (cell[static_cast<int64_t>(k / bitLen) * 48 + k % bitLen] & 1));
    *p++ = '\n';
    return p;
  });
}

bool nrHwCirBufDump(const char* path, bool append, const int32_t* cell, int32_t rows,
                    int32_t bitLen) {
  static const char* const kWho = "nrHwCirBufDump";
  if (bitLen < 1 || bitLen > 48) return refuse(kWho, "bitLen", bitLen, "is outside 1 .. 48");
  if (rows < 0) return refuse(kWho, "rows", rows, "is negative");
  if (!fitsLines(kWho, uint64_t{static_cast<uint32_t>(rows)} * bitLen)) return false;
  const uint32_t bits = static_cast<uint32_t>(rows) * static_cast<uint32_t>(bitLen);
  return nrWriteTextLines(path, append, bits, [&](uint32_t k, char* p) {
    *p++ = static_cast<char>('0' + (cell[static_cast<int64_t>(k / bitLen) * 48 + k % bitLen] & 1));
    *p++ = ' ';
    *p++ = '\n';
    return p;
  });
}

bool nrHwRefMatrixRowWrite(const char* path, bool append, const int32_t* row, const int32_t* value,
                           int32_t n) {
  if (n < 1 || n > 24) return refuse("nrHwRefMatrixRowWrite", "n", n, "is outside 1 .. 24");
  const int rowLen = n == 24 ? 72 : 64;
  return nrWriteTextLines(path, append, 1, [&](uint32_t, char* p) {
    p = putHex(p, packBits(row, rowLen, 64, 8), 2);
    const uint64_t low = packBits(row, rowLen, 0, 64);
    p = putHex(p, low >> 32, 8);
    p = putHex(p, low & 0xFFFFFFFFu, 8);
    *p++ = ' ';
    uint32_t v = 0;
    for (int i = 0; i < n; i++) v = v << 1 | static_cast<uint32_t>(value[i] & 1);
    p = putHexMin(p, v, 6);
    *p++ = ' ';
    *p++ = '\n';
    return p;
  });
}

bool nrHwRefRegTableWrite(const char* path, bool heading, int32_t index, const char* name,
                          const char* value) {
  static const char* const kWho = "nrHwRefRegTableWrite";
  if (!name || !value) return refuse(kWho, "texts", 0, "are missing");
  const std::size_t longest =
      std::strlen(name) > std::strlen(value) ? std::strlen(name) : std::strlen(value);
  if (longest > kTextMax)
    return refuse(kWho, "text length", static_cast<long long>(longest), "exceeds 1024");
  char line[2 * kTextMax + 64];
  const int len =
      heading ? std::snprintf(line, sizeof(line), "%5s \t %-20s \t %s \n", "Index", name, value)
              : std::snprintf(line, sizeof(line), "%-5d \t %-20s \t %s \n", index, name, value);
  if (len < 0 || static_cast<std::size_t>(len) >= sizeof(line)) return false;
  return nrWriteFileBytes(path, line, static_cast<std::size_t>(len), !heading);
}

bool nrHwRefSymbolDump(const char* path, bool append, const uint32_t* regs,
                       const uint16_t* const* streams, const uint32_t* streamLen, int32_t streamN) {
  static const char* const kWho = "nrHwRefSymbolDump";
  if (streamN < 1 || streamN > kMaxStreams)
    return refuse(kWho, "streamN", streamN, "is outside 1 .. 3");
  uint64_t total = 0;
  for (int32_t k = 0; k < streamN; k++) {
    uint64_t words = 0;
    for (int32_t s = 0; s < kSymbols; s++) words += regs[kSymbols * k + s] & kSymCountMask;
    if (words > streamLen[k])
      return refuse(kWho, "stream words", static_cast<long long>(words),
                    "exceed the words of the stream");
    total += words;
  }
  // Lines come in order: symbol by symbol, stream by stream within a symbol.
  int32_t s = 0, k = 0;
  uint32_t left = regs[0] & kSymCountMask;
  uint32_t next[kMaxStreams] = {};
  return nrWriteTextLines(path, append, static_cast<uint32_t>(total), [&](uint32_t, char* p) {
    while (left == 0) {
      if (++k == streamN) {
        k = 0;
        s++;
      }
      left = regs[kSymbols * k + s] & kSymCountMask;
    }
    left--;
    p = putHexMin(p, streams[k][next[k]++], 4);
    *p++ = ' ';
    *p++ = '\n';
    return p;
  });
}

bool nrHwRefTagName(const char* name, int32_t kind, char* out, std::size_t cap) {
  static const char* const kTags[] = {"_ack", "_csi1", "_csi2"};
  if (!name || kind < 0 || kind > 2) return false;
  const char* slash = std::strrchr(name, '/');
  const char* dot = std::strrchr(slash ? slash : name, '.');
  const std::size_t len = std::strlen(name);
  const std::size_t at = dot ? static_cast<std::size_t>(dot - name) : len;
  const std::size_t tagLen = std::strlen(kTags[kind]);
  if (len + tagLen + 1 > cap) return false;
  std::memcpy(out, name, at);
  std::memcpy(out + at, kTags[kind], tagLen);
  std::memcpy(out + at + tagLen, name + at, len - at + 1);
  return true;
}

// ---- Readers -------------------------------------------------------------------------------

int64_t nrHwRefWordsRead(const char* path, int64_t offset, uint32_t* out, uint32_t n) {
  if (!openIn("nrHwRefWordsRead", path, offset)) return -1;
  for (uint32_t i = 0; i < n; i++) {
    uint64_t v = 0;
    const Tok t = hexTok(8, &v);
    if (t != Tok::kOk) return fault(t, "words", i, n);
    out[i] = static_cast<uint32_t>(v);
  }
  skipSpace();
  const int64_t end = gIn.offset();
  closeIn();
  return end;
}

int64_t nrHwRefTaggedRead(const char* path, uint32_t id, int32_t* out, uint32_t cap,
                          uint32_t* stride) {
  if (!openIn("nrHwRefTaggedRead", path, 0)) return -1;
  uint32_t tag = 0;
  uint64_t v = 0;
  for (;;) {
    const Tok t = tagTok(&tag, &v);
    if (t == Tok::kEnd && !gIn.ioError) {
      nrDiag("%s: no block with id %u\n", path, id);
      closeIn();
      return -1;
    }
    if (t != Tok::kOk) return fault(t, "header lines", 0, 1);
    if (tag == 1 && v == id) break;
  }
  // The header up to the first data line (or the end line of an empty block).
  uint64_t count = 0;
  uint64_t st = 1;
  bool ended = false;
  int64_t dataStart = 0;
  for (;;) {
    skipSpace();
    dataStart = gIn.offset();
    const Tok t = tagTok(&tag, &v);
    if (t != Tok::kOk) return fault(t, "header lines", 1, 2);
    if (tag == 0) break;
    if (tag == kHwRefEndTag) {
      if (v != kHwRefEndWord) return fault(Tok::kBad, "header lines", 1, 2);
      ended = true;
      break;
    }
    if (tag == 1) return fault(Tok::kBad, "header lines", 1, 2);
    if (tag == 2) count = v;
    if (tag == 3) st = v == 0 ? 1 : v;
  }
  if (count * st > cap) {
    nrDiag(
        "%s: block %u of %llu elements at stride %llu exceeds the %u elements provided: "
        "not read\n",
        path, id, static_cast<unsigned long long>(count), static_cast<unsigned long long>(st), cap);
    closeIn();
    return -1;
  }
  const uint64_t lines = (count + 63) / 64;
  if (ended) {
    if (lines > 0) return fault(Tok::kBad, "data lines", 0, lines);
  } else {
    // First the block's shape: its data lines and its end line, before anything is stored.
    for (uint64_t l = 1; l < lines; l++) {
      const Tok t = tagTok(&tag, &v);
      if (t != Tok::kOk || tag != 0)
        return fault(t == Tok::kOk ? Tok::kBad : t, "data lines", l, lines);
    }
    const Tok t = lines == 0 ? Tok::kBad : tagTok(&tag, &v);
    if (t != Tok::kOk || tag != kHwRefEndTag || v != kHwRefEndWord)
      return fault(t == Tok::kOk ? Tok::kBad : t, "data lines and the end line", lines, lines + 1);
    // Then the data lines again, into out.
    if (!seekIn(dataStart)) return fault(Tok::kBad, "data lines", 0, lines);
    for (uint64_t l = 0; l < lines; l++) {
      const Tok d = tagTok(&tag, &v);
      if (d != Tok::kOk || tag != 0)
        return fault(d == Tok::kOk ? Tok::kBad : d, "data lines", l, lines);
      for (uint64_t k = 0; k < 64 && 64 * l + k < count; k++)
        out[(64 * l + k) * st] = static_cast<int32_t>((v >> k) & 1);
    }
  }
  closeIn();
  *stride = static_cast<uint32_t>(st);
  return static_cast<int64_t>(count);
}

int64_t nrHwRefPairsRead(const char* path, int64_t offset, uint32_t skip, uint32_t* out,
                         uint32_t n) {
  if (!openIn("nrHwRefPairsRead", path, offset)) return -1;
  const uint64_t total = uint64_t{skip} + n;
  for (uint64_t i = 0; i < total; i++) {
    uint32_t a = 0, b = 0;
    const Tok t = pairTok(&a, &b);
    if (t != Tok::kOk) return fault(t, "pairs", i, total);
    if (i >= skip) out[i - skip] = b;
  }
  skipSpace();
  int64_t end = gIn.offset();
  // An end pair closing the block is passed over; anything else is left for the next call.
  uint32_t a = 0, b = 0;
  if (pairTok(&a, &b) == Tok::kOk && isEndPair(a, b)) {
    skipSpace();
    end = gIn.offset();
  }
  closeIn();
  return end;
}

int64_t nrHwRefAddrBlockRead(const char* path, uint32_t skip, uint32_t* out, uint32_t n) {
  if (!openIn("nrHwRefAddrBlockRead", path, 0)) return -1;
  for (uint32_t h = 0; h < 2; h++) {
    uint32_t a = 0, b = 0;
    const Tok t = pairTok(&a, &b);
    if (t != Tok::kOk) return fault(t, "header lines", h, 2);
    if (a != (h == 0 ? kHwRefAddrHead1 : kHwRefAddrHead2)) {
      nrDiag("%s: header line %u does not start with %08x: not an address block\n", path, h + 1,
             h == 0 ? kHwRefAddrHead1 : kHwRefAddrHead2);
      closeIn();
      return -1;
    }
  }
  const uint64_t total = uint64_t{skip} + n;
  for (uint64_t i = 0; i < total;) {
    uint32_t a = 0, b = 0;
    const Tok t = pairTok(&a, &b);
    if (t != Tok::kOk) return fault(t, "pairs", i, total);
    if (isEndPair(a, b)) continue;  // the end of an earlier appended block
    if (i >= skip) out[i - skip] = b;
    i++;
  }
  closeIn();
  return n;
}

uint32_t nrHwRefCompare(const int32_t* a, const int32_t* b, uint32_t n) {
  uint32_t d = 0;
  for (uint32_t i = 0; i < n; i++) d += a[i] != b[i] ? 1 : 0;
  return d;
}
