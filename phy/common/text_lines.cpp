#include "phy/common/text_lines.h"

#include <sys/stat.h>
#include <unistd.h>

#include "config/console.h"

namespace detail {

FILE* textOpen(const char* path, bool append) {
  FILE* f = nullptr;
  if (append) {
    f = std::fopen(path, "a");
  } else {
    // Rewritten in place and cut to length on close: ext4 flushes a file that was truncated to
    // zero and rewritten as soon as it is closed, which would make every slot wait for the disk.
    f = std::fopen(path, "r+");
    if (!f) f = std::fopen(path, "w");
  }
  if (!f) nrPrintf("Fail to open file: %s!\n", path);
  return f;
}

void textClose(FILE* f, const char* path, bool append) {
  if (!append) {
    std::fflush(f);
    // Devices and pipes have no length to cut.
    struct stat st;
    if (fstat(fileno(f), &st) == 0 && S_ISREG(st.st_mode) &&
        ftruncate(fileno(f), static_cast<off_t>(std::ftell(f))) != 0)
      nrPrintf("Fail to write file: %s!\n", path);
  }
  std::fclose(f);
}

char* textBuffer() {
  static char buf[kTextChunk];
  return buf;
}

}  // namespace detail
