#include "phy/rx/pdsch_rx_na.h"

#include <cmath>
#include <cstring>

#include "config/console.h"
#include "phy/common/dmrs.h"
#include "phy/common/stage_profile.h"

nrCpxF gnrUeDchEqNa[kSymbolsPerSlot * kMaxFftSize][kMaxLayers];
float gnrUeDchNvNa[kSymbolsPerSlot * kMaxFftSize][kMaxLayers];
float gnrUeDchNoiseVarNa = 0.0f;
int gnrUeDchSmoothNa = 0;
bool gnrUeDchSlopeNa = false;

namespace {

constexpr int kRxAnt = 2;
constexpr int kLlrMin = -32;
constexpr int kLlrMax = 31;
// Half widths (in estimates) of the frequency smoothing windows the risk estimate chooses from.
constexpr int kHalfWidths[] = {0, 1, 2, 3, 4, 6, 8, 12, 16, 24, 32, 48};
// Without three estimates in a row no noise can be told from the channel: the noise is then taken
// 30 dB below the mean estimate power.
constexpr float kFallbackNoise = 1e-3f;
// Post-equalisation noise where the channel matrix is singular: soft bits of 0.
constexpr float kHugeNoise = 1e30f;

const float kSqrt2 = static_cast<float>(std::sqrt(2.0));

// Least-squares estimates of each DMRS symbol, antenna and layer at the anchor positions
// (subcarrier of the allocation), their smoothed values, and the estimates on every subcarrier.
nrCpxF lsVal[kMaxDmrsSymbols][kRxAnt][kMaxLayers][kDmrsRePerSymCap];
float anchorPos[kDmrsRePerSymCap];
nrCpxF smoothVal[kDmrsRePerSymCap];
nrCpxF hEst[kMaxDmrsSymbols][kRxAnt][kMaxLayers][kGridScCap];
// The estimate of symbol l on subcarrier k: hMean + hSlope (l - mean DMRS symbol index).
nrCpxF hMean[kRxAnt][kMaxLayers][kGridScCap];
nrCpxF hSlope[kRxAnt][kMaxLayers][kGridScCap];
nrCpxF prefix[kDmrsRePerSymCap + 1];

inline float norm2(nrCpxF a) { return a.re * a.re + a.im * a.im; }
inline nrCpxF conjMul(nrCpxF a, nrCpxF b) { return nrCpxMulConj(b, a); }  // conj(a) b
inline nrCpxF iq(int32_t v) {
  return {static_cast<float>(nrCpxRe(v)), static_cast<float>(nrCpxIm(v))};
}

// Moving average over the anchors m - w .. m + w inside 0 .. M - 1 (prefix sums); the count of
// each window goes to count when given.
void movingAverage(const nrCpxF* h, int M, int w, nrCpxF* out) {
  prefix[0] = {0.0f, 0.0f};
  for (int m = 0; m < M; m++) prefix[m + 1] = nrCpxAdd(prefix[m], h[m]);
  for (int m = 0; m < M; m++) {
    const int lo = m - w < 0 ? 0 : m - w;
    const int hi = m + w >= M ? M - 1 : m + w;
    out[m] =
        nrCpxScale(nrCpxSub(prefix[hi + 1], prefix[lo]), 1.0f / static_cast<float>(hi - lo + 1));
  }
}

// Linear interpolation of the anchors onto subcarriers 0 .. nSc - 1, constant beyond the ends.
void interpolate(const nrCpxF* h, const float* pos, int M, int nSc, nrCpxF* out) {
  int m = 0;
  for (int k = 0; k < nSc; k++) {
    while (m + 1 < M && pos[m + 1] <= static_cast<float>(k)) m++;
    if (static_cast<float>(k) <= pos[0] || m + 1 >= M) {
      out[k] = h[static_cast<float>(k) <= pos[0] ? 0 : M - 1];
      continue;
    }
    const float w = (static_cast<float>(k) - pos[m]) / (pos[m + 1] - pos[m]);
    out[k] = nrCpxAdd(h[m], nrCpxScale(nrCpxSub(h[m + 1], h[m]), w));
  }
}

// TS 38.211 5.1 Gray mapping per dimension: the level (odd integer) of the m bits b_0, b_2, ...
// of one dimension, packed with the first bit in bit 0:
// (1 - 2 b_0) (2^(m-1) - (1 - 2 b_2) (2^(m-2) - ... (2 - (1 - 2 b_last)))).
int pamLevel(int bits, int m) {
  int mag = 1;
  for (int k = m - 1; k >= 1; k--) {
    const int sign = 1 - 2 * ((bits >> k) & 1);
    mag = (1 << (m - k)) - sign * mag;
  }
  // Evaluated from the innermost term outwards: mag_k = 2^(m-k) - s_k mag_(k+1).
  return (1 - 2 * (bits & 1)) * mag;
}

}  // namespace

bool nrUeDchChEstEqNa(const NrRxRe* dataRe, uint32_t dataReN, const NrRxRe* dmrsRe,
                      uint16_t dmrsReN, const NrDchMwItf* dchItf, uint16_t slot, bool mmse) {
  NrStageScope estimation(NrStage::kEstimation);
  const NrPdschCfg& pdsch = dchItf->pdschCfg;
  const int L = pdsch.layerN;
  const int A = pdsch.dmrsAddPosN;
  const int Nr = dchItf->cellCfg.antPortN >= 2 ? 2 : 1;
  if ((L != 1 && L != 2) || (L == 2 && Nr != 2) || A >= kMaxDmrsSymbols || pdsch.rbN > kMaxRb) {
    nrDiag(
        "nrUeDchChEstEqNa: %d layers, %d receive antennas, %d additional DMRS symbols, %u RBs: "
        "not supported\n",
        L, Nr, A, pdsch.rbN);
    return false;
  }
  const int P = dmrsReN / (A + 1);
  const int M = L == 2 ? P / 2 : P;
  if (P > kDmrsRePerSymCap || M == 0) {
    nrDiag("nrUeDchChEstEqNa: %d DMRS REs per symbol: none or more than %d\n", P, kDmrsRePerSymCap);
    return false;
  }
  uint16_t groupSc = 0, noDataSc = 0;
  nrDmrsRxMasks(&pdsch, &groupSc, &noDataSc);
  int sc[kScPerRb];
  int K = 0;
  for (int k = 0; k < kScPerRb; k++)
    if ((groupSc >> k) & 1) sc[K++] = k;
  if (K == 0) {
    nrDiag("nrUeDchChEstEqNa: no DMRS subcarrier\n");
    return false;
  }
  const int nSc = kScPerRb * pdsch.rbN;
  const bool oddPort = nrDmrsOcc(nrDmrsLayerPort(&pdsch, 0)) < 0;
  const auto scOf = [&](int m) { return static_cast<float>(kScPerRb * (m / K) + sc[m % K]); };
  for (int m = 0; m < M; m++)
    anchorPos[m] = L == 2 ? 0.5f * (scOf(2 * m) + scOf(2 * m + 1)) : scOf(m);

  int symNum[kMaxDmrsSymbols];
  symNum[0] = pdsch.dmrsFirstSym;
  for (int d = 1; d <= A; d++) symNum[d] = pdsch.dmrsAddPos[d - 1];

  // Least squares on every DMRS symbol (TS 38.211 7.4.1.1: r(n) from common RB 0); two layers on
  // a CDM pair are told apart by the frequency cover over each RE pair.
  for (int d = 0; d <= A; d++) {
    const int8_t* b =
        nrPdschDmrsSeq(slot, static_cast<uint32_t>(symNum[d]), pdsch.dmrsScrId0, pdsch.dmrsScrId1,
                       static_cast<uint32_t>(pdsch.rbIdx[0]) + pdsch.bwpRbOffset,
                       static_cast<uint32_t>(K), static_cast<uint32_t>(P));
    if (!b) {
      nrDiag("nrUeDchChEstEqNa: DMRS of symbol %d beyond the Gold sequence\n", symNum[d]);
      return false;
    }
    const NrRxRe* y = dmrsRe + d * P;
    const auto ref = [&](int n) {
      return nrCpxF{static_cast<float>(b[2 * n]) / kSqrt2,
                    static_cast<float>(b[2 * n + 1]) / kSqrt2};
    };
    for (int a = 0; a < Nr; a++) {
      if (L == 2) {
        for (int n = 0; n < M; n++) {
          const nrCpxF p0 = nrCpxMulConjIq(y[2 * n].ant[a], ref(2 * n));
          const nrCpxF p1 = nrCpxMulConjIq(y[2 * n + 1].ant[a], ref(2 * n + 1));
          lsVal[d][a][0][n] = nrCpxScale(nrCpxAdd(p0, p1), 0.5f);
          lsVal[d][a][1][n] = nrCpxScale(nrCpxSub(p0, p1), 0.5f);
        }
      } else {
        for (int n = 0; n < M; n++) {
          const nrCpxF r = oddPort && (n & 1) ? nrCpxScale(ref(n), -1.0f) : ref(n);
          lsVal[d][a][0][n] = nrCpxMulConjIq(y[n].ant[a], r);
        }
      }
    }
  }

  // Noise per estimate from the deviation of each estimate from the line through its neighbours:
  // e = h(m) - (wp h(m-1) + wn h(m+1)) has variance s2 (1 + wp^2 + wn^2) where the channel is
  // locally linear.
  double devSum = 0.0, powSum = 0.0;
  long devN = 0, powN = 0;
  for (int d = 0; d <= A; d++)
    for (int a = 0; a < Nr; a++)
      for (int v = 0; v < L; v++) {
        const nrCpxF* h = lsVal[d][a][v];
        for (int m = 0; m < M; m++) {
          powSum += norm2(h[m]);
          powN++;
          if (m == 0 || m + 1 >= M) continue;
          const float wn =
              (anchorPos[m] - anchorPos[m - 1]) / (anchorPos[m + 1] - anchorPos[m - 1]);
          const float wp = 1.0f - wn;
          const nrCpxF line = nrCpxAdd(nrCpxScale(h[m - 1], wp), nrCpxScale(h[m + 1], wn));
          devSum += norm2(nrCpxSub(h[m], line)) / (1.0f + wp * wp + wn * wn);
          devN++;
        }
      }
  const double s2 = devN > 0 ? devSum / devN : kFallbackNoise * powSum / (powN ? powN : 1);
  // An estimate of a CDM pair averages two REs: half the noise of one.
  const float sigma2 = static_cast<float>(L == 2 ? 2.0 * s2 : s2);

  // Smoothing window by Stein's unbiased risk estimate of the moving average of half width w:
  // |smoothed - h|^2 - s2 + 2 s2 / (window count), summed over every estimate.
  int bestW = 0;
  double bestRisk = 0.0;
  for (int w : kHalfWidths) {
    if (w > 0 && 2 * w + 1 > 2 * M) break;
    double risk = 0.0;
    for (int d = 0; d <= A; d++)
      for (int a = 0; a < Nr; a++)
        for (int v = 0; v < L; v++) {
          movingAverage(lsVal[d][a][v], M, w, smoothVal);
          for (int m = 0; m < M; m++) {
            const int lo = m - w < 0 ? 0 : m - w;
            const int hi = m + w >= M ? M - 1 : m + w;
            risk += norm2(nrCpxSub(smoothVal[m], lsVal[d][a][v][m])) - s2 +
                    2.0 * s2 / static_cast<double>(hi - lo + 1);
          }
        }
    if (w == 0 || risk < bestRisk) {
      bestRisk = risk;
      bestW = w;
    }
  }
  for (int d = 0; d <= A; d++)
    for (int a = 0; a < Nr; a++)
      for (int v = 0; v < L; v++) {
        movingAverage(lsVal[d][a][v], M, bestW, smoothVal);
        interpolate(smoothVal, anchorPos, M, nSc, hEst[d][a][v]);
      }
  gnrUeDchNoiseVarNa = sigma2;
  gnrUeDchSmoothNa = bestW;

  // In time: the least-squares line through the DMRS symbols' estimates on every subcarrier, or
  // their mean. The line costs the noise of its slope, s2 / Sll per symbol squared (s2 of one
  // smoothed estimate); ignoring a slope b costs |b|^2 per symbol squared. The measured slope
  // carries that noise too (mean s2 / Sll), so the break-even point is a mean |b|^2 of 2 s2 / Sll.
  // The measured mean has about D = (antennas x layers x estimates) / window independent terms:
  // the line is taken above (2 + 4 / sqrt(D)) s2 / Sll, which a static channel's noise passes in
  // well under 1 % of slots even with D = 1.
  const int n = A + 1;
  float lBar = 0.0f;
  for (int d = 0; d < n; d++) lBar += static_cast<float>(symNum[d]) / static_cast<float>(n);
  float sll = 0.0f;
  for (int d = 0; d < n; d++) sll += (symNum[d] - lBar) * (symNum[d] - lBar);
  double slopePow = 0.0;
  for (int a = 0; a < Nr; a++)
    for (int v = 0; v < L; v++)
      for (int k = 0; k < nSc; k++) {
        nrCpxF m = {0.0f, 0.0f}, b = {0.0f, 0.0f};
        for (int d = 0; d < n; d++) {
          m = nrCpxAdd(m, nrCpxScale(hEst[d][a][v][k], 1.0f / static_cast<float>(n)));
          if (sll > 0.0f) b = nrCpxAdd(b, nrCpxScale(hEst[d][a][v][k], (symNum[d] - lBar) / sll));
        }
        hMean[a][v][k] = m;
        hSlope[a][v][k] = b;
        slopePow += norm2(b);
      }
  // The noise of one smoothed estimate, averaged over the anchors (shorter windows at the edges).
  double invCount = 0.0;
  for (int m = 0; m < M; m++) {
    const int lo = m - bestW < 0 ? 0 : m - bestW;
    const int hi = m + bestW >= M ? M - 1 : m + bestW;
    invCount += 1.0 / (hi - lo + 1) / M;
  }
  const double s2Smooth = s2 * invCount;
  const double dof = static_cast<double>(Nr) * L * M / (2.0 * bestW + 1.0);
  const double margin = 2.0 + 4.0 / std::sqrt(dof < 1.0 ? 1.0 : dof);
  const bool slope =
      sll > 0.0f && slopePow / (static_cast<double>(Nr) * L * nSc) > margin * s2Smooth / sll;
  gnrUeDchSlopeNa = slope;

  const auto equalise = [&](uint32_t e, int l, int k) {
    nrCpxF H[kRxAnt][kMaxLayers];
    const float dl = slope ? static_cast<float>(l) - lBar : 0.0f;
    for (int a = 0; a < Nr; a++)
      for (int v = 0; v < L; v++)
        H[a][v] = nrCpxAdd(hMean[a][v][k], nrCpxScale(hSlope[a][v][k], dl));
    nrCpxF y[kRxAnt];
    for (int a = 0; a < Nr; a++) y[a] = iq(dataRe[e].ant[a]);
    if (L == 1) {
      // Maximum-ratio combining: x = sum conj(H_a) y_a / sum |H_a|^2, noise sigma2 / sum |H_a|^2.
      float g = 0.0f;
      nrCpxF z = {0.0f, 0.0f};
      for (int a = 0; a < Nr; a++) {
        g += norm2(H[a][0]);
        z = nrCpxAdd(z, conjMul(H[a][0], y[a]));
      }
      const bool ok = g > 0.0f && std::isfinite(g);
      gnrUeDchEqNa[e][0] = ok ? nrCpxScale(z, 1.0f / g) : nrCpxF{0.0f, 0.0f};
      gnrUeDchNvNa[e][0] = ok ? sigma2 / g : kHugeNoise;
      return;
    }
    // Two layers: G = H^H H, z = H^H y; ZF x = G^-1 z with noise sigma2 [G^-1]_vv, or MMSE
    // x = (G + sigma2 I)^-1 z, unbiased per layer by mu_v = [(G + sigma2 I)^-1 G]_vv, with noise
    // (1 - mu_v) / mu_v (unit symbol power).
    const float g00 = norm2(H[0][0]) + norm2(H[1][0]);
    const float g11 = norm2(H[0][1]) + norm2(H[1][1]);
    const nrCpxF g01 = nrCpxAdd(conjMul(H[0][0], H[0][1]), conjMul(H[1][0], H[1][1]));
    const nrCpxF z0 = nrCpxAdd(conjMul(H[0][0], y[0]), conjMul(H[1][0], y[1]));
    const nrCpxF z1 = nrCpxAdd(conjMul(H[0][1], y[0]), conjMul(H[1][1], y[1]));
    const float reg = mmse ? sigma2 : 0.0f;
    const float a00 = g00 + reg, a11 = g11 + reg;
    const float det = a00 * a11 - norm2(g01);
    if (!(det > 0.0f) || !std::isfinite(det)) {
      for (int v = 0; v < 2; v++) {
        gnrUeDchEqNa[e][v] = {0.0f, 0.0f};
        gnrUeDchNvNa[e][v] = kHugeNoise;
      }
      return;
    }
    // inverse of [[a00, g01], [conj(g01), a11]] = [[a11, -g01], [-conj(g01), a00]] / det
    const nrCpxF g10 = {g01.re, -g01.im};
    const nrCpxF x0 = nrCpxScale(nrCpxSub(nrCpxScale(z0, a11), nrCpxMul(g01, z1)), 1.0f / det);
    const nrCpxF x1 = nrCpxScale(nrCpxSub(nrCpxScale(z1, a00), nrCpxMul(g10, z0)), 1.0f / det);
    if (!mmse) {
      gnrUeDchEqNa[e][0] = x0;
      gnrUeDchEqNa[e][1] = x1;
      gnrUeDchNvNa[e][0] = sigma2 * a11 / det;
      gnrUeDchNvNa[e][1] = sigma2 * a00 / det;
      return;
    }
    const float mu[2] = {1.0f - sigma2 * a11 / det, 1.0f - sigma2 * a00 / det};
    const nrCpxF x[2] = {x0, x1};
    for (int v = 0; v < 2; v++) {
      const bool ok = mu[v] > 0.0f;
      gnrUeDchEqNa[e][v] = ok ? nrCpxScale(x[v], 1.0f / mu[v]) : nrCpxF{0.0f, 0.0f};
      gnrUeDchNvNa[e][v] = ok ? (1.0f - mu[v]) / mu[v] : kHugeNoise;
    }
  };

  // The data REs in extraction order: symbol by symbol, RB by RB, subcarriers ascending; on a
  // DMRS symbol only the subcarriers outside the CDM groups without data.
  uint32_t e = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (((pdsch.symBitmap >> l) & 1) == 0) continue;
    bool dmrsSymbol = false;
    for (int d = 0; d <= A; d++) dmrsSymbol = dmrsSymbol || symNum[d] == l;
    for (int k = 0; k < nSc && e < dataReN; k++) {
      if (dmrsSymbol && ((noDataSc >> (k % kScPerRb)) & 1)) continue;
      equalise(e++, l, k);
    }
  }
  return true;
}

uint32_t nrDemodSoftNa(const int32_t* reIdx, uint32_t reN, int layers, uint16_t Qm, float llrScale,
                       int16_t* soft) {
  if (Qm != 2 && Qm != 4 && Qm != 6 && Qm != 8) return 0;
  const int m = Qm / 2;       // bits per dimension
  const int levelN = 1 << m;  // levels per dimension
  // Levels of every bit pattern of one dimension, in units of the constellation's unit amplitude
  // a = 1 / sqrt(2 (4^m - 1) / 3).
  float level[16];
  const float unit = 1.0f / std::sqrt(2.0f * static_cast<float>(levelN * levelN - 1) / 3.0f);
  for (int bits = 0; bits < levelN; bits++)
    level[bits] = unit * static_cast<float>(pamLevel(bits, m));

  uint32_t out = 0;
  for (uint32_t i = 0; i < reN; i++) {
    const int32_t e = reIdx[i];
    for (int v = 0; v < layers; v++) {
      const nrCpxF x = gnrUeDchEqNa[e][v];
      const float nv = gnrUeDchNvNa[e][v];
      const float g = nv > 0.0f && nv < kHugeNoise ? llrScale / nv : 0.0f;
      for (int dim = 0; dim < 2; dim++) {
        const float u = dim == 0 ? x.re : x.im;
        float dist[16];
        for (int bits = 0; bits < levelN; bits++)
          dist[bits] = (u - level[bits]) * (u - level[bits]);
        for (int k = 0; k < m; k++) {
          // Max-log LLR of bit k: (nearest level with the bit 1) - (nearest with the bit 0).
          float d0 = 3.0e38f, d1 = 3.0e38f;
          for (int bits = 0; bits < levelN; bits++) {
            if ((bits >> k) & 1)
              d1 = dist[bits] < d1 ? dist[bits] : d1;
            else
              d0 = dist[bits] < d0 ? dist[bits] : d0;
          }
          float s = std::nearbyint(g * (d1 - d0));
          s = s < kLlrMin ? kLlrMin : (s > kLlrMax ? kLlrMax : s);
          soft[out + 2 * k + dim] = static_cast<int16_t>(s);
        }
      }
      out += Qm;
    }
  }
  return out;
}
