#include <cstdio>

#include "app/actions.h"
#include "config/console.h"
#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/common/sample_file.h"
#include "phy/common/sequence.h"
#include "phy/rx/pdsch_rx.h"

namespace {
const char kTxTextFile[] = "nrNbTxData.dat";
}  // namespace

void nrUeRx() {
  nrSampleFileRead(ueFileSample, kSlotSampleCap, kTxTextFile);

  // The UE knows the cell from the gNB's own record, not from a received DCI.
  nrUeSetupFromNb(ueFileSample, 0);

  NrDchMwItf* dch = &gnrDchMwItf;
  nrUeDchRxProc(ueRxSample, dch, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), gnrCchMwItf.slotIdx);

  // The transmitter's data-scrambling initialiser, from the UE's RNTI and the cell's n_ID.
  const uint32_t cInit = nrPdschDataCinit(dch->rnti, dch->cellCfg.nId);

  // Effective code rate A / G; without coded bits there is nothing to decode and the rate stays 0.
  dch->codeRate = dch->codedBitN != 0
                      ? static_cast<float>(dch->tbSize) / static_cast<float>(dch->codedBitN)
                      : 0.0f;
  dch->pdschCfg.codeRateRef = static_cast<uint16_t>(
      static_cast<int64_t>(static_cast<double>(dch->codeRate * 2048.0f) + 0.5));

  if (dch->dataValid) {
    // The base graph follows the PDSCH's target code rate, as at the transmitter.
    nrDlschDecode(dch->tbSize, dch->codedBitN, dch->codeRate, static_cast<int32_t>(cInit),
                  dch->pdschCfg.Qm, dch->pdschCfg.rvIdx, ueLlrBuf, dch->pdschCfg.layerN,
                  dch->pdschCfg.codeRate);
    nrPrintf("the PDSCH decode  finished\n");
  } else {
    nrPrintf("the PDSCH decode: invalid data, cannot do dec \n");
  }
}
