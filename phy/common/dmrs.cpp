#include "phy/common/dmrs.h"

#include "config/console.h"
#include "phy/common/sequence.h"

namespace {

// CDM group lambda by type and list position (TS 38.211 Tables 7.4.1.1.2-1/-2, ports 1000 on).
// Type 1 defines eight ports; the last four positions are taken as group 0.
constexpr uint8_t kCdmGroup[2][kDmrsMaxPorts] = {{0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0},
                                                 {0, 0, 1, 1, 2, 2, 0, 0, 1, 1, 2, 2}};

}  // namespace

int nrDmrsPortCount(const NrPdschCfg* pdsch) {
  int n = 0;
  while (n < kDmrsMaxPorts && pdsch->dmrsPortIdx[n] != kDmrsPortListEnd) n++;
  return n;
}

int nrDmrsCdmGroup(uint8_t type, int j) {
  return kCdmGroup[type == 1 ? 0 : 1][j < 0 ? 0 : j % kDmrsMaxPorts];
}

uint16_t nrDmrsGroupSc(uint8_t type, int group) {
  uint16_t m = 0;
  if (type == 1) {
    for (int n = 0; n < 3; n++) m |= static_cast<uint16_t>(0b101u << (4 * n + group));
  } else {
    for (int n = 0; n < 2; n++) m |= static_cast<uint16_t>(0b11u << (6 * n + 2 * group));
  }
  return m & kDmrsAllSc;
}

int nrDmrsLayerPort(const NrPdschCfg* pdsch, int v) {
  const uint16_t port = v >= 0 && v < 4 ? pdsch->dmrsPorts[v] : 0;
  return port >= kDmrsPortBase ? port - kDmrsPortBase : v;
}

uint16_t nrDmrsListSc(const NrPdschCfg* pdsch) {
  const uint8_t type = pdsch->dmrsType;
  const int n = nrDmrsPortCount(pdsch);
  uint16_t m = 0;
  for (int j = 0; j < n; j++) m |= nrDmrsGroupSc(type, nrDmrsCdmGroup(type, pdsch->dmrsPortIdx[j]));
  return m;
}

uint16_t nrDmrsNoDataSc(const NrPdschCfg* pdsch) {
  const uint8_t type = pdsch->dmrsType;
  const int groups = type == 1 ? 2 : 3;
  const int cdm = pdsch->cdmGrpNoData;
  const int n = cdm < 1 ? 1 : cdm > groups ? groups : cdm;
  uint16_t m = nrDmrsListSc(pdsch);
  for (int g = 0; g < n; g++) m |= nrDmrsGroupSc(type, g);
  for (int v = 0; v < pdsch->layerN && v < kMaxLayers; v++)
    m |= nrDmrsGroupSc(type, nrDmrsCdmGroup(type, nrDmrsLayerPort(pdsch, v)));
  return m;
}

void nrDmrsRxMasks(const NrPdschCfg* pdsch, uint16_t* dmrsSc, uint16_t* noDataSc) {
  if (pdsch->dmrsPosExplicit != 0) {
    *dmrsSc = pdsch->dchDmrsRePos & kDmrsAllSc;
    *noDataSc = pdsch->cdmGrpNoData < 2 ? *dmrsSc : kDmrsAllSc;
    return;
  }
  const uint8_t type = pdsch->dmrsType;
  *dmrsSc = nrDmrsGroupSc(type, nrDmrsCdmGroup(type, nrDmrsLayerPort(pdsch, 0)));
  *noDataSc = nrDmrsNoDataSc(pdsch);
}

bool nrGetDmrsPos(uint8_t dmrsPos[kScPerRb], uint8_t DMRSSymbolFlag[kSymbolsPerSlot],
                  const NrPdschCfg* pdsch) {
  if (pdsch->dmrsPosExplicit != 0) {
    nrPrintf("dchDmrsRePos=%x,dchDmrsOsPos=%x\n", pdsch->dchDmrsRePos, pdsch->dchDmrsOsPos);
    if (pdsch->dchDmrsRePos != 0)
      for (int k = 0; k < kScPerRb; k++) dmrsPos[k] = (pdsch->dchDmrsRePos >> k) & 1;
    if (pdsch->dchDmrsOsPos != 0)
      for (int k = 0; k < kSymbolsPerSlot; k++) DMRSSymbolFlag[k] = (pdsch->dchDmrsOsPos >> k) & 1;
    nrPrintf("calc by dchDmrsOsPos & dchDmrsRePos parameters\n");
    for (int k = 0; k < kScPerRb; k++) nrPrintf("dmrsPos[%d]=%d\n", k, dmrsPos[k]);
    for (int k = 0; k < kSymbolsPerSlot; k++)
      nrPrintf("DMRSSymbolFlag[%d]=%d\n", k, DMRSSymbolFlag[k]);
    return true;
  }

  // Ports beyond the first two belong to CDM group 1.
  const int group = nrDmrsPortCount(pdsch) > 2 ? 1 : 0;
  const uint16_t sc = nrDmrsGroupSc(pdsch->dmrsType == 1 ? 1 : 2, group);
  for (int k = 0; k < kScPerRb; k++)
    if ((sc >> k) & 1) dmrsPos[k] = 1;

  for (int l = 0; l < kSymbolsPerSlot; l++) DMRSSymbolFlag[l] = 0;
  bool inSlot = pdsch->dmrsFirstSym < kSymbolsPerSlot && pdsch->dmrsAddPosN <= kDmrsMaxAddPos;
  for (int k = 0; inSlot && k < pdsch->dmrsAddPosN; k++)
    inSlot = pdsch->dmrsAddPos[k] < kSymbolsPerSlot;
  if (!inSlot) {
    nrDiag("nrGetDmrsPos: DMRS symbol %u with %u additional positions lies outside the slot\n",
           pdsch->dmrsFirstSym, pdsch->dmrsAddPosN);
    return false;
  }
  DMRSSymbolFlag[pdsch->dmrsFirstSym] = 1;
  for (int k = 0; k < pdsch->dmrsAddPosN; k++) DMRSSymbolFlag[pdsch->dmrsAddPos[k]] = 1;
  return true;
}

uint32_t nrPdschDmrsCinit(uint16_t slotIdx, uint32_t l, uint16_t nId, uint16_t nScid) {
  // Unsigned 32-bit arithmetic: the product may wrap, only its low 31 bits matter.
  const uint32_t twoN = 2u * nId;
  const uint32_t v = (1u << 17) * (14u * slotIdx + l + 1u) * (twoN + 1u) + twoN + nScid;
  return v & 0x7FFFFFFFu;
}

const int8_t* nrPdschDmrsSeq(uint16_t slotIdx, uint32_t l, uint16_t nId, uint16_t nScid,
                             uint32_t firstRb, uint32_t scPerRb, uint32_t reN) {
  const uint32_t cInit = nrPdschDmrsCinit(slotIdx, l, nId, nScid);
  const uint16_t offset = static_cast<uint16_t>(2u * scPerRb * firstRb);
  if (reN != 0 && nrGoldSeqGen(static_cast<int32_t>(cInit), 2u * reN, 1, offset) == 0)
    return nullptr;
  return &gnrSeqBuf[kSeqBufGoldOffset];
}
