#include "phy/rx/file_slot_rx.h"

#include "config/console.h"
#include "config/mw_interface.h"
#include "config/nr_config.h"
#include "phy/rx/pdsch_rx.h"

uint8_t nrPhylibUpdateDecDataForSlot(uint16_t slot) {
  nrPrintf("===>>>> nrPhylibUpdateDecDataForSlot() started ===\n");
  NrDchMwItf* dch = &gnrDchMwItf;
  uint8_t valid = 0;
  if (nrUpdateDchMdwInterf() == kDchItfRefused) {
    nrDiag("nrPhylibUpdateDecDataForSlot: slot %u not received, no data interface\n", slot);
  } else if (dch->rxDone != 0) {
    // The front end has run over the slot since the records were cleared: its verdict stands
    // (an invalid slot is not received a second time).
    valid = dch->dataValid;
  } else if (nrPhylibUpdateDchDataForSlot(slot) == kSlotDataRefused) {
    nrDiag(
        "nrPhylibUpdateDecDataForSlot: slot %u not received, the slot cannot be cut from the test "
        "vectors\n",
        slot);
  } else {
    valid = nrUeDchRxProc(ueRxSample, dch, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                          static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), slot)
                ? 1
                : 0;
  }
  nrUeDchSetCodeRate(dch);
  nrPrintf("=== nrPhylibUpdateDecDataForSlot() exit ===>>>>\n");
  return valid;
}
