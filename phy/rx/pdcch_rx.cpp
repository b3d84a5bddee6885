#include "phy/rx/pdcch_rx.h"

#include <cstdlib>
#include <cstring>

#include "config/console.h"
#include "phy/coding/dci_decode.h"
#include "phy/common/pdcch_map.h"
#include "phy/ofdm/ofdm_demod.h"
#include "phy/rx/pdcch_chest.h"

uint8_t dciStore[kDciStoreRows][kDciStoreRowLen];
uint8_t gnrUeCchCandMap[4][kMaxRb];
uint16_t gnrUeCchBundleMap[kGridScCap];
uint32_t gnrUeCchDecodedN;

namespace {

constexpr int kMaxSearchSpaces = 10;  // capacity of the per-DCI arrays of NrCchMwItf
constexpr int16_t kWeakLevel = 10;    // an equalised component below this is taken for noise
constexpr int kWeakShare = 8;         // decode when at most 1/8 of the soft values' REs are weak

// Soft values of the current candidate: I and Q of its equalised data REs.
int16_t candSoft[kPdcchMaxE];

// The searched CORESET: REG bundle size, bundle count and CCE count derived from its record.
struct CoresetGeometry {
  uint32_t regN;
  uint32_t L;
  uint32_t bundleN;
  uint32_t cceN;
};

// TS 38.211 7.3.2.2 interleaver of the CORESET into gnrUeCchBundleMap; false, with a diagnostic,
// for bundle counts it cannot be built from.
bool buildGeometry(int ss, const NrCoresetCfg& cs, CoresetGeometry* g) {
  g->regN = static_cast<uint32_t>(cs.allocNrb) * cs.duration;
  g->cceN = g->regN / kRegPerCce;
  if (cs.regBundleN == 0 || cs.regBundleN > g->regN) {
    nrDiag("nrUeCchBlindDetect: search space %d, CORESET %u: regBundleN %u for %u REGs, skipped\n",
           ss, cs.coresetId, cs.regBundleN, g->regN);
    return false;
  }
  g->L = g->regN / cs.regBundleN;
  g->bundleN = g->regN / g->L;
  if (cs.duration > 1 && g->L != cs.duration && g->L != 6)
    nrPrintf("the configuration REG bundles sized is wrong[please ref 3GPP. 38.211]!!!\n");
  for (uint32_t j = 0; j < kMaxRb; j++) gnrUeCchBundleMap[j] = static_cast<uint16_t>(j);
  if (cs.CchIntvEn == 0) return true;
  if (cs.intvC == 0 || cs.regBundleN / cs.intvC == 0) {
    nrDiag(
        "nrUeCchBlindDetect: search space %d, CORESET %u: intvC %u for %u REG bundles, "
        "skipped\n",
        ss, cs.coresetId, cs.intvC, cs.regBundleN);
    return false;
  }
  const uint32_t R = cs.regBundleN / cs.intvC;
  const uint32_t cols = g->regN / (R * g->L);
  // f(cR + r) = (rC + c + n_shift) mod (N_REG / L).
  for (uint32_t c = 0; c < cols; c++)
    for (uint32_t r = 0; r < R; r++)
      gnrUeCchBundleMap[c * R + r] =
          static_cast<uint16_t>((r * cols + c + cs.Nshift) % (g->regN / g->L));
  return true;
}

// Demodulates the CORESET symbols l .. l + duration - 1 and splits their REs into the DMRS and
// data lists; false when the demodulator refuses.
bool extractOccasion(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCellCfg& cell,
                     const NrCoresetCfg& cs, int l, int k0, uint32_t* dataN, uint32_t* dmrsN) {
  *dataN = 0;
  *dmrsN = 0;
  for (int s = 0; s < cs.duration; s++) {
    const int sym = l + s;
    for (int a = 0; a < cell.antPortN; a++)
      if (!nrOfdmDemod(rxSample, &cell, sym, sym, a, gnrUeRxGrid)) return false;
    if (cell.antPortN == 1)
      std::memcpy(gnrUeRxGrid[sym][1], gnrUeRxGrid[sym][0], sizeof(gnrUeRxGrid[sym][0]));
    for (int i = 0; i < cs.allocNrb; i++)
      for (int j = 0; j < kScPerRb; j++) {
        const int k = k0 + kScPerRb * cs.rbIdx[i] + j;
        const NrRxRe re = {{gnrUeRxGrid[sym][0][k], gnrUeRxGrid[sym][1][k]}};
        if (nrPdcchIsDmrsSc(j))
          gnrUeCchDmrsRe[(*dmrsN)++] = re;
        else
          gnrUeCchDataRe[(*dataN)++] = re;
      }
  }
  return true;
}

// The soft values of the candidate marked in gnrUeCchCandMap, in mapping order (frequency first,
// then time); returns their number and counts the weak REs among them.
uint32_t collectCandidate(const NrCoresetCfg& cs, uint32_t* weak) {
  const uint32_t dataPerSym = kPdcchRePerReg * cs.allocNrb;
  uint32_t n = 0;
  *weak = 0;
  for (int s = 0; s < cs.duration; s++)
    for (int i = 0; i < cs.allocNrb; i++) {
      if (!gnrUeCchCandMap[s][i]) continue;
      for (int q = 0; q < kPdcchRePerReg; q++) {
        const int32_t v = gnrUeCchDataRe[kPdcchRePerReg * i + q + s * dataPerSym].ant[0];
        const int16_t re = nrCpxRe(v), im = nrCpxIm(v);
        if (n + 2 > static_cast<uint32_t>(kPdcchMaxE)) return 0;
        candSoft[n++] = re;
        candSoft[n++] = im;
        if (std::abs(re) < kWeakLevel || std::abs(im) < kWeakLevel) (*weak)++;
      }
    }
  return n;
}

// The blind search of one occasion starting at symbol l; returns the DCIs detected.
int searchOccasion(const NrCchMwItf& itf, int ss, const NrCoresetCfg& cs, const CoresetGeometry& g,
                   int l) {
  const NrCellCfg& cell = itf.cellCfg;
  const int16_t A = static_cast<int16_t>(itf.payloadSize[ss]);
  int found = 0;
  bool overflowTold = false;
  uint16_t pos[kPdcchMaxCandRb];
  for (int gIdx = 0; gIdx < kPdcchAggrLevels; gIdx++) {
    const uint32_t aggr = 1u << gIdx;
    const uint32_t E = kPdcchBitsPerCce * aggr;
    for (uint32_t m = 0; m < g.cceN / aggr; m++) {
      std::memset(gnrUeCchCandMap, 0, sizeof(gnrUeCchCandMap));
      const int n =
          nrPdcchCcePositions(&cs, gnrUeCchBundleMap, g.bundleN, g.L, aggr * m, aggr, pos);
      if (n <= 0) continue;
      for (int s = 0; s < cs.duration; s++)
        for (int i = 0; i < n; i++) gnrUeCchCandMap[s][pos[i]] = 1;
      uint32_t weak = 0;
      const uint32_t softN = collectCandidate(cs, &weak);
      // Only a candidate of exactly E soft values can be this level's code word.
      if (softN != E || weak > softN / kWeakShare) continue;
      gnrUeCchDecodedN++;
      if (!nrDciDecode(candSoft, static_cast<uint16_t>(E), cell.rnti, cell.nId, A,
                       itf.ueSpecific[ss]))
        continue;
      if (found == kDciStoreRows) {
        if (!overflowTold)
          nrDiag(
              "nrUeCchBlindDetect: more than %d DCIs in the occasion at symbol %d; further "
              "ones (from level %u candidate %u on) are not kept\n",
              kDciStoreRows, l, aggr, m);
        overflowTold = true;
        continue;
      }
      char bits[kDciStoreRowLen + 2];
      for (int b = 0; b < A; b++) {
        dciStore[found][b] = gnrDciBits[b];
        bits[b] = static_cast<char>('0' + gnrDciBits[b]);
      }
      bits[A] = '\n';
      bits[A + 1] = '\0';
      nrPrintf(
          "Detected DCI [crc Passed!]Start@%dsymbol  \nAggrelvl %d, the %u th candi-DCI "
          "payload: %s",
          l, gIdx, m, bits);
      found++;
    }
  }
  if (found == 0) nrPrintf("Does not Detected and DCI!!!\n");
  return found;
}

}  // namespace

uint8_t nrUeCchBlindDetect(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCchMwItf* cchItf,
                           const NrCoresetCfg* coresets, const NrBwpCfg* bwp, uint16_t slot) {
  std::memset(dciStore, 0, sizeof(dciStore));
  std::memset(gnrUeCchDataRe, 0, sizeof(gnrUeCchDataRe));
  std::memset(gnrUeCchDmrsRe, 0, sizeof(gnrUeCchDmrsRe));
  std::memset(gnrDciBits, 0, sizeof(gnrDciBits));
  std::memset(gnrUeCchBundleMap, 0, sizeof(gnrUeCchBundleMap));
  gnrUeCchDecodedN = 0;

  const NrCchMwItf& itf = *cchItf;
  const NrCellCfg& cell = itf.cellCfg;
  int found = 0;
  int foundA = 0;
  int dciN = itf.dciN;
  if (dciN > kMaxSearchSpaces) {
    nrDiag("nrUeCchBlindDetect: dciN %d above %d, only %d searched\n", dciN, kMaxSearchSpaces,
           kMaxSearchSpaces);
    dciN = kMaxSearchSpaces;
  }
  const int n = cell.fftSize;
  const int k0 = n / 2 - 6 * gnrUeConfig.carrierCfg.nrb;
  if (cell.antPortN != 1 && cell.antPortN != 2) {
    nrDiag("nrUeCchBlindDetect: %u receive antennas not supported (1 or 2)\n", cell.antPortN);
    dciN = 0;
  }

  for (int i = 0; i < dciN; i++) {
    const NrSearchSpaceCfg& ss = itf.searchSpaceCfg[i];
    const int A = itf.payloadSize[i];
    if (A == 0 || A > kDciStoreRowLen) {
      nrDiag(
          "nrUeCchBlindDetect: search space %d, payloadSize %d not 1 .. %d (a dciStore row), "
          "skipped\n",
          i, A, kDciStoreRowLen);
      continue;
    }
    const int k = nrCoresetFind(coresets, ss.coresetId);
    if (k < 0) {
      nrDiag("nrUeCchBlindDetect: search space %d, no CORESET with coresetId %u, skipped\n", i,
             ss.coresetId);
      continue;
    }
    const NrCoresetCfg& cs = coresets[k];
    if (const char* why = nrCoresetCheck(&cs)) {
      nrDiag("nrUeCchBlindDetect: search space %d, CORESET %u: %s, skipped\n", i, cs.coresetId,
             why);
      continue;
    }
    if (k0 < 0 || k0 + kScPerRb * (cs.rbIdx[cs.allocNrb - 1] + 1) > n) {
      nrDiag(
          "nrUeCchBlindDetect: search space %d, CORESET %u: RBs %u .. %u outside the %d-point "
          "FFT of a %u-RB carrier, skipped\n",
          i, cs.coresetId, cs.rbIdx[0], cs.rbIdx[cs.allocNrb - 1], n, gnrUeConfig.carrierCfg.nrb);
      continue;
    }
    const uint32_t firstRb = static_cast<uint32_t>(bwp->rbOffset) + cs.rbIdx[0];
    if (firstRb > 0xFFFF) {
      nrDiag(
          "nrUeCchBlindDetect: search space %d, CORESET %u: first RB %u of the DMRS beyond "
          "65535, skipped\n",
          i, cs.coresetId, firstRb);
      continue;
    }
    CoresetGeometry g;
    if (!buildGeometry(i, cs, &g)) continue;

    for (int l = 0; l < kSymbolsPerSlot; l++) {
      if (((ss.monSymBitmap >> l) & 1) == 0) continue;
      if (l + cs.duration > kSymbolsPerSlot) {
        nrDiag(
            "nrUeCchBlindDetect: search space %d, occasion at symbol %d: %u CORESET symbols "
            "leave the slot, skipped\n",
            i, l, cs.duration);
        break;
      }
      uint32_t dataN = 0, dmrsN = 0;
      if (!extractOccasion(rxSample, cell, cs, l, k0, &dataN, &dmrsN)) break;
      if (!nrUeCchChEstEq(gnrUeCchDataRe, dataN, gnrUeCchDmrsRe, static_cast<uint16_t>(dmrsN),
                          cchItf, static_cast<uint8_t>(cs.duration), static_cast<uint16_t>(firstRb),
                          cell.nId, slot, static_cast<uint8_t>(l), cs.rbIdx))
        break;
      found = searchOccasion(itf, i, cs, g, l);
      foundA = A;
      l += cs.duration - 1;  // the walk goes on after the occasion's last symbol
    }
  }

  // Hand the payloads of the last occasion over, one after another.
  for (int r = 0; r < found; r++)
    std::memcpy(gnrDciBits + r * foundA, dciStore[r], static_cast<size_t>(foundA));
  gnrUeConfig.sysInitDone = 0;
  return static_cast<uint8_t>(found);
}
