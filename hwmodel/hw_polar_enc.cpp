#include "hwmodel/hw_polar_enc.h"

#include <bit>
#include <cstring>

#include "config/console.h"
#include "phy/coding/polar_code.h"

namespace {

constexpr int32_t kSubBlocks = 32;  // TS 38.212 5.4.1.1
constexpr int32_t kPcRegLen = 5;    // TS 38.212 5.3.1.2: cyclic register y0 .. y4
constexpr int32_t kRelTableLen = 2 * kHwPolarMaxN - kSubBlocks;

// 2^popcount of a 5-bit value: the row weight of G_N is the product over both 5-bit halves.
constexpr int32_t kWeight5[32] = {1, 2, 2, 4, 2, 4, 4, 8,  2, 4, 4, 8,  4, 8,  8,  16,
                                  2, 4, 4, 8, 4, 8, 8, 16, 4, 8, 8, 16, 8, 16, 16, 32};

int32_t rowWeight(int32_t i) { return kWeight5[i & 31] * kWeight5[(i >> 5) & 31]; }

// Tables derived once from the sequence and the interleaver of phy/coding: the reliability order
// below N for every N (N = 2^n from offset N - 32), and P^-1.
struct Tables {
  int32_t rel[kRelTableLen];
  int32_t pInv[kSubBlocks];
};

Tables buildTables() {
  Tables t{};
  const int16_t* seq = polar_detail::sequence();
  for (int32_t N = kSubBlocks; N <= kHwPolarMaxN; N *= 2) {
    int32_t* r = t.rel + (N - kSubBlocks);
    int32_t k = 0;
    for (int32_t q = 0; q < kPolarNmaxLen; q++)
      if (seq[q] < N) r[k++] = seq[q];
  }
  const int16_t* P = polar_detail::subblockPerm();
  for (int32_t i = 0; i < kSubBlocks; i++) t.pInv[P[i]] = i;
  return t;
}

const Tables& tables() {
  static const Tables t = buildTables();
  return t;
}

// Arguments of a selection, checked once.
struct Args {
  int32_t K, n, N, nPC, nPCwm, E, type, T2, T3, candidates;
};

bool refuse(const char* who, const char* what, int32_t value, const char* why) {
  nrDiag("%s(): %s = %d %s, nothing encoded!\n", who, what, value, why);
  return false;
}

bool checkRule(const char* who, int32_t n, int32_t N, int32_t E, int32_t type, int32_t T2,
               int32_t T3) {
  if (n < kHwPolarMinLog2 || n > kHwPolarMaxLog2) return refuse(who, "n", n, "is outside 5 .. 10");
  if (N != (1 << n)) return refuse(who, "N", N, "is not 2^n");
  if (type < kHwPolarRuleNone || type > kHwPolarRuleT3)
    return refuse(who, "type", type, "is no frozen-set rule (0 .. 3)");
  if (E < 1 || E > kHwPolarMaxE) return refuse(who, "E", E, "is outside 1 .. 8192");
  if (T2 < 0 || T2 > N) return refuse(who, "T2", T2, "is outside 0 .. N");
  if (T3 < 0 || T3 > N) return refuse(who, "T3", T3, "is outside 0 .. N");
  return true;
}

// TS 38.212 5.4.1.1: whether the rule freezes index v, which the sub-block interleaver sends to
// position p.
bool excluded(const Args& a, int32_t v, int32_t p) {
  switch (a.type) {
    case kHwPolarRuleShorten:
      return p >= a.E;
    case kHwPolarRuleT2:
      return p < a.N - a.E || v < a.T2;
    case kHwPolarRuleT3:
      return p < a.N - a.E || v < a.T3;
    default:
      return false;
  }
}

// The output position of index v: (N/32) P^-1(floor(32 v / N)) + (v mod N/32).
int32_t interleavedPos(const Tables& t, int32_t N, int32_t v) {
  const int32_t blk = N / kSubBlocks;
  return blk * t.pInv[v / blk] + v % blk;
}

int32_t countCandidates(const Args& a) {
  const Tables& t = tables();
  int32_t c = 0;
  for (int32_t v = 0; v < a.N; v++) c += excluded(a, v, interleavedPos(t, a.N, v)) ? 0 : 1;
  return c;
}

bool checkArgs(const char* who, const Args& a) {
  if (!checkRule(who, a.n, a.N, a.E, a.type, a.T2, a.T3)) return false;
  if (a.K < 1 || a.K > a.N) return refuse(who, "K", a.K, "is outside 1 .. N");
  if (a.nPC < 0 || a.nPC > a.N) return refuse(who, "nPC", a.nPC, "is outside 0 .. N");
  // Only the one minimum-weight position turns from information to parity check: a larger nPCwm
  // would leave more information positions than bits.
  if (a.nPCwm < 0 || a.nPCwm > 1 || a.nPCwm > a.nPC)
    return refuse(who, "nPCwm", a.nPCwm, "is neither 0 nor 1 (at most nPC)");
  const int32_t left = countCandidates(a);
  if (a.candidates != left)
    return refuse(who, "candidates", a.candidates, "differs from the positions the rule leaves");
  if (a.K + a.nPC > left)
    return refuse(who, "K + nPC", a.K + a.nPC, "exceeds the positions the rule leaves");
  return true;
}

// TS 38.212 5.3.1.2 and 5.4.1.1: types[v] for v < N, walking the reliability order from the least
// reliable index. minW0 is the starting minimum weight (any value >= N gives the same result).
void selectPositions(const Args& a, int32_t minW0, int32_t* types) {
  const Tables& t = tables();
  const int32_t* rel = t.rel + (a.N - kSubBlocks);
  int32_t minW = minW0;
  int32_t minWindex = 0;
  int32_t QICnt = 0;
  int32_t cand = 0;
  const int32_t frozenCands = a.candidates - a.K - a.nPC;
  for (int32_t q = 0; q < a.N; q++) {
    const int32_t v = rel[q];
    if (excluded(a, v, interleavedPos(t, a.N, v))) {
      types[v] = kHwPolarFrozen;
      continue;
    }
    // Only the K + nPC most reliable candidates carry a bit.
    if (cand++ < frozenCands) {
      types[v] = kHwPolarFrozen;
      continue;
    }
    if (a.nPC == 0) {
      types[v] = kHwPolarInfo;
    } else if (a.nPCwm == 0 ? QICnt < a.nPC : QICnt < a.nPC - a.nPCwm) {
      types[v] = kHwPolarParity;  // the least reliable selected positions
    } else {
      types[v] = kHwPolarInfo;
      // Among the K most reliable: the smallest row weight, ties to the later (more reliable) one.
      const int32_t w = rowWeight(v);
      if (QICnt >= a.nPC && w <= minW) {
        minW = w;
        minWindex = v;
      }
    }
    QICnt++;
  }
  if (a.nPCwm > 0) types[minWindex] = kHwPolarParity;
}

// The encoder's static memories: position types, u and the stage FIFOs (N - 1 bits in all).
int32_t gTypes[kHwPolarMaxN];
int32_t gU[kHwPolarMaxN];
int32_t gFifoBuf[kHwPolarMaxN];

}  // namespace

namespace hw_polar_detail {

// x = u G_N by the pipeline: stage c (c = n-1 first) keeps a FIFO of 2^c bits; while bit c of the
// counter is 0 it stores its input and emits the FIFO bit stored 2^c clocks earlier, while it is 1
// it passes its input on and stores the sum of both. The last stage emits x from x[N-1] down to
// x[0] at clocks N-1 .. 2N-2.
void pipeline(int32_t n, int32_t N, const int32_t* u, int32_t* x, int32_t* trace) {
  int32_t FifoLen[kHwPolarMaxLog2];
  int32_t FifoBufOfst[kHwPolarMaxLog2];
  int32_t ofst = 0;
  for (int32_t s = 0; s < n; s++) {
    FifoLen[s] = 1 << (n - s - 1);
    FifoBufOfst[s] = ofst;
    ofst += FifoLen[s];
  }
  std::memset(gFifoBuf, 0, sizeof(int32_t) * ofst);
  int32_t counter = 0;
  for (int32_t t = 0; t <= 2 * N - 2; t++) {
    counter = t == 0 || counter + 1 == N ? 0 : counter + 1;
    int32_t Pe2SpMuxSet[kHwPolarMaxLog2];
    int32_t FifoAddrSet[kHwPolarMaxLog2];
    for (int32_t s = 0; s < n; s++) {
      Pe2SpMuxSet[s] = (counter >> s) & 1;
      FifoAddrSet[s] = counter & ((1 << s) - 1);
    }
    int32_t bit = t < N ? u[t] : 0;
    for (int32_t c = n - 1; c >= 0; c--) {
      int32_t* f = gFifoBuf + FifoBufOfst[n - 1 - c] + FifoAddrSet[c];
      const int32_t bitFromFifo = *f;
      int32_t bitOutFifo;
      if (Pe2SpMuxSet[c]) {
        bitOutFifo = bit;
        *f = bit ^ bitFromFifo;
      } else {
        bitOutFifo = bitFromFifo;
        *f = bit;
      }
      bit = bitOutFifo;
    }
    if (trace) trace[t] = bit;
    if (t >= N - 1) x[2 * N - 2 - t] = bit;  // bitOutput
  }
}

}  // namespace hw_polar_detail

int32_t nrHwPolarCandidates(int32_t n, int32_t N, int32_t E, int32_t type, int32_t T2, int32_t T3) {
  if (!checkRule("nrHwPolarCandidates", n, N, E, type, T2, T3)) return -1;
  return countCandidates(Args{0, n, N, 0, 0, E, type, T2, T3, 0});
}

bool nrHwPolarEnc(int32_t K, int32_t n, int32_t N, int32_t nPC, int32_t nPCwm, int32_t E,
                  int32_t type, int32_t T2, int32_t T3, int32_t candidates, const int32_t* info,
                  int32_t* out, int32_t* debug) {
  const Args a{K, n, N, nPC, nPCwm, E, type, T2, T3, candidates};
  if (!checkArgs("nrHwPolarEnc", a)) return false;
  selectPositions(a, kHwPolarMaxN, gTypes);

  // TS 38.212 5.3.1.2: the register is used, then rotated, at every position (the same sequence
  // as rotating before use, starting from zero).
  int32_t y[kPcRegLen] = {};
  int32_t k = 0;
  for (int32_t j = 0; j < N; j++) {
    if (gTypes[j] == kHwPolarFrozen) {
      gU[j] = 0;
    } else if (gTypes[j] == kHwPolarParity) {
      gU[j] = y[0];
    } else {
      gU[j] = info[k++] & 1;
      y[0] ^= gU[j];
    }
    const int32_t y0 = y[0];
    for (int32_t i = 0; i + 1 < kPcRegLen; i++) y[i] = y[i + 1];
    y[kPcRegLen - 1] = y0;
  }

  hw_polar_detail::pipeline(n, N, gU, out, nullptr);
  if (debug) {
    std::memcpy(debug, gTypes, sizeof(int32_t) * N);
    std::memcpy(debug + kHwPolarDebugU, gU, sizeof(int32_t) * N);
  }
  return true;
}

bool nrHwPolarInterleaveIdx(int32_t N, int32_t n, int32_t* J) {
  if (n < kHwPolarMinLog2 || n > kHwPolarMaxLog2 || N != (1 << n)) {
    nrDiag("nrHwPolarInterleaveIdx(): N = %d, n = %d is no code length 2^n of 32 .. 1024!\n", N, n);
    return false;
  }
  const int16_t* P = polar_detail::subblockPerm();
  const int32_t blk = N / kSubBlocks;
  for (int32_t i = 0; i < N; i++) J[i] = blk * P[i / blk] + i % blk;
  return true;
}

int32_t nrHwPolarSelectList(int32_t K, int32_t n, int32_t N, int32_t nPC, int32_t nPCwm, int32_t E,
                            int32_t type, int32_t T2, int32_t T3, int32_t candidates,
                            int32_t* selIdx, int32_t* infoIdx, int32_t* pcFlag) {
  const Args a{K, n, N, nPC, nPCwm, E, type, T2, T3, candidates};
  if (!checkArgs("nrHwPolarSelectList", a)) return -1;
  selectPositions(a, N, gTypes);
  const int32_t* rel = tables().rel + (N - kSubBlocks);
  int32_t sel = 0;
  int32_t inf = 0;
  // Selected means not frozen: the walk order gives the lists least reliable first.
  for (int32_t q = 0; q < N; q++) {
    const int32_t v = rel[q];
    if (gTypes[v] == kHwPolarFrozen) continue;
    selIdx[sel++] = v;
    if (gTypes[v] == kHwPolarInfo) infoIdx[inf++] = v;
  }
  for (int32_t v = 0; v < N; v++) pcFlag[v] = gTypes[v] == kHwPolarParity ? 1 : 0;
  return sel;
}

int32_t nrHwPolarFrozenIdx(int32_t n, int32_t N, int32_t E, int32_t type, int32_t T2, int32_t T3,
                           int32_t* frozen) {
  if (!checkRule("nrHwPolarFrozenIdx", n, N, E, type, T2, T3)) return -1;
  const Args a{0, n, N, 0, 0, E, type, T2, T3, 0};
  const Tables& t = tables();
  int32_t m = 0;
  for (int32_t v = 0; v < N; v++)
    if (excluded(a, v, interleavedPos(t, N, v))) frozen[m++] = v;
  return m;
}
