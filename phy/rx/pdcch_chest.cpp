#include "phy/rx/pdcch_chest.h"

#include <cmath>

#include "config/console.h"
#include "phy/common/cpx_float.h"
#include "phy/common/pdcch_map.h"
#include "phy/common/text_lines.h"

NrRxRe gnrUeCchDataRe[kUeCchDataReCap];
NrRxRe gnrUeCchDmrsRe[kUeCchDmrsReCap];

namespace {

constexpr int kRxAnt = 2;
constexpr uint32_t kDebugSymRe = 215;  // data REs per symbol in debugRe0.txt / debugIm0.txt
constexpr uint32_t kDebugEqRe = 216;   // equalised data REs in debugRe.txt / debugIm.txt

// Estimates of the current symbol: least squares on the DMRS REs, interpolated onto the data REs.
nrCpxF gnrUeCchH[kRxAnt][kUeCchDmrsPerSymCap];
nrCpxF gnrUeCchHf[kRxAnt][kPdcchRePerReg * kMaxRb];
nrCpxF genDmrs[kUeCchDmrsPerSymCap];

template <typename Get>
void writeIntFile(const char* name, uint32_t count, Get get) {
  nrWriteTextLines(name, false, count, [&](uint32_t i, char* p) {
    p = nrPutInt(p, get(i));
    *p++ = '\n';
    return p;
  });
}

}  // namespace

bool nrUeCchChEstEq(NrRxRe* dataRe, uint32_t dataReN, const NrRxRe* dmrsRe, uint16_t dmrsReN,
                    const NrCchMwItf* /*cchItf*/, uint8_t duration, uint16_t firstRb, uint16_t nId,
                    uint16_t slot, uint8_t l0, const uint16_t* rbIdx) {
  const uint32_t d = duration;
  const uint32_t P = d ? dmrsReN / d : 0;  // DMRS REs per symbol
  const uint32_t R = P / kPdcchDmrsPerReg;
  if (d < 1 || d > kCoresetMaxDuration || R == 0 || P * d != dmrsReN || R * 3 != P ||
      P > static_cast<uint32_t>(kUeCchDmrsPerSymCap) || dataReN < 3 * P * d ||
      dataReN > static_cast<uint32_t>(kUeCchDataReCap) || l0 + d > kSymbolsPerSlot) {
    nrDiag(
        "nrUeCchChEstEq: %u DMRS REs and %u data REs over %u symbols from %u: not whole RBs "
        "of a CORESET, not equalised\n",
        dmrsReN, dataReN, d, l0);
    return false;
  }
  for (uint32_t r = 1; r < R; r++)
    if (rbIdx[r] <= rbIdx[r - 1]) {
      nrDiag("nrUeCchChEstEq: CORESET RB list not ascending at position %u, not equalised\n", r);
      return false;
    }
  const uint32_t dataPerSym = 3 * P;
  const double invSqrt2 = 1.0 / std::sqrt(2.0);

  for (uint32_t s = 0; s < d; s++) {
    const uint32_t l = l0 + s;
    // TS 38.211 7.4.1.3.2: r of each DMRS RE at its RB's own index from the CORESET's first RB.
    const int8_t* b =
        nrPdcchDmrsSeq(slot, l, nId, firstRb, static_cast<uint32_t>(rbIdx[R - 1] - rbIdx[0]) + 1);
    if (!b) return false;
    for (uint32_t n = 0; n < P; n++) {
      const uint32_t i = kPdcchDmrsPerReg * (rbIdx[n / 3] - rbIdx[0]) + n % 3;
      genDmrs[n] = {static_cast<float>(b[2 * i] * invSqrt2),
                    static_cast<float>(b[2 * i + 1] * invSqrt2)};
      for (int a = 0; a < kRxAnt; a++)
        gnrUeCchH[a][n] = nrCpxMulConjIq(dmrsRe[s * P + n].ant[a], genDmrs[n]);
    }

    // Linear interpolation: data REs 3n - 2, 3n - 1, 3n lie a quarter, a half and three quarters
    // of the way from DMRS n - 1 to DMRS n; the first takes DMRS 0, the last two DMRS P - 1.
    for (int a = 0; a < kRxAnt; a++) {
      const nrCpxF* h = gnrUeCchH[a];
      nrCpxF* hf = gnrUeCchHf[a];
      hf[0] = h[0];
      for (uint32_t n = 1; n < P; n++) {
        const nrCpxF delta = nrCpxSub(h[n], h[n - 1]);
        hf[3 * n - 2] = nrCpxAdd(h[n - 1], nrCpxScale(delta, 0.25f));
        hf[3 * n - 1] = nrCpxAdd(h[n - 1], nrCpxScale(delta, 0.5f));
        hf[3 * n] = nrCpxAdd(h[n - 1], nrCpxScale(delta, 0.75f));
      }
      hf[3 * P - 2] = hf[3 * P - 1] = h[P - 1];
    }

    NrRxRe* sym = dataRe + s * dataPerSym;
    const uint32_t dbgN =
        dataReN - s * dataPerSym < kDebugSymRe ? dataReN - s * dataPerSym : kDebugSymRe;
    writeIntFile("debugRe0.txt", dbgN, [&](uint32_t i) { return nrCpxRe(sym[i].ant[0]); });
    writeIntFile("debugIm0.txt", dbgN, [&](uint32_t i) { return nrCpxIm(sym[i].ant[0]); });

    // Zero forcing per antenna, the two results added (maximum-ratio weights |H|^2 per antenna).
    for (uint32_t k = 0; k < dataPerSym; k++) {
      nrCpxF x = {0.0f, 0.0f};
      for (int a = 0; a < kRxAnt; a++) {
        const nrCpxF h = gnrUeCchHf[a][k];
        float p = nrCpxMulConj(h, h).re;
        if (p <= 1.0f) p += 1.0f;
        x = nrCpxAdd(x, nrCpxDiv(nrCpxMulConjIq(sym[k].ant[a], h), nrCpxF{p, 0.0f}));
      }
      sym[k].ant[0] =
          nrCpxPack(nrFloatToInt16(kCchEqScale * x.re), nrFloatToInt16(kCchEqScale * x.im));
    }
  }

  const uint32_t eqN = dataReN < kDebugEqRe ? dataReN : kDebugEqRe;
  writeIntFile("debugRe.txt", eqN, [&](uint32_t i) { return nrCpxRe(dataRe[i].ant[0]); });
  writeIntFile("debugIm.txt", eqN, [&](uint32_t i) { return nrCpxIm(dataRe[i].ant[0]); });
  return true;
}
