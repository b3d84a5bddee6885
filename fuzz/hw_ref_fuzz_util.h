// Shared by the reference-file reader fuzz targets: the input's first bytes are the reader's
// arguments, the rest is the text of the file it reads, written to a file of this process.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "config/console.h"

namespace fuzzref {

// A file name of this process; the console sink silenced once.
inline const char* filePath() {
  static const std::string path = [] {
    nrConsoleSetSink([](NrConsoleStream, const char*, std::size_t, void*) {}, nullptr);
    return "/tmp/veltra_fuzz_ref_" + std::to_string(getpid()) + ".txt";
  }();
  return path.c_str();
}

// Writes the bytes to the process's file; false when it cannot.
inline bool writeFile(const uint8_t* data, size_t size) {
  const int fd = open(filePath(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < size) {
    const ssize_t w = write(fd, data + done, size - done);
    if (w <= 0) break;
    done += static_cast<size_t>(w);
  }
  close(fd);
  return done == size;
}

// Removes the file when one input is done.
struct FileGuard {
  ~FileGuard() { unlink(filePath()); }
};

}  // namespace fuzzref
