#include "phy/common/tbs.h"

#include "config/bit_math.h"
#include "config/mcs_table.h"
#include "phy/common/dmrs.h"
#include "phy/common/tbs_table.inc"

namespace {

constexpr int32_t kMaxRePerPrb = 156;     // TS 38.214 5.1.3.2: N_RE = min(156, N'_RE) n_PRB
constexpr int64_t kTableMaxNinfo = 3824;  // TS 38.214 5.1.3.2 step 3 / step 4 boundary
constexpr int64_t kCrcLen = 24;           // TB CRC length in the step 4 formulas
constexpr int64_t kMaxCbLowRate = 3816;   // R <= 1/4: code blocks of base graph 2
constexpr int64_t kMaxCbBg1 = 8424;       // R > 1/4: code blocks of base graph 1
constexpr float kQuarterRateX1024 = 256.0f;
// N_info beyond any allocation of TS 38.214; keeps the integer steps defined for absurd inputs.
constexpr double kNinfoClamp = 9007199254740992.0;  // 2^53

int64_t ceilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

}  // namespace

uint64_t nrTbsQuantise(int64_t nInfo, bool lowRate, int64_t* C) {
  *C = 1;
  if (nInfo <= kTableMaxNinfo) {
    // Step 3: quantise, then the nearest table entry not below.
    int64_t nq = 24;
    if (nInfo > 0) {
      const int lg = static_cast<int>(nrFloorLog2(static_cast<uint64_t>(nInfo)));
      const int n = lg - 6 > 3 ? lg - 6 : 3;
      const int64_t v = (nInfo >> n) << n;
      if (v > nq) nq = v;
    }
    int k = 0;
    while (gnrTbsTable[k] < nq) k++;
    return gnrTbsTable[k];
  }
  // Step 4: quantise with rounding of halves upwards, then byte-aligned equal code blocks.
  const int n = static_cast<int>(nrFloorLog2(static_cast<uint64_t>(nInfo - kCrcLen))) - 5;
  int64_t nq = ((nInfo - kCrcLen + (int64_t{1} << (n - 1))) >> n) << n;
  if (nq < 3840) nq = 3840;
  if (lowRate)
    *C = ceilDiv(nq + kCrcLen, kMaxCbLowRate);
  else if (nq > kMaxCbBg1)
    *C = ceilDiv(nq + kCrcLen, kMaxCbBg1);
  return static_cast<uint64_t>(8 * *C * ceilDiv(nq + kCrcLen, 8 * *C) - kCrcLen);
}

uint64_t nrTbsCalc(int32_t mcsIndex, int32_t nRePerPrb, int32_t nPrb, int32_t numLayers,
                   int32_t* qm, int32_t* C, float* rateX1024, uint64_t* tbs, uint64_t* G,
                   uint8_t mcsTable) {
  // MCS index modulo 32, also for negative values.
  const uint32_t i = static_cast<uint32_t>(mcsIndex) & (kMcsTableSize - 1);
  const float rate = nrMcsRateX1024(mcsTable, i);
  const int32_t q = nrMcsQm(mcsTable, i);

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

  int64_t cbs = 1;
  const int64_t size = static_cast<int64_t>(nrTbsQuantise(nInfo, rate <= kQuarterRateX1024, &cbs));

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

uint32_t nrCalcDchTbs(uint16_t xOverhead, NrPdschCfg* pdsch) {
  uint32_t rate;  // x 2048
  if (pdsch->codeRate != 0) {
    rate = pdsch->codeRate;
    pdsch->codeRateRef = pdsch->codeRate;
  } else {
    rate = pdsch->codeRateRef;
    pdsch->codeRate = pdsch->codeRateRef;
  }

  uint8_t dmrsPos[kScPerRb] = {};
  uint8_t symFlag[kSymbolsPerSlot] = {};
  nrGetDmrsPos(dmrsPos, symFlag, pdsch);
  uint32_t scN = 0, symN = 0, allocSymN = 0;
  for (int k = 0; k < kScPerRb; k++) scN += dmrsPos[k];
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    symN += symFlag[l];
    allocSymN += (pdsch->symBitmap >> l) & 1;
  }
  const uint32_t dmrsRe = scN * symN * pdsch->cdmGrpNoData;

  // An overhead larger than the REs wraps and is then capped like any other excess.
  uint32_t rePerRb = 12u * allocSymN - dmrsRe - xOverhead;
  if (rePerRb > static_cast<uint32_t>(kMaxRePerPrb)) rePerRb = kMaxRePerPrb;

  // N_info = N_RE * R * Qm * v with R in 1/2048, rounded to nearest; 64-bit so that no
  // allocation of up to 280 RBs, 256QAM and two layers can wrap.
  const uint64_t nInfo64 =
      (static_cast<uint64_t>(pdsch->rbN) * rePerRb * rate * pdsch->Qm * pdsch->layerN + 1024u) >>
      11;
  int64_t C = 0;
  return static_cast<uint32_t>(nrTbsQuantise(static_cast<uint32_t>(nInfo64), rate <= 512, &C));
}
