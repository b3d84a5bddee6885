// Helpers shared by the libFuzzer targets: a private working directory, a console that keeps
// what the library printed for the current input, checks that end the run with a finding, and
// little-endian field readers over an input.
#pragma once

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "config/console.h"

namespace fuzz_util {

// A violated invariant: report it on standard error and abort, which libFuzzer records as a
// crash with the input that caused it.
[[noreturn]] inline void fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: invariant violated: %s\n", file, line, what);
  std::abort();
}
#define FUZZ_CHECK(cond, what)                                \
  do {                                                        \
    if (!(cond)) ::fuzz_util::fail(__FILE__, __LINE__, what); \
  } while (0)

namespace detail {
inline std::string& privateDir() {
  static std::string dir;
  return dir;
}
inline int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  return std::remove(path);
}
inline void removePrivateDir() {
  const std::string& dir = privateDir();
  if (!dir.empty()) nftw(dir.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}
}  // namespace detail

// A fresh directory under $TMPDIR, else under /dev/shm (memory: a file rewritten on every
// execution costs no disk flush), else under /tmp; made on the first call and removed when the
// process exits normally. The bench's stages write their dumps and outputs under fixed names in the
// working directory: the targets run them inside this directory (see InPrivateDir), never in the
// caller's and never in one shared with another run. Its path is printed once, since a crash
// leaves it (and any file libFuzzer writes there) behind.
inline const std::string& privateDir(const char* tag) {
  std::string& dir = detail::privateDir();
  if (!dir.empty()) return dir;
  const char* tmp = std::getenv("TMPDIR");
  if (!tmp || !*tmp) tmp = access("/dev/shm", W_OK | X_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string tmpl = std::string(tmp) + "/veltra_" + tag + "_XXXXXX";
  if (!mkdtemp(tmpl.data())) {
    std::perror("fuzz: private working directory");
    std::abort();
  }
  dir = tmpl;
  std::fprintf(stderr, "fuzz: working files in %s\n", dir.c_str());
  std::atexit(detail::removePrivateDir);
  return dir;
}

// Makes the private directory the working directory while in scope and restores the caller's
// afterwards, so that libFuzzer's own relative paths (corpus, artifacts) keep their meaning.
class InPrivateDir {
 public:
  explicit InPrivateDir(const std::string& dir) {
    fd_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd_ < 0 || chdir(dir.c_str()) != 0) {
      std::perror("fuzz: entering the private working directory");
      std::abort();
    }
  }
  ~InPrivateDir() {
    if (fchdir(fd_) != 0) std::abort();
    close(fd_);
  }
  InPrivateDir(const InPrivateDir&) = delete;
  InPrivateDir& operator=(const InPrivateDir&) = delete;

 private:
  int fd_;
};

// What the library printed through the console sink since the last clear(), by stream.
struct Console {
  std::string out;
  std::string err;
  bool diagLines = true;  // every diagnostic so far was one print of one whole line
  void clear() {
    out.clear();
    err.clear();
    diagLines = true;
  }
};

// Routes every console print into the returned record instead of the terminal (the receive path
// prints on every call, which would drown libFuzzer's own lines and slow every execution).
inline Console& captureConsole() {
  static Console console;
  nrConsoleSetSink(
      [](NrConsoleStream stream, const char* text, std::size_t len, void* user) {
        Console* c = static_cast<Console*>(user);
        if (stream == NrConsoleStream::kOut) {
          c->out.append(text, len);
          return;
        }
        const void* feed = std::memchr(text, '\n', len);
        if (len == 0 || feed != text + len - 1) c->diagLines = false;
        c->err.append(text, len);
      },
      &console);
  return console;
}

// Sequential little-endian fields of an input; reads past its end give zero bytes.
class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t u8() { return pos_ < size_ ? data_[pos_++] : (pos_++, 0); }
  uint32_t le(int bytes) {
    uint32_t v = 0;
    for (int i = 0; i < bytes; i++) v |= static_cast<uint32_t>(u8()) << (8 * i);
    return v;
  }
  int16_t i16() { return static_cast<int16_t>(static_cast<uint16_t>(le(2))); }
  // What is left of the input.
  const uint8_t* rest() const { return pos_ < size_ ? data_ + pos_ : data_ + size_; }
  std::size_t restSize() const { return pos_ < size_ ? size_ - pos_ : 0; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Whether path names an existing regular file.
inline bool regularFileExists(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

// The whole contents of a file ("" when it cannot be read).
inline std::string readFile(const char* path) {
  std::string text;
  if (FILE* f = std::fopen(path, "rb")) {
    char buf[1 << 14];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  return text;
}

}  // namespace fuzz_util
