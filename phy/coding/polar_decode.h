// Successive-cancellation decoding of the rate-matched polar code of TS 38.212 5.3.1 / 5.4.1 from
// hard decisions, in the likelihood-ratio domain.
#pragma once

#include <cstdint>

// Byte values of the decoder input: a received 0 or 1, an erasure (nothing received), and a bit
// known to be 0 (shortened; read like a received 0).
constexpr uint8_t kPolarRx0 = 0;
constexpr uint8_t kPolarRx1 = 1;
constexpr uint8_t kPolarErasure = 2;
constexpr uint8_t kPolarKnownZero = 0xFF;

// Parameter p of the decoder's channel model W(y | x): p for an erasure y = 2, 1 - p for y = x,
// 0 otherwise; the likelihood ratio W(y | 0) / W(y | 1) of a received 0 or a known zero is thus
// 2^30 (the clamp), of a received 1 2^-30 and of an erasure 1.
constexpr float kPolarErasureP = 10.0f;

// Undoes the bit selection and sub-block interleaving of TS 38.212 5.4.1 for E hard bits (0/1) of
// a code with K information bits and length N: decIn[0 .. N-1] receives the code bits d in natural
// order and decIn[N .. 1023] is cleared (known zero). Punctured positions are erasures, shortened
// positions known zeros; with E >= N the first N received bits are taken. decIn holds 1024 bytes.
// Returns false, decIn untouched, for N not a power of two from 32 to 1024, E of 0 or K > E.
bool nrPolarRateRecover(const uint8_t* hard, uint32_t E, uint32_t K, uint32_t N, uint8_t* decIn);

// Decodes the 2^n code bits decIn (bytes as above) of x = u G_N by successive cancellation with
// the channel model of parameter p and writes the decided u_0 .. u_{2^n - 1} to uHat: frozen
// positions (infoInd[i] = 0) decide 0, parity-check positions (gnrPolarPcPos, from the last
// nrPolarConstruct) take the value of the TS 38.212 5.3.1.2 register, information positions decide
// 1 when the likelihood ratio is below 1. f and g results are clamped to [2^-30, 2^30]. Returns
// false, uHat untouched, for n outside 1 .. 10.
bool nrPolarScDecode(uint8_t* uHat, const uint8_t* decIn, float p, const int8_t* infoInd,
                     uint32_t n);
