#include "hwmodel/hw_ldpc_enc.h"

#include <cstring>

#include "config/console.h"

namespace {

constexpr int32_t kMaxZc = kLiftSizeMax;
constexpr int32_t kCoreRows = 4;
constexpr int32_t kExtRowsAll = kHwExtRowsBg1 + kHwExtRowsBg2;

int32_t shiftOf(int bgIdx, int iLS, int row, int col) {
  return bgIdx == 0 ? gnrLdpcBg1[iLS][row][col] : gnrLdpcBg2[iLS][row][col];
}

// Appends the edge (row, col) of base graph bgIdx with its shifts for the eight sets.
void pushEdge(int32_t* tbl, int32_t* len, int bgIdx, int row, int col) {
  int32_t* e = tbl + *len;
  e[0] = col;
  for (int s = 0; s < kLiftSetN; s++) e[1 + s] = shiftOf(bgIdx, s, row, col);
  *len += kHwEdgeVals;
}

NrHwEdgeTbl buildEdgeTbl() {
  NrHwEdgeTbl t{};
  for (int bgIdx = 0; bgIdx < 2; bgIdx++) {
    const int kb = bgIdx == 0 ? kBg1Cols - kBg1Rows : kBg2Cols - kBg2Rows;
    const int cols = bgIdx == 0 ? kBg1Cols : kBg2Cols;
    const int rows = bgIdx == 0 ? kBg1Rows : kBg2Rows;
    // The all-zero blocks are the same in every set; set 0 marks them.
    for (int row = 0; row < kCoreRows; row++) {
      t.coreRowOfst[bgIdx * kCoreRows + row] = t.coreLen;
      for (int col = 0; col < cols; col++) {
        const bool used = col < kb || (row == 1 && col == kb + 1) || (row == 2 && col == kb + 3);
        if (used && shiftOf(bgIdx, 0, row, col) >= 0) pushEdge(t.core, &t.coreLen, bgIdx, row, col);
      }
    }
    for (int row = kCoreRows; row < rows; row++) {
      t.extRowOfst[(bgIdx == 0 ? 0 : kHwExtRowsBg1) + row - kCoreRows] = t.extLen;
      for (int col = 0; col < cols; col++)
        if (col != kb + row && shiftOf(bgIdx, 0, row, col) >= 0)
          pushEdge(t.ext, &t.extLen, bgIdx, row, col);
    }
  }
  return t;
}

// Zc-wide working vectors, one bit per byte. Column blocks and core slots are held twice in a row,
// so that the block rotated left by v is the contiguous span starting at v.
uint8_t gCol[kBg1Cols - kBg1Rows][2 * kMaxZc];  // data_T of the systematic column blocks
uint8_t gSlot[kCoreRows][2 * kMaxZc];           // core slots 0..3
uint8_t gSum[kMaxZc];                           // sum_T
uint8_t gF[2 * kMaxZc];                         // f_Zc

struct Geometry {
  int32_t zc, bitLen, bankNum;
};

void readColumn(const int32_t* mem, int32_t c, const Geometry& g, uint8_t* dst) {
  const int32_t* row = mem + static_cast<int64_t>(c) * g.bankNum * kHwBankRowSlots;
  for (int32_t b = 0; b < g.bankNum; b++, row += kHwBankRowSlots)
    for (int32_t k = 0; k < g.bitLen; k++) dst[b * g.bitLen + k] = static_cast<uint8_t>(row[k] & 1);
  std::memcpy(dst + g.zc, dst, g.zc);
}

void writeColumn(int32_t* mem, int32_t c, const Geometry& g, const uint8_t* src) {
  int32_t* row = mem + static_cast<int64_t>(c) * g.bankNum * kHwBankRowSlots;
  for (int32_t b = 0; b < g.bankNum; b++, row += kHwBankRowSlots)
    for (int32_t k = 0; k < g.bitLen; k++) row[k] = src[b * g.bitLen + k];
}

// sum_T of one row: every edge's column block rotated left by V mod Zc (TS 38.212 5.3.2: the
// identity shifted right by V picks bit (z + V) mod Zc for check z), the systematic blocks read
// from the bank, the parity blocks from the core slots.
void rowSum(const int32_t* tbl, int32_t begin, int32_t end, int32_t iLS, int32_t kb, int32_t zc) {
  std::memset(gSum, 0, zc);
  for (int32_t e = begin; e < end; e += kHwEdgeVals) {
    const int32_t col = tbl[e];
    const uint8_t* src = (col < kb ? gCol[col] : gSlot[col - kb]) + tbl[e + 1 + iLS] % zc;
    for (int32_t z = 0; z < zc; z++) gSum[z] ^= src[z];
  }
}

void setSlot(int s, const uint8_t* v, int32_t zc) {
  std::memcpy(gSlot[s], v, zc);
  std::memcpy(gSlot[s] + zc, v, zc);
}

bool checkCore(const LdpcCoreParams* c, const char* who, Geometry* g) {
  bool ok = (c->bgIdx == 0 || c->bgIdx == 1) && c->iLS >= 0 && c->iLS < kLiftSetN;
  if (ok) {
    const int32_t idx = nrLdpcLiftIndex(c->Zc);
    const int32_t kb = c->bgIdx == 0 ? kBg1Cols - kBg1Rows : kBg2Cols - kBg2Rows;
    const int32_t cols = c->bgIdx == 0 ? kBg1Cols : kBg2Cols;
    const int32_t rows = c->bgIdx == 0 ? kBg1Rows : kBg2Rows;
    const int32_t zthr = kHwLiftBase[c->iLS] << kHwLiftThrExp[c->iLS];
    ok = idx >= 0 && nrLdpcLiftSet(idx) == c->iLS && c->Zthr == zthr && c->kb == kb &&
         c->cols == cols && c->rows == rows && c->K == kb * c->Zc && c->N == (cols - 2) * c->Zc &&
         c->extColStart >= kb + kCoreRows && c->extColStart <= c->extColEnd &&
         c->extColEnd <= cols &&
         nrHwBankGeometry(c->Zc, c->Zthr, c->zExpAbove, &g->bitLen, &g->bankNum) &&
         (c->Zc > c->Zthr || c->zExpAbove == 0);
  }
  if (!ok) {
    nrDiag(
        "%s(): base graph %d, set %d, Zc %d, Zthr %d, extension columns %d .. %d describe no "
        "lifted base graph, nothing encoded!\n",
        who, c->bgIdx + 1, c->iLS, c->Zc, c->Zthr, c->extColStart, c->extColEnd);
    return false;
  }
  g->zc = c->Zc;
  return true;
}

}  // namespace

const NrHwEdgeTbl nrHwBgEdgeTbl = buildEdgeTbl();

bool nrHwCellLoadSys(const LdpcCoreParams* core, const int32_t* cbBank, int32_t* cell) {
  Geometry g;
  if (!checkCore(core, "nrHwCellLoadSys", &g)) return false;
  const int64_t rowsPerCol = static_cast<int64_t>(g.bankNum) * kHwBankRowSlots;
  std::memcpy(cell, cbBank + 2 * rowsPerCol, sizeof(int32_t) * (core->kb - 2) * rowsPerCol);
  return true;
}

bool nrHwLdpcEnc(const LdpcCoreParams* core, const int32_t* cbBank, int32_t* cell,
                 int32_t* encFinish) {
  Geometry g;
  if (!checkCore(core, "nrHwLdpcEnc", &g)) return false;
  const int32_t zc = core->Zc;
  const int32_t kb = core->kb;
  const int32_t iLS = core->iLS;
  const int32_t bgIdx = core->bgIdx;
  const NrHwEdgeTbl& t = nrHwBgEdgeTbl;

  for (int32_t c = 0; c < kb; c++) readColumn(cbBank, c, g, gCol[c]);

  // Core stage: rows 0, 3, 1, 2 summed in this order into the slots below; rows 1 and 2 read the
  // sums of rows 0 and 3 through their extra parity-column edge. Afterwards slots 0 and 2 add up
  // to sigma, the sum of the four systematic row sums.
  static constexpr int kRowOrder[kCoreRows] = {0, 3, 1, 2};
  static constexpr int kWrSlot[2][kCoreRows] = {{1, 3, 0, 2}, {1, 3, 2, 0}};
  for (int k = 0; k < kCoreRows; k++) {
    const int32_t r = bgIdx * kCoreRows + kRowOrder[k];
    const int32_t end = r + 1 < 2 * kCoreRows ? t.coreRowOfst[r + 1] : t.coreLen;
    rowSum(t.core, t.coreRowOfst[r], end, iLS, kb, zc);
    setSlot(kWrSlot[bgIdx][k], gSum, zc);
  }

  // The structure of the core parity columns: sigma equals p1 rotated by s (and, for the
  // double-diagonal sets, the unrotated p1 sits one position further right).
  int32_t s = 1;
  bool f = true;
  if (bgIdx == 0 && iLS == 6) {
    s = (zc - 105) % zc;  // sign of the dividend: a negative s rotates right
    f = false;
  } else if (bgIdx == 1 && iLS != 3 && iLS != 7) {
    s = (zc - 1) % zc;
    f = false;
  }
  const int32_t rot = (s % zc + zc) % zc;
  for (int32_t z = 0; z < zc; z++) gSum[z] = gSlot[0][z] ^ gSlot[2][z];
  for (int32_t z = 0; z < zc; z++) gF[z] = gSum[(z + rot) % zc];
  std::memcpy(gF + zc, gF, zc);

  // p1 = f_Zc, rotated right by one for the double-diagonal sets; then p2, p3, p4 = slot ^ f_Zc.
  uint8_t w[kMaxZc];
  for (int32_t z = 0; z < zc; z++) w[z] = f ? gF[z + zc - 1] : gF[z];
  setSlot(0, w, zc);
  writeColumn(cell, kb - 2, g, w);
  for (int c = 1; c < kCoreRows; c++) {
    for (int32_t z = 0; z < zc; z++) w[z] = gSlot[c][z] ^ gF[z];
    setSlot(c, w, zc);
    writeColumn(cell, kb - 2 + c, g, w);
  }

  // Extension stage: each extension parity column is the sum of its row's other edges.
  for (int32_t c = core->extColStart; c < core->extColEnd; c++) {
    const int32_t r = (bgIdx == 0 ? 0 : kHwExtRowsBg1) + c - kb - kCoreRows;
    const int32_t end = r + 1 < kExtRowsAll ? t.extRowOfst[r + 1] : t.extLen;
    rowSum(t.ext, t.extRowOfst[r], end, iLS, kb, zc);
    writeColumn(cell, c - 2, g, gSum);
  }
  *encFinish = 1;
  return true;
}
