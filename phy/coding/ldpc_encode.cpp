// Systematic LDPC encoding (TS 38.212 5.3.2) on byte lanes: every column vector of Zc bits is
// held as Zc bytes of 0/1, and each row sum is accumulated one register of lanes at a time
// over the shifted column vectors of the row, then stored once. The lane loops are written once
// and compiled for the baseline instruction set and for AVX2 and AVX-512, picked at run time.
#include "phy/coding/ldpc_encode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "config/console.h"
#include "phy/coding/ldpc_tables.h"
#include "phy/common/cpu_features.h"

namespace {

constexpr int kMaxZc = 384;
constexpr int kMaxRows = kBg1Rows;
constexpr int kMaxCols = kBg1Cols;
constexpr int kMaxBytes = 64;  // byte lanes per step at most: one AVX-512 register
static_assert(kMaxZc % kMaxBytes == 0, "the lane steps tile the largest lifting size");

// L byte lanes: one register of the instruction set (16 SSE2, 32 AVX2, 64 AVX-512).
template <int L>
struct ByteLanes {
  static constexpr int kL = L;
  typedef uint8_t V __attribute__((vector_size(L)));
};

// Structure of the four core parity columns, indexed (bg - 1) * 8 + iLS: which closed form solves
// rows 0..3 for them (TS 38.212 Tables 5.3.2-2/-3 differ per set in those columns).
constexpr int32_t Htype[16] = {3, 3, 3, 3, 3, 3, 2, 3, 4, 4, 4, 1, 4, 4, 4, 1};

struct Block {
  uint16_t col;
  uint16_t shift;  // V_ij mod Zc
};

// The non-empty blocks of one lifted base graph, row by row in column order, limited to the
// systematic and core parity columns (the single identity block of an extension row is its own
// output). Row i spans blocks rowStart[i] .. rowStart[i+1]-1; its systematic blocks end before
// sysEnd[i].
struct LiftedGraph {
  int rows = 0;
  int kb = 0;
  std::vector<Block> blocks;
  int rowStart[kMaxRows + 1] = {};
  int sysEnd[kMaxRows] = {};
};

template <int M, int Cols>
void buildGraph(LiftedGraph* g, const int32_t (&v)[M][Cols], int zc) {
  g->rows = M;
  g->kb = Cols - M;
  for (int i = 0; i < M; i++) {
    g->rowStart[i] = static_cast<int>(g->blocks.size());
    for (int j = 0; j < g->kb + 4; j++) {
      if (j == g->kb) g->sysEnd[i] = static_cast<int>(g->blocks.size());
      if (v[i][j] >= 0)
        g->blocks.push_back({static_cast<uint16_t>(j), static_cast<uint16_t>(v[i][j] % zc)});
    }
  }
  g->rowStart[M] = static_cast<int>(g->blocks.size());
}

// Reduced shift lists, built once per (bg, iLS, Zc) on first use.
const LiftedGraph& liftedGraph(int bg, int iLS, int zc) {
  static std::unique_ptr<LiftedGraph> cache[2][kLiftSetN][kMaxZc + 1];
  std::unique_ptr<LiftedGraph>& g = cache[bg - 1][iLS][zc];
  if (!g) {
    g = std::make_unique<LiftedGraph>();
    if (bg == 1)
      buildGraph(g.get(), gnrLdpcBg1[iLS], zc);
    else
      buildGraph(g.get(), gnrLdpcBg2[iLS], zc);
  }
  return *g;
}

// Every column vector of Zc bits is held as bytes twice in a row, so that the vector cyclically
// shifted by s is the contiguous span starting at s. Lane steps may run past Zc (up to the next
// multiple of the register width); those lanes are never used.
alignas(64) uint8_t gVec[kMaxCols][2 * kMaxZc];
alignas(64) uint8_t gLambda[4][kMaxZc];
alignas(64) uint8_t gSigma[2 * kMaxZc];
// Parity bits in codeword order (core parity, then the extension rows), with room for the lanes
// of the last step beyond Zc.
alignas(64) uint8_t gParity[(kMaxRows + 1) * kMaxZc];

// One encoding request as the lane loops see it.
struct EncJob {
  const LiftedGraph* g;
  int zc;
  int kb;
  int Kp;
  int htype;
  int parityCols;  // 0 ... rows
};

template <typename V>
[[gnu::always_inline]] inline void loadVec(V& v, const uint8_t* p) {
  std::memcpy(&v, p, sizeof v);
}
template <typename V>
[[gnu::always_inline]] inline void storeVec(uint8_t* p, const V& v) {
  std::memcpy(p, &v, sizeof v);
}

// Sum over GF(2) of blocks begin..end-1 of the graph, each one its column vector shifted (TS 38.212
// 5.3.2: the identity cyclically shifted right by P_ij picks bit (z + P_ij) mod Zc for check z).
// dst gets Zc lanes rounded up to a whole step.
template <typename Ln>
[[gnu::always_inline]] inline void rowSumLanes(uint8_t* dst, const LiftedGraph& g, int begin,
                                               int end, int zc) {
  for (int z0 = 0; z0 < zc; z0 += Ln::kL) {
    typename Ln::V acc{};
    for (int b = begin; b < end; b++) {
      typename Ln::V x;
      loadVec(x, gVec[g.blocks[b].col] + g.blocks[b].shift + z0);
      acc ^= x;
    }
    storeVec(dst + z0, acc);
  }
}

// dst may be a or b.
[[gnu::always_inline]] inline void xorLanes(uint8_t* dst, const uint8_t* a, const uint8_t* b,
                                            int n) {
  for (int z = 0; z < n; z++) dst[z] = a[z] ^ b[z];
}

inline void duplicate(uint8_t* v, int zc) { std::memcpy(v + zc, v, zc); }

// Parity bits of the job into gParity (and the core parity into gVec for the extension rows).
template <typename Ln>
[[gnu::always_inline]] inline void parityLanes(const EncJob& j) {
  const LiftedGraph& g = *j.g;
  const int zc = j.zc;
  const int kb = j.kb;
  if (j.parityCols <= 0) return;
  for (int i = 0; i < 4; i++) rowSumLanes<Ln>(gLambda[i], g, g.rowStart[i], g.sysEnd[i], zc);
  xorLanes(gSigma, gLambda[0], gLambda[1], zc);
  xorLanes(gSigma, gSigma, gLambda[2], zc);
  xorLanes(gSigma, gSigma, gLambda[3], zc);
  duplicate(gSigma, zc);

  // Core parity in closed form: the sum of rows 0..3 leaves a single shifted copy of p1.
  uint8_t* p1 = gVec[kb];
  uint8_t* p2 = gVec[kb + 1];
  uint8_t* p3 = gVec[kb + 2];
  uint8_t* p4 = gVec[kb + 3];
  switch (j.htype) {
    case 3:
      std::memcpy(p1, gSigma, zc);
      duplicate(p1, zc);
      xorLanes(p2, gLambda[0], p1 + (1 % zc), zc);
      xorLanes(p3, gLambda[1], p1, zc);
      xorLanes(p3, p3, p2, zc);
      xorLanes(p4, gLambda[2], p3, zc);
      break;
    case 2: {
      const int h = 105 % zc;
      std::memcpy(p1, gSigma + (zc - h) % zc, zc);
      xorLanes(p2, gLambda[0], p1, zc);
      xorLanes(p4, gLambda[3], p1, zc);
      xorLanes(p3, gLambda[2], p4, zc);
      break;
    }
    case 1:
      std::memcpy(p1, gSigma, zc);
      duplicate(p1, zc);
      xorLanes(p2, gLambda[0], p1 + (1 % zc), zc);
      xorLanes(p3, gLambda[1], p2, zc);
      xorLanes(p4, gLambda[2], p1, zc);
      xorLanes(p4, p4, p3, zc);
      break;
    default:  // 4
      std::memcpy(p1, gSigma + (zc - 1) % zc, zc);
      xorLanes(p2, gLambda[0], p1, zc);
      xorLanes(p3, gLambda[1], p2, zc);
      xorLanes(p4, gLambda[3], p1, zc);
      break;
  }
  for (int c = 0; c < 4; c++) {
    duplicate(gVec[kb + c], zc);
    std::memcpy(gParity + c * zc, gVec[kb + c], zc);
  }

  // Extension parity: each row's own identity block equals the sum of its other blocks. The
  // lanes of a row beyond Zc land in the next row's place, which is written after it.
  for (int i = 4; i < 4 + std::min(j.parityCols - 4, g.rows - 4); i++)
    rowSumLanes<Ln>(gParity + i * zc, g, g.rowStart[i], g.rowStart[i + 1], zc);
}

// The whole encoding for one element type: systematic vectors in, parity, codeword out.
template <int L, typename T>
[[gnu::always_inline]] inline void encodeLanes(T* codeBlock, T* codeword, const EncJob& j) {
  const int zc = j.zc;
  const int K = j.kb * zc;
  // Systematic vectors; filler bits (TS 38.212 5.2.2) count as 0 whatever the array holds.
  for (int c = 0; c < j.kb; c++) {
    uint8_t* v = gVec[c];
    const T* src = codeBlock + c * zc;
    const int n = std::clamp(j.Kp - c * zc, 0, zc);
    for (int z = 0; z < n; z++) v[z] = static_cast<uint8_t>(src[z] & 1);
    for (int z = n; z < zc; z++) v[z] = 0;
    duplicate(v, zc);
  }
  parityLanes<ByteLanes<L>>(j);

  // TS 38.212 5.3.2: filler bits are marked -1 and the first 2*Zc systematic bits punctured.
  for (int k = j.Kp; k < K; k++) codeBlock[k] = -1;
  std::memcpy(codeword, codeBlock + 2 * zc, sizeof(T) * (K - 2 * zc));
  T* parity = codeword + K - 2 * zc;
  const int n = std::max(0, std::min(j.parityCols, j.g->rows)) * zc;
  for (int t = 0; t < n; t++) parity[t] = static_cast<T>(gParity[t]);
}

template <typename T>
void encodePlain(T* codeBlock, T* codeword, const EncJob& j) {
  encodeLanes<16>(codeBlock, codeword, j);
}
#ifdef VELTRA_X86_VARIANTS
template <typename T>
VELTRA_TARGET_AVX2 void encodeAvx2(T* codeBlock, T* codeword, const EncJob& j) {
  encodeLanes<32>(codeBlock, codeword, j);
}
template <typename T>
VELTRA_TARGET_AVX512 void encodeAvx512(T* codeBlock, T* codeword, const EncJob& j) {
  encodeLanes<64>(codeBlock, codeword, j);
}
#endif

template <typename T>
using EncodeFn = void (*)(T*, T*, const EncJob&);

template <typename T>
constexpr EncodeFn<T> kEncodeFns[kNrCpuLevels] = {encodePlain<T>,
#ifdef VELTRA_X86_VARIANTS
                                                  encodeAvx2<T>, encodeAvx512<T>
#else
                                                  nullptr, nullptr
#endif
};

template <typename T>
bool encodeChecked(T* codeBlock, T* codeword, const NrLdpcParams* params, int32_t parityCols) {
  const int bg = params->bg;
  const int iLS = params->iLS;
  const int zc = params->Zc;
  const int kb = bg == 1 ? kBg1Cols - kBg1Rows : kBg2Cols - kBg2Rows;
  const int K = params->K;
  const int Kp = params->Kp;
  if ((bg != 1 && bg != 2) || iLS < 0 || iLS >= kLiftSetN || zc < 1 || zc > kMaxZc ||
      K != kb * zc || Kp < 0 || Kp > K) {
    nrDiag("nrLdpcEncode(): bg %d, iLS %d, Zc %d, K %d, K' %d not supported!\n", bg, iLS, zc, K,
           Kp);
    return false;
  }
  EncJob j;
  j.g = &liftedGraph(bg, iLS, zc);
  j.zc = zc;
  j.kb = kb;
  j.Kp = Kp;
  j.htype = Htype[(bg - 1) * 8 + iLS];
  j.parityCols = std::clamp<int32_t>(parityCols, 0, j.g->rows);
  nrCpuPick(kEncodeFns<T>)(codeBlock, codeword, j);
  return true;
}

}  // namespace

int32_t nrLdpcParityCols(const NrLdpcParams* params) {
  return params->bg == 1 ? kBg1Rows : kBg2Rows;
}

bool nrLdpcEncode(int32_t* codeBlock, int32_t* codeword, const NrLdpcParams* params) {
  return encodeChecked(codeBlock, codeword, params, kMaxRows);
}

bool nrLdpcEncodeParity(int32_t* codeBlock, int32_t* codeword, const NrLdpcParams* params,
                        int32_t parityCols) {
  return encodeChecked(codeBlock, codeword, params, parityCols);
}

bool nrLdpcEncodeBytes(int8_t* codeBlock, int8_t* codeword, const NrLdpcParams* params,
                       int32_t parityCols) {
  return encodeChecked(codeBlock, codeword, params, parityCols);
}
