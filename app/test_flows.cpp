#include "app/test_flows.h"

#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "config/config_files.h"
#include "config/console.h"
#include "config/mw_interface.h"
#include "config/slot_config_gen.h"
#include "config/slot_update.h"
#include "config/tv_sample.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/common/dmrs.h"
#include "phy/common/sequence.h"
#include "phy/common/tbs.h"
#include "phy/rx/file_slot_rx.h"
#include "phy/rx/pdcch_rx.h"
#include "phy/rx/pdsch_rx.h"

namespace {

constexpr int kSectionN = 3;
constexpr int kSectionNameCap = 20;  // FileName entries: up to 19 characters
constexpr int kSlotNumberN = 8;
constexpr int kUeTestSlotN = 2;
const char* const kSectionBase[kSectionN] = {"com", "cch", "dch"};
constexpr int kSectionDigitAt = 3;  // "cch" + digit

using FilePath = char[kTestFilePathCap];
using SectionNames = char[kSectionN][kSectionNameCap];

// gFilePath = dir; a longer one than it holds is refused (reported).
bool setFilePath(FilePath gFilePath, const char* who, const char* dir) {
  const std::size_t len = std::strlen(dir);
  if (len >= sizeof(FilePath)) {
    nrDiag("%s: directory of %zu characters, at most %zu: nothing read\n", who, len,
           sizeof(FilePath) - 1);
    return false;
  }
  std::memcpy(gFilePath, dir, len + 1);
  return true;
}

// Reads the sections "com", "cch", "dch" whose fourth character is '1' + iteration.
bool readSections(const char* gFilePath, SectionNames FileName, int iteration) {
  bool ok = true;
  for (int k = 0; k < kSectionN; k++) {
    std::strncpy(FileName[k], kSectionBase[k], kSectionNameCap - 1);
    FileName[k][kSectionDigitAt] = static_cast<char>('1' + iteration);
    FileName[k][kSectionDigitAt + 1] = '\0';
    ok = nrReadSectionCfg(gFilePath, FileName[k]) && ok;
  }
  return ok;
}

// Waits for one key press without echo and returns its code (kNrNoKey at the end of input).
int readKey() {
  termios saved{};
  const bool raw = tcgetattr(STDIN_FILENO, &saved) == 0;
  if (raw) {
    termios t = saved;
    t.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &t);
  }
  unsigned char c = 0;
  ssize_t n;
  do {
    n = read(STDIN_FILENO, &c, 1);
  } while (n < 0 && errno == EINTR);
  if (raw) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
  return n == 1 ? c : kNrNoKey;
}

// The cell block the per-slot update fills: without it a slot cannot be cut (FFT size 0) or
// received (no antenna, no cyclic prefix).
bool cellBlockFilled(const char* who) {
  const NrCellCfg& cell = gnrUeConfig.cellCfg;
  if (cell.fftSize != 0 && cell.antPortN != 0 && cell.cpLen[0] != 0) return true;
  nrDiag(
      "%s: no cell block (FFT size %u, %u antennas, first CP %u): run the per-slot update "
      "(updateSystemConfiguration) first\n",
      who, cell.fftSize, cell.antPortN, cell.cpLen[0]);
  return false;
}

// Slot `slot` of the test-vector store into ueRxSample for every receive antenna, when the cell
// block is there and the files read last hold the slot.
bool copySlot(const char* who, uint16_t slot) {
  const NrCellCfg* cell = &gnrUeConfig.cellCfg;
  return cellBlockFilled(who) && nrTvSlotHeld(who, slot, cell) && nrCutTvSlot(slot, cell);
}

// Steps of genCChConfiguration before the samples: system initialisation, the sample files, the
// control interface from the main file.
bool cchSetup(const char* dir) {
  if (!nrSysInit(dir)) return false;
  nrUeGetFileData(dir);  // a file that falls short refuses the slot when it is cut
  gnrUeConfig.cellCfg.nId = 0;
  gnrCchMwItf.cellCfg = gnrUeConfig.cellCfg;
  return nrCchmwInterfConf();
}

// Marks RBs of the symbols first .. first + duration - 1 with value.
void markRbs(int32_t (*map)[kMaxRb], int first, int duration, const uint16_t* rbs, int rbN,
             int32_t value) {
  for (int l = first; l < first + duration && l < kSymbolsPerSlot; l++)
    for (int i = 0; i < rbN && i < kMaxRb; i++)
      if (rbs[i] < kMaxRb) map[l][rbs[i]] = value;
}

// Occupancy map of the configuration steps in the cell block of gnrUeConfig, from the first
// search space of gnrCchMwItf. For its i-th monitored symbol j: when i is among the first
// startSymbol entries of ssList, the control RB list of the BWP is control on the CORESET's
// symbols from j; the receive map (rxMap) marks CORESET 0's RBs there in any case. Then the
// PDSCH's REs as PDSCH where still free.
void genOccupancyMap(bool rxMap) {
  int32_t(*map)[kMaxRb] = gnrUeConfig.cellCfg.rbMap;
  std::memset(gnrUeConfig.cellCfg.rbMap, 0, sizeof(gnrUeConfig.cellCfg.rbMap));
  const NrSearchSpaceCfg& ss = gnrCchMwItf.searchSpaceCfg[0];
  const NrBwpCfg& bwp = gnrUeConfig.bwpCfg;
  const NrCoresetCfg& cs0 = gnrUeConfig.coresetCfg[0];
  // The search space's coresetId is taken as the position of its CORESET entry.
  const int duration = ss.coresetId < 3 ? gnrUeConfig.coresetCfg[ss.coresetId].duration : 0;
  const int listN = ss.startSymbol < sizeof(ss.ssList) ? ss.startSymbol : sizeof(ss.ssList);
  int i = 0;
  for (int j = 0; j < kSymbolsPerSlot; j++) {
    if (((ss.monSymBitmap >> j) & 1) == 0) continue;
    bool listed = false;
    for (int e = 0; e < listN; e++) listed = listed || ss.ssList[e] == i;
    if (listed) markRbs(map, j, duration, bwp.rbIdx, bwp.rbIdxN, kRbControl);
    if (rxMap) markRbs(map, j, duration, cs0.rbIdx, cs0.allocNrb, kRbControl);
    i++;
  }
  const NrPdschCfg& pdsch = gnrDchMwItf.pdschCfg;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (((pdsch.symBitmap >> l) & 1) == 0) continue;
    for (int r = 0; r < pdsch.rbN && r < kMaxRb; r++)
      if (pdsch.rbIdx[r] < kMaxRb && map[l][pdsch.rbIdx[r]] == kRbFree)
        map[l][pdsch.rbIdx[r]] = kRbPdsch;
  }
}

// Steps shared by genDChConfiguration and genDChRxConfiguration up to the occupancy map.
bool dchSetup(const char* who, const char* dir, uint16_t slot, uint8_t n, bool rxMap) {
  if (!cchSetup(dir) || !nrUeDchItfFromSys(n) || !copySlot(who, slot)) return false;
  genOccupancyMap(rxMap);
  gnrDchMwItf.cellCfg = gnrUeConfig.cellCfg;
  return true;
}

// One slot of nrUeTestMain (steps 2.1 to 2.9).
void ueTestSlot(const char* gFilePath, SectionNames FileName, int p, uint16_t slot,
                NrUeSlotOutcome* r) {
  *r = NrUeSlotOutcome{};
  r->slot = slot;
  // The slot is configured from its own files: the first section read clears the UE records.
  gnrUeConfig.sysInitDone = 0;
  nrPhylibLoadDataFile(gFilePath);
  r->configured = readSections(gFilePath, FileName, p) && updateSystemConfiguration(slot);
  if (!r->configured) {
    nrDiag("nrUeTestMain: slot %u not received: its configuration (%s, %s, %s) was refused\n", slot,
           FileName[0], FileName[1], FileName[2]);
  } else {
    r->samplesHeld = nrTvSlotHeld("nrUeTestMain", slot, &gnrUeConfig.cellCfg);
    nrUpdateCchMdwInterf();
    if (nrPhylibUpdateCchDataForSlot(slot) == 1 && r->samplesHeld)
      r->dciN = nrUeCchBlindDetect(ueRxSample, &gnrCchMwItf, gnrUeConfig.coresetCfg,
                                   &gnrUeConfig.bwpCfg, slot);
  }
  NrDchMwItf* dch = &gnrDchMwItf;
  if (r->configured && r->samplesHeld) {
    nrUpdateDchMdwInterf();
    r->pdcchExpected = dch->pdcchPresent != 0;
    // The front end runs once per slot; nrPhylibUpdateDecDataForSlot then takes its verdict.
    const uint8_t prepared = nrPhylibUpdateDchDataForSlot(slot);
    if (prepared == kSlotDataPrepared)
      nrUeDchRxProc(ueRxSample, dch, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                    static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), slot);
    if (prepared != kSlotDataRefused) r->valid = nrPhylibUpdateDecDataForSlot(slot);
  }
  // The transmitter's data-scrambling initialiser: RNTI x 2^15 + n_ID.
  const uint32_t cInit = nrPdschDataCinit(dch->rnti, dch->cellCfg.nId);
  if (r->valid != 0) {
    r->decoded = nrDlschDecode(dch->tbSize, dch->codedBitN, dch->codeRate,
                               static_cast<int32_t>(cInit), dch->pdschCfg.Qm, dch->pdschCfg.rvIdx,
                               ueLlrBuf, dch->pdschCfg.layerN, dch->pdschCfg.codeRate);
    nrPrintf("the PDSCH decode  finished\n");
  } else {
    nrPrintf("the PDSCH decode: invalid data, cannot do dec \n");
  }
  r->ok = r->decoded == 1 && (!r->pdcchExpected || r->dciN > 0);
  if (r->valid != 0 && r->decoded != 1)
    nrDiag("nrUeTestMain: slot %u: the transport block failed its CRC\n", slot);
  if (r->decoded == 1 && !r->ok)
    nrDiag("nrUeTestMain: slot %u: the dch section announces a PDCCH, none was detected\n", slot);
  gnrUeConfig.sysInitDone = 0;
}

}  // namespace

int nrGnbTestMain(const char* dir, bool* ok) {
  nrPrintf("===>>gNB test Main  \n");
  nrGenDefaultSlotCfg();
  FilePath gFilePath;
  SectionNames FileName;
  const uint16_t slotNumberArr[kSlotNumberN] = {0, 1};
  bool configured = setFilePath(gFilePath, "nrGnbTestMain", dir ? dir : kGnbTestDefaultDir);
  // The first slot only.
  for (int p = 0; p < 1 && configured; p++) {
    const uint16_t slot = slotNumberArr[p];
    configured = readSections(gFilePath, FileName, p) && updateSystemConfiguration(slot);
    if (!configured) {
      nrDiag("nrGnbTestMain: slot %u not configured: its sections were refused\n", slot);
      break;
    }
    configured = nrPrintDmrsPos(slot, &gnrUeConfig, &gnrDchMwItf);
    nrCalcDchTbs(0, &gnrDchMwItf.pdschCfg);
  }
  if (ok) *ok = configured;
  if (!isatty(STDIN_FILENO)) return kNrNoKey;
  nrDiag("nrGnbTestMain: press a key to end\n");
  return readKey();
}

int nrUeTestMain(const char* dir, NrUeTestReport* report) {
  NrUeTestReport local;
  NrUeTestReport* rep = report ? report : &local;
  *rep = NrUeTestReport{};
  FilePath gFilePath;
  SectionNames FileName;
  const uint16_t slotNumberArr[kSlotNumberN] = {2, 4, 6};
  if (!setFilePath(gFilePath, "nrUeTestMain", dir ? dir : kUeTestDefaultDir)) gFilePath[0] = '\0';
  rep->allOk = true;
  for (int p = 0; p < kUeTestSlotN; p++) {
    NrUeSlotOutcome& r = rep->slot[p];
    if (gFilePath[0] == '\0') {
      // No directory to read: the slot gives no data.
      r = NrUeSlotOutcome{};
      r.slot = slotNumberArr[p];
      nrPrintf("the PDSCH decode: invalid data, cannot do dec \n");
    } else {
      ueTestSlot(gFilePath, FileName, p, slotNumberArr[p], &r);
    }
    rep->allOk = rep->allOk && r.ok;
    rep->slotsProcessed++;
  }
  return rep->slotsProcessed;
}

bool nrPrintDmrsPos(uint16_t /*slot*/, const NrUeConfig* /*ueConfig*/, const NrDchMwItf* dchItf) {
  uint8_t dmrsPos[kScPerRb] = {};
  uint8_t symbolFlag[kSymbolsPerSlot] = {};
  return nrGetDmrsPos(dmrsPos, symbolFlag, &dchItf->pdschCfg);
}

uint8_t genCChConfiguration(const char* dir, int16_t slot) {
  nrPrintf("=== genCChConfiguration() started ===\n");
  if (slot < 0) {
    nrDiag("genCChConfiguration: slot %d is negative: nothing done\n", slot);
    return 0;
  }
  if (!cchSetup(dir) || !copySlot("genCChConfiguration", static_cast<uint16_t>(slot))) return 0;
  nrPrintf("=== genCChConfiguration() exited ===\n");
  return 1;
}

int32_t genDChConfiguration(const char* dir, uint16_t slot, uint8_t n) {
  if (!dchSetup("genDChConfiguration", dir, slot, n, false)) return kGenDchRefused;
  gnrDchMwItf.pdschCfg.rvIdx = rvIdxLoop[slot % 4];
  return slot % 4;
}

uint8_t genDChRxConfiguration(const char* dir, uint16_t slot, uint8_t n) {
  if (!dchSetup("genDChRxConfiguration", dir, slot, n, true)) return 0;
  // TS 38.212 5.4.2.1: redundancy versions 0 .. 3.
  const int16_t rv = sysRegData[27];
  if (rv < 0 || rv > 3) {
    nrDiag("genDChRxConfiguration: rvIdx %d of the main file (index 27) outside 0 .. 3\n", rv);
    return 0;
  }
  NrDchMwItf* dch = &gnrDchMwItf;
  dch->pdschCfg.rvIdx = static_cast<uint8_t>(rv);
  const uint8_t valid =
      nrUeDchRxProc(ueRxSample, dch, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                    static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), slot)
          ? 1
          : 0;
  nrUeDchSetCodeRate(dch);
  return valid;
}

uint8_t genSlotRxData(const char* dir, uint16_t slot) {
  nrUeGetFileData(dir);  // a file that falls short refuses the slot below
  return copySlot("genSlotRxData", slot) ? 1 : 0;
}
