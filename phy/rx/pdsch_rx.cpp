#include "phy/rx/pdsch_rx.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "config/console.h"
#include "phy/common/cpu_features.h"
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

// Entries of gnrUeDchDataRe, gnrUeDchDmrsRe and ueLlrBuf this receiver may have left nonzero
// (only it writes them): every entry from there on is zero, as a receiver that cleared the whole
// buffers every slot would leave them. A slot clears only the stale entries beyond what it writes.
uint32_t dataReDirty = 0;
uint32_t dmrsReDirty = 0;
uint32_t llrDirty = 0;

// Zeroes the entries from `used` up to `dirty` and records that nothing beyond `used` is left.
template <typename T>
void clearBeyond(T* buf, uint32_t used, uint32_t* dirty) {
  if (*dirty > used) std::memset(buf + used, 0, (*dirty - used) * sizeof(T));
  *dirty = used;
}

// The n REs of subcarriers k..k + n - 1 of both antennas' grids, as NrRxRe.
void copyRes(NrRxRe* dst, const int32_t* ant0, const int32_t* ant1, int k, int n) {
  for (int i = 0; i < n; i++) {
    dst[i].ant[0] = ant0[k + i];
    dst[i].ant[1] = ant1[k + i];
  }
}

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

// A slot rejected after its REs were extracted leaves no soft bits.
bool rejectExtracted(NrDchMwItf* itf) {
  clearBeyond(ueLlrBuf, 0, &llrDirty);
  return rejectSlot(itf);
}

// Values at the int16 limits (32767, -32767, -32768) among n: v - 32767 taken to 16 bits is 0, 2
// or 1 for exactly these, so one unsigned comparison per value counts them.
[[gnu::always_inline]] inline uint32_t countClippedLanes(const int16_t* v, uint32_t n) {
  uint32_t clipped = 0;
  for (uint32_t i = 0; i < n; i++) clipped += static_cast<uint16_t>(v[i] - kClipLevel) <= 2;
  return clipped;
}

using CountClippedFn = uint32_t (*)(const int16_t*, uint32_t);
uint32_t countClippedPlain(const int16_t* v, uint32_t n) { return countClippedLanes(v, n); }
#ifdef VELTRA_X86_VARIANTS
VELTRA_TARGET_AVX2 uint32_t countClippedAvx2(const int16_t* v, uint32_t n) {
  return countClippedLanes(v, n);
}
VELTRA_TARGET_AVX512 uint32_t countClippedAvx512(const int16_t* v, uint32_t n) {
  return countClippedLanes(v, n);
}
constexpr CountClippedFn kCountClippedFns[kNrCpuLevels] = {countClippedPlain, countClippedAvx2,
                                                           countClippedAvx512};
#else
constexpr CountClippedFn kCountClippedFns[kNrCpuLevels] = {countClippedPlain, nullptr, nullptr};
#endif

// Samples at the int16 limits mean the input was clipped on its way here (a waveform scaled
// too hot): said once per slot, since it explains a decode that fails on a clean channel.
void warnIfClipped(const int16_t (*rxSample)[2][kSlotSampleCap], const NrCellCfg& cell) {
  uint32_t slotLen = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) slotLen += cell.cpLen[l] + cell.fftSize;
  const CountClippedFn count = nrCpuPick(kCountClippedFns);
  uint32_t clipped = 0;
  for (int a = 0; a < cell.antPortN; a++)
    for (int c = 0; c < 2; c++) clipped += count(rxSample[a][c], slotLen);
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

  uint8_t dmrsPos[kScPerRb] = {};
  uint8_t DMRSSymbolFlag[kSymbolsPerSlot] = {};
  nrGetDmrsPos(dmrsPos, DMRSSymbolFlag, &pdsch);
  // The DMRS subcarriers of the layers' CDM group and those without data (the estimator uses
  // the same masks), as lists of subcarriers of an RB.
  uint16_t dmrsSc = 0, noDataSc = 0;
  nrDmrsRxMasks(&pdsch, &dmrsSc, &noDataSc);
  int dmrsJ[kScPerRb], dataJ[kScPerRb];
  int dmrsPerRb = 0, dataPerRb = 0;
  for (int j = 0; j < kScPerRb; j++) {
    if ((dmrsSc >> j) & 1)
      dmrsJ[dmrsPerRb++] = j;
    else if (((noDataSc >> j) & 1) == 0)
      dataJ[dataPerRb++] = j;
  }
  const uint32_t n = cell.fftSize;
  const int k0 = static_cast<int>(n) / 2 - 6 * carrierNrb;
  const int L = pdsch.layerN;

  // OFDM demodulation and RE extraction, symbol by symbol: on a symbol without DMRS every run of
  // consecutive PDSCH RBs at once, on a DMRS symbol RB by RB through the subcarrier lists.
  uint8_t dataSubsPerRbPerSymbol[kSymbolsPerSlot] = {};
  uint32_t dataN = 0;
  uint32_t dmrsN = 0;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (symbolHasPdsch(pdsch, l)) {
      demodulateSymbol(rxSample, cell, l);
      const int32_t* ant0 = gnrUeRxGrid[l][0];
      const int32_t* ant1 = gnrUeRxGrid[l][1];
      const uint32_t symStart = dataN;
      uint32_t rbCount = 0;
      for (int r = 0; r < gridNrb; r++) {
        if (cell.rbMap[l][r] != kRbPdsch) continue;
        const int first = k0 + kScPerRb * r;
        if (DMRSSymbolFlag[l]) {
          rbCount++;
          for (int m = 0; m < dmrsPerRb; m++)
            copyRes(&gnrUeDchDmrsRe[dmrsN++], ant0, ant1, first + dmrsJ[m], 1);
          for (int m = 0; m < dataPerRb; m++)
            copyRes(&gnrUeDchDataRe[dataN++], ant0, ant1, first + dataJ[m], 1);
          continue;
        }
        int runN = 1;
        while (r + runN < gridNrb && cell.rbMap[l][r + runN] == kRbPdsch) runN++;
        copyRes(&gnrUeDchDataRe[dataN], ant0, ant1, first, kScPerRb * runN);
        dataN += static_cast<uint32_t>(kScPerRb * runN);
        rbCount += static_cast<uint32_t>(runN);
        r += runN - 1;
      }
      if (rbCount) dataSubsPerRbPerSymbol[l] = static_cast<uint8_t>((dataN - symStart) / rbCount);
    }
    dchItf->dataRePerSym[l] = static_cast<uint16_t>(dataN);
  }
  // Past the REs of this slot the buffers read as cleared (the layer demapping below may read
  // entries past the last data RE of an allocation the grid does not fully hold).
  clearBeyond(gnrUeDchDmrsRe, dmrsN, &dmrsReDirty);
  clearBeyond(gnrUeDchDataRe, dataN, &dataReDirty);

  if (dumps) {
    writeIntFile("debugRe0.txt", dataN,
                 [](uint32_t i) { return nrCpxRe(gnrUeDchDataRe[i].ant[0]); });
    writeIntFile("debugIm0.txt", dataN,
                 [](uint32_t i) { return nrCpxIm(gnrUeDchDataRe[i].ant[0]); });
  }

  if (dmrsN / (pdsch.dmrsAddPosN + 1u) > static_cast<uint32_t>(kDmrsRePerSymCap)) {
    nrDiag("nrUeDchRxProc: %u DMRS REs over %u DMRS symbols exceed %d per symbol\n", dmrsN,
           pdsch.dmrsAddPosN + 1u, kDmrsRePerSymCap);
    return rejectExtracted(dchItf);
  }
  if (na ? !nrUeDchChEstEqNa(gnrUeDchDataRe, dataN, gnrUeDchDmrsRe, static_cast<uint16_t>(dmrsN),
                             dchItf, slot, opts->mmse)
         : !nrUeDchChEstEq(gnrUeDchDataRe, dataN, gnrUeDchDmrsRe, static_cast<uint16_t>(dmrsN),
                           dchItf, slot))
    return rejectExtracted(dchItf);
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
  // The n entries from idx on, as emit gives them one by one; where they would not all fit, emit
  // itself marks the overflow at the first that does not.
  auto emitRun = [&](uint32_t idx, uint32_t n) {
    if (idx + n > static_cast<uint32_t>(kUeDchReCap) ||
        pairN + n * L > static_cast<uint32_t>(kUeDchDemapInCap)) {
      for (uint32_t i = 0; i < n; i++) emit(idx + i);
      return;
    }
    int32_t* out = &gnrUeDchDemapIn[pairN];
    pairN += n * (na ? 1 : L);
    if (na) {
      for (uint32_t i = 0; i < n; i++) out[i] = static_cast<int32_t>(idx + i);
    } else if (L == 2) {
      std::memcpy(out, &gnrUeDchDataRe[idx], n * sizeof(NrRxRe));
    } else {
      // The mean of emit, (a + b) / 2.0 truncated, is the integer quotient: a + b is exact and
      // both truncate toward zero.
      for (uint32_t i = 0; i < n; i++) {
        const NrRxRe& re = gnrUeDchDataRe[idx + i];
        const int16_t iq = static_cast<int16_t>((nrCpxRe(re.ant[0]) + nrCpxRe(re.ant[1])) / 2);
        const int16_t qq = static_cast<int16_t>((nrCpxIm(re.ant[0]) + nrCpxIm(re.ant[1])) / 2);
        out[i] = nrCpxPack(iq, qq);
      }
    }
  };
  for (int l = 0; l < kSymbolsPerSlot && !overflow; l++) {
    if (!symbolHasPdsch(pdsch, l)) continue;
    const uint32_t base = l == 0 ? 0 : dchItf->dataRePerSym[l - 1];
    const uint32_t perRb = dataSubsPerRbPerSymbol[l];
    for (int r = 0; r < pdsch.rbN; r++) {
      const uint32_t start = base + perRb * r;
      if (dchItf->rmMap[l][r] == 0) {
        // A run of RBs without rate-matching holes: their entries follow each other.
        int runN = 1;
        while (r + runN < pdsch.rbN && dchItf->rmMap[l][r + runN] == 0) runN++;
        emitRun(start, perRb * static_cast<uint32_t>(runN));
        r += runN - 1;
        continue;
      }
      const uint16_t mask = dchItf->rmMap[l][r];
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
    return rejectExtracted(dchItf);
  }
  if (na) {
    const bool valid = finishNoiseAware(dchItf, pairN, dataN, opts->llrScale, dumps);
    clearBeyond(ueLlrBuf, dchItf->codedBitN, &llrDirty);
    return valid;
  }
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
  clearBeyond(ueLlrBuf, dchItf->codedBitN, &llrDirty);
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
