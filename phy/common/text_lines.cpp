#include "phy/common/text_lines.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/console.h"

namespace detail {

namespace {

uint32_t failures = 0;

void fail(OutFile* f, const char* what, int err) {
  if (f->failed) return;
  f->failed = true;
  failures++;
  nrDiag("%s: %s: %s\n", f->path, what, std::strerror(err));
}

}  // namespace

bool outOpen(OutFile* f, const char* path, bool append) {
  *f = OutFile{};
  f->path = path;
  f->append = append;
  struct stat st;
  const bool exists = stat(path, &st) == 0;
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (append ? O_APPEND : 0);
  // A FIFO is opened without waiting: with no reader the open fails instead of blocking.
  if (exists && S_ISFIFO(st.st_mode)) flags |= O_NONBLOCK;
  f->fd = open(path, flags, 0666);
  if (f->fd < 0) {
    const int err = errno;
    failures++;
    nrPrintf("Fail to open file: %s!\n", path);
    nrDiag("%s: cannot open for writing: %s\n", path,
           err == ENXIO ? "a FIFO without a reader" : std::strerror(err));
    return false;
  }
  if (flags & O_NONBLOCK) fcntl(f->fd, F_SETFL, fcntl(f->fd, F_GETFL) & ~O_NONBLOCK);
  if (fstat(f->fd, &st) == 0) {
    f->regular = S_ISREG(st.st_mode);
    f->startSize = st.st_size;
  }
  return true;
}

bool outWrite(OutFile* f, const char* data, std::size_t n) {
  while (n > 0 && !f->failed) {
    const ssize_t w = write(f->fd, data, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) {
      fail(f, "write failed", w < 0 ? errno : ENOSPC);
      break;
    }
    data += w;
    n -= static_cast<std::size_t>(w);
  }
  return !f->failed;
}

bool outClose(OutFile* f) {
  if (f->regular && !f->failed) {
    if (!f->append) {
      // Rewritten in place and cut to length here: ext4 flushes a file that was truncated to
      // zero and rewritten as soon as it is closed, which would make every slot wait for the disk.
      const off_t end = lseek(f->fd, 0, SEEK_CUR);
      if (end < 0 || ftruncate(f->fd, end) != 0) fail(f, "cannot cut to length", errno);
    }
  }
  if (close(f->fd) != 0 && !f->failed) fail(f, "close failed", errno);
  f->fd = -1;
  if (f->failed && f->regular) {
    // Nothing that looks complete stays behind.
    if (f->append) {
      if (truncate(f->path, f->startSize) != 0) nrRemoveStaleFile(f->path);
    } else {
      unlink(f->path);
    }
  }
  return !f->failed;
}

char* textBuffer() {
  static char buf[kTextChunk];
  return buf;
}

}  // namespace detail

uint32_t nrOutFileFailures() { return detail::failures; }

bool nrWriteFileBytes(const char* path, const void* data, std::size_t n, bool append) {
  NrStageScope io(NrStage::kFileIo);
  detail::OutFile f;
  if (!detail::outOpen(&f, path, append)) return false;
  detail::outWrite(&f, static_cast<const char*>(data), n);
  return detail::outClose(&f);
}

bool nrRemoveStaleFile(const char* path) {
  NrStageScope io(NrStage::kFileIo);
  struct stat st;
  if (lstat(path, &st) != 0) return errno == ENOENT;
  if (!S_ISREG(st.st_mode)) return false;
  if (unlink(path) == 0) return true;
  nrDiag("%s: cannot remove the output of an earlier run: %s\n", path, std::strerror(errno));
  return false;
}
