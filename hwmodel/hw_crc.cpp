#include "hwmodel/hw_crc.h"

#include <bit>
#include <cstring>

#include "config/console.h"
#include "phy/coding/crc.h"

namespace {

// ---- T_e matrices from the generator polynomials ----------------------------------------------

// crc.h holds each generator without its leading term, bit-reversed; here bit k is the coefficient
// of x^k.
constexpr uint32_t lowTerms(uint32_t reversed, int n) {
  uint32_t g = 0;
  for (int k = 0; k < n; k++) g |= ((reversed >> k) & 1u) << (n - 1 - k);
  return g;
}

// x^e mod g(x), bit k = coefficient of x^k.
constexpr uint32_t xPowMod(int e, uint32_t g, int n) {
  uint32_t r = 1;
  for (int i = 0; i < e; i++) {
    const bool carry = (r >> (n - 1)) & 1u;
    r = (r << 1) & ((1u << n) - 1);
    if (carry) r ^= g;
  }
  return r;
}

// Row words of T_e: column j is x^(n-1-j) * x^e mod g; entry (i, j) goes to bit n-1-j of row i.
template <int N>
struct Mat {
  uint32_t row[N];
};

template <int N>
constexpr Mat<N> makeMat(int e, uint32_t reversedPoly) {
  const uint32_t g = lowTerms(reversedPoly, N);
  Mat<N> m{};
  for (int j = 0; j < N; j++) {
    const uint32_t col = xPowMod(N - 1 - j + e, g, N);
    for (int i = 0; i < N; i++)
      if ((col >> (N - 1 - i)) & 1u) m.row[i] |= 1u << (N - 1 - j);
  }
  return m;
}

template <int N, int M>
struct MatSet {
  uint32_t t[M][N];
};

template <int N, int M>
constexpr MatSet<N, M> makeSet(const int (&exps)[M], uint32_t reversedPoly) {
  MatSet<N, M> s{};
  for (int k = 0; k < M; k++) {
    const Mat<N> m = makeMat<N>(exps[k], reversedPoly);
    for (int i = 0; i < N; i++) s.t[k][i] = m.row[i];
  }
  return s;
}

// A 64-bit word enters as a x^40 + b x^16 + c (24-bit codes) or a x^48 + b x^32 + c x^16 + d
// (CRC16): the register is advanced by T_64 and each part reduced by the matrix of its weight.
constexpr int kExps24[3] = {64, 40, 16};
constexpr int kExps16[4] = {64, 48, 32, 16};
constexpr MatSet<16, 4> kMat16 = makeSet<16, 4>(kExps16, kCrc16Poly);
constexpr MatSet<24, 3> kMat24A = makeSet<24, 3>(kExps24, kCrc24APoly);
constexpr MatSet<24, 3> kMat24B = makeSet<24, 3>(kExps24, kCrc24BPoly);

// GF(2) product of an n x n row-word matrix with v (element j in bit n-1-j).
inline uint32_t matVec(const uint32_t* rows, int n, uint32_t v) {
  uint32_t out = 0;
  for (int i = 0; i < n; i++)
    out |= static_cast<uint32_t>(std::popcount(rows[i] & v) & 1) << (n - 1 - i);
  return out;
}

// ---- Bank rows ---------------------------------------------------------------------------------

constexpr int64_t kWordBits = 64;

// Where a record's code block lives in the bank memory.
struct Bank {
  int32_t bitLen;  // bits per bank row
  int32_t K;       // code block bits with fillers
  int32_t Kp;      // payload and CRC bits
};

// The staging row of the bank writer: process-wide like the accelerator's, its first bitOfst
// slots hold the bits of the row being assembled between calls.
int32_t gStage[kHwBankRowSlots];

Bank bankOf(const LdpcCoreParams& core) {
  Bank b{};
  int32_t rows = 0;
  nrHwBankGeometry(core.Zc, core.Zthr, core.zExpAbove, &b.bitLen, &rows);
  b.K = core.K;
  b.Kp = core.Kp;
  return b;
}

void bankWrite(const Bank& b, const int32_t* bits, int32_t count, bool flush, int32_t* wrAddr,
               int32_t* bitOfst, int32_t* cbBank) {
  int32_t ofst = *bitOfst;
  int32_t addr = *wrAddr;
  while (count > 0) {
    const int32_t n = count < b.bitLen - ofst ? count : b.bitLen - ofst;
    for (int32_t k = 0; k < n; k++) gStage[ofst + k] = bits[k] & 1;
    ofst += n;
    bits += n;
    count -= n;
    if (ofst == b.bitLen) {
      std::memcpy(cbBank + static_cast<int64_t>(addr) * kHwBankRowSlots, gStage,
                  sizeof(int32_t) * b.bitLen);
      addr++;
      ofst = 0;
    }
  }
  // A partial row goes to memory as it stands; the next write completes it in place.
  if (flush && ofst > 0)
    std::memcpy(cbBank + static_cast<int64_t>(addr) * kHwBankRowSlots, gStage,
                sizeof(int32_t) * ofst);
  *wrAddr = addr;
  *bitOfst = ofst;
}

void bankFill(const Bank& b, int32_t* wrAddr, int32_t* bitOfst, int32_t* cbBank) {
  // Reload the partial row and write it again, followed by the filler zeros.
  int32_t row[kHwBankRowSlots];
  const int32_t partial = *bitOfst;
  std::memcpy(row, cbBank + static_cast<int64_t>(*wrAddr) * kHwBankRowSlots,
              sizeof(int32_t) * partial);
  *bitOfst = 0;
  bankWrite(b, row, partial, false, wrAddr, bitOfst, cbBank);
  static const int32_t kZeros[kHwBankRowSlots] = {};
  for (int32_t left = b.K - b.Kp; left > 0; left -= kHwBankRowSlots) {
    const int32_t n = left < kHwBankRowSlots ? left : kHwBankRowSlots;
    bankWrite(b, kZeros, n, false, wrAddr, bitOfst, cbBank);
  }
  bankWrite(b, kZeros, 0, true, wrAddr, bitOfst, cbBank);
}

// Whether count more bits fit the code block from (*wrAddr, *bitOfst) on.
bool bankRoom(const Bank& b, const char* who, int32_t count, const int32_t* wrAddr,
              const int32_t* bitOfst) {
  const int64_t at = static_cast<int64_t>(*wrAddr) * b.bitLen + *bitOfst;
  if (count < 0 || *wrAddr < 0 || *bitOfst < 0 || *bitOfst >= b.bitLen || at + count > b.K) {
    nrDiag("%s(): %d bits at row %d, bit %d leave the code block of %d bits, nothing written!\n",
           who, count, *wrAddr, *bitOfst, b.K);
    return false;
  }
  return true;
}

// Bits first .. first+63 of data (0 at and beyond len), the first in bit 63.
uint64_t rawWord(const int32_t* data, int64_t first, int64_t len) {
  uint64_t w = 0;
  const int64_t end = first + kWordBits < len ? first + kWordBits : len;
  for (int64_t k = first; k < end; k++)
    w |= static_cast<uint64_t>(data[k] & 1) << (kWordBits - 1 - (k - first));
  return w;
}

// One pass of a checked record: the n-bit CRC (matrices mats) over len data bits, writing the
// code block to cbBank when given.
void crcPass(const Bank& b, int32_t n, const uint32_t* mats, const int32_t* data, int64_t len,
             int32_t* crcOut, int32_t* cbBank) {
  // The stream is z zeros, the data and n zeros (the augmentation that leaves the parity in the
  // register), z making its length a multiple of 64: leading zeros do not change the remainder.
  const int64_t z = (kWordBits - (len + n) % kWordBits) % kWordBits;
  const int64_t words = (len + n + z) / kWordBits;
  uint32_t s = 0;
  uint64_t carry = 0;  // the last z bits of the previous raw word
  int32_t wrAddr = 0;
  int32_t bitOfst = 0;
  for (int64_t t = 0; t < words; t++) {
    const uint64_t raw = rawWord(data, t * kWordBits, len);
    const uint64_t aligned = z == 0 ? raw : carry << (kWordBits - z) | raw >> z;
    carry = z == 0 ? 0 : raw & ((uint64_t{1} << z) - 1);
    s = nrHwCrcStep(n, mats, aligned, s);
    if (!cbBank) continue;
    // The raw data bits of this word, then after the last word the parity, flushed.
    const int64_t dataBits = len - t * kWordBits;
    const int32_t count = static_cast<int32_t>(dataBits <= 0          ? 0
                                               : dataBits > kWordBits ? kWordBits
                                                                      : dataBits);
    bankWrite(b, data + t * kWordBits, count, false, &wrAddr, &bitOfst, cbBank);
    if (t == words - 1) {
      int32_t parity[kHwCrcOutLen];
      for (int32_t i = 0; i < n; i++) parity[i] = static_cast<int32_t>((s >> (n - 1 - i)) & 1u);
      bankWrite(b, parity, n, true, &wrAddr, &bitOfst, cbBank);
    }
  }
  if (cbBank) bankFill(b, &wrAddr, &bitOfst, cbBank);
  for (int32_t i = 0; i < n; i++) crcOut[i] = static_cast<int32_t>((s >> (n - 1 - i)) & 1u);
}

// Length, width and matrices of a pass of a checked record.
struct Pass {
  int64_t len;
  int32_t n;
  const uint32_t* mats;
  bool bank;
};

Pass passOf(const NrHwCwParams* r, int32_t mode) {
  if (mode == kHwCrcModeCb) return {r->infoLen, kCrc24Len, &gnrHwCrc24BMat[0][0], true};
  const int32_t n = r->tbCrc24 ? kCrc24Len : kCrc16Len;
  const uint32_t* mats = r->tbCrc24 ? &gnrHwCrc24AMat[0][0] : &gnrHwCrc16Mat[0][0];
  if (r->cbNum == 1) return {r->infoLen, n, mats, true};
  return {static_cast<int64_t>(r->infoLen) * r->cbNum - n, n, mats, false};
}

bool checkedBank(const NrHwCwParams* record, const char* who, Bank* b) {
  LdpcCoreParams core;
  if (!nrHwCwParamsCheck(record, who) || !nrHwCoreParamCalc(record, &core)) return false;
  *b = bankOf(core);
  return true;
}

}  // namespace

const uint32_t (&gnrHwCrc16Mat)[4][16] = kMat16.t;
const uint32_t (&gnrHwCrc24AMat)[3][24] = kMat24A.t;
const uint32_t (&gnrHwCrc24BMat)[3][24] = kMat24B.t;

uint32_t nrHwCrcStep(int32_t n, const uint32_t* matrices, uint64_t word, uint32_t state) {
  if (n == kCrc24Len) {
    const uint32_t a = static_cast<uint32_t>(word >> 40) & 0xFFFFFFu;
    const uint32_t b = static_cast<uint32_t>(word >> 16) & 0xFFFFFFu;
    const uint32_t c = static_cast<uint32_t>(word) & 0xFFFFu;
    return matVec(matrices, n, state) ^ matVec(matrices + n, n, a) ^
           matVec(matrices + 2 * n, n, b) ^ c;
  }
  const uint32_t a = static_cast<uint32_t>(word >> 48) & 0xFFFFu;
  const uint32_t b = static_cast<uint32_t>(word >> 32) & 0xFFFFu;
  const uint32_t c = static_cast<uint32_t>(word >> 16) & 0xFFFFu;
  const uint32_t d = static_cast<uint32_t>(word) & 0xFFFFu;
  return matVec(matrices, n, state) ^ matVec(matrices + n, n, a) ^ matVec(matrices + 2 * n, n, b) ^
         matVec(matrices + 3 * n, n, c) ^ d;
}

bool nrHwCrcRun(const NrHwCwParams* record, int32_t mode, const int32_t* data, int32_t* crcOut,
                int32_t* cbBank) {
  static const char* const kWho = "nrHwCrcRun";
  if (mode != kHwCrcModeTb && mode != kHwCrcModeCb) {
    nrDiag("%s(): mode %d is neither 0 (transport block) nor 1 (code block), nothing run!\n", kWho,
           mode);
    return false;
  }
  Bank b;
  if (!checkedBank(record, kWho, &b)) return false;
  const Pass p = passOf(record, mode);
  crcPass(b, p.n, p.mats, data, p.len, crcOut, p.bank ? cbBank : nullptr);
  return true;
}

bool nrHwCrcCb(const NrHwCwParams* record, int32_t r, int32_t* payload, int32_t* crcOut,
               int32_t* cbBank) {
  static const char* const kWho = "nrHwCrcCb";
  Bank b;
  if (!checkedBank(record, kWho, &b)) return false;
  const int32_t C = record->cbNum;
  if (r < 0 || r >= C) {
    nrDiag("%s(): code block %d outside 0 .. %d, nothing run!\n", kWho, r, C - 1);
    return false;
  }
  if (r == C - 1) {
    const Pass tb = passOf(record, kHwCrcModeTb);
    crcPass(b, tb.n, tb.mats, payload, tb.len, crcOut, tb.bank ? cbBank : nullptr);
    if (C < 2) return true;
    // TS 38.212 5.2.2: the transport-block CRC ends the last code block's payload.
    std::memcpy(payload + tb.len, crcOut, sizeof(int32_t) * tb.n);
  }
  const Pass cb = passOf(record, kHwCrcModeCb);
  crcPass(b, cb.n, cb.mats, payload + static_cast<int64_t>(r) * record->infoLen, cb.len, crcOut,
          cbBank);
  return true;
}

bool nrHwBankWrite(const NrHwCwParams* record, const int32_t* bits, int32_t count, bool flush,
                   int32_t* wrAddr, int32_t* bitOfst, int32_t* cbBank) {
  static const char* const kWho = "nrHwBankWrite";
  Bank b;
  if (!checkedBank(record, kWho, &b) || !bankRoom(b, kWho, count, wrAddr, bitOfst)) return false;
  bankWrite(b, bits, count, flush, wrAddr, bitOfst, cbBank);
  return true;
}

bool nrHwBankFill(const NrHwCwParams* record, int32_t* wrAddr, int32_t* bitOfst, int32_t* cbBank) {
  static const char* const kWho = "nrHwBankFill";
  Bank b;
  if (!checkedBank(record, kWho, &b) || !bankRoom(b, kWho, b.K - b.Kp, wrAddr, bitOfst))
    return false;
  bankFill(b, wrAddr, bitOfst, cbBank);
  return true;
}
