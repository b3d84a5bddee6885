#include "phy/common/sequence.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>
#ifdef __x86_64__
#include <immintrin.h>
#endif

#include "config/console.h"
#include "phy/common/cpu_features.h"

int8_t gnrSeqBuf[kSeqBufSize];
int8_t gnrPnState[32];

#include "phy/common/ssb_mseq.inc"

namespace {

constexpr uint32_t kGoldNc = 1600;  // TS 38.211 5.2.1: N_C
constexpr uint32_t kPnOrder = 9;

// Both Gold m-sequences are generated 64 bits at a time. A sequence with characteristic
// polynomial p(D) also satisfies p(D)^4, which over GF(2) is p with every exponent multiplied
// by 4:
//   x1: D^31 + D^3 + 1             -> x1(m) = x1(m-112) + x1(m-124)
//   x2: D^31 + D^3 + D^2 + D + 1   -> x2(m) = x2(m-112) + x2(m-116) + x2(m-120) + x2(m-124)
// so word k (bits 64k .. 64k+63) depends only on words k-2 and k-1.
struct GoldRegs {
  uint64_t x1[2];  // words k and k+1 of x1, bit j of word k = x1(64k + j)
  uint64_t x2[2];
};

// The bits of the 128-bit value (hi:lo) from bit s on, 0 < s < 64.
inline uint64_t window(uint64_t lo, uint64_t hi, unsigned s) {
  return (lo >> s) | (hi << (64 - s));
}

// Registers at word 0: x1(0) = 1, x2(0..30) = cInit bits 0..30, bits 31..127 by TS 38.211 5.2.1.
GoldRegs goldStart(uint32_t cInit) {
  uint64_t x1[2] = {1, 0};
  uint64_t x2[2] = {cInit & 0x7FFFFFFFu, 0};
  auto bit = [](const uint64_t* x, unsigned n) { return (x[n >> 6] >> (n & 63)) & 1; };
  for (unsigned m = 31; m < 128; m++) {
    const uint64_t b1 = bit(x1, m - 28) ^ bit(x1, m - 31);
    const uint64_t b2 = bit(x2, m - 28) ^ bit(x2, m - 29) ^ bit(x2, m - 30) ^ bit(x2, m - 31);
    x1[m >> 6] |= b1 << (m & 63);
    x2[m >> 6] |= b2 << (m & 63);
  }
  return GoldRegs{{x1[0], x1[1]}, {x2[0], x2[1]}};
}

// Returns word k of x1 xor x2 and advances the registers to word k + 1.
inline uint64_t goldNextWord(GoldRegs* g) {
  const uint64_t a1 = g->x1[0], b1 = g->x1[1];
  const uint64_t a2 = g->x2[0], b2 = g->x2[1];
  const uint64_t n1 = window(a1, b1, 16) ^ window(a1, b1, 4);
  const uint64_t n2 =
      window(a2, b2, 16) ^ window(a2, b2, 12) ^ window(a2, b2, 8) ^ window(a2, b2, 4);
  g->x1[0] = b1;
  g->x1[1] = n1;
  g->x2[0] = b2;
  g->x2[1] = n2;
  return a1 ^ a2;
}

// c(n), c(n+1), ... 64 bits per word (bit j of a word = c(first + j)), from any first index.
struct GoldStream {
  GoldRegs regs;
  uint64_t cur;
  unsigned shift;
};

GoldStream goldStreamStart(uint32_t cInit, uint32_t first) {
  GoldStream s;
  s.regs = goldStart(cInit);
  const uint32_t pos = first + kGoldNc;
  for (uint32_t k = 0; k < pos / 64; k++) goldNextWord(&s.regs);
  s.shift = pos % 64;
  s.cur = goldNextWord(&s.regs);
  return s;
}

inline uint64_t goldStreamNext(GoldStream* s) {
  const uint64_t next = goldNextWord(&s->regs);
  const uint64_t out = s->shift ? window(s->cur, next, s->shift) : s->cur;
  s->cur = next;
  return out;
}

// Per byte of sequence bits, 8 output bytes (first bit in the lowest byte) in one of three forms.
enum class ByteForm { kBits, kBipolar, kMask };

constexpr std::array<uint64_t, 256> makeByteExpand(ByteForm form) {
  std::array<uint64_t, 256> t{};
  for (unsigned v = 0; v < 256; v++) {
    uint64_t w = 0;
    for (unsigned j = 0; j < 8; j++) {
      const unsigned b = (v >> j) & 1;
      const uint64_t byte = form == ByteForm::kBits      ? b
                            : form == ByteForm::kBipolar ? (b ? 0xFF : 1)
                                                         : (b ? 0xFF : 0);
      w |= byte << (8 * j);
    }
    t[v] = w;
  }
  return t;
}

constexpr auto kExpandBits = makeByteExpand(ByteForm::kBits);
constexpr auto kExpandBipolar = makeByteExpand(ByteForm::kBipolar);
constexpr auto kExpandMask = makeByteExpand(ByteForm::kMask);

// Writes the first n (n <= 64) bits of w to dst, one byte each in the form of table t.
inline void expandWord(int8_t* dst, uint64_t w, uint32_t n, const std::array<uint64_t, 256>& t) {
  int8_t tmp[64];
  int8_t* out = n == 64 ? dst : tmp;
  for (unsigned b = 0; b < 8; b++) {
    const uint64_t v = t[(w >> (8 * b)) & 0xFF];
    std::memcpy(out + 8 * b, &v, 8);
  }
  if (out != dst) std::memcpy(dst, tmp, n);
}

// x * (1 - 2c) for c in the mask m (0 or all ones): (x ^ m) - m, wrapping in the element width.
template <typename T, typename U>
void scramble(const T* src, T* dst, int32_t count, int32_t cInit) {
  if (count <= 0) return;
  GoldStream s = goldStreamStart(static_cast<uint32_t>(cInit), 0);
  for (int32_t j0 = 0; j0 < count; j0 += 64) {
    const uint64_t w = goldStreamNext(&s);
    const int32_t n = count - j0 < 64 ? count - j0 : 64;
    int8_t mask[64];
    expandWord(mask, w, 64, kExpandMask);
    for (int32_t j = 0; j < n; j++) {
      const U m = static_cast<U>(static_cast<T>(mask[j]));
      dst[j0 + j] = static_cast<T>(static_cast<U>((static_cast<U>(src[j0 + j]) ^ m) - m));
    }
  }
}

// One 32-bit element (0/1) per bit of w, bit 0 first, 8 elements per table entry.
constexpr std::array<std::array<int32_t, 8>, 256> makeBitsToWords() {
  std::array<std::array<int32_t, 8>, 256> t{};
  for (unsigned v = 0; v < 256; v++)
    for (unsigned j = 0; j < 8; j++) t[v][j] = static_cast<int32_t>((v >> j) & 1);
  return t;
}

constexpr auto kBitsToWords = makeBitsToWords();

inline void unpackWord(int32_t* out, uint32_t w) {
  for (unsigned b = 0; b < 4; b++)
    std::memcpy(out + 8 * b, kBitsToWords[(w >> (8 * b)) & 0xFF].data(), 32);
}

bool scrambleShortExactPlain(const int16_t* src, int16_t* dst, int32_t count, int32_t cInit) {
  GoldStream s = goldStreamStart(static_cast<uint32_t>(cInit), 0);
  // Lanes where -32768 was negated: the only product that wraps in 16 bits, and then the only
  // one that comes out as -32768 with the mask set.
  uint16_t wrapped = 0;
  for (int32_t j0 = 0; j0 < count; j0 += 64) {
    const uint64_t w = goldStreamNext(&s);
    const int32_t n = count - j0 < 64 ? count - j0 : 64;
    int8_t mask[64];
    expandWord(mask, w, 64, kExpandMask);
    for (int32_t j = 0; j < n; j++) {
      const uint16_t m = static_cast<uint16_t>(static_cast<int16_t>(mask[j]));
      const uint16_t d = static_cast<uint16_t>((static_cast<uint16_t>(src[j0 + j]) ^ m) - m);
      wrapped |= static_cast<uint16_t>(d == 0x8000u ? m : 0u);
      dst[j0 + j] = static_cast<int16_t>(d);
    }
  }
  return wrapped == 0;
}

#ifdef VELTRA_X86_VARIANTS
// The same 32 lanes a step: the sequence bits are the lane mask of a masked negation.
VELTRA_TARGET_AVX512 bool scrambleShortExactAvx512(const int16_t* src, int16_t* dst, int32_t count,
                                                   int32_t cInit) {
  GoldStream s = goldStreamStart(static_cast<uint32_t>(cInit), 0);
  const __m512i zero = _mm512_setzero_si512();
  const __m512i lowest = _mm512_set1_epi16(INT16_MIN);
  uint32_t wrapped = 0;
  for (int32_t j0 = 0; j0 < count; j0 += 64) {
    const uint64_t w = goldStreamNext(&s);
    for (int32_t h = 0; h < 2 && j0 + 32 * h < count; h++) {
      const int32_t at = j0 + 32 * h;
      const int32_t n = count - at < 32 ? count - at : 32;
      const __mmask32 live = _cvtu32_mask32(n == 32 ? ~0u : (1u << n) - 1);
      const __mmask32 neg =
          _kand_mask32(live, _cvtu32_mask32(static_cast<uint32_t>(w >> (32 * h))));
      const __m512i x = _mm512_maskz_loadu_epi16(live, src + at);
      wrapped |= _cvtmask32_u32(_mm512_mask_cmpeq_epi16_mask(neg, x, lowest));
      _mm512_mask_storeu_epi16(dst + at, live, _mm512_mask_sub_epi16(x, neg, zero, x));
    }
  }
  return wrapped == 0;
}
using ScrambleShortExactFn = bool (*)(const int16_t*, int16_t*, int32_t, int32_t);
constexpr ScrambleShortExactFn kScrambleShortExactFns[kNrCpuLevels] = {
    scrambleShortExactPlain, nullptr, scrambleShortExactAvx512};
#else
using ScrambleShortExactFn = bool (*)(const int16_t*, int16_t*, int32_t, int32_t);
constexpr ScrambleShortExactFn kScrambleShortExactFns[kNrCpuLevels] = {scrambleShortExactPlain,
                                                                       nullptr, nullptr};
#endif

}  // namespace

uint32_t nrGoldSeqGen(int32_t cInit, uint32_t count, int8_t form, uint16_t offset) {
  // The sequence buffer holds kGoldSeqLimit values, the sequence is defined up to that index.
  if (static_cast<uint64_t>(offset) + count > kGoldSeqLimit) return 0;
  const auto& table = form == 1 ? kExpandBipolar : kExpandBits;
  int8_t* out = gnrSeqBuf + kSeqBufGoldOffset;
  if (count == 0) return 0;
  GoldStream s = goldStreamStart(static_cast<uint32_t>(cInit), offset);
  for (uint32_t i = 0; i < count; i += 64) {
    const uint32_t n = count - i < 64 ? count - i : 64;
    expandWord(out + i, goldStreamNext(&s), n, table);
  }
  return count;
}

namespace {

// x1 does not depend on c_init: its words from word 0 on are kept, grown to the longest request.
std::vector<uint64_t> gX1Words;

const uint64_t* x1Words(uint32_t n) {
  if (gX1Words.size() < n) {
    gX1Words.resize(n);
    GoldRegs g = goldStart(0);
    for (uint32_t k = 0; k < n; k++) {
      gX1Words[k] = g.x1[0];
      const uint64_t a = g.x1[0], b = g.x1[1];
      g.x1[0] = b;
      g.x1[1] = window(a, b, 16) ^ window(a, b, 4);
    }
  }
  return gX1Words.data();
}

}  // namespace

void nrGoldSeqWords(int32_t cInit, uint64_t* out, uint32_t nWords) {
  if (nWords == 0) return;
  static_assert(kGoldNc % 64 == 0, "c(0) starts a word of x1 and x2");
  constexpr uint32_t kSkip = kGoldNc / 64;
  const uint64_t* x1 = x1Words(kSkip + nWords);
  GoldRegs g = goldStart(static_cast<uint32_t>(cInit));
  uint64_t a = g.x2[0], b = g.x2[1];
  for (uint32_t k = 0; k < kSkip + nWords; k++) {
    if (k >= kSkip) out[k - kSkip] = x1[k] ^ a;
    const uint64_t n = window(a, b, 16) ^ window(a, b, 12) ^ window(a, b, 8) ^ window(a, b, 4);
    a = b;
    b = n;
  }
}

void nrScrambleInt(const int32_t* src, int32_t* dst, int32_t count, int32_t cInit) {
  scramble<int32_t, uint32_t>(src, dst, count, cInit);
}

void nrScrambleShort(const int16_t* src, int16_t* dst, int32_t count, int32_t cInit) {
  scramble<int16_t, uint16_t>(src, dst, count, cInit);
}

namespace {

// Bits to scrambled bipolar values, 64 at a time; compiled for each instruction set.
[[gnu::always_inline]] inline void scrambleBits(const int8_t* bits, int16_t* dst, int32_t count,
                                                int32_t cInit) {
  GoldStream s = goldStreamStart(static_cast<uint32_t>(cInit), 0);
  for (int32_t j0 = 0; j0 < count; j0 += 64) {
    const int32_t n = count - j0 < 64 ? count - j0 : 64;
    int8_t c[64];
    expandWord(c, goldStreamNext(&s), 64, kExpandBits);
    const int8_t* b = bits + j0;
    int16_t* d = dst + j0;
    if (n == 64) {
      for (int32_t j = 0; j < 64; j++) d[j] = static_cast<int16_t>(1 - 2 * ((b[j] ^ c[j]) & 1));
    } else {
      for (int32_t j = 0; j < n; j++) d[j] = static_cast<int16_t>(1 - 2 * ((b[j] ^ c[j]) & 1));
    }
  }
}

using ScrambleBitsFn = void (*)(const int8_t*, int16_t*, int32_t, int32_t);
void scrambleBitsPlain(const int8_t* bits, int16_t* dst, int32_t count, int32_t cInit) {
  scrambleBits(bits, dst, count, cInit);
}
#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 void scrambleBitsAvx2(const int8_t* bits, int16_t* dst, int32_t count,
                                         int32_t cInit) {
  scrambleBits(bits, dst, count, cInit);
}
VELTRA_TARGET_AVX512 void scrambleBitsAvx512(const int8_t* bits, int16_t* dst, int32_t count,
                                             int32_t cInit) {
  scrambleBits(bits, dst, count, cInit);
}
constexpr ScrambleBitsFn kScrambleBits[kNrCpuLevels] = {scrambleBitsPlain, scrambleBitsAvx2,
                                                        scrambleBitsAvx512};
#else
constexpr ScrambleBitsFn kScrambleBits[kNrCpuLevels] = {scrambleBitsPlain, nullptr, nullptr};
#endif

}  // namespace

void nrScrambleBitsShort(const int8_t* bits, int16_t* dst, int32_t count, int32_t cInit) {
  if (count <= 0) return;
  nrCpuPick(kScrambleBits)(bits, dst, count, cInit);
}

bool nrScrambleShortExact(const int16_t* src, int16_t* dst, int32_t count, int32_t cInit) {
  if (count <= 0) return true;
  return nrCpuPick(kScrambleShortExactFns)(src, dst, count, cInit);
}

bool nrPnSeqInit(int8_t order) {
  std::memset(gnrPnState, 0, 30);
  if (order != static_cast<int8_t>(kPnOrder)) {
    nrPrintf("not support!\n");
    return false;
  }
  std::memset(gnrPnState, 1, kPnOrder);
  return true;
}

namespace {

// The PN9 register run for count bits: emit(base, w, n) receives every word holding output bits
// (bit j = s(base + j), n = the output bits in it); the register after the last one goes back to
// gnrPnState. The register holds s(i) ... s(i+8) of s(i+9) = s(i+5) + s(i) (x^9 + x^5 + 1), stage
// j in bit j; the output is stage 0. The first three words come from the register bit by bit;
// after that p(D)^8 = D^72 + D^40 + 1 gives s(m) = s(m-32) + s(m-72), one 32-bit word per step.
template <typename Emit>
void pnRun(uint64_t count, Emit emit) {
  uint32_t r = 0;
  for (uint32_t j = 0; j < kPnOrder; j++) r |= static_cast<uint32_t>(gnrPnState[j] & 1) << j;
  const uint64_t need = count + kPnOrder;  // the bits after the last output are the new state
  uint32_t hist[3] = {0, 0, 0};            // words k-3, k-2, k-1
  uint32_t next = 0;
  for (uint64_t k = 0, base = 0; base < need; k++, base += 32) {
    uint32_t w = 0;
    if (k < 3) {
      for (uint32_t j = 0; j < 32; j++) {
        w |= (r & 1) << j;
        r = (r >> 1) | (((r ^ (r >> 5)) & 1) << (kPnOrder - 1));
      }
    } else {
      w = hist[2] ^ ((hist[0] >> 24) | (hist[1] << 8));
    }
    hist[0] = hist[1];
    hist[1] = hist[2];
    hist[2] = w;
    if (base < count) emit(base, w, static_cast<uint32_t>(count - base < 32 ? count - base : 32));
    if (base + 32 > count)
      for (uint32_t j = 0; j < 32; j++) {
        const uint64_t n = base + j;
        if (n >= count && n < need) next |= ((w >> j) & 1) << (n - count);
      }
  }
  for (uint32_t j = 0; j < kPnOrder; j++) gnrPnState[j] = static_cast<int8_t>((next >> j) & 1);
}

}  // namespace

bool nrPnSeqGen(int8_t order, int32_t* out, uint64_t count) {
  if (order != static_cast<int8_t>(kPnOrder)) {
    nrPrintf("not support!\n");
    return false;
  }
  pnRun(count, [out](uint64_t base, uint32_t w, uint32_t n) {
    if (n == 32) {
      unpackWord(out + base, w);
    } else {
      for (uint32_t j = 0; j < n; j++) out[base + j] = static_cast<int32_t>((w >> j) & 1);
    }
  });
  return true;
}

bool nrPnSeqGenBytes(int8_t order, int8_t* out, uint64_t count, uint32_t* packed) {
  if (order != static_cast<int8_t>(kPnOrder)) {
    nrPrintf("not support!\n");
    return false;
  }
  // x^9 + x^5 + 1 is primitive: from any register s(n + 511) = s(n). One period (and the 9 bits
  // after it) comes from the register; the output repeats it, and the register ends on the 9
  // bits that follow the last output.
  constexpr uint32_t kPeriod = 511;
  int8_t period[kPeriod + kPnOrder + 7];
  pnRun(kPeriod + kPnOrder, [&period](uint64_t base, uint32_t w, uint32_t n) {
    for (uint32_t j = 0; j < n; j++) period[base + j] = static_cast<int8_t>((w >> j) & 1);
  });
  for (uint32_t j = 0; j < kPnOrder; j++) gnrPnState[j] = period[(count + j) % kPeriod];
  const uint64_t head = count < kPeriod ? count : kPeriod;
  if (head > 0) std::memcpy(out, period, head);
  // Whole periods copied in ever longer runs (source and destination never overlap).
  for (uint64_t done = head; done < count;) {
    const uint64_t n = count - done < done ? count - done : done;
    std::memcpy(out + done, out, n);
    done += n;
  }
  if (!packed || count == 0) return true;
  // Packed with the first bit in bit 31: three words from the bits, then p(D)^8 = D^72 + D^40 + 1,
  // s(m) = s(m-32) + s(m-72), one word per step.
  const uint64_t words = (count + 31) / 32;
  for (uint64_t k = 0; k < words && k < 3; k++) {
    uint32_t w = 0;
    for (uint32_t j = 0; j < 32; j++)
      w |= static_cast<uint32_t>(period[(32 * k + j) % kPeriod]) << (31 - j);
    packed[k] = w;
  }
  for (uint64_t k = 3; k < words; k++)
    packed[k] = packed[k - 1] ^ ((packed[k - 3] << 24) | (packed[k - 2] >> 8));
  if (count % 32) packed[words - 1] &= ~0u << (32 - count % 32);
  return true;
}

void nrPssGen(uint8_t nId2) {
  // TS 38.211 7.4.2.2.1: d_PSS(n) = 1 - 2x((n + 43 N_ID^(2)) mod 127).
  int8_t* out = gnrSeqBuf + kSeqBufPssOffset;
  for (int i = 0; i < kSsbSeqLen; i++) out[i] = gnrSsbMseq[(i + 43 * nId2) % kSsbSeqLen];
}

void nrSssGen(uint16_t nId1, uint8_t nId2) {
  // TS 38.211 7.4.2.3.1; m0 is an 8-bit quantity.
  const uint8_t m0 = static_cast<uint8_t>(15 * (nId1 / 112) + 5 * nId2);
  const int m1 = nId1 % 112;
  const int8_t* x0 = gnrSsbMseq + 128;
  const int8_t* x1 = gnrSsbMseq + 256;
  int8_t* out = gnrSeqBuf + kSeqBufSssOffset;
  for (int i = 0; i < kSsbSeqLen; i++)
    out[i] = static_cast<int8_t>(x0[(m0 + i) % kSsbSeqLen] * x1[(m1 + i) % kSsbSeqLen]);
}
