#include "phy/common/sample_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "config/console.h"
#include "config/nr_config.h"
#include "phy/common/text_lines.h"

namespace {

constexpr std::size_t kShownLineMax = 60;  // characters of a malformed line in its diagnostic

// Byte source over a file, read in large chunks (the reader scans every character), counting the
// line feeds it has passed.
struct ChunkReader {
  int fd;
  char buf[1 << 16];
  std::size_t pos = 0;
  std::size_t len = 0;
  uint64_t line = 1;

  int peek() {
    if (pos == len) {
      ssize_t n;
      do n = read(fd, buf, sizeof(buf));
      while (n < 0 && errno == EINTR);
      len = n > 0 ? static_cast<std::size_t>(n) : 0;
      pos = 0;
      if (len == 0) return EOF;
    }
    return static_cast<unsigned char>(buf[pos]);
  }
  void skip() {
    if (buf[pos] == '\n') line++;
    pos++;
  }
};

bool isSpace(int ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }
bool isDigit(int ch) { return ch >= '0' && ch <= '9'; }

void skipSpace(ChunkReader& in) {
  while (isSpace(in.peek())) in.skip();
}

// Scans one decimal integer like "%d" (leading white space, optional sign, digits). The value is
// kept modulo 2^32 so that any length of digits stays defined; callers keep the low 16 bits.
// inRange tells whether the written value lies within int16.
enum class Scan { kOk, kEnd, kBad };  // a number, only white space to the end, anything else

Scan scanInt(ChunkReader& in, uint32_t* value, bool* inRange) {
  skipSpace(in);
  int ch = in.peek();
  if (ch == EOF) return Scan::kEnd;
  const bool negative = ch == '-';
  if (ch == '+' || ch == '-') {
    in.skip();
    ch = in.peek();
  }
  if (!isDigit(ch)) return Scan::kBad;
  uint32_t v = 0;
  uint32_t magnitude = 0;  // saturates just above the int16 range
  while (isDigit(ch)) {
    v = v * 10u + static_cast<uint32_t>(ch - '0');
    magnitude = magnitude > 32768u ? 32769u : magnitude * 10u + static_cast<uint32_t>(ch - '0');
    in.skip();
    ch = in.peek();
  }
  *value = negative ? 0u - v : v;
  *inRange = magnitude <= (negative ? 32768u : 32767u);
  return Scan::kOk;
}

// Line number `line` of the file (1-based), cut to kShownLineMax characters, control characters
// shown as '?'.
std::string lineText(int fd, uint64_t line) {
  if (lseek(fd, 0, SEEK_SET) != 0) return "";
  std::string text;
  uint64_t at = 1;
  char buf[4096];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n <= 0) return text;
    for (ssize_t i = 0; i < n; i++) {
      const char ch = buf[i];
      if (ch == '\n') {
        if (at == line) return text;
        at++;
      } else if (at == line && ch != '\r' && text.size() < kShownLineMax) {
        text += static_cast<unsigned char>(ch) < 0x20 || ch == 0x7F ? '?' : ch;
      }
    }
  }
}

const char* fileKind(mode_t mode) {
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
  if (S_ISSOCK(mode)) return "a socket";
  return "not a regular file";
}

}  // namespace

bool nrSampleFileWrite(const int32_t* samples, uint32_t count, const char* path,
                       uint8_t overwrite) {
  return nrWriteTextLines(path, overwrite == 0, count, [samples](uint32_t i, char* p) {
    p = nrPutInt(p, nrCpxRe(samples[i]));
    *p++ = ',';
    p = nrPutInt(p, nrCpxIm(samples[i]));
    *p++ = '\n';
    return p;
  });
}

int64_t nrSampleFileRead(int32_t* samples, uint32_t capacity, const char* path) {
  // Opened without waiting, so that a FIFO without a writer cannot block; anything but a regular
  // file is then refused.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int err = errno;
    nrPrintf("Fail to open file: %s!\n", path);
    if (fd < 0)
      nrDiag("%s: cannot open for reading: %s\n", path, std::strerror(err));
    else
      nrDiag("%s: %s, not a waveform file: not read\n", path, fileKind(st.st_mode));
    if (fd >= 0) close(fd);
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  // A line holds at least four bytes ("0,0" and a line end).
  const uint64_t lines = static_cast<uint64_t>(st.st_size) / 4;
  const uint32_t n = lines < capacity ? static_cast<uint32_t>(lines) : capacity;

  static ChunkReader in;
  in.fd = fd;
  in.pos = in.len = 0;
  in.line = 1;
  uint32_t read = 0;
  uint64_t badLine = 0;
  uint64_t rangeLine = 0;
  for (; read < n; read++) {
    uint32_t re = 0, im = 0;
    bool reOk = true, imOk = true;
    const Scan first = scanInt(in, &re, &reOk);
    if (first != Scan::kOk) {
      // Blank lines up to the end of the file are no malformed line.
      if (first == Scan::kBad) badLine = in.line;
      break;
    }
    // What matched before a mismatch is stored; every later scan matches nothing.
    const int16_t oldIm = nrCpxIm(samples[read]);
    samples[read] = nrCpxPack(static_cast<int>(re & 0xFFFFu), oldIm);
    if (in.peek() != ',') {
      badLine = in.line;
      break;
    }
    in.skip();
    if (scanInt(in, &im, &imOk) != Scan::kOk) {
      badLine = in.line;
      break;
    }
    samples[read] = nrCpxPack(static_cast<int>(re & 0xFFFFu), static_cast<int>(im & 0xFFFFu));
    if ((!reOk || !imOk) && rangeLine == 0) rangeLine = in.line;
    skipSpace(in);
  }

  if (rangeLine != 0)
    nrDiag(
        "%s: line %llu holds a value outside int16 (-32768..32767): such values keep only "
        "their low 16 bits (warned once per file)\n",
        path, static_cast<unsigned long long>(rangeLine));
  if (badLine != 0)
    nrDiag("%s: line %llu is not a sample \"I,Q\": \"%s\"; %u samples read\n", path,
           static_cast<unsigned long long>(badLine), lineText(fd, badLine).c_str(), read);
  close(fd);
  return read;
}
