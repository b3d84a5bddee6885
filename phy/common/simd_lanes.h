// Lanes of single-precision and 32-bit integer values for the kernels that have
// instruction-set variants (phy/common/cpu_features.h): one template body, instantiated with 8 or
// 16 lanes inside functions compiled for AVX2 or AVX-512.
// The operators are element-wise IEEE operations, so a kernel gives the plain loop's results when
// it keeps the plain loop's operations and their order (the build does not contract a product and
// a sum into one fused step). Every helper is inlined into its caller and so compiled for the
// caller's instruction set; vectors travel by reference, never by value across a call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

template <int W>
struct NrLanes {
  static constexpr int kW = W;
  typedef float F __attribute__((vector_size(4 * W)));
  typedef int32_t I __attribute__((vector_size(4 * W)));
};

template <typename V>
[[gnu::always_inline]] inline void nrLoad(V& v, const void* p) {
  std::memcpy(&v, p, sizeof(V));
}
template <typename V>
[[gnu::always_inline]] inline void nrStore(void* p, const V& v) {
  std::memcpy(p, &v, sizeof(V));
}

namespace simd_detail {
template <typename V, std::size_t... Is>
[[gnu::always_inline]] inline void evens(V& out, const V& a, const V& b,
                                         std::index_sequence<Is...>) {
  out = __builtin_shufflevector(a, b, (2 * Is)...);
}
template <typename V, std::size_t... Is>
[[gnu::always_inline]] inline void odds(V& out, const V& a, const V& b,
                                        std::index_sequence<Is...>) {
  out = __builtin_shufflevector(a, b, (2 * Is + 1)...);
}
// Element i of the first half of the interleave a0 b0 a1 b1 ... (kW lanes each).
template <int kW, typename V, std::size_t... Is>
[[gnu::always_inline]] inline void zipLo(V& out, const V& a, const V& b,
                                         std::index_sequence<Is...>) {
  out = __builtin_shufflevector(a, b, ((Is % 2) * kW + Is / 2)...);
}
template <int kW, typename V, std::size_t... Is>
[[gnu::always_inline]] inline void zipHi(V& out, const V& a, const V& b,
                                         std::index_sequence<Is...>) {
  out = __builtin_shufflevector(a, b, ((Is % 2) * kW + kW / 2 + Is / 2)...);
}
}  // namespace simd_detail

// The even and the odd elements of the 2 W elements a, b (a first): x0 x2 x4 ... and x1 x3 ...
template <int W, typename V>
[[gnu::always_inline]] inline void nrDeinterleave(V& even, V& odd, const V& a, const V& b) {
  simd_detail::evens(even, a, b, std::make_index_sequence<W>());
  simd_detail::odds(odd, a, b, std::make_index_sequence<W>());
}
// The inverse: lo = e0 o0 e1 o1 ... (first W elements), hi = the next W.
template <int W, typename V>
[[gnu::always_inline]] inline void nrInterleave(V& lo, V& hi, const V& even, const V& odd) {
  simd_detail::zipLo<W>(lo, even, odd, std::make_index_sequence<W>());
  simd_detail::zipHi<W>(hi, even, odd, std::make_index_sequence<W>());
}

// The I (low half) and Q (high half) of packed int16 pairs, as single-precision values.
template <int W>
[[gnu::always_inline]] inline void nrIqToFloat(typename NrLanes<W>::F& i, typename NrLanes<W>::F& q,
                                               const typename NrLanes<W>::I& iq) {
  i = __builtin_convertvector((iq << 16) >> 16, typename NrLanes<W>::F);
  q = __builtin_convertvector(iq >> 16, typename NrLanes<W>::F);
}

// nrFloatToInt16 lane by lane, as 32-bit integers: NaN gives 0, values beyond the int16 range
// saturate, the rest is truncated toward zero.
template <int W>
[[gnu::always_inline]] inline void nrTruncSat16(typename NrLanes<W>::I& out,
                                                const typename NrLanes<W>::F& x) {
  typedef typename NrLanes<W>::F F;
  F v = x == x ? x : F{};
  v = v >= 32767.0f ? 32767.0f : v;
  v = v <= -32768.0f ? -32768.0f : v;
  out = __builtin_convertvector(v, typename NrLanes<W>::I);
}
// Packs int16-range integers i (low half) and q (high half) into one 32-bit word per lane.
template <typename I>
[[gnu::always_inline]] inline void nrPackIq(I& out, const I& i, const I& q) {
  out = (i & 0xFFFF) | (q << 16);
}
