#include "phy/coding/polar_decode.h"

#include <cstring>

#include "config/console.h"
#include "phy/coding/polar_code.h"

namespace {

constexpr float kLrMax = 1073741824.0f;  // 2^30
constexpr float kLrMin = 1.0f / kLrMax;
constexpr uint32_t kPcRegLen = 5;  // TS 38.212 5.3.1.2: cyclic register y0 .. y4

inline float clampLr(float v) { return v < kLrMin ? kLrMin : (v > kLrMax ? kLrMax : v); }

// W(y | x) of the erasure channel, the input byte read as a signed char (so that a known zero,
// 0xFF, matches neither 0 nor 1).
inline float channelW(uint8_t y, int x, float p) {
  const int ys = static_cast<int8_t>(y);
  if (ys == kPolarErasure) return p;
  return ys == x ? 1.0f - p : 0.0f;
}

inline float inputLr(uint8_t y, float p) {
  const float den = channelW(y, 1, p);
  if (den == 0.0f) return kLrMax;
  return clampLr(channelW(y, 0, p) / den);
}

// One decoding pass: decisions in index order, the parity-check register beside them.
struct ScPass {
  const int8_t* info;
  const uint8_t* pc;      // 1 at parity-check positions
  const uint16_t* infoN;  // infoN[i] = information and parity-check positions below i
  uint8_t* uHat;
  uint32_t t;    // next decision index
  uint32_t reg;  // bit k = y_k
};

inline void rotate(ScPass& s, uint32_t steps) {
  // y_k <- y_(k+1), y_4 <- y_0, steps times.
  for (uint32_t r = 0; r < steps % kPcRegLen; r++)
    s.reg = (s.reg >> 1) | ((s.reg & 1u) << (kPcRegLen - 1));
}

// Decodes the node whose len likelihood ratios are L into the code bits x of the node (its
// partial sums); work holds len further values.
void decodeNode(ScPass& s, const float* L, uint32_t len, uint8_t* x, float* work) {
  // A node without information or parity-check positions decides all zeros whatever its ratios.
  if (s.infoN[s.t + len] == s.infoN[s.t]) {
    std::memset(x, 0, len);
    std::memset(s.uHat + s.t, 0, len);
    rotate(s, len);
    s.t += len;
    return;
  }
  if (len == 1) {
    rotate(s, 1);
    uint8_t u = 0;
    if (s.pc[s.t]) {
      u = static_cast<uint8_t>(s.reg & 1u);
    } else if (s.info[s.t]) {
      u = L[0] < 1.0f ? 1 : 0;
      s.reg ^= u;
    }
    s.uHat[s.t++] = u;
    x[0] = u;
    return;
  }
  const uint32_t h = len / 2;
  float* child = work;
  // x = [v1 ^ v2, v2]: v1 sees the first half combined with the second (f), then v2 sees the
  // second half together with the first corrected by v1 (g).
  for (uint32_t i = 0; i < h; i++) child[i] = clampLr((L[i] * L[i + h] + 1.0f) / (L[i] + L[i + h]));
  decodeNode(s, child, h, x, work + h);
  for (uint32_t i = 0; i < h; i++) child[i] = clampLr(x[i] ? L[i + h] / L[i] : L[i + h] * L[i]);
  decodeNode(s, child, h, x + h, work + h);
  for (uint32_t i = 0; i < h; i++) x[i] ^= x[i + h];
}

}  // namespace

bool nrPolarRateRecover(const uint8_t* hard, uint32_t E, uint32_t K, uint32_t N, uint8_t* decIn) {
  if (!polar_detail::validLength(N) || E == 0 || K > E) {
    nrDiag("nrPolarRateRecover: K %u, E %u, N %u: no code to recover\n", K, E, N);
    return false;
  }
  static uint8_t buf[kPolarNmaxLen];
  if (E >= N) {
    for (uint32_t n = 0; n < N; n++) buf[n] = hard[n] & 1;
  } else if (nrPolarPunctured(K, E)) {
    // TS 38.212 5.4.1.2: the first N - E bits were not sent, nothing is known about them.
    std::memset(buf, kPolarErasure, N - E);
    for (uint32_t e = 0; e < E; e++) buf[N - E + e] = hard[e] & 1;
  } else {
    // Shortened: the last N - E bits are zeros by construction.
    for (uint32_t e = 0; e < E; e++) buf[e] = hard[e] & 1;
    std::memset(buf + E, kPolarKnownZero, N - E);
  }
  std::memset(decIn, 0, kPolarNmaxLen);
  const int16_t* J = polar_detail::subblockTable(N);
  for (uint32_t n = 0; n < N; n++) decIn[J[n]] = buf[n];
  return true;
}

bool nrPolarScDecode(uint8_t* uHat, const uint8_t* decIn, float p, const int8_t* infoInd,
                     uint32_t n) {
  if (n < 1 || n > static_cast<uint32_t>(kPolarNmaxLog2)) {
    nrDiag("nrPolarScDecode: length 2^%u not supported (2^1 .. 2^%d)\n", n, kPolarNmaxLog2);
    return false;
  }
  const uint32_t len = 1u << n;
  static float root[kPolarNmaxLen];
  static float work[kPolarNmaxLen];
  static uint8_t x[kPolarNmaxLen];
  static uint8_t pc[kPolarNmaxLen];
  static uint16_t infoN[kPolarNmaxLen + 1];

  std::memset(pc, 0, len);
  for (int32_t j = 0; j < gnrPolarPcN && j < kPolarPcMax; j++)
    if (gnrPolarPcPos[j] >= 0 && static_cast<uint32_t>(gnrPolarPcPos[j]) < len &&
        infoInd[gnrPolarPcPos[j]])
      pc[gnrPolarPcPos[j]] = 1;
  infoN[0] = 0;
  for (uint32_t i = 0; i < len; i++)
    infoN[i + 1] = static_cast<uint16_t>(infoN[i] + (infoInd[i] != 0));
  for (uint32_t j = 0; j < len; j++) root[j] = inputLr(decIn[j], p);

  ScPass s{infoInd, pc, infoN, uHat, 0, 0};
  decodeNode(s, root, len, x, work);
  return true;
}
