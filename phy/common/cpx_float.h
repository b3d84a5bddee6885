// Single-precision complex arithmetic of the receivers' channel estimators.
#pragma once

#include <cstdint>

// A complex value, real part first, passed and returned by value.
struct nrCpxF {
  float re;
  float im;
};

inline nrCpxF nrCpxAdd(nrCpxF a, nrCpxF b) { return {a.re + b.re, a.im + b.im}; }
inline nrCpxF nrCpxSub(nrCpxF a, nrCpxF b) { return {a.re - b.re, a.im - b.im}; }
inline nrCpxF nrCpxScale(nrCpxF a, float s) { return {a.re * s, a.im * s}; }
inline nrCpxF nrCpxMul(nrCpxF a, nrCpxF b) {
  return {a.re * b.re - a.im * b.im, a.im * b.re + a.re * b.im};
}
// a * conj(b)
inline nrCpxF nrCpxMulConj(nrCpxF a, nrCpxF b) {
  return {a.re * b.re + a.im * b.im, a.im * b.re - a.re * b.im};
}
// a / b; a zero divisor gives non-finite parts, which the int16 conversion maps to 0.
inline nrCpxF nrCpxDiv(nrCpxF a, nrCpxF b) {
  const float m = b.re * b.re + b.im * b.im;
  return {(a.re * b.re + a.im * b.im) / m, (a.im * b.re - a.re * b.im) / m};
}
// y * b for an int16 I/Q pair y packed as nrCpxPack does (I low half, Q high half).
inline nrCpxF nrCpxMulIq(int32_t y, nrCpxF b) {
  const float yi = static_cast<int16_t>(static_cast<uint32_t>(y) & 0xFFFFu);
  const float yq = static_cast<int16_t>(static_cast<uint32_t>(y) >> 16);
  return {yi * b.re - yq * b.im, yq * b.re + yi * b.im};
}
// y * conj(b) for an int16 I/Q pair y.
inline nrCpxF nrCpxMulConjIq(int32_t y, nrCpxF b) {
  const float yi = static_cast<int16_t>(static_cast<uint32_t>(y) & 0xFFFFu);
  const float yq = static_cast<int16_t>(static_cast<uint32_t>(y) >> 16);
  return {yi * b.re + yq * b.im, yq * b.re - yi * b.im};
}

// Truncation toward zero to int16 that stays defined for every float: NaN becomes 0 and values
// beyond the int16 range saturate (a singular channel or a zero estimate yields such values).
// Inline, so that the per-sample loops of the OFDM demodulator and the equalisers keep no call.
inline int16_t nrFloatToInt16(double v) {
  if (v != v) return 0;  // NaN
  if (v >= 32767.0) return 32767;
  if (v <= -32768.0) return -32768;
  return static_cast<int16_t>(v);
}
