#include "phy/common/pdcch_map.h"

#include "config/console.h"
#include "phy/common/dmrs.h"
#include "phy/common/sequence.h"

const char* nrCoresetCheck(const NrCoresetCfg* cs) {
  if (cs->duration < 1 || cs->duration > kCoresetMaxDuration) return "duration not 1 .. 3";
  if (cs->allocNrb == 0 || cs->allocNrb % kRegPerCce != 0 || cs->allocNrb > kMaxRb)
    return "allocNrb not a multiple of 6 from 6 to 280";
  for (int r = 0; r < cs->allocNrb; r++) {
    if (cs->rbIdx[r] >= kMaxRb) return "RB index beyond the grid";
    if (r > 0 && cs->rbIdx[r] <= cs->rbIdx[r - 1]) return "RB list not ascending";
  }
  return nullptr;
}

int nrCoresetFind(const NrCoresetCfg* coresets, uint16_t id) {
  for (int k = 0; k < kCoresetCap; k++)
    if (coresets[k].duration != 0 && coresets[k].coresetId == id) return k;
  return -1;
}

int nrPdcchCcePositions(const NrCoresetCfg* cs, const uint16_t* bundleMap, uint32_t bundleN,
                        uint32_t L, uint32_t firstCce, uint32_t aggrL, uint16_t* pos) {
  const uint32_t d = cs->duration;
  if (d == 0) return -1;
  const uint32_t cceN = static_cast<uint32_t>(cs->allocNrb) * d / kRegPerCce;
  if (static_cast<uint64_t>(firstCce) + aggrL > cceN) return -1;
  int n = 0;
  if (cs->CchIntvEn == 0) {
    // Non-interleaved: bundle c of 6 REGs is CCE c, REGs numbered time first.
    const uint32_t span = kRegPerCce / d;
    for (uint32_t q = firstCce * span; q < (firstCce + aggrL) * span; q++) {
      if (q >= cs->allocNrb) return -1;
      pos[n++] = static_cast<uint16_t>(q);
    }
    return n;
  }
  // A bundle of L REGs covers L/d RBs in each of the d symbols; a CCE holds 6/L bundles.
  if (L == 0 || kRegPerCce % L != 0 || L % d != 0) return -1;
  const uint32_t perCce = kRegPerCce / L;
  const uint32_t bundleRbN = L / d;
  for (uint32_t c = firstCce; c < firstCce + aggrL; c++)
    for (uint32_t k = 0; k < perCce; k++) {
      const uint32_t j = c * perCce + k;
      if (j >= bundleN || bundleMap[j] >= bundleN) return -1;
      for (uint32_t t = 0; t < bundleRbN; t++) {
        const uint32_t q = bundleRbN * bundleMap[j] + t;
        if (q >= cs->allocNrb) return -1;
        pos[n++] = static_cast<uint16_t>(q);
      }
    }
  return n;
}

uint32_t nrPdcchDmrsCinit(uint16_t slotIdx, uint32_t l, uint16_t nId) {
  // The PDSCH DMRS initialiser of TS 38.211 7.4.1.1.1 with n_SCID = 0 is the same expression.
  return nrPdschDmrsCinit(slotIdx, l, nId, 0);
}

const int8_t* nrPdcchDmrsSeq(uint16_t slotIdx, uint32_t l, uint16_t nId, uint32_t firstRb,
                             uint32_t rbSpan) {
  // Two bits per DMRS RE, three DMRS REs per RB.
  const uint64_t offset = 2ull * kPdcchDmrsPerReg * firstRb;
  const uint64_t count = 2ull * kPdcchDmrsPerReg * rbSpan;
  if (offset > 0xFFFF || offset + count > kGoldSeqLimit ||
      nrGoldSeqGen(static_cast<int32_t>(nrPdcchDmrsCinit(slotIdx, l, nId)),
                   static_cast<uint32_t>(count), 1, static_cast<uint16_t>(offset)) != count) {
    nrDiag("nrPdcchDmrsSeq: DMRS of RBs %u .. %llu beyond the Gold sequence\n", firstRb,
           static_cast<unsigned long long>(firstRb) + rbSpan - 1);
    return nullptr;
  }
  return &gnrSeqBuf[kSeqBufGoldOffset];
}
