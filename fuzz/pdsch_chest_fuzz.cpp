// Fuzz target: PDSCH channel estimation and equalisation (nrUeDchChEstEq) on arbitrary DMRS and
// data REs and an arbitrary PDSCH DMRS configuration: the estimator either equalises within the
// REs it was given or refuses without touching them, whatever the configuration fields hold
// (file-driven flows fill them from configuration files).
//
// Set up once: the default slot's data-channel interface, as the UE set-up builds it. Input
// (little-endian), overriding fields of its PDSCH entry:
//   layerN, dmrsType, dmrsFirstSym, dmrsAddPosN, dmrsAddPos[0..2], cdmGrpNoData (1 byte each),
//   dmrsPorts[0], symBitmap, rbN, rbIdx[0], bwpRbOffset, dmrsScrId0, dmrsScrId1, slot n_s
//   (2 bytes each), the number of data REs (2 bytes) and of DMRS REs (2 bytes);
//   then REs, 8 bytes each (I, Q of antenna 0, I, Q of antenna 1; int16), repeated over the
//   DMRS REs and then the data REs (none: zeros).
// The RE arrays are heap blocks of exactly the given counts, so that the address sanitizer sees
// any access past them. Checked for every input:
//  - a refusal leaves the data REs as they were;
//  - layer counts other than 1 and 2, four or more additional DMRS symbols and more than 280 RBs
//    are refused;
//  - every diagnostic is one line.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "config/ue_setup.h"
#include "fuzz/fuzz_util.h"
#include "phy/rx/pdsch_chest.h"

namespace {

constexpr size_t kReBytes = 8;

fuzz_util::Console* console = nullptr;
NrDchMwItf slotItf;

NrRxRe reFrom(const uint8_t* p) {
  auto i16 = [p](int k) { return static_cast<int16_t>(p[2 * k] | p[2 * k + 1] << 8); };
  return NrRxRe{{nrCpxPack(i16(0), i16(1)), nrCpxPack(i16(2), i16(3))}};
}

bool sameRes(const std::vector<NrRxRe>& a, const std::vector<NrRxRe>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const NrRxRe& x, const NrRxRe& y) {
    return x.ant[0] == y.ant[0] && x.ant[1] == y.ant[1];
  });
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  console = &fuzz_util::captureConsole();
  nrGenDefaultSlotCfg();
  nrUeInitDchmwItfFromNb(&gnrDchMwItf, &gnrNbConfig);
  slotItf = gnrDchMwItf;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_util::Reader in(data, size);
  NrDchMwItf& itf = gnrDchMwItf;
  itf = slotItf;
  NrPdschCfg& p = itf.pdschCfg;
  p.layerN = in.u8();
  p.dmrsType = in.u8();
  p.dmrsFirstSym = in.u8();
  p.dmrsAddPosN = in.u8();
  for (uint8_t& pos : p.dmrsAddPos) pos = in.u8();
  p.cdmGrpNoData = in.u8();
  p.dmrsPorts[0] = static_cast<uint16_t>(in.le(2));
  p.symBitmap = static_cast<uint16_t>(in.le(2));
  p.rbN = static_cast<uint16_t>(in.le(2));
  p.rbIdx[0] = static_cast<uint16_t>(in.le(2));
  p.bwpRbOffset = static_cast<uint16_t>(in.le(2));
  p.dmrsScrId0 = static_cast<uint16_t>(in.le(2));
  p.dmrsScrId1 = static_cast<uint16_t>(in.le(2));
  const uint16_t slot = static_cast<uint16_t>(in.le(2));
  const uint32_t dataReN = in.le(2);
  const uint16_t dmrsReN = static_cast<uint16_t>(in.le(2));

  std::vector<NrRxRe> dmrs(dmrsReN);
  std::vector<NrRxRe> res(dataReN);
  const size_t reN = in.restSize() / kReBytes;
  size_t k = 0;
  for (std::vector<NrRxRe>* v : {&dmrs, &res})
    for (NrRxRe& re : *v) re = reN ? reFrom(in.rest() + kReBytes * (k++ % reN)) : NrRxRe{};
  const std::vector<NrRxRe> before = res;

  console->clear();
  const bool ok = nrUeDchChEstEq(res.data(), dataReN, dmrs.data(), dmrsReN, &itf, slot);

  FUZZ_CHECK(console->diagLines, "a diagnostic is not one whole line");
  if (!ok) FUZZ_CHECK(sameRes(res, before), "a refused configuration changed the data REs");
  if (p.layerN != 1 && p.layerN != 2) FUZZ_CHECK(!ok, "a layer count beyond 2 was equalised");
  if (p.dmrsAddPosN >= kMaxDmrsSymbols) FUZZ_CHECK(!ok, "four additional DMRS symbols accepted");
  if (p.rbN > kMaxRb) FUZZ_CHECK(!ok, "more than 280 RBs were equalised");
  return 0;
}
