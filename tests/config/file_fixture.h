// Fixture writers for the configuration files and test-vector sample files of a test-vector
// directory, shared by the configuration tests and the file-driven receive tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "phy/common/tv_files.h"
#include "tests/test_util.h"

// A register file: a title line, then one "<value> <name>" line per value; the last line ends
// in a line break unless finalBreak is false.
inline std::string regFile(const std::vector<long long>& values, bool finalBreak = true) {
  std::string s = "test vector parameters\n";
  for (size_t i = 0; i < values.size(); i++) {
    s += std::to_string(values[i]) + " param" + std::to_string(i);
    if (finalBreak || i + 1 < values.size()) s += "\n";
  }
  return s;
}

// "%d," items.
inline std::string commaFile(const std::vector<long long>& values) {
  std::string s;
  for (long long v : values) s += std::to_string(v) + ",";
  return s + "\n";
}

// What the three section files of a slot say, in file order.
struct FileSlot {
  // com: carrier nrb, BWP rbOffset, BWP nrb
  long long carrierNrb = 106, bwpRbOffset = 0, bwpNrb = 106;
  // cch: control region first RB and end RB, duration, search-space first symbol, RNTI, DCI
  // payload size, ueSpecific, CchIntvEn, Lreg, intvR, Nshift
  long long csFirst = 0, csEnd = 48, duration = 1, startSymbol = 0, cellRnti = 0x4601, payload = 39,
            ueSpecific = 1, intvEn = 1, Lreg = 6, intvR = 2, Nshift = 0;
  // dch: first RB, RB count, first and last symbol, DMRS symbol count and symbols, CDM groups
  // without data, layers, RNTI, TBS, (unused), Qm, reserved byte, four DMRS ports, no-PDCCH flag,
  // MCS index
  long long pdschFirst = 10, pdschRbN = 20, firstSym = 2, lastSym = 13, dmrsN = 2;
  long long dmrsSym[4] = {2, 11, 0, 0};
  long long cdm = 1, layerN = 1, rnti = 0x1234, tbs = 8448, unused13 = 0, Qm = 6, reserved = 1;
  long long ports[4] = {1000, 1001, 1000, 1000};
  long long noPdcch = 1, mcs = 19;

  std::vector<long long> com() const { return {carrierNrb, bwpRbOffset, bwpNrb}; }
  std::vector<long long> cch() const {
    return {csFirst,    csEnd,  duration, startSymbol, cellRnti, payload,
            ueSpecific, intvEn, Lreg,     intvR,       Nshift};
  }
  std::vector<long long> dch() const {
    return {pdschFirst, pdschRbN, firstSym, lastSym,  dmrsN,   dmrsSym[0], dmrsSym[1], dmrsSym[2],
            dmrsSym[3], cdm,      layerN,   rnti,     tbs,     unused13,   Qm,         reserved,
            ports[0],   ports[1], ports[2], ports[3], noPdcch, mcs};
  }
};

inline std::string sectionPath(const std::string& dir, const std::string& section) {
  return dir + "/NRPhy_configuration_" + section + ".txt";
}

// Writes a register file with the library's writer: the same text as regFile(values).
inline void writeRegFile(const std::string& path, const std::vector<long long>& values) {
  std::vector<std::string> names;
  std::vector<NrRegLine> regs;
  for (size_t i = 0; i < values.size(); i++) names.push_back("param" + std::to_string(i));
  for (size_t i = 0; i < values.size(); i++) {
    // Values beyond int32 need regFile: the library writes the registers a file can hold.
    if (values[i] < INT32_MIN || values[i] > INT32_MAX)
      ADD_FAILURE() << path << ": value " << values[i] << " beyond int32, use regFile";
    regs.push_back(NrRegLine{static_cast<int32_t>(values[i]), names[i].c_str()});
  }
  nrWriteRegFile(path.c_str(), "test vector parameters", regs.data(),
                 static_cast<uint32_t>(regs.size()));
}

// Writes "com<digit>", "cch<digit>" and "dch<digit>" of the slot into dir.
inline void writeSections(const std::string& dir, int digit, const FileSlot& s) {
  const std::string d = std::to_string(digit);
  writeRegFile(sectionPath(dir, "com" + d), s.com());
  writeRegFile(sectionPath(dir, "cch" + d), s.cch());
  writeRegFile(sectionPath(dir, "dch" + d), s.dch());
}

// Raw little-endian int16 samples.
inline std::string int16Bytes(const std::vector<int16_t>& v) {
  std::string s(v.size() * 2, '\0');
  for (size_t i = 0; i < v.size(); i++) {
    const uint16_t u = static_cast<uint16_t>(v[i]);
    s[2 * i] = static_cast<char>(u & 0xFF);
    s[2 * i + 1] = static_cast<char>(u >> 8);
  }
  return s;
}

inline const char* const kTvFileNames[4] = {"vuetxWavePort1Real.dat", "vuetxWavePort1Imag.dat",
                                            "vuetxWavePort2Real.dat", "vuetxWavePort2Imag.dat"};
