#include "config/config_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>

#include "config/console.h"
#include "config/input_file.h"
#include "config/mcs_table.h"

namespace {

constexpr std::size_t kTextChunk = 4096;
constexpr std::size_t kLineTextCap = 100;  // 99 characters of a line's text are kept
constexpr char kOlderLayoutTag[] = "PDSCHRBOffset";
constexpr int kOlderLayoutIndex = 10;  // the PDSCH first RB of the current layout
constexpr int kDefaultsFrom = 28;      // defaults of a main file shorter than 39 registers
constexpr int kDefaultsFromShort = 39;
constexpr int kDefaults2From = 38;  // defaults of a main file shorter than 45 registers
constexpr int kDefaults2FromShort = 45;
constexpr int kFullMainFile = 69;  // value lines of a complete main file
constexpr int kMaxCoresetDuration = 3;

const int16_t kSysDefaults28[10] = {2, 1, 1000, 1000, 1000, 1000, 0, 6, 2, 0};
const int16_t kSysDefaults38[31] = {0, 1, 0, 10, 38, 0, 48, 1, 0, 6, 2, 0,    0,    1,    13,  1,
                                    2, 2, 2, 2,  1,  1, 0,  0, 0, 0, 1, 1000, 1000, 1000, 1000};
static_assert(kDefaultsFrom + static_cast<int>(std::size(kSysDefaults28)) == kDefaults2From,
              "defaults are contiguous");
static_assert(kDefaults2From + static_cast<int>(std::size(kSysDefaults38)) == kFullMainFile,
              "defaults end at the last main register");

// Register widths of the files: the main and com/cch files keep 16 bits, the dch file 32.
enum class RegWidth { k16, k32 };

// Register-file syntax: alternately (1) the rest of the current line as text, (2) the next
// integer after white space, or the previous value again where none can be read; the value is
// stored as the next register. Reading ends when step 1 meets the end of the file. olderLayout
// applies the main file's "PDSCHRBOffset" rule. Values beyond cap registers are dropped. Returns
// the number of registers stored, -1 after a read error.
int readRegisters(NrTextIn* in, const char* path, int32_t* regs, int cap, RegWidth width,
                  bool olderLayout) {
  char text[kLineTextCap];
  int count = 0;
  int32_t value = 0;
  uint64_t rangeLine = 0;
  uint64_t dropped = 0;
  for (;;) {
    std::size_t len = 0;
    if (!nrReadLineRest(in, text, sizeof(text), &len)) break;
    NrScannedInt v{};
    const bool fresh = nrScanInt(in, &v) == NrScan::kOk;
    if (fresh) {
      // Kept modulo 2^32; the caller keeps the register's width.
      value = static_cast<int32_t>(static_cast<uint32_t>(v.wrapped));
      const bool fits = width == RegWidth::k16 ? v.inU16OrI16 : v.inInt32;
      if (!fits && rangeLine == 0) rangeLine = in->line;
    }
    // Files of the older layout lack the parameter at index 9: the value read as index 9 is the
    // PDSCH first RB, announced by its name.
    if (olderLayout && count == kOlderLayoutIndex &&
        std::string_view(text, len).find(kOlderLayoutTag) != std::string_view::npos) {
      regs[kOlderLayoutIndex] = regs[kOlderLayoutIndex - 1];
      regs[kOlderLayoutIndex - 1] = 0;
      count = kOlderLayoutIndex + 1;
    }
    if (count < cap)
      regs[count++] = value;
    else if (fresh)
      dropped++;
  }
  if (rangeLine != 0)
    nrDiag("%s: line %llu holds a value outside %s: values keep their low %d bits\n", path,
           static_cast<unsigned long long>(rangeLine),
           width == RegWidth::k16 ? "16 bits (-32768..65535)" : "int32",
           width == RegWidth::k16 ? 16 : 32);
  if (dropped != 0)
    nrDiag("%s: %llu values beyond the %d registers dropped\n", path,
           static_cast<unsigned long long>(dropped), cap);
  if (in->ioError) {
    nrDiag("%s: read failed after line %llu: %s\n", path, static_cast<unsigned long long>(in->line),
           std::strerror(errno));
    return -1;
  }
  return count;
}

// Opens a register file, reporting "Fail to open file: %s!\n" and the reason when it cannot.
bool openReported(const char* path, NrInputFile* f) {
  if (nrOpenInputFile(path, f)) return true;
  nrPrintf("Fail to open file: %s!\n", path);
  nrDiag("%s: %s: not read\n", path, nrInputFileReason(f));
  return false;
}

// Opens an optional file: true with the file open; false when it is missing (silent, *refused
// false) or exists but cannot be read (reported, *refused true).
bool openOptional(const char* path, NrInputFile* f, bool* refused) {
  *refused = false;
  if (nrOpenInputFile(path, f)) return true;
  if (f->kind == nullptr && f->err == ENOENT) return false;
  nrDiag("%s: %s: not read\n", path, nrInputFileReason(f));
  *refused = true;
  return false;
}

// Reads the registers of an open file into regs (cap entries).
int readRegisterFile(NrInputFile* f, const char* path, int32_t* regs, int cap, RegWidth width,
                     bool olderLayout) {
  char chunk[kTextChunk];
  NrTextIn in;
  nrTextInit(&in, f->fd, chunk, sizeof(chunk));
  const int count = readRegisters(&in, path, regs, cap, width, olderLayout);
  nrCloseInputFile(f);
  return count;
}

// "%d," items: item(value) for each until it returns false, the end of the file or the first
// item that is not an integer (reported). Returns false after a read error.
template <typename Item>
bool readCommaInts(NrInputFile* f, const char* path, Item item) {
  char chunk[kTextChunk];
  NrTextIn in;
  nrTextInit(&in, f->fd, chunk, sizeof(chunk));
  for (;;) {
    NrScannedInt v{};
    const NrScan r = nrScanInt(&in, &v);
    if (r == NrScan::kEnd) break;
    if (r == NrScan::kBad) {
      nrDiag("%s: line %llu: an item that is not an integer; reading stops there\n", path,
             static_cast<unsigned long long>(in.line));
      break;
    }
    if (!item(v)) break;
    if (in.peek() == ',') in.skip();
  }
  const bool ok = !in.ioError;
  if (!ok)
    nrDiag("%s: read failed after line %llu: %s\n", path, static_cast<unsigned long long>(in.line),
           std::strerror(errno));
  nrCloseInputFile(f);
  return ok;
}

int16_t low16(int32_t v) { return static_cast<int16_t>(static_cast<uint16_t>(v)); }

// The digit that follows the section keyword at `at` ("cch1" -> 1), -1 when there is none.
int sectionDigit(const char* at) {
  const char ch = at[3];
  return ch >= '0' && ch <= '9' ? ch - '0' : -1;
}

bool readComSection(NrInputFile* f, const char* path) {
  int32_t regs[kComRegN];
  const int count = readRegisterFile(f, path, regs, kComRegN, RegWidth::k16, false);
  if (count < 0) return false;
  uint16_t m[kComRegN];
  std::memcpy(m, comRegData, sizeof(m));
  for (int i = 0; i < count; i++) m[i] = static_cast<uint16_t>(regs[i]);
  if (m[0] > kMaxRb || m[2] > kMaxRb) {
    nrDiag("%s: carrier of %u RBs, BWP of %u RBs: more than %d RBs\n", path, m[0], m[2], kMaxRb);
    return false;
  }
  std::memcpy(comRegData, m, sizeof(m));
  return true;
}

bool readCchSection(NrInputFile* f, const char* path, const char* dir, int digit) {
  int32_t regs[kCchRegN];
  const int count = readRegisterFile(f, path, regs, kCchRegN, RegWidth::k16, false);
  if (count < 0) return false;
  uint16_t q[kCchRegN];
  std::memcpy(q, cchRegData, sizeof(q));
  for (int i = 0; i < count; i++) q[i] = static_cast<uint16_t>(regs[i]);
  if (!nrCheckCoresetCfg(path, q[0], q[1], q[2], q[7], q[8], q[9]) ||
      !nrCheckStartSymbol(path, q[3]))
    return false;
  std::memcpy(cchRegData, q, sizeof(q));

  NrCoresetCfg& cs = gnrUeConfig.coresetCfg[0];
  cs.allocNrb = static_cast<uint16_t>(q[1] - q[0]);
  for (int l = 0; l < cs.allocNrb; l++) cs.rbIdx[l] = static_cast<uint16_t>(q[0] + l);
  return nrReadRbgBitmaps(dir, static_cast<uint8_t>(digit), NrRbgTarget::kCoreset);
}

bool readDchSection(NrInputFile* f, const char* path, const char* dir, int digit) {
  int32_t regs[kDchRegN];
  const int count = readRegisterFile(f, path, regs, kDchRegN, RegWidth::k32, false);
  if (count < 0) return false;
  int32_t d[kDchRegN];
  std::memcpy(d, dchRegData, sizeof(d));
  for (int i = 0; i < count; i++) d[i] = regs[i];
  // A section without its MCS index (the last value line) has no code rate.
  if (count < kDchRegN) d[21] = kNoMcsIndex;
  if (count >= kDchRegN && (d[21] < 0 || d[21] >= kMcsTableSize)) {
    nrDiag("%s: MCS index %d outside the MCS table (0..%d)\n", path, d[21], kMcsTableSize - 1);
    return false;
  }
  if (!nrCheckPdschRbs(path, d[0], d[1]) || !nrCheckPdschSymbols(path, d[2], d[3], d[4], &d[5]))
    return false;
  std::memcpy(dchRegData, d, sizeof(d));

  NrPdschCfg& pdsch = gnrDchMwItf.pdschCfg;
  // Target code rate x 2048 from TS 38.214 Table 5.1.3.1-2, truncated in single precision.
  pdsch.codeRate = count < kDchRegN ? 0 : static_cast<uint16_t>(2.0f * gnrMcsRateX1024[d[21]]);
  pdsch.rbN = static_cast<uint16_t>(d[1]);
  for (int i = 0; i < pdsch.rbN; i++) pdsch.rbIdx[i] = static_cast<uint16_t>(d[0] + i);
  const bool bitmapOk = nrReadRbgBitmaps(dir, static_cast<uint8_t>(digit), NrRbgTarget::kPdsch);
  const bool rmOk = nrReadRateMatchCfg(dir, static_cast<uint8_t>(digit));
  return bitmapOk && rmOk;
}

}  // namespace

// ---- Checks -------------------------------------------------------------------------------------

bool nrCheckCoresetCfg(const char* who, int32_t firstRb, int32_t endRb, int32_t duration,
                       int32_t intvEn, int32_t Lreg, int32_t intvR) {
  if (firstRb < 0 || endRb < firstRb || endRb > kMaxRb) {
    nrDiag("%s: CORESET RBs %d up to %d (exclusive): need 0 <= first RB <= end RB <= %d\n", who,
           firstRb, endRb, kMaxRb);
    return false;
  }
  if (duration < 1 || duration > kMaxCoresetDuration) {
    nrDiag("%s: CORESET duration %d symbols, expected 1 to %d\n", who, duration,
           kMaxCoresetDuration);
    return false;
  }
  if (Lreg <= 0 || intvR <= 0) {
    nrDiag("%s: REG bundle size Lreg %d and interleaver size intvR %d must be positive\n", who,
           Lreg, intvR);
    return false;
  }
  // TS 38.211 7.3.2.2: C = N_REG / (L R) columns; an interleaved CORESET needs one at least.
  // 64-bit product: both sizes come from files and may be up to 65535.
  const int32_t regN = (endRb - firstRb) * duration;
  if (intvEn != 0 && regN / (static_cast<int64_t>(Lreg) * intvR) == 0) {
    nrDiag(
        "%s: interleaved CORESET of %d REGs with Lreg %d and intvR %d has no interleaver "
        "column\n",
        who, regN, Lreg, intvR);
    return false;
  }
  return true;
}

bool nrCheckStartSymbol(const char* who, int32_t startSymbol) {
  if (startSymbol >= 0 && startSymbol < kSymbolsPerSlot) return true;
  nrDiag("%s: search-space first symbol %d outside the slot (0..%d)\n", who, startSymbol,
         kSymbolsPerSlot - 1);
  return false;
}

bool nrCheckPdschRbs(const char* who, int32_t firstRb, int32_t rbN) {
  if (firstRb >= 0 && rbN >= 0 && rbN <= kMaxRb && firstRb <= kMaxRb - rbN) return true;
  nrDiag("%s: PDSCH of %d RBs from RB %d: its RBs must lie within 0..%d\n", who, rbN, firstRb,
         kMaxRb - 1);
  return false;
}

bool nrCheckPdschSymbols(const char* who, int32_t firstSym, int32_t lastSym, int32_t dmrsN,
                         const int32_t dmrsSym[4]) {
  if (firstSym < 0 || lastSym < firstSym || lastSym >= kSymbolsPerSlot) {
    nrDiag("%s: PDSCH symbols %d to %d: need 0 <= first <= last <= %d\n", who, firstSym, lastSym,
           kSymbolsPerSlot - 1);
    return false;
  }
  // One front-loaded DMRS symbol and up to three additional ones (TS 38.211 7.4.1.1.2).
  if (dmrsN < 1 || dmrsN > 4) {
    nrDiag("%s: %d DMRS symbols, expected 1 to 4\n", who, dmrsN);
    return false;
  }
  for (int k = 0; k < dmrsN; k++)
    if (dmrsSym[k] < 0 || dmrsSym[k] >= kSymbolsPerSlot) {
      nrDiag("%s: DMRS symbol %d outside the slot (0..%d)\n", who, dmrsSym[k], kSymbolsPerSlot - 1);
      return false;
    }
  return true;
}

bool nrCheckRmRow(const char* who, uint16_t first, uint16_t count, uint16_t period) {
  if (period == 0) {
    nrDiag("%s: rate-matching row from RB %u over %u RBs has period 0\n", who, first, count);
    return false;
  }
  if (count != 0 && static_cast<uint32_t>(first) + count > static_cast<uint32_t>(kMaxRb)) {
    nrDiag("%s: rate-matching row of RBs %u to %u reaches past RB %d\n", who, first,
           static_cast<uint32_t>(first) + count - 1, kMaxRb - 1);
    return false;
  }
  return true;
}

void nrSetCoresetDerived(NrCoresetCfg* cs) {
  const uint32_t regN = static_cast<uint32_t>(cs->allocNrb) * cs->duration;
  cs->regBundleRbN = static_cast<uint16_t>(cs->Lreg / cs->duration);
  cs->intvC = static_cast<uint16_t>(regN / (static_cast<uint32_t>(cs->Lreg) * cs->intvR));
  cs->regBundleN = static_cast<uint16_t>(regN / cs->Lreg);
}

// ---- Readers ------------------------------------------------------------------------------------

int32_t nrReadSysCfg(const char* path) {
  NrInputFile f;
  if (!openReported(path, &f)) return -1;
  nrPrintf("sucess to open file: %s!\n", path);
  int32_t regs[kSysRegN];
  const int count = readRegisterFile(&f, path, regs, kSysRegN, RegWidth::k16, true);
  if (count < 0) return -1;
  for (int i = 0; i < count; i++) sysRegData[i] = low16(regs[i]);

  if (count < kDefaultsFromShort)
    std::copy(std::begin(kSysDefaults28), std::end(kSysDefaults28), &sysRegData[kDefaultsFrom]);
  if (count < kDefaults2FromShort) {
    std::copy(std::begin(kSysDefaults38), std::end(kSysDefaults38), &sysRegData[kDefaults2From]);
  } else if (count >= kFullMainFile) {
    // The last register is the trailing copy of a file that ends in a line break.
    sysRegData[count - 1] = 0;
  }
  return count;
}

bool nrSysInit(const char* dir) {
  nrPrintf("=== nrSysInit() started ===\n");
  if (dir == nullptr) {
    nrDiag("nrSysInit: no directory given\n");
    return false;
  }
  nrPrintf("==> filepath = %s\n", dir);
  NrPath path;
  if (!nrBuildPath(path, "nrSysInit", "%s/NRPhy_configuration.txt", dir)) return false;
  nrPrintf("==> filepath = %s\n", dir);
  if (nrReadSysCfg(path) < 0) return false;

  const int16_t* s = sysRegData;
  if (s[0] < 0 || s[0] > kMaxRb || s[1] < 0) {
    nrDiag("%s: carrier of %d RBs, BWP from RB %d: need 0..%d RBs and a BWP offset >= 0\n", path,
           s[0], s[1], kMaxRb);
    return false;
  }
  if (!nrCheckCoresetCfg(path, s[3], s[4], s[5], s[34], s[35], s[36])) return false;
  if (s[38] != 0 && !nrCheckCoresetCfg(path, s[43], s[44], s[39], s[46], s[47], s[48]))
    return false;

  nrLoadCpPatternTbl();
  std::memset(gnrUeConfig.cellCfg.rbMap, 0, sizeof(gnrUeConfig.cellCfg.rbMap));
  gnrUeConfig.reserved1 = 0;
  gnrUeConfig.carrierCfg.nrb = static_cast<uint16_t>(s[0]);
  gnrUeConfig.bwpCfg.rbOffset = static_cast<uint16_t>(s[1]);
  gnrUeConfig.coresetN = 1;

  auto fill = [](NrCoresetCfg& cs, int16_t first, int16_t end, int16_t duration, const int16_t* p) {
    cs.allocNrb = static_cast<uint16_t>(end - first);
    for (int l = 0; l < cs.allocNrb; l++) cs.rbIdx[l] = static_cast<uint16_t>(first + l);
    cs.duration = static_cast<uint16_t>(duration);
    cs.CchIntvEn = static_cast<uint16_t>(p[0]);
    cs.Lreg = static_cast<uint16_t>(p[1]);
    cs.intvR = static_cast<uint16_t>(p[2]);
    cs.Nshift = static_cast<uint16_t>(p[3]);
    nrSetCoresetDerived(&cs);
  };
  fill(gnrUeConfig.coresetCfg[0], s[3], s[4], s[5], &s[34]);
  // The control-region RB list of the test flows lies one RB above the CORESET's indices.
  NrBwpCfg& bwp = gnrUeConfig.bwpCfg;
  bwp.rbIdxN = static_cast<uint16_t>(s[4] - s[3]);
  for (int l = 0; l < bwp.rbIdxN; l++) bwp.rbIdx[l] = static_cast<uint16_t>(s[3] + l + 1);
  if (s[38] != 0) {
    fill(gnrUeConfig.coresetCfg[gnrUeConfig.coresetN], s[43], s[44], s[39], &s[46]);
    gnrUeConfig.coresetN++;
  }
  nrPrintf("=== nrSysInit() exited ===\n");
  return true;
}

bool nrReadSectionCfg(const char* dir, const char* section) {
  if (gnrUeConfig.sysInitDone == 0) {
    nrPhyClearUeRecords();
    gnrUeConfig.sysInitDone = 1;
  }
  if (dir == nullptr || section == nullptr) {
    nrDiag("nrReadSectionCfg: no directory or section given\n");
    return false;
  }
  NrPath path;
  nrPrintf("==> filepath = %s\n", dir);
  if (!nrBuildPath(path, "nrReadSectionCfg", "%s/NRPhy_configuration_%s.txt", dir, section))
    return false;
  nrPrintf("==> filepath = %s\n", path);

  // Tested in this order: a name containing "com" is a com section whatever else it holds.
  const char* com = std::strstr(section, "com");
  const char* cch = com ? nullptr : std::strstr(section, "cch");
  const char* dch = com || cch ? nullptr : std::strstr(section, "dch");
  if (!com && !cch && !dch) {
    nrDiag("nrReadSectionCfg: section \"%s\" is none of com, cch, dch: not read\n", section);
    return false;
  }
  // The digit after cch / dch numbers the section's bitmap and rate-matching files.
  const int digit = cch ? sectionDigit(cch) : dch ? sectionDigit(dch) : 0;
  if (digit < 0) {
    nrDiag("nrReadSectionCfg: section \"%s\" lacks the digit after cch / dch: not read\n", section);
    return false;
  }

  NrInputFile f;
  if (!openReported(path, &f)) return false;
  if (com) return readComSection(&f, path);
  if (cch) return readCchSection(&f, path, dir, digit);
  return readDchSection(&f, path, dir, digit);
}

bool nrReadRbgBitmaps(const char* dir, uint8_t n, NrRbgTarget target) {
  const bool coreset = target == NrRbgTarget::kCoreset;
  if (dir == nullptr) {
    nrDiag("nrReadRbgBitmaps: no directory given\n");
    return false;
  }
  NrPath path;
  if (!nrBuildPath(path, "nrReadRbgBitmaps",
                   coreset ? "%s/coresetRBG_Bitmap%u.txt" : "%s/pdschRBG_Bitmap%u.txt", dir, n))
    return false;
  NrInputFile f;
  bool refused = false;
  if (!openOptional(path, &f, &refused)) return !refused;

  // The groups count from the configured first RB, so that reading the bitmap again gives the
  // same list.
  uint16_t* rbIdx = coreset ? gnrUeConfig.coresetCfg[0].rbIdx : gnrDchMwItf.pdschCfg.rbIdx;
  const uint32_t configured =
      coreset ? gnrUeConfig.coresetCfg[0].allocNrb : gnrDchMwItf.pdschCfg.rbN;
  const uint32_t firstRb = coreset ? cchRegData[0] : static_cast<uint32_t>(dchRegData[0]);
  if (configured == 0) {
    nrCloseInputFile(&f);
    return true;
  }
  uint32_t listed = 0;
  uint64_t rb = firstRb;
  uint64_t dropped = 0;
  bool otherValues = false;
  const bool ok = readCommaInts(&f, path, [&](const NrScannedInt& v) {
    if (v.wrapped == 1) {
      if (listed + kRbgSize > static_cast<uint32_t>(kMaxRb) || rb + kRbgSize > kMaxRb) {
        dropped++;
      } else {
        for (int k = 0; k < kRbgSize; k++) rbIdx[listed++] = static_cast<uint16_t>(rb + k);
      }
    } else if (v.wrapped != 0) {
      otherValues = true;
    }
    rb += kRbgSize;
    return true;
  });
  if (otherValues) nrDiag("%s: entries other than 0 and 1 are taken as 0\n", path);
  if (dropped != 0)
    nrDiag("%s: %llu groups beyond RB %d or the %d RB indices dropped\n", path,
           static_cast<unsigned long long>(dropped), kMaxRb - 1, kMaxRb);
  if (ok && listed != configured)
    nrDiag("%s: the bitmap lists %u RBs for the %u configured%s\n", path, listed, configured,
           listed < configured ? "; the rest keep their contiguous indices" : "");
  return ok;
}

bool nrReadRateMatchCfg(const char* dir, uint8_t n) {
  if (dir == nullptr) {
    nrDiag("nrReadRateMatchCfg: no directory given\n");
    return false;
  }
  NrPath path;
  if (!nrBuildPath(path, "nrReadRateMatchCfg", "%s/dchRateMatchConifg%u.txt", dir, n)) return false;
  NrInputFile f;
  bool refused = false;
  if (!openOptional(path, &f, &refused)) return !refused;

  NrDchMwItf& itf = gnrDchMwItf;
  int row = 0;
  int col = 0;
  uint64_t dropped = 0;
  bool badRow = false;
  bool ok = readCommaInts(&f, path, [&](const NrScannedInt& v) {
    if (row >= kRmRowCap) {
      dropped++;
      return true;
    }
    itf.rmCfg[row][col++] = static_cast<int16_t>(static_cast<uint16_t>(v.wrapped));
    if (col < kRmRowLen) return true;
    const int16_t* r = itf.rmCfg[row];
    char who[kMaxPathLen + 32];
    std::snprintf(who, sizeof(who), "%s row %d", path, row + 1);
    if (!nrCheckRmRow(who, static_cast<uint16_t>(r[0]), static_cast<uint16_t>(r[1]),
                      static_cast<uint16_t>(r[2]))) {
      badRow = true;
      return false;
    }
    col = 0;
    itf.rmCfgN = static_cast<uint16_t>(++row);
    return true;
  });
  if (dropped != 0)
    nrDiag("%s: values beyond the %d rows dropped (%llu values)\n", path, kRmRowCap,
           static_cast<unsigned long long>(dropped));
  if (badRow) {
    // A file with a broken row describes no reliable map: none of its rows is applied.
    itf.rmCfgN = 0;
    ok = false;
  }
  return ok;
}

void nrPhyClearUeRecords() {
  std::memset(&gnrCchMwItf, 0, sizeof(gnrCchMwItf));
  std::memset(&gnrDchMwItf, 0, sizeof(gnrDchMwItf));
  std::memset(&gnrUeConfig, 0, sizeof(gnrUeConfig));
  std::memset(comRegData, 0, sizeof(comRegData));
  std::memset(cchRegData, 0, sizeof(cchRegData));
  std::memset(dchRegData, 0, sizeof(dchRegData));
  std::memset(sysRegData, 0, sizeof(sysRegData));
}
