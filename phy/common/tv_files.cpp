#include "phy/common/tv_files.h"

#include <bit>
#include <cstring>

#include "config/input_file.h"
#include "config/nr_config.h"
#include "config/tv_sample.h"
#include "phy/common/text_lines.h"

namespace {

// Copies at most cap bytes of text (NUL-terminated) to p; returns the end.
char* putText(char* p, const char* text, std::size_t cap) {
  const std::size_t n = text ? strnlen(text, cap) : 0;
  std::memcpy(p, text ? text : "", n);
  return p + n;
}

}  // namespace

bool nrWriteRegFile(const char* path, const char* title, const NrRegLine* regs, uint32_t n) {
  return nrWriteTextLines(path, false, n + 1, [&](uint32_t i, char* p) {
    if (i == 0) {
      p = putText(p, title, kRegTitleCap);
    } else {
      p = nrPutInt(p, regs[i - 1].value);
      *p++ = ' ';
      p = putText(p, regs[i - 1].name, kRegNameCap);
    }
    *p++ = '\n';
    return p;
  });
}

bool nrWriteCommaFile(const char* path, const int32_t* values, uint32_t n) {
  // One item per formatted piece; the last one ends the line.
  return nrWriteTextLines(path, false, n == 0 ? 1 : n, [&](uint32_t i, char* p) {
    if (n != 0) {
      p = nrPutInt(p, values[i]);
      *p++ = ',';
    }
    if (n == 0 || i + 1 == n) *p++ = '\n';
    return p;
  });
}

bool nrWriteTvSampleFiles(const char* dir, const int16_t* const parts[2][2], uint32_t n) {
  if (n > static_cast<uint32_t>(kTvSampleCap)) n = kTvSampleCap;
  for (int a = 0; a < 2; a++)
    for (int c = 0; c < 2; c++) {
      NrPath path;
      if (!nrBuildPath(path, "nrWriteTvSampleFiles", "%s%s", dir, kTvSampleFileName[a][c]))
        return false;
      const int16_t* data = parts[a][c];
      if constexpr (std::endian::native == std::endian::big) {
        // Byte-swapped copy of the part: the files are little-endian.
        static int16_t swapped[kTvSampleCap];
        for (uint32_t i = 0; i < n; i++) {
          const uint16_t u = static_cast<uint16_t>(data[i]);
          swapped[i] = static_cast<int16_t>(static_cast<uint16_t>(u << 8 | u >> 8));
        }
        data = swapped;
      }
      if (!nrWriteFileBytes(path, data, sizeof(int16_t) * n)) return false;
    }
  return true;
}
