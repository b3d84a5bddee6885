// Test-vector sample files "vuetxWavePort<1|2><Real|Imag>.dat": the input is cut into the four
// files (the first byte chooses the cut), read, and one slot cut for a numerology from the second
// byte.
#include <cstdint>
#include <string>

#include "config/nr_config.h"
#include "config/tv_sample.h"
#include "fuzz/config_fuzz_util.h"

namespace {
const char* const kFiles[4] = {"vuetxWavePort1Real.dat", "vuetxWavePort1Imag.dat",
                               "vuetxWavePort2Real.dat", "vuetxWavePort2Imag.dat"};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint8_t cut = data[0];
  const uint8_t numerology = data[1];
  data += 2;
  size -= 2;
  // File f gets bytes [f * size / 4 .. (f + 1) * size / 4), or all of them when cut is odd;
  // a cut divisible by 5 leaves file 3 missing.
  for (int f = 0; f < 4; f++) {
    if (f == 3 && cut % 5 == 0) {
      fuzzRemove(kFiles[f]);
      continue;
    }
    const size_t from = cut % 2 ? 0 : f * size / 4;
    const size_t to = cut % 2 ? size : (f + 1) * size / 4;
    fuzzWrite(kFiles[f], data + from, to - from);
  }
  if (cut % 3 == 0)
    nrUeGetFileData(fuzzDir().c_str());
  else
    nrPhylibLoadDataFile(fuzzDir().c_str());
  NrCellCfg cell{};
  cell.fftSize = static_cast<uint16_t>(128u << (numerology % 6));  // 128 .. 4096
  cell.antPortN = static_cast<uint8_t>(numerology / 6 % 4);
  nrCutTvSlot(static_cast<uint16_t>(numerology / 24), &cell);
  return 0;
}
