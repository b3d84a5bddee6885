// LDPC base graphs and lifting sizes of TS 38.212 5.3.2.
#pragma once

#include <cstdint>

constexpr int kBg1Rows = 46;
constexpr int kBg1Cols = 68;
constexpr int kBg2Rows = 42;
constexpr int kBg2Cols = 52;
constexpr int kLiftSizeN = 51;
constexpr int kLiftSetN = 8;

// Shift values V_ij (Tables 5.3.2-2/-3) per set index iLS, unreduced; -1 = all-zero block.
extern const int32_t gnrLdpcBg1[kLiftSetN][kBg1Rows][kBg1Cols];
extern const int32_t gnrLdpcBg2[kLiftSetN][kBg2Rows][kBg2Cols];

// Table 5.3.2-1 grouped by set in set order (set 0: 2, 4, ..., 256; set 1: 3, 6, ..., 384; ...)
// and the cumulative set ends 8, 16, 23, 29, 35, 41, 46, 51.
extern const uint16_t gnrLdpcLiftSizes[kLiftSizeN];
extern const uint8_t gnrLdpcLiftSetEnd[kLiftSetN];

constexpr int kLiftSizeMax = 384;

// Position of the lifting size Zc in gnrLdpcLiftSizes, -1 when Zc is not a lifting size.
int32_t nrLdpcLiftIndex(int64_t Zc);
// TS 38.212 5.2.2: position of the smallest lifting size not below minZc, -1 above 384.
int32_t nrLdpcLiftCeilIndex(int64_t minZc);
// Set index iLS (0..7) of the lifting size at position idx of gnrLdpcLiftSizes.
int32_t nrLdpcLiftSet(int32_t idx);
