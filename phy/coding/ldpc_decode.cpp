// Layered normalised min-sum decoder modelled on a pipelined hardware decoder: fixed bit widths,
// check-node messages kept as (min1, min2, index of min1) per check node plus one sign per edge,
// column blocks of the a posteriori memory stored rotated and addressed by relative shifts.
//
// The hardware overlaps the write-back of a layer with the reads of the next one, at points set
// by the update indicators; every column that the next layer shares with the previous one is read
// only after that write-back, so the result is that of writing each layer back before the next
// one reads. This decoder does exactly that, one layer at a time, over the Zc check nodes in
// steps of one vector register: the reads (variable-to-check values and the three minima, kept in
// registers across the edges of the layer) and the write-back. The baseline and AVX2 loops make
// two passes (all reads, then all write-backs, as the rotated blocks are rewritten in place); the
// AVX-512 loops write each value back where they read it and so finish one step before the next.
//
// Data layout: every per-check-node quantity is a contiguous array over the Zc check nodes of a
// layer, read and written a register of int16 lanes at a time (8 with SSE2, 16 with AVX2, 32 with
// AVX-512); lanes beyond Zc are computed and ignored.
#include "phy/coding/ldpc_decode.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "config/console.h"
#include "phy/coding/crc.h"
#include "phy/coding/ldpc_tables.h"
#include "phy/common/stage_profile.h"

NrLdpcDecPara nrLdpcDecPara;

namespace {

constexpr int kZ = kLdpcDecMaxZc;
constexpr int kW = kLdpcDecMaxRowWeight;
constexpr int kMaxLanes = 32;  // int16 check nodes per step at most: one AVX-512 register
static_assert(kZ % kMaxLanes == 0, "the lane steps tile the largest lifting size");

// The vectors of one instruction set: L int16 lanes (one register). The generic lane loops store
// edge signs as int16 lanes (0 or -1), which need no conversion; the AVX-512 loops store each
// edge's signed message instead (edgeMsg).
template <int L>
struct Lanes {
  static constexpr int kL = L;
  typedef int16_t V __attribute__((vector_size(2 * L)));
  typedef uint16_t U __attribute__((vector_size(2 * L)));
};

// A posteriori LLRs (bank 0 of the hardware's two): column block c holds its Zc values rotated
// by colRot[c], i.e. appMem[c][j] is codeword bit c*Zc + (j + colRot[c]) mod Zc. The first values
// of a block are repeated after it (appMem[c][Zc + j] = appMem[c][j] for j below the relative
// shift r of the block's next read), so that the read is the contiguous run appMem[c] + r. The
// AVX-512 loops keep every rotation 0 and repeat only the first 32 values (see layerStepsMasked).
alignas(64) int16_t appMem[kLdpcDecMaxCols][2 * kZ];
int16_t colRot[kLdpcDecMaxCols];
// Row words of the previous iteration: normalised min1, min2 and the edge of min1 per layer and
// check node; edge signs: -1 where the check-to-variable message of an edge is negative, else 0.
// Neither is cleared between calls: the first iteration does not read them (all messages 0).
alignas(64) int16_t rowMin1[kLdpcDecMaxLayers][kZ];
alignas(64) int16_t rowMin2[kLdpcDecMaxLayers][kZ];
alignas(64) int16_t rowIdx[kLdpcDecMaxLayers][kZ];
alignas(64) int16_t edgeSign[kLdpcDecMaxEdges][kZ];
// The AVX-512 loops keep instead each edge's signed check-to-variable message, so that the next
// iteration takes it off the APP value with one subtraction. A layer's messages are stored step
// by step (32 check nodes), its edges' runs one after the other within a step: the layer with
// first edge e and weight w keeps step k, edge m at edgeMsg[e][0] + (k * w + m) * 32, so that the
// steps read and write one contiguous stream.
alignas(64) int16_t edgeMsg[kLdpcDecMaxEdges][kZ];
// The layer being decoded: variable-to-check value per edge and check node, and the sign product
// (-1 odd, 0 even) per check node.
alignas(64) int16_t layerV[kW][kZ];
alignas(64) int16_t layerOld[kW][kZ];  // the previous iteration's message per edge (signed)
alignas(64) int16_t layerSgn[kZ];
// Edge number m in every lane, compared with the stored index of min1.
constexpr int16_t kEdgeTableLanes = kMaxLanes;
alignas(64) constexpr auto kEdgeSplat = [] {
  struct T {
    int16_t v[kW][kEdgeTableLanes];
  } t{};
  for (int m = 0; m < kW; m++)
    for (int z = 0; z < kEdgeTableLanes; z++) t.v[m][z] = static_cast<int16_t>(m);
  return t;
}();
uint8_t hardBits[kLdpcDecMaxCols * kZ + 32];  // one hard decision per byte
uint32_t hardWords[(kLdpcDecMaxCols * kZ + 31) / 32];
// The AVX-512 hard decisions: first bit in bit 0 of word 0 (the order of mask registers).
uint32_t hardWordsLsb[(kLdpcDecMaxCols * kZ + 31) / 32 + 2];
uint8_t iterUsed;
uint8_t iterRun;  // iterations actually run (fewer when a fixed point was reached)
uint8_t layersRun;
int lastZc;  // lifting size and columns of the block in the APP memory
int lastCols;
// The last decoding, when it skipped layers: its input as loaded, constants and shifts.
bool lastSkipped;
int lastDataCols;  // columns that held inputs; the rest were 0
alignas(64) int16_t savedIn[kLdpcDecMaxCols][kZ];
bool savedNonzero[kLdpcDecMaxCols];  // columns of savedIn that were saved; the others were all 0

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

DecCfg lastCfg;
const NrLdpcDecSchedule* lastSch;
const int16_t* lastShifts;

// One layer as the lane loops see it: the columns of its edges and the relative shift at which
// each column block is read.
struct LayerJob {
  int layer;
  int edge0;  // position of the layer's first edge in the edge list
  int weight;
  bool first;  // first iteration: no check-to-variable message yet
  bool check;  // a later iteration that tells whether a message changed
  // In the first iteration, an edge whose column holds only zeros (see zeroColumnFirst), or -1.
  int8_t zeroEdge = -1;
  uint8_t col[kW];
  int16_t rel[kW];
  int16_t dup[kW];  // leading values of the column block its next read needs repeated after Zc
};

template <int Rows, int Cols>
void buildSchedule(NrLdpcDecSchedule& s, const int32_t (&g)[kLiftSetN][Rows][Cols], bool bg1) {
  s.numLayers = Rows;
  s.numEdges = 0;
  int colDegree[Cols] = {};
  for (int row = 0; row < Rows; row++)
    for (int c = 0; c < Cols; c++) colDegree[c] += g[0][row][c] >= 0;
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
    s.degOneCol[l] = -1;
    for (int c = 0; c < Cols; c++)
      if (g[0][row][c] >= 0 && colDegree[c] == 1) s.degOneCol[l] = static_cast<int8_t>(c);
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

// Unaligned vector loads and stores.
template <typename V>
[[gnu::always_inline]] inline void load(V& v, const void* p) {
  std::memcpy(&v, p, sizeof v);
}
template <typename V>
[[gnu::always_inline]] inline void store(void* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}
template <typename Ln>
[[gnu::always_inline]] inline void splat(typename Ln::V& v, int16_t x) {
  alignas(64) int16_t t[Ln::kL];
  for (int z = 0; z < Ln::kL; z++) t[z] = x;
  load(v, t);
}
// Values kept as signed 8-bit: truncated to 8 bits and sign-extended again.
template <typename Ln>
[[gnu::always_inline]] inline void wrap8(typename Ln::V& v) {
  v = reinterpret_cast<typename Ln::V>(reinterpret_cast<typename Ln::U>(v) << 8) >> 8;
}
// -1 in the lanes below `live` (check nodes that exist), 0 beyond.
template <typename Ln>
[[gnu::always_inline]] inline void liveLanes(typename Ln::V& v, int live) {
  alignas(64) int16_t t[Ln::kL];
  for (int z = 0; z < Ln::kL; z++) t[z] = z < live ? -1 : 0;
  load(v, t);
}
// Where the lane loops of one layer read and write: per edge the column block at the edge's
// relative shift, the column block itself and the edge's signs. Held in locals, which the byte
// stores of the signs cannot alias, so that nothing is reloaded inside the loops.
struct LayerPtrs {
  const int16_t* x[kW];
  int16_t* app[kW];
  int16_t* sign[kW];
  int dup[kW];
  int weight;
  int layer;
  int Zc;
  int chunks;  // lane steps covering Zc
};

// The read pass of a layer: for every edge m and check node, remove the check-to-variable message
// of the previous iteration from the APP value x read at the edge's relative shift, and fold the
// result v into the three smallest magnitudes (strict comparisons: the first of equal minima
// keeps the index); then normalise the minima into the layer's row words. min3 is kept only for
// the min* correction.
// With kCheck (a later iteration) it also keeps each old message (signed) for the write-back's
// comparison.
template <typename Ln, bool kFirst, bool kMin3, bool kCheck>
[[gnu::always_inline]] inline void readLanes(const LayerPtrs& q, const DecCfg& c) {
  using V16 = typename Ln::V;
  constexpr int kLanes = Ln::kL;
  int16_t* r1 = rowMin1[q.layer];
  int16_t* r2 = rowMin2[q.layer];
  int16_t* ri = rowIdx[q.layer];
  V16 cap, nf;
  splat<Ln>(cap, c.msgMax);
  splat<Ln>(nf, static_cast<int16_t>(c.normFactor));
  for (int k = 0; k < q.chunks; k++) {
    const int z0 = k * kLanes;
    V16 old1{}, old2{}, oldIdx{};
    if constexpr (!kFirst) {
      load(old1, r1 + z0);
      load(old2, r2 + z0);
      load(oldIdx, ri + z0);
    }
    V16 min1 = cap, min2 = cap, min3 = cap, idx{}, sgn{}, edge{};
    for (int m = 0; m < q.weight; m++, edge += 1) {
      V16 v;
      load(v, q.x[m] + z0);
      if constexpr (!kFirst) {
        V16 oldNeg;
        load(oldNeg, q.sign[m] + z0);
        const V16 old = oldIdx == edge ? old2 : old1;
        // v = x + |old| for a negative old message, x - |old| otherwise.
        const V16 signedOld = (old ^ oldNeg) - oldNeg;
        if constexpr (kCheck) store(layerOld[m] + z0, signedOld);
        v -= signedOld;
      }
      store(layerV[m] + z0, v);
      const V16 neg = v < 0;
      sgn ^= neg;
      // |v|; not capped at msgMax: the minima start at the cap and only decrease, so a value
      // above it changes none of them, and no index either (strict comparisons).
      const V16 a = (v ^ neg) - neg;
      // Branch-free form of the strict three-minimum update (min1 <= min2 <= min3): a below min1
      // pushes min1 down to min2, a below min2 pushes min2 down to min3.
      idx = a < min1 ? edge : idx;
      if constexpr (kMin3) {
        const V16 up2 = a > min2 ? a : min2;
        min3 = up2 < min3 ? up2 : min3;
      }
      const V16 up1 = a > min1 ? a : min1;
      min2 = up1 < min2 ? up1 : min2;
      min1 = a < min1 ? a : min1;
    }
    if constexpr (kMin3) {
      if (c.minStar) {
        alignas(64) int16_t t1[kLanes], t2[kLanes], t3[kLanes];
        store(t1, min1);
        store(t2, min2);
        store(t3, min3);
        for (int z = 0; z < kLanes; z++) {
          const int8_t m2 = minStar(static_cast<int8_t>(t2[z]), static_cast<int8_t>(t3[z]), c);
          t1[z] = minStar(static_cast<int8_t>(t1[z]), m2, c);
          t2[z] = m2;
        }
        load(min1, t1);
        load(min2, t2);
      }
    }
    // Normalisation by normFactor/32, floor, kept as a signed 8-bit value.
    V16 n1 = (min1 * nf) >> 5;
    V16 n2 = (min2 * nf) >> 5;
    wrap8<Ln>(n1);
    wrap8<Ln>(n2);
    store(r1 + z0, n1);
    store(r2 + z0, n2);
    store(ri + z0, idx);
    store(layerSgn + z0, sgn);
  }
}

// The write-back of a layer: the check-to-variable signs become the edge signs, and the updated
// APP values go into the column blocks, which stay rotated by the shift of this layer's edge.
// Only the leading values that the column's next read wraps around to are stored a second time,
// after Zc. The lane steps run from the last to the first, so that the copy of the first step is
// stored after the lanes beyond Zc of the last one, which overlap it.
//
// With kCheck it marks in `changed` (non-zero lanes) the check nodes below Zc where the message of
// an edge changed in value.
template <typename Ln, bool kCheck>
[[gnu::always_inline]] inline void writeLanes(const LayerPtrs& q, const DecCfg& c,
                                              typename Ln::V& changed) {
  using V16 = typename Ln::V;
  constexpr int kLanes = Ln::kL;
  const int16_t* r1 = rowMin1[q.layer];
  const int16_t* r2 = rowMin2[q.layer];
  const int16_t* ri = rowIdx[q.layer];
  V16 lo, hi;
  splat<Ln>(lo, c.appMin);
  splat<Ln>(hi, c.appMax);
  for (int k = q.chunks - 1; k >= 0; k--) {
    const int z0 = k * kLanes;
    V16 sp, n1, n2, idx, edge{}, diff{};
    load(sp, layerSgn + z0);
    load(n1, r1 + z0);
    load(n2, r2 + z0);
    load(idx, ri + z0);
    for (int m = 0; m < q.weight; m++, edge += 1) {
      V16 v;
      load(v, layerV[m] + z0);
      const V16 neg = sp ^ (v < 0);
      store(q.sign[m] + z0, neg);
      const V16 mag = idx == edge ? n2 : n1;
      const V16 signedNew = (mag ^ neg) - neg;
      if constexpr (kCheck) {
        V16 signedOld;
        load(signedOld, layerOld[m] + z0);
        diff |= signedNew ^ signedOld;
      }
      V16 app = v + signedNew;
      app = app < lo ? lo : app;
      app = app > hi ? hi : app;
      store(q.app[m] + z0, app);
      if (z0 < q.dup[m]) store(q.app[m] + q.Zc + z0, app);
    }
    if constexpr (kCheck) {
      V16 live;
      liveLanes<Ln>(live, q.Zc - z0);
      changed |= diff & live;
    }
  }
}

// Input LLRs: 6-bit with two fractional bits, rescaled to fracBits; each block stored twice
// (kDupAll), or followed by a copy of its first 32 values only, as the AVX-512 loops read it. With
// save, the block is also copied there. Returns whether any value loaded is not 0. 16-bit inputs
// are clamped in 16 bits (the same values, twice the lanes).
template <bool kDupAll, typename T>
[[gnu::always_inline]] inline bool loadLanes(int16_t* dst, const T* src, int n, int Zc,
                                             int fracBits, int16_t* save) {
  int16_t any = 0;
  if (fracBits >= 2) {
    const int up = fracBits - 2;
    for (int z = 0; z < n; z++) {
      dst[z] = static_cast<int16_t>(std::clamp<T>(src[z], -32, 31) * (1 << up));
      any |= dst[z];
    }
  } else {
    const int down = 2 - fracBits;
    for (int z = 0; z < n; z++) {
      dst[z] = static_cast<int16_t>(std::clamp<T>(src[z], -32, 31) >> down);
      any |= dst[z];
    }
  }
  for (int z = n; z < Zc; z++) dst[z] = 0;
  const int dup = kDupAll ? Zc : std::min(Zc, kMaxLanes);
  for (int z = 0; z < dup; z++) dst[Zc + z] = dst[z];
  if (save)
    for (int z = 0; z < Zc; z++) save[z] = dst[z];
  return any != 0;
}

// Returns whether a message changed with kCheck, else true.
template <typename Ln, bool kFirst, bool kMin3, bool kCheck>
[[gnu::always_inline]] inline bool layerLanes(const LayerJob& j, const DecCfg& c) {
  LayerPtrs q;
  q.weight = j.weight;
  q.layer = j.layer;
  q.Zc = c.Zc;
  q.chunks = (c.Zc + Ln::kL - 1) / Ln::kL;
  for (int m = 0; m < j.weight; m++) {
    q.app[m] = appMem[j.col[m]];
    q.x[m] = q.app[m] + j.rel[m];
    q.sign[m] = edgeSign[j.edge0 + m];
    q.dup[m] = j.dup[m];
  }
  typename Ln::V changed{};
  readLanes<Ln, kFirst, kMin3, kCheck>(q, c);
  writeLanes<Ln, kCheck>(q, c, changed);
  if constexpr (!kCheck) return true;
  alignas(64) int16_t t[Ln::kL];
  store(t, changed);
  int16_t any = 0;
  for (int z = 0; z < Ln::kL; z++) any |= t[z];
  return any != 0;
}

template <int L>
[[gnu::always_inline]] inline bool layerAny(const LayerJob& j, const DecCfg& c) {
  using Ln = Lanes<L>;
  if (c.minStar) {
    if (j.first) return layerLanes<Ln, true, true, false>(j, c);
    return j.check ? layerLanes<Ln, false, true, true>(j, c)
                   : layerLanes<Ln, false, true, false>(j, c);
  }
  if (j.first) return layerLanes<Ln, true, false, false>(j, c);
  return j.check ? layerLanes<Ln, false, false, true>(j, c)
                 : layerLanes<Ln, false, false, false>(j, c);
}

#ifdef VELTRA_X86_VARIANTS
// The lane loops with AVX-512 mask registers: the same arithmetic as readLanes and writeLanes on
// 32 lanes, but signs live in mask registers: the sign product of a step is a 32-bit mask, the
// sign of v is its top bit (no widening or narrowing), and negations under a sign are masked
// subtractions. The write-back stores each edge's signed message (edgeMsg), which the next
// iteration subtracts from the APP value it reads: x - m equals the x + |m| or x - |m| the row
// words and edge signs give, in 16 bits.
//
// The column blocks are not rotated (their rotation stays 0): every updated APP value goes back
// where it was read, at the edge's shift. The check nodes of one step then touch only their own
// APP values, so each step is read and written back at once, while its values are in L1. A step
// that starts at or beyond Zc is read Zc earlier; the step that crosses Zc reads its last values
// from the copy of the block's first 32 values kept after Zc and writes them back there, across
// Zc in one store; once the layer is done they move to the block's start and the copy is renewed
// (the reads of the layer must see the old values, and only that step reads the copy).
struct MaskedPtrs {
  int16_t* app[kW];
  int rel[kW];
  int wrap[kW];  // values the step crossing Zc reads from the copy after Zc (0 ... 31)
  int16_t* msg;  // the messages of the layer (see edgeMsg)
  int weight;
  int layer;
  int Zc;
  int chunks;
};

// The step that crossed Zc left the values of the block's first wrap check nodes in the copy after
// Zc: they move to the block's start, and the copy is renewed from there.
[[gnu::always_inline]] VELTRA_TARGET_AVX512 inline void renewCopy(int16_t* app, int Zc, int wrap) {
  const __m512i head = _mm512_load_si512(app);
  const __m512i tail = _mm512_loadu_si512(app + Zc);
  const __m512i first = _mm512_mask_blend_epi16(_cvtu32_mask32((1u << wrap) - 1), head, tail);
  _mm512_store_si512(app, first);
  _mm512_storeu_si512(app + Zc, first);
}

// The normalised minima: by normFactor/32, floor, kept as a signed 8-bit value. The minima lie
// within +-128 (msgWidth <= 8), so with a factor of at most 32/32 the value fits 8 bits already.
[[gnu::always_inline]] VELTRA_TARGET_AVX512 inline __m512i normalised(__m512i min, __m512i nf,
                                                                      bool wrap8) {
  __m512i n = _mm512_srai_epi16(_mm512_mullo_epi16(min, nf), 5);
  if (wrap8) n = _mm512_srai_epi16(_mm512_slli_epi16(n, 8), 8);
  return n;
}

//
// With kCheck (a later iteration) returns whether the check-to-variable message of any edge of a
// check node below Zc changed in value; otherwise true.
template <bool kFirst, bool kMin3, int kWeight, bool kCheck>
[[gnu::always_inline]] VELTRA_TARGET_AVX512 inline bool layerStepsMasked(const MaskedPtrs& q,
                                                                         const DecCfg& c) {
  constexpr int kLanes = kMaxLanes;
  const int weight = kWeight > 0 ? kWeight : q.weight;
  const __m512i cap = _mm512_set1_epi16(c.msgMax);
  const __m512i nf = _mm512_set1_epi16(static_cast<int16_t>(c.normFactor));
  const __m512i lo = _mm512_set1_epi16(c.appMin);
  const __m512i hi = _mm512_set1_epi16(c.appMax);
  const bool wrap8 = c.normFactor < 0 || c.normFactor > 32;
  __m512i vs[kWeight > 0 ? kWeight : kW] = {};  // v of each edge in this step
  // Non-zero in the lanes of live check nodes where a message changed (after the first iteration).
  __m512i changed = _mm512_setzero_si512();
  for (int k = 0; k < q.chunks; k++) {
    const int z0 = k * kLanes;
    // Lanes of check nodes below Zc.
    const int live = std::min(kLanes, q.Zc - z0);
    const __mmask32 valid = _cvtu32_mask32(live == kLanes ? ~0u : (1u << live) - 1);
    int16_t* const msg = q.msg + k * weight * kLanes;  // this step's messages, edge by edge
    __m512i min1 = cap, min2 = cap, min3 = cap, idx = _mm512_setzero_si512();
    __m512i sgn = idx;  // sign bits xor-ed: the top bit is the sign product
#pragma GCC unroll 20
    for (int m = 0; m < weight; m++) {
      int off = q.rel[m] + z0;
      off -= off >= q.Zc ? q.Zc : 0;
      __m512i v = _mm512_loadu_si512(q.app[m] + off);
      if constexpr (!kFirst) v = _mm512_sub_epi16(v, _mm512_load_si512(msg + m * kLanes));
      vs[m] = v;
      sgn = _mm512_xor_si512(sgn, v);
      // |v|, uncapped as in readLanes.
      const __m512i a = _mm512_abs_epi16(v);
      // The strict three-minimum update of readLanes. Without the min* correction the index is
      // not tracked: the edge whose |v| equals min1 takes min2 (below). Where several edges share
      // the minimum, min2 = min1 and every edge takes the same message, as it does where no edge
      // is below the cap (min1 = min2 = cap); so this is the index's choice wherever it matters.
      if constexpr (kMin3) {
        idx = _mm512_mask_mov_epi16(idx, _mm512_cmplt_epi16_mask(a, min1),
                                    _mm512_load_si512(kEdgeSplat.v[m]));
        min3 = _mm512_min_epi16(_mm512_max_epi16(a, min2), min3);
      }
      min2 = _mm512_min_epi16(_mm512_max_epi16(a, min1), min2);
      min1 = _mm512_min_epi16(a, min1);
    }
    const __m512i raw1 = min1;
    if constexpr (kMin3) {
      if (c.minStar) {
        alignas(64) int16_t t1[kLanes], t2[kLanes], t3[kLanes];
        _mm512_store_si512(t1, min1);
        _mm512_store_si512(t2, min2);
        _mm512_store_si512(t3, min3);
        for (int z = 0; z < kLanes; z++) {
          const int8_t m2 = minStar(static_cast<int8_t>(t2[z]), static_cast<int8_t>(t3[z]), c);
          t1[z] = minStar(static_cast<int8_t>(t1[z]), m2, c);
          t2[z] = m2;
        }
        min1 = _mm512_load_si512(t1);
        min2 = _mm512_load_si512(t2);
      }
    }
    const __m512i n1 = normalised(min1, nf, wrap8);
    const __m512i n2 = normalised(min2, nf, wrap8);
    const __mmask32 sp = _mm512_movepi16_mask(sgn);
    __m512i stepDiff = _mm512_setzero_si512();
    // The write-back of the step.
#pragma GCC unroll 20
    for (int m = 0; m < weight; m++) {
      const __m512i v = vs[m];
      const __mmask32 neg = _kxor_mask32(sp, _mm512_movepi16_mask(v));
      __mmask32 second;
      if constexpr (kMin3)
        second = _mm512_cmpeq_epi16_mask(idx, _mm512_load_si512(kEdgeSplat.v[m]));
      else
        second = _mm512_cmpeq_epi16_mask(_mm512_abs_epi16(v), raw1);
      const __m512i mag = _mm512_mask_blend_epi16(second, n1, n2);
      // The new message, signed, and v plus it.
      const __m512i out = _mm512_mask_sub_epi16(mag, neg, _mm512_setzero_si512(), mag);
      _mm512_store_si512(msg + m * kLanes, out);
      const __m512i sum = _mm512_add_epi16(v, out);
      int off = q.rel[m] + z0;
      off -= off >= q.Zc ? q.Zc : 0;
      if constexpr (kCheck) {
        // v is the APP value read less the old message: the sum equals that value exactly where
        // the message is unchanged (no wrap in 16 bits). Bitwise changed | (sum ^ x): 0xF6.
        const __m512i x = _mm512_loadu_si512(q.app[m] + off);
        stepDiff = _mm512_ternarylogic_epi64(stepDiff, sum, x, 0xF6);
      }
      _mm512_mask_storeu_epi16(q.app[m] + off, valid,
                               _mm512_min_epi16(_mm512_max_epi16(sum, lo), hi));
    }
    if constexpr (kCheck)
      changed = _mm512_mask_mov_epi16(changed, valid, _mm512_or_si512(changed, stepDiff));
  }
  for (int m = 0; m < q.weight; m++) renewCopy(q.app[m], q.Zc, q.wrap[m]);
  return !kCheck || _mm512_test_epi16_mask(changed, changed) != 0;
}

// The steps of a layer of weight W or more without min* (the loops unrolled for the weight, so
// that the values v stay in registers), in the first iteration or a later one.
template <bool kFirst, int W, bool kCheck>
[[gnu::always_inline]] VELTRA_TARGET_AVX512 inline bool stepsByWeight(const MaskedPtrs& q,
                                                                      const DecCfg& c) {
  if constexpr (W > kW)
    return layerStepsMasked<kFirst, false, 0, kCheck>(q, c);
  else if (q.weight == W)
    return layerStepsMasked<kFirst, false, W, kCheck>(q, c);
  else
    return stepsByWeight<kFirst, W + 1, kCheck>(q, c);
}

[[gnu::always_inline]] inline void maskedPtrs(const LayerJob& j, const DecCfg& c, MaskedPtrs& q) {
  q.weight = j.weight;
  q.layer = j.layer;
  q.Zc = c.Zc;
  q.chunks = (c.Zc + kMaxLanes - 1) / kMaxLanes;
  q.msg = edgeMsg[j.edge0];
  for (int m = 0; m < j.weight; m++) {
    q.app[m] = appMem[j.col[m]];
    q.rel[m] = j.rel[m];
    // The step of check node Zc - rel - 1, the last read below Zc, crosses Zc when its lanes
    // reach beyond it.
    const int kc = (c.Zc - j.rel[m] - 1) / kMaxLanes;
    const int live = std::min(kMaxLanes, c.Zc - kc * kMaxLanes);
    q.wrap[m] = std::max(0, j.rel[m] + kc * kMaxLanes + live - c.Zc);
  }
}

// A first-iteration layer one of whose edges (mz) reads a column of zeros, as the punctured first
// two columns are until a layer writes them: min1 = 0 in every check node, so each other edge
// takes a message of 0 (or min2 = 0 where a second input is 0) and keeps its APP value, which
// lies within the clamp. Only the zero column takes a message: the normalised minimum of the
// others' |v|, with their sign product, on a v of 0. The other edges are read for that minimum
// and their messages stored as 0; their APP values are not written back.
VELTRA_TARGET_AVX512 void zeroColumnFirst(const MaskedPtrs& q, const DecCfg& c, int mz) {
  constexpr int kLanes = kMaxLanes;
  const __m512i cap = _mm512_set1_epi16(c.msgMax);
  const __m512i nf = _mm512_set1_epi16(static_cast<int16_t>(c.normFactor));
  const __m512i lo = _mm512_set1_epi16(c.appMin);
  const __m512i hi = _mm512_set1_epi16(c.appMax);
  const __m512i zero = _mm512_setzero_si512();
  const bool wrap8 = c.normFactor < 0 || c.normFactor > 32;
  for (int k = 0; k < q.chunks; k++) {
    const int z0 = k * kLanes;
    const int live = std::min(kLanes, q.Zc - z0);
    const __mmask32 valid = _cvtu32_mask32(live == kLanes ? ~0u : (1u << live) - 1);
    int16_t* const msg = q.msg + k * q.weight * kLanes;
    __m512i min2 = cap, sgn = zero;
    for (int m = 0; m < q.weight; m++) {
      if (m == mz) continue;
      int off = q.rel[m] + z0;
      off -= off >= q.Zc ? q.Zc : 0;
      const __m512i v = _mm512_loadu_si512(q.app[m] + off);
      sgn = _mm512_xor_si512(sgn, v);
      min2 = _mm512_min_epi16(_mm512_abs_epi16(v), min2);
      _mm512_store_si512(msg + m * kLanes, zero);
    }
    const __m512i n2 = normalised(min2, nf, wrap8);
    const __m512i out = _mm512_mask_sub_epi16(n2, _mm512_movepi16_mask(sgn), zero, n2);
    _mm512_store_si512(msg + mz * kLanes, out);
    int off = q.rel[mz] + z0;
    off -= off >= q.Zc ? q.Zc : 0;
    _mm512_mask_storeu_epi16(q.app[mz] + off, valid,
                             _mm512_min_epi16(_mm512_max_epi16(out, lo), hi));
  }
  renewCopy(q.app[mz], q.Zc, q.wrap[mz]);
}

template <bool kFirst, bool kMin3, bool kCheck>
[[gnu::always_inline]] VELTRA_TARGET_AVX512 inline bool layerMasked(const LayerJob& j,
                                                                    const DecCfg& c) {
  MaskedPtrs q;
  maskedPtrs(j, c, q);
  // Only the later iterations are unrolled by weight: measured, unrolling the first one too costs
  // more (code size) than it saves. So do the (rarer) iterations that compare the messages: their
  // own unrolled copies slowed the full graph's ordinary iterations by about 5 %.
  if constexpr (!kFirst && !kMin3 && !kCheck)
    return stepsByWeight<kFirst, 1, kCheck>(q, c);
  else
    return layerStepsMasked<kFirst, kMin3, 0, kCheck>(q, c);
}

#endif

// The lane loops for each instruction set: the generic source above for the baseline and AVX2,
// the mask-register loops for AVX-512.
// A layer function returns, for a job with `check`, whether the layer changed any
// check-to-variable message; for any other job true.
using LayerFn = bool (*)(const LayerJob&, const DecCfg&);
// Loaders of 32-bit or 16-bit input LLRs.
template <typename T>
using LoadFn = bool (*)(int16_t*, const T*, int, int, int, int16_t*);

// Baseline: 16-byte registers (SSE2 on x86-64, the width most targets have).
bool layerPlain(const LayerJob& j, const DecCfg& c) { return layerAny<8>(j, c); }
template <typename T>
bool loadPlain(int16_t* d, const T* s, int n, int Zc, int f, int16_t* save) {
  return loadLanes<true>(d, s, n, Zc, f, save);
}
#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 bool layerAvx2(const LayerJob& j, const DecCfg& c) { return layerAny<16>(j, c); }
template <typename T>
VELTRA_TARGET_AVX2 bool loadAvx2(int16_t* d, const T* s, int n, int Zc, int f, int16_t* save) {
  return loadLanes<true>(d, s, n, Zc, f, save);
}
VELTRA_TARGET_AVX512 bool layerAvx512(const LayerJob& j, const DecCfg& c) {
  if (c.minStar) {
    if (j.first) return layerMasked<true, true, false>(j, c);
    return j.check ? layerMasked<false, true, true>(j, c) : layerMasked<false, true, false>(j, c);
  }
  if (j.first && j.zeroEdge >= 0) {
    MaskedPtrs q;
    maskedPtrs(j, c, q);
    zeroColumnFirst(q, c, j.zeroEdge);
    return true;
  }
  if (j.first) return layerMasked<true, false, false>(j, c);
  return j.check ? layerMasked<false, false, true>(j, c) : layerMasked<false, false, false>(j, c);
}
// Only for the AVX-512 lane loops (the same level), which need the first 32 values repeated.
template <typename T>
VELTRA_TARGET_AVX512 bool loadAvx512(int16_t* d, const T* s, int n, int Zc, int f, int16_t* save) {
  return loadLanes<false>(d, s, n, Zc, f, save);
}
// 16-bit inputs scaled up (the usual fracBits of 2 or 3): clamp, shift and the non-zero test on
// whole registers, the last partial one masked; as loadLanes<false>.
template <>
VELTRA_TARGET_AVX512 bool loadAvx512<int16_t>(int16_t* d, const int16_t* s, int n, int Zc, int f,
                                              int16_t* save) {
  if (f < 2) return loadLanes<false>(d, s, n, Zc, f, save);
  // The first `left` lanes of a step (none, some or all 32).
  const auto valid = [](int left) {
    return left >= kMaxLanes ? ~0u : left > 0 ? (1u << left) - 1 : 0u;
  };
  const __m128i up = _mm_cvtsi32_si128(f - 2);
  const __m512i lo = _mm512_set1_epi16(-32);
  const __m512i hi = _mm512_set1_epi16(31);
  __m512i any = _mm512_setzero_si512();
  for (int z = 0; z < Zc; z += kMaxLanes) {
    // Input values beyond n read as 0; so do the lanes beyond Zc, which the copy then overwrites.
    const __mmask32 in = _cvtu32_mask32(valid(n - z));
    const __m512i x = _mm512_maskz_loadu_epi16(in, s + z);
    const __m512i v = _mm512_sll_epi16(_mm512_min_epi16(_mm512_max_epi16(x, lo), hi), up);
    any = _mm512_or_si512(any, v);
    _mm512_storeu_si512(d + z, v);
    if (save) _mm512_mask_storeu_epi16(save + z, _cvtu32_mask32(valid(Zc - z)), v);
  }
  // The first 32 values again after Zc, as the AVX-512 lane loops read them.
  _mm512_storeu_si512(d + Zc, _mm512_load_si512(d));
  return _mm512_test_epi16_mask(any, any) != 0;
}
constexpr LayerFn kLayerFns[kNrCpuLevels] = {layerPlain, layerAvx2, layerAvx512};
template <typename T>
constexpr LoadFn<T> kLoadFns[kNrCpuLevels] = {loadPlain<T>, loadAvx2<T>, loadAvx512<T>};
#else
constexpr LayerFn kLayerFns[kNrCpuLevels] = {layerPlain, nullptr, nullptr};
template <typename T>
constexpr LoadFn<T> kLoadFns[kNrCpuLevels] = {loadPlain<T>, nullptr, nullptr};
#endif

// For every edge of the layers marked in `run`: the relative shift at which the next edge that
// reads the same column (in the next iteration for a column's last edge) reads it.
void nextReads(const NrLdpcDecSchedule& sch, const int16_t* shifts, const bool* run, int Zc,
               int16_t* nextRel) {
  int16_t first[kLdpcDecMaxCols], last[kLdpcDecMaxCols];
  std::fill(first, first + kLdpcDecMaxCols, -1);
  std::fill(last, last + kLdpcDecMaxCols, -1);
  for (int l = 0, e = 0; l < sch.numLayers; e += sch.rowWeight[l], l++) {
    if (!run[l]) continue;
    for (int m = 0; m < sch.rowWeight[l]; m++) {
      const int c = sch.edge[e + m].col;
      if (last[c] >= 0)
        nextRel[last[c]] = static_cast<int16_t>((shifts[e + m] - shifts[last[c]] + Zc) % Zc);
      else
        first[c] = static_cast<int16_t>(e + m);
      last[c] = static_cast<int16_t>(e + m);
    }
  }
  for (int c = 0; c < kLdpcDecMaxCols; c++)
    if (last[c] >= 0)
      nextRel[last[c]] = static_cast<int16_t>((shifts[first[c]] - shifts[last[c]] + Zc) % Zc);
}

// One iteration: every layer marked in `run`, in layer order.
// The layers of the current decoding as the in-place lane loops run them after the first
// iteration (written by runIteration in the first iteration).
LayerJob inPlaceJobs[kLdpcDecMaxLayers];
int inPlaceJobN;
// What the in-place jobs were built for (schedule, reduced shifts, layers run); valid only while
// nothing else has rebuilt them. A decoding of the same shape runs its first iteration from them.
struct JobsKey {
  bool valid;
  const NrLdpcDecSchedule* sch;
  const int16_t* shifts;
  bool run[kLdpcDecMaxLayers];
};
JobsKey jobsKey;

// inPlace: the lane loops write every value back where they read it (the AVX-512 loops), so the
// blocks keep rotation 0 and are read at the edge's own shift. With check (a later iteration),
// returns whether any layer changed a check-to-variable message; otherwise true.
// The first iteration's edge of a layer that reads a column still holding only zeros (the
// punctured first two columns until a layer writes them), which zeroColumnFirst then writes
// alone; -1 for none, or without stillZero (the columns still all zero).
int8_t zeroEdgeInFirst(const LayerJob& j, bool* stillZero) {
  if (!stillZero) return -1;
  for (int m = 0; m < j.weight; m++)
    if (stillZero[j.col[m]]) {
      stillZero[j.col[m]] = false;
      return static_cast<int8_t>(m);
    }
  return -1;
}

bool runIteration(const NrLdpcDecSchedule& sch, const int16_t* shifts, const int16_t* nextRel,
                  const bool* run, bool first, LayerFn layerFn, bool inPlace, const DecCfg& c,
                  bool check = false, bool* stillZero = nullptr) {
  check = check && !first;
  bool changed = !check;
  if (inPlace && !first) {
    // Rotations stay 0: the jobs of the first iteration hold for every later one.
    for (int i = 0; i < inPlaceJobN; i++) {
      inPlaceJobs[i].check = check;
      changed |= layerFn(inPlaceJobs[i], c);
    }
    return changed;
  }
  jobsKey.valid = false;
  inPlaceJobN = 0;
  LayerJob j;
  j.first = first;
  j.check = check;
  for (int l = 0, e = 0; l < sch.numLayers; e += sch.rowWeight[l], l++) {
    if (!run[l]) continue;
    j.layer = l;
    j.edge0 = e;
    j.weight = sch.rowWeight[l];
    for (int m = 0; m < j.weight; m++) {
      // The column block is read at the relative shift between its stored rotation and the
      // edge's shift, which becomes its rotation.
      const int col = sch.edge[e + m].col;
      int r = shifts[e + m] - colRot[col];
      if (r < 0) r += c.Zc;
      if (!inPlace) colRot[col] = shifts[e + m];
      j.col[m] = static_cast<uint8_t>(col);
      j.rel[m] = static_cast<int16_t>(r);
      j.dup[m] = nextRel[e + m];
    }
    j.zeroEdge = inPlace && first ? zeroEdgeInFirst(j, stillZero) : -1;
    changed |= layerFn(j, c);
    if (inPlace) {
      inPlaceJobs[inPlaceJobN] = j;
      inPlaceJobs[inPlaceJobN].zeroEdge = -1;
      inPlaceJobs[inPlaceJobN++].first = false;
    }
  }
  return changed;
}

// Hard decisions on the first Kp codeword bits, packed most significant bit first; true when the
// code-block CRC checks and every one of the Kp bits was decided on a non-zero value. A value of
// exactly 0 carries no information either way (an information bit never received, as when the
// redundancy version's window misses the systematic part): its decision would be a guess, and
// the all-zero guesses of such a block form the all-zero word, whose CRC checks.
bool hardDecisionPlain(int Kp, int Zc, uint8_t crcType) {
  int16_t undecided = 0;
  for (int k = 0, c = 0; k < Kp; c++) {
    // Codeword bit b of the block sits at (b - rotation) mod Zc: the stored block from there to
    // its end, then from its start.
    const int start = (Zc - colRot[c]) % Zc;
    const int n = std::min(Zc, Kp - k);
    const int head = std::min(n, Zc - start);
    const int16_t* x = appMem[c] + start;
    for (int b = 0; b < head; b++) {
      hardBits[k + b] = x[b] < 0;
      undecided |= static_cast<int16_t>(x[b] == 0);
    }
    x = appMem[c];
    for (int b = head; b < n; b++) {
      hardBits[k + b] = x[b - head] < 0;
      undecided |= static_cast<int16_t>(x[b - head] == 0);
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

// The decided bits as 0/1 words (after a pass).
void emitPlain(int32_t* out, int Kp) {
  for (int k = 0; k < Kp; k++) out[k] = hardBits[k];
}

#ifdef VELTRA_X86_VARIANTS
// hardDecisionPlain over 32 values a step: the sign and zero tests give mask bits, which are
// appended to a bit stream (first bit lowest), then reversed into the packed words of the CRC.
VELTRA_TARGET_AVX512 bool hardDecisionAvx512(int Kp, int Zc, uint8_t crcType) {
  constexpr int kLanes = kMaxLanes;
  const __m512i iota = _mm512_set_epi16(31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18, 17,
                                        16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0);
  uint64_t acc = 0;  // bits not yet emitted, first lowest
  int accN = 0;
  int words = 0;
  uint32_t undecided = 0;
  // Blocks of whole registers, none rotated (the in-place loops leave every rotation 0): each
  // register of a block is one word of decisions.
  bool aligned = Zc % kLanes == 0;
  for (int c = 0; aligned && c * Zc < Kp; c++) aligned = colRot[c] == 0;
  if (aligned) {
    for (int k = 0, c = 0, off = 0; k < Kp; k += kLanes) {
      const int cnt = std::min(kLanes, Kp - k);
      const uint32_t valid = cnt == kLanes ? ~0u : (1u << cnt) - 1;
      const __m512i v = _mm512_loadu_si512(appMem[c] + off);
      off += kLanes;
      if (off == Zc) c++, off = 0;
      hardWordsLsb[words++] = _cvtmask32_u32(_mm512_movepi16_mask(v)) & valid;
      undecided |= _cvtmask32_u32(_mm512_testn_epi16_mask(v, v)) & valid;
    }
    accN = 0;
  }
  for (int k = aligned ? Kp : 0, c = 0; k < Kp; c++) {
    const int start = (Zc - colRot[c]) % Zc;
    const int n = std::min(Zc, Kp - k);
    const int16_t* x = appMem[c];
    for (int b0 = 0; b0 < n; b0 += kLanes) {
      int off = start + b0;
      off -= off >= Zc ? Zc : 0;
      __m512i v = _mm512_loadu_si512(x + off);
      if (off + kLanes > Zc) {
        // Bit b0 + i sits at off + i up to Zc, then at off + i - Zc from the block's start.
        const int t = Zc - off;
        const __m512i sel = _mm512_mask_add_epi16(
            iota, _mm512_cmpge_epi16_mask(iota, _mm512_set1_epi16(static_cast<int16_t>(t))), iota,
            _mm512_set1_epi16(static_cast<int16_t>(kLanes - t)));
        v = _mm512_permutex2var_epi16(v, sel, _mm512_loadu_si512(x));
      }
      const int cnt = std::min(kLanes, n - b0);
      const uint32_t valid = cnt == kLanes ? ~0u : (1u << cnt) - 1;
      const uint32_t neg = _cvtmask32_u32(_mm512_movepi16_mask(v)) & valid;
      undecided |= _cvtmask32_u32(_mm512_testn_epi16_mask(v, v)) & valid;
      acc |= static_cast<uint64_t>(neg) << accN;
      accN += cnt;
      if (accN >= 32) {
        hardWordsLsb[words++] = static_cast<uint32_t>(acc);
        acc >>= 32;
        accN -= 32;
      }
    }
    k += n;
  }
  if (undecided) return false;
  if (accN > 0) hardWordsLsb[words++] = static_cast<uint32_t>(acc);
  // Bit order reversed within each word: bits within bytes by nibble look-ups, then the bytes.
  alignas(64) static constexpr uint8_t kNibRev[64] = {
      0, 8,  4, 12, 2, 10, 6, 14, 1, 9,  5, 13, 3, 11, 7, 15, 0, 8,  4, 12, 2, 10,
      6, 14, 1, 9,  5, 13, 3, 11, 7, 15, 0, 8,  4, 12, 2, 10, 6, 14, 1, 9,  5, 13,
      3, 11, 7, 15, 0, 8,  4, 12, 2, 10, 6, 14, 1, 9,  5, 13, 3, 11, 7, 15};
  alignas(64) static constexpr uint8_t kByteRev[64] = {
      3,  2,  1,  0,  7, 6, 5,  4,  11, 10, 9, 8, 15, 14, 13, 12, 3,  2,  1,  0,  7, 6,
      5,  4,  11, 10, 9, 8, 15, 14, 13, 12, 3, 2, 1,  0,  7,  6,  5,  4,  11, 10, 9, 8,
      15, 14, 13, 12, 3, 2, 1,  0,  7,  6,  5, 4, 11, 10, 9,  8,  15, 14, 13, 12};
  const __m512i nibRev = _mm512_load_si512(kNibRev);
  const __m512i byteRev = _mm512_load_si512(kByteRev);
  const __m512i low4 = _mm512_set1_epi8(0x0f);
  for (int w = 0; w < words; w += 16) {
    const __mmask16 live =
        static_cast<__mmask16>(words - w >= 16 ? 0xffff : (1u << (words - w)) - 1);
    const __m512i in = _mm512_maskz_loadu_epi32(live, hardWordsLsb + w);
    const __m512i lo = _mm512_shuffle_epi8(nibRev, _mm512_and_si512(in, low4));
    const __m512i hi =
        _mm512_shuffle_epi8(nibRev, _mm512_and_si512(_mm512_srli_epi16(in, 4), low4));
    const __m512i rev = _mm512_or_si512(_mm512_slli_epi16(lo, 4), hi);
    _mm512_mask_storeu_epi32(hardWords + w, live, _mm512_shuffle_epi8(rev, byteRev));
  }
  return nrCrcCalcPacked(hardWords, crcType, Kp) == 0;
}

VELTRA_TARGET_AVX512 void emitAvx512(int32_t* out, int Kp) {
  const __m512i one = _mm512_set1_epi32(1);
  int k = 0;
  for (; k + 16 <= Kp; k += 16) {
    const uint32_t bits = hardWordsLsb[k / 32] >> (k % 32);
    _mm512_storeu_si512(out + k, _mm512_maskz_mov_epi32(static_cast<__mmask16>(bits), one));
  }
  for (; k < Kp; k++) out[k] = static_cast<int32_t>((hardWordsLsb[k / 32] >> (k % 32)) & 1);
}
#endif

using HardFn = bool (*)(int, int, uint8_t);
using EmitFn = void (*)(int32_t*, int);
#ifdef VELTRA_X86_VARIANTS
constexpr HardFn kHardFns[kNrCpuLevels] = {hardDecisionPlain, nullptr, hardDecisionAvx512};
constexpr EmitFn kEmitFns[kNrCpuLevels] = {emitPlain, nullptr, emitAvx512};
#else
constexpr HardFn kHardFns[kNrCpuLevels] = {hardDecisionPlain, nullptr, nullptr};
constexpr EmitFn kEmitFns[kNrCpuLevels] = {emitPlain, nullptr, nullptr};
#endif

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

uint8_t nrLdpcDecIterRun() { return iterRun; }

uint8_t nrLdpcDecLayersRun() { return layersRun; }

uint8_t nrLdpcDecSetLanes(uint8_t widest) { return nrCpuSetLevelCap(widest); }

int32_t nrLdpcDecApp(int16_t* app, int32_t count) {
  const int Zc = lastZc;
  if (lastSkipped) {
    // The columns of skipped layers were not maintained: decode the saved input again with every
    // layer, for as many iterations as the decoding used.
    bool all[kLdpcDecMaxLayers];
    std::fill(all, all + kLdpcDecMaxLayers, true);
    std::memset(colRot, 0, sizeof(colRot));
    for (int col = 0; col < lastCols; col++) {
      if (col < lastDataCols && savedNonzero[col])
        std::memcpy(appMem[col], savedIn[col], sizeof(int16_t) * Zc);
      else
        std::memset(appMem[col], 0, sizeof(int16_t) * Zc);
      std::memcpy(appMem[col] + Zc, appMem[col], sizeof(int16_t) * Zc);
    }
    const LayerFn layerFn = nrCpuPick(kLayerFns);
    int16_t nextRel[kLdpcDecMaxEdges];
    nextReads(*lastSch, lastShifts, all, Zc, nextRel);
    for (int it = 0; it < iterUsed; it++)
      runIteration(*lastSch, lastShifts, nextRel, all, it == 0, layerFn,
                   layerFn != kLayerFns[0] && layerFn == kLayerFns[kNrCpuAvx512], lastCfg);
    lastSkipped = false;
  }
  const int32_t n = std::min(count, lastCols * Zc);
  for (int32_t k = 0; k < n; k++) {
    const int c = k / Zc;
    app[k] = appMem[c][(k % Zc - colRot[c] + Zc) % Zc];
  }
  return n > 0 ? n : 0;
}

int32_t nrLdpcDecode(const int32_t* llr, int32_t* out, int32_t Kp, int32_t Zc, int32_t N,
                     uint8_t bg, uint8_t iLS, uint8_t crcType) {
  return ldpc_detail::decodeKeep(llr, out, true, Kp, Zc, N, bg, iLS, crcType);
}

namespace {

// ldpc_detail::decodeKeep for input LLRs of either width.
template <typename T>
int32_t decodeAny(const T* llr, int32_t* out, bool keepBits, int32_t Kp, int32_t Zc, int32_t N,
                  uint8_t bg, uint8_t iLS, uint8_t crcType) {
  NrStageScope decoding(NrStage::kDecoding);
  const NrLdpcDecSchedule* sch = nrLdpcDecSchedule(bg);
  const int zcIdx = nrLdpcLiftIndex(Zc);
  const int cols = bg == 1 ? kBg1Cols : kBg2Cols;
  const int kb = bg == 1 ? kBg1Cols - kBg1Rows : kBg2Cols - kBg2Rows;
  if (!sch || zcIdx < 0 || iLS >= kLiftSetN || N <= 0 || N > (cols - 2) * Zc || Kp <= 0 ||
      Kp > kb * Zc || !llr || (keepBits && !out)) {
    nrDiag("nrLdpcDecode: invalid code block (bg %d, Zc %d, N %d, Kp %d)!\n", bg, Zc, N, Kp);
    iterUsed = 0;
    iterRun = 0;
    layersRun = 0;
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
  const LayerFn layerFn = nrCpuPick(kLayerFns);
  const bool inPlace = layerFn != kLayerFns[0] && layerFn == kLayerFns[kNrCpuAvx512];
  const LoadFn<T> loadFn = nrCpuPick(kLoadFns<T>);
  // The hard decisions and their output come from the same variant.
  const int hardLevel = nrCpuPick(kHardFns) == kHardFns[0] ? 0 : kNrCpuAvx512;
  const HardFn hardFn = kHardFns[hardLevel];
  const EmitFn emitFn = kEmitFns[hardLevel];
  iterUsed = p.maxIter;
  std::memset(colRot, 0, sizeof(colRot));
  lastSkipped = false;

  // A layer whose degree-one parity column holds only zeros computes v = 0 on that edge in every
  // iteration: min1 = 0, so its messages to all other columns have magnitude 0 and their APP
  // values pass through unchanged (the column's own APP takes a message of at most 128 in
  // magnitude and gives it back next time, exact while appWidth >= 9 keeps it unsaturated; with
  // the min* correction min*(0, x) = 0 for every x the msgWidth allows but 127). Such a layer is
  // skipped; its column's APP memory is then no longer maintained.
  const bool skipping = p.skipSilentLayers == 1 && appWidth >= 9 && !(c.minStar && msgWidth >= 8);
  // Columns with inputs; the first 2*Zc systematic bits are punctured (LLR 0), as are columns
  // beyond the N inputs. A degree-one column without a single non-zero input is not even loaded
  // when skipping: its layer is skipped and nothing else reads it.
  const int dataCols = std::min(cols, 2 + (N + Zc - 1) / Zc);
  bool degOne[kLdpcDecMaxCols] = {};
  if (skipping)
    for (int l = 0; l < sch->numLayers; l++)
      if (sch->degOneCol[l] >= 0) degOne[sch->degOneCol[l]] = true;
  bool nonzero[kLdpcDecMaxCols];
  auto colInput = [&](int col, int& n) {
    const int first = (col - 2) * Zc;
    n = col < 2 ? 0 : std::clamp(N - first, 0, Zc);
    return llr + (n > 0 ? first : 0);
  };
  // The degree-one columns first: which of them hold anything decides the layers that run.
  for (int col = 0; col < cols; col++) {
    if (!degOne[col]) continue;
    int n;
    const T* src = colInput(col, n);
    T any = 0;
    for (int z = 0; z < n; z++) any |= src[z];
    nonzero[col] = any != 0 && loadFn(appMem[col], src, n, Zc, fracBits, nullptr);
  }
  bool run[kLdpcDecMaxLayers];
  layersRun = 0;
  for (int l = 0; l < sch->numLayers; l++) {
    const int dc = sch->degOneCol[l];
    run[l] = !skipping || dc < 0 || nonzero[dc];
    layersRun = static_cast<uint8_t>(layersRun + run[l]);
  }

  // Kept for nrLdpcDecApp, which re-runs a decoding that skipped layers without skipping them:
  // the other columns are saved as they are loaded, the degree-one ones that hold anything
  // copied; columns of zeros are only marked.
  lastSkipped = layersRun < sch->numLayers;
  for (int col = 0; col < cols; col++) {
    if (degOne[col]) continue;
    int n;
    const T* src = colInput(col, n);
    nonzero[col] = loadFn(appMem[col], src, n, Zc, fracBits,
                          lastSkipped && col < dataCols ? savedIn[col] : nullptr);
  }
  if (lastSkipped) {
    lastDataCols = dataCols;
    for (int col = 0; col < lastDataCols; col++) {
      savedNonzero[col] = nonzero[col];
      if (degOne[col] && nonzero[col]) std::memcpy(savedIn[col], appMem[col], sizeof(int16_t) * Zc);
    }
    lastCfg = c;
    lastSch = sch;
    lastShifts = shifts;
  }

  // The in-place jobs of the last decoding hold for a block of the same shape (rotations 0, the
  // same shifts and layers): its first iteration runs them as first-iteration jobs.
  const bool sameJobs = inPlace && jobsKey.valid && jobsKey.sch == sch &&
                        jobsKey.shifts == shifts &&
                        std::equal(run, run + sch->numLayers, jobsKey.run);
  int16_t nextRel[kLdpcDecMaxEdges];
  if (!sameJobs) nextReads(*sch, shifts, run, Zc, nextRel);
  // Columns still all zero in the first iteration (see zeroColumnFirst): with the in-place loops,
  // without the min* correction (min*(0, x) need not be 0), and where every loaded value lies
  // within the APP clamp (a write-back would clamp it).
  const int up = std::max(0, fracBits - 2);
  bool stillZero[kLdpcDecMaxCols];
  bool* zeroSoFar = nullptr;
  if (inPlace && !c.minStar && (31 << up) <= c.appMax && -(32 << up) >= c.appMin) {
    for (int col = 0; col < cols; col++) stillZero[col] = !nonzero[col];
    zeroSoFar = stillZero;
  }
  bool pass = false;
  // An iteration after the first that changes no check-to-variable message leaves every APP value
  // as it found it too (each is the clamp of v + message, v being the value minus the same
  // message, and lies within the clamp already): the decoder is at a fixed point, and every later
  // iteration would repeat that one exactly. They are then not run; their hard decisions, and so
  // the CRC verdict, are the fixed point's, found once. The comparison costs the lane loops a
  // few per cent, so with early termination it is made only once the CRC has failed a test (a
  // block that passes its first one gains nothing from it).
  const bool stopAtFixed = p.stopAtFixedPoint == 1;
  bool fixed = false;
  bool fixedVerdictKnown = false, fixedVerdict = false;
  iterRun = 0;
  for (int it = 0; it < p.maxIter; it++) {
    if (fixed) {
      // Nothing to run.
    } else if (it == 0 && sameJobs) {
      for (int i = 0; i < inPlaceJobN; i++) {
        LayerJob j = inPlaceJobs[i];
        j.first = true;
        j.check = false;
        j.zeroEdge = zeroEdgeInFirst(j, zeroSoFar);
        layerFn(j, c);
      }
      iterRun++;
    } else {
      const bool check = stopAtFixed && (p.etEnable != 1 || it > p.minIter);
      const bool changed =
          runIteration(*sch, shifts, nextRel, run, it == 0, layerFn, inPlace, c, check, zeroSoFar);
      iterRun++;
      fixed = check && !changed;
    }
    if (it == 0 && inPlace && !sameJobs) {
      jobsKey.valid = true;
      jobsKey.sch = sch;
      jobsKey.shifts = shifts;
      std::copy(run, run + sch->numLayers, jobsKey.run);
    }
    if (p.etEnable == 1 && it >= p.minIter) {
      bool ok;
      if (fixedVerdictKnown) {
        ok = fixedVerdict;
      } else {
        ok = hardFn(Kp, Zc, crcType);
        fixedVerdictKnown = fixed;
        fixedVerdict = ok;
      }
      if (ok) {
        iterUsed = static_cast<uint8_t>(it + 1);
        pass = true;
        break;
      }
      // At a fixed point that fails its CRC every later test fails too: maxIter iterations.
      if (fixedVerdictKnown) break;
    }
  }
  // Without early termination the verdict is that of the last iteration.
  if (p.etEnable != 1 && p.maxIter > p.minIter) pass = hardFn(Kp, Zc, crcType);
  if (!pass) return 0;
  // The bits the CRC passed on.
  if (keepBits) emitFn(out, Kp);
  return 1;
}

}  // namespace

int32_t ldpc_detail::decodeKeep(const int32_t* llr, int32_t* out, bool keepBits, int32_t Kp,
                                int32_t Zc, int32_t N, uint8_t bg, uint8_t iLS, uint8_t crcType) {
  return decodeAny(llr, out, keepBits, Kp, Zc, N, bg, iLS, crcType);
}

int32_t ldpc_detail::decodeKeep16(const int16_t* llr, int32_t* out, bool keepBits, int32_t Kp,
                                  int32_t Zc, int32_t N, uint8_t bg, uint8_t iLS, uint8_t crcType) {
  return decodeAny(llr, out, keepBits, Kp, Zc, N, bg, iLS, crcType);
}
