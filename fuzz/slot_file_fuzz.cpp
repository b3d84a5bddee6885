// The slot file reader on arbitrary text, on top of the default slot's draw: it must refuse or
// apply without crashing, and an applied slot must be one the transmitter can describe again.
#include <cstdint>
#include <cstring>
#include <string>

#include "app/slot_setup.h"
#include "config/console.h"
#include "config/slot_config_gen.h"
#include "config/slot_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ready = [] {
    nrConsoleSetSink([](NrConsoleStream, const char*, std::size_t, void*) {}, nullptr);
    nrGenDefaultSlotCfg();
    return true;
  }();
  (void)ready;
  static NrNbConfig drawn = gnrNbConfig;
  NrNbConfig cfg = drawn;
  const std::string text(reinterpret_cast<const char*>(data), size);
  if (nrSlotFileParse(text, "fuzz.yaml", &cfg, nrSlotDerive)) {
    // What was accepted is written and read back to the same description.
    NrSlotDerived derived[kSlotFileMaxPdsch] = {};
    for (int i = 0; i < cfg.pdschN; i++)
      if (nrSlotDerive(&cfg, i, &derived[i]) != nullptr) __builtin_trap();
    const std::string again = nrSlotFileText(&cfg, derived, 21845, nullptr);
    NrNbConfig back = drawn;
    if (!nrSlotFileParse(again, "again.yaml", &back, nrSlotDerive)) __builtin_trap();
    if (nrSlotFileText(&back, derived, 21845, nullptr) != again) __builtin_trap();
  }
  uint32_t seed = 0;
  nrSlotFileSeed(text, &seed);
  return 0;
}
