// Configuration files of a test-vector directory: the main parameter list
// "NRPhy_configuration.txt" (sysRegData), the per-slot section files
// "NRPhy_configuration_<com|cch|dch><digit>.txt" (comRegData, cchRegData, dchRegData), the RB-group
// bitmaps and the rate-matching rows; system initialisation from the main file and the one-time
// clear of the UE records.
//
// Register files: a title line, then one value per line optionally followed by free text (the
// parameter's name). Values are read as: rest of the line as text, then the next integer after
// white space; where no integer follows, the previous value is stored again, so a file ending
// in a line break stores its last value twice. The main file and the com/cch sections keep the
// low 16 bits of each value, the dch section all 32.
//
// Bitmap and rate-matching files: integers each followed by a comma ("1,0,1,"), white space and
// line breaks free; reading stops at the end or at the first item that is not an integer.
#pragma once

#include <cstdint>

#include "config/nr_config.h"

constexpr int kSysRegN = 70;
constexpr int kComRegN = 4;
constexpr int kCchRegN = 12;
constexpr int kDchRegN = 23;
constexpr int kRmRowCap = 128;
constexpr int kRmRowLen = 5;  // first RB (PDSCH-relative), RB count, RB period, mask, symbols
constexpr int kRbgSize = 6;   // RBs per group of an RB-group bitmap
// dchRegData[21] of a dch section too short to hold its MCS index: no code rate.
constexpr int32_t kNoMcsIndex = 32;

// Reads "NRPhy_configuration.txt" at path into sysRegData. Prints "sucess to open file: %s!\n"
// or "Fail to open file: %s!\n". A file of the older layout (its tenth value line followed by
// "PDSCHRBOffset") has that value moved to index 10 and index 9 set to 0. A file shorter than 39
// registers receives the defaults of indices 28..37, one shorter than 45 those of 38..68; from 69
// registers on, the last one (the trailing copy) is set to 0. Values beyond 70 registers are
// dropped (reported). Returns the number of registers stored, -1 when the file could not be read.
int32_t nrReadSysCfg(const char* path);

// Reads dir + "/NRPhy_configuration.txt" and sets the carrier, BWP and CORESETs of gnrUeConfig
// from it (the cell block is left to the per-slot update). Refuses (false, reported) a file that
// cannot be read and CORESET values outside what the records hold (see nrCheckCoresetCfg).
bool nrSysInit(const char* dir);

// Reads the section file dir + "/NRPhy_configuration_" + section + ".txt". The first read of a
// process (or after a received slot) clears the UE records first. "com": comRegData. "cch":
// cchRegData, CORESET 0 of gnrUeConfig (allocNrb, rbIdx) and the CORESET RB-group bitmap of the
// section's digit. "dch": dchRegData, the PDSCH of gnrDchMwItf (rbN, rbIdx, codeRate from the
// MCS index), its RB-group bitmap and its rate-matching rows. Refused (false, reported, registers
// unchanged): a name without com/cch/dch (or cch/dch without a digit after it), a path over the
// limit, a file that cannot be read, and values the records cannot hold. Returns false also when
// the section's bitmap or rate-matching file was refused.
bool nrReadSectionCfg(const char* dir, const char* section);

enum class NrRbgTarget : uint8_t { kCoreset, kPdsch };

// Applies dir + "/coresetRBG_Bitmap<n>.txt" to CORESET 0 of gnrUeConfig (kCoreset, from the
// configured first RB cchRegData[0]) or dir + "/pdschRBG_Bitmap<n>.txt" to the PDSCH of
// gnrDchMwItf (kPdsch, from dchRegData[0]): each entry stands for 6 RBs; an entry 1 lists them
// in rbIdx. allocNrb / rbN stay as configured. A missing file, or no RBs configured, is no
// error and changes nothing. Groups beyond the 280 RB indices or past RB 279 are dropped
// (reported). Returns false when the file exists but cannot be read.
bool nrReadRbgBitmaps(const char* dir, uint8_t n, NrRbgTarget target);

// Reads dir + "/dchRateMatchConifg<n>.txt" into rmCfg of gnrDchMwItf, five values per row (first
// RB relative to the PDSCH's first RB, RB count, RB period, RE mask, symbol bitmap); rmCfgN counts
// the complete rows. A missing file is no error. Rows beyond 128 are dropped (reported). A row
// with period 0 or reaching past RB 279 refuses the file: reported, rmCfgN = 0, false.
bool nrReadRateMatchCfg(const char* dir, uint8_t n);

// Clears gnrCchMwItf, gnrDchMwItf, gnrUeConfig (with sysInitDone) and the four register arrays.
void nrPhyClearUeRecords();

// ---- Checks shared by the readers and the builders ----------------------------------------------
// Each reports the first problem on the error stream as "<who>: ..." and returns false.

// A CORESET from first RB to end RB (exclusive): 0 <= first <= end <= 280, duration 1..3, Lreg
// and intvR non-zero, and for an interleaved CORESET (intvEn non-zero) at least one interleaver
// column (allocNrb x duration >= Lreg x intvR, TS 38.211 7.3.2.2).
bool nrCheckCoresetCfg(const char* who, int32_t firstRb, int32_t endRb, int32_t duration,
                       int32_t intvEn, int32_t Lreg, int32_t intvR);
// A search-space first symbol inside the slot (0..13).
bool nrCheckStartSymbol(const char* who, int32_t startSymbol);
// PDSCH RBs first .. first + rbN - 1 inside the 280-RB grid.
bool nrCheckPdschRbs(const char* who, int32_t firstRb, int32_t rbN);
// PDSCH symbols first .. last inside the slot, 1..4 DMRS symbols (dmrsSym[0 .. dmrsN-1]) inside it.
bool nrCheckPdschSymbols(const char* who, int32_t firstSym, int32_t lastSym, int32_t dmrsN,
                         const int32_t dmrsSym[4]);
// A rate-matching row: period non-zero, RBs first .. first + count - 1 below 280.
bool nrCheckRmRow(const char* who, uint16_t first, uint16_t count, uint16_t period);

// regBundleRbN, intvC and regBundleN of a CORESET from allocNrb, duration, Lreg and intvR
// (checked by nrCheckCoresetCfg: no zero divisor).
void nrSetCoresetDerived(NrCoresetCfg* cs);
