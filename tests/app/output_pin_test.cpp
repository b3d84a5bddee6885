// Pins every output of the bench byte for byte: the files and console text of the default slot
// and of a full-carrier 256QAM slot, each through the transmit and receive actions. Refactors and
// speed-ups must leave these digests unchanged; a deliberate change of output updates them here.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/actions.h"
#include "config/nr_config.h"
#include "tests/test_util.h"

namespace {

// FNV-1a, 64 bits: enough to tell any change of a file apart.
uint64_t digest(const std::string& bytes) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001b3ull;
  }
  return h;
}

struct Pin {
  const char* file;
  uint64_t defaultSlot;
  uint64_t fullCarrier;
};

// Digest of each output file after `gNbTx nrUeRx` in a fresh process (CTest runs every case in a
// process of its own; the UE set-up prints its progress lines once per process).
const Pin kPins[] = {
    {"nrNbTxData.dat", 0x276666e74ff1efaaull, 0xc5cad3ea07398b7cull},
    {"nrNbTxDataf.dat", 0x5b26ad1c26858ab5ull, 0x06df48be00467a7aull},
    {"EncCrcBuff.txt", 0x33f76ba7877c15f5ull, 0x91de91283c15a415ull},
    {"DecBuff.txt", 0x33f76ba7877c15f5ull, 0x91de91283c15a415ull},
    {"debugRe0.txt", 0x1994da37a3521afbull, 0x28fc6a4a798ddca9ull},
    {"debugIm0.txt", 0x701800218af75f73ull, 0xc47f65838a351c21ull},
    {"debugRe.txt", 0x22b179abdfed0f53ull, 0xcf78db25da7c6876ull},
    {"debugIm.txt", 0x1d9c06ecbcf89b3full, 0x76a23ed78f55aebaull},
    {"debugdchEQRe.txt", 0x22b179abdfed0f53ull, 0xcf78db25da7c6876ull},
    {"debugdchEQIm.txt", 0x1d9c06ecbcf89b3full, 0x76a23ed78f55aebaull},
    {"dchSoftbit.txt", 0x77c82e58997a56eaull, 0xcfad4dccca8e6592ull},
};
const uint64_t kConsoleDefault = 0x0abd98d4b155dc21ull;
const uint64_t kConsoleFull = 0x0b7e06c8fb55fdbbull;

void checkPins(bool full, const std::string& console) {
  for (const Pin& p : kPins) {
    const uint64_t want = full ? p.fullCarrier : p.defaultSlot;
    EXPECT_EQ(digest(readWholeFile(p.file)), want) << p.file;
  }
  EXPECT_EQ(digest(console), full ? kConsoleFull : kConsoleDefault) << console;
}

}  // namespace

TEST(OutputPin, DefaultSlotFilesAndConsoleAreUnchanged) {
  ScopedTempDir dir;
  const std::string out = captureStdout([] {
    gNbTx();
    nrUeRx();
  });
  checkPins(false, out);
}

TEST(OutputPin, FullCarrierSlotFilesAndConsoleAreUnchanged) {
  ScopedTempDir dir;
  fullCarrierSlot();
  const std::string out = captureStdout([] {
    gNbTx();
    nrUeRx();
  });
  checkPins(true, out);
}
