#include "config/slot_config_gen.h"

#include <cstring>

#include "config/mcs_table.h"

namespace {

uint32_t randState = 0;
uint32_t slotSeed = kSlotCfgSeed;  // the seed every nrGenDefaultSlotCfg call starts from

const uint8_t kAggrL[5] = {1, 2, 4, 8, 16};
const uint16_t kCsiDensity[3] = {1, 2, 3};
const uint16_t kCchIntrlv[3] = {2, 3, 6};
const uint16_t kCsiSymbolPattern[4] = {0x88, 0x111, 0x55, 0xAA};
const uint16_t kCsiSubCarrierPattern[4] = {0x88, 0x11, 0x55, 0xAA};
const uint8_t kDchDmrsAddPos[6] = {5, 6, 7, 8, 9, 11};

// TS 38.213 10.1: A_p for p = n_CORESET mod 3, D = 65537.
const uint32_t kYpA[3] = {39827, 39829, 39839};

void fillCoreset(NrNbConfig& c, NrCoresetCfg& cs, uint32_t& cur, uint32_t& next) {
  cs.coresetId = nrRandDraw() % 10;
  cs.duration = nrRandDraw() % 3 + 1;
  cs.dmrsFilled = 0;
  cs.allocNrb = ((nrRandDraw() % (c.bwpCfg.nrb - next)) + 5) / 6 * 6;
  next = cs.allocNrb + cur;
  cs.cceN = cs.allocNrb / 6;
  for (uint32_t l = 0; l < cs.allocNrb && l < kMaxRb; l++) cs.rbIdx[l] = cur + l;
  cur = next;

  nrRandDraw();  // drawn and discarded: the mapping is always interleaved
  cs.CchIntvEn = 1;

  // TS 38.211 7.3.2.2: L in {2, 6} for one symbol, {duration, 6} otherwise.
  cs.Lreg = kCchIntrlv[nrRandDraw() % 3];
  if (cs.duration == 1 && cs.Lreg == 3) cs.Lreg = 2;
  if ((cs.duration == 2 || cs.duration == 3) && cs.Lreg != cs.duration && cs.Lreg != 6)
    cs.Lreg = cs.duration;
  cs.intvR = kCchIntrlv[nrRandDraw() % 3];
  cs.Nshift = nrRandDraw() % 3;

  const uint32_t regN = cs.allocNrb * cs.duration;
  cs.regBundleRbN = cs.Lreg / cs.duration;
  cs.intvC = regN / (cs.Lreg * cs.intvR);
  cs.regBundleN = regN / cs.Lreg;
  if (cs.intvC == 0) {
    for (uint32_t j = 0; j < kMaxRb; j++) cs.regBundleMap[j] = j;
  }
  // f(j) = (r*C + c + n_shift) mod (N_REG / L), j = c*R + r.
  for (uint32_t col = 0; col < cs.intvC; col++)
    for (uint32_t r = 0; r < cs.intvR; r++)
      cs.regBundleMap[col * cs.intvR + r] = (r * cs.intvC + col + cs.Nshift) % (regN / cs.Lreg);
}

void fillPdcch(NrNbConfig& c, NrPdcchCfg& p, int i) {
  p.pdcchEn = 1;
  p.bwpId = c.bwpCfg.bwpId;
  p.dciEn = 1;
  const int k = i < c.coresetN ? i : c.coresetN - 1;
  p.coresetId = c.coresetCfg[k].coresetId;
  p.rnti = i < c.rntiN ? c.rntiList[i] : c.rntiList[c.rntiN - 1];

  nrGenYpTable(p.rnti);
  const uint32_t y = YpTable[p.coresetId % 3][c.slotIdx];
  const uint32_t cceN = c.coresetCfg[k].cceN;
  // A CORESET without CCEs (or with more than the five levels allow) has no candidate: leave the
  // entry at its first CCE with the smallest level rather than divide by zero.
  uint32_t levels = nrFloorLog2(cceN) + 1;
  if (levels > 5) levels = 5;
  const uint32_t aggr = kAggrL[nrRandDraw() % levels];
  const uint32_t candN = cceN / aggr;
  const uint32_t m = candN ? nrRandDraw() % candN : (nrRandDraw(), 0u);
  // TS 38.213 10.1 search-space function with n_CI = 0.
  p.cceStart = candN ? aggr * ((m * cceN / (aggr * candN) + y) % (cceN / aggr)) : 0;
  p.aggrL = aggr;
  p.dciAux = nrRandDraw() % 5;
  p.payloadSize = nrRandDraw() % 5 + 35;
  p.ueSpecific = nrRandDraw() % 2;
}

void fillPdsch(NrNbConfig& c, NrPdschCfg& d, int i) {
  d.pdschEn = 1;
  d.bwpId = c.bwpCfg.bwpId;
  d.reserved0 = 1;
  d.rnti = i < c.rntiN ? c.rntiList[i] : c.rntiList[c.rntiN - 1];
  d.bwpRbOffset = c.bwpCfg.rbOffset;

  nrRandDraw();
  d.layerN = 1;
  d.reserved1 = 0;
  d.reserved2 = 2;
  nrRandDraw();
  d.rvIdx = 3;
  nrRandDraw();
  d.mcs = 19;
  d.Qm = gnrMcsQm[d.mcs];
  d.codeRate = static_cast<uint16_t>(2.0f * gnrMcsRateX1024[d.mcs]);

  const uint32_t s0 = nrRandDraw() % 12;
  const uint32_t e0 = nrRandDraw() % (14 - s0) + s0;
  d.symBitmap = ((1u << (e0 + 1)) - 1) & (((1u << s0) - 1) ^ 0x3FFFu);

  d.rbStart = nrRandDraw() % c.bwpCfg.nrb;
  d.rbN = nrRandDraw() % (c.bwpCfg.nrb - d.rbStart);
  for (uint32_t k = 0; k < d.rbN && k < kMaxRb; k++) d.rbIdx[k] = d.rbStart + k;

  d.dmrsPortIdx[0] = 0;
  d.dmrsPortIdx[1] = 1;
  d.dmrsPortIdx[2] = 0xFF;

  d.cdmGrpNoData = nrRandDraw() % 3 + 1;
  d.dmrsScrId0 = nrRandDraw() % 4;
  d.dmrsScrId1 = nrRandDraw() % 4;
  d.reserved4 = nrRandDraw() % 2 + 1;

  d.dmrsType = nrRandDraw() % 2 + 1;
  d.dmrsFirstSym = nrRandDraw() % 2 + s0;
  d.dmrsEn = 1;

  if (s0 < 3) {
    d.dmrsAddPosN = nrRandDraw() % 4;
    for (uint32_t k = 0; k < d.dmrsAddPosN; k++)
      d.dmrsAddPos[k] = kDchDmrsAddPos[nrRandDraw() % 2 + 2 * k];
  } else {
    d.dmrsAddPosN = nrRandDraw() % 2;
    for (uint32_t k = 0; k < d.dmrsAddPosN; k++)
      d.dmrsAddPos[k] = nrRandDraw() % 2 + d.dmrsFirstSym + 1;
    if (d.dmrsAddPosN > 0 && d.dmrsAddPos[d.dmrsAddPosN - 1] > e0) d.dmrsAddPosN = 0;
  }
  d.reserved5 = nrRandDraw() % 2 + 1;

  const uint32_t p0 = nrRandDraw() % 11 + 1000;
  (void)(p0 + 1 + nrRandDraw() % (1011 - p0));  // second port drawn, then fixed below
  d.dmrsPorts[0] = 1000;
  d.dmrsPorts[1] = 1001;
}

}  // namespace

void nrRandSeed(uint32_t seed) { randState = seed; }

uint32_t nrRandDraw() {
  randState = randState * 214013u + 2531011u;
  return (randState >> 16) & 0x7FFFu;
}

void nrGenYpTable(uint32_t rnti) {
  for (int p = 0; p < 3; p++) {
    uint32_t y = rnti;
    for (int n = 0; n < 20; n++) {
      y = (kYpA[p] * y) % 65537u;
      YpTable[p][n] = y;
    }
  }
}

void nrGenDefaultSlotCfgIfNeeded(const NrNbConfig* cfg) {
  if (cfg->cfgDone != 1) nrGenDefaultSlotCfg();
}

void nrSetSlotCfgSeed(uint32_t seed) { slotSeed = seed; }
uint32_t nrSlotCfgSeed() { return slotSeed; }

void nrCellFftLayout(uint16_t nrb, NrCellCfg* cell) {
  // Smallest power-of-two FFT that keeps the occupied band within 85 % of the sampling rate.
  const uint32_t x = static_cast<uint32_t>(nrb * 12.0 / 0.85);
  uint32_t fftSize = 1u << nrCeilLog2(x);
  if (fftSize < 128) fftSize = 128;
  cell->fftSize = static_cast<uint16_t>(fftSize);
  cell->fftLen = static_cast<uint16_t>(fftSize);
  for (int k = 0; k < kSymbolsPerSlot; k++)
    cell->cpLen[k] = static_cast<uint16_t>(kCpPattern[k] * (fftSize / kCpPatternRefFft));
}

void nrGenDefaultSlotCfg() {
  nrRandSeed(slotSeed);
  NrNbConfig& c = gnrNbConfig;
  if (c.cfgDone) return;

  c.sfn = nrRandDraw() & 0x3FF;
  c.slotIdx = nrRandDraw() % 10;
  c.reserved0 = 0;

  c.carrierCfg = NrCarrierCfg{0, 0, 106, 15, 1, 1024};
  c.bwpCfg.bwpId = 0;
  c.bwpCfg.scs = c.carrierCfg.scs;
  c.bwpCfg.cpType = 0;
  c.bwpCfg.rbOffset = c.carrierCfg.rbStart + nrRandDraw() % 10;
  c.bwpCfg.nrb = c.carrierCfg.nrb - (c.bwpCfg.rbOffset - c.carrierCfg.rbStart) - nrRandDraw() % 10;

  c.cellCfg.pci = nrRandDraw() % 1008;
  c.cellCfg.nId = nrRandDraw() % 3;
  c.cellCfg.antPortN = 1;
  c.cellCfg.scs = c.carrierCfg.scs;

  nrCellFftLayout(c.carrierCfg.nrb, &c.cellCfg);

  c.ssbCfg.scsCfg = c.carrierCfg.scs;
  c.ssbCfg.start_Subcarrier = (nrRandDraw() % 10) * 12;
  c.ssbCfg.start_symbol = nrRandDraw() % 5;

  c.coresetN = 1;
  c.searchSpaceN = 1;
  c.rntiN = 1;
  c.pdcchN = 1;
  c.pdschN = 1;
  c.rbMapUsed = 0;
  c.csiRsN = 0;
  c.reserved1 = 1;
  c.reserved2 = 25;

  for (int i = 0; i < c.rntiN; i++) c.rntiList[i] = nrRandDraw() % 65536;

  // CORESETs start on the first RB of the 6-RB grid that lies at or above the BWP start, minus one.
  const uint32_t b = c.bwpCfg.rbOffset;
  const uint32_t a = (b + 5) / 6 * 6;
  uint32_t cur = a != 0 ? a - 1 : 0;
  uint32_t next = cur;
  for (int i = 0; i < c.coresetN; i++) fillCoreset(c, c.coresetCfg[i], cur, next);

  for (int i = 0; i < c.searchSpaceN; i++) {
    NrSearchSpaceCfg& ss = c.searchSpaceCfg[i];
    ss.coresetId = c.coresetCfg[i < c.coresetN ? i : c.coresetN - 1].coresetId;
    ss.startSymbol = nrRandDraw() % 11;
    ss.monSymBitmap = 1u << ss.startSymbol;
    ss.monSlot = c.slotIdx;
  }

  for (int i = 0; i < c.csiRsN; i++) {
    NrCsiRsCfg& cs = c.csiRsCfg[i];
    cs.csiSymbolPattern = kCsiSymbolPattern[nrRandDraw() % 4];
    cs.csiSubCarrierPattern = kCsiSubCarrierPattern[nrRandDraw() % 4];
    cs.csiDensity = kCsiDensity[nrRandDraw() % 3];
    cs.rbStart = c.bwpCfg.rbOffset + nrRandDraw() % c.bwpCfg.nrb;
    cs.rbN = nrRandDraw() % (c.bwpCfg.nrb - (cs.rbStart - c.bwpCfg.rbOffset));
  }

  for (int i = 0; i < c.pdcchN; i++) fillPdcch(c, c.pdcchCfg[i], i);
  for (int i = 0; i < c.pdschN; i++) fillPdsch(c, c.pdschCfg[i], i);

  c.cfgDone = 1;
}
