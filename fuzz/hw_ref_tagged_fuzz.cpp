// The tagged block reader of the reference files on arbitrary text: it stores nothing beyond the
// room given (a buffer of exactly that size) and a block it accepted, written again with the tagged
// bit writer, reads back to the same elements and stride.
#include <cstdint>
#include <vector>

#include "fuzz/hw_ref_fuzz_util.h"
#include "hwmodel/hw_ref_files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 3) return 0;
  const uint32_t id = data[0] % 4;                                 // block id looked for
  const uint32_t cap = (uint32_t{data[1]} << 8 | data[2]) % 4097;  // room of the caller
  const fuzzref::FileGuard guard;
  if (!fuzzref::writeFile(data + 3, size - 3)) return 0;
  std::vector<int32_t> out(cap, -1);
  uint32_t stride = 0;
  const int64_t count = nrHwRefTaggedRead(fuzzref::filePath(), id, out.data(), cap, &stride);
  if (count < 0) return 0;
  if (stride == 0 || static_cast<uint64_t>(count) * stride > cap) __builtin_trap();
  std::vector<int32_t> bits(count);
  for (int64_t i = 0; i < count; i++) {
    bits[i] = out[i * stride];
    if (bits[i] != 0 && bits[i] != 1) __builtin_trap();
  }
  if (!nrHwRefTaggedBitsWrite(fuzzref::filePath(), false, bits.data(), count, stride)) return 0;
  std::vector<int32_t> back(cap, -1);
  uint32_t stride2 = 0;
  if (nrHwRefTaggedRead(fuzzref::filePath(), 0, back.data(), cap, &stride2) != count ||
      stride2 != stride)
    __builtin_trap();
  for (int64_t i = 0; i < count; i++)
    if (back[i * stride] != bits[i]) __builtin_trap();
  return 0;
}
