// Fuzz target: the soft demapper and the downlink shared-channel decoding chain (descrambling,
// code-block split, de-rate-matching, LDPC decoding, CRC checks, "DecBuff.txt") on arbitrary
// equalised symbols, soft bits and decoding parameters. Many times faster per input than the
// whole receive, so the campaign reaches deep into the decoder.
//
// Set up once: two reference slots are transmitted and received cleanly, the default slot (one
// code block) and a slot of 8 RBs over 14 symbols at 256QAM (two code blocks); their equalised
// symbols and decoding requests are kept.
//   byte 0   mode: 0 free soft bits, 1 free symbols, 2 near the default slot, 3 near the
//            two-block slot (the other bits are ignored)
// Near modes: the rest are 6-byte records (symbol index modulo the slot's symbols as uint16, I, Q;
// little-endian, Q10) overwriting the reference's equalised symbols, which are then demapped and
// decoded with the reference's request.
// Free modes: a request, decoder settings, then data (little-endian):
//   A (3 bytes), G (3 bytes), Qm, rv, layers (1 byte each), target rate x 2048 (2 bytes; 0 uses
//   A / G), c_init (4 bytes);
//   settings of nrLdpcDecPara: flags (bit 0 early termination, bit 1 min* correction), minIter
//   (modulo 5), maxIter (1 + byte modulo 4), normFactor, appWidth, msgWidth, fracBits (1 byte
//   each); the near modes decode with the defaults;
//   then int8 soft bits (mode 0) or int16 I/Q symbols demapped with Qm (mode 1), repeated over
//   the G soft bits (none: zeros).
// A decode of random soft bits runs every iteration of every code block, about 30 ms per block
// and iteration under the sanitizers: free requests are held to 4 iterations, and requests the
// parameter calculation accepts with more than 12 code blocks are skipped (refusals above 100
// code blocks still run), so that the campaign keeps its pace.
// Checked for every input:
//  - the verdict is 0 or 1, and "DecBuff.txt" exists exactly when it is 1 (none after a
//    failure, whatever an earlier input left);
//  - a passing decode writes the transport block with its CRC, one bit per line;
//  - more soft bits than the soft-bit buffer holds are refused;
//  - every diagnostic is one line;
//  - near modes: the unchanged symbols decode, and a passing decode gives the transmitted
//    transport block (no false CRC OK).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "config/nr_config.h"
#include "fuzz/fuzz_slot.h"
#include "fuzz/fuzz_util.h"
#include "phy/coding/ldpc_decode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/rx/demod_soft.h"
#include "tests/test_util.h"

namespace {

constexpr size_t kRecordBytes = 6;
constexpr uint16_t kTwoBlockRbs = 8;
constexpr int kMaxFreeBlocks = 12;
constexpr int kMaxFreeIter = 4;
constexpr int kMinIterChoices = 5;

struct Reference {
  fuzz_slot::DecodeRequest request;
  std::vector<int32_t> symbols;  // equalised, in demapper order
  std::string block;             // "EncCrcBuff.txt" of its transmission
};

const std::string* dir = nullptr;
fuzz_util::Console* console = nullptr;
Reference refs[2];
int16_t softBits[kUeLlrCap];
int32_t symbols[kUeLlrCap / 2];  // the fewest soft bits per symbol, QPSK

// Transmits and receives the slot of gnrNbConfig and keeps what the decoder was given.
Reference referenceSlot() {
  Reference ref;
  fuzz_slot::transmitSlot();
  ref.block = fuzz_util::readFile(fuzz_slot::kEncFile);
  std::memset(ueFileSample, 0, sizeof(ueFileSample));
  std::memcpy(ueFileSample, gnrNbTxBuf.nbTxSample, sizeof(int32_t) * fuzz_slot::slotSamples());
  const fuzz_slot::RxResult clean = fuzz_slot::receiveSlot();
  FUZZ_CHECK(clean.valid && clean.decoded == 1, "a reference slot does not decode");
  FUZZ_CHECK(!ref.block.empty() && fuzz_util::readFile(fuzz_slot::kDecFile) == ref.block,
             "a reference slot decodes to another transport block");
  ref.request = fuzz_slot::requestFromItf(gnrDchMwItf);
  ref.symbols.assign(gnrUeDchDemapIn, gnrUeDchDemapIn + ref.request.G / ref.request.Qm);
  return ref;
}

// Bits of the transport block and its CRC (TS 38.212 7.2.1: 16 bits up to 3824, else 24).
uint64_t blockWithCrcBits(uint32_t A) { return A + (A <= 3824 ? 16u : 24u); }

bool oneBitPerLine(const std::string& text, uint64_t lines) {
  if (text.size() != 2 * lines) return false;
  for (size_t i = 0; i < text.size(); i += 2)
    if ((text[i] != '0' && text[i] != '1') || text[i + 1] != '\n') return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  dir = &fuzz_util::privateDir("dlsch_decode");
  console = &fuzz_util::captureConsole();
  fuzz_util::InPrivateDir here(*dir);
  freshDefaultSlot();
  refs[0] = referenceSlot();
  // Two code blocks, the fewest bits that still exercise segmentation and reassembly (a decode
  // under the sanitizers is slow). Redundancy version 0: at this rate (0.92) the windows of the
  // others miss information bits, and a noise-free slot rightly fails.
  fullCarrierSlot();
  gnrNbConfig.pdschCfg[0].rbN = kTwoBlockRbs;
  gnrNbConfig.pdschCfg[0].rvIdx = 0;
  refs[1] = referenceSlot();
  FUZZ_CHECK(refs[1].request.A > 8424, "the second reference slot has one code block");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_util::Reader in(data, size);
  const int mode = in.u8() & 3;
  const Reference* ref = mode >= 2 ? &refs[mode - 2] : nullptr;
  fuzz_slot::DecodeRequest q{};
  uint32_t records = 0;
  if (ref) {
    q = ref->request;
    nrLdpcDecPara = NrLdpcDecPara{};
    std::copy(ref->symbols.begin(), ref->symbols.end(), symbols);
    const uint32_t n = static_cast<uint32_t>(ref->symbols.size());
    for (; in.restSize() >= kRecordBytes; records++) {
      const uint32_t at = in.le(2) % n;
      const int16_t re = in.i16();
      const int16_t im = in.i16();
      symbols[at] = nrCpxPack(re, im);
    }
    nrDemodSoft(symbols, softBits, static_cast<int32_t>(n), static_cast<uint16_t>(q.Qm));
  } else {
    q.A = in.le(3);
    q.G = in.le(3);
    q.Qm = in.u8();
    q.rv = in.u8();
    q.layers = in.u8();
    q.rateX2048 = static_cast<uint16_t>(in.le(2));
    q.cInit = static_cast<int32_t>(in.le(4));
    q.R = q.G != 0 ? static_cast<float>(q.A) / static_cast<float>(q.G) : 0.0f;
    NrLdpcDecPara& dec = nrLdpcDecPara;
    const uint8_t flags = in.u8();
    dec.etEnable = flags & 1;
    dec.minStarEnable = (flags >> 1) & 1;
    dec.minIter = static_cast<uint8_t>(in.u8() % kMinIterChoices);
    dec.maxIter = static_cast<uint8_t>(1 + in.u8() % kMaxFreeIter);
    dec.normFactor = in.u8();
    dec.appWidth = in.u8();
    dec.msgWidth = in.u8();
    dec.fracBits = in.u8();
    // The same base-graph choice as the decoding chain, only to learn the number of code blocks.
    NrLdpcParams blocks{};
    const float rateX1024 = q.rateX2048 != 0 ? q.rateX2048 / 2.0f : q.R * 1024.0f;
    if (nrLdpcParamCalc(q.A, q.G, rateX1024, static_cast<int32_t>(q.Qm), q.rv, q.layers, &blocks) &&
        blocks.C > kMaxFreeBlocks)
      return 0;
    const uint32_t fill = std::min<uint32_t>(q.G, kUeLlrCap);
    std::fill(softBits, softBits + fill, 0);
    const uint8_t* d = in.rest();
    const size_t dn = in.restSize();
    if (mode == 0 && dn > 0) {
      for (uint32_t i = 0; i < fill; i++) softBits[i] = static_cast<int8_t>(d[i % dn]);
    } else if (mode == 1 && dn >= 4 && q.Qm >= 2 && q.Qm <= kMaxQm) {
      const uint32_t count = fill / q.Qm;
      for (uint32_t i = 0; i < count; i++) {
        const uint8_t* p = d + 4 * (i % (dn / 4));
        symbols[i] = nrCpxPack(static_cast<int16_t>(p[0] | p[1] << 8),
                               static_cast<int16_t>(p[2] | p[3] << 8));
      }
      nrDemodSoft(symbols, softBits, static_cast<int32_t>(count), static_cast<uint16_t>(q.Qm));
    }
  }

  console->clear();
  fuzz_util::InPrivateDir here(*dir);
  const uint8_t decoded = fuzz_slot::decode(q, softBits);

  FUZZ_CHECK(decoded <= 1, "the decode verdict is neither 0 nor 1");
  FUZZ_CHECK(console->diagLines, "a diagnostic is not one whole line");
  FUZZ_CHECK(fuzz_util::regularFileExists(fuzz_slot::kDecFile) == (decoded == 1),
             "DecBuff.txt does not match the decode verdict");
  if (q.G > static_cast<uint32_t>(kUeLlrCap))
    FUZZ_CHECK(decoded == 0, "more soft bits than the buffer holds were decoded");
  if (decoded == 1)
    FUZZ_CHECK(oneBitPerLine(fuzz_util::readFile(fuzz_slot::kDecFile), blockWithCrcBits(q.A)),
               "DecBuff.txt is not the transport block with its CRC");
  if (ref && records == 0) FUZZ_CHECK(decoded == 1, "the unchanged symbols do not decode");
  if (ref && decoded == 1)
    FUZZ_CHECK(fuzz_util::readFile(fuzz_slot::kDecFile) == ref->block,
               "a passing decode gave another transport block");
  return 0;
}
