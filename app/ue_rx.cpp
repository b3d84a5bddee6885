#include <cstdio>

#include "app/actions.h"
#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/rx/pdsch_rx.h"
#include "phy/tx/sample_file.h"

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

  // TS 38.211 7.3.1.1: c_init = n_RNTI * 2^15 + n_ID (codeword 0). Formed in 32 bits like the
  // transmitter's: with the largest 16-bit values it reaches bit 31, which the Gold sequence
  // ignores, so it must wrap rather than saturate.
  const uint32_t cInit = (static_cast<uint32_t>(dch->rnti) << 15) + dch->cellCfg.nId;

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
    std::printf("the PDSCH decode  finished\n");
  } else {
    std::printf("the PDSCH decode: invalid data, cannot do dec \n");
  }
}
