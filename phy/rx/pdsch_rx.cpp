#include "phy/rx/pdsch_rx.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/console.h"
#include "phy/common/cpx_float.h"
#include "phy/common/dmrs.h"
#include "phy/common/stage_profile.h"
#include "phy/common/text_lines.h"
#include "phy/ofdm/ofdm_demod.h"
#include "phy/rx/demod_soft.h"

NrRxRe gnrUeDchDataRe[kUeDchReCap];
NrRxRe gnrUeDchDmrsRe[kUeDchReCap];
int32_t gnrUeDchDemapIn[kUeDchDemapInCap];

namespace {

constexpr int kMaxAddPos = 3;
// More unreliable symbols per data RE than this: no valid data. The ratio is a single-precision
// quotient compared with the double 0.8, so exactly 4/5 (0.800000012f) already exceeds it.
constexpr double kMaxWeakRatio = 0.8;
constexpr int16_t kClipLevel = 32767;
// Measured with the default slot: it decodes up to a waveform peak of -4 dBFS; from -3.5 dBFS on,
// before any sample clips, the front end's int16 grid values saturate.
constexpr char kClipDecodeLimit[] = "-4 dBFS peak";

// Debug dump: one "%d\n" line per value.
template <typename Get>
void writeIntFile(const char* name, uint32_t count, Get get) {
  nrWriteTextLines(name, false, count, [&](uint32_t i, char* p) {
    p = nrPutInt(p, get(i));
    *p++ = '\n';
    return p;
  });
}

bool symbolHasPdsch(const NrPdschCfg& pdsch, int l) { return ((pdsch.symBitmap >> l) & 1) != 0; }

// Checks the slot against the receiver's buffers before anything is touched; prints the first
// problem found.
bool slotFits(const NrDchMwItf* itf, int carrierNrb, int gridNrb) {
  const NrCellCfg& cell = itf->cellCfg;
  const NrPdschCfg& pdsch = itf->pdschCfg;
  const uint32_t n = cell.fftSize;
  if (n == 0 || n > kMaxFftSize || (n & (n - 1)) != 0) {
    nrDiag("nrUeDchRxProc: FFT size %u not supported (power of two up to %d)\n", n, kMaxFftSize);
    return false;
  }
  if (cell.antPortN != 1 && cell.antPortN != 2) {
    nrDiag("nrUeDchRxProc: %u receive antennas not supported (1 or 2)\n", cell.antPortN);
    return false;
  }
  uint32_t slotLen = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) slotLen += cell.cpLen[l] + n;
  if (slotLen > static_cast<uint32_t>(kSlotSampleCap)) {
    nrDiag("nrUeDchRxProc: slot of %u samples exceeds the %d-sample buffer\n", slotLen,
           kSlotSampleCap);
    return false;
  }
  if (pdsch.layerN != 1 && pdsch.layerN != 2) {
    nrDiag("nrUeDchRxProc: %u layers not supported (1 or 2)\n", pdsch.layerN);
    return false;
  }
  if (pdsch.Qm != 2 && pdsch.Qm != 4 && pdsch.Qm != 6 && pdsch.Qm != 8) {
    nrDiag("nrUeDchRxProc: modulation order %u not supported\n", pdsch.Qm);
    return false;
  }
  if (pdsch.dmrsType != 1 && pdsch.dmrsType != 2) {
    nrDiag("nrUeDchRxProc: DMRS type %u not supported (1 or 2)\n", pdsch.dmrsType);
    return false;
  }
  // TS 38.211 Tables 7.4.1.1.2-1/-2: ports 1000..1007 (type 1) or 1000..1011 (type 2); two layers
  // on the pair of one CDM group told apart by the frequency cover (1000/1001, 1002/1003, ...).
  const int port0 = nrDmrsLayerPort(&pdsch, 0);
  if (port0 >= (pdsch.dmrsType == 1 ? 8 : 12) ||
      (pdsch.layerN == 2 && (port0 % 2 != 0 || nrDmrsLayerPort(&pdsch, 1) != port0 + 1))) {
    nrDiag(
        "nrUeDchRxProc: DMRS ports %u, %u of %u layers not supported (one port of the type; two "
        "layers on a port pair 1000/1001, 1002/1003, ...)\n",
        pdsch.dmrsPorts[0], pdsch.dmrsPorts[1], pdsch.layerN);
    return false;
  }
  if (pdsch.layerN == 2 && cell.antPortN != 2) {
    nrDiag("nrUeDchRxProc: two layers need two receive antennas, the cell has %u\n", cell.antPortN);
    return false;
  }
  if (pdsch.rbN > kMaxRb || gridNrb < 0 || gridNrb > kMaxRb) {
    nrDiag("nrUeDchRxProc: %u PDSCH RBs, %d grid RBs: more than %d RBs\n", pdsch.rbN, gridNrb,
           kMaxRb);
    return false;
  }
  for (int r = 0; r < pdsch.rbN; r++)
    if (pdsch.rbIdx[r] >= kMaxRb) {
      nrDiag("nrUeDchRxProc: PDSCH RB %u outside the %d-RB grid\n", pdsch.rbIdx[r], kMaxRb);
      return false;
    }
  bool dmrsInSlot = pdsch.dmrsAddPosN <= kMaxAddPos && pdsch.dmrsFirstSym < kSymbolsPerSlot;
  for (int k = 0; dmrsInSlot && k < pdsch.dmrsAddPosN; k++)
    dmrsInSlot = pdsch.dmrsAddPos[k] < kSymbolsPerSlot;
  if (!dmrsInSlot) {
    nrDiag("nrUeDchRxProc: DMRS symbol %u with %u additional positions outside the slot\n",
           pdsch.dmrsFirstSym, pdsch.dmrsAddPosN);
    return false;
  }
  // Every RB taken from the grid must lie inside the FFT.
  const int k0 = static_cast<int>(n) / 2 - 6 * carrierNrb;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (!symbolHasPdsch(pdsch, l)) continue;
    for (int r = 0; r < gridNrb; r++) {
      if (cell.rbMap[l][r] != kRbPdsch) continue;
      const int first = k0 + kScPerRb * r;
      if (first < 0 || first + kScPerRb > static_cast<int>(n)) {
        nrDiag("nrUeDchRxProc: RB %d of symbol %d lies outside the %u-point FFT\n", r, l, n);
        return false;
      }
    }
  }
  return true;
}

bool rejectSlot(NrDchMwItf* itf) {
  itf->codedBitN = 0;
  itf->rxDone = 1;
  itf->dataValid = 0;
  gnrUeConfig.sysInitDone = 0;
  nrPrintf("==>no valid data input!!!!\n");
  return false;
}

// Samples at the int16 limits mean the input was clipped on its way here (a waveform scaled
// too hot): said once per slot, since it explains a decode that fails on a clean channel.
void warnIfClipped(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCellCfg& cell) {
  uint32_t slotLen = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) slotLen += cell.cpLen[l] + cell.fftSize;
  uint32_t clipped = 0;
  for (int a = 0; a < cell.antPortN; a++)
    for (int c = 0; c < 2; c++)
      for (uint32_t i = 0; i < slotLen; i++) {
        const int16_t v = rxSample[a][c][i];
        clipped += v >= kClipLevel || v <= -kClipLevel;
      }
  if (clipped != 0)
    nrDiag(
        "nrUeDchRxProc: %u received sample values at the int16 limit +-%d: the input clips "
        "(a clean slot decodes only up to about %s)\n",
        clipped, kClipLevel, kClipDecodeLimit);
}

// Demodulates symbol l of every receive antenna into gnrUeRxGrid; one receive antenna is copied
// to the second, so that everything downstream sees two.
void demodulateSymbol(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCellCfg& cell, int l) {
  for (int a = 0; a < cell.antPortN; a++) nrOfdmDemod(rxSample, &cell, l, l, a, gnrUeRxGrid);
  if (cell.antPortN == 1)
    std::memcpy(gnrUeRxGrid[l][1], gnrUeRxGrid[l][0], sizeof(gnrUeRxGrid[l][0]));
}

// The noise-aware variant's soft bits of the reN REs listed in gnrUeDchDemapIn and its verdict.
bool finishNoiseAware(NrDchMwItf* dchItf, uint32_t reN, uint32_t dataN, float llrScale,
                      bool dumps) {
  const NrPdschCfg& pdsch = dchItf->pdschCfg;
  {
    NrStageScope demapping(NrStage::kDemapping);
    dchItf->codedBitN = nrDemodSoftNa(gnrUeDchDemapIn, reN, pdsch.layerN,
                                      static_cast<uint16_t>(pdsch.Qm), llrScale, ueLlrBuf);
  }
  if (dumps)
    writeIntFile("dchSoftbit.txt", dchItf->codedBitN, [](uint32_t i) { return int{ueLlrBuf[i]}; });
  dchItf->rxDone = 1;
  gnrUeConfig.sysInitDone = 0;
  const bool valid = dataN > 0 && dchItf->codedBitN > 0 && std::isfinite(gnrUeDchNoiseVarNa);
  dchItf->dataValid = valid ? 1 : 0;
  nrPrintf(valid ? "==>DCH process done! output LLR>>>\n" : "==>no valid data input!!!!\n");
  return valid;
}

}  // namespace

bool nrUeDchRxProc(const int16_t (*rxSample)[2][kSlotSampleCap], NrDchMwItf* dchItf,
                   int16_t carrierNrb, int16_t gridNrb, uint16_t slot, const NrDchRxOpts* opts) {
  // What the nested stages (FFT, estimation, equalisation, demapping) leave: RE extraction, layer
  // demapping, rate-matching masks, debug files and the verdict.
  NrStageScope extraction(NrStage::kExtraction);
  const NrCellCfg& cell = dchItf->cellCfg;
  const bool dumps = !opts || opts->dumps;
  const bool na = opts && opts->noiseAware;
  const NrPdschCfg& pdsch = dchItf->pdschCfg;
  if (!slotFits(dchItf, carrierNrb, gridNrb)) return rejectSlot(dchItf);
  warnIfClipped(rxSample, cell);

  std::memset(gnrUeDchDmrsRe, 0, sizeof(gnrUeDchDmrsRe));
  std::memset(gnrUeDchDataRe, 0, sizeof(gnrUeDchDataRe));
  std::memset(ueLlrBuf, 0, sizeof(ueLlrBuf));
  uint8_t dmrsPos[kScPerRb] = {};
  uint8_t DMRSSymbolFlag[kSymbolsPerSlot] = {};
  nrGetDmrsPos(dmrsPos, DMRSSymbolFlag, &pdsch);
  // The DMRS subcarriers of the layers' CDM group and those without data (the estimator uses
  // the same masks).
  uint16_t dmrsSc = 0, noDataSc = 0;
  nrDmrsRxMasks(&pdsch, &dmrsSc, &noDataSc);
  const uint32_t n = cell.fftSize;
  const int k0 = static_cast<int>(n) / 2 - 6 * carrierNrb;
  const int L = pdsch.layerN;

  // OFDM demodulation and RE extraction, symbol by symbol.
  uint8_t dataSubsPerRbPerSymbol[kSymbolsPerSlot] = {};
  uint32_t dataN = 0;
  uint32_t dmrsN = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (symbolHasPdsch(pdsch, l)) {
      demodulateSymbol(rxSample, cell, l);
      const uint32_t symStart = dataN;
      uint32_t rbCount = 0;
      for (int r = 0; r < gridNrb; r++) {
        if (cell.rbMap[l][r] != kRbPdsch) continue;
        rbCount++;
        for (int j = 0; j < kScPerRb; j++) {
          const int k = k0 + kScPerRb * r + j;
          const NrRxRe re = {{gnrUeRxGrid[l][0][k], gnrUeRxGrid[l][1][k]}};
          if (!DMRSSymbolFlag[l])
            gnrUeDchDataRe[dataN++] = re;
          else if ((dmrsSc >> j) & 1)
            gnrUeDchDmrsRe[dmrsN++] = re;
          else if (((noDataSc >> j) & 1) == 0)
            gnrUeDchDataRe[dataN++] = re;
        }
      }
      if (rbCount) dataSubsPerRbPerSymbol[l] = static_cast<uint8_t>((dataN - symStart) / rbCount);
    }
    dchItf->dataRePerSym[l] = static_cast<uint16_t>(dataN);
  }

  if (dumps) {
    writeIntFile("debugRe0.txt", dataN,
                 [](uint32_t i) { return nrCpxRe(gnrUeDchDataRe[i].ant[0]); });
    writeIntFile("debugIm0.txt", dataN,
                 [](uint32_t i) { return nrCpxIm(gnrUeDchDataRe[i].ant[0]); });
  }

  if (dmrsN / (pdsch.dmrsAddPosN + 1u) > static_cast<uint32_t>(kDmrsRePerSymCap)) {
    nrDiag("nrUeDchRxProc: %u DMRS REs over %u DMRS symbols exceed %d per symbol\n", dmrsN,
           pdsch.dmrsAddPosN + 1u, kDmrsRePerSymCap);
    return rejectSlot(dchItf);
  }
  if (na ? !nrUeDchChEstEqNa(gnrUeDchDataRe, dataN, gnrUeDchDmrsRe, static_cast<uint16_t>(dmrsN),
                             dchItf, slot, opts->mmse)
         : !nrUeDchChEstEq(gnrUeDchDataRe, dataN, gnrUeDchDmrsRe, static_cast<uint16_t>(dmrsN),
                           dchItf, slot))
    return rejectSlot(dchItf);
  if (dumps && !na) {
    writeIntFile("debugRe.txt", dataN,
                 [](uint32_t i) { return nrCpxRe(gnrUeDchDataRe[i].ant[0]); });
    writeIntFile("debugIm.txt", dataN,
                 [](uint32_t i) { return nrCpxIm(gnrUeDchDataRe[i].ant[0]); });
  }

  gnrWeakLlrCnt = 0;

  // Layer demapping and rate-matching masks: entries of RB r of symbol l start at
  // dataRePerSym[l - 1] + dataSubsPerRbPerSymbol[l] * r.
  uint32_t pairN = 0;
  bool overflow = false;
  auto emit = [&](uint32_t idx) {
    if (idx >= static_cast<uint32_t>(kUeDchReCap) ||
        pairN + L > static_cast<uint32_t>(kUeDchDemapInCap)) {
      overflow = true;
      return;
    }
    if (na) {
      // The noise-aware soft bits are formed from the equalised symbols of the listed REs.
      gnrUeDchDemapIn[pairN++] = static_cast<int32_t>(idx);
      return;
    }
    const NrRxRe& re = gnrUeDchDataRe[idx];
    if (L == 2) {
      gnrUeDchDemapIn[pairN++] = re.ant[0];
      gnrUeDchDemapIn[pairN++] = re.ant[1];
    } else {
      // One layer: average of the two antennas' equalised values.
      const int16_t i = static_cast<int16_t>((nrCpxRe(re.ant[0]) + nrCpxRe(re.ant[1])) / 2.0);
      const int16_t q = static_cast<int16_t>((nrCpxIm(re.ant[0]) + nrCpxIm(re.ant[1])) / 2.0);
      gnrUeDchDemapIn[pairN++] = nrCpxPack(i, q);
    }
  };
  for (int l = 0; l < kSymbolsPerSlot && !overflow; l++) {
    if (!symbolHasPdsch(pdsch, l)) continue;
    const uint32_t base = l == 0 ? 0 : dchItf->dataRePerSym[l - 1];
    const uint32_t perRb = dataSubsPerRbPerSymbol[l];
    for (int r = 0; r < pdsch.rbN; r++) {
      const uint32_t start = base + perRb * r;
      const uint16_t mask = dchItf->rmMap[l][r];
      if (mask == 0) {
        for (uint32_t i = 0; i < perRb; i++) emit(start + i);
        continue;
      }
      // Only the RB's own entries: on a DMRS symbol without data beside the DMRS the RB has
      // none, and the entries at start belong to the next symbol.
      uint32_t c = 0;
      for (int j = 0; j < kScPerRb && c < perRb; j++) {
        if (DMRSSymbolFlag[l] && ((noDataSc >> j) & 1)) continue;
        if (((mask >> j) & 1) == 0) emit(start + c);
        c++;
      }
    }
  }
  if (overflow) {
    nrDiag("nrUeDchRxProc: more than %d demapper inputs (or REs beyond the %d-RE buffer)\n",
           kUeDchDemapInCap, kUeDchReCap);
    return rejectSlot(dchItf);
  }
  if (na) return finishNoiseAware(dchItf, pairN, dataN, opts->llrScale, dumps);
  if (L == 1 && dumps) {
    writeIntFile("debugdchEQRe.txt", pairN, [](uint32_t i) { return nrCpxRe(gnrUeDchDemapIn[i]); });
    writeIntFile("debugdchEQIm.txt", pairN, [](uint32_t i) { return nrCpxIm(gnrUeDchDemapIn[i]); });
  }

  {
    NrStageScope demapping(NrStage::kDemapping);
    nrDemodSoft(gnrUeDchDemapIn, ueLlrBuf, static_cast<int32_t>(pairN),
                static_cast<uint16_t>(pdsch.Qm));
  }
  dchItf->codedBitN = pairN * pdsch.Qm;
  if (dumps)
    writeIntFile("dchSoftbit.txt", dchItf->codedBitN, [](uint32_t i) { return int{ueLlrBuf[i]}; });

  dchItf->rxDone = 1;
  gnrUeConfig.sysInitDone = 0;

  // Validity: unreliable soft bits per extracted data RE; a slot without data REs is not valid.
  const float weakRatio =
      dataN == 0 ? 0.0f : static_cast<float>(gnrWeakLlrCnt) / static_cast<float>(dataN);
  if (dataN == 0 || static_cast<double>(weakRatio) > kMaxWeakRatio) {
    dchItf->dataValid = 0;
    nrPrintf("==>no valid data input!!!!\n");
    return false;
  }
  dchItf->dataValid = 1;
  nrPrintf("==>DCH process done! output LLR>>>\n");
  return true;
}

void nrUeDchSetCodeRate(NrDchMwItf* dchItf) {
  // Without coded bits there is nothing to decode and the rate stays 0.
  dchItf->codeRate = dchItf->codedBitN != 0 ? static_cast<float>(dchItf->tbSize) /
                                                  static_cast<float>(dchItf->codedBitN)
                                            : 0.0f;
  // The single-precision product, widened to double, plus one half, truncated.
  dchItf->pdschCfg.codeRateRef = static_cast<uint16_t>(
      static_cast<int64_t>(static_cast<double>(dchItf->codeRate * 2048.0f) + 0.5));
}
