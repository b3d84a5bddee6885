// Fuzz target: the receive path of the default slot (UE set-up, OFDM demodulation, channel
// estimation and equalisation, soft demapping, descrambling, de-rate-matching, LDPC decoding) on
// arbitrary received samples.
//
// Set up once as the transmit action does: the default slot configuration, its PDSCH and its
// waveform. Every input then forms the 15 N samples of a received slot:
//   byte 0   mode: even = free, odd = near
//   byte 1   gain (near mode)
//   the rest free: little-endian int16 I/Q pairs, repeated over the whole slot (no pair: zeros);
//            near: the transmitted waveform times gain / 64, saturating at int16, then
//            overwritten by 6-byte records (sample index modulo the slot length as uint16, I, Q).
// Checked for every input:
//  - the front end's verdict is its dataValid, it marks the slot received, and the number of
//    coded bits is the slot's own (it depends on the configuration, never on the samples);
//  - every diagnostic is one line;
//  - "DecBuff.txt" exists exactly when the decode passed (none after a failure or invalid data);
//  - near mode: the unchanged waveform (gain 64, no record) decodes, and a decode that passes
//    gives the transmitted transport block (no false CRC OK).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "fuzz/fuzz_slot.h"
#include "fuzz/fuzz_util.h"

namespace {

constexpr int kUnitGain = 64;
constexpr size_t kRecordBytes = 6;

const std::string* dir = nullptr;
fuzz_util::Console* console = nullptr;
uint32_t slotN = 0;
uint32_t slotCodedBits = 0;
int32_t txWave[kSlotSampleCap];
std::string txBlock;

int16_t saturate(int32_t v) {
  return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  dir = &fuzz_util::privateDir("ue_rx");
  console = &fuzz_util::captureConsole();
  fuzz_util::InPrivateDir here(*dir);
  nrGenDefaultSlotCfg();
  fuzz_slot::transmitSlot();
  slotN = fuzz_slot::slotSamples();
  std::memcpy(txWave, gnrNbTxBuf.nbTxSample, sizeof(int32_t) * slotN);
  txBlock = fuzz_util::readFile(fuzz_slot::kEncFile);

  // The unchanged waveform must decode, or every check below would be moot.
  std::memcpy(ueFileSample, txWave, sizeof(int32_t) * slotN);
  const fuzz_slot::RxResult clean = fuzz_slot::receiveSlot();
  FUZZ_CHECK(clean.valid && clean.decoded == 1, "the default slot does not decode");
  FUZZ_CHECK(!txBlock.empty() && fuzz_util::readFile(fuzz_slot::kDecFile) == txBlock,
             "the default slot decodes to another transport block");
  slotCodedBits = gnrDchMwItf.codedBitN;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_util::Reader in(data, size);
  const bool near = (in.u8() & 1) != 0;
  const int32_t gain = in.u8();
  uint32_t records = 0;
  if (near) {
    for (uint32_t i = 0; i < slotN; i++)
      ueFileSample[i] = nrCpxPack(saturate(nrCpxRe(txWave[i]) * gain / kUnitGain),
                                  saturate(nrCpxIm(txWave[i]) * gain / kUnitGain));
    for (; in.restSize() >= kRecordBytes; records++) {
      const uint32_t at = in.le(2) % slotN;
      const int16_t re = in.i16();
      const int16_t im = in.i16();
      ueFileSample[at] = nrCpxPack(re, im);
    }
  } else {
    const uint8_t* pairs = in.rest();
    const size_t pairN = in.restSize() / 4;
    for (uint32_t i = 0; i < slotN; i++) {
      const uint8_t* p = pairN ? pairs + 4 * (i % pairN) : nullptr;
      ueFileSample[i] = p ? nrCpxPack(static_cast<int16_t>(p[0] | p[1] << 8),
                                      static_cast<int16_t>(p[2] | p[3] << 8))
                          : 0;
    }
  }

  console->clear();
  fuzz_util::InPrivateDir here(*dir);
  const fuzz_slot::RxResult r = fuzz_slot::receiveSlot();

  FUZZ_CHECK(r.valid == (gnrDchMwItf.dataValid == 1), "verdict and dataValid disagree");
  FUZZ_CHECK(gnrDchMwItf.rxDone == 1, "the slot is not marked received");
  FUZZ_CHECK(gnrDchMwItf.codedBitN == slotCodedBits, "the coded bits depend on the samples");
  FUZZ_CHECK(console->diagLines, "a diagnostic is not one whole line");
  FUZZ_CHECK(r.decoded <= 1, "the decode verdict is neither 0 nor 1");
  FUZZ_CHECK(fuzz_util::regularFileExists(fuzz_slot::kDecFile) == (r.decoded == 1),
             "DecBuff.txt does not match the decode verdict");
  if (near && gain == kUnitGain && records == 0)
    FUZZ_CHECK(r.decoded == 1, "the unchanged waveform does not decode");
  if (near && r.decoded == 1)
    FUZZ_CHECK(fuzz_util::readFile(fuzz_slot::kDecFile) == txBlock,
               "a passing decode gave another transport block");
  return 0;
}
