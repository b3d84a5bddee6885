#include "phy/tx/pdsch_tx.h"

#include <cstdio>
#include <vector>

#include "phy/coding/dlsch_encode.h"
#include "phy/tx/modulate.h"
#include "phy/tx/sequence.h"
#include "phy/tx/tbs.h"

namespace {

constexpr int kMaxPdsch = 10;        // capacity of pdschCfg
constexpr int kMaxDmrsAddPos = 3;    // capacity of dmrsAddPos
constexpr int kMaxPorts = 12;        // capacity of dmrsPortIdx
constexpr int kMaxCodeBlocks = 100;  // what the shared-channel encoder can hold
constexpr uint8_t kPortListEnd = 0xFF;
constexpr uint16_t kSymBitmapMask = (1u << kSymbolsPerSlot) - 1;

// CDM-group frequency offset Delta by DMRS type and port position, ports 1000 onward
// (TS 38.211 Tables 7.4.1.1.2-1 and 7.4.1.1.2-2).
const uint16_t deltaS[2][kMaxPorts] = {{0, 0, 1, 1, 0, 0, 1, 1, 0, 0, 0, 0},
                                       {0, 0, 2, 2, 4, 4, 0, 0, 2, 2, 4, 4}};

// Work buffers, grown to the largest entry seen and reused.
std::vector<int32_t> bitBuf;   // coded bits, then bipolar values
std::vector<int16_t> softBuf;  // bipolar values for the mapper (data or one DMRS symbol)
std::vector<int32_t> symBuf;   // modulated symbols (data or one DMRS symbol)

template <typename T>
T* workBuffer(std::vector<T>& v, uint64_t n) {
  if (v.size() < n) v.resize(n);
  return v.data();
}

}  // namespace

const char* nrPdschTxCheck(const NrPdschCfg* pdsch) {
  if ((pdsch->symBitmap & kSymBitmapMask) == 0) return "no PDSCH symbol in symBitmap";
  if (pdsch->layerN == 0) return "layerN is 0";
  if (pdsch->rbN > kMaxRb) return "rbN above 280";
  for (int r = 0; r < pdsch->rbN; r++)
    if (pdsch->rbIdx[r] >= kMaxRb) return "RB index beyond the grid";
  if (pdsch->dmrsFirstSym >= kSymbolsPerSlot) return "DMRS symbol beyond the slot";
  if (pdsch->dmrsAddPosN > kMaxDmrsAddPos) return "more than 3 additional DMRS positions";
  for (int i = 0; i < pdsch->dmrsAddPosN; i++)
    if (pdsch->dmrsAddPos[i] >= kSymbolsPerSlot) return "DMRS symbol beyond the slot";
  if (pdsch->dmrsEn == 1 && pdsch->dmrsType != 1 && pdsch->dmrsType != 2)
    return "DMRS type not 1 or 2";
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
    int nPort = 0;
    while (nPort < kMaxPorts && pdsch->dmrsPortIdx[nPort] != kPortListEnd) nPort++;
    // TS 38.211 7.4.1.1.2: type 1 uses subcarriers 4n + {0, 2} + Delta, type 2 6n + {0, 1} +
    // Delta; list position j stands for port 1000 + j.
    const int t = pdsch->dmrsType;
    const int step = 2 * t + 2;
    const int second = 3 - t;
    for (int j = 0; j < nPort; j++) {
      const int delta = deltaS[t - 1][j];
      for (int n = 0; n <= 3 - t; n++) {
        o.dchDmrsSc[step * n + delta] = 1;
        o.dchDmrsSc[step * n + second + delta] = 1;
      }
    }
    // TS 38.214 5.1.6.2: with type 1 the two CDM groups span every subcarrier, so two groups
    // without data leave no room for data in a DMRS symbol.
    o.dmrsNoData = pdsch->dmrsType == 1 && pdsch->cdmGrpNoData >= 2;
  }
  for (int k = 0; k < kScPerRb; k++) o.nDmrsSc += o.dchDmrsSc[k];

  // Data room per RB: every symbol of the run, less the DMRS overhead of each DMRS symbol that
  // lies inside it (counted once however often it is listed).
  const int overheadPerSym = o.dmrsNoData ? kScPerRb : o.nDmrsSc;
  int re = kScPerRb * (o.lastSym - o.startSym + 1);
  for (int l = o.startSym; l <= o.lastSym; l++)
    if (o.dchDmrsSym[l]) re -= overheadPerSym;
  o.nRePerPrb = static_cast<uint16_t>(re);
}

uint32_t nrPdschDmrsCinit(uint16_t slotIdx, uint32_t l, uint16_t nId, uint16_t nScid) {
  // Unsigned 32-bit arithmetic: the product may wrap, only its low 31 bits matter.
  const uint32_t twoN = 2u * nId;
  const uint32_t v = (1u << 17) * (14u * slotIdx + l + 1u) * (twoN + 1u) + twoN + nScid;
  return v & 0x7FFFFFFFu;
}

void nrPdschTx(NrNbConfig* config, NrNbTxBuf* buf) {
  // Rate-matching patterns and CSI-RS are not built around: no PDSCH is sent with them.
  if (config->rbMapUsed != 0 || config->csiRsN != 0) return;

  const int pdschN = config->pdschN < kMaxPdsch ? config->pdschN : kMaxPdsch;
  for (int p = 0; p < pdschN; p++) {
    NrPdschCfg& d = config->pdschCfg[p];
    if (const char* why = nrPdschTxCheck(&d)) {
      std::printf("nrPdschTx: PDSCH %d skipped, %s\n", p, why);
      continue;
    }
    NrPdschLayout lay;
    nrPdschLayout(&d, &lay);

    int32_t Qm = 0, C = 0;
    float rate = 0.0f;
    uint64_t tbs = 0, G = 0;
    nrTbsCalc(d.mcs, lay.nRePerPrb, d.rbN, d.layerN, &Qm, &C, &rate, &tbs, &G);
    if (C > kMaxCodeBlocks) {
      std::printf("nrPdschTx: PDSCH %d skipped, %d code blocks exceed 100\n", p, C);
      continue;
    }
    // Room for the coded bits (one symbol per layer and code block of rounding slack) and for
    // one DMRS symbol, whichever is larger.
    const uint64_t dmrsReMax = static_cast<uint64_t>(lay.nDmrsSc) * d.rbN;
    const uint64_t bitCap = static_cast<uint64_t>(d.layerN) * Qm * C + G;
    int32_t* bits = workBuffer(bitBuf, bitCap);
    int16_t* soft = workBuffer(softBuf, bitCap > 2 * dmrsReMax ? bitCap : 2 * dmrsReMax);
    const uint64_t symCap = bitCap / Qm;
    int32_t* sym = workBuffer(symBuf, symCap > dmrsReMax ? symCap : dmrsReMax);

    const int64_t coded = nrDlschEncode(d.mcs, d.layerN, lay.nRePerPrb, d.rbN, bits, d.rvIdx,
                                        static_cast<int64_t>(bitCap));
    if (G > 0 && coded <= 0) {
      std::printf("nrPdschTx: PDSCH %d skipped, transport block not encoded\n", p);
      continue;
    }
    d.tbSize = static_cast<uint32_t>(tbs);
    const uint64_t nBits = coded > 0 ? static_cast<uint64_t>(coded) : 0;

    // TS 38.211 7.3.1.1, codeword q = 0: bipolar bits times 1 - 2c(j).
    for (uint64_t i = 0; i < nBits; i++) bits[i] = 1 - 2 * bits[i];
    const uint32_t cInit =
        static_cast<uint32_t>(static_cast<uint64_t>(d.rnti) * (1u << 15) + config->cellCfg.nId);
    nrScrambleInt(bits, bits, static_cast<int32_t>(nBits), static_cast<int32_t>(cInit));
    for (uint64_t i = 0; i < nBits; i++) soft[i] = static_cast<int16_t>(bits[i]);
    nrModulate(sym, soft, static_cast<int32_t>(nBits), static_cast<uint16_t>(Qm));

    // Data: symbol by symbol, RB in list order, subcarriers ascending, around the DMRS. Only
    // the first layer is transmitted; the rest of its symbols are dropped.
    const uint64_t symN = nBits / Qm;
    uint64_t m = 0;
    for (int l = lay.startSym; l <= lay.lastSym; l++) {
      int32_t* row = buf->nbTxGrid[l];
      const bool dmrsSym = lay.dchDmrsSym[l] != 0;
      if (dmrsSym && lay.dmrsNoData) continue;
      for (int r = 0; r < d.rbN; r++) {
        int32_t* rb = row + kScPerRb * d.rbIdx[r];
        for (int k = 0; k < kScPerRb && m < symN; k++)
          if (!dmrsSym || !lay.dchDmrsSc[k]) rb[k] = sym[m++];
      }
    }

    // DMRS (TS 38.211 7.4.1.1): QPSK of the Gold sequence, indexed from common RB 0, no power
    // offset and no orthogonal cover code. Every DMRS symbol is sent, also outside the run.
    if (lay.nDmrsSc == 0) continue;
    const uint16_t nDmrsRe = static_cast<uint16_t>(lay.nDmrsSc * d.rbN);
    const uint16_t offset =
        static_cast<uint16_t>(2 * lay.nDmrsSc * (d.rbIdx[0] + config->bwpCfg.rbOffset));
    for (int l = 0; l < kSymbolsPerSlot; l++) {
      if (!lay.dchDmrsSym[l]) continue;
      const uint32_t c = nrPdschDmrsCinit(config->slotIdx, l, d.dmrsScrId0, d.dmrsScrId1);
      nrGoldSeqGen(static_cast<int32_t>(c), 2u * nDmrsRe, 1, offset);
      for (int i = 0; i < 2 * nDmrsRe; i++) soft[i] = gnrSeqBuf[kSeqBufGoldOffset + i];
      nrModulate(sym, soft, 2 * nDmrsRe, 2);
      int32_t* row = buf->nbTxGrid[l];
      for (int r = 0; r < d.rbN; r++) {
        int32_t* rb = row + kScPerRb * d.rbIdx[r];
        const int32_t* dmrs = sym + lay.nDmrsSc * r;
        for (int k = 0, j = 0; k < kScPerRb; k++)
          if (lay.dchDmrsSc[k]) rb[k] = dmrs[j++];
      }
    }
  }
}
