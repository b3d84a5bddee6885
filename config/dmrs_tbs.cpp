#include "config/dmrs_tbs.h"

#include <cstdio>

#include "phy/tx/tbs.h"

namespace {

constexpr uint8_t kPortListEnd = 0xFF;
constexpr int kMaxAddPos = 3;          // capacity of dmrsAddPos
constexpr uint32_t kMaxRePerRb = 156;  // TS 38.214 5.1.3.2: N'_RE limit per RB

int countPorts(const NrPdschCfg* pdsch) {
  int n = 0;
  while (n < 12 && pdsch->dmrsPortIdx[n] != kPortListEnd) n++;
  return n;
}

uint32_t highestBit(uint32_t x) {
  uint32_t n = 0;
  while (x >>= 1) n++;
  return n;
}

}  // namespace

bool nrGetDmrsPos(uint8_t dmrsPos[kScPerRb], uint8_t DMRSSymbolFlag[kSymbolsPerSlot],
                  const NrPdschCfg* pdsch) {
  // Ports beyond the first two belong to CDM group 1 (TS 38.211 Table 7.4.1.1.2-1/-2).
  const int d = countPorts(pdsch) > 2 ? 1 : 0;

  if (pdsch->dmrsPosExplicit != 0) {
    std::printf("dchDmrsRePos=%x,dchDmrsOsPos=%x\n", pdsch->dchDmrsRePos, pdsch->dchDmrsOsPos);
    if (pdsch->dchDmrsRePos != 0)
      for (int k = 0; k < kScPerRb; k++) dmrsPos[k] = (pdsch->dchDmrsRePos >> k) & 1;
    if (pdsch->dchDmrsOsPos != 0)
      for (int k = 0; k < kSymbolsPerSlot; k++) DMRSSymbolFlag[k] = (pdsch->dchDmrsOsPos >> k) & 1;
    std::printf("calc by dchDmrsOsPos & dchDmrsRePos parameters\n");
    for (int k = 0; k < kScPerRb; k++) std::printf("dmrsPos[%d]=%d\n", k, dmrsPos[k]);
    for (int k = 0; k < kSymbolsPerSlot; k++)
      std::printf("DMRSSymbolFlag[%d]=%d\n", k, DMRSSymbolFlag[k]);
    return true;
  }

  if (pdsch->dmrsType == 1) {
    // Type 1: every other subcarrier, offset by the CDM group.
    for (int k = 0; k < 6; k++) dmrsPos[d + 2 * k] = 1;
  } else {
    // Type 2: pairs of adjacent subcarriers at 6n + {0, 1} + delta, delta = 2 for CDM group 1.
    const int delta = 2 * d;
    for (int n = 0; n < 2; n++) dmrsPos[6 * n + delta] = dmrsPos[6 * n + delta + 1] = 1;
  }

  for (int l = 0; l < kSymbolsPerSlot; l++) DMRSSymbolFlag[l] = 0;
  bool inSlot = pdsch->dmrsFirstSym < kSymbolsPerSlot && pdsch->dmrsAddPosN <= kMaxAddPos;
  for (int k = 0; inSlot && k < pdsch->dmrsAddPosN; k++)
    inSlot = pdsch->dmrsAddPos[k] < kSymbolsPerSlot;
  if (!inSlot) {
    std::printf("nrGetDmrsPos: DMRS symbol %u with %u additional positions lies outside the slot\n",
                pdsch->dmrsFirstSym, pdsch->dmrsAddPosN);
    return false;
  }
  DMRSSymbolFlag[pdsch->dmrsFirstSym] = 1;
  for (int k = 0; k < pdsch->dmrsAddPosN; k++) DMRSSymbolFlag[pdsch->dmrsAddPos[k]] = 1;
  return true;
}

uint32_t nrCalcDchTbs(uint16_t xOverhead, NrPdschCfg* pdsch) {
  uint32_t rate;  // x 2048
  if (pdsch->codeRate != 0) {
    rate = pdsch->codeRate;
    pdsch->codeRateRef = pdsch->codeRate;
  } else {
    rate = pdsch->codeRateRef;
    pdsch->codeRate = pdsch->codeRateRef;
  }

  uint8_t dmrsPos[kScPerRb] = {};
  uint8_t symFlag[kSymbolsPerSlot] = {};
  nrGetDmrsPos(dmrsPos, symFlag, pdsch);
  uint32_t scN = 0, symN = 0, allocSymN = 0;
  for (int k = 0; k < kScPerRb; k++) scN += dmrsPos[k];
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    symN += symFlag[l];
    allocSymN += (pdsch->symBitmap >> l) & 1;
  }
  const uint32_t dmrsRe = scN * symN * pdsch->cdmGrpNoData;

  // An overhead larger than the REs wraps and is then capped like any other excess.
  uint32_t rePerRb = 12u * allocSymN - dmrsRe - xOverhead;
  if (rePerRb > kMaxRePerRb) rePerRb = kMaxRePerRb;

  // N_info = N_RE * R * Qm * v with R in 1/2048, rounded to nearest; 64-bit so that no
  // allocation of up to 280 RBs, 256QAM and two layers can wrap.
  const uint64_t nInfo64 =
      (static_cast<uint64_t>(pdsch->rbN) * rePerRb * rate * pdsch->Qm * pdsch->layerN + 1024u) >>
      11;
  const uint32_t nInfo = static_cast<uint32_t>(nInfo64);

  if (nInfo <= 3824) {
    const uint32_t lg = highestBit(nInfo);
    const uint32_t n = lg < 9 ? 3 : lg - 6;
    uint32_t nPrime = (nInfo >> n) << n;
    if (nPrime < 24) nPrime = 24;
    for (int i = 0; i < kTbsTableSize; i++)
      if (gnrTbsTable[i] >= nPrime) return gnrTbsTable[i];
    return gnrTbsTable[kTbsTableSize - 1];
  }

  const uint32_t x = nInfo - 24;
  const uint32_t n = highestBit(x) - 5;
  uint32_t nPrime = ((x + (1u << (n - 1))) >> n) << n;
  if (nPrime < 3840) nPrime = 3840;
  if (rate <= 512) {
    const uint32_t c = (nPrime + 3839) / 3816;
    return 8 * c * ((nPrime + 8 * c + 23) / (8 * c)) - 24;
  }
  if (nPrime > 8424) {
    const uint32_t c = (nPrime + 8447) / 8424;
    return 8 * c * ((nPrime + 8 * c + 23) / (8 * c)) - 24;
  }
  return 8 * ((nPrime + 31) / 8) - 24;
}
