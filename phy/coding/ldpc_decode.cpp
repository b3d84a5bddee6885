// Layered normalised min-sum decoder modelled on a pipelined hardware decoder: fixed bit widths,
// check-node messages kept as (min1, min2, index of min1) per check node plus one sign per edge,
// column blocks of the a posteriori memory stored rotated and addressed by relative shifts, and
// the write-back of a layer overlapping the reads of the next one.
//
// Data layout: every per-check-node quantity is a contiguous array over the Zc check nodes of a
// layer (structure of arrays), so that each step is one loop over Zc int16 lanes.
#include "phy/coding/ldpc_decode.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "config/console.h"
#include "phy/coding/crc.h"
#include "phy/coding/ldpc_tables.h"

NrLdpcDecPara nrLdpcDecPara;

// The lane loops are written once (always inlined) and instantiated for the baseline instruction
// set and, on x86-64, for AVX2 and AVX-512BW; the widest one the CPU has is used.
#if defined(__x86_64__) && defined(__GNUC__)
#define VELTRA_HAVE_WIDE_LANES 1
#define VELTRA_AVX2 __attribute__((target("avx2")))
#define VELTRA_AVX512 __attribute__((target("avx512bw,avx512vl,avx2")))
#endif

// The lane loops carry no dependence between iterations (their arrays never overlap): the
// vectoriser may skip its run-time alias checks (with clang, the hint makes the decoder over ten
// times faster). Spelt per compiler; others simply vectorise less. Sanitizer instrumentation
// keeps clang from vectorising at all, which it would report as a failed request.
#if defined(__clang__)
#pragma clang diagnostic ignored "-Wpass-failed"
#define VELTRA_NO_LOOP_ALIAS _Pragma("clang loop vectorize(assume_safety)")
#elif defined(__GNUC__)
#define VELTRA_NO_LOOP_ALIAS _Pragma("GCC ivdep")
#else
#define VELTRA_NO_LOOP_ALIAS
#endif

namespace {

constexpr int kZ = kLdpcDecMaxZc;
constexpr int kW = kLdpcDecMaxRowWeight;

// Check-node state of one layer in flight (one of two ping-pong slots).
struct LayerSlot {
  alignas(64) int16_t v[kW][kZ];  // variable-to-check value per edge
  alignas(64) int16_t min1[kZ];
  alignas(64) int16_t min2[kZ];
  alignas(64) int16_t min3[kZ];
  alignas(64) int16_t idx[kZ];  // edge of min1
  alignas(64) int16_t sgnProd[kZ];
  uint8_t col[kW];  // column of each edge
  int layer;
  int edge0;  // position of the layer's first edge in the edge list
  int weight;
};

// A posteriori LLRs (bank 0 of the hardware's two): column block c holds its Zc values rotated
// by colRot[c], i.e. appMem[c][j] is codeword bit c*Zc + (j + colRot[c]) mod Zc. Each block is
// stored twice in a row (appMem[c][Zc + j] = appMem[c][j]), so that a block read at any relative
// shift r is the contiguous run appMem[c] + r.
alignas(64) int16_t appMem[kLdpcDecMaxCols][2 * kZ];
int16_t colRot[kLdpcDecMaxCols];
// Row words of the previous iteration: normalised min1, min2 and the edge of min1 per layer and
// check node; edge signs: 1 where the check-to-variable message of an edge is negative.
alignas(64) int16_t rowMin1[kLdpcDecMaxLayers][kZ];
alignas(64) int16_t rowMin2[kLdpcDecMaxLayers][kZ];
alignas(64) int16_t rowIdx[kLdpcDecMaxLayers][kZ];
alignas(64) int8_t edgeSign[kLdpcDecMaxEdges][kZ];
LayerSlot slots[2];
uint8_t hardBits[kLdpcDecMaxCols * kZ + 32];  // one hard decision per byte
uint32_t hardWords[(kLdpcDecMaxCols * kZ + 31) / 32];
uint8_t iterUsed;
int lastZc;  // lifting size and columns of the block in the APP memory
int lastCols;

// Shift values reduced modulo Zc, per base graph, set and lifting size, filled on first use.
int16_t shiftCache[2][kLiftSetN][kLiftSizeN][kLdpcDecMaxEdges];
bool shiftReady[2][kLiftSetN][kLiftSizeN];

// Constants of one decoding call, derived from nrLdpcDecPara.
struct DecCfg {
  int Zc;
  int16_t appMin, appMax;
  int16_t msgMax;
  int normFactor;
  bool minStar;
  int thd1, thd2, coef1, coef2;
};

template <int Rows, int Cols>
void buildSchedule(NrLdpcDecSchedule& s, const int32_t (&g)[kLiftSetN][Rows][Cols], bool bg1) {
  s.numLayers = Rows;
  s.numEdges = 0;
  for (int l = 0; l < Rows; l++) {
    // Rows 1 and 3 first: their columns overlap least with the rows that follow.
    static constexpr int kHead[4] = {1, 3, 0, 2};
    const int row = l < 4 ? kHead[l] : l;
    s.layerRow[l] = static_cast<uint8_t>(row);
    int order[Cols];
    int n = 0;
    // BG1 rows 4 ... 20 read columns 0 and 1 last: they are the only columns shared with the
    // layer before, whose write-back is deferred until they are needed.
    const bool sharedLast = bg1 && row >= 4 && row <= 20;
    for (int c = sharedLast ? 2 : 0; c < Cols; c++)
      if (g[0][row][c] >= 0) order[n++] = c;
    if (sharedLast)
      for (int c = 0; c < 2; c++)
        if (g[0][row][c] >= 0) order[n++] = c;
    s.rowWeight[l] = static_cast<uint8_t>(n);
    s.updateInd[l] = l == 0 ? 0 : l <= 4 ? 1 : l <= 20 ? (bg1 ? 2 : 1) : 3;
    for (int m = 0; m < n; m++) {
      NrLdpcDecEdge& e = s.edge[s.numEdges++];
      e.col = static_cast<uint8_t>(order[m]);
      for (int set = 0; set < kLiftSetN; set++)
        e.shift[set] = static_cast<int16_t>(g[set][row][order[m]]);
    }
  }
}

const int16_t* reducedShifts(const NrLdpcDecSchedule& sch, int bg, int iLS, int zcIdx, int Zc) {
  int16_t* t = shiftCache[bg - 1][iLS][zcIdx];
  if (!shiftReady[bg - 1][iLS][zcIdx]) {
    for (int e = 0; e < sch.numEdges; e++) t[e] = static_cast<int16_t>(sch.edge[e].shift[iLS] % Zc);
    shiftReady[bg - 1][iLS][zcIdx] = true;
  }
  return t;
}

inline int16_t mask(bool b) { return static_cast<int16_t>(-static_cast<int16_t>(b)); }
inline int16_t sel(int16_t m, int16_t a, int16_t b) {
  return static_cast<int16_t>((a & m) | (b & ~m));
}

// Correction term of the min* operator, in signed 8-bit arithmetic.
inline int8_t minStarTerm(int8_t x, const DecCfg& c) {
  if (x > c.thd1) return 0;
  if (x > c.thd2) return static_cast<int8_t>((c.coef1 - 3 * x) >> 4);
  return static_cast<int8_t>((c.coef2 - 3 * x) >> 3);
}

inline int8_t minStar(int8_t a, int8_t b, const DecCfg& c) {
  const int8_t sum = static_cast<int8_t>(a + b);
  const int8_t diff = static_cast<int8_t>(a > b ? a - b : b - a);
  return static_cast<int8_t>(std::min(a, b) + minStarTerm(sum, c) - minStarTerm(diff, c));
}

void startSlot(LayerSlot& s, int layer, int edge0, int weight) {
  s.layer = layer;
  s.edge0 = edge0;
  s.weight = weight;
}

// Variable-to-check values of edge m for all check nodes: remove the check-to-variable message of
// the previous iteration from the APP values x and fold the result into the three minima. The
// first edge of a layer starts the minima from their reset value msgMax (min1 = a, index 0);
// min3 is only kept when the min* correction needs it.
template <bool kFirst, bool kMin3>
[[gnu::always_inline]] inline void checkNodeRead(LayerSlot& s, int m, const int16_t* __restrict x,
                                                 int e, const DecCfg& c) {
  const int16_t* __restrict m1 = rowMin1[s.layer];
  const int16_t* __restrict m2 = rowMin2[s.layer];
  const int16_t* __restrict ri = rowIdx[s.layer];
  const int8_t* __restrict sg = edgeSign[e];
  int16_t* __restrict v = s.v[m];
  int16_t* __restrict min1 = s.min1;
  int16_t* __restrict min2 = s.min2;
  int16_t* __restrict min3 = s.min3;
  int16_t* __restrict idx = s.idx;
  int16_t* __restrict sp = s.sgnProd;
  const int16_t mm = static_cast<int16_t>(m);
  const int16_t cap = c.msgMax;
  // Branch-free lane arithmetic (masks 0 / -1) so that the loop vectorises.
  VELTRA_NO_LOOP_ALIAS
  for (int z = 0; z < c.Zc; z++) {
    const int16_t old = sel(mask(ri[z] == mm), m2[z], m1[z]);
    const int16_t oldNeg = static_cast<int16_t>(-sg[z]);
    // v = x + |old| for a negative old message, x - |old| otherwise.
    const int16_t vz = static_cast<int16_t>(x[z] - ((old ^ oldNeg) - oldNeg));
    v[z] = vz;
    const int16_t neg = mask(vz < 0);
    const int16_t a = std::min(static_cast<int16_t>((vz ^ neg) - neg), cap);
    if constexpr (kFirst) {
      sp[z] = static_cast<int16_t>(neg & 1);
      min1[z] = a;
      min2[z] = cap;
      if constexpr (kMin3) min3[z] = cap;
      idx[z] = 0;
    } else {
      sp[z] = static_cast<int16_t>(sp[z] ^ (neg & 1));
      // Three smallest magnitudes, strict comparisons: the first of equal minima keeps the index.
      const int16_t o1 = min1[z];
      const int16_t o2 = min2[z];
      const int16_t lt1 = mask(a < o1);
      if constexpr (kMin3) min3[z] = sel(mask(a < o2), o2, std::min(a, min3[z]));
      min2[z] = sel(lt1, o1, std::min(a, o2));
      min1[z] = std::min(a, o1);
      idx[z] = sel(lt1, mm, idx[z]);
    }
  }
}

// Write-back of a layer: store its normalised minima as the row words, its check-to-variable
// signs as the edge signs, and the updated APP values into the column blocks, which stay rotated
// by the shift of this layer's edge.
[[gnu::always_inline]] inline void writeBackLanes(LayerSlot& s, const DecCfg& c) {
  const int Zc = c.Zc;
  int16_t* __restrict r1 = rowMin1[s.layer];
  int16_t* __restrict r2 = rowMin2[s.layer];
  int16_t* __restrict ri = rowIdx[s.layer];
  if (c.minStar) {
    for (int z = 0; z < Zc; z++) {
      const int8_t m2 = minStar(static_cast<int8_t>(s.min2[z]), static_cast<int8_t>(s.min3[z]), c);
      const int8_t m1 = minStar(static_cast<int8_t>(s.min1[z]), m2, c);
      s.min2[z] = m2;
      s.min1[z] = m1;
    }
  }
  const int nf = c.normFactor;
  VELTRA_NO_LOOP_ALIAS
  for (int z = 0; z < Zc; z++) {
    // Normalisation by normFactor/32, floor, kept as a signed 8-bit value.
    r1[z] = static_cast<int8_t>((s.min1[z] * nf) >> 5);
    r2[z] = static_cast<int8_t>((s.min2[z] * nf) >> 5);
    ri[z] = s.idx[z];
  }
  const int16_t lo = c.appMin;
  const int16_t hi = c.appMax;
  const int16_t* __restrict sp = s.sgnProd;
  for (int i = 0; i < s.weight; i++) {
    const int16_t* __restrict v = s.v[i];
    int8_t* __restrict sg = edgeSign[s.edge0 + i];
    int16_t* __restrict dst = appMem[s.col[i]];
    int16_t* __restrict dup = appMem[s.col[i]] + Zc;
    const int16_t ii = static_cast<int16_t>(i);
    VELTRA_NO_LOOP_ALIAS
    for (int z = 0; z < Zc; z++) {
      const int16_t sign = static_cast<int16_t>(sp[z] ^ (v[z] < 0));
      sg[z] = static_cast<int8_t>(sign);
      const int16_t neg = static_cast<int16_t>(-sign);
      const int16_t mag = sel(mask(ri[z] == ii), r2[z], r1[z]);
      const int16_t a = static_cast<int16_t>(v[z] + ((mag ^ neg) - neg));
      const int16_t app = std::min(std::max(a, lo), hi);
      dst[z] = app;
      dup[z] = app;
    }
  }
}

uint8_t lanes = kLdpcLanesBaseline;
bool lanesChosen = false;

uint8_t widestLanes() {
#ifdef VELTRA_HAVE_WIDE_LANES
  if (__builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl"))
    return kLdpcLanesAvx512;
  if (__builtin_cpu_supports("avx2")) return kLdpcLanesAvx2;
#endif
  return kLdpcLanesBaseline;
}

// Edges m0 ... m1 - 1 of the layer in slot s: each column block is read at the relative shift
// between its stored rotation and the edge's shift, which becomes the block's rotation.
template <bool kMin3>
[[gnu::always_inline]] inline void readEdgesLanes(LayerSlot& s, int m0, int m1,
                                                  const NrLdpcDecEdge* edges, const int16_t* shifts,
                                                  const DecCfg& c) {
  for (int m = m0; m < m1; m++) {
    const int e = s.edge0 + m;
    const int col = edges[e].col;
    int r = shifts[e] - colRot[col];
    if (r < 0) r += c.Zc;
    colRot[col] = shifts[e];
    s.col[m] = static_cast<uint8_t>(col);
    const int16_t* x = appMem[col] + r;
    if (m == 0)
      checkNodeRead<true, kMin3>(s, m, x, e, c);
    else
      checkNodeRead<false, kMin3>(s, m, x, e, c);
  }
}

template <bool kMin3>
void readEdgesPlain(LayerSlot& s, int m0, int m1, const NrLdpcDecEdge* edges, const int16_t* shifts,
                    const DecCfg& c) {
  readEdgesLanes<kMin3>(s, m0, m1, edges, shifts, c);
}
void writeBackPlain(LayerSlot& s, const DecCfg& c) { writeBackLanes(s, c); }

#ifdef VELTRA_HAVE_WIDE_LANES
template <bool kMin3>
VELTRA_AVX2 void readEdgesAvx2(LayerSlot& s, int m0, int m1, const NrLdpcDecEdge* edges,
                               const int16_t* shifts, const DecCfg& c) {
  readEdgesLanes<kMin3>(s, m0, m1, edges, shifts, c);
}
VELTRA_AVX2 void writeBackAvx2(LayerSlot& s, const DecCfg& c) { writeBackLanes(s, c); }
template <bool kMin3>
VELTRA_AVX512 void readEdgesAvx512(LayerSlot& s, int m0, int m1, const NrLdpcDecEdge* edges,
                                   const int16_t* shifts, const DecCfg& c) {
  readEdgesLanes<kMin3>(s, m0, m1, edges, shifts, c);
}
VELTRA_AVX512 void writeBackAvx512(LayerSlot& s, const DecCfg& c) { writeBackLanes(s, c); }
#endif

template <bool kMin3>
void readEdgesOf(LayerSlot& s, int m0, int m1, const NrLdpcDecEdge* edges, const int16_t* shifts,
                 const DecCfg& c) {
#ifdef VELTRA_HAVE_WIDE_LANES
  if (lanes == kLdpcLanesAvx512) return readEdgesAvx512<kMin3>(s, m0, m1, edges, shifts, c);
  if (lanes == kLdpcLanesAvx2) return readEdgesAvx2<kMin3>(s, m0, m1, edges, shifts, c);
#endif
  readEdgesPlain<kMin3>(s, m0, m1, edges, shifts, c);
}

void readEdges(LayerSlot& s, int m0, int m1, const NrLdpcDecEdge* edges, const int16_t* shifts,
               const DecCfg& c) {
  if (m0 >= m1) return;
  if (c.minStar)
    readEdgesOf<true>(s, m0, m1, edges, shifts, c);
  else
    readEdgesOf<false>(s, m0, m1, edges, shifts, c);
}

void writeBack(LayerSlot& s, const DecCfg& c) {
#ifdef VELTRA_HAVE_WIDE_LANES
  if (lanes == kLdpcLanesAvx512) return writeBackAvx512(s, c);
  if (lanes == kLdpcLanesAvx2) return writeBackAvx2(s, c);
#endif
  writeBackPlain(s, c);
}

// Hard decisions on the first Kp codeword bits, packed most significant bit first; true when the
// code-block CRC checks and every one of the Kp bits was decided on a non-zero value. A value of
// exactly 0 carries no information either way (an information bit never received, as when the
// redundancy version's window misses the systematic part): its decision would be a guess, and
// the all-zero guesses of such a block form the all-zero word, whose CRC checks.
bool hardDecisionCrc(int Kp, int Zc, uint8_t crcType) {
  int16_t undecided = 0;
  for (int k = 0, c = 0; k < Kp; c++) {
    // Codeword bit b of the block sits at (b - rotation) mod Zc.
    const int16_t* x = appMem[c] + (Zc - colRot[c]) % Zc;
    const int n = std::min(Zc, Kp - k);
    for (int b = 0; b < n; b++) {
      hardBits[k + b] = x[b] < 0;
      undecided |= static_cast<int16_t>(x[b] == 0);
    }
    k += n;
  }
  if (undecided) return false;
  const int words = (Kp + 31) / 32;
  std::memset(hardBits + Kp, 0, words * 32 - Kp);
  for (int w = 0; w < words; w++) {
    uint32_t word = 0;
    for (int i = 0; i < 4; i++) {
      // Eight 0/1 bytes to one byte, first bit highest: byte i of the load moves to bit 7 - i
      // (the partial products land on distinct bits, so nothing carries into the top byte).
      static_assert(std::endian::native == std::endian::little, "byte i of the load at bit 8i");
      uint64_t eight;
      std::memcpy(&eight, hardBits + 32 * w + 8 * i, sizeof(eight));
      word = (word << 8) | static_cast<uint32_t>((eight * 0x8040201008040201ull) >> 56);
    }
    hardWords[w] = word;
  }
  return nrCrcCalcPacked(hardWords, crcType, Kp) == 0;
}

}  // namespace

const NrLdpcDecSchedule* nrLdpcDecSchedule(uint8_t bg) {
  static const auto* sched = [] {
    static NrLdpcDecSchedule s[2];
    buildSchedule(s[0], gnrLdpcBg1, true);
    buildSchedule(s[1], gnrLdpcBg2, false);
    return s;
  }();
  if (bg != 1 && bg != 2) return nullptr;
  return &sched[bg - 1];
}

uint8_t nrLdpcDecIterUsed() { return iterUsed; }

uint8_t nrLdpcDecSetLanes(uint8_t widest) {
  lanes = std::min(widest, widestLanes());
  lanesChosen = true;
  return lanes;
}

int32_t nrLdpcDecApp(int16_t* app, int32_t count) {
  const int Zc = lastZc;
  const int32_t n = std::min(count, lastCols * Zc);
  for (int32_t k = 0; k < n; k++) {
    const int c = k / Zc;
    app[k] = appMem[c][(k % Zc - colRot[c] + Zc) % Zc];
  }
  return n > 0 ? n : 0;
}

int32_t nrLdpcDecode(const int32_t* llr, int32_t* out, int32_t Kp, int32_t Zc, int32_t N,
                     uint8_t bg, uint8_t iLS, uint8_t crcType) {
  const NrLdpcDecSchedule* sch = nrLdpcDecSchedule(bg);
  const int zcIdx = nrLdpcLiftIndex(Zc);
  const int cols = bg == 1 ? kBg1Cols : kBg2Cols;
  const int kb = bg == 1 ? kBg1Cols - kBg1Rows : kBg2Cols - kBg2Rows;
  if (!sch || zcIdx < 0 || iLS >= kLiftSetN || N <= 0 || N > (cols - 2) * Zc || Kp <= 0 ||
      Kp > kb * Zc || !llr || !out) {
    nrDiag("nrLdpcDecode: invalid code block (bg %d, Zc %d, N %d, Kp %d)!\n", bg, Zc, N, Kp);
    iterUsed = 0;
    return 0;
  }
  lastZc = Zc;
  lastCols = cols;
  NrLdpcDecPara& p = nrLdpcDecPara;
  p.bg = bg;
  p.numLayers = static_cast<uint8_t>(sch->numLayers);
  p.iLS = iLS;
  p.Kp = static_cast<uint16_t>(Kp);
  p.Zc = static_cast<uint16_t>(Zc);
  p.crcType = crcType;

  DecCfg c;
  c.Zc = Zc;
  const int appWidth = std::clamp<int>(p.appWidth, 2, 15);
  const int msgWidth = std::clamp<int>(p.msgWidth, 2, 8);
  const int fracBits = std::min<int>(p.fracBits, 3);
  c.appMax = static_cast<int16_t>((1 << (appWidth - 1)) - 1);
  c.appMin = static_cast<int16_t>(-(1 << (appWidth - 1)));
  c.msgMax = static_cast<int16_t>((1 << (msgWidth - 1)) - 1);
  c.normFactor = p.normFactor;
  c.minStar = p.minStarEnable == 1;
  static constexpr int kThd1[4] = {3, 5, 11, 21};
  static constexpr int kThd2[4] = {1, 2, 4, 8};
  static constexpr int kCoef1[4] = {8, 17, 35, 71};
  static constexpr int kCoef2[4] = {5, 10, 21, 43};
  c.thd1 = kThd1[fracBits];
  c.thd2 = kThd2[fracBits];
  c.coef1 = kCoef1[fracBits];
  c.coef2 = kCoef2[fracBits];

  const int16_t* shifts = reducedShifts(*sch, bg, iLS, zcIdx, Zc);
  if (!lanesChosen) nrLdpcDecSetLanes(kLdpcLanesAvx512);
  iterUsed = p.maxIter;
  for (int l = 0; l < sch->numLayers; l++) {
    std::memset(rowMin1[l], 0, sizeof(int16_t) * Zc);
    std::memset(rowMin2[l], 0, sizeof(int16_t) * Zc);
    std::memset(rowIdx[l], 0, sizeof(int16_t) * Zc);
  }
  std::memset(colRot, 0, sizeof(colRot));

  // The first 2*Zc systematic bits are punctured (LLR 0); inputs are 6-bit with two fractional
  // bits, rescaled to fracBits.
  std::memset(appMem, 0, sizeof(appMem[0]) * cols);
  for (int col = 2; col < cols && (col - 2) * Zc < N; col++) {
    const int32_t* src = llr + (col - 2) * Zc;
    const int n = std::min(Zc, N - (col - 2) * Zc);
    int16_t* dst = appMem[col];
    for (int z = 0; z < n; z++) {
      const int x = std::clamp<int32_t>(src[z], -32, 31);
      dst[z] =
          static_cast<int16_t>(fracBits >= 2 ? x * (1 << (fracBits - 2)) : x >> (2 - fracBits));
    }
    std::memcpy(dst + Zc, dst, sizeof(int16_t) * Zc);
  }

  bool pass = false;
  for (int it = 0; it < p.maxIter; it++) {
    int e = 0;
    LayerSlot* prev = nullptr;  // layer read but not yet written back
    for (int l = 0; l < sch->numLayers; l++) {
      LayerSlot& s = slots[l & 1];
      const int w = sch->rowWeight[l];
      const int u = sch->updateInd[l];
      startSlot(s, l, e, w);
      if (u == 1 && prev) {
        writeBack(*prev, c);
        prev = nullptr;
      }
      // A layer marked 2 shares only columns 0 and 1 with the previous one and reads them last:
      // the previous layer is written back just before the first of them is read.
      int split = w;
      if (u == 2 && prev)
        for (int m = 0; m < w; m++)
          if (sch->edge[e + m].col < 2) {
            split = m;
            break;
          }
      readEdges(s, 0, split, sch->edge, shifts, c);
      if (split < w) {
        writeBack(*prev, c);
        prev = nullptr;
        readEdges(s, split, w, sch->edge, shifts, c);
      }
      e += w;
      if (u == 3 && prev) {
        writeBack(*prev, c);
        prev = nullptr;
      }
      // Never reached with the standard base graphs (every layer marked 2 holds column 0 or 1);
      // keeps a pending layer from being overwritten in its ping-pong slot.
      if (prev) writeBack(*prev, c);
      prev = &s;
    }
    writeBack(*prev, c);
    if (p.etEnable == 1 && it >= p.minIter && hardDecisionCrc(Kp, Zc, crcType)) {
      iterUsed = static_cast<uint8_t>(it + 1);
      pass = true;
      break;
    }
  }
  // Without early termination the verdict is that of the last iteration.
  if (p.etEnable != 1 && p.maxIter > p.minIter) pass = hardDecisionCrc(Kp, Zc, crcType);
  if (!pass) return 0;
  // The bits the CRC passed on.
  for (int k = 0; k < Kp; k++) out[k] = hardBits[k];
  return 1;
}
