#include "config/mw_interface.h"

#include <cstring>

#include "config/config_files.h"
#include "config/console.h"
#include "config/slot_update.h"
#include "config/tv_sample.h"

namespace {

// Values of the test flows' search spaces and DCIs that the files do not carry.
constexpr uint16_t kMonPeriod = 5;
constexpr uint8_t kSsParamA = 10;
constexpr uint8_t kSsParamB = 2;
constexpr uint16_t kSsParamC = 4;
constexpr uint8_t kSsList[2] = {0, 3};
constexpr uint8_t kDciAggrL = 8;
constexpr uint32_t kDciAux = 15;

void fillSearchSpace(NrSearchSpaceCfg& ss, uint8_t startSymbol) {
  ss.startSymbol = startSymbol;
  ss.monSymBitmap = static_cast<uint16_t>(1u << startSymbol);
  ss.monPeriod = kMonPeriod;
  ss.coresetId = 0;
  ss.ssParamA = kSsParamA;
  ss.ssParamC = kSsParamC;
  ss.ssParamB = kSsParamB;
  ss.ssList[0] = kSsList[0];
  ss.ssList[1] = kSsList[1];
}

void fillDci(NrCchMwItf& itf, int i, uint16_t payloadSize, uint16_t ueSpecific) {
  itf.dciEn[i] = 1;
  itf.aggrL[i] = kDciAggrL;
  itf.cceStart[i] = 0;
  itf.dciAux[i] = kDciAux;
  itf.payloadSize[i] = payloadSize;
  itf.ueSpecific[i] = ueSpecific;
}

// The PDSCH values a configuration file gives in one block (main file from index 16 or 51, dch
// section from index 2), in file order.
struct PdschRegs {
  int32_t firstSym, lastSym;
  int32_t dmrsN;
  int32_t dmrsSym[4];
  int32_t cdmGrpNoData, layerN;
  int32_t rnti, tbSize;
  int32_t Qm, reservedByte;
  int32_t ports[4];
};

// Fills the PDSCH of gnrDchMwItf from checked values (symbols and DMRS inside the slot).
void fillPdsch(const PdschRegs& r) {
  NrPdschCfg& d = gnrDchMwItf.pdschCfg;
  d.bwpRbOffset = gnrUeConfig.bwpCfg.rbOffset;
  // Bits firstSym .. lastSym.
  d.symBitmap =
      static_cast<uint16_t>(((1u << (r.lastSym + 1)) - 1) & (((1u << r.firstSym) - 1) ^ 0x3FFFu));
  d.Qm = static_cast<uint32_t>(r.Qm);
  d.layerN = static_cast<uint8_t>(r.layerN);
  d.reserved1 = 0;
  d.reserved2 = 2;
  d.dmrsType = 1;
  d.dmrsFirstSym = static_cast<uint8_t>(r.dmrsSym[0]);
  d.dmrsEn = 1;
  d.dmrsAddPosN = static_cast<uint8_t>(r.dmrsN - 1);
  for (int k = 0; k < 3; k++) d.dmrsAddPos[k] = static_cast<uint8_t>(r.dmrsSym[k + 1]);
  d.reserved5 = static_cast<uint8_t>(r.reservedByte);
  for (int k = 0; k < 4; k++) d.dmrsPorts[k] = static_cast<uint16_t>(r.ports[k]);
  d.reserved4 = 1;
  d.dmrsPortIdx[0] = 0;
  d.dmrsPortIdx[1] = 1;
  d.dmrsPortIdx[2] = 0xFF;
  d.cdmGrpNoData = static_cast<uint8_t>(r.cdmGrpNoData);
  d.dmrsScrId0 = 0;
  d.dmrsScrId1 = 0;
  d.reserved3[0] = 1;
  d.reserved3[1] = 2;
  d.reserved3[2] = 0;
  d.reserved3[3] = 0;
  gnrDchMwItf.rnti = static_cast<uint16_t>(r.rnti);
  gnrDchMwItf.tbSize = static_cast<uint32_t>(r.tbSize);
}

bool pdschRegsValid(const char* who, const PdschRegs& r) {
  return nrCheckPdschSymbols(who, r.firstSym, r.lastSym, r.dmrsN, r.dmrsSym);
}

void applyRow(uint16_t first, uint16_t count, uint16_t period, uint16_t mask, uint16_t symbols) {
  for (uint32_t i = 0; i < count; i += period)
    for (int j = 0; j < kSymbolsPerSlot; j++)
      if ((symbols >> j) & 1) gnrDchMwItf.rmMap[j][first + i] |= mask;
}

}  // namespace

bool nrCchmwInterfConf() {
  nrPrintf("=== nrCchmwInterfConf() started ===\n");
  const int16_t* s = sysRegData;
  const bool second = s[38] != 0;
  if (!nrCheckStartSymbol("nrCchmwInterfConf: sysRegData[6]", s[6]) ||
      (second && !nrCheckStartSymbol("nrCchmwInterfConf: sysRegData[40]", s[40])))
    return false;
  NrCchMwItf& itf = gnrCchMwItf;
  itf.bwpId = 0;
  itf.dciN = 1;
  NrSearchSpaceCfg& ss = itf.searchSpaceCfg[0];
  fillSearchSpace(ss, static_cast<uint8_t>(s[6]));
  ss.monSlot = static_cast<uint16_t>(s[12]);
  fillDci(itf, 0, static_cast<uint16_t>(s[8]), static_cast<uint16_t>(s[9]));
  if (second) {
    NrSearchSpaceCfg& ss1 = itf.searchSpaceCfg[itf.dciN];
    ss1.startSymbol = static_cast<uint8_t>(s[40]);
    ss1.monSymBitmap = static_cast<uint16_t>(1u << s[40]);
    itf.payloadSize[itf.dciN] = static_cast<uint16_t>(s[42]);
    itf.ueSpecific[itf.dciN] = static_cast<uint16_t>(s[45]);
    itf.dciN++;
  }
  nrPrintf("=== nrCchmwInterfConf() exited ===\n");
  return true;
}

bool mw_detail::buildCchItf(const char* name) {
  if (gnrCchMwItf.cchItfDone == 1) return true;
  nrPrintf("===>>>> %s() started ===\n", name);
  const uint16_t* q = cchRegData;
  if (!nrCheckStartSymbol("cchRegData[3]", q[3])) return false;
  std::memset(&gnrCchMwItf, 0, sizeof(gnrCchMwItf));
  NrCchMwItf& itf = gnrCchMwItf;
  itf.bwpId = 0;
  itf.dciN = 1;
  fillSearchSpace(itf.searchSpaceCfg[0], static_cast<uint8_t>(q[3]));
  fillDci(itf, 0, q[5], q[6]);
  itf.cchItfDone = 1;
  nrPrintf("=== %s() exited ===>>>>\n", name);
  return true;
}

bool nrUpdateCchMdwInterf() { return mw_detail::buildCchItf("nrUpdateCchMdwInterf"); }

uint8_t mw_detail::buildDchItf(const char* name) {
  if (gnrDchMwItf.dchItfDone == 1) return kDchItfAlreadyBuilt;
  nrPrintf("===>>>> %s() started ===\n", name);
  if (!nrUpdateCchMdwInterf()) return kDchItfRefused;

  const int32_t* d = dchRegData;
  const PdschRegs r = {d[2],  d[3],  d[4],  {d[5], d[6], d[7], d[8]},    d[9], d[10], d[11],
                       d[12], d[14], d[15], {d[16], d[17], d[18], d[19]}};
  if (!pdschRegsValid("dchRegData", r)) return kDchItfRefused;
  NrDchMwItf& itf = gnrDchMwItf;
  const int rows = itf.rmCfgN < kRmRowCap ? itf.rmCfgN : kRmRowCap;
  for (int i = 0; i < rows; i++) {
    const int16_t* row = itf.rmCfg[i];
    if (!nrCheckRmRow("rmCfg", static_cast<uint16_t>(row[0]), static_cast<uint16_t>(row[1]),
                      static_cast<uint16_t>(row[2])))
      return kDchItfRefused;
  }

  fillPdsch(r);
  // 1 - D[20] in 16 bits (any 32-bit value, without signed overflow).
  itf.pdcchPresent = static_cast<uint16_t>(1u - static_cast<uint32_t>(d[20]));
  for (int i = 0; i < rows; i++) {
    const int16_t* row = itf.rmCfg[i];
    applyRow(static_cast<uint16_t>(row[0]), static_cast<uint16_t>(row[1]),
             static_cast<uint16_t>(row[2]), static_cast<uint16_t>(row[3]),
             static_cast<uint16_t>(row[4]));
  }
  itf.dchItfDone = 1;
  nrPrintf("=== %s() exited ===>>>>\n", name);
  return kDchItfBuilt;
}

uint8_t nrUpdateDchMdwInterf() { return mw_detail::buildDchItf("nrUpdateDchMdwInterf"); }

bool nrApplyRmRow(uint16_t first, uint16_t count, uint16_t period, uint16_t mask,
                  uint16_t symbols) {
  if (!nrCheckRmRow("nrApplyRmRow", first, count, period)) return false;
  applyRow(first, count, period, mask, symbols);
  return true;
}

bool nrUeDchItfFromSys(uint8_t n) {
  const int16_t* s = sysRegData;
  if (!nrCheckPdschRbs("nrUeDchItfFromSys: sysRegData[10..11]", s[10], s[11])) return false;
  // The front end scans this many RBs of the occupancy map: the whole carrier.
  gnrUeConfig.bwpCfg.nrb = gnrUeConfig.carrierCfg.nrb;
  NrPdschCfg& pdsch = gnrDchMwItf.pdschCfg;
  pdsch.rbN = static_cast<uint16_t>(s[11]);
  pdsch.bwpRbOffset = gnrUeConfig.bwpCfg.rbOffset;
  for (int i = 0; i < pdsch.rbN; i++) pdsch.rbIdx[i] = static_cast<uint16_t>(s[10] + i);

  if (n == 1 && s[50] == 0) {
    nrPrintf("not configed the second PDSCH \n");
    return false;
  }
  if (n > 1) {
    nrDiag("nrUeDchItfFromSys: PDSCH %u requested, the main file describes PDSCH 0 and 1\n", n);
    return false;
  }
  // PDSCH 1 follows PDSCH 0's layout from index 51 on, without the redundancy version.
  const int b = n == 0 ? 16 : 51;
  const int q = n == 0 ? 28 : 63;
  // RNTI and TBS are unsigned: their 16 stored bits read as such.
  const PdschRegs r = {s[b],
                       s[b + 1],
                       s[b + 2],
                       {s[b + 3], s[b + 4], s[b + 5], s[b + 6]},
                       s[b + 7],
                       s[b + 8],
                       static_cast<uint16_t>(s[b + 9]),
                       static_cast<uint16_t>(s[b + 10]),
                       s[q],
                       s[q + 1],
                       {s[q + 2], s[q + 3], s[q + 4], s[q + 5]}};
  if (!pdschRegsValid(n == 0 ? "nrUeDchItfFromSys: sysRegData[16..33]"
                             : "nrUeDchItfFromSys: sysRegData[51..68]",
                      r))
    return false;
  fillPdsch(r);
  return true;
}

uint8_t nrPhylibUpdateCchDataForSlot(uint16_t slot) {
  nrPrintf("===>>>> nrPhylibUpdateCchDataForSlot() started ===\n");
  gnrUeConfig.cellCfg.nId = 0;
  gnrCchMwItf.cellCfg = gnrUeConfig.cellCfg;
  if (!nrCutTvSlot(slot, &gnrUeConfig.cellCfg)) return 0;
  nrPrintf("=== nrPhylibUpdateCchDataForSlot() exited ===>>>>\n");
  return 1;
}

uint8_t nrPhylibUpdateDchDataForSlot(uint16_t slot) {
  if (gnrDchMwItf.dchSlotDone == 1) return kSlotDataAlreadyDone;
  nrPrintf("===>>>> nrPhylibUpdateDchDataForSlot() started ===\n");
  gnrCchMwItf.cellCfg = gnrUeConfig.cellCfg;
  if (!nrCutTvSlot(slot, &gnrUeConfig.cellCfg)) return kSlotDataRefused;
  nrGenSsRbMap(gnrUeConfig.cellCfg.rbMap, slot, gnrDchMwItf.pdcchPresent,
               &gnrCchMwItf.searchSpaceCfg[0], gnrUeConfig.coresetCfg, &gnrDchMwItf.pdschCfg);
  gnrDchMwItf.cellCfg = gnrUeConfig.cellCfg;
  gnrDchMwItf.pdschCfg.rvIdx = rvIdxLoop[slot % 4];
  gnrDchMwItf.dchSlotDone = 1;
  nrPrintf("=== nrPhylibUpdateDchDataForSlot() exited ===>>>>\n");
  return kSlotDataPrepared;
}
