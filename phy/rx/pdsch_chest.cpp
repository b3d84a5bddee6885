#include "phy/rx/pdsch_chest.h"

#include <cmath>
#include <cstdio>

#include "config/console.h"
#include "phy/common/cpu_features.h"
#include "phy/common/cpx_float.h"
#include "phy/common/dmrs.h"
#include "phy/common/simd_lanes.h"
#include "phy/common/stage_profile.h"

namespace {

constexpr int kRxAnt = 2;
constexpr int16_t kNoDmrsSymbol = 15;   // unused entries of NsymbolNumber
constexpr uint16_t kCopyCode = 0x8000;  // weight 128/128 on one DMRS symbol

// Complex values of one estimate or weight per subcarrier (or per data RE), real and imaginary
// parts apart.
struct NrCpxArr {
  alignas(64) float re[kGridScCap];
  alignas(64) float im[kGridScCap];
};

// Working storage of one slot, rewritten by every call for the configured sizes. Estimates and
// weights per subcarrier keep their real and imaginary parts apart, so that the kernels run over
// whole vectors of subcarriers.
nrCpxF genDmrs[kDmrsRePerSymCap];                           // reference symbols r(n)
nrCpxF gnrUeDchHls[kRxAnt][kMaxLayers][kDmrsRePerSymCap];   // least-squares estimates
NrCpxArr gnrUeDchHf[kRxAnt][kMaxLayers];                    // per subcarrier
NrCpxArr gnrUeDchEqW[kMaxDmrsSymbols][kMaxLayers][kRxAnt];  // W[d][row][col], per subcarrier
NrCpxArr symW[kMaxLayers][kRxAnt];  // the weights of the symbol being equalised, entry by entry
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

inline void putCpx(NrCpxArr& dst, int k, nrCpxF x) {
  dst.re[k] = x.re;
  dst.im[k] = x.im;
}

// Interpolation of the estimates onto the nSc subcarriers of the allocation; sc lists the K DMRS
// subcarriers of an RB (ascending), so DMRS RE m sits at subcarrier 12 (m / K) + sc[m % K]. One
// layer: an estimate per DMRS RE, linear in between (the mean at midway). Two layers: an estimate
// per RE pair, constant over the pair's span, linear between spans. Constant before the first and
// beyond the last estimate. The kL layers of both antennas share the geometry and are
// interpolated together, subcarrier by subcarrier.
template <int kL>
void interpolateFreqLayers(int P, const int* sc, int K, int nSc) {
  constexpr int kSets = kRxAnt * kL;
  const int anchors = kL == 2 ? P / 2 : P;
  if (anchors == 0) return;
  const auto scOf = [&](int m) { return kScPerRb * (m / K) + sc[m % K]; };
  const auto first = [&](int n) { return scOf(kL == 2 ? 2 * n : n); };
  const auto last = [&](int n) { return scOf(kL == 2 ? 2 * n + 1 : n); };
  const nrCpxF* h[kSets];
  NrCpxArr* hf[kSets];
  for (int a = 0; a < kRxAnt; a++)
    for (int v = 0; v < kL; v++) {
      h[kL * a + v] = gnrUeDchHls[a][v];
      hf[kL * a + v] = &gnrUeDchHf[a][v];
    }
  const auto copy = [&](int k, int n) {
    for (int x = 0; x < kSets; x++) putCpx(*hf[x], k, h[x][n]);
  };
  // Up to the end of the first estimate's span: the first estimate.
  int k = 0;
  const int firstEnd = last(0);
  for (; k < nSc && k <= firstEnd; k++) copy(k, 0);
  for (int n = 1; n < anchors && k < nSc; n++) {
    // The gap after estimate n - 1, then the span of estimate n.
    const int from = last(n - 1);
    const int to = first(n);
    const int end = last(n);
    const int gap = to - from;
    for (; k < nSc && k < to; k++) {
      if (kL == 1 && 2 * (k - from) == gap) {
        for (int x = 0; x < kSets; x++)
          putCpx(*hf[x], k, nrCpxScale(nrCpxAdd(h[x][n - 1], h[x][n]), 0.5f));
      } else {
        const float w = static_cast<float>(k - from) / static_cast<float>(gap);
        for (int x = 0; x < kSets; x++)
          putCpx(*hf[x], k, nrCpxAdd(h[x][n - 1], nrCpxScale(nrCpxSub(h[x][n], h[x][n - 1]), w)));
      }
    }
    for (; k < nSc && k <= end; k++) copy(k, n);
  }
  for (; k < nSc; k++) copy(k, anchors - 1);
}

void interpolateFreq(int P, int L, const int* sc, int K, int nSc) {
  if (L == 2)
    interpolateFreqLayers<2>(P, sc, K, nSc);
  else
    interpolateFreqLayers<1>(P, sc, K, nSc);
}

// ---- Kernels over whole vectors of subcarriers or REs, with their instruction-set variants ----
//
// The plain loops are the reference: the nrCpx* helpers element by element (zfAt, blendAt,
// equaliseAt). The variants run the same operations in the same order on NrLanes vectors and
// leave the last elements, fewer than a vector, to the plain step.

inline nrCpxF getCpx(const NrCpxArr& a, int k) { return {a.re[k], a.im[k]}; }

// Zero-forcing weights of DMRS symbol d at subcarrier k.
inline void zfAt(int d, int k, int L) {
  if (L == 2) {
    const nrCpxF h00 = getCpx(gnrUeDchHf[0][0], k), h01 = getCpx(gnrUeDchHf[0][1], k);
    const nrCpxF h10 = getCpx(gnrUeDchHf[1][0], k), h11 = getCpx(gnrUeDchHf[1][1], k);
    const nrCpxF det = nrCpxSub(nrCpxMul(h00, h11), nrCpxMul(h01, h10));
    const nrCpxF negDet = nrCpxScale(det, -1.0f);
    putCpx(gnrUeDchEqW[d][0][0], k, nrCpxDiv(h11, det));
    putCpx(gnrUeDchEqW[d][0][1], k, nrCpxDiv(h01, negDet));
    putCpx(gnrUeDchEqW[d][1][0], k, nrCpxDiv(h10, negDet));
    putCpx(gnrUeDchEqW[d][1][1], k, nrCpxDiv(h00, det));
    return;
  }
  // The Q10 output scale sits inside the one-layer weight.
  const nrCpxF one = {1024.0f, 0.0f};
  for (int a = 0; a < kRxAnt; a++)
    putCpx(gnrUeDchEqW[d][a][0], k, nrCpxDiv(one, getCpx(gnrUeDchHf[a][0], k)));
}

// a * b (nrCpxMul) and a / b (nrCpxDiv) on real and imaginary parts.
template <typename V>
[[gnu::always_inline]] inline void cMul(V& re, V& im, const V& ar, const V& ai, const V& br,
                                        const V& bi) {
  re = ar * br - ai * bi;
  im = ai * br + ar * bi;
}
template <typename V>
[[gnu::always_inline]] inline void cDiv(V& re, V& im, const V& ar, const V& ai, const V& br,
                                        const V& bi) {
  const V m = br * br + bi * bi;
  re = (ar * br + ai * bi) / m;
  im = (ai * br - ar * bi) / m;
}

template <int W>
[[gnu::always_inline]] inline void zfLanes(int d, int nSc, int L) {
  using V = typename NrLanes<W>::F;
  int k = 0;
  for (; k + W <= nSc; k += W) {
    const auto ld = [k](V& x, const NrCpxArr& a, V& y) {
      nrLoad(x, a.re + k);
      nrLoad(y, a.im + k);
    };
    const auto st = [k](NrCpxArr& a, const V& x, const V& y) {
      nrStore(a.re + k, x);
      nrStore(a.im + k, y);
    };
    V xr, xi;
    if (L == 2) {
      V h00r, h00i, h01r, h01i, h10r, h10i, h11r, h11i, ar, ai, br, bi;
      ld(h00r, gnrUeDchHf[0][0], h00i);
      ld(h01r, gnrUeDchHf[0][1], h01i);
      ld(h10r, gnrUeDchHf[1][0], h10i);
      ld(h11r, gnrUeDchHf[1][1], h11i);
      cMul(ar, ai, h00r, h00i, h11r, h11i);
      cMul(br, bi, h01r, h01i, h10r, h10i);
      const V detR = ar - br, detI = ai - bi;
      const V negR = detR * -1.0f, negI = detI * -1.0f;
      cDiv(xr, xi, h11r, h11i, detR, detI);
      st(gnrUeDchEqW[d][0][0], xr, xi);
      cDiv(xr, xi, h01r, h01i, negR, negI);
      st(gnrUeDchEqW[d][0][1], xr, xi);
      cDiv(xr, xi, h10r, h10i, negR, negI);
      st(gnrUeDchEqW[d][1][0], xr, xi);
      cDiv(xr, xi, h00r, h00i, detR, detI);
      st(gnrUeDchEqW[d][1][1], xr, xi);
      continue;
    }
    const V oneR = V{} + 1024.0f, zero = V{};
    for (int a = 0; a < kRxAnt; a++) {
      V hr, hi;
      ld(hr, gnrUeDchHf[a][0], hi);
      cDiv(xr, xi, oneR, zero, hr, hi);
      st(gnrUeDchEqW[d][a][0], xr, xi);
    }
  }
  for (; k < nSc; k++) zfAt(d, k, L);
}

// The weights of one symbol interpolated in time: dst = W1 x s1 + W2 x s2 element by element
// (nrCpxScale of each, then nrCpxAdd), for the n first subcarriers of `arrays` weight arrays.
struct Blend {
  NrCpxArr* dst[kMaxLayers * kRxAnt];
  const NrCpxArr* w1[kMaxLayers * kRxAnt];
  const NrCpxArr* w2[kMaxLayers * kRxAnt];
  int arrays;
  float s1, s2;
};

inline void blendAt(const Blend& b, int x, int k) {
  const nrCpxF p = nrCpxScale(getCpx(*b.w1[x], k), b.s1);
  const nrCpxF q = nrCpxScale(getCpx(*b.w2[x], k), b.s2);
  putCpx(*b.dst[x], k, nrCpxAdd(p, q));
}

template <int W>
[[gnu::always_inline]] inline void blendLanes(const Blend& b, int n) {
  using V = typename NrLanes<W>::F;
  for (int x = 0; x < b.arrays; x++) {
    const float* part1[2] = {b.w1[x]->re, b.w1[x]->im};
    const float* part2[2] = {b.w2[x]->re, b.w2[x]->im};
    float* out[2] = {b.dst[x]->re, b.dst[x]->im};
    int k = 0;
    for (; k + W <= n; k += W)
      for (int c = 0; c < 2; c++) {
        V p, q;
        nrLoad(p, part1[c] + k);
        nrLoad(q, part2[c] + k);
        const V r = p * b.s1 + q * b.s2;
        nrStore(out[c] + k, r);
      }
    for (; k < n; k++) blendAt(b, x, k);
  }
}

// The n data REs from re on, each with the weights of its own index in w (w[row][col]; one layer
// reads w[0][0] and w[1][0], the per-antenna weights).
struct EqRun {
  NrRxRe* re;
  const NrCpxArr* w[kMaxLayers][kRxAnt];
  int n;
  int L;
};

inline int32_t packIq(nrCpxF x) { return nrCpxPack(nrFloatToInt16(x.re), nrFloatToInt16(x.im)); }

inline void equaliseAt(const EqRun& q, int t) {
  NrRxRe& re = q.re[t];
  const int32_t y0 = re.ant[0];
  const int32_t y1 = re.ant[1];
  if (q.L == 2) {
    const nrCpxF v00 = getCpx(*q.w[0][0], t), v01 = getCpx(*q.w[0][1], t);
    const nrCpxF v10 = getCpx(*q.w[1][0], t), v11 = getCpx(*q.w[1][1], t);
    re.ant[0] = packIq(nrCpxScale(nrCpxAdd(nrCpxMulIq(y0, v00), nrCpxMulIq(y1, v01)), 1024.0f));
    re.ant[1] = packIq(nrCpxScale(nrCpxAdd(nrCpxMulIq(y0, v10), nrCpxMulIq(y1, v11)), 1024.0f));
  } else {
    re.ant[0] = packIq(nrCpxMulIq(y0, getCpx(*q.w[0][0], t)));
    re.ant[1] = packIq(nrCpxMulIq(y1, getCpx(*q.w[1][0], t)));
  }
}

template <int W>
[[gnu::always_inline]] inline void equaliseLanes(const EqRun& q) {
  using F = typename NrLanes<W>::F;
  using I = typename NrLanes<W>::I;
  int t = 0;
  for (; t + W <= q.n; t += W) {
    // W REs: the antenna-0 and antenna-1 words of each, as real and imaginary parts.
    I a, b, iq0, iq1;
    nrLoad(a, &q.re[t]);
    nrLoad(b, &q.re[t + W / 2]);
    nrDeinterleave<W>(iq0, iq1, a, b);
    F y0r, y0i, y1r, y1i;
    nrIqToFloat<W>(y0r, y0i, iq0);
    nrIqToFloat<W>(y1r, y1i, iq1);
    const auto ld = [t](F& x, F& y, const NrCpxArr* arr) {
      nrLoad(x, arr->re + t);
      nrLoad(y, arr->im + t);
    };
    F x0r, x0i, x1r, x1i;
    if (q.L == 2) {
      // nrCpxMulIq of each antenna, their sum, times 1024: row 0 gives layer 0, row 1 layer 1.
      F v0r, v0i, v1r, v1i;
      ld(v0r, v0i, q.w[0][0]);
      ld(v1r, v1i, q.w[0][1]);
      x0r = ((y0r * v0r - y0i * v0i) + (y1r * v1r - y1i * v1i)) * 1024.0f;
      x0i = ((y0i * v0r + y0r * v0i) + (y1i * v1r + y1r * v1i)) * 1024.0f;
      ld(v0r, v0i, q.w[1][0]);
      ld(v1r, v1i, q.w[1][1]);
      x1r = ((y0r * v0r - y0i * v0i) + (y1r * v1r - y1i * v1i)) * 1024.0f;
      x1i = ((y0i * v0r + y0r * v0i) + (y1i * v1r + y1r * v1i)) * 1024.0f;
    } else {
      F vr, vi;
      ld(vr, vi, q.w[0][0]);
      x0r = y0r * vr - y0i * vi;
      x0i = y0i * vr + y0r * vi;
      ld(vr, vi, q.w[1][0]);
      x1r = y1r * vr - y1i * vi;
      x1i = y1i * vr + y1r * vi;
    }
    I i0, q0, i1, q1, o0, o1, lo, hi;
    nrTruncSat16<W>(i0, x0r);
    nrTruncSat16<W>(q0, x0i);
    nrTruncSat16<W>(i1, x1r);
    nrTruncSat16<W>(q1, x1i);
    nrPackIq(o0, i0, q0);
    nrPackIq(o1, i1, q1);
    nrInterleave<W>(lo, hi, o0, o1);
    nrStore(&q.re[t], lo);
    nrStore(&q.re[t + W / 2], hi);
  }
  for (; t < q.n; t++) equaliseAt(q, t);
}

using ZfFn = void (*)(int d, int nSc, int L);
using BlendFn = void (*)(const Blend& b, int n);
using EqFn = void (*)(const EqRun& q);

void zfPlain(int d, int nSc, int L) {
  for (int k = 0; k < nSc; k++) zfAt(d, k, L);
}
void blendPlain(const Blend& b, int n) {
  for (int x = 0; x < b.arrays; x++)
    for (int k = 0; k < n; k++) blendAt(b, x, k);
}
void equalisePlain(const EqRun& q) {
  for (int t = 0; t < q.n; t++) equaliseAt(q, t);
}

#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 void zfAvx2(int d, int nSc, int L) { zfLanes<8>(d, nSc, L); }
VELTRA_TARGET_AVX2 void blendAvx2(const Blend& b, int n) { blendLanes<8>(b, n); }
VELTRA_TARGET_AVX2 void equaliseAvx2(const EqRun& q) { equaliseLanes<8>(q); }
VELTRA_TARGET_AVX512 void zfAvx512(int d, int nSc, int L) { zfLanes<16>(d, nSc, L); }
VELTRA_TARGET_AVX512 void blendAvx512(const Blend& b, int n) { blendLanes<16>(b, n); }
VELTRA_TARGET_AVX512 void equaliseAvx512(const EqRun& q) { equaliseLanes<16>(q); }
constexpr ZfFn kZfFns[kNrCpuLevels] = {zfPlain, zfAvx2, zfAvx512};
constexpr BlendFn kBlendFns[kNrCpuLevels] = {blendPlain, blendAvx2, blendAvx512};
constexpr EqFn kEqFns[kNrCpuLevels] = {equalisePlain, equaliseAvx2, equaliseAvx512};
#else
constexpr ZfFn kZfFns[kNrCpuLevels] = {zfPlain, nullptr, nullptr};
constexpr BlendFn kBlendFns[kNrCpuLevels] = {blendPlain, nullptr, nullptr};
constexpr EqFn kEqFns[kNrCpuLevels] = {equalisePlain, nullptr, nullptr};
#endif

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
  NrStageScope estimation(NrStage::kEstimation);
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
  int dataSc[kScPerRb];
  int dataPerRb = 0;
  for (int k = 0; k < kScPerRb; k++) {
    if ((groupSc >> k) & 1) sc[K++] = k;
    if (((noDataSc >> k) & 1) == 0) dataSc[dataPerRb++] = k;
  }
  const int rbN = pdsch.rbN;
  const int nSc = kScPerRb * rbN;

  NsymbolNumber[0] = pdsch.dmrsFirstSym;
  for (int i = 1; i < kMaxDmrsSymbols; i++)
    NsymbolNumber[i] = i <= A ? pdsch.dmrsAddPos[i - 1] : kNoDmrsSymbol;

  const ZfFn zf = nrCpuPick(kZfFns);
  for (int d = 0; d <= A; d++) {
    if (!genDmrsSymbol(pdsch, slot, static_cast<uint32_t>(NsymbolNumber[d]), P, K)) {
      nrDiag("nrUeDchChEstEq: DMRS of symbol %d beyond the Gold sequence, not equalised\n",
             NsymbolNumber[d]);
      return false;
    }
    leastSquares(&dmrsRe[d * P], P, L, nrDmrsOcc(port) < 0);
    interpolateFreq(P, L, sc, K, nSc);
    zf(d, nSc, L);
  }

  // From here to the end: weights interpolated in time and applied to the data REs.
  NrStageScope equalisation(NrStage::kEqualisation);
  nrDchTimeInterpCodes(NsymbolNumber, A, InterpHcoef);

  const BlendFn blend = nrCpuPick(kBlendFns);
  const EqFn equalise = nrCpuPick(kEqFns);
  const int16_t* N = NsymbolNumber;
  uint32_t e = 0;
  int dd = 0;
  // Weight arrays of one set: two layers use all four, one layer the first column.
  const int cols = L == 2 ? 2 : 1;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (l >= N[0]) dd = 0;
    if (l >= N[1] - 1) dd = 1;
    if (l >= N[2] - 1) dd = 2;
    if (l >= N[3]) dd = 3;
    if (((pdsch.symBitmap >> l) & 1) == 0) continue;

    EqRun run{};
    run.re = dataRe + e;
    run.L = L;
    const bool dmrsSymbol = l == N[0] || l == N[1] || l == N[2] || l == N[3];
    const uint32_t avail = dataReN - e;
    if (dmrsSymbol) {
      // Data beside the DMRS: the subcarriers outside the CDM groups without data, with the
      // weights of DMRS symbol dd gathered entry by entry.
      const uint32_t want = static_cast<uint32_t>(dataPerRb * rbN);
      run.n = static_cast<int>(want < avail ? want : avail);
      for (int i = 0; i < kMaxLayers; i++)
        for (int j = 0; j < cols; j++) {
          const NrCpxArr& from = gnrUeDchEqW[dd][i][j];
          NrCpxArr& to = symW[i][j];
          for (int t = 0, r = 0; t < run.n; r++)
            for (int m = 0; m < dataPerRb && t < run.n; m++, t++) {
              to.re[t] = from.re[kScPerRb * r + dataSc[m]];
              to.im[t] = from.im[kScPerRb * r + dataSc[m]];
            }
          run.w[i][j] = &to;
        }
    } else {
      run.n =
          static_cast<int>(static_cast<uint32_t>(nSc) < avail ? static_cast<uint32_t>(nSc) : avail);
      // Weights of subcarrier k interpolated in time: w / 128 of DMRS symbol d2 and the rest of
      // d1; a code of weight 128 takes d2 unchanged.
      const uint16_t c = InterpHcoef[l];
      const int w = c >> 8;
      const int d1 = (c >> 4) & 15;
      const int d2 = c & 15;
      Blend b{};
      b.s1 = static_cast<float>(128 - w) / 128.0f;
      b.s2 = static_cast<float>(w) / 128.0f;
      for (int i = 0; i < kMaxLayers; i++)
        for (int j = 0; j < cols; j++) {
          if (w == 128) {
            run.w[i][j] = &gnrUeDchEqW[d2][i][j];
            continue;
          }
          b.dst[b.arrays] = &symW[i][j];
          b.w1[b.arrays] = &gnrUeDchEqW[d1][i][j];
          b.w2[b.arrays] = &gnrUeDchEqW[d2][i][j];
          b.arrays++;
          run.w[i][j] = &symW[i][j];
        }
      if (b.arrays) blend(b, run.n);
    }
    if (run.n > 0) equalise(run);
    e += static_cast<uint32_t>(run.n);
  }
  return true;
}
