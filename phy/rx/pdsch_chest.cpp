#include "phy/rx/pdsch_chest.h"

#include <cmath>
#include <cstdio>

#include "config/console.h"
#include "phy/common/cpx_float.h"
#include "phy/common/dmrs.h"

namespace {

constexpr int kRxAnt = 2;
constexpr int16_t kNoDmrsSymbol = 15;   // unused entries of NsymbolNumber
constexpr uint16_t kCopyCode = 0x8000;  // weight 128/128 on one DMRS symbol

// Working storage of one slot, rewritten by every call for the configured sizes.
nrCpxF genDmrs[kDmrsRePerSymCap];                                     // reference symbols r(n)
nrCpxF gnrUeDchHls[kRxAnt][kMaxLayers][kDmrsRePerSymCap];             // least-squares estimates
nrCpxF gnrUeDchHf[kRxAnt][kMaxLayers][kGridScCap];                    // per subcarrier
nrCpxF gnrUeDchEqW[kMaxDmrsSymbols][kMaxLayers][kRxAnt][kGridScCap];  // W[d][row][col][k]
int16_t NsymbolNumber[kMaxDmrsSymbols];
uint16_t InterpHcoef[kSymbolsPerSlot];

const float kSqrt2 = static_cast<float>(std::sqrt(2.0));

// TS 38.211 7.4.1.1.1: r(n) of one DMRS symbol, indexed from common RB 0, with the
// transmitter's initialiser and offset so that both ends always agree on the sequence.
bool genDmrsSymbol(const NrPdschCfg& pdsch, uint16_t slot, uint32_t l, int P, int K) {
  const int8_t* b = nrPdschDmrsSeq(slot, l, pdsch.dmrsScrId0, pdsch.dmrsScrId1,
                                   static_cast<uint32_t>(pdsch.rbIdx[0]) + pdsch.bwpRbOffset,
                                   static_cast<uint32_t>(K), static_cast<uint32_t>(P));
  if (!b) return false;
  for (int n = 0; n < P; n++)
    genDmrs[n] = {static_cast<float>(b[2 * n]) / kSqrt2, static_cast<float>(b[2 * n + 1]) / kSqrt2};
  return true;
}

// Least squares on the DMRS REs of DMRS symbol d. Two layers sit on the two ports of one CDM
// group, told apart by the frequency cover (+1, +1) / (+1, -1) over each pair of REs k' = 0, 1;
// one layer on a port with the cover (+1, -1) sees the reference negated on every odd RE.
void leastSquares(const NrRxRe* dmrs, int P, int L, bool oddPort) {
  if (L == 2) {
    for (int n = 0; n < P / 2; n++)
      for (int a = 0; a < kRxAnt; a++) {
        const nrCpxF p0 = nrCpxMulConjIq(dmrs[2 * n].ant[a], genDmrs[2 * n]);
        const nrCpxF p1 = nrCpxMulConjIq(dmrs[2 * n + 1].ant[a], genDmrs[2 * n + 1]);
        gnrUeDchHls[a][0][n] = nrCpxScale(nrCpxAdd(p0, p1), 0.5f);
        gnrUeDchHls[a][1][n] = nrCpxScale(nrCpxSub(p0, p1), 0.5f);
      }
    return;
  }
  for (int n = 0; n < P; n++) {
    const nrCpxF r = (oddPort && (n & 1)) ? nrCpxScale(genDmrs[n], -1.0f) : genDmrs[n];
    for (int a = 0; a < kRxAnt; a++) gnrUeDchHls[a][0][n] = nrCpxMulConjIq(dmrs[n].ant[a], r);
  }
}

// Interpolation of the estimates onto the nSc subcarriers of the allocation; sc lists the K DMRS
// subcarriers of an RB (ascending), so DMRS RE m sits at subcarrier 12 (m / K) + sc[m % K]. One
// layer: an estimate per DMRS RE, linear in between (the mean at midway). Two layers: an estimate
// per RE pair, constant over the pair's span, linear between spans. Constant before the first and
// beyond the last estimate.
void interpolateFreq(int P, int L, const int* sc, int K, int nSc) {
  const int anchors = L == 2 ? P / 2 : P;
  if (anchors == 0) return;
  const auto scOf = [&](int m) { return kScPerRb * (m / K) + sc[m % K]; };
  const auto first = [&](int n) { return scOf(L == 2 ? 2 * n : n); };
  const auto last = [&](int n) { return scOf(L == 2 ? 2 * n + 1 : n); };
  for (int a = 0; a < kRxAnt; a++)
    for (int v = 0; v < L; v++) {
      const nrCpxF* h = gnrUeDchHls[a][v];
      nrCpxF* hf = gnrUeDchHf[a][v];
      int n = 0;  // the first estimate whose span does not end before k
      for (int k = 0; k < nSc; k++) {
        while (n + 1 < anchors && k > last(n)) n++;
        if (k > last(n) || k >= first(n) || n == 0) {
          hf[k] = h[n];
          continue;
        }
        const int from = last(n - 1);
        const int gap = first(n) - from;
        if (L == 1 && 2 * (k - from) == gap) {
          hf[k] = nrCpxScale(nrCpxAdd(h[n - 1], h[n]), 0.5f);
        } else {
          const float w = static_cast<float>(k - from) / static_cast<float>(gap);
          hf[k] = nrCpxAdd(h[n - 1], nrCpxScale(nrCpxSub(h[n], h[n - 1]), w));
        }
      }
    }
}

// Zero-forcing weights of DMRS symbol d on subcarriers 0 .. nSc - 1.
void zfWeights(int d, int nSc, int L) {
  if (L == 2) {
    for (int k = 0; k < nSc; k++) {
      const nrCpxF h00 = gnrUeDchHf[0][0][k], h01 = gnrUeDchHf[0][1][k];
      const nrCpxF h10 = gnrUeDchHf[1][0][k], h11 = gnrUeDchHf[1][1][k];
      const nrCpxF det = nrCpxSub(nrCpxMul(h00, h11), nrCpxMul(h01, h10));
      const nrCpxF negDet = nrCpxScale(det, -1.0f);
      gnrUeDchEqW[d][0][0][k] = nrCpxDiv(h11, det);
      gnrUeDchEqW[d][0][1][k] = nrCpxDiv(h01, negDet);
      gnrUeDchEqW[d][1][0][k] = nrCpxDiv(h10, negDet);
      gnrUeDchEqW[d][1][1][k] = nrCpxDiv(h00, det);
    }
    return;
  }
  // The Q10 output scale sits inside the one-layer weight.
  const nrCpxF one = {1024.0f, 0.0f};
  for (int k = 0; k < nSc; k++)
    for (int a = 0; a < kRxAnt; a++) gnrUeDchEqW[d][a][0][k] = nrCpxDiv(one, gnrUeDchHf[a][0][k]);
}

// Weight element (row i, column j) at subcarrier k interpolated in time by code c.
inline nrCpxF timeWeight(uint16_t c, int i, int j, int k) {
  const int w = c >> 8;
  const int d1 = (c >> 4) & 15;
  const int d2 = c & 15;
  if (w == 128) return gnrUeDchEqW[d2][i][j][k];
  const nrCpxF a = nrCpxScale(gnrUeDchEqW[d1][i][j][k], static_cast<float>(128 - w) / 128.0f);
  const nrCpxF b = nrCpxScale(gnrUeDchEqW[d2][i][j][k], static_cast<float>(w) / 128.0f);
  return nrCpxAdd(a, b);
}

inline int32_t packIq(nrCpxF x) { return nrCpxPack(nrFloatToInt16(x.re), nrFloatToInt16(x.im)); }

inline void equalise(NrRxRe& re, int L, const nrCpxF v[2][2]) {
  const int32_t y0 = re.ant[0];
  const int32_t y1 = re.ant[1];
  if (L == 2) {
    re.ant[0] =
        packIq(nrCpxScale(nrCpxAdd(nrCpxMulIq(y0, v[0][0]), nrCpxMulIq(y1, v[0][1])), 1024.0f));
    re.ant[1] =
        packIq(nrCpxScale(nrCpxAdd(nrCpxMulIq(y0, v[1][0]), nrCpxMulIq(y1, v[1][1])), 1024.0f));
  } else {
    re.ant[0] = packIq(nrCpxMulIq(y0, v[0][0]));
    re.ant[1] = packIq(nrCpxMulIq(y1, v[1][0]));
  }
}

}  // namespace

void nrDchTimeInterpCodes(const int16_t symNum[kMaxDmrsSymbols], int addPosN,
                          uint16_t codes[kSymbolsPerSlot]) {
  // One sentinel past the last DMRS symbol, so that N[d + 1] exists for every d <= A.
  int16_t N[kMaxDmrsSymbols + 1];
  for (int i = 0; i < kMaxDmrsSymbols; i++) N[i] = symNum[i];
  N[kMaxDmrsSymbols] = kNoDmrsSymbol;
  const int A = addPosN;
  int d = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    uint16_t code = 0;
    if (l > N[d + 1] && d < A) d++;
    if (d < A && N[d] < l && l < N[d + 1] && N[d] != N[d + 1]) {
      const int w = ((l - N[d]) * 128) / (N[d + 1] - N[d]);
      code = static_cast<uint16_t>((w << 8) | (d << 4) | (d + 1));
    }
    if (l == N[d]) code = static_cast<uint16_t>(kCopyCode | (d << 4) | d);
    if (l == N[d + 1]) code = static_cast<uint16_t>(kCopyCode | ((d + 1) << 4) | (d + 1));
    if (l > N[d] && d == A) code = static_cast<uint16_t>(kCopyCode | (d << 4) | d);
    if (l < N[d] && d == 0) code = kCopyCode;
    codes[l] = code;
  }
}

bool nrUeDchChEstEq(NrRxRe* dataRe, uint32_t dataReN, const NrRxRe* dmrsRe, uint16_t dmrsReN,
                    const NrDchMwItf* dchItf, uint16_t slot) {
  const NrPdschCfg& pdsch = dchItf->pdschCfg;
  const int L = pdsch.layerN;
  const int A = pdsch.dmrsAddPosN;
  if (L != 1 && L != 2) {
    nrDiag("nrUeDchChEstEq: %d layers not supported, not equalised\n", L);
    return false;
  }
  if (A >= kMaxDmrsSymbols || pdsch.rbN > kMaxRb) {
    nrDiag("nrUeDchChEstEq: %d additional DMRS symbols, %u RBs: not supported, not equalised\n", A,
           pdsch.rbN);
    return false;
  }
  const int P = dmrsReN / (A + 1);
  if (P > kDmrsRePerSymCap) {
    nrDiag("nrUeDchChEstEq: %d DMRS REs per symbol exceed %d, not equalised\n", P,
           kDmrsRePerSymCap);
    return false;
  }
  // The layers' DMRS subcarriers (the CDM group of layer 0's port, which two layers share,
  // TS 38.211 7.4.1.1.2) and the subcarriers of a DMRS symbol without data, as extracted.
  const int port = nrDmrsLayerPort(&pdsch, 0);
  uint16_t groupSc = 0, noDataSc = 0;
  nrDmrsRxMasks(&pdsch, &groupSc, &noDataSc);
  int sc[kScPerRb];
  int K = 0;
  for (int k = 0; k < kScPerRb; k++)
    if ((groupSc >> k) & 1) sc[K++] = k;
  const int rbN = pdsch.rbN;
  const int nSc = kScPerRb * rbN;

  NsymbolNumber[0] = pdsch.dmrsFirstSym;
  for (int i = 1; i < kMaxDmrsSymbols; i++)
    NsymbolNumber[i] = i <= A ? pdsch.dmrsAddPos[i - 1] : kNoDmrsSymbol;

  for (int d = 0; d <= A; d++) {
    if (!genDmrsSymbol(pdsch, slot, static_cast<uint32_t>(NsymbolNumber[d]), P, K)) {
      nrDiag("nrUeDchChEstEq: DMRS of symbol %d beyond the Gold sequence, not equalised\n",
             NsymbolNumber[d]);
      return false;
    }
    leastSquares(&dmrsRe[d * P], P, L, nrDmrsOcc(port) < 0);
    interpolateFreq(P, L, sc, K, nSc);
    zfWeights(d, nSc, L);
  }

  nrDchTimeInterpCodes(NsymbolNumber, A, InterpHcoef);

  const int16_t* N = NsymbolNumber;
  uint32_t e = 0;
  int dd = 0;
  nrCpxF v[2][2] = {};
  const auto weightsOf = [&](int w, int k) {
    v[0][0] = gnrUeDchEqW[w][0][0][k];
    v[1][0] = gnrUeDchEqW[w][1][0][k];
    if (L == 2) {
      v[0][1] = gnrUeDchEqW[w][0][1][k];
      v[1][1] = gnrUeDchEqW[w][1][1][k];
    }
  };
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (l >= N[0]) dd = 0;
    if (l >= N[1] - 1) dd = 1;
    if (l >= N[2] - 1) dd = 2;
    if (l >= N[3]) dd = 3;
    if (((pdsch.symBitmap >> l) & 1) == 0) continue;

    const bool dmrsSymbol = l == N[0] || l == N[1] || l == N[2] || l == N[3];
    if (dmrsSymbol) {
      // Data beside the DMRS: the subcarriers outside the CDM groups without data, with this
      // DMRS symbol's own weights.
      for (int r = 0; r < rbN; r++)
        for (int j = 0; j < kScPerRb && e < dataReN; j++) {
          if ((noDataSc >> j) & 1) continue;
          weightsOf(dd, kScPerRb * r + j);
          equalise(dataRe[e++], L, v);
        }
      continue;
    }
    const uint16_t c = InterpHcoef[l];
    for (int k = 0; k < nSc && e < dataReN; k++, e++) {
      if (L == 2) {
        for (int i = 0; i < 2; i++)
          for (int j = 0; j < 2; j++) v[i][j] = timeWeight(c, i, j, k);
      } else {
        v[0][0] = timeWeight(c, 0, 0, k);
        v[1][0] = timeWeight(c, 1, 0, k);
      }
      equalise(dataRe[e], L, v);
    }
  }
  return true;
}
