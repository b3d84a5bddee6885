#include "phy/coding/dlsch_encode.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "config/console.h"
#include "phy/coding/crc.h"
#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_rate_match.h"
#include "phy/common/sequence.h"
#include "phy/common/stage_profile.h"
#include "phy/common/tbs.h"
#include "phy/common/text_lines.h"

namespace {

// Work buffers, grown to the largest transport block seen and kept: the transport block with its
// CRC, one code block and its codeword.
std::vector<int32_t> gTb;
std::vector<int32_t> gCodeBlock;
std::vector<int32_t> gCodeword;
// The same on byte lanes, and the transport block packed 32 bits per word (first bit in bit 31)
// with two spare words, so that any 32-bit window of it can be read.
std::vector<int8_t> gTbBytes;
std::vector<int8_t> gCodewordBytes;
std::vector<uint32_t> gTbWords;
// One code block's data bits packed, for its CRC24B, and the transport-block bits under its CRC
// and fillers while it is encoded in place.
constexpr int kMaxCbBits = 8448;  // K of base graph 1 at Zc 384
uint32_t gCbWords[kMaxCbBits / 32 + 1];
int8_t gSetAside[kMaxCbBits];

// Writes the transport block and its CRC, one "%d\n" line per bit. The dump is diagnostic only:
// encoding goes on without it.
template <typename T>
void dumpTransportBlock(const T* bits, int64_t count) {
  nrWriteTextLines("EncCrcBuff.txt", false, static_cast<uint32_t>(count), [&](uint32_t i, char* s) {
    s = nrPutInt(s, static_cast<int32_t>(bits[i]));
    *s++ = '\n';
    return s;
  });
}

template <typename T>
T* sized(std::vector<T>& v, int64_t n) {
  if (v.size() < static_cast<size_t>(n)) v.resize(n);
  return v.data();
}

// TS 38.214 5.1.3.2 and TS 38.212 7.2.2 / 5.2.2: the transport block size and the coding
// parameters of the request, in nrLdpcParams; nullptr (reported) when it cannot be encoded.
NrLdpcParams* setUp(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                    uint8_t rv, int64_t outCap, uint8_t mcsTable) {
  int32_t Qm = 0;
  int32_t C = 0;
  float rateX1024 = 0;
  uint64_t tbs = 0;
  uint64_t G = 0;
  nrTbsCalc(mcsIndex, nRePerPrb, nPrb, numLayers, &Qm, &C, &rateX1024, &tbs, &G, mcsTable);
  const int64_t A = static_cast<int64_t>(tbs);

  NrLdpcParams* p = &nrLdpcParams;
  nrLdpcParamCalc(A, static_cast<int64_t>(G), rateX1024, Qm, rv, numLayers, p);
  p->Qm = Qm;
  p->A = static_cast<int32_t>(A);
  if (p->C == 0) return nullptr;  // rejected and reported by nrLdpcParamCalc
  const int64_t cap = outCap < 0 ? static_cast<int64_t>(G) : outCap;
  if (p->sumE > cap) {
    nrDiag("nrDlschEncode(): %lld coded bits exceed the output of %lld, nothing encoded!\n",
           static_cast<long long>(p->sumE), static_cast<long long>(cap));
    return nullptr;
  }

  return p;
}

}  // namespace

int64_t nrDlschEncode(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                      int32_t* out, uint8_t rv, int64_t outCap, uint8_t mcsTable) {
  NrStageScope encoding(NrStage::kEncoding);
  NrLdpcParams* p = setUp(mcsIndex, numLayers, nRePerPrb, nPrb, rv, outCap, mcsTable);
  if (!p) return 0;
  const int64_t A = p->A;

  // TS 38.212 7.2.1: PN9 payload, restarted for every transport block, then its CRC (CRC16 up to
  // 3824 bits, CRC24A above), parity bit i = register bit i.
  int32_t* tb = sized(gTb, A + 24);
  const int tbCrcLen = A <= 3824 ? kCrc16Len : kCrc24Len;
  {
    NrStageScope generation(NrStage::kGeneration);
    nrPnSeqInit(9);
    nrPnSeqGen(9, tb, static_cast<uint64_t>(A));
    const nrCrcType tbCrcType = A <= 3824 ? kCrc16 : kCrc24A;
    const uint32_t tbCrc = nrCrcCalc(tb, tbCrcType, static_cast<int32_t>(A));
    for (int i = 0; i < tbCrcLen; i++) tb[A + i] = static_cast<int32_t>((tbCrc >> i) & 1);
  }
  if (gnrDiagFilesOn) dumpTransportBlock(tb, A + tbCrcLen);

  // TS 38.212 5.2.2: code blocks of K' bits (each with a CRC24B when segmented) plus F fillers.
  int32_t* cb = sized(gCodeBlock, p->K);
  int32_t* cw = sized(gCodeword, p->Ncb);
  int64_t s = 0;
  int64_t o = 0;
  for (int32_t r = 0; r < p->C; r++) {
    if (p->C > 1) {
      const int32_t data = p->Kp - 24;
      std::memcpy(cb, tb + s, sizeof(int32_t) * data);
      const uint32_t cbCrc = nrCrcCalc(cb, kCrc24B, data);
      for (int i = 0; i < 24; i++) cb[data + i] = static_cast<int32_t>((cbCrc >> i) & 1);
    } else {
      std::memcpy(cb, tb + s, sizeof(int32_t) * p->Kp);
    }
    std::memset(cb + p->Kp, 0, sizeof(int32_t) * p->F);
    // Parity is computed only as far as this block's selection reads the circular buffer.
    if (!nrLdpcEncodeParity(cb, cw, p, nrLdpcRateMatchParityCols(r, p)) ||
        !nrLdpcRateMatch(cw, out + o, r, p))
      return 0;
    s += p->Kp - p->L;
    o += p->E[r];
  }
  return p->sumE;
}

int64_t nrDlschEncodeBytes(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                           int8_t* out, uint8_t rv, int64_t outCap, uint8_t mcsTable) {
  NrStageScope encoding(NrStage::kEncoding);
  NrLdpcParams* p = setUp(mcsIndex, numLayers, nRePerPrb, nPrb, rv, outCap, mcsTable);
  if (!p) return 0;
  const int64_t A = p->A;

  // TS 38.212 7.2.1 as in nrDlschEncode; the packed copy feeds the table-driven CRCs.
  int8_t* tb = sized(gTbBytes, A + 24 + kMaxCbBits);
  const int64_t words = (A + 24) / 32 + 2;
  uint32_t* tbw = sized(gTbWords, words);
  const int tbCrcLen = A <= 3824 ? kCrc16Len : kCrc24Len;
  {
    NrStageScope generation(NrStage::kGeneration);
    nrPnSeqInit(9);
    nrPnSeqGenBytes(9, tb, static_cast<uint64_t>(A), tbw);
    for (int64_t k = (A + 31) / 32; k < words; k++) tbw[k] = 0;
    const nrCrcType tbCrcType = A <= 3824 ? kCrc16 : kCrc24A;
    const uint32_t tbCrc = nrCrcCalcPacked(tbw, tbCrcType, static_cast<int32_t>(A));
    for (int i = 0; i < tbCrcLen; i++) {
      const uint32_t b = (tbCrc >> i) & 1;
      tb[A + i] = static_cast<int8_t>(b);
      tbw[(A + i) / 32] |= b << (31 - (A + i) % 32);
    }
  }
  if (gnrDiagFilesOn) dumpTransportBlock(tb, A + tbCrcLen);

  // TS 38.212 5.2.2 as in nrDlschEncode. Each code block is encoded in place in the transport
  // block, whose bits after the block's data (the next block's, or room at the end) are set aside
  // for the CRC24B and the fillers and put back afterwards: no copy of the data.
  int8_t* cw = sized(gCodewordBytes, p->Ncb);
  int64_t s = 0;
  int64_t o = 0;
  for (int32_t r = 0; r < p->C; r++) {
    int8_t* cb = tb + s;
    const int32_t data = p->Kp - p->L;
    const int32_t after = p->K - data;
    std::memcpy(gSetAside, cb + data, after);
    if (p->C > 1) {
      // The block's data bits from the packed transport block, realigned to a word boundary.
      const int64_t w0 = s / 32;
      const int sh = static_cast<int>(s % 32);
      const int32_t n = (data + 31) / 32;
      for (int32_t k = 0; k < n; k++)
        gCbWords[k] = sh ? (tbw[w0 + k] << sh) | (tbw[w0 + k + 1] >> (32 - sh)) : tbw[w0 + k];
      const uint32_t cbCrc = nrCrcCalcPacked(gCbWords, kCrc24B, data);
      for (int i = 0; i < 24; i++) cb[data + i] = static_cast<int8_t>((cbCrc >> i) & 1);
    }
    std::memset(cb + p->Kp, 0, p->F);
    const bool ok = nrLdpcEncodeBytes(cb, cw, p, nrLdpcRateMatchParityCols(r, p)) &&
                    nrLdpcRateMatchBytes(cw, out + o, r, p);
    std::memcpy(cb + data, gSetAside, after);
    if (!ok) return 0;
    s += data;
    o += p->E[r];
  }
  return p->sumE;
}
