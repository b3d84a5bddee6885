#include "phy/tx/tbs.h"

#include "config/mcs_table.h"
#include "phy/tx/tbs_table.inc"

namespace {

constexpr int32_t kMaxRePerPrb = 156;     // TS 38.214 5.1.3.2: N_RE = min(156, N'_RE) n_PRB
constexpr int64_t kTableMaxNinfo = 3824;  // TS 38.214 5.1.3.2 step 3 / step 4 boundary
constexpr int64_t kCrcLen = 24;           // TB CRC length in the step 4 formulas
constexpr int64_t kMaxCbLowRate = 3816;   // R <= 1/4: code blocks of base graph 2
constexpr int64_t kMaxCbBg1 = 8424;       // R > 1/4: code blocks of base graph 1
constexpr float kQuarterRateX1024 = 256.0f;
// N_info beyond any allocation of TS 38.214; keeps the integer steps defined for absurd inputs.
constexpr double kNinfoClamp = 9007199254740992.0;  // 2^53

int floorLog2(int64_t x) {
  int n = 0;
  while (x > 1) {
    x >>= 1;
    n++;
  }
  return n;
}

int64_t ceilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

}  // namespace

uint64_t nrTbsCalc(int32_t mcsIndex, int32_t nRePerPrb, int32_t nPrb, int32_t numLayers,
                   int32_t* qm, int32_t* C, float* rateX1024, uint64_t* tbs, uint64_t* G) {
  const int i = mcsIndex & (kMcsTableSize - 1);  // MCS index modulo 32, also for negative values
  const float rate = gnrMcsRateX1024[i];
  const int32_t q = gnrMcsQm[i];

  // N_RE = min(156, N'_RE) n_PRB, a 32-bit product that wraps.
  const int32_t nRe = static_cast<int32_t>(
      static_cast<uint32_t>(nRePerPrb < kMaxRePerPrb ? nRePerPrb : kMaxRePerPrb) *
      static_cast<uint32_t>(nPrb));
  // N_info: the product in single precision, in this order, then divided in double precision.
  float p = static_cast<float>(nRe);
  p = p * rate;
  p = p * static_cast<float>(q);
  p = p * static_cast<float>(numLayers);
  double d = static_cast<double>(p) / 1024.0;
  if (d > kNinfoClamp) d = kNinfoClamp;
  if (d < -kNinfoClamp) d = -kNinfoClamp;
  const int64_t nInfo = static_cast<int64_t>(d);

  int64_t size;
  int64_t cbs = 1;
  if (nInfo <= kTableMaxNinfo) {
    // TS 38.214 5.1.3.2 step 3: quantise, then the nearest table entry not below.
    int64_t nq = 24;
    if (nInfo > 0) {
      const int n = floorLog2(nInfo) - 6 > 3 ? floorLog2(nInfo) - 6 : 3;
      const int64_t v = (nInfo >> n) << n;
      if (v > nq) nq = v;
    }
    int k = 0;
    while (gnrTbsTable[k] < nq) k++;
    size = gnrTbsTable[k];
  } else {
    // Step 4: quantise with rounding of halves upwards, then byte-aligned equal code blocks.
    const int n = floorLog2(nInfo - kCrcLen) - 5;
    int64_t nq = ((nInfo - kCrcLen + (int64_t{1} << (n - 1))) >> n) << n;
    if (nq < 3840) nq = 3840;
    if (rate <= kQuarterRateX1024)
      cbs = ceilDiv(nq + kCrcLen, kMaxCbLowRate);
    else if (nq > kMaxCbBg1)
      cbs = ceilDiv(nq + kCrcLen, kMaxCbBg1);
    size = 8 * cbs * ceilDiv(nq + kCrcLen, 8 * cbs) - kCrcLen;
  }

  // G is formed as a 32-bit signed product (wrapping), the 156 cap does not apply.
  const int32_t g =
      static_cast<int32_t>(static_cast<uint32_t>(nRePerPrb) * static_cast<uint32_t>(nPrb) *
                           static_cast<uint32_t>(q) * static_cast<uint32_t>(numLayers));
  *qm = q;
  *C = static_cast<int32_t>(cbs);
  *rateX1024 = rate;
  *tbs = static_cast<uint64_t>(size);
  *G = static_cast<uint64_t>(static_cast<int64_t>(g));
  return *tbs;
}
