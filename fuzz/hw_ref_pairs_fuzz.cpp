// The pair reader of the reference files on arbitrary text: at most n values into a buffer of
// exactly n, an offset inside the file, and values it accepted read back the same from an address
// list written with them.
#include <cstdint>
#include <vector>

#include "fuzz/hw_ref_fuzz_util.h"
#include "hwmodel/hw_ref_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t skip = data[0] % 8;  // pairs skipped
  const uint32_t n = data[1];         // values wanted
  const fuzzref::FileGuard guard;
  if (!fuzzref::writeFile(data + 2, size - 2)) return 0;
  std::vector<uint32_t> out(n);
  const int64_t end = nrHwRefPairsRead(fuzzref::filePath(), 0, skip, out.data(), n);
  if (end < 0) return 0;
  if (end > static_cast<int64_t>(size - 2)) __builtin_trap();
  // Reading on from the returned offset is refused or succeeds, never leaves the file.
  uint32_t one = 0;
  const int64_t next = nrHwRefPairsRead(fuzzref::filePath(), end, 0, &one, 1);
  if (next >= 0 && (next <= end || next > static_cast<int64_t>(size - 2))) __builtin_trap();
  if (!nrHwRefAddrListWrite(fuzzref::filePath(), false, out.data(), n, 0)) return 0;
  std::vector<uint32_t> back(n);
  if (nrHwRefPairsRead(fuzzref::filePath(), 0, 2, back.data(), n) < 0 || back != out)
    __builtin_trap();
  return 0;
}
