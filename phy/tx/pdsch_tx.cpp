#include "phy/tx/pdsch_tx.h"

#include <cstdio>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "config/console.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/common/dmrs.h"
#include "phy/common/sequence.h"
#include "phy/common/stage_profile.h"
#include "phy/common/tbs.h"
#include "phy/tx/modulate.h"

namespace {

constexpr int kMaxPdsch = 10;        // capacity of pdschCfg
constexpr int kMaxCodeBlocks = 100;  // what the shared-channel encoder can hold
constexpr uint16_t kSymBitmapMask = (1u << kSymbolsPerSlot) - 1;

// Work buffers, grown to the largest entry seen and reused.
std::vector<int8_t> bitBuf;    // coded bits, one byte each
std::vector<int16_t> softBuf;  // bipolar values for the mapper (data or one DMRS symbol)
std::vector<int32_t> symBuf;   // modulated symbols (data or one DMRS symbol)

template <typename T>
T* workBuffer(std::vector<T>& v, uint64_t n) {
  if (v.size() < n) v.resize(n);
  return v.data();
}

// TS 38.211 7.3.1.3 / 7.3.1.5: n symbols src[0], src[L], src[2L], ... of one layer to its grid,
// symbol by symbol, RB in list order, subcarriers ascending, around the DMRS: a whole RB of 12
// at a time off the DMRS symbols, the dataScN subcarriers dataSc in a DMRS symbol; what does not
// fit the allocation is dropped, an allocation left over keeps its REs.
void mapLayer(NrNbTxBuf* port, const NrPdschCfg& d, const NrPdschLayout& lay, const int32_t* src,
              uint64_t n, int L, const int* dataSc, int dataScN) {
  uint64_t m = 0;  // symbols of this layer placed so far
  for (int l = lay.startSym; l <= lay.lastSym && m < n; l++) {
    int32_t* row = port->nbTxGrid[l];
    const bool dmrsSym = lay.dchDmrsSym[l] != 0;
    if (dmrsSym && lay.dmrsNoData) continue;
    const int perRb = dmrsSym ? dataScN : kScPerRb;
    for (int r = 0; r < d.rbN && m < n; r++) {
      int32_t* rb = row + kScPerRb * d.rbIdx[r];
      const int32_t* s = src + m * L;
      const int take = n - m < static_cast<uint64_t>(perRb) ? static_cast<int>(n - m) : perRb;
      if (!dmrsSym && take == kScPerRb) {
        if (L == 1) {
          std::memcpy(rb, s, sizeof(int32_t) * kScPerRb);
        } else {
          for (int k = 0; k < kScPerRb; k++) rb[k] = s[k * L];
        }
      } else if (!dmrsSym) {
        for (int k = 0; k < take; k++) rb[k] = s[k * L];
      } else {
        for (int k = 0; k < take; k++) rb[dataSc[k]] = s[k * L];
      }
      m += take;
    }
  }
}

// The 24 symbols s of one RB to its 12 REs of layer 0 (even) and layer 1 (odd).
inline void splitPairs(int32_t* __restrict a, int32_t* __restrict b, const int32_t* __restrict s) {
#if defined(__SSE2__)
  for (int k = 0; k < kScPerRb; k += 4) {
    const __m128 lo =
        _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * k)));
    const __m128 hi =
        _mm_castsi128_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 2 * k + 4)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(a + k),
                     _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0))));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(b + k),
                     _mm_castps_si128(_mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1))));
  }
#else
  for (int k = 0; k < kScPerRb; k++) {
    a[k] = s[2 * k];
    b[k] = s[2 * k + 1];
  }
#endif
}

// mapLayer for two layers of n symbols each at once: every RB of a non-DMRS symbol takes 24
// consecutive codeword symbols, the even ones for layer 0 and the odd ones for layer 1.
void mapTwoLayers(NrNbTxBuf* port0, NrNbTxBuf* port1, const NrPdschCfg& d, const NrPdschLayout& lay,
                  const int32_t* src, uint64_t n, const int* dataSc, int dataScN) {
  uint64_t m = 0;
  for (int l = lay.startSym; l <= lay.lastSym && m < n; l++) {
    const bool dmrsSym = lay.dchDmrsSym[l] != 0;
    if (dmrsSym && lay.dmrsNoData) continue;
    const int perRb = dmrsSym ? dataScN : kScPerRb;
    for (int r = 0; r < d.rbN && m < n; r++) {
      int32_t* __restrict a = port0->nbTxGrid[l] + kScPerRb * d.rbIdx[r];
      int32_t* __restrict b = port1->nbTxGrid[l] + kScPerRb * d.rbIdx[r];
      const int32_t* __restrict s = src + 2 * m;
      const int take = n - m < static_cast<uint64_t>(perRb) ? static_cast<int>(n - m) : perRb;
      if (!dmrsSym && take == kScPerRb) {
        splitPairs(a, b, s);
      } else {
        for (int k = 0; k < take; k++) {
          const int sc = dmrsSym ? dataSc[k] : k;
          a[sc] = s[2 * k];
          b[sc] = s[2 * k + 1];
        }
      }
      m += take;
    }
  }
}

}  // namespace

const char* nrPdschTxCheck(const NrPdschCfg* pdsch) {
  if ((pdsch->symBitmap & kSymBitmapMask) == 0) return "no PDSCH symbol in symBitmap";
  if (pdsch->layerN == 0) return "layerN is 0";
  if (pdsch->rbN > kMaxRb) return "rbN above 280";
  for (int r = 0; r < pdsch->rbN; r++)
    if (pdsch->rbIdx[r] >= kMaxRb) return "RB index beyond the grid";
  if (pdsch->dmrsFirstSym >= kSymbolsPerSlot) return "DMRS symbol beyond the slot";
  if (pdsch->dmrsAddPosN > kDmrsMaxAddPos) return "more than 3 additional DMRS positions";
  for (int i = 0; i < pdsch->dmrsAddPosN; i++)
    if (pdsch->dmrsAddPos[i] >= kSymbolsPerSlot) return "DMRS symbol beyond the slot";
  if (pdsch->dmrsEn == 1 && pdsch->dmrsType != 1 && pdsch->dmrsType != 2)
    return "DMRS type not 1 or 2";
  for (int j = 0; pdsch->dmrsEn == 1 && j < nrDmrsPortCount(pdsch); j++)
    if (pdsch->dmrsPortIdx[j] >= (pdsch->dmrsType == 1 ? 8 : 12))
      return "listed DMRS port outside 1000..1007 (type 1) or 1000..1011 (type 2)";
  if (pdsch->dmrsEn == 1)
    for (int v = 0; v < pdsch->layerN && v < kMaxLayers; v++)
      if (nrDmrsLayerPort(pdsch, v) >= (pdsch->dmrsType == 1 ? 8 : 12))
        return "DMRS port of a layer outside 1000..1007 (type 1) or 1000..1011 (type 2)";
  return nullptr;
}

void nrPdschLayout(const NrPdschCfg* pdsch, NrPdschLayout* layout) {
  NrPdschLayout& o = *layout;
  o = NrPdschLayout{};

  const uint16_t symBits = pdsch->symBitmap & kSymBitmapMask;
  o.startSym = static_cast<uint16_t>(__builtin_ctz(symBits));
  o.lastSym = static_cast<uint16_t>(31 - __builtin_clz(symBits));

  o.dchDmrsSym[pdsch->dmrsFirstSym] = 1;
  for (int i = 0; i < pdsch->dmrsAddPosN; i++) o.dchDmrsSym[pdsch->dmrsAddPos[i]] = 1;

  if (pdsch->dmrsEn == 1) {
    // TS 38.211 7.4.1.1.2: the DMRS of the listed ports (value j stands for port 1000 + j);
    // TS 38.214 5.1.6.2: no data on the CDM groups without data either.
    const uint16_t dmrsSc = nrDmrsListSc(pdsch);
    const uint16_t noDataSc = nrDmrsNoDataSc(pdsch);
    for (int k = 0; k < kScPerRb; k++) {
      o.dchDmrsSc[k] = (dmrsSc >> k) & 1;
      o.dchNoDataSc[k] = (noDataSc >> k) & 1;
    }
    o.dmrsNoData = noDataSc == kDmrsAllSc;
  }
  int noDataN = 0;
  for (int k = 0; k < kScPerRb; k++) {
    o.nDmrsSc += o.dchDmrsSc[k];
    noDataN += o.dchNoDataSc[k];
  }

  // Data room per RB: every symbol of the run, less the subcarriers without data of each DMRS
  // symbol that lies inside it (counted once however often it is listed).
  const int overheadPerSym = noDataN;
  int re = kScPerRb * (o.lastSym - o.startSym + 1);
  for (int l = o.startSym; l <= o.lastSym; l++)
    if (o.dchDmrsSym[l]) re -= overheadPerSym;
  o.nRePerPrb = static_cast<uint16_t>(re);
}

bool nrPdschTx(NrNbConfig* config, NrNbTxBuf* buf, NrNbTxBuf* buf1) {
  NrStageScope mapping(NrStage::kMapping);
  // Rate-matching patterns and CSI-RS are not built around: no PDSCH is sent with them.
  if (config->rbMapUsed != 0 || config->csiRsN != 0) return true;
  bool allSent = true;
  // Identity precoding: layer v is sent on antenna port v, each port with a grid of its own.
  NrNbTxBuf* const ports[kMaxLayers] = {buf, buf1};

  const int pdschN = config->pdschN < kMaxPdsch ? config->pdschN : kMaxPdsch;
  for (int p = 0; p < pdschN; p++) {
    NrPdschCfg& d = config->pdschCfg[p];
    if (const char* why = nrPdschTxCheck(&d)) {
      nrDiag("nrPdschTx: PDSCH %d skipped, %s\n", p, why);
      allSent = false;
      continue;
    }
    NrPdschLayout lay;
    nrPdschLayout(&d, &lay);

    int32_t Qm = 0, C = 0;
    float rate = 0.0f;
    uint64_t tbs = 0, G = 0;
    nrTbsCalc(d.mcs, lay.nRePerPrb, d.rbN, d.layerN, &Qm, &C, &rate, &tbs, &G, d.mcsTable);
    if (C > kMaxCodeBlocks) {
      nrDiag("nrPdschTx: PDSCH %d skipped, %d code blocks exceed 100\n", p, C);
      allSent = false;
      continue;
    }
    // Room for the coded bits (one symbol per layer and code block of rounding slack) and for
    // one DMRS symbol, whichever is larger.
    const uint64_t dmrsReMax = static_cast<uint64_t>(kScPerRb) * d.rbN;
    const uint64_t bitCap = static_cast<uint64_t>(d.layerN) * Qm * C + G;
    int8_t* bits = workBuffer(bitBuf, bitCap);
    int16_t* soft = workBuffer(softBuf, bitCap > 2 * dmrsReMax ? bitCap : 2 * dmrsReMax);
    const uint64_t symCap = bitCap / Qm;
    int32_t* sym = workBuffer(symBuf, symCap > dmrsReMax ? symCap : dmrsReMax);

    const int64_t coded = nrDlschEncodeBytes(d.mcs, d.layerN, lay.nRePerPrb, d.rbN, bits, d.rvIdx,
                                             static_cast<int64_t>(bitCap), d.mcsTable);
    if (G > 0 && coded <= 0) {
      nrDiag("nrPdschTx: PDSCH %d skipped, transport block not encoded\n", p);
      allSent = false;
      continue;
    }
    d.tbSize = static_cast<uint32_t>(tbs);
    const uint64_t nBits = coded > 0 ? static_cast<uint64_t>(coded) : 0;

    // TS 38.211 7.3.1.1, codeword q = 0: bipolar bits times 1 - 2c(j), then TS 38.211 7.3.1.2;
    // one pass for the orders of the tables, the two steps for any other (which nrModulate
    // reports).
    const uint32_t cInit = nrPdschDataCinit(d.rnti, config->cellCfg.nId);
    if (!nrModulateScrambled(sym, bits, static_cast<int32_t>(nBits), static_cast<uint16_t>(Qm),
                             static_cast<int32_t>(cInit))) {
      nrScrambleBitsShort(bits, soft, static_cast<int32_t>(nBits), static_cast<int32_t>(cInit));
      nrModulate(sym, soft, static_cast<int32_t>(nBits), static_cast<uint16_t>(Qm));
    }

    // TS 38.211 7.3.1.3: layer v carries symbols v, v + L, v + 2L, ... of the codeword. Each
    // layer fills its port's grid symbol by symbol, RB in list order, subcarriers ascending,
    // around the DMRS; a layer without a grid, or symbols beyond the allocation, are dropped.
    const int L = d.layerN;
    const uint64_t symN = nBits / Qm;
    // Subcarriers of an RB that carry data in a DMRS symbol.
    int dataSc[kScPerRb];
    int dataScN = 0;
    for (int k = 0; k < kScPerRb; k++)
      if (!lay.dchNoDataSc[k]) dataSc[dataScN++] = k;
    const uint64_t perLayer = symN / 2;
    if (L == 2 && ports[0] && ports[1] && symN % 2 == 0) {
      mapTwoLayers(ports[0], ports[1], d, lay, sym, perLayer, dataSc, dataScN);
    } else {
      for (int v = 0; v < L && v < kMaxLayers; v++) {
        if (!ports[v]) continue;
        mapLayer(ports[v], d, lay, sym + v,
                 symN > static_cast<uint64_t>(v) ? (symN - v + L - 1) / L : 0, L, dataSc, dataScN);
      }
    }

    // DMRS (TS 38.211 7.4.1.1): layer v's port p = dmrsPorts[v] sends r(m) w_f(k') on the
    // subcarriers of its CDM group, m counted over that group's REs from common RB 0; no power
    // offset, single-symbol DMRS (w_t = 1). Every DMRS symbol is sent, also outside the run.
    if (lay.nDmrsSc == 0) continue;
    const uint32_t firstRb = static_cast<uint32_t>(d.rbIdx[0]) + config->bwpCfg.rbOffset;
    for (int v = 0; v < L && v < kMaxLayers; v++) {
      if (!ports[v]) continue;
      const int port = nrDmrsLayerPort(&d, v);
      const uint16_t groupSc = nrDmrsGroupSc(d.dmrsType, nrDmrsCdmGroup(d.dmrsType, port));
      const int perRb = __builtin_popcount(groupSc);
      const int16_t wf1 = nrDmrsOcc(port);
      const uint16_t nDmrsRe = static_cast<uint16_t>(perRb * d.rbN);
      for (int l = 0; l < kSymbolsPerSlot; l++) {
        if (!lay.dchDmrsSym[l]) continue;
        const int8_t* seq = nrPdschDmrsSeq(config->slotIdx, static_cast<uint32_t>(l), d.dmrsScrId0,
                                           d.dmrsScrId1, firstRb, perRb, nDmrsRe);
        if (!seq) {
          nrDiag("nrPdschTx: PDSCH %d, DMRS of symbol %d beyond the Gold sequence, not sent\n", p,
                 l);
          allSent = false;
          continue;
        }
        // k' = 1 (every second RE of the group) carries the frequency cover w_f(1).
        for (int i = 0; i < 2 * nDmrsRe; i++)
          soft[i] = static_cast<int16_t>(((i >> 1) & 1) ? wf1 * seq[i] : seq[i]);
        nrModulate(sym, soft, 2 * nDmrsRe, 2);
        int32_t* row = ports[v]->nbTxGrid[l];
        for (int r = 0; r < d.rbN; r++) {
          int32_t* rb = row + kScPerRb * d.rbIdx[r];
          const int32_t* dmrs = sym + perRb * r;
          for (int k = 0, j = 0; k < kScPerRb; k++)
            if ((groupSc >> k) & 1) rb[k] = dmrs[j++];
        }
      }
    }
  }
  return allSent;
}
