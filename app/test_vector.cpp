#include "app/test_vector.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "config/config_files.h"
#include "config/console.h"
#include "config/input_file.h"
#include "config/mcs_table.h"
#include "config/slot_config_gen.h"
#include "phy/common/dmrs.h"
#include "phy/common/sequence.h"
#include "phy/common/text_lines.h"
#include "phy/common/tv_files.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/tx/pdcch_tx.h"
#include "phy/tx/pdsch_tx.h"

// Slot 2: an interleaved one-symbol CORESET of 48 RBs (REG bundles of 6, R = 2) with a
// UE-specific DCI at aggregation level 4, and a 64QAM PDSCH of 60 contiguous RBs after it.
// Slot 4: a non-interleaved two-symbol CORESET of 24 RBs with a cell-scrambled DCI at level 2
// (CCEs 2, 3) beside another UE's (CCEs 6, 7), and a 16QAM PDSCH over all 14 symbols on six RB
// groups beside the CORESET, three DMRS symbols without data. The two differ in every size the
// receiver derives from the files.
const NrTvSlotDesc kNrTvSlots[kTvSlotN] = {{.slot = 2,
                                            .digit = '1',
                                            .carrierNrb = 106,
                                            .bwpRbOffset = 0,
                                            .bwpNrb = 106,
                                            .csFirstRb = 0,
                                            .csEndRb = 48,
                                            .duration = 1,
                                            .startSymbol = 0,
                                            .rnti = 0x4601,
                                            .payloadSize = 39,
                                            .ueSpecific = 1,
                                            .intvEn = 1,
                                            .Lreg = 6,
                                            .intvR = 2,
                                            .Nshift = 3,
                                            .aggrL = 4,
                                            .cceStart = 0,
                                            .otherRnti = 0,
                                            .otherAggrL = 0,
                                            .otherCceStart = 0,
                                            .pdschFirstRb = 4,
                                            .pdschRbN = 60,
                                            .rbGroupN = 0,
                                            .rbGroups = {},
                                            .firstSym = 1,
                                            .lastSym = 13,
                                            .dmrsN = 2,
                                            .dmrsSym = {2, 11, 0, 0},
                                            .cdmGrpNoData = 1,
                                            .layerN = 1,
                                            .mcs = 19},
                                           {.slot = 4,
                                            .digit = '2',
                                            .carrierNrb = 106,
                                            .bwpRbOffset = 0,
                                            .bwpNrb = 106,
                                            .csFirstRb = 0,
                                            .csEndRb = 24,
                                            .duration = 2,
                                            .startSymbol = 0,
                                            .rnti = 0x2B67,
                                            .payloadSize = 41,
                                            .ueSpecific = 0,
                                            .intvEn = 0,
                                            .Lreg = 6,
                                            .intvR = 2,
                                            .Nshift = 0,
                                            .aggrL = 2,
                                            .cceStart = 1,  // non-interleaved: CCE cceStart x aggrL
                                            .otherRnti = 0x1D0C,
                                            .otherAggrL = 2,
                                            .otherCceStart = 3,
                                            .pdschFirstRb = 30,
                                            .pdschRbN = 36,
                                            .rbGroupN = 8,
                                            .rbGroups = {1, 1, 0, 1, 0, 1, 1, 1},
                                            .firstSym = 0,
                                            .lastSym = 13,
                                            .dmrsN = 3,
                                            .dmrsSym = {2, 7, 11, 0},
                                            .cdmGrpNoData = 2,
                                            .layerN = 1,
                                            .mcs = 7}};

namespace {

constexpr uint16_t kFileFftSize = 2048;  // the numerology the file-driven flows receive
constexpr int kPnOrder = 9;              // DCI payloads and transport blocks: PN9
constexpr int kMainRegN = 69;            // value lines of "NRPhy_configuration.txt"
constexpr int32_t kMaxReg16 = 65535;     // the main file keeps 16 bits of each value

// The frame as sent (float, antenna-independent) and as written (int16 per antenna and part).
NrCpxFloat32 frameF[kTvSampleCap];
int16_t frameOut[2][2][kTvSampleCap];
// gnrNbConfig of the caller, kept while the writer builds its slots in it.
NrNbConfig savedNbConfig;

// The transmitter's configuration of a slot: what the section files say, at the numerology the
// file flows assume (one transmit port, pci and n_ID 0, DMRS type 1 with scrambling identity 0,
// redundancy version 0).
void buildNbConfig(const NrTvSlotDesc& t, NrNbConfig* cfg) {
  NrNbConfig& c = *cfg;
  std::memset(&c, 0, sizeof(c));
  c.slotIdx = t.slot;
  c.carrierCfg = NrCarrierCfg{0, 0, t.carrierNrb, 15, 1, 1024};
  c.bwpCfg.scs = 15;
  c.bwpCfg.nrb = t.bwpNrb;
  c.bwpCfg.rbOffset = t.bwpRbOffset;
  c.cellCfg.antPortN = 1;
  c.cellCfg.scs = 15;
  c.cellCfg.rnti = t.rnti;
  nrCellFftLayout(t.carrierNrb, &c.cellCfg);

  c.coresetN = 1;
  NrCoresetCfg& cs = c.coresetCfg[0];
  cs.duration = t.duration;
  cs.allocNrb = static_cast<uint16_t>(t.csEndRb - t.csFirstRb);
  cs.cceN = static_cast<uint16_t>(cs.allocNrb * cs.duration / 6);
  for (int l = 0; l < cs.allocNrb; l++) cs.rbIdx[l] = static_cast<uint16_t>(t.csFirstRb + l);
  cs.CchIntvEn = t.intvEn;
  cs.Lreg = t.Lreg;
  cs.intvR = t.intvR;
  cs.Nshift = t.Nshift;
  nrSetCoresetDerived(&cs);
  // TS 38.211 7.3.2.2: f(cR + r) = (rC + c + n_shift) mod (N_REG / L).
  const uint32_t bundleN = static_cast<uint32_t>(cs.allocNrb) * cs.duration / cs.Lreg;
  for (uint32_t j = 0; j < bundleN && j < 2u * kMaxRb; j++)
    cs.regBundleMap[j] = static_cast<uint16_t>(j);
  if (cs.CchIntvEn != 0)
    for (uint32_t col = 0; col < cs.intvC; col++)
      for (uint32_t r = 0; r < cs.intvR; r++)
        cs.regBundleMap[col * cs.intvR + r] =
            static_cast<uint16_t>((r * cs.intvC + col + cs.Nshift) % bundleN);

  c.searchSpaceN = 1;
  NrSearchSpaceCfg& ss = c.searchSpaceCfg[0];
  ss.startSymbol = static_cast<uint8_t>(t.startSymbol);
  ss.monSymBitmap = static_cast<uint16_t>(1u << t.startSymbol);
  ss.monSlot = t.slot;

  // The other UE's PDCCH first, this UE's last.
  c.pdcchN = t.otherRnti != 0 ? 2 : 1;
  for (int j = 0; j < c.pdcchN; j++) {
    const bool own = j + 1 == c.pdcchN;
    NrPdcchCfg& p = c.pdcchCfg[j];
    p.pdcchEn = 1;
    p.dciEn = 1;
    p.aggrL = own ? t.aggrL : t.otherAggrL;
    p.cceStart = own ? t.cceStart : t.otherCceStart;
    p.payloadSize = t.payloadSize;
    p.rnti = own ? t.rnti : t.otherRnti;
    p.ueSpecific = static_cast<uint8_t>(t.ueSpecific);
  }

  c.pdschN = 1;
  NrPdschCfg& d = c.pdschCfg[0];
  d.pdschEn = 1;
  d.bwpRbOffset = t.bwpRbOffset;
  d.rnti = t.rnti;
  d.layerN = t.layerN;
  d.mcs = t.mcs;
  d.Qm = gnrMcsQm[t.mcs];
  d.codeRate = static_cast<uint16_t>(2.0f * gnrMcsRateX1024[t.mcs]);
  d.symBitmap = static_cast<uint16_t>(((1u << (t.lastSym + 1)) - 1) & ~((1u << t.firstSym) - 1));
  d.rbStart = t.pdschFirstRb;
  d.rbN = 0;
  if (t.rbGroupN == 0) {
    for (int i = 0; i < t.pdschRbN; i++)
      d.rbIdx[d.rbN++] = static_cast<uint16_t>(t.pdschFirstRb + i);
  } else {
    for (int g = 0; g < t.rbGroupN; g++)
      if (t.rbGroups[g])
        for (int k = 0; k < kRbgSize; k++)
          d.rbIdx[d.rbN++] = static_cast<uint16_t>(t.pdschFirstRb + kRbgSize * g + k);
  }
  d.dmrsPortIdx[0] = 0;
  d.dmrsPortIdx[1] = 1;
  d.dmrsPortIdx[2] = 0xFF;
  d.cdmGrpNoData = t.cdmGrpNoData;
  d.dmrsType = 1;
  d.dmrsEn = 1;
  d.dmrsFirstSym = t.dmrsSym[0];
  d.dmrsAddPosN = static_cast<uint8_t>(t.dmrsN - 1);
  for (int k = 0; k + 1 < t.dmrsN; k++) d.dmrsAddPos[k] = t.dmrsSym[k + 1];
  for (int v = 0; v < 4; v++) d.dmrsPorts[v] = static_cast<uint16_t>(kDmrsPortBase + v);
  c.cfgDone = 1;
}

// Sends slot t into the frame and records what was sent.
bool sendSlot(const NrTvSlotDesc& t, NrTvSlotSent* sent) {
  NrNbConfig* cfg = &gnrNbConfig;
  buildNbConfig(t, cfg);
  if (cfg->cellCfg.fftSize != kFileFftSize) {
    nrDiag(
        "nrWriteTestVector: slot %u: a %u-RB carrier takes a %u-point FFT, the file flows "
        "receive at %u\n",
        t.slot, t.carrierNrb, cfg->cellCfg.fftSize, kFileFftSize);
    return false;
  }
  std::memset(gnrNbTxBuf.nbTxGrid, 0, sizeof(gnrNbTxBuf.nbTxGrid));
  if (!nrPdschTx(cfg, &gnrNbTxBuf) || !nrPdcchTx(cfg, gnrNbTxBuf.nbTxGrid) ||
      !nrOfdmMod(cfg, &gnrNbTxBuf)) {
    nrDiag("nrWriteTestVector: slot %u could not be sent\n", t.slot);
    return false;
  }
  const NrPdschCfg& d = cfg->pdschCfg[0];
  if (d.tbSize > static_cast<uint32_t>(kMaxReg16)) {
    nrDiag("nrWriteTestVector: slot %u: TBS %u does not fit the 16 bits of the main file\n", t.slot,
           d.tbSize);
    return false;
  }
  const uint32_t first = static_cast<uint32_t>(kSlotSampleCap) * t.slot;
  for (int i = 0; i < kSlotSampleCap; i++) {
    frameF[first + i] = gnrNbTxBuf.nbTxSampleF[i];
    frameOut[0][0][first + i] = nrCpxRe(gnrNbTxBuf.nbTxSample[i]);
    frameOut[0][1][first + i] = nrCpxIm(gnrNbTxBuf.nbTxSample[i]);
  }

  sent->slot = t.slot;
  sent->rnti = t.rnti;
  sent->aggrL = t.aggrL;
  sent->payloadSize = t.payloadSize;
  // The PDCCHs of a call take successive payloads of one PN9 sequence; this UE's is the last.
  int32_t bits[kDciMaxPayload];
  nrPnSeqInit(kPnOrder);
  for (int j = 0; j < cfg->pdcchN; j++) nrPnSeqGen(kPnOrder, bits, t.payloadSize);
  for (int i = 0; i < t.payloadSize; i++) sent->dci[i] = static_cast<uint8_t>(bits[i]);
  sent->tbSize = d.tbSize;
  sent->pdschRbN = d.rbN;
  sent->mcs = t.mcs;
  sent->qm = static_cast<uint16_t>(d.Qm);
  return true;
}

int16_t saturate(double v, uint32_t* clipped) {
  const double r = std::nearbyint(v);
  if (r > 32767.0 || r < -32768.0) {
    (*clipped)++;
    return r > 0 ? 32767 : -32768;
  }
  return static_cast<int16_t>(r);
}

// Antenna 2 from the float frame through the channel (identity: the rounded samples of
// antenna 1).
uint32_t applyChannel(const NrTvChannelCfg& ch) {
  uint32_t clipped = 0;
  if (ch.kind == NrTvChannel::kIdentity) {
    std::memcpy(frameOut[1], frameOut[0], sizeof(frameOut[0]));
    return 0;
  }
  for (uint32_t i = 0; i < static_cast<uint32_t>(kTvSampleCap); i++) {
    double re = frameF[i].re, im = frameF[i].im;
    if (ch.kind == NrTvChannel::kPortGain) {
      re *= ch.gain;
      im *= ch.gain;
    } else if (i >= ch.delay) {
      re += ch.tapGain * frameF[i - ch.delay].re;
      im += ch.tapGain * frameF[i - ch.delay].im;
    }
    frameOut[1][0][i] = saturate(re, &clipped);
    frameOut[1][1][i] = saturate(im, &clipped);
  }
  return clipped;
}

// ---- Register files ---------------------------------------------------------------------------

bool writeReg(const char* dir, const char* file, const char* title, const NrRegLine* regs, int n) {
  NrPath path;
  if (!nrBuildPath(path, "nrWriteTestVector", "%s/%s", dir, file)) return false;
  return nrWriteRegFile(path, title, regs, static_cast<uint32_t>(n));
}

bool writeSections(const char* dir, const NrTvSlotDesc& t, const NrTvSlotSent& s) {
  char file[40], title[kRegTitleCap + 1];
  const NrRegLine com[] = {
      {t.carrierNrb, "carrierNrb"}, {t.bwpRbOffset, "bwpRbOffset"}, {t.bwpNrb, "bwpNrb"}};
  std::snprintf(file, sizeof(file), "NRPhy_configuration_com%c.txt", t.digit);
  std::snprintf(title, sizeof(title), "com section of slot %u", t.slot);
  bool ok = writeReg(dir, file, title, com, 3);

  const NrRegLine cch[] = {{t.csFirstRb, "coresetFirstRb"},
                           {t.csEndRb, "coresetEndRb"},
                           {t.duration, "coresetDuration"},
                           {t.startSymbol, "ssStartSymbol"},
                           {t.rnti, "rnti"},
                           {t.payloadSize, "dciPayloadSize"},
                           {t.ueSpecific, "dciUeSpecific"},
                           {t.intvEn, "coresetIntvEn"},
                           {t.Lreg, "coresetLreg"},
                           {t.intvR, "coresetIntvR"},
                           {t.Nshift, "coresetNshift"}};
  std::snprintf(file, sizeof(file), "NRPhy_configuration_cch%c.txt", t.digit);
  std::snprintf(title, sizeof(title), "cch section of slot %u", t.slot);
  ok = writeReg(dir, file, title, cch, 11) && ok;

  const NrRegLine dch[] = {{t.pdschFirstRb, "pdschFirstRb"},
                           {t.pdschRbN, "pdschRbN"},
                           {t.firstSym, "pdschFirstSym"},
                           {t.lastSym, "pdschLastSym"},
                           {t.dmrsN, "dmrsSymN"},
                           {t.dmrsSym[0], "dmrsSym0"},
                           {t.dmrsSym[1], "dmrsSym1"},
                           {t.dmrsSym[2], "dmrsSym2"},
                           {t.dmrsSym[3], "dmrsSym3"},
                           {t.cdmGrpNoData, "cdmGrpNoData"},
                           {t.layerN, "layerN"},
                           {t.rnti, "rnti"},
                           {static_cast<int32_t>(s.tbSize), "tbSize"},
                           {0, "unused"},
                           {s.qm, "Qm"},
                           {0, "reserved"},
                           {kDmrsPortBase, "dmrsPort0"},
                           {kDmrsPortBase + 1, "dmrsPort1"},
                           {kDmrsPortBase + 2, "dmrsPort2"},
                           {kDmrsPortBase + 3, "dmrsPort3"},
                           {0, "noPdcch"},
                           {t.mcs, "mcsIndex"}};
  std::snprintf(file, sizeof(file), "NRPhy_configuration_dch%c.txt", t.digit);
  std::snprintf(title, sizeof(title), "dch section of slot %u", t.slot);
  ok = writeReg(dir, file, title, dch, 22) && ok;
  return ok;
}

// "NRPhy_configuration.txt": the full parameter list, describing the first slot (CORESET 0, its
// DCI and PDSCH 0), without a second CORESET or PDSCH.
// The parameter of each line of "NRPhy_configuration.txt" (indices 2, 7, 13 .. 15, 41 and 62
// are read by nobody). In the older layout the value at index 10 lacks, and the reader finds
// "PDSCHRBOffset" after index 9; here the name follows index 10, which that rule leaves alone.
const char* const kMainRegName[kMainRegN] = {"carrierNrb",
                                             "bwpRbOffset",
                                             "bwpNrb",
                                             "coresetFirstRb",
                                             "coresetEndRb",
                                             "coresetDuration",
                                             "ssStartSymbol",
                                             "dciAggrL",
                                             "dciPayloadSize",
                                             "dciUeSpecific",
                                             "PDSCHRBOffset",
                                             "pdschRbN",
                                             "ssMonSlot",
                                             "unused",
                                             "unused",
                                             "unused",
                                             "pdschFirstSym",
                                             "pdschLastSym",
                                             "dmrsSymN",
                                             "dmrsSym0",
                                             "dmrsSym1",
                                             "dmrsSym2",
                                             "dmrsSym3",
                                             "cdmGrpNoData",
                                             "layerN",
                                             "rnti",
                                             "tbSize",
                                             "rvIdx",
                                             "Qm",
                                             "reserved",
                                             "dmrsPort0",
                                             "dmrsPort1",
                                             "dmrsPort2",
                                             "dmrsPort3",
                                             "coresetIntvEn",
                                             "coresetLreg",
                                             "coresetIntvR",
                                             "coresetNshift",
                                             "secondCoreset",
                                             "coreset1Duration",
                                             "dci1StartSymbol",
                                             "unused",
                                             "dci1PayloadSize",
                                             "coreset1FirstRb",
                                             "coreset1EndRb",
                                             "dci1UeSpecific",
                                             "coreset1IntvEn",
                                             "coreset1Lreg",
                                             "coreset1IntvR",
                                             "coreset1Nshift",
                                             "secondPdsch",
                                             "pdsch1FirstSym",
                                             "pdsch1LastSym",
                                             "pdsch1DmrsSymN",
                                             "pdsch1DmrsSym0",
                                             "pdsch1DmrsSym1",
                                             "pdsch1DmrsSym2",
                                             "pdsch1DmrsSym3",
                                             "pdsch1CdmGrpNoData",
                                             "pdsch1LayerN",
                                             "pdsch1Rnti",
                                             "pdsch1TbSize",
                                             "unused",
                                             "pdsch1Qm",
                                             "pdsch1Reserved",
                                             "pdsch1DmrsPort0",
                                             "pdsch1DmrsPort1",
                                             "pdsch1DmrsPort2",
                                             "pdsch1DmrsPort3"};

// "NRPhy_configuration.txt": the full parameter list, describing the first slot (CORESET 0, its
// DCI and PDSCH 0), without a second CORESET or PDSCH (their values 0).
bool writeMainFile(const char* dir, const NrTvSlotDesc& t, const NrTvSlotSent& s) {
  int32_t v[kMainRegN] = {};
  const int32_t first[] = {t.carrierNrb,   t.bwpRbOffset, t.bwpNrb, t.csFirstRb,   t.csEndRb,
                           t.duration,     t.startSymbol, t.aggrL,  t.payloadSize, t.ueSpecific,
                           t.pdschFirstRb, t.pdschRbN,    t.slot};
  std::copy(std::begin(first), std::end(first), v);
  // PDSCH 0 from index 16, its DMRS ports from 30 (port 1000 + layer), CORESET 0's interleaving
  // from 34.
  const int32_t pdsch[] = {t.firstSym,
                           t.lastSym,
                           t.dmrsN,
                           t.dmrsSym[0],
                           t.dmrsSym[1],
                           t.dmrsSym[2],
                           t.dmrsSym[3],
                           t.cdmGrpNoData,
                           t.layerN,
                           t.rnti,
                           static_cast<int32_t>(s.tbSize),
                           0,  // rvIdx
                           s.qm,
                           0};  // reserved
  std::copy(std::begin(pdsch), std::end(pdsch), v + 16);
  for (int k = 0; k < 4; k++) v[30 + k] = kDmrsPortBase + k;
  const int32_t coreset[] = {t.intvEn, t.Lreg, t.intvR, t.Nshift};
  std::copy(std::begin(coreset), std::end(coreset), v + 34);
  NrRegLine r[kMainRegN];
  for (int i = 0; i < kMainRegN; i++) r[i] = NrRegLine{v[i], kMainRegName[i]};
  char title[kRegTitleCap + 1];
  std::snprintf(title, sizeof(title), "parameters of slot %u", t.slot);
  return writeReg(dir, "NRPhy_configuration.txt", title, r, kMainRegN);
}

// The RB-group bitmaps of the slots that use them; every other bitmap or rate-matching file of
// the two section digits is removed.
bool writeOptionalFiles(const char* dir) {
  bool ok = true;
  for (const NrTvSlotDesc& t : kNrTvSlots) {
    NrPath path;
    const char* const removed[] = {"coresetRBG_Bitmap", "dchRateMatchConifg"};
    for (const char* name : removed) {
      if (!nrBuildPath(path, "nrWriteTestVector", "%s/%s%c.txt", dir, name, t.digit)) return false;
      ok = nrRemoveStaleFile(path) && ok;
    }
    if (!nrBuildPath(path, "nrWriteTestVector", "%s/pdschRBG_Bitmap%c.txt", dir, t.digit))
      return false;
    if (t.rbGroupN == 0) {
      ok = nrRemoveStaleFile(path) && ok;
      continue;
    }
    int32_t groups[kTvRbGroupCap];
    for (int g = 0; g < t.rbGroupN; g++) groups[g] = t.rbGroups[g];
    ok = nrWriteCommaFile(path, groups, t.rbGroupN) && ok;
  }
  return ok;
}

// dir exists as a directory, or is made.
bool makeDir(const char* dir) {
  struct stat st;
  if (stat(dir, &st) == 0) {
    if (S_ISDIR(st.st_mode)) return true;
    nrDiag("nrWriteTestVector: %s exists and is not a directory\n", dir);
    return false;
  }
  if (mkdir(dir, 0755) == 0) return true;
  nrDiag("nrWriteTestVector: %s: cannot be made: %s\n", dir, std::strerror(errno));
  return false;
}

}  // namespace

const char* nrTvChannelCheck(const NrTvChannelCfg* ch) {
  switch (ch->kind) {
    case NrTvChannel::kIdentity:
      return nullptr;
    case NrTvChannel::kPortGain:
      return ch->gain >= 0.0 && ch->gain <= kTvMaxPortGain ? nullptr : "port gain outside 0 .. 8";
    case NrTvChannel::kTwoTap:
      if (ch->delay < 1 || ch->delay > kTvMaxTapDelay)
        return "second tap delay outside 1 .. 144 samples (the shortest cyclic prefix)";
      return std::fabs(ch->tapGain) <= 1.0 ? nullptr : "second tap gain outside -1 .. 1";
  }
  return "unknown channel";
}

bool nrWriteTestVector(const char* dir, const NrTvChannelCfg* channel, NrTvWriteReport* report) {
  NrTvWriteReport local;
  NrTvWriteReport* rep = report ? report : &local;
  std::memset(rep, 0, sizeof(*rep));
  const NrTvChannelCfg identity;
  const NrTvChannelCfg& ch = channel ? *channel : identity;
  if (const char* why = nrTvChannelCheck(&ch)) {
    nrDiag("nrWriteTestVector: %s\n", why);
    return false;
  }
  if (dir == nullptr || *dir == '\0') {
    nrDiag("nrWriteTestVector: no directory given\n");
    return false;
  }
  if (!makeDir(dir)) return false;

  const uint32_t lostBefore = nrOutFileFailures();
  savedNbConfig = gnrNbConfig;
  std::memset(frameF, 0, sizeof(frameF));
  std::memset(frameOut, 0, sizeof(frameOut));
  bool ok = true;
  for (int i = 0; i < kTvSlotN && ok; i++) ok = sendSlot(kNrTvSlots[i], &rep->slot[i]);
  gnrNbConfig = savedNbConfig;
  if (!ok) return false;
  rep->clipped = applyChannel(ch);
  if (rep->clipped != 0)
    nrDiag("nrWriteTestVector: %u sample values of antenna 2 saturated at the int16 limits\n",
           rep->clipped);

  const int16_t* const parts[2][2] = {{frameOut[0][0], frameOut[0][1]},
                                      {frameOut[1][0], frameOut[1][1]}};
  ok = nrWriteTvSampleFiles(dir, parts, kTvSampleCap);
  ok = ok && writeMainFile(dir, kNrTvSlots[0], rep->slot[0]);
  for (int i = 0; i < kTvSlotN && ok; i++) ok = writeSections(dir, kNrTvSlots[i], rep->slot[i]);
  ok = ok && writeOptionalFiles(dir);
  return ok && nrOutFileFailures() == lostBefore;
}
