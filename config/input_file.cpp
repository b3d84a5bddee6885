#include "config/input_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "config/console.h"

bool nrBuildPath(NrPath out, const char* who, const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(out, kMaxPathLen + 1, fmt, args);
  va_end(args);
  if (n >= 0 && n <= kMaxPathLen) return true;
  if (n < 0) {
    nrDiag("%s: path could not be formatted: not opened\n", who);
    out[0] = '\0';
    return false;
  }
  // Enough of the path to recognise it, but never the whole of an arbitrarily long one.
  nrDiag("%s: path \"%.60s...\" of %d characters exceeds the %d-character limit: not opened\n", who,
         out, n, kMaxPathLen);
  out[0] = '\0';
  return false;
}

bool nrOpenInputFile(const char* path, NrInputFile* f) {
  *f = NrInputFile{};
  // Opened without waiting, so that a FIFO without a writer cannot block; anything but a regular
  // file is then refused.
  const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    f->err = errno;
    return false;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    f->err = errno;
    close(fd);
    return false;
  }
  if (!S_ISREG(st.st_mode)) {
    const mode_t mode = st.st_mode;
    f->kind = S_ISDIR(mode)                    ? "a directory"
              : S_ISFIFO(mode)                 ? "a FIFO"
              : S_ISCHR(mode) || S_ISBLK(mode) ? "a device"
              : S_ISSOCK(mode)                 ? "a socket"
                                               : "not a regular file";
    close(fd);
    return false;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  f->fd = fd;
  f->size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  return true;
}

const char* nrInputFileReason(const NrInputFile* f) {
  if (f->kind) return f->kind;
  return std::strerror(f->err);
}

void nrCloseInputFile(NrInputFile* f) {
  if (f->fd >= 0) close(f->fd);
  f->fd = -1;
}

void nrTextInit(NrTextIn* in, int fd, char* buf, std::size_t cap) {
  in->fd = fd;
  in->buf = buf;
  in->cap = cap;
  in->pos = in->len = 0;
  in->line = 1;
  in->ioError = false;
}

int NrTextIn::peek() {
  if (pos == len) {
    if (ioError) return EOF;
    ssize_t n;
    do n = read(fd, buf, cap);
    while (n < 0 && errno == EINTR);
    if (n < 0) ioError = true;
    len = n > 0 ? static_cast<std::size_t>(n) : 0;
    pos = 0;
    if (len == 0) return EOF;
  }
  return static_cast<unsigned char>(buf[pos]);
}

void NrTextIn::skip() {
  if (buf[pos] == '\n') line++;
  pos++;
}

namespace {
bool isSpace(int ch) { return ch == ' ' || (ch >= '\t' && ch <= '\r'); }
bool isDigit(int ch) { return ch >= '0' && ch <= '9'; }
}  // namespace

void nrSkipSpace(NrTextIn* in) {
  while (isSpace(in->peek())) in->skip();
}

NrScan nrScanInt(NrTextIn* in, NrScannedInt* v) {
  nrSkipSpace(in);
  int ch = in->peek();
  if (ch == EOF) return NrScan::kEnd;
  const bool negative = ch == '-';
  if (ch == '+' || ch == '-') {
    in->skip();
    ch = in->peek();
  }
  if (!isDigit(ch)) return NrScan::kBad;
  uint64_t wrapped = 0;
  uint64_t magnitude = 0;  // saturates just above the int32 range
  constexpr uint64_t kSat = (1ull << 31) + 1;
  while (isDigit(ch)) {
    const uint64_t d = static_cast<uint64_t>(ch - '0');
    wrapped = wrapped * 10u + d;
    magnitude = magnitude >= kSat ? kSat : magnitude * 10u + d;
    in->skip();
    ch = in->peek();
  }
  v->wrapped = negative ? 0u - wrapped : wrapped;
  v->inInt32 = magnitude <= (negative ? (1ull << 31) : (1ull << 31) - 1);
  v->inInt16 = magnitude <= (negative ? 32768u : 32767u);
  v->inU16OrI16 = magnitude <= (negative ? 32768u : 65535u);
  return NrScan::kOk;
}

bool nrReadLineRest(NrTextIn* in, char* text, std::size_t cap, std::size_t* textLen) {
  std::size_t n = 0;
  for (;;) {
    const int ch = in->peek();
    if (ch == EOF) break;
    if (ch == '\n') {
      text[n] = '\0';
      *textLen = n;
      return true;
    }
    if (n + 1 < cap) text[n++] = static_cast<char>(ch);
    in->skip();
  }
  text[n] = '\0';
  *textLen = n;
  return false;
}
