#include "phy/tx/pdcch_tx.h"

#include <cstring>

#include "config/console.h"
#include "phy/coding/dci_encode.h"
#include "phy/common/pdcch_map.h"
#include "phy/common/sequence.h"
#include "phy/tx/modulate.h"

namespace {

constexpr int kMaxSearchSpaces = 10;  // capacity of searchSpaceCfg
constexpr int kMaxPdcch = 10;         // capacity of pdcchCfg
constexpr int kPnOrder = 9;           // DCI payloads from the PN9 generator

// Payload bits, coded then bipolar bits (later the DMRS bits), QPSK symbols.
int32_t payload[kDciMaxPayload];
int16_t bitBuf[kPdcchMaxE > 6 * kMaxRb ? kPdcchMaxE : 6 * kMaxRb];
int32_t symBuf[kPdcchMaxE / 2 > 3 * kMaxRb ? kPdcchMaxE / 2 : 3 * kMaxRb];

// Why entry p cannot be sent on CORESET cs from symbol startSym (nullptr when it can).
const char* pdcchCheck(const NrPdcchCfg& p, const NrCoresetCfg& cs, int startSym) {
  if (const char* why = nrCoresetCheck(&cs)) return why;
  if (startSym + cs.duration > kSymbolsPerSlot) return "CORESET symbols beyond the slot";
  if (!nrPdcchAggrValid(p.aggrL)) return "aggrL not 1, 2, 4, 8 or 16";
  if (p.payloadSize == 0 || p.payloadSize > kDciMaxPayload) return "payloadSize not 1 .. 100";
  return nullptr;
}

// TS 38.211 7.4.1.3.2: the DMRS of every RB of the CORESET in symbol l, each RB taking the three
// sequence values of its own RB index counted from the CORESET's first RB.
bool writeCoresetDmrs(const NrNbConfig& cfg, const NrCoresetCfg& cs, int l,
                      int32_t (*grid)[kGridScCap]) {
  const uint32_t first = static_cast<uint32_t>(cfg.bwpCfg.rbOffset) + cs.rbIdx[0];
  const uint32_t span = cs.rbIdx[cs.allocNrb - 1] - cs.rbIdx[0] + 1u;
  const int8_t* b =
      nrPdcchDmrsSeq(cfg.slotIdx, static_cast<uint32_t>(l), cfg.cellCfg.pci, first, span);
  if (!b) return false;
  const int perRb = 2 * kPdcchDmrsPerReg;
  for (int r = 0; r < cs.allocNrb; r++) {
    const int8_t* rb = b + perRb * (cs.rbIdx[r] - cs.rbIdx[0]);
    for (int k = 0; k < perRb; k++) bitBuf[perRb * r + k] = rb[k];
  }
  nrModulate(symBuf, bitBuf, perRb * cs.allocNrb, 2);
  for (int r = 0; r < cs.allocNrb; r++)
    for (int k = 0; k < kPdcchDmrsPerReg; k++)
      grid[l][kScPerRb * cs.rbIdx[r] + 4 * k + 1] = symBuf[kPdcchDmrsPerReg * r + k];
  return true;
}

}  // namespace

void nrSortU16(uint16_t* values, uint16_t n, uint8_t ascending) {
  for (uint16_t pass = 1; pass < n; pass++)
    for (uint16_t i = 0; i + pass < n; i++) {
      const bool swap = ascending ? values[i] > values[i + 1] : values[i] < values[i + 1];
      if (swap) {
        const uint16_t t = values[i];
        values[i] = values[i + 1];
        values[i + 1] = t;
      }
    }
}

bool nrPdcchCandRbs(NrPdcchCfg* pdcch, const NrCoresetCfg* coreset) {
  const NrCoresetCfg& cs = *coreset;
  pdcch->rbN = 0;
  const uint32_t d = cs.duration;
  const uint32_t aggr = pdcch->aggrL;
  if (d < 1 || d > kCoresetMaxDuration || !nrPdcchAggrValid(aggr)) {
    nrDiag("nrPdcchCandRbs: duration %u, aggrL %u: no candidate\n", d, aggr);
    return false;
  }
  // The candidate starts at CCE cceStart x span interleaved, at RB position cceStart x span
  // (CCE cceStart x aggrL) when not.
  const uint32_t span = kRegPerCce * aggr / d;
  const uint32_t firstCce = cs.CchIntvEn ? pdcch->cceStart * span : pdcch->cceStart * aggr;
  const uint32_t regN = static_cast<uint32_t>(cs.allocNrb) * d;
  const uint32_t bundleN = cs.Lreg ? regN / cs.Lreg : 0;
  uint16_t pos[kPdcchMaxCandRb];
  const int n = nrPdcchCcePositions(&cs, cs.regBundleMap, bundleN, cs.Lreg, firstCce, aggr, pos);
  if (n != static_cast<int>(span)) {
    nrDiag(
        "nrPdcchCandRbs: cceStart %u at aggrL %u (first CCE %u) does not fit CORESET %u of %u "
        "CCEs (allocNrb %u, duration %u, Lreg %u): PDCCH not mapped\n",
        pdcch->cceStart, aggr, firstCce, cs.coresetId, regN / kRegPerCce, cs.allocNrb, d, cs.Lreg);
    return false;
  }
  for (int i = 0; i < n; i++) pdcch->rbIdx[i] = cs.rbIdx[pos[i]];
  pdcch->rbN = static_cast<uint16_t>(n);
  return true;
}

bool nrPdcchTx(NrNbConfig* config, int32_t (*grid)[kGridScCap]) {
  NrNbConfig& cfg = *config;
  if (cfg.rbMapUsed != 0) {
    nrDiag("nrPdcchTx: rbMapUsed set, PDCCH around excluded REs not supported: nothing sent\n");
    return false;
  }
  nrPnSeqInit(kPnOrder);
  // Every call builds one slot: its CORESETs carry no DMRS yet. The symbols of each CORESET whose
  // DMRS is written, so that a second occasion in other symbols gets its own.
  uint16_t dmrsSyms[kCoresetCap] = {};
  for (NrCoresetCfg& cs : cfg.coresetCfg) cs.dmrsFilled = 0;

  bool allSent = true;
  const int ssN = cfg.searchSpaceN < kMaxSearchSpaces ? cfg.searchSpaceN : kMaxSearchSpaces;
  const int pdcchN = cfg.pdcchN < kMaxPdcch ? cfg.pdcchN : kMaxPdcch;
  for (int b = 0; b < ssN; b++) {
    const NrSearchSpaceCfg& ss = cfg.searchSpaceCfg[b];
    if (ss.monSlot != cfg.slotIdx) continue;
    for (int j = 0; j < pdcchN; j++) {
      NrPdcchCfg& p = cfg.pdcchCfg[j];
      const int k = nrCoresetFind(cfg.coresetCfg, p.coresetId);
      if (k < 0) {
        nrDiag("nrPdcchTx: PDCCH %d skipped, no CORESET with coresetId %u\n", j, p.coresetId);
        allSent = false;
        continue;
      }
      NrCoresetCfg& cs = cfg.coresetCfg[k];
      const int startSym = ss.startSymbol;
      if (const char* why = pdcchCheck(p, cs, startSym)) {
        nrDiag("nrPdcchTx: PDCCH %d skipped, CORESET %u: %s\n", j, cs.coresetId, why);
        allSent = false;
        continue;
      }
      if (!nrPdcchCandRbs(&p, &cs)) {
        allSent = false;
        continue;
      }

      // TS 38.212 7.3: payload, masked CRC, polar code; TS 38.211 7.3.2.3 scrambling and QPSK.
      const int E = kPdcchBitsPerCce * p.aggrL;
      nrPnSeqGen(kPnOrder, payload, p.payloadSize);
      if (!nrDciEncode(payload, p.payloadSize, bitBuf, 1, p.rnti, static_cast<uint16_t>(E))) {
        allSent = false;
        continue;
      }
      for (int i = 0; i < E; i++) bitBuf[i] = static_cast<int16_t>(1 - 2 * bitBuf[i]);
      const uint32_t cInit = nrPdcchScrCinit(p.rnti, cfg.cellCfg.pci, p.ueSpecific != 0);
      nrScrambleShort(bitBuf, bitBuf, E, static_cast<int32_t>(cInit));
      nrModulate(symBuf, bitBuf, E, 2);

      // TS 38.211 7.3.2.5: frequency first over the candidate's RBs in ascending order, then time.
      const int perSym = E / 2 / cs.duration;
      nrSortU16(p.rbIdx, p.rbN, 1);
      for (int s = 0; s < cs.duration; s++) {
        int32_t* row = grid[startSym + s];
        for (int r = 0; r < p.rbN; r++)
          for (int q = 0; q < kPdcchRePerReg; q++)
            row[kScPerRb * p.rbIdx[r] + kPdcchDataSc[q]] =
                symBuf[kPdcchRePerReg * r + s * perSym + q];
      }

      for (int s = 0; s < cs.duration; s++) {
        const int l = startSym + s;
        if ((dmrsSyms[k] >> l) & 1) continue;
        dmrsSyms[k] |= static_cast<uint16_t>(1u << l);
        if (!writeCoresetDmrs(cfg, cs, l, grid)) {
          nrDiag("nrPdcchTx: CORESET %u sent without DMRS in symbol %d\n", cs.coresetId, l);
          allSent = false;
        }
      }
      cs.dmrsFilled = 1;
    }
  }
  return allSent;
}
