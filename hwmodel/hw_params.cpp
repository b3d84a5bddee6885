#include "hwmodel/hw_params.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "config/console.h"
#include "config/mcs_table.h"
#include "phy/coding/ldpc_tables.h"
#include "phy/common/sequence.h"
#include "phy/common/tbs.h"

NrHwCwParams nrHwCwParams[kHwCodewords];

const int32_t kHwLiftBase[8] = {8, 12, 10, 7, 9, 11, 13, 15};
const int32_t kHwLiftThrExp[8] = {3, 2, 2, 3, 3, 2, 2, 2};

namespace {

constexpr int32_t kTbCrcLong = 24;               // CRC24A of a transport block above 3824 bits
constexpr int32_t kTbCrcShort = 16;              // CRC16 up to 3824 bits
constexpr int32_t kCbCrcLen = 24;                // CRC24B of a segmented code block
constexpr int64_t kTbCrc16MaxTbs = 3824;         // TS 38.212 7.2.1
constexpr int32_t kMaxRePerPrb = 156;            // TS 38.214 5.1.3.2: N_RE = min(156, N'_RE) n_PRB
constexpr unsigned kRandSeed = 686866;           // C library generator seed of a prepared run
constexpr int32_t kBg1Kb = kBg1Cols - kBg1Rows;  // 22
constexpr int32_t kBg2Kb = kBg2Cols - kBg2Rows;  // 10
constexpr int32_t kCoreRows = 4;                 // rows solved for the core parity columns
constexpr int32_t kQmList[] = {1, 2, 4, 6, 8};

// zExp of a record as the 3-bit register field reads it: zExp mod 8, patterns 6 and 7 being the
// negative exponents -2 and -1 of the smallest sizes.
int32_t zExpValue(int32_t zExp) {
  const int32_t p = zExp & 7;
  return p >= 6 ? p - 8 : p;
}

bool refuse(const char* who, const char* field, int64_t value, const char* reason) {
  nrDiag("%s(): %s = %lld %s, parameter set refused!\n", who, field, static_cast<long long>(value),
         reason);
  return false;
}

bool inRange(const char* who, const char* field, int64_t v, int64_t lo, int64_t hi,
             const char* reason) {
  return (v >= lo && v <= hi) || refuse(who, field, v, reason);
}

// The code a record describes, derived once per check.
struct Code {
  int32_t Zc, kb, cols, rows, K, Kp, N, fS, fE;
};

Code codeOf(const NrHwCwParams* r) {
  Code c{};
  c.Zc = nrHwLiftSize(r->iLS, r->zExp);
  c.kb = r->bgIdx == 0 ? kBg1Kb : kBg2Kb;
  c.cols = r->bgIdx == 0 ? kBg1Cols : kBg2Cols;
  c.rows = r->bgIdx == 0 ? kBg1Rows : kBg2Rows;
  c.K = c.kb * c.Zc;
  c.Kp = nrHwRecordKp(r);
  c.N = (c.cols - 2) * c.Zc;
  c.fS = c.Kp - 2 * c.Zc;  // TS 38.212 5.4.2.1: fillers after the punctured 2 Zc bits
  c.fE = c.K - 2 * c.Zc;
  return c;
}

// Register widths and the code the fields describe; the row starts only when starts is set.
bool checkFields(const NrHwCwParams* r, const char* who, bool starts) {
  if (!inRange(who, "bgIdx", r->bgIdx, 0, 1, "is no base graph (1-bit field)") ||
      !inRange(who, "iLS", r->iLS, 0, 7, "is no lifting-size set (3-bit field)") ||
      !inRange(who, "zExp", r->zExp, -2, 7, "does not fit its 3-bit field (-2 .. 5)"))
    return false;
  if (nrHwLiftSize(r->iLS, r->zExp) == 0)
    return refuse(who, "zExp", r->zExp, "gives no lifting size of its set");
  const int32_t extRows = (r->bgIdx == 0 ? kBg1Rows : kBg2Rows) - kCoreRows;
  if (!inRange(who, "extRowStart", r->extRowStart, 0, kHwMaxExtRowField,
               "does not fit its 6-bit field") ||
      !inRange(who, "extRowNum", r->extRowNum, 0, kHwMaxExtRowField,
               "does not fit its 6-bit field") ||
      !inRange(who, "extRowStart + extRowNum", int64_t{r->extRowStart} + r->extRowNum, 0, extRows,
               "exceeds the extension rows of the base graph") ||
      !inRange(who, "infoLen", r->infoLen, 0, kHwMaxInfoLen, "does not fit its 14-bit field") ||
      !inRange(who, "tbCrc24", r->tbCrc24, 0, 1, "does not fit its 1-bit field") ||
      !inRange(who, "cbNum", r->cbNum, 1, kHwMaxCbNum, "does not fit its 8-bit field (1 .. 255)") ||
      !inRange(who, "cbBoundary", r->cbBoundary, 0, kHwMaxCbNum, "does not fit its 8-bit field") ||
      !inRange(who, "layerNumM1", r->layerNumM1, 0, kHwMaxLayers - 1,
               "does not fit its 2-bit field") ||
      !inRange(who, "eRowSmall", r->eRowSmall, 0, kHwMaxERowSmall,
               "does not fit its 16-bit field") ||
      !inRange(who, "Ncb", r->Ncb, 1, kHwMaxNcb, "does not fit its 15-bit field"))
    return false;
  bool qmKnown = false;
  for (int32_t q : kQmList) qmKnown |= r->Qm == q;
  if (!qmKnown) return refuse(who, "Qm", r->Qm, "is no modulation order (1, 2, 4, 6, 8)");
  for (int j = 0; j < 8; j++)
    if (!inRange(who, "m_k0", r->m_k0[j], 0, kHwMaxNcb, "does not fit its 15-bit field"))
      return false;

  // The code itself: the CRC and encoder memories hold K' <= K bits, the rate matcher reads the
  // buffer behind the 2 Zc punctured bits, where the fillers lie.
  const Code c = codeOf(r);
  if (!inRange(who, "K'", c.Kp, 2 * c.Zc, c.K, "lies outside 2 Zc .. K of the lifting size"))
    return false;
  const int32_t tbCrcLen = r->tbCrc24 ? kTbCrcLong : kTbCrcShort;
  if (r->cbNum > 1 && !inRange(who, "infoLen", r->infoLen, tbCrcLen, kHwMaxInfoLen,
                               "cannot end in the transport-block CRC of a segmented block"))
    return false;
  if (!inRange(who, "infoLen x cbNum", int64_t{r->infoLen} * r->cbNum, 0, kHwPayloadBits,
               "exceeds the payload area") ||
      !inRange(who, "Ncb", r->Ncb, 1, c.N, "exceeds the punctured codeword"))
    return false;
  const int32_t fillEnd = c.fE < r->Ncb ? c.fE : r->Ncb;
  const int32_t fillers = fillEnd > c.fS ? fillEnd - c.fS : 0;
  if (r->Ncb - fillers < 1) return refuse(who, "Ncb", r->Ncb, "holds filler bits only");
  const int64_t longRow =
      int64_t{r->eRowSmall} + (r->cbBoundary < r->cbNum - 1 ? r->layerNumM1 + 1 : 0);
  if (!inRange(who, "eRow", longRow, 0, kHwFifoDepth, "exceeds the output FIFO depth"))
    return false;
  if (!starts) return true;
  for (int j = 0; j < r->Qm; j++) {
    const int32_t p = r->m_k0[j];
    if (p >= r->Ncb) return refuse(who, "m_k0", p, "lies beyond the circular buffer");
    if (p >= c.fS && p < c.fE) return refuse(who, "m_k0", p, "lies among the filler bits");
  }
  return true;
}

// Closed-form row starts of a record whose other fields have been checked.
void rowStarts(NrHwCwParams* r, int32_t k0) {
  const Code c = codeOf(r);
  const int64_t F = c.K - c.Kp;
  const int64_t ncb = r->Ncb;
  const int64_t e = r->eRowSmall;
  const int64_t m = ncb - F;  // non-filler positions of the buffer
  int32_t out[8] = {};
  // A k0 among the fillers selects its first bit at the end of the filler range.
  out[0] = k0 >= c.fS && k0 <= c.fE ? c.fE : k0;
  for (int j = 0; j + 1 < r->Qm; j++) {
    const int64_t p = out[j];
    // f counts the filler ranges the next eRowSmall selected bits step over: the one ahead of p,
    // one per full pass of the buffer, and one more if the last partial pass reaches it.
    int64_t f = p < c.fS && c.fS <= p + e ? 1 : 0;
    const int64_t J = e - (ncb - p - f * F);  // bits left after the first wrap to position 0
    if (J > 0) {
      const int64_t q = J / m;
      const int64_t rem = J % m;
      f += rem >= c.fS ? q + 1 : q;
    }
    out[j + 1] = static_cast<int32_t>((p + e + f * F) % ncb);
  }
  std::memcpy(r->m_k0, out, sizeof(out));
}

bool rowStartsChecked(NrHwCwParams* r, int32_t k0, const char* who) {
  if (!checkFields(r, who, false)) return false;
  const Code c = codeOf(r);
  if (!inRange(who, "Ncb", r->Ncb, c.fE, kHwMaxNcb, "ends inside the filler bits") ||
      !inRange(who, "k0", k0, 0, r->Ncb - 1, "lies outside the circular buffer"))
    return false;
  rowStarts(r, k0);
  return true;
}

int64_t ceilDiv(int64_t a, int64_t b) { return (a + b - 1) / b; }

}  // namespace

int32_t nrHwLiftSize(int32_t iLS, int32_t zExp) {
  if (iLS < 0 || iLS > 7 || zExp < -2 || zExp > 7) return 0;
  const int32_t z = zExpValue(zExp);
  const int32_t base = kHwLiftBase[iLS];
  int32_t zc = 0;
  if (z >= 0)
    zc = base << z;
  else if (base % (1 << -z) == 0)
    zc = base >> -z;
  const int32_t idx = nrLdpcLiftIndex(zc);
  return idx >= 0 && nrLdpcLiftSet(idx) == iLS ? zc : 0;
}

int32_t nrHwRecordKp(const NrHwCwParams* record) {
  const int32_t crc = record->cbNum > 1 ? kCbCrcLen : record->tbCrc24 ? kTbCrcLong : kTbCrcShort;
  return record->infoLen + crc;
}

bool nrHwCwParamsCheck(const NrHwCwParams* record, const char* who) {
  return checkFields(record, who, true);
}

bool nrHwRowStartCalc(NrHwCwParams* record, int32_t k0) {
  return rowStartsChecked(record, k0, "nrHwRowStartCalc");
}

uint64_t nrHwLdpcParamCalc(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                           int32_t rv, NrHwCwParams* record) {
  static const char* const kWho = "nrHwLdpcParamCalc";
  if (!inRange(kWho, "numLayers", numLayers, 1, kHwMaxLayers, "does not fit layerNumM1") ||
      !inRange(kWho, "nRePerPrb", nRePerPrb, 1, INT32_MAX, "gives no coded bits") ||
      !inRange(kWho, "nPrb", nPrb, 1, INT32_MAX, "gives no coded bits"))
    return 0;

  // TS 38.214 5.1.3.1: rate x 1024 truncated to an integer, MCS index table 2.
  const int i = mcsIndex & (kMcsTableSize - 1);
  const int64_t r1024 = static_cast<int64_t>(gnrMcsRateX1024[i]);
  const int64_t qm = gnrMcsQm[i];
  const int64_t w = qm * numLayers;

  // TS 38.214 5.1.3.2: N_info and G are 32-bit products in the accelerator's parameter unit.
  const int64_t re = nRePerPrb < kMaxRePerPrb ? nRePerPrb : kMaxRePerPrb;
  const int64_t product = r1024 * re * nPrb * w;
  if (!inRange(kWho, "N_info x 1024", product, 0, INT32_MAX, "exceeds 32 bits")) return 0;
  const int64_t nInfo = product >> 10;
  const int64_t rePrb = int64_t{nRePerPrb} * nPrb;
  if (!inRange(kWho, "REs x PRBs", rePrb, 1, INT32_MAX / w, "gives G beyond 32 bits")) return 0;
  const int64_t G = rePrb * w;

  int64_t tbsBlocks = 0;
  const int64_t tbs = static_cast<int64_t>(nrTbsQuantise(nInfo, r1024 <= 256, &tbsBlocks));

  // TS 38.212 7.2.2: base graph 2 for small blocks, rates below 0.67 up to 3824 bits and rates
  // up to 1/4.
  const bool bg2 = tbs <= 292 || (tbs <= kTbCrc16MaxTbs && r1024 < 687) || r1024 <= 256;
  const int32_t kb = bg2 ? kBg2Kb : kBg1Kb;

  // TS 38.212 7.2.1 and 5.2.2: transport-block CRC, segmentation, K'.
  const int64_t tbCrcLen = tbs > kTbCrc16MaxTbs ? kTbCrcLong : kTbCrcShort;
  const int64_t B = tbs + tbCrcLen;
  const int64_t Kcb = bg2 ? 3840 : 8448;
  const int64_t L = B > Kcb ? kCbCrcLen : 0;
  const int64_t C = B > Kcb ? ceilDiv(B, Kcb - L) : 1;
  if (!inRange(kWho, "code blocks C", C, 1, kHwMaxCbNum, "does not fit cbNum (8 bits)")) return 0;
  const int64_t Kp = ceilDiv(B + C * L, C);
  int32_t Kb = kb;
  if (bg2) Kb = B > 640 ? 10 : B > 560 ? 9 : B > 192 ? 8 : 6;
  const int32_t zcIdx = nrLdpcLiftCeilIndex(ceilDiv(Kp, Kb));
  if (zcIdx < 0) {
    refuse(kWho, "K'", Kp, "needs a lifting size above 384");
    return 0;
  }
  const int32_t Zc = gnrLdpcLiftSizes[zcIdx];
  const int32_t iLS = nrLdpcLiftSet(zcIdx);
  const int32_t posInSet = zcIdx - (iLS == 0 ? 0 : gnrLdpcLiftSetEnd[iLS - 1]);
  const int32_t N = (bg2 ? kBg2Cols - 2 : kBg1Cols - 2) * Zc;

  // TS 38.212 Table 5.4.2.1-2 with Ncb = N (no limited-buffer rate matching).
  static constexpr int32_t kRvNum[2][3] = {{17, 33, 56}, {13, 25, 43}};
  const int32_t Ncb = N;
  int32_t k0 = 0;
  if (rv != 0) {
    const int32_t c = kRvNum[bg2 ? 1 : 0][rv == 1 ? 0 : rv == 2 ? 1 : 2];
    k0 = static_cast<int32_t>(int64_t{c} * Ncb / N) * Zc;
  }

  // TS 38.212 5.4.2.1: E_r of every block, the smaller length up to block cbBoundary.
  const int64_t eSmall = w * (G / (w * C));
  const int64_t symbols = ceilDiv(G, w);

  NrHwCwParams rec{};
  rec.bgIdx = bg2 ? 1 : 0;
  rec.iLS = iLS;
  rec.zExp = posInSet - (iLS < 2 ? 2 : iLS == 2 ? 1 : 0);
  rec.extRowStart = 0;
  rec.extRowNum = (bg2 ? kBg2Rows : kBg1Rows) - kCoreRows;
  rec.infoLen = static_cast<int32_t>(C > 1 ? Kp - kCbCrcLen : tbs);
  rec.tbCrc24 = tbCrcLen == kTbCrcLong ? 1 : 0;
  rec.Ncb = Ncb;
  rec.Qm = static_cast<int32_t>(qm);
  rec.layerNumM1 = numLayers - 1;
  rec.cbNum = static_cast<int32_t>(C);
  rec.cbBoundary = static_cast<int32_t>(C - symbols % C - 1);
  // eSmall <= G < 2^31; a row beyond the 16-bit field is refused by the check below.
  rec.eRowSmall = static_cast<int32_t>(eSmall / qm);
  if (!rowStartsChecked(&rec, k0, kWho) || !checkFields(&rec, kWho, true)) return 0;
  *record = rec;
  return static_cast<uint64_t>(tbs);
}

bool nrHwRegPack(const NrHwCwParams* record, bool startFlag, uint32_t* words) {
  if (!nrHwCwParamsCheck(record, "nrHwRegPack")) return false;
  const auto u = [](int32_t v, uint32_t bits) {
    return static_cast<uint32_t>(v) & ((1u << bits) - 1);
  };
  const NrHwCwParams& r = *record;
  words[0] = startFlag ? 1u : 0u;
  words[1] = u(r.bgIdx, 1) | u(r.iLS, 3) << 4 | u(r.zExp, 3) << 8 | u(r.extRowStart, 6) << 16 |
             u(r.extRowNum, 6) << 24;
  words[2] = u(r.tbCrc24, 1) | u(r.infoLen, 14) << 4;
  words[3] = u(r.Ncb, 15) | u(r.Qm, 4) << 16 | u(r.layerNumM1, 2) << 20;
  words[4] = u(r.cbNum, 8) | u(r.cbBoundary, 8) << 8;
  words[5] = u(r.eRowSmall, 16);
  for (int i = 0; i < 4; i++) words[6 + i] = u(r.m_k0[2 * i], 15) | u(r.m_k0[2 * i + 1], 15) << 16;
  return true;
}

void nrHwRegUnpack(const uint32_t* regs) {
  const auto f = [](uint32_t w, int lsb, int bits) {
    return static_cast<int32_t>((w >> lsb) & ((1u << bits) - 1));
  };
  for (int cw = 0; cw < kHwCodewords; cw++) {
    const uint32_t* w = regs + cw * kHwCfgRegWords;
    NrHwCwParams& r = nrHwCwParams[cw];
    r.bgIdx = f(w[1], 0, 1);
    r.iLS = f(w[1], 4, 3);
    r.zExp = f(w[1], 8, 3);
    r.extRowStart = f(w[1], 16, 6);
    r.extRowNum = f(w[1], 24, 6);
    r.tbCrc24 = f(w[2], 0, 1);
    r.infoLen = f(w[2], 4, 14);
    r.Ncb = f(w[3], 0, 15);
    r.Qm = f(w[3], 16, 4);
    r.layerNumM1 = f(w[3], 20, 2);
    r.cbNum = f(w[4], 0, 8);
    r.cbBoundary = f(w[4], 8, 8);
    r.eRowSmall = f(w[5], 0, 16);
    for (int i = 0; i < 4; i++) {
      r.m_k0[2 * i] = f(w[6 + i], 0, 15);
      r.m_k0[2 * i + 1] = f(w[6 + i], 16, 15);
    }
  }
}

uint64_t nrHwTxPrepare(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                       uint32_t* regs, int32_t* payload) {
  NrHwCwParams rec;
  const uint64_t tbs = nrHwLdpcParamCalc(mcsIndex, numLayers, nRePerPrb, nPrb, 0, &rec);
  if (tbs == 0) return 0;
  // The record passed its check, so the transport block (infoLen x cbNum bits with its CRC)
  // fits a payload area and the words pack.
  std::srand(kRandSeed);
  nrPnSeqInit(9);
  nrPnSeqGen(9, payload, tbs);
  nrHwRegPack(&rec, true, regs);
  std::memcpy(regs + kHwCfgRegWords, regs, sizeof(uint32_t) * kHwCfgRegWords);
  regs[kHwCfgRegWords] = 0;  // start flag of codeword 1
  nrHwCwParams[0] = rec;
  nrHwCwParams[1] = rec;
  std::memcpy(payload + kHwPayloadBits, payload, sizeof(int32_t) * kHwPayloadBits);
  return tbs;
}

bool nrHwCoreParamCalc(const NrHwCwParams* record, LdpcCoreParams* core) {
  if (!nrHwCwParamsCheck(record, "nrHwCoreParamCalc")) return false;
  const Code c = codeOf(record);
  const int32_t z = zExpValue(record->zExp);
  const int32_t thr = kHwLiftThrExp[record->iLS];
  LdpcCoreParams p{};
  p.Zthr = kHwLiftBase[record->iLS] << thr;
  p.zExpBelow = c.Zc > p.Zthr ? -1 : thr - z;
  p.zExpAbove = c.Zc > p.Zthr ? z - thr : 0;
  p.bgIdx = record->bgIdx;
  p.iLS = record->iLS;
  p.Zc = c.Zc;
  p.N = c.N;
  p.K = c.K;
  p.kb = c.kb;
  p.cols = c.cols;
  p.rows = c.rows;
  p.Kp = c.Kp;
  p.extColStart = c.kb + kCoreRows + record->extRowStart;
  p.extColEnd = p.extColStart + record->extRowNum;
  *core = p;
  return true;
}

bool nrHwBankGeometry(int32_t Zc, int32_t Zthr, int32_t expAbove, int32_t* bitLenOneBank,
                      int32_t* bankNumOneZc) {
  if (Zc < 1 || Zthr < 1 || expAbove < 0 || expAbove > 5) return false;
  int32_t len = Zc;
  int32_t num = 1;
  if (Zc >= Zthr) {
    // Above the threshold a column block is split into rows of the threshold size, halved when
    // such a row would not fit the 48 slots.
    len = Zthr <= kHwBankRowSlots ? Zthr : Zthr / 2;
    num = Zthr <= kHwBankRowSlots ? 1 << expAbove : 1 << (expAbove + 1);
  }
  if (len > kHwBankRowSlots || len * num != Zc) return false;
  *bitLenOneBank = len;
  *bankNumOneZc = num;
  return true;
}
