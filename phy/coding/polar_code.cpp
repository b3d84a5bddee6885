#include "phy/coding/polar_code.h"

#include <array>
#include <bit>
#include <cstring>

#include "config/bit_math.h"
#include "config/console.h"
#include "phy/coding/polar_tables.inc"

int32_t gnrPolarPcPos[kPolarPcMax];
int32_t gnrPolarPcN;

namespace {

// J(n) of TS 38.212 5.4.1.1 for every N = 2^5 .. 2^10, one after another (N = 2^n from offset
// 2^n - 32), computed at compile time from the sub-block pattern P.
constexpr int kSubblockTableLen = 2 * kPolarNmaxLen - kPolarSubblockN;

constexpr std::array<int16_t, kSubblockTableLen> makeSubblockTables() {
  std::array<int16_t, kSubblockTableLen> t{};
  for (int N = kPolarSubblockN; N <= kPolarNmaxLen; N *= 2) {
    const int blk = N / kPolarSubblockN;
    for (int n = 0; n < N; n++)
      t[N - kPolarSubblockN + n] = static_cast<int16_t>(kPolarSubblock[n / blk] * blk + n % blk);
  }
  return t;
}

constexpr auto kSubblockTables = makeSubblockTables();

// Integer ceiling of a / b for a >= 0, b > 0.
constexpr uint32_t ceilDiv(uint32_t a, uint32_t b) { return (a + b - 1) / b; }

}  // namespace

namespace polar_detail {

bool validLength(uint32_t N) {
  return N >= kPolarSubblockN && N <= kPolarNmaxLen && std::has_single_bit(N);
}

const int16_t* sequence() { return kPolarSequence; }

const int16_t* subblockPerm() { return kPolarSubblock; }

const int16_t* subblockTable(uint32_t N) { return kSubblockTables.data() + N - kPolarSubblockN; }

}  // namespace polar_detail

uint32_t nrPolarCodeLength(uint32_t K, uint32_t E, uint32_t nMax) {
  if (K == 0 || E == 0 || nMax < kPolarNminLog2 || nMax > kPolarNmaxLog2) return 0;
  // n1 = ceil(log2 E), less one when E <= (9/8) 2^(n1 - 1) and K/E < 9/16.
  uint32_t n1 = nrCeilLog2(E);
  if (n1 >= 1 && 8ull * E <= 9ull * (1ull << (n1 - 1)) && 16ull * K < 9ull * E) n1--;
  const uint32_t n2 = nrCeilLog2(8ull * K);  // minimum code rate 1/8
  uint32_t n = n1 < n2 ? n1 : n2;
  if (nMax < n) n = nMax;
  if (n < kPolarNminLog2) n = kPolarNminLog2;
  return 1u << n;
}

bool nrPolarSubblockPattern(uint32_t N, int16_t* J) {
  if (!polar_detail::validLength(N)) return false;
  std::memcpy(J, polar_detail::subblockTable(N), N * sizeof(int16_t));
  return true;
}

uint32_t nrPolarIlPattern(uint32_t K, int16_t* pi) {
  if (K == 0 || K > kPolarKilMax) return 0;
  // TS 38.212 5.3.1.1: keep the entries of Pi_IL^max that are at least K_IL^max - K, shifted down.
  const int16_t drop = static_cast<int16_t>(kPolarKilMax - K);
  uint32_t k = 0;
  for (int m = 0; m < kPolarKilMax; m++)
    if (kPolarIlMax[m] >= drop) pi[k++] = static_cast<int16_t>(kPolarIlMax[m] - drop);
  return k;
}

bool nrPolarConstruct(uint32_t K, uint32_t E, uint32_t N, uint32_t nMax) {
  if (!polar_detail::validLength(N) || K == 0 || K > E) {
    nrDiag("nrPolarConstruct: K %u, E %u, N %u: no code (K from 1 to E, N a power of two 32..%d)\n",
           K, E, N, kPolarNmaxLen);
    return false;
  }
  const uint32_t nPc = nrPolarPcCount(K, nMax);
  const uint32_t nPcWm = nPc > 0 && E - K > kPolarPcWmMinGap ? 1 : 0;

  // Q_F,tmp of TS 38.212 5.4.1.1: the positions rate matching leaves without a transmitted bit.
  static uint8_t forcedFrozen[kPolarNmaxLen];
  std::memset(forcedFrozen, 0, N);
  const int16_t* J = polar_detail::subblockTable(N);
  if (E < N) {
    if (nrPolarPunctured(K, E)) {
      for (uint32_t n = 0; n < N - E; n++) forcedFrozen[J[n]] = 1;
      const uint32_t T = 4 * E >= 3 * N ? ceilDiv(3 * N - 2 * E, 4) : ceilDiv(9 * N - 4 * E, 16);
      for (uint32_t n = 0; n < T && n < N; n++) forcedFrozen[n] = 1;
    } else {
      for (uint32_t n = E; n < N; n++) forcedFrozen[J[n]] = 1;
    }
  }

  // Q_I: the K + n_PC most reliable positions below N outside Q_F,tmp, most reliable first.
  static int16_t infoSet[kPolarNmaxLen];
  uint32_t taken = 0;
  for (int q = kPolarNmaxLen - 1; q >= 0 && taken < K + nPc; q--) {
    const int16_t i = kPolarSequence[q];
    if (static_cast<uint32_t>(i) < N && !forcedFrozen[i]) infoSet[taken++] = i;
  }
  if (taken < K + nPc) {
    nrDiag("nrPolarConstruct: K %u, E %u, N %u: only %u positions left by rate matching\n", K, E, N,
           taken);
    return false;
  }

  std::memset(gnrPolarInfoInd, 0, kPolarNmaxLen);
  for (uint32_t k = 0; k < taken; k++) gnrPolarInfoInd[infoSet[k]] = 1;

  // TS 38.212 5.3.1.2: n_PC - n_PC^wm parity checks on the least reliable positions of Q_I; the
  // n_PC^wm other on the position of smallest row weight 2^popcount(i) among the K most reliable
  // (the most reliable of them on ties).
  std::memset(gnrPolarPcPos, 0, sizeof(gnrPolarPcPos));
  gnrPolarPcN = static_cast<int32_t>(nPc);
  for (uint32_t j = 0; j < nPc - nPcWm; j++) gnrPolarPcPos[j] = infoSet[taken - 1 - j];
  if (nPcWm) {
    uint32_t best = 0;
    for (uint32_t k = 1; k < K; k++)
      if (std::popcount(static_cast<uint32_t>(infoSet[k])) <
          std::popcount(static_cast<uint32_t>(infoSet[best])))
        best = k;
    gnrPolarPcPos[nPc - 1] = infoSet[best];
  }
  return true;
}
