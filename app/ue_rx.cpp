#include <cstdint>
#include <cstring>

#include "app/actions.h"
#include "config/console.h"
#include "config/nr_config.h"
#include "config/ue_setup.h"
#include "phy/coding/dlsch_decode.h"
#include "phy/common/sample_file.h"
#include "phy/common/sequence.h"
#include "phy/common/stage_profile.h"
#include "phy/common/text_lines.h"
#include "phy/rx/pdsch_rx.h"

namespace {
// The waveform of receive antenna a: the transmitter's file of antenna port a.
const char* const kTxTextFile[2] = {"nrNbTxData.dat", "nrNbTxData1.dat"};
const char kDecFile[] = "DecBuff.txt";
}  // namespace

bool nrUeRx() {
  const uint32_t lostBefore = nrOutFileFailures();
  // One waveform file per receive antenna (an identity channel from the transmitter's ports).
  bool ok = true;
  const int antennas = gnrNbConfig.cellCfg.antPortN >= 2 ? 2 : 1;
  for (int a = 0; a < antennas; a++) {
    // Samples the file does not hold (it cannot be read, or holds less than a slot) read as
    // zero: an earlier slot's samples must not pass for this one's.
    std::memset(ueFileSample, 0, sizeof(ueFileSample));
    const int64_t got = nrSampleFileRead(ueFileSample, kSlotSampleCap, kTxTextFile[a]);
    ok = ok && got >= 0;

    // The UE knows the cell from the gNB's own record, not from a received DCI.
    {
      NrStageScope setUp(NrStage::kUeSetUp);
      nrUeSetupFromNb(ueFileSample, static_cast<uint8_t>(a));
    }
    uint32_t slotN = 15u * gnrCchMwItf.cellCfg.fftSize;
    if (slotN > static_cast<uint32_t>(kSlotSampleCap)) slotN = kSlotSampleCap;
    if (got >= 0 && static_cast<uint64_t>(got) < slotN)
      nrDiag("nrUeRx: %s holds %lld of the %u samples of a slot; the rest reads as zero\n",
             kTxTextFile[a], static_cast<long long>(got), slotN);
  }

  NrDchMwItf* dch = &gnrDchMwItf;
  nrUeDchRxProc(ueRxSample, dch, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), gnrCchMwItf.slotIdx);

  // The transmitter's data-scrambling initialiser, from the UE's RNTI and the cell's n_ID.
  const uint32_t cInit = nrPdschDataCinit(dch->rnti, dch->cellCfg.nId);

  // Effective code rate A / G.
  nrUeDchSetCodeRate(dch);

  if (dch->dataValid) {
    // The base graph follows the PDSCH's target code rate, as at the transmitter.
    const uint8_t decoded = nrDlschDecode(
        dch->tbSize, dch->codedBitN, dch->codeRate, static_cast<int32_t>(cInit), dch->pdschCfg.Qm,
        dch->pdschCfg.rvIdx, ueLlrBuf, dch->pdschCfg.layerN, dch->pdschCfg.codeRate);
    nrPrintf("the PDSCH decode  finished\n");
    ok = ok && decoded == 1;
  } else {
    nrPrintf("the PDSCH decode: invalid data, cannot do dec \n");
    nrRemoveStaleFile(kDecFile);
    ok = false;
  }
  return ok && nrOutFileFailures() == lostBefore;
}
