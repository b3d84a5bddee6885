#include "phy/tx/modulate.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "config/console.h"
#include "config/nr_config.h"
#include "phy/common/cpu_features.h"
#include "phy/common/sequence.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// Products in 32 bits, stored in 16: even values drive I, odd values Q; the first pair gives the
// sign, each later pair halves the distance to the next level (Gray labelling).
template <int kQm>
[[gnu::always_inline]] inline void mapLanes(int32_t* out, const int16_t* in, int32_t n) {
  for (int32_t i = 0; i < n; i++) {
    const int16_t* s = in + kQm * i;
    if constexpr (kQm == 2) {  // TS 38.211 5.1.3
      out[i] = nrCpxPack(s[0] * kQpskScale, s[1] * kQpskScale);
    } else if constexpr (kQm == 4) {  // TS 38.211 5.1.4
      out[i] = nrCpxPack(s[0] * (2 - s[2]) * kQam16Scale, s[1] * (2 - s[3]) * kQam16Scale);
    } else if constexpr (kQm == 6) {  // TS 38.211 5.1.5
      out[i] = nrCpxPack(s[0] * (4 - s[2] * (2 - s[4])) * kQam64Scale,
                         s[1] * (4 - s[3] * (2 - s[5])) * kQam64Scale);
    } else {  // TS 38.211 5.1.6
      out[i] = nrCpxPack(s[0] * (8 - s[2] * (4 - s[4] * (2 - s[6]))) * kQam256Scale,
                         s[1] * (8 - s[3] * (4 - s[5] * (2 - s[7]))) * kQam256Scale);
    }
  }
}

[[gnu::always_inline]] inline void mapAny(int32_t* out, const int16_t* in, int32_t n, int qm) {
  switch (qm) {
    case 2:
      mapLanes<2>(out, in, n);
      break;
    case 4:
      mapLanes<4>(out, in, n);
      break;
    case 6:
      mapLanes<6>(out, in, n);
      break;
    default:
      mapLanes<8>(out, in, n);
      break;
  }
}

using MapFn = void (*)(int32_t*, const int16_t*, int32_t, int);
void mapPlain(int32_t* out, const int16_t* in, int32_t n, int qm) { mapAny(out, in, n, qm); }
#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 void mapAvx2(int32_t* out, const int16_t* in, int32_t n, int qm) {
  mapAny(out, in, n, qm);
}
VELTRA_TARGET_AVX512 void mapAvx512(int32_t* out, const int16_t* in, int32_t n, int qm) {
  mapAny(out, in, n, qm);
}
constexpr MapFn kMapFns[kNrCpuLevels] = {mapPlain, mapAvx2, mapAvx512};
#else
constexpr MapFn kMapFns[kNrCpuLevels] = {mapPlain, nullptr, nullptr};
#endif

// Symbol of every label of Qm bits (bit j of the index = j-th bit of the symbol), made by the
// plain mapper itself from the bipolar values, so that a lookup gives nrModulate's value.
struct SymbolTables {
  int32_t t[4][256];  // Qm 2, 4, 6, 8
  SymbolTables() {
    for (int q = 0; q < 4; q++) {
      const int qm = 2 * (q + 1);
      for (int idx = 0; idx < (1 << qm); idx++) {
        int16_t in[8];
        for (int j = 0; j < qm; j++) in[j] = static_cast<int16_t>(1 - 2 * ((idx >> j) & 1));
        mapAny(&t[q][idx], in, 1, qm);
      }
    }
  }
};

// 64 coded bits (0/1 bytes), the first in bit 0.
inline uint64_t pack64(const int8_t* b) {
#if defined(__SSE2__)
  uint64_t w = 0;
  for (int i = 0; i < 4; i++) {
    // A left shift by 7 moves each byte's bit into its sign bit (the bytes hold 0 or 1).
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 16 * i));
    w |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(_mm_slli_epi16(v, 7))))
         << (16 * i);
  }
  return w;
#else
  uint64_t w = 0;
  for (int j = 0; j < 64; j++) w |= static_cast<uint64_t>(b[j] & 1) << j;
  return w;
#endif
}

// One group of Q words (64 symbols of Q bits): words w, nSym of its symbols to out.
template <int Q>
inline void groupSymbols(int32_t* out, const uint64_t* w, int nSym, const int32_t* tab) {
  if (64 % Q == 0 && nSym == 64) {  // whole symbols in every word
    for (int q = 0; q < Q; q++)
      for (int t = 0; t < 64 / Q; t++)
        out[q * (64 / Q) + t] = tab[(w[q] >> (t * Q)) & ((1u << Q) - 1)];
    return;
  }
  for (int t = 0; t < nSym; t++) {
    const int p = t * Q;
    const int q = p >> 6;
    const int off = p & 63;
    uint64_t v = w[q] >> off;
    if (off + Q > 64) v |= w[q + 1] << (64 - off);
    out[t] = tab[v & ((1u << Q) - 1)];
  }
}

template <int Q>
void scrambledSymbols(int32_t* out, const int8_t* bits, int32_t count, const uint64_t* gold,
                      const int32_t* tab) {
  constexpr int kGroupBits = 64 * Q;
  const int32_t nSym = count / Q;
  int32_t s = 0;
  int32_t g = 0;  // gold word of the group
  uint64_t w[Q];
  for (; s + 64 <= nSym; s += 64, g += Q) {
    const int8_t* b = bits + static_cast<int64_t>(s) * Q;
    for (int q = 0; q < Q; q++) w[q] = pack64(b + 64 * q) ^ gold[g + q];
    groupSymbols<Q>(out + s, w, 64, tab);
  }
  if (s < nSym) {
    // The last, partial group from a zero-padded copy.
    int8_t tail[kGroupBits] = {};
    const int32_t left = (nSym - s) * Q;
    std::memcpy(tail, bits + static_cast<int64_t>(s) * Q, left);
    const int words = (left + 63) / 64;
    for (int q = 0; q < Q; q++) w[q] = q < words ? pack64(tail + 64 * q) ^ gold[g + q] : 0;
    groupSymbols<Q>(out + s, w, nSym - s, tab);
  }
}

std::vector<uint64_t> gGoldWords;  // the scrambling sequence of the request, grown and kept
std::vector<int16_t> gSoft;        // QPSK: scrambled bipolar values, grown and kept

}  // namespace

bool nrModulateScrambled(int32_t* out, const int8_t* bits, int32_t count, uint16_t Qm,
                         int32_t cInit) {
  if (Qm != 2 && Qm != 4 && Qm != 6 && Qm != 8) return false;
  if (count < Qm) return true;
  if (Qm == 2) {
    // Two bits a symbol: the lane-wise scrambler and mapper beat one lookup per symbol.
    if (gSoft.size() < static_cast<size_t>(count)) gSoft.resize(count);
    nrScrambleBitsShort(bits, gSoft.data(), count, cInit);
    nrCpuPick(kMapFns)(out, gSoft.data(), count / Qm, Qm);
    return true;
  }
  static const SymbolTables tables;
  const uint32_t nWords = static_cast<uint32_t>((count + 63) / 64);
  if (gGoldWords.size() < nWords) gGoldWords.resize(nWords);
  nrGoldSeqWords(cInit, gGoldWords.data(), nWords);
  const int32_t* tab = tables.t[Qm / 2 - 1];
  switch (Qm) {
    case 4:
      scrambledSymbols<4>(out, bits, count, gGoldWords.data(), tab);
      break;
    case 6:
      scrambledSymbols<6>(out, bits, count, gGoldWords.data(), tab);
      break;
    default:
      scrambledSymbols<8>(out, bits, count, gGoldWords.data(), tab);
      break;
  }
  return true;
}

bool nrModulate(int32_t* out, const int16_t* in, int32_t count, uint16_t Qm) {
  if (Qm == 1) return false;  // pi/2-BPSK is accepted but not mapped
  if (Qm != 2 && Qm != 4 && Qm != 6 && Qm != 8) {
    nrPrintf("%d, modulation not supported!\n", Qm);
    return false;
  }
  nrCpuPick(kMapFns)(out, in, count / Qm, Qm);
  return true;
}
