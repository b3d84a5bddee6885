#include "phy/coding/ldpc_encode.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "config/console.h"
#include "phy/coding/ldpc_tables.h"

namespace {

constexpr int kMaxZc = 384;
constexpr int kMaxRows = kBg1Rows;
constexpr int kMaxCols = kBg1Cols;

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
// shifted by s is the contiguous span starting at s.
uint8_t gVec[kMaxCols][2 * kMaxZc];
uint8_t gLambda[4][kMaxZc];
uint8_t gSigma[2 * kMaxZc];
uint8_t gRow[kMaxZc];

inline void xorInto(uint8_t* __restrict dst, const uint8_t* __restrict src, int n) {
  for (int z = 0; z < n; z++) dst[z] ^= src[z];
}

inline void xorOf(uint8_t* __restrict dst, const uint8_t* __restrict a, const uint8_t* __restrict b,
                  int n) {
  for (int z = 0; z < n; z++) dst[z] = a[z] ^ b[z];
}

inline void duplicate(uint8_t* v, int zc) { std::memcpy(v + zc, v, zc); }

inline void widen(int32_t* __restrict dst, const uint8_t* __restrict src, int n) {
  for (int z = 0; z < n; z++) dst[z] = src[z];
}

// Sum over GF(2) of blocks begin..end-1 of the graph, each one its column vector shifted (TS 38.212
// 5.3.2: the identity cyclically shifted right by P_ij picks bit (z + P_ij) mod Zc for check z).
void rowSum(uint8_t* dst, const LiftedGraph& g, int begin, int end, int zc) {
  std::memset(dst, 0, zc);
  for (int b = begin; b < end; b++) xorInto(dst, gVec[g.blocks[b].col] + g.blocks[b].shift, zc);
}

}  // namespace

bool nrLdpcEncode(int32_t* codeBlock, int32_t* codeword, const NrLdpcParams* params) {
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
  const LiftedGraph& g = liftedGraph(bg, iLS, zc);

  // Systematic vectors; filler bits (TS 38.212 5.2.2) count as 0 whatever the array holds.
  for (int j = 0; j < kb; j++) {
    uint8_t* v = gVec[j];
    for (int z = 0; z < zc; z++) {
      const int k = j * zc + z;
      v[z] = k < Kp ? static_cast<uint8_t>(codeBlock[k] & 1) : 0;
    }
    duplicate(v, zc);
  }

  for (int i = 0; i < 4; i++) rowSum(gLambda[i], g, g.rowStart[i], g.sysEnd[i], zc);
  xorOf(gSigma, gLambda[0], gLambda[1], zc);
  xorInto(gSigma, gLambda[2], zc);
  xorInto(gSigma, gLambda[3], zc);
  duplicate(gSigma, zc);

  // Core parity in closed form: the sum of rows 0..3 leaves a single shifted copy of p1.
  uint8_t* p1 = gVec[kb];
  uint8_t* p2 = gVec[kb + 1];
  uint8_t* p3 = gVec[kb + 2];
  uint8_t* p4 = gVec[kb + 3];
  switch (Htype[(bg - 1) * 8 + iLS]) {
    case 3:
      std::memcpy(p1, gSigma, zc);
      duplicate(p1, zc);
      xorOf(p2, gLambda[0], p1 + (1 % zc), zc);
      xorOf(p3, gLambda[1], p1, zc);
      xorInto(p3, p2, zc);
      xorOf(p4, gLambda[2], p3, zc);
      break;
    case 2: {
      const int h = 105 % zc;
      std::memcpy(p1, gSigma + (zc - h) % zc, zc);
      xorOf(p2, gLambda[0], p1, zc);
      xorOf(p4, gLambda[3], p1, zc);
      xorOf(p3, gLambda[2], p4, zc);
      break;
    }
    case 1:
      std::memcpy(p1, gSigma, zc);
      duplicate(p1, zc);
      xorOf(p2, gLambda[0], p1 + (1 % zc), zc);
      xorOf(p3, gLambda[1], p2, zc);
      xorOf(p4, gLambda[2], p1, zc);
      xorInto(p4, p3, zc);
      break;
    default:  // 4
      std::memcpy(p1, gSigma + (zc - 1) % zc, zc);
      xorOf(p2, gLambda[0], p1, zc);
      xorOf(p3, gLambda[1], p2, zc);
      xorOf(p4, gLambda[3], p1, zc);
      break;
  }
  for (int c = 0; c < 4; c++) duplicate(gVec[kb + c], zc);

  // TS 38.212 5.3.2: filler bits are marked -1 and the first 2*Zc systematic bits punctured.
  for (int k = Kp; k < K; k++) codeBlock[k] = -1;
  std::memcpy(codeword, codeBlock + 2 * zc, sizeof(int32_t) * (K - 2 * zc));
  for (int c = 0; c < 4; c++) widen(codeword + K - 2 * zc + c * zc, gVec[kb + c], zc);

  // Extension parity: each row's own identity block equals the sum of its other blocks.
  int32_t* ext = codeword + K + 2 * zc;
  for (int i = 4; i < g.rows; i++) {
    rowSum(gRow, g, g.rowStart[i], g.rowStart[i + 1], zc);
    widen(ext + (i - 4) * zc, gRow, zc);
  }
  return true;
}
