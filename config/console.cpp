#include "config/console.h"

#include <cstdio>
#include <mutex>
#include <vector>

namespace {

// The sink is read on every print and replaced rarely (tests, the dialog); the lock keeps a print
// from an action thread and a replacement on the user-interface thread apart.
std::mutex sinkLock;
NrConsoleSinkFn sinkFn = nullptr;
void* sinkUser = nullptr;

void deliver(NrConsoleStream stream, const char* text, std::size_t len) {
  std::lock_guard<std::mutex> hold(sinkLock);
  if (sinkFn) {
    sinkFn(stream, text, len, sinkUser);
    return;
  }
  if (stream == NrConsoleStream::kErr) {
    // Keep the order of the two streams on a shared terminal.
    std::fflush(stdout);
    std::fwrite(text, 1, len, stderr);
  } else {
    std::fwrite(text, 1, len, stdout);
  }
}

}  // namespace

void nrConsoleSetSink(NrConsoleSinkFn fn, void* user) {
  std::lock_guard<std::mutex> hold(sinkLock);
  sinkFn = fn;
  sinkUser = user;
}

int nrConsoleV(NrConsoleStream stream, const char* fmt, va_list args) {
  char small[512];
  va_list again;
  va_copy(again, args);
  const int n = std::vsnprintf(small, sizeof(small), fmt, args);
  if (n < 0) {
    va_end(again);
    return n;
  }
  if (static_cast<std::size_t>(n) < sizeof(small)) {
    deliver(stream, small, static_cast<std::size_t>(n));
  } else {
    std::vector<char> big(static_cast<std::size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, again);
    deliver(stream, big.data(), static_cast<std::size_t>(n));
  }
  va_end(again);
  return n;
}

int nrPrintf(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = nrConsoleV(NrConsoleStream::kOut, fmt, args);
  va_end(args);
  return n;
}

int nrDiag(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = nrConsoleV(NrConsoleStream::kErr, fmt, args);
  va_end(args);
  return n;
}

void nrConsoleFlush() {
  std::fflush(stdout);
  std::fflush(stderr);
}
