// Helpers of the fuzz targets of the configuration and test-vector readers: a private directory
// that the inputs are written into (removed at exit) and a silent console.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "config/console.h"

namespace fuzz_detail {
inline std::set<std::string>& writtenFiles() {
  static std::set<std::string>* files = new std::set<std::string>;
  return *files;
}
}  // namespace fuzz_detail

// The target's private directory, created at the first call; the console is silenced then too.
// Kept on the heap for the whole process: the exit handler that removes the directory runs after
// the static destructors.
inline const std::string& fuzzDir() {
  static const std::string* dir = [] {
    char tmpl[] = "/tmp/veltra_fuzz_XXXXXX";
    const char* made = mkdtemp(tmpl);
    if (made == nullptr) std::abort();
    nrConsoleSetSink([](NrConsoleStream, const char*, std::size_t, void*) {}, nullptr);
    const std::string* d = new std::string(made);
    std::atexit([] {
      for (const std::string& f : fuzz_detail::writtenFiles()) unlink(f.c_str());
      rmdir(fuzzDir().c_str());
    });
    return d;
  }();
  return *dir;
}

// A violated invariant: reported and aborted, which libFuzzer records with the input.
#define CFG_FUZZ_CHECK(cond)                                                              \
  do {                                                                                    \
    if (!(cond)) {                                                                        \
      std::fprintf(stderr, "%s:%d: invariant violated: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                       \
    }                                                                                     \
  } while (0)

// Replaces fuzzDir()/name with size bytes of data.
inline void fuzzWrite(const std::string& name, const uint8_t* data, std::size_t size) {
  const std::string path = fuzzDir() + "/" + name;
  fuzz_detail::writtenFiles().insert(path);
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size != 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
}

inline void fuzzWrite(const std::string& name, const std::string& text) {
  fuzzWrite(name, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Removes fuzzDir()/name (a file a previous input left behind).
inline void fuzzRemove(const std::string& name) { unlink((fuzzDir() + "/" + name).c_str()); }
