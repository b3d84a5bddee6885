// The address block reader of the reference files on arbitrary text: at most n values into a
// buffer of exactly n, and values it accepted read back the same from an address block written
// with them.
#include <cstdint>
#include <vector>

#include "fuzz/hw_ref_fuzz_util.h"
#include "hwmodel/hw_ref_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t skip = data[0] % 16;  // pairs skipped
  const uint32_t n = data[1];          // values wanted
  const fuzzref::FileGuard guard;
  if (!fuzzref::writeFile(data + 2, size - 2)) return 0;
  std::vector<uint32_t> out(n);
  const int64_t got = nrHwRefAddrBlockRead(fuzzref::filePath(), skip, out.data(), n);
  if (got < 0) return 0;
  if (got != n) __builtin_trap();
  if (!nrHwRefAddrBlockWrite(fuzzref::filePath(), false, out.data(), n, 0, 0, 0)) return 0;
  std::vector<uint32_t> back(n);
  if (nrHwRefAddrBlockRead(fuzzref::filePath(), 0, back.data(), n) != n || back != out)
    __builtin_trap();
  return 0;
}
