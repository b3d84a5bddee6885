// Pins every output of the bench byte for byte: the files and console text of the default slot
// and of a full-carrier 256QAM slot, each through the transmit and receive actions. Refactors and
// speed-ups must leave these digests unchanged; a deliberate change of output updates them here.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "app/actions.h"
#include "app/slot_setup.h"
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

namespace {

// Slots that take the receiver through its other paths: two layers on two antennas, DMRS type 2,
// the second and third CDM group, the frequency cover of an odd port, three additional DMRS
// symbols, short symbol runs, RB lists with gaps and every modulation order. Each is sent and
// received in a fresh directory; the digest covers every output file, name and content.
struct VariantPin {
  const char* name;
  const char* yaml;
  uint64_t digest;
};

const VariantPin kVariantPins[] = {
    {"full carrier, 256QAM, two layers on two antennas",
     "bwp: {rbOffset: 0, nrb: 106}\ncell: {antennaPorts: 2}\npdsch:\n  - mcs: 27\n    layers: 2\n"
     "    rbStart: 0\n    rbCount: 106\n    symbolStart: 0\n    symbolCount: 14\n"
     "    dmrs: {type: 1, firstSymbol: 2, additionalPositions: [11], ports: [1000, 1001]}\n",
     0xe1b3a9d0fc1a9361ull},
    {"full carrier, two layers, three additional DMRS symbols",
     "bwp: {rbOffset: 0, nrb: 106}\npdsch:\n  - mcs: 22\n    layers: 2\n    rbStart: 0\n"
     "    rbCount: 106\n    symbolStart: 0\n    symbolCount: 14\n"
     "    dmrs: {type: 1, firstSymbol: 2, additionalPositions: [5, 8, 11], ports: [1000, 1001]}\n",
     0xae3f52969fd88f95ull},
    {"type 2, two layers on ports 1004/1005, 16QAM",
     "pdsch:\n  - mcs: 12\n    layers: 2\n    rbStart: 3\n    rbCount: 30\n    symbolStart: 2\n"
     "    symbolCount: 12\n    dmrs: {type: 2, firstSymbol: 2, additionalPositions: [7, 11], "
     "ports: [1004, 1005], cdmGroupsWithoutData: 3}\n",
     0xce91760153367fb6ull},
    {"type 2, two layers on ports 1002/1003, data beside the DMRS",
     "pdsch:\n  - mcs: 18\n    layers: 2\n    rbStart: 0\n    rbCount: 24\n    symbolStart: 1\n"
     "    symbolCount: 13\n    dmrs: {type: 2, firstSymbol: 1, additionalPositions: [6], "
     "ports: [1002, 1003], cdmGroupsWithoutData: 2}\n",
     0x8c766e4a0e6d3412ull},
    {"type 1, one layer on port 1003, QPSK",
     "pdsch:\n  - mcs: 3\n    rbStart: 5\n    rbCount: 40\n    symbolStart: 2\n"
     "    symbolCount: 12\n    dmrs: {type: 1, firstSymbol: 2, additionalPositions: [7, 11], "
     "ports: [1003], cdmGroupsWithoutData: 2}\n",
     0x47ae45318b97aa17ull},
    {"type 1, one layer on port 1001, 64QAM, data beside the DMRS",
     "pdsch:\n  - mcs: 20\n    rbStart: 1\n    rbCount: 50\n    symbolStart: 3\n"
     "    symbolCount: 9\n    dmrs: {type: 1, firstSymbol: 3, additionalPositions: [8], "
     "ports: [1001], cdmGroupsWithoutData: 1}\n",
     0x20add2135ac59101ull},
    {"type 2, one layer, three CDM groups without data, 16QAM",
     "pdsch:\n  - mcs: 9\n    rbStart: 0\n    rbCount: 20\n    symbolStart: 2\n"
     "    symbolCount: 12\n    dmrs: {type: 2, firstSymbol: 2, ports: [1000], "
     "cdmGroupsWithoutData: 3}\n",
     0x46f2339141eb47c9ull},
    {"two symbols with the DMRS on the first",
     "pdsch:\n  - mcs: 4\n    rbStart: 3\n    rbCount: 40\n    symbolStart: 9\n"
     "    symbolCount: 2\n    dmrs: {type: 1, firstSymbol: 9, ports: [1000], "
     "cdmGroupsWithoutData: 1}\n",
     0xe536551f8a01d5a1ull},
    {"RB list with gaps, two layers",
     "pdsch:\n  - mcs: 15\n    layers: 2\n    rbs: [3, 4, 5, 9, 10, 30, 31, 32, 33, 60]\n"
     "    symbolStart: 2\n    symbolCount: 12\n    dmrs: {type: 1, firstSymbol: 2, "
     "additionalPositions: [11], ports: [1000, 1001]}\n",
     0x53a8b4765ad4e191ull},
};

const char* const kVariantFiles[] = {
    "nrNbTxData.dat",   "nrNbTxDataf.dat",  "nrNbTxData1.dat", "nrNbTxDataf1.dat", "EncCrcBuff.txt",
    "DecBuff.txt",      "debugRe0.txt",     "debugIm0.txt",    "debugRe.txt",      "debugIm.txt",
    "debugdchEQRe.txt", "debugdchEQIm.txt", "dchSoftbit.txt"};

}  // namespace

TEST(OutputPin, SlotVariantsFilesAreUnchanged) {
  for (const VariantPin& v : kVariantPins) {
    ScopedTempDir dir;
    freshDefaultSlot();
    writeWholeFile("slot.yaml", v.yaml);
    std::string all;
    captureConsole([&] {
      ASSERT_TRUE(nrSlotSetup("slot.yaml", false, 0)) << v.name;
      EXPECT_TRUE(gNbTx()) << v.name;
      EXPECT_TRUE(nrUeRx()) << v.name;
    });
    for (const char* f : kVariantFiles) all += std::string(f) + "\n" + readWholeFile(f);
    EXPECT_EQ(digest(all), v.digest) << v.name << std::hex << " 0x" << digest(all);
  }
}
