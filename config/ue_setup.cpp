#include "config/ue_setup.h"

#include <cstdio>
#include <cstring>

#include "config/console.h"

namespace {
constexpr int kCoresetCap = 3;
}  // namespace

void nrUeInitCchmwItfFromNb(NrCchMwItf* cchItf, const NrNbConfig* nbCfg) {
  if (cchItf->cchItfDone == 1) return;
  nrPrintf("===>>>> nrUeInitCchmwItfFromNb() started ===\n");
  std::memset(cchItf, 0, sizeof(*cchItf));

  cchItf->bwpId = nbCfg->bwpCfg.bwpId;
  cchItf->dciN = 1;
  cchItf->searchSpaceCfg[0] = nbCfg->searchSpaceCfg[0];
  cchItf->cellCfg = nbCfg->cellCfg;

  const NrPdcchCfg& dci = nbCfg->pdcchCfg[0];
  cchItf->dciEn[0] = dci.dciEn;
  cchItf->aggrL[0] = dci.aggrL;
  cchItf->cceStart[0] = dci.cceStart;
  cchItf->dciAux[0] = dci.dciAux;
  cchItf->payloadSize[0] = dci.payloadSize;
  cchItf->ueSpecific[0] = dci.ueSpecific;

  cchItf->slotIdx = nbCfg->slotIdx;
  // The UE monitors the DCI's RNTI; PDCCH scrambling and DMRS use the cell identity.
  cchItf->cellCfg.rnti = static_cast<uint16_t>(dci.rnti);
  cchItf->cellCfg.nId = cchItf->cellCfg.pci;

  cchItf->cchItfDone = 1;
  nrPrintf("=== nrUeInitCchmwItfFromNb() exited ===>>>>\n");
}

void nrUeInitDchmwItfFromNb(NrDchMwItf* dchItf, const NrNbConfig* nbCfg) {
  const NrPdschCfg& pdsch = nbCfg->pdschCfg[0];
  dchItf->pdschCfg = pdsch;
  dchItf->cellCfg = nbCfg->cellCfg;
  dchItf->rnti = static_cast<uint16_t>(pdsch.rnti);
  dchItf->tbSize = pdsch.tbSize;
  dchItf->pdcchPresent = 1;
  dchItf->dchItfDone = 1;
}

void nrGenRbMap(int32_t rbMap[kSymbolsPerSlot][kMaxRb], uint16_t /*slot*/, uint16_t ctrlFlag,
                const NrSearchSpaceCfg* searchSpace, const NrCoresetCfg* coresets,
                const NrPdschCfg* pdsch) {
  std::memset(rbMap, 0, sizeof(int32_t) * kSymbolsPerSlot * kMaxRb);

  // Control region: the search space's coresetId is taken as the position of the CORESET entry.
  if (ctrlFlag != 0 && searchSpace->coresetId < kCoresetCap) {
    const NrCoresetCfg& cs = coresets[searchSpace->coresetId];
    const int rbCount = cs.allocNrb < kMaxRb ? cs.allocNrb : kMaxRb;
    for (int j = 0; j < kSymbolsPerSlot; j++) {
      if (((searchSpace->monSymBitmap >> j) & 1) == 0) continue;
      for (int l = j; l < j + cs.duration && l < kSymbolsPerSlot; l++)
        for (int i = 0; i < rbCount; i++)
          if (cs.rbIdx[i] < kMaxRb) rbMap[l][cs.rbIdx[i]] = kRbControl;
    }
  }

  const int rbCount = pdsch->rbN < kMaxRb ? pdsch->rbN : kMaxRb;
  for (int j = 0; j < kSymbolsPerSlot; j++) {
    if (((pdsch->symBitmap >> j) & 1) == 0) continue;
    for (int i = 0; i < rbCount; i++) {
      const uint16_t rb = pdsch->rbIdx[i];
      if (rb < kMaxRb && rbMap[j][rb] == kRbFree) rbMap[j][rb] = kRbPdsch;
    }
  }
}

bool nrUeSetupFromNb(const int32_t* fileSample, uint8_t port) {
  gnrUeConfig.bwpCfg = gnrNbConfig.bwpCfg;
  for (int i = 0; i < kCoresetCap; i++) gnrUeConfig.coresetCfg[i] = gnrNbConfig.coresetCfg[i];
  gnrUeConfig.carrierCfg = gnrNbConfig.carrierCfg;

  nrUeInitCchmwItfFromNb(&gnrCchMwItf, &gnrNbConfig);
  nrUeInitDchmwItfFromNb(&gnrDchMwItf, &gnrNbConfig);
  nrGenRbMap(gnrDchMwItf.cellCfg.rbMap, gnrCchMwItf.slotIdx, gnrDchMwItf.pdcchPresent,
             &gnrCchMwItf.searchSpaceCfg[0], gnrUeConfig.coresetCfg, &gnrDchMwItf.pdschCfg);

  if (port >= 2) {
    nrDiag("nrUeSetupFromNb: antenna port %u not supported (0 or 1), samples not copied\n", port);
    return false;
  }
  // A slot is 15 x N samples; the sample buffers hold the slot of N = 2048.
  uint32_t sampleN = 15u * gnrCchMwItf.cellCfg.fftSize;
  if (sampleN > static_cast<uint32_t>(kSlotSampleCap)) sampleN = kSlotSampleCap;
  for (uint32_t i = 0; i < sampleN; i++) {
    ueRxSample[port][0][i] = nrCpxRe(fileSample[i]);
    ueRxSample[port][1][i] = nrCpxIm(fileSample[i]);
  }
  return true;
}
