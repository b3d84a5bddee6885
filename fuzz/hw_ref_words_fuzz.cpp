// The word reader of the reference files on arbitrary text: it reads at most the words asked for
// into a buffer of exactly that size, and words it accepted read back the same once written again.
#include <cstdint>
#include <vector>

#include "fuzz/hw_ref_fuzz_util.h"
#include "hwmodel/hw_ref_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const uint32_t n = data[0];          // words wanted
  const int64_t offset = data[1] % 8;  // start inside the text
  const fuzzref::FileGuard guard;
  if (!fuzzref::writeFile(data + 2, size - 2)) return 0;
  std::vector<uint32_t> words(n);
  const int64_t end = nrHwRefWordsRead(fuzzref::filePath(), offset, words.data(), n);
  if (end < 0) return 0;
  if (end < offset || end > static_cast<int64_t>(size - 2)) __builtin_trap();
  // The words accepted, written again in hexadecimal, read back the same.
  std::vector<uint32_t> again(n);
  std::vector<int32_t> vals(words.begin(), words.end());
  if (!nrHwRefValuesWrite(fuzzref::filePath(), false, vals.data(), n, "%x \n")) return 0;
  if (nrHwRefWordsRead(fuzzref::filePath(), 0, again.data(), n) < 0 || again != words)
    __builtin_trap();
  return 0;
}
