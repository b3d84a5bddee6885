#include "phy/coding/ldpc_rate_match.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config/console.h"
#include "phy/common/cpu_features.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// The selected bits, before interleaving: grown to the largest request seen and kept.
std::vector<int32_t> gSelected;
std::vector<int8_t> gSelectedBytes;

constexpr int kScanBlock = 16;

// Whether one of 16 elements is a filler. The compiler unrolls the plain loop into scalar
// compares, so SSE2 (part of every x86-64) gets four compares of four lanes.
#if defined(__SSE2__)
inline bool hasFiller(const int32_t* d) {
  const __m128i filler = _mm_set1_epi32(-1);
  __m128i any = _mm_setzero_si128();
  for (int t = 0; t < kScanBlock; t += 4) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + t));
    any = _mm_or_si128(any, _mm_cmpeq_epi32(v, filler));
  }
  return _mm_movemask_epi8(any) != 0;
}
#else
inline bool hasFiller(const int32_t* d) {
  int32_t any = 0;
  for (int t = 0; t < kScanBlock; t++) any |= -static_cast<int32_t>(d[t] == -1);
  return any != 0;
}
#endif

// First filler at or after j before limit, or limit.
inline int32_t runEnd(const int32_t* d, int32_t j, int32_t limit) {
  while (j + kScanBlock <= limit && !hasFiller(d + j)) j += kScanBlock;
  while (j < limit && d[j] != -1) j++;
  return j;
}
inline int32_t runEnd(const int8_t* d, int32_t j, int32_t limit) {
  if (j >= limit) return limit;
  const void* f = std::memchr(d + j, 0xFF, static_cast<size_t>(limit - j));
  return f ? static_cast<int32_t>(static_cast<const int8_t*>(f) - d) : limit;
}

// Hands `want` non-filler elements of the ncb-element buffer d, read cyclically from position
// `from`, to take(first, length, selected so far): one call per run between fillers (found 16
// elements or a memchr at a time), and only as far as the selection reads. Returns false (nothing
// meaningful in dst) when the buffer holds fillers only.
template <typename T, typename Take>
bool selectRuns(const T* d, int32_t ncb, int32_t from, int64_t want, Take take) {
  int64_t got = 0;
  int32_t i = from;
  int32_t fillersInARow = 0;  // a whole turn of them: nothing to select
  while (got < want) {
    const int32_t limit = static_cast<int32_t>(std::min<int64_t>(ncb, i + (want - got)));
    int32_t j = runEnd(d, i, limit);
    if (j > i) {
      take(i, j - i, got);
      got += j - i;
      fillersInARow = 0;
    }
    // A run of fillers, skipped as far as the end of the buffer.
    for (; j < limit && j < ncb && d[j] == -1; j++)
      if (++fillersInARow >= ncb) return false;
    i = j >= ncb ? 0 : j;
  }
  return true;
}

template <typename T>
bool selectCyclic(const T* d, int32_t ncb, int32_t from, int64_t want, T* dst) {
  return selectRuns(d, ncb, from, want, [d, dst](int32_t i, int32_t len, int64_t at) {
    std::memcpy(dst + at, d + i, sizeof(T) * len);
  });
}

// TS 38.212 5.4.2.2 for a fixed Qm: output k*Qm + l is bit k of row l, the rows being the Qm
// consecutive segments of n selected bits.
template <int Q, typename T>
[[gnu::always_inline]] inline void interleave(const T* __restrict e, T* __restrict out, int32_t n) {
  for (int32_t k = 0; k < n; k++)
    for (int l = 0; l < Q; l++)
      out[static_cast<int64_t>(k) * Q + l] = e[static_cast<int64_t>(l) * n + k];
}

template <typename T>
[[gnu::always_inline]] inline void interleaveAny(const T* e, T* out, int32_t n, int32_t qm) {
  switch (qm) {
    case 1:
      std::memcpy(out, e, sizeof(T) * n);
      break;
    case 2:
      interleave<2>(e, out, n);
      break;
    case 4:
      interleave<4>(e, out, n);
      break;
    case 6:
      interleave<6>(e, out, n);
      break;
    case 8:
      interleave<8>(e, out, n);
      break;
    default:
      for (int32_t k = 0; k < n; k++)
        for (int32_t l = 0; l < qm; l++)
          out[static_cast<int64_t>(k) * qm + l] = e[static_cast<int64_t>(l) * n + k];
  }
}

// The byte interleaver over Q row pointers (each row n selected bits): the plain loop (the
// reference), compiled for each instruction set, and a byte transposition for Qm 2, 4, 8; picked
// at run time. The int32 one stays baseline.
template <int Q>
[[gnu::always_inline]] inline void interleaveRows(const int8_t* const* rows, int8_t* __restrict out,
                                                  int32_t n) {
  const int8_t* __restrict r[Q];
  for (int l = 0; l < Q; l++) r[l] = rows[l];
  for (int32_t k = 0; k < n; k++)
    for (int l = 0; l < Q; l++) out[static_cast<int64_t>(k) * Q + l] = r[l][k];
}

[[gnu::always_inline]] inline void interleaveRowsAny(const int8_t* const* rows, int8_t* out,
                                                     int32_t n, int32_t qm) {
  switch (qm) {
    case 1:
      std::memcpy(out, rows[0], n);
      break;
    case 2:
      interleaveRows<2>(rows, out, n);
      break;
    case 4:
      interleaveRows<4>(rows, out, n);
      break;
    case 6:
      interleaveRows<6>(rows, out, n);
      break;
    default:
      interleaveRows<8>(rows, out, n);
      break;
  }
}

#if defined(__SSE2__)
// Qm 2, 4, 8 by byte transposition: 16 columns of the Q rows at a time are interleaved by
// log2(Q) rounds of unpacking (bytes, then pairs, then quads), the rest by the plain loop.
template <int Q>
void transposeRows(const int8_t* const* rows, int8_t* out, int32_t n) {
  int32_t k = 0;
  for (; k + 16 <= n; k += 16) {
    __m128i v[Q];
    for (int l = 0; l < Q; l++)
      v[l] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[l] + k));
    __m128i a[Q];
    for (int l = 0; l < Q; l += 2) {
      a[l] = _mm_unpacklo_epi8(v[l], v[l + 1]);
      a[l + 1] = _mm_unpackhi_epi8(v[l], v[l + 1]);
    }
    int8_t* o = out + static_cast<int64_t>(k) * Q;
    if constexpr (Q == 2) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o), a[0]);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16), a[1]);
    } else {
      // a[2p] / a[2p+1]: columns 0-7 / 8-15 of rows 2p, 2p+1, as byte pairs.
      __m128i b[Q];
      for (int p = 0; p < Q / 2; p += 2)
        for (int h = 0; h < 2; h++) {
          b[2 * p + 2 * h] = _mm_unpacklo_epi16(a[2 * p + h], a[2 * p + 2 + h]);
          b[2 * p + 2 * h + 1] = _mm_unpackhi_epi16(a[2 * p + h], a[2 * p + 2 + h]);
        }
      // b[4g + c]: columns 4c .. 4c+3 of rows 4g .. 4g+3, as quads.
      if constexpr (Q == 4) {
        for (int c = 0; c < 4; c++) _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 16 * c), b[c]);
      } else {
        for (int c = 0; c < 4; c++) {
          _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32 * c),
                           _mm_unpacklo_epi32(b[c], b[4 + c]));
          _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 32 * c + 16),
                           _mm_unpackhi_epi32(b[c], b[4 + c]));
        }
      }
    }
  }
  for (; k < n; k++)
    for (int l = 0; l < Q; l++) out[static_cast<int64_t>(k) * Q + l] = rows[l][k];
}
#endif

using InterleaveBytesFn = void (*)(const int8_t* const*, int8_t*, int32_t, int32_t);
// The baseline: byte transposition for Qm 2, 4 and 8 (SSE2 is part of every x86-64), the plain
// loop for any other order.
void interleaveBytesBaseline(const int8_t* const* rows, int8_t* out, int32_t n, int32_t qm) {
#if defined(__SSE2__)
  if (qm == 2) return transposeRows<2>(rows, out, n);
  if (qm == 4) return transposeRows<4>(rows, out, n);
  if (qm == 8) return transposeRows<8>(rows, out, n);
#endif
  interleaveRowsAny(rows, out, n, qm);
}
#ifdef VELTRA_X86_VARIANTS
// Wider sets: the transposition for Qm 2, 4, 8, the plain loop compiled for the set otherwise.
VELTRA_TARGET_AVX2 void interleaveBytesAvx2(const int8_t* const* rows, int8_t* out, int32_t n,
                                            int32_t qm) {
  if (qm == 2 || qm == 4 || qm == 8) return interleaveBytesBaseline(rows, out, n, qm);
  interleaveRowsAny(rows, out, n, qm);
}
VELTRA_TARGET_AVX512 void interleaveBytesAvx512(const int8_t* const* rows, int8_t* out, int32_t n,
                                                int32_t qm) {
  if (qm == 2 || qm == 4 || qm == 8) return interleaveBytesBaseline(rows, out, n, qm);
  interleaveRowsAny(rows, out, n, qm);
}
constexpr InterleaveBytesFn kInterleaveBytes[kNrCpuLevels] = {
    interleaveBytesBaseline, interleaveBytesAvx2, interleaveBytesAvx512};
#else
constexpr InterleaveBytesFn kInterleaveBytes[kNrCpuLevels] = {interleaveBytesBaseline, nullptr,
                                                              nullptr};
#endif

// One run of the selection: d[from .. from + len - 1] are selected bits at .. at + len - 1.
struct SelRun {
  int32_t from;
  int32_t len;
  int64_t at;
};
std::vector<SelRun> gRuns;

// Byte rate matching without copying the selection: each interleaver row that lies within one
// run is read in place from d, a row across runs is assembled in scratch.
bool rateMatchRows(const int8_t* d, int8_t* out, int32_t ncb, int32_t k0, int32_t n, int32_t qm,
                   std::vector<int8_t>& scratch) {
  gRuns.clear();
  if (!selectRuns(d, ncb, k0, static_cast<int64_t>(n) * qm, [](int32_t i, int32_t len, int64_t at) {
        gRuns.push_back({i, len, at});
      }))
    return false;
  const int8_t* rows[8];
  size_t u = 0;
  for (int l = 0; l < qm; l++) {
    const int64_t start = static_cast<int64_t>(l) * n;
    while (gRuns[u].at + gRuns[u].len <= start) u++;
    const SelRun& run = gRuns[u];
    if (start + n <= run.at + run.len) {
      rows[l] = d + run.from + (start - run.at);
      continue;
    }
    int8_t* row = scratch.data() + start;
    for (int64_t got = 0; got < n;) {
      const SelRun& piece = gRuns[u];
      const int64_t skip = start + got - piece.at;
      const int64_t len = std::min<int64_t>(piece.len - skip, n - got);
      std::memcpy(row + got, d + piece.from + skip, len);
      got += len;
      if (got < n) u++;
    }
    rows[l] = row;
  }
  nrCpuPick(kInterleaveBytes)(rows, out, n, qm);
  return true;
}

template <typename T>
bool rateMatch(const T* d, T* out, int32_t r, const NrLdpcParams* params,
               std::vector<T>& selected) {
  const int32_t ncb = params->Ncb;
  const int32_t qm = params->Qm;
  if (r < 0 || r >= kMaxCodeBlocks || qm < 1 || ncb < 1 || params->E[r] < 0) {
    nrDiag("nrLdpcRateMatch(): code block %d (Qm %d, Ncb %d) not supported!\n", r, qm, ncb);
    return false;
  }
  // Only whole modulation symbols are placed (E is a multiple of Qm in every real request).
  const int32_t n = params->E[r] / qm;
  const int64_t total = static_cast<int64_t>(n) * qm;
  if (total == 0) return false;

  // TS 38.212 5.4.2.1: bit selection reads the circular buffer from k0 on (a k0 beyond the buffer
  // wraps around it), skips the filler bits and starts over at the end of the buffer.
  if (selected.size() < static_cast<size_t>(total)) selected.resize(total);
  int32_t k0 = params->k0 % ncb;
  if (k0 < 0) k0 += ncb;
  bool ok;
  if constexpr (sizeof(T) == 1) {
    if (qm == 1 || qm == 2 || qm == 4 || qm == 6 || qm == 8)
      ok = rateMatchRows(d, out, ncb, k0, n, qm, selected);
    else
      ok = selectCyclic(d, ncb, k0, total, selected.data());
    if (ok && !(qm == 1 || qm == 2 || qm == 4 || qm == 6 || qm == 8))
      interleaveAny(selected.data(), out, n, qm);
  } else {
    ok = selectCyclic(d, ncb, k0, total, selected.data());
    if (ok) interleaveAny(selected.data(), out, n, qm);
  }
  if (!ok) {
    nrDiag("nrLdpcRateMatch(): code block %d holds filler bits only!\n", r);
    return false;
  }
  return true;
}

}  // namespace

bool nrLdpcRateMatch(const int32_t* d, int32_t* out, int32_t r, const NrLdpcParams* params) {
  return rateMatch(d, out, r, params, gSelected);
}

bool nrLdpcRateMatchBytes(const int8_t* d, int8_t* out, int32_t r, const NrLdpcParams* params) {
  return rateMatch(d, out, r, params, gSelectedBytes);
}

int32_t nrLdpcRateMatchParityCols(int32_t r, const NrLdpcParams* params) {
  const int64_t ncb = params->Ncb;
  const int64_t zc = params->Zc;
  const int32_t qm = params->Qm;
  if (r < 0 || r >= kMaxCodeBlocks || qm < 1 || ncb < 1 || zc < 1 || params->E[r] < 0) return 0;
  const int64_t total = static_cast<int64_t>(params->E[r] / qm) * qm;
  // TS 38.212 5.4.2.1: the filler bits K'..K-1 sit at K'-2Zc ... K-2Zc-1 of the circular buffer.
  const int64_t sysEnd = params->K - 2 * zc;
  const int64_t fillStart = std::clamp<int64_t>(params->Kp - 2 * zc, 0, ncb);
  const int64_t fillEnd = std::clamp<int64_t>(sysEnd, fillStart, ncb);
  int64_t k0 = params->k0 % ncb;
  if (k0 < 0) k0 += ncb;
  // End of the selection read from k0 without wrapping, past the fillers it steps over.
  int64_t end;
  if (k0 >= fillEnd)
    end = k0 + total;
  else if (k0 >= fillStart)
    end = fillEnd + total;
  else
    end = k0 + total <= fillStart ? k0 + total : fillEnd + (total - (fillStart - k0));
  if (end > ncb) end = ncb;  // the selection wraps: the whole buffer is read
  const int64_t parityCols = (params->N - sysEnd) / zc;
  return static_cast<int32_t>(std::clamp<int64_t>((end - sysEnd + zc - 1) / zc, 0, parityCols));
}
