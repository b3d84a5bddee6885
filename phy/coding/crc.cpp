#include "phy/coding/crc.h"

#include <cstring>

#include "phy/common/cpu_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#ifdef VELTRA_X86_VARIANTS
#include <immintrin.h>
#include <wmmintrin.h>
#endif

namespace {

// The register of TS 38.212 5.1 shifts towards bit 0 and feeds back at bit 0. The table-driven
// engine runs the same register bit-reversed (first bit in bit 31), so that bytes and words enter
// most significant bit first; the result is reversed back once at the end.
constexpr uint32_t bitReverse32(uint32_t v) {
  uint32_t r = 0;
  for (int i = 0; i < 32; i++) r |= ((v >> i) & 1u) << (31 - i);
  return r;
}

// Slice-by-8 tables: t[k][v] = register after byte v followed by k zero bytes.
struct CrcTables {
  uint32_t t[8][256];
};

constexpr CrcTables makeTables(uint32_t poly) {
  const uint32_t p = bitReverse32(poly);
  CrcTables tab{};
  for (uint32_t v = 0; v < 256; v++) {
    uint32_t r = v << 24;
    for (int b = 0; b < 8; b++) r = (r & 0x80000000u) ? (r << 1) ^ p : r << 1;
    tab.t[0][v] = r;
  }
  for (int k = 1; k < 8; k++)
    for (uint32_t v = 0; v < 256; v++) {
      const uint32_t r = tab.t[k - 1][v];
      tab.t[k][v] = (r << 8) ^ tab.t[0][r >> 24];
    }
  return tab;
}

constexpr CrcTables kTables24A = makeTables(kCrc24APoly);
constexpr CrcTables kTables24B = makeTables(kCrc24BPoly);
constexpr CrcTables kTables16 = makeTables(kCrc16Poly);

const CrcTables& tablesFor(uint8_t crcType) {
  return crcType == kCrc24A ? kTables24A : crcType == kCrc24B ? kTables24B : kTables16;
}

uint32_t polyFor(uint8_t crcType) {
  return crcType == kCrc24A ? kCrc24APoly : crcType == kCrc24B ? kCrc24BPoly : kCrc16Poly;
}

// 32 input bits, the first in bit 31.
inline uint32_t feedWord(const CrcTables& tab, uint32_t r, uint32_t w) {
  r ^= w;
  return tab.t[3][r >> 24] ^ tab.t[2][(r >> 16) & 0xFF] ^ tab.t[1][(r >> 8) & 0xFF] ^
         tab.t[0][r & 0xFF];
}

// 64 input bits, the first in bit 31 of w0: the register meets the first word, and the bytes of
// both words go through the tables at once (the CRC is linear, so their contributions add).
inline uint32_t feedTwoWords(const CrcTables& tab, uint32_t r, uint32_t w0, uint32_t w1) {
  r ^= w0;
  return tab.t[7][r >> 24] ^ tab.t[6][(r >> 16) & 0xFF] ^ tab.t[5][(r >> 8) & 0xFF] ^
         tab.t[4][r & 0xFF] ^ tab.t[3][w1 >> 24] ^ tab.t[2][(w1 >> 16) & 0xFF] ^
         tab.t[1][(w1 >> 8) & 0xFF] ^ tab.t[0][w1 & 0xFF];
}
// The top n (< 32) bits of w, the first in bit 31: whole bytes by table, then bit by bit.
inline uint32_t feedTail(const CrcTables& tab, uint32_t poly, uint32_t r, uint32_t w, int n) {
  for (; n >= 8; n -= 8, w <<= 8) r = (r << 8) ^ tab.t[0][(r ^ w) >> 24];
  const uint32_t p = bitReverse32(poly);
  for (; n > 0; n--, w <<= 1) r = ((r ^ w) & 0x80000000u) ? (r << 1) ^ p : r << 1;
  return r;
}

// TS 38.212 5.1 register, one bit at a time.
inline uint32_t serialStep(uint32_t r, uint32_t bit, uint32_t poly) {
  const uint32_t f = (r & 1u) ^ (bit & 1u);
  r >>= 1;
  return f ? r ^ poly : r;
}

void emitParity(int8_t* parityOut, uint32_t r, int8_t L) {
  for (int j = 0; j < L; j++) parityOut[j] = static_cast<int8_t>(j < 32 ? (r >> j) & 1u : 0);
}

// Full generator polynomials, bit i = coefficient of D^i, and their degrees; by nrCrcGenPoly code.
struct GenPoly {
  uint32_t poly;
  int32_t len;
};
constexpr GenPoly kGenPolys[] = {
    {0x19B, 8},       // CRC8: D^8+D^7+D^4+D^3+D+1
    {0x11021, 16},    // CRC16
    {0x1864CFB, 24},  // CRC24A
    {0x1800063, 24},  // CRC24B
    {0x61, 6},        // CRC6: D^6+D^5+1
    {0xE21, 11},      // CRC11: D^11+D^10+D^9+D^5+1
    {0x1B2B117, 24},  // CRC24C
};
constexpr int32_t kGenPolyCount = sizeof(kGenPolys) / sizeof(kGenPolys[0]);
constexpr int32_t kMaxCrcLen = 24;

// nrCrcAttach selectors (family, index) -> nrCrcGenPoly code.
constexpr int32_t kAttachCode[3][2] = {{4, 5}, {2, 3}, {1, 6}};

// CRC24C coefficients of D^23 .. D^0 for the long division.
constexpr int8_t Generator_Poly[24] = {1, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 1,
                                       0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 1};

}  // namespace

namespace crc_detail {

uint32_t packBitsPlain(const int32_t* bits) {
  uint32_t w = 0;
  for (int i = 0; i < 32; i++) w = (w << 1) | (static_cast<uint32_t>(bits[i]) & 1u);
  return w;
}

#if defined(__SSE2__)
uint32_t packBitsSse2(const int32_t* bits) {
  // Lanes reversed so that the byte mask puts the first element of each group highest.
  const __m128i one = _mm_set1_epi32(1);
  __m128i v[8];
  for (int k = 0; k < 8; k++)
    v[k] = _mm_shuffle_epi32(
        _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(bits + 4 * k)), one),
        _MM_SHUFFLE(0, 1, 2, 3));
  // Saturating packs keep 0/1; a left shift by 7 moves each byte's bit into its sign bit.
  const __m128i hi = _mm_packs_epi16(_mm_packs_epi32(v[3], v[2]), _mm_packs_epi32(v[1], v[0]));
  const __m128i lo = _mm_packs_epi16(_mm_packs_epi32(v[7], v[6]), _mm_packs_epi32(v[5], v[4]));
  const uint32_t h = static_cast<uint32_t>(_mm_movemask_epi8(_mm_slli_epi16(hi, 7)));
  const uint32_t l = static_cast<uint32_t>(_mm_movemask_epi8(_mm_slli_epi16(lo, 7)));
  return (h << 16) | l;
}
#endif

#ifdef VELTRA_X86_VARIANTS
namespace {
VELTRA_TARGET_AVX2 uint32_t packBitsAvx2Impl(const int32_t* bits) {
  // Each group of eight elements, lanes reversed, to a byte whose top bit is the first element.
  const __m256i reverse = _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0);
  uint32_t w = 0;
  for (int g = 0; g < 4; g++) {
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(bits + 8 * g));
    const __m256i top = _mm256_slli_epi32(_mm256_permutevar8x32_epi32(v, reverse), 31);
    w = (w << 8) | static_cast<uint32_t>(_mm256_movemask_ps(_mm256_castsi256_ps(top)));
  }
  return w;
}
}  // namespace
const PackBitsFn packBitsAvx2 = packBitsAvx2Impl;
#else
const PackBitsFn packBitsAvx2 = nullptr;
#endif

}  // namespace crc_detail

namespace {

// SSE2 is part of every x86-64 target; elsewhere the plain loop is the baseline.
#if defined(__SSE2__)
constexpr crc_detail::PackBitsFn kPackBitsBaseline = crc_detail::packBitsSse2;
#else
constexpr crc_detail::PackBitsFn kPackBitsBaseline = crc_detail::packBitsPlain;
#endif

}  // namespace

uint32_t nrCrcCalc(const int32_t* bits, uint8_t crcType, int32_t count) {
  if (count <= 0) return 0;
  const CrcTables& tab = tablesFor(crcType);
  const crc_detail::PackBitsFn kTable[kNrCpuLevels] = {kPackBitsBaseline, crc_detail::packBitsAvx2,
                                                       nullptr};
  const crc_detail::PackBitsFn packBits = nrCpuPick(kTable);
  uint32_t r = 0;
  int32_t i = 0;
  for (; i + 32 <= count; i += 32) r = feedWord(tab, r, packBits(bits + i));
  if (i < count) {
    uint32_t w = 0;
    for (int32_t k = 0; k < count - i; k++)
      w |= (static_cast<uint32_t>(bits[i + k]) & 1u) << (31 - k);
    r = feedTail(tab, polyFor(crcType), r, w, count - i);
  }
  return bitReverse32(r);
}

namespace {

uint32_t packedPlain(const uint32_t* words, uint8_t crcType, int32_t count) {
  const CrcTables& tab = tablesFor(crcType);
  uint32_t r = 0;
  const int32_t full = count / 32;
  int32_t k = 0;
  for (; k + 2 <= full; k += 2) r = feedTwoWords(tab, r, words[k], words[k + 1]);
  for (; k < full; k++) r = feedWord(tab, r, words[k]);
  if (count % 32) r = feedTail(tab, polyFor(crcType), r, words[full], count % 32);
  return r;
}

#ifdef VELTRA_X86_VARIANTS
// x^n modulo the 32-bit register polynomial x^32 + p (p as the table engine holds it).
constexpr uint32_t xPowMod(uint32_t p, int n) {
  uint32_t r = 1;
  for (int i = 0; i < n; i++) r = (r & 0x80000000u) ? (r << 1) ^ p : r << 1;
  return r;
}

// Folding constants x^128 and x^192 per CRC type (24A, 24B, 16).
struct FoldConsts {
  uint64_t k128, k192;  // one block ahead
  uint64_t k512, k576;  // four blocks ahead
};
constexpr FoldConsts foldConsts(uint32_t poly) {
  return {xPowMod(bitReverse32(poly), 128), xPowMod(bitReverse32(poly), 192),
          xPowMod(bitReverse32(poly), 512), xPowMod(bitReverse32(poly), 576)};
}
constexpr FoldConsts kFold[3] = {foldConsts(kCrc24APoly), foldConsts(kCrc24BPoly),
                                 foldConsts(kCrc16Poly)};

// Whole 128-bit blocks folded with carry-less products: X x^128 = H x^192 + L x^128 is reduced
// to H (x^192 mod G) + L (x^128 mod G), 96 bits, before the next block is added (four blocks
// ahead the same with x^576 and x^512); X stays
// congruent to the message so far, and its four words through the table engine give the register.
#define VELTRA_TARGET_CLMUL __attribute__((target("avx2,bmi,bmi2,popcnt,pclmul")))
// x times x^(128 m) reduced (m = 1 or 4, by the constants c), plus b.
[[gnu::always_inline]] VELTRA_TARGET_CLMUL inline __m128i fold(__m128i x, __m128i c, __m128i b) {
  return _mm_xor_si128(
      _mm_xor_si128(_mm_clmulepi64_si128(x, c, 0x11), _mm_clmulepi64_si128(x, c, 0x00)), b);
}

VELTRA_TARGET_CLMUL uint32_t packedClmul(const uint32_t* words, uint8_t crcType, int32_t count) {
  const CrcTables& tab = tablesFor(crcType);
  const int32_t full = count / 32;
  uint32_t r = 0;
  int32_t k = 0;
  if (full >= 8) {
    const FoldConsts& f = kFold[crcType == kCrc24A ? 0 : crcType == kCrc24B ? 1 : 2];
    const __m128i kf = _mm_set_epi64x(static_cast<int64_t>(f.k192), static_cast<int64_t>(f.k128));
    // Four words, the first the most significant.
    auto load = [words](int32_t at) {
      return _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(words + at)),
                               _MM_SHUFFLE(0, 1, 2, 3));
    };
    __m128i x = load(0);
    k = 4;
    if (full >= 32) {
      // Four chains of every fourth block hide the product latency, then join one by one.
      const __m128i k4 = _mm_set_epi64x(static_cast<int64_t>(f.k576), static_cast<int64_t>(f.k512));
      __m128i x1 = load(4), x2 = load(8), x3 = load(12);
      for (k = 16; k + 16 <= full; k += 16) {
        x = fold(x, k4, load(k));
        x1 = fold(x1, k4, load(k + 4));
        x2 = fold(x2, k4, load(k + 8));
        x3 = fold(x3, k4, load(k + 12));
      }
      x = fold(fold(fold(x, kf, x1), kf, x2), kf, x3);
    }
    for (; k + 4 <= full; k += 4) x = fold(x, kf, load(k));
    alignas(16) uint32_t lanes[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), x);
    for (int j = 3; j >= 0; j--) r = feedWord(tab, r, lanes[j]);
  }
  for (; k < full; k++) r = feedWord(tab, r, words[k]);
  if (count % 32) r = feedTail(tab, polyFor(crcType), r, words[full], count % 32);
  return r;
}
#endif

using PackedFn = uint32_t (*)(const uint32_t*, uint8_t, int32_t);

PackedFn pickPacked() {
#ifdef VELTRA_X86_VARIANTS
  // Every AVX2 processor has the carry-less multiply; checked all the same.
  static const bool clmul = __builtin_cpu_supports("pclmul");
  const PackedFn table[kNrCpuLevels] = {packedPlain, clmul ? packedClmul : nullptr, nullptr};
#else
  const PackedFn table[kNrCpuLevels] = {packedPlain, nullptr, nullptr};
#endif
  return nrCpuPick(table);
}

}  // namespace

uint32_t nrCrcCalcPacked(const uint32_t* words, uint8_t crcType, int32_t count) {
  if (count <= 0) return 0;
  return bitReverse32(pickPacked()(words, crcType, count));
}

void nrCrcCalcDci(int8_t* parityOut, const int8_t* bits, int8_t L, uint32_t poly, uint16_t count) {
  uint32_t r = 0;
  for (int i = 0; i < kCrc24Len; i++) r = serialStep(r, 1, poly);  // TS 38.212 7.3.2 preload
  for (int i = 0; i < count; i++) r = serialStep(r, static_cast<uint32_t>(bits[i]), poly);
  emitParity(parityOut, r, L);
}

void nrCrcCalcPoly(int8_t* parityOut, const int8_t* bits, int8_t L, uint32_t poly, uint16_t count) {
  uint32_t r = 0;
  for (int i = 0; i < count; i++) r = serialStep(r, static_cast<uint32_t>(bits[i]), poly);
  emitParity(parityOut, r, L);
}

void nrCrc24cDivide(const int8_t* src, uint16_t len, int8_t* dst) {
  // Long division of src(D) D^24 by g_CRC24C(D). win[k] is dividend position i + k; positions
  // before i are already reduced, positions beyond len are the 24 appended zeros.
  int8_t win[kCrc24Len + 1];
  for (int k = 0; k <= kCrc24Len; k++) win[k] = k < len ? src[k] : 0;
  for (int i = 0; i < len; i++) {
    if (win[0] == 1)
      for (int p = 0; p < kCrc24Len; p++)
        win[1 + p] = static_cast<int8_t>((win[1 + p] + Generator_Poly[p]) & 1);
    std::memmove(win, win + 1, kCrc24Len);
    win[kCrc24Len] = i + 1 + kCrc24Len < len ? src[i + 1 + kCrc24Len] : 0;
  }
  if (len > 0) std::memmove(dst, src, len);
  std::memcpy(dst + len, win, kCrc24Len);
}

int32_t nrCrcGenPoly(int32_t code, int8_t* coeffs) {
  if (code < 0 || code >= kGenPolyCount) return 0;
  const GenPoly g = kGenPolys[code];
  for (int32_t j = 0; j < g.len; j++)
    coeffs[j] = static_cast<int8_t>((g.poly >> (g.len - 1 - j)) & 1u);
  return g.len;
}

uint32_t nrCrcAttach(const int32_t* in, int32_t* out, int32_t family, int32_t index,
                     int32_t count) {
  if (family < 0 || family > 2 || index < 0 || index > 1 || count < 0) return 0;
  int8_t coeffs[kMaxCrcLen];
  const int32_t L = nrCrcGenPoly(kAttachCode[family][index], coeffs);
  // Long division of the message followed by L zeros; reg[0] ends as p_0.
  int8_t reg[kMaxCrcLen] = {};
  for (int64_t i = 0; i < static_cast<int64_t>(count) + L; i++) {
    const int8_t t = reg[0];
    std::memmove(reg, reg + 1, L - 1);
    reg[L - 1] = i < count ? static_cast<int8_t>(in[i] & 1) : 0;
    if (t == 1)
      for (int32_t j = 0; j < L; j++) reg[j] ^= coeffs[j];
  }
  if (count > 0) std::memmove(out, in, static_cast<size_t>(count) * sizeof(int32_t));
  for (int32_t j = 0; j < L; j++) out[count + j] = reg[j];
  return static_cast<uint32_t>(count + L);
}
