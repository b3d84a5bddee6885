// Test-vector writer: a complete test-vector directory from the bench's own transmitter, so that
// the file-driven flows can be run in loopback. One frame of ten slots at N = 2048 on two receive
// antennas; slots 2 and 4 each carry a PDCCH (polar-coded DCI on the slot's CORESET) and the PDSCH
// it schedules, described by the section files "com1", "cch1", "dch1" (slot 2) and "com2",
// "cch2", "dch2" (slot 4) and by "NRPhy_configuration.txt" (slot 2); the other slots are silent.
#pragma once

#include <cstdint>

#include "config/nr_config.h"
#include "phy/coding/dci_encode.h"

constexpr int kTvSlotN = 2;        // slots that carry a PDCCH and a PDSCH
constexpr int kTvRbGroupCap = 46;  // RB groups of 6 RBs in a 280-RB grid

// One transmitted slot as the section files describe it, plus where the transmitter places its
// PDCCHs (the receiver searches every candidate).
struct NrTvSlotDesc {
  uint16_t slot;  // slot of the frame
  char digit;     // section digit: "com1", "cch1", "dch1", ...
  // com: carrier and BWP
  uint16_t carrierNrb, bwpRbOffset, bwpNrb;
  // cch: CORESET RBs first .. end - 1, symbols, search space, DCI, interleaving
  uint16_t csFirstRb, csEndRb, duration, startSymbol;
  uint16_t rnti, payloadSize, ueSpecific;
  uint16_t intvEn, Lreg, intvR, Nshift;
  uint8_t aggrL;
  uint16_t cceStart;
  // A PDCCH for another UE on the same CORESET, sent before this UE's (otherRnti 0: none): this
  // UE's DCI then takes the next payload of the PN9 sequence.
  uint16_t otherRnti;
  uint8_t otherAggrL;
  uint16_t otherCceStart;
  // dch: PDSCH RBs from pdschFirstRb (contiguous, or the RB groups of rbGroups when rbGroupN is
  // non-zero), symbols, DMRS, layers, MCS (TS 38.214 Table 5.1.3.1-2)
  uint16_t pdschFirstRb, pdschRbN;
  uint8_t rbGroupN;
  uint8_t rbGroups[kTvRbGroupCap];
  uint8_t firstSym, lastSym, dmrsN;
  uint8_t dmrsSym[4];
  uint8_t cdmGrpNoData, layerN, mcs;
};

// The two slots the writer sends (slot 2, then slot 4).
extern const NrTvSlotDesc kNrTvSlots[kTvSlotN];

// What the second receive antenna sees; the first receives the transmitted samples unchanged.
enum class NrTvChannel : uint8_t { kIdentity, kPortGain, kTwoTap };
struct NrTvChannelCfg {
  NrTvChannel kind = NrTvChannel::kIdentity;
  double gain = 1.0;     // kPortGain: antenna 2 = gain x samples, 0 .. 8
  uint32_t delay = 0;    // kTwoTap: antenna 2 = samples + tapGain x samples delayed by delay
  double tapGain = 0.0;  //   samples, delay 1 .. 144 (the shortest cyclic prefix), |tapGain| <= 1
};

constexpr double kTvMaxPortGain = 8.0;
constexpr uint32_t kTvMaxTapDelay = 144;  // shortest cyclic prefix at N = 2048

// Why the channel cannot be applied (a value out of range), or nullptr.
const char* nrTvChannelCheck(const NrTvChannelCfg* channel);

// What the writer sent in one slot.
struct NrTvSlotSent {
  uint16_t slot;
  uint16_t rnti;
  uint8_t aggrL;
  uint16_t payloadSize;
  uint8_t dci[kDciMaxPayload];  // the DCI payload bits
  uint32_t tbSize;              // transport block size in bits
  uint16_t pdschRbN;
  uint8_t mcs;
  uint16_t qm;
};
struct NrTvWriteReport {
  NrTvSlotSent slot[kTvSlotN];
  uint32_t clipped;  // antenna-2 sample values saturated at the int16 limits
};

// Writes the test-vector directory dir (created when missing; its parent must exist): the sample
// files, "NRPhy_configuration.txt", the section files of both slots and
// "pdschRBG_Bitmap<digit>.txt" where a slot's PDSCH uses RB groups; bitmap and rate-matching files
// of earlier contents that the slots do not use are removed, so that the readers cannot take them
// for this recording's. The transmit chain also rewrites "EncCrcBuff.txt" in the working directory
// (the transport block of slot 4, the last one sent). gnrNbConfig is left as it was. Returns false,
// reported, when the channel is out of range, a slot cannot be sent or a file cannot be written;
// report (may be nullptr) then holds what was sent so far.
bool nrWriteTestVector(const char* dir, const NrTvChannelCfg* channel, NrTvWriteReport* report);

// `veltra writeTestVector DIR [--port-gain G | --two-tap D:A]` (argv[0] is the subcommand): exit
// code 0 written, 1 not written completely, 2 usage.
int nrWriteTestVectorCommand(int argc, char** argv);
