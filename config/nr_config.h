// Process-wide slot configuration records, UE records and shared sample buffers.
//
// Every stage of the PHY reads and writes these single static instances by field name; they are
// zero at program start and never freed. Records use natural alignment: nothing stores them in a
// file or sends them on a wire, so byte packing would only cost unaligned accesses.
#pragma once

#include <cstdint>

// ---- Capacities -----------------------------------------------------------------------------
constexpr int kSymbolsPerSlot = 14;
constexpr int kScPerRb = 12;
constexpr int kMaxRb = 280;                    // every RB-indexed array (covers 275 RBs)
constexpr int kGridScCap = kMaxRb * kScPerRb;  // 3360 subcarriers per grid symbol
constexpr int kMaxFftSize = 2048;
constexpr int kSlotSampleCap = 15 * kMaxFftSize;  // 14 symbols plus prefixes summing to one
constexpr int kMaxLayers = 2;
constexpr int kMaxQm = 8;
// Soft bits of the largest slot the receiver accepts: N = 2048 (at most 170 RBs of data per
// symbol), 14 symbols, two layers, 256QAM.
constexpr int kUeLlrCap = kSymbolsPerSlot * kMaxFftSize * kMaxQm * kMaxLayers;
constexpr int kTvSlots = 10;
constexpr int kTvSampleCap = kTvSlots * kSlotSampleCap;  // samples per test-vector file

// Cyclic prefix of each symbol of a slot in units of N/128 (normal CP at 15 kHz: symbols 0 and 7
// longer); the 14 values sum to 128, so the prefixes of a slot add up to one symbol.
constexpr uint16_t kCpPattern[kSymbolsPerSlot] = {10, 9, 9, 9, 9, 9, 9, 10, 9, 9, 9, 9, 9, 9};
constexpr uint16_t kCpPatternRefFft = 128;  // the FFT size the pattern is given for

// ---- Configuration sub-records ----------------------------------------------------------------
struct NrCarrierCfg {
  uint16_t carrierId;
  uint16_t rbStart;     // first common RB of the carrier
  uint16_t nrb;         // carrier width in RBs
  uint16_t scs;         // subcarrier spacing, kHz
  uint16_t zeroScUsed;  // non-zero: the subcarrier at DC carries data
  uint16_t txPowGain;   // linear gain of the OFDM modulator, 1024 = unity
};

struct NrBwpCfg {
  uint16_t bwpId;
  uint16_t scs;
  uint32_t cpType;  // 0 = normal cyclic prefix
  uint16_t nrb;
  uint16_t rbOffset;  // first common RB of the BWP
  uint16_t rbIdxN;
  uint16_t rbIdx[kMaxRb];  // control-region RB list of the file-driven flows
};

struct NrCoresetCfg {
  uint16_t coresetId;
  uint16_t duration;  // symbols, 1..3
  uint16_t allocNrb;  // multiple of 6
  uint16_t cceN;
  uint16_t rbIdx[kMaxRb];
  uint8_t dmrsFilled;
  uint16_t CchIntvEn;
  uint16_t Lreg;
  uint16_t intvR;
  uint16_t Nshift;
  uint16_t regBundleRbN;
  uint16_t intvC;
  uint16_t regBundleN;
  uint16_t regBundleMap[2 * kMaxRb];  // TS 38.211 7.3.2.2 interleaver f(j)
};

struct NrSearchSpaceCfg {
  uint16_t coresetId;
  uint8_t startSymbol;
  uint16_t monSymBitmap;
  uint16_t monSlot;
  uint16_t monPeriod;
  uint8_t ssParamA;
  uint8_t ssParamB;
  uint8_t ssList[14];
  uint16_t ssParamC;
};

struct NrCellCfg {
  uint16_t pci;
  uint16_t rnti;
  uint16_t nId;  // PDSCH scrambling identity
  uint8_t antPortN;
  uint16_t scs;
  uint16_t fftSize;
  uint16_t cpLen[kSymbolsPerSlot];
  uint16_t fftLen;
  int32_t rbMap[kSymbolsPerSlot][kMaxRb];  // 0 free, 1 control, 2 PDSCH, 3 excluded
};

// Values of the occupancy map rbMap.
constexpr int32_t kRbFree = 0;
constexpr int32_t kRbControl = 1;
constexpr int32_t kRbPdsch = 2;
constexpr int32_t kRbExcluded = 3;

struct NrSsbCfg {
  uint16_t scsCfg;
  uint16_t start_Subcarrier;
  uint16_t start_symbol;
};

struct NrPdcchCfg {
  uint8_t pdcchEn;
  uint16_t bwpId;
  uint16_t coresetId;
  uint8_t dciEn;
  uint8_t aggrL;
  uint16_t cceStart;
  uint32_t dciAux;
  uint16_t payloadSize;
  uint32_t rnti;
  uint8_t ueSpecific;
  uint16_t rbN;
  uint16_t rbIdx[96];
};

struct NrPdschCfg {
  uint8_t pdschEn;
  uint16_t bwpId;
  uint16_t bwpRbOffset;
  uint32_t rnti;
  uint16_t rbStart;
  uint8_t reserved0;
  uint8_t layerN;
  uint32_t Qm;
  uint8_t reserved1;
  uint8_t reserved2;
  uint8_t rvIdx;
  uint16_t mcs;
  uint16_t codeRate;     // target code rate x 2048
  uint16_t codeRateRef;  // second rate field x 2048
  uint32_t tbSize;
  uint16_t symBitmap;  // bit k = OFDM symbol k
  uint16_t rbN;
  uint16_t rbIdx[kMaxRb];
  uint8_t dmrsPortIdx[12];  // terminated by 0xFF
  uint8_t cdmGrpNoData;
  uint16_t dmrsScrId0;
  uint16_t dmrsScrId1;
  uint8_t reserved3[4];
  uint32_t reserved4;
  uint8_t dmrsType;
  uint8_t dmrsFirstSym;
  uint8_t dmrsEn;
  uint8_t dmrsAddPosN;
  uint8_t dmrsAddPos[3];
  uint8_t reserved5;
  uint16_t dmrsPorts[4];
  uint16_t dmrsPosExplicit;
  uint16_t dchDmrsOsPos;  // bit k = DMRS on symbol k
  uint16_t dchDmrsRePos;  // bit k = DMRS on subcarrier k of an RB
  uint8_t mcsTable;       // 1: TS 38.214 Table 5.1.3.1-1; anything else Table 5.1.3.1-2
};

struct NrCsiRsCfg {
  uint16_t csiSymbolPattern;
  uint16_t csiSubCarrierPattern;
  uint16_t csiDensity;
  uint16_t rbStart;
  uint16_t rbN;
};

// ---- Top-level records --------------------------------------------------------------------------
// gnrNbConfig: written by the default slot generator (and tbSize/dmrsFilled/PDCCH RBs by the
// transmit chains); read by the transmit chains and the UE set-up.
struct NrNbConfig {
  NrCarrierCfg carrierCfg;
  NrBwpCfg bwpCfg;
  NrCoresetCfg coresetCfg[3];
  NrSearchSpaceCfg searchSpaceCfg[10];
  NrCellCfg cellCfg;
  NrSsbCfg ssbCfg;
  NrPdcchCfg pdcchCfg[10];
  NrPdschCfg pdschCfg[10];
  NrCsiRsCfg csiRsCfg[10];
  uint16_t sfn;
  uint16_t slotIdx;
  uint16_t reserved0;
  uint8_t coresetN;
  uint8_t searchSpaceN;
  uint32_t rntiList[10];
  uint8_t rntiN;
  uint8_t pdcchN;
  uint8_t pdschN;
  uint8_t rbMapUsed;
  uint8_t csiRsN;
  uint8_t reserved1;
  uint8_t reserved2;
  uint8_t cfgDone;
};

// gnrUeConfig: the UE's own configuration; written by the UE set-up or the file readers.
struct NrUeConfig {
  NrCarrierCfg carrierCfg;
  NrBwpCfg bwpCfg;
  NrCoresetCfg coresetCfg[3];
  uint8_t reserved0[16];
  NrCellCfg cellCfg;
  uint16_t slotsPerFrame;
  uint16_t symbolsPerFrame;
  uint8_t coresetN;
  uint16_t reserved1;
  uint8_t sysInitDone;
};

// gnrCchMwItf: what the PDCCH receiver needs for one slot; written by the UE set-up or the
// interface builders, read by blind detection.
struct NrCchMwItf {
  NrCellCfg cellCfg;
  uint8_t reserved0[10];
  NrSearchSpaceCfg searchSpaceCfg[10];
  uint8_t dciEn[10];
  uint8_t aggrL[10];
  uint16_t cceStart[10];
  uint32_t dciAux[10];
  uint16_t payloadSize[10];
  uint16_t ueSpecific[10];
  uint16_t bwpId;
  uint8_t dciN;
  uint16_t slotIdx;
  uint8_t cchItfDone;
};

// gnrDchMwItf: what the PDSCH receiver and decoder need; written by the UE set-up or the
// interface builders, completed by the PDSCH front end (dataRePerSym, codedBitN, rxDone,
// dataValid) and the receive action (codeRate).
struct NrDchMwItf {
  NrCellCfg cellCfg;
  NrPdschCfg pdschCfg;
  uint16_t rmCfgN;
  int16_t rmCfg[128][5];
  uint16_t rmMap[kSymbolsPerSlot][kMaxRb];
  uint16_t dataRePerSym[kSymbolsPerSlot];
  uint32_t codedBitN;
  float codeRate;
  uint16_t rnti;
  uint32_t tbSize;
  uint16_t pdcchPresent;
  uint8_t reserved0;
  uint8_t dchItfDone;
  uint8_t dchSlotDone;
  uint8_t rxDone;
  uint8_t dataValid;
};

// ---- Complex sample types -----------------------------------------------------------------------
// A complex int16 value: one 32-bit element, I (low half, first in memory) then Q. Grid values
// are Q10 fixed point (1024 = 1.0); time samples are plain integers.
struct NrCpx16 {
  int16_t re;
  int16_t im;
};

struct NrCpxFloat32 {
  float re;
  float im;
};

inline int32_t nrCpxPack(int re, int im) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(re)) |
                              (static_cast<uint32_t>(static_cast<uint16_t>(im)) << 16));
}
inline int16_t nrCpxRe(int32_t v) {
  return static_cast<int16_t>(static_cast<uint32_t>(v) & 0xFFFFu);
}
inline int16_t nrCpxIm(int32_t v) { return static_cast<int16_t>(static_cast<uint32_t>(v) >> 16); }

// Transmit output record: written by the PDSCH/PDCCH transmit chains (grid) and the OFDM modulator
// (samples); read by the modulator and the waveform writers.
struct NrNbTxBuf {
  int32_t nbTxGrid[kSymbolsPerSlot][kGridScCap];
  int32_t nbTxSample[kSlotSampleCap];
  NrCpxFloat32 nbTxSampleF[kSlotSampleCap];
};

// ---- Global instances ---------------------------------------------------------------------------
extern NrNbConfig gnrNbConfig;
extern NrUeConfig gnrUeConfig;
extern NrCchMwItf gnrCchMwItf;
extern NrDchMwItf gnrDchMwItf;

// Register arrays of the configuration files: written by the file readers, read by the per-slot
// update and the interface builders.
extern int16_t sysRegData[70];
extern uint16_t comRegData[4];
extern uint16_t cchRegData[12];
extern int32_t dchRegData[23];

// Search-space hashing values Y_{p,n} (TS 38.213 10.1) for the current RNTI; written by the
// generator, read by the PDCCH paths.
extern uint32_t YpTable[3][20];

// Transmit grid and waveform: written by the transmit chains and the OFDM modulator. Antenna port
// 0; gnrNbTxBuf1 is antenna port 1, which carries the second layer of a two-layer slot.
extern NrNbTxBuf gnrNbTxBuf;
extern NrNbTxBuf gnrNbTxBuf1;
// Samples read from "nrNbTxData.dat" by the receive action; read by the UE set-up.
extern int32_t ueFileSample[kSlotSampleCap];
// Receive samples per port: real[30720] then imag[30720]; written by the UE set-up, read by the
// receivers.
extern int16_t ueRxSample[2][2][kSlotSampleCap];
// PDSCH soft bits: written by the PDSCH front end, read by the decoding chain; zero past the
// slot's coded bits, which the front end keeps so by clearing only what an earlier slot left
// (nothing else may write here).
extern int16_t ueLlrBuf[kUeLlrCap];
// Whether the shared-channel encoder writes "EncCrcBuff.txt" and the decoding chain writes (or
// removes) "DecBuff.txt": true unless a host that runs the library path alone (benchmarks, the
// per-stage profile of the library path) clears it; read by nrDlschEncode and nrDlschDecode. The
// PDSCH front end's debug files have their own switch (NrDchRxOpts::dumps).
extern bool gnrDiagFilesOn;
// Cyclic-prefix pattern (14 values in units of N/128) followed by 128: written by the
// test-vector reader, system initialisation and the per-slot update (nrLoadCpPatternTbl), read
// by the per-slot update.
extern uint16_t cpPatternTbl[15];
// Test-vector store: per port real[307200] then imag[307200]; written by the test-vector
// sample readers, read by the per-slot sample cutting.
extern int16_t tvSample[2][2][kTvSampleCap];
// Samples each test-vector file provided (the rest of its part of tvSample is zero): written by
// the test-vector sample readers, read by the file-driven flows before they receive a slot.
extern uint32_t tvSampleN[2][2];

// Loads kCpPattern and its reference FFT size 128 into cpPatternTbl.
inline void nrLoadCpPatternTbl() {
  for (int k = 0; k < kSymbolsPerSlot; k++) cpPatternTbl[k] = kCpPattern[k];
  cpPatternTbl[kSymbolsPerSlot] = kCpPatternRefFft;
}
