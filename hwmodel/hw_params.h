// Parameters and configuration registers of the LDPC encoder accelerator model: the per-codeword
// record derived from an MCS and an allocation (TS 38.214 5.1.3.2, TS 38.212 5.2.2, 5.3.2,
// 5.4.2.1), its packing into register words, and the quantities the CRC, encoder and rate-matcher
// models share (lifting-size decomposition, bank-row geometry).
#pragma once

#include <cstdint>

// ---- Memories of the accelerator (32-bit elements, one bit per element) -------------------------
constexpr int32_t kHwPayloadBits = 2076672;  // payload area of one codeword
constexpr int32_t kHwBankRowSlots = 48;      // slots of one bank row
constexpr int32_t kHwMaxBankRowsPerZc = 8;   // bank rows of the largest column block (Zc 256/384)
constexpr int32_t kHwCrcBankRows = 208;      // encoder input memory of one codeword, in rows
constexpr int32_t kHwCrcBankSlots = kHwCrcBankRows * kHwBankRowSlots;  // 9984
// One encoder output cell: 68 column blocks of up to 8 bank rows.
constexpr int32_t kHwCellSlots = 68 * kHwMaxBankRowsPerZc * kHwBankRowSlots;  // 26112
constexpr int32_t kHwFifoNum = 8;                                             // one per Qm bit
constexpr int32_t kHwFifoDepth = 65536;
constexpr int32_t kHwCfgRegWords = 10;  // register words per codeword
constexpr int32_t kHwCodewords = 2;

// ---- Register widths of the record fields -------------------------------------------------------
constexpr int32_t kHwMaxInfoLen = (1 << 14) - 1;     // infoLen, 14 bits
constexpr int32_t kHwMaxCbNum = (1 << 8) - 1;        // cbNum and cbBoundary, 8 bits
constexpr int32_t kHwMaxNcb = (1 << 15) - 1;         // Ncb and every m_k0, 15 bits
constexpr int32_t kHwMaxERowSmall = (1 << 16) - 1;   // eRowSmall, 16 bits
constexpr int32_t kHwMaxLayers = 4;                  // layerNumM1, 2 bits
constexpr int32_t kHwMaxExtRowField = (1 << 6) - 1;  // extRowStart, extRowNum, 6 bits

// Per-codeword parameter record: the fields of the configuration registers, one signed 32-bit
// value each (the register width in brackets).
struct NrHwCwParams {
  int32_t bgIdx;        // base graph - 1 (0 = BG1, 1 = BG2) [1]
  int32_t iLS;          // lifting-size set [3]
  int32_t zExp;         // Zc = base[iLS] * 2^zExp, -2..5; the register holds zExp mod 8 [3]
  int32_t extRowStart;  // first extension row encoded, relative to row 4 [6]
  int32_t extRowNum;    // extension rows encoded: 42 (BG1) or 38 (BG2) [6]
  int32_t infoLen;      // payload bits per code block: K' - 24 when C > 1, A when C = 1 [14]
  int32_t tbCrc24;      // 1: transport-block CRC24A (A > 3824), 0: CRC16 [1]
  int32_t Ncb;          // circular buffer length [15]
  int32_t Qm;           // modulation order [4]
  int32_t layerNumM1;   // layers - 1 [2]
  int32_t cbNum;        // code blocks C [8]
  int32_t cbBoundary;   // last code block with the smaller rate-matched length [8]
  int32_t eRowSmall;    // E_small / Qm, one bit-interleaver row of the smaller E [16]
  int32_t m_k0[8];      // circular-buffer start of interleaver row j < Qm for E_small [15 each]
};

// nrHwCwParams: the records of codewords 0 and 1; written by nrHwTxPrepare and nrHwRegUnpack, read
// by the hardware-model drivers for every code block of a run.
extern NrHwCwParams nrHwCwParams[kHwCodewords];

// Values derived from a record for the CRC and encoder models.
struct LdpcCoreParams {
  int32_t Zthr;         // threshold lifting size of the set, base * 2^(largest exponent)
  int32_t zExpBelow;    // largest exponent - zExp, or -1 when Zc > Zthr
  int32_t zExpAbove;    // zExp - largest exponent when Zc > Zthr, else 0
  int32_t bgIdx;        // base graph - 1
  int32_t iLS;          // lifting-size set
  int32_t Zc;           // lifting size
  int32_t N;            // punctured codeword length, (columns - 2) * Zc
  int32_t K;            // code block with fillers, kb * Zc
  int32_t kb;           // systematic columns: 22 or 10
  int32_t cols;         // base-graph columns: 68 or 52
  int32_t rows;         // base-graph rows: 46 or 42
  int32_t Kp;           // K': payload plus CRC bits of a code block
  int32_t extColStart;  // first extension parity column encoded, kb + 4 + extRowStart
  int32_t extColEnd;    // column after the last one encoded
};

// The eight sets of TS 38.212 Table 5.3.2-1 as the accelerator sees them: every lifting size of
// set i is kHwLiftBase[i] * 2^zExp, and the set's threshold size Zthr = kHwLiftBase[i] *
// 2^kHwLiftThrExp[i] (64, 48, 40, 56, 72, 44, 52, 60) decides how a column block is split into
// bank rows.
extern const int32_t kHwLiftBase[8];
extern const int32_t kHwLiftThrExp[8];

// Whether every field of record fits its register and the fields describe a code the models can
// run without leaving their memories (a lifting size of the set, K' between 2 Zc and K, Ncb within
// the punctured codeword, row starts inside the buffer and outside the fillers, payload and FIFO
// capacities). A refusal is reported on the error stream naming who, the field, its value and the
// limit. zExp is taken as its 3-bit register pattern (6 and 7 stand for -2 and -1).
bool nrHwCwParamsCheck(const NrHwCwParams* record, const char* who);

// The lifting size of a record's (iLS, zExp), zExp read as its register pattern; 0 if none.
int32_t nrHwLiftSize(int32_t iLS, int32_t zExp);

// K' of a record: infoLen plus the CRC that ends each code block.
int32_t nrHwRecordKp(const NrHwCwParams* record);

// TS 38.212 5.4.2.1: the circular-buffer positions where the bit-interleaver rows j < Qm begin,
// reading from k0 and skipping the filler positions K' - 2 Zc .. K - 2 Zc - 1, row j beginning
// at selected bit j * eRowSmall; in closed form, wrap-arounds and repeated passes included. Fills
// record->m_k0 (entries j >= Qm are 0) from its bgIdx, iLS, zExp, infoLen, tbCrc24, cbNum, Ncb,
// Qm and eRowSmall. The closed form assumes Ncb >= K - 2 Zc (the whole filler range inside the
// buffer). Returns false, leaving m_k0 untouched, when those fields or k0 (0 .. Ncb - 1) are
// refused.
bool nrHwRowStartCalc(NrHwCwParams* record, int32_t k0);

// TS 38.214 5.1.3.2 and TS 38.212 5.2.2, 5.3.2, 5.4.2.1 in integers: fills *record for the MCS
// index (modulo 32, table 2), layers, data REs per PRB, PRBs and redundancy version, and returns
// the transport block size. A request whose coded bits or N_info product exceed 32 bits, or whose
// record does not fit the registers (more than 255 code blocks, a row of the smaller E beyond 16
// bits or the FIFOs, ...), is reported, leaves *record untouched and returns 0.
uint64_t nrHwLdpcParamCalc(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                           int32_t rv, NrHwCwParams* record);

// Packs record into the kHwCfgRegWords register words at words (start flag in word 0 bit 0).
// A record that nrHwCwParamsCheck refuses is reported and leaves words untouched (false).
bool nrHwRegPack(const NrHwCwParams* record, bool startFlag, uint32_t* words);

// Derives the record of codeword 0 (rv 0), packs it into regs (2 * kHwCfgRegWords words: codeword
// 0 with the start flag, then the same words without it for codeword 1), copies it to
// nrHwCwParams[0] and [1], and draws the transport block from the PN9 generator into payload
// (two areas of kHwPayloadBits elements; codeword 1's area becomes a copy of codeword 0's). Seeds
// the C library's generator with 686866. Returns the transport block size, or 0 without touching
// regs, the records or payload when nrHwLdpcParamCalc refuses the request or the transport block
// does not fit a payload area.
uint64_t nrHwTxPrepare(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb,
                       uint32_t* regs, int32_t* payload);

// The inverse of the packing: the raw field values of regs (2 * kHwCfgRegWords words) written to
// nrHwCwParams[0] and [1]; zExp comes back as its 3-bit pattern 0..7.
void nrHwRegUnpack(const uint32_t* regs);

// Fills *core from record; false (reported, *core untouched) when nrHwCwParamsCheck refuses it.
bool nrHwCoreParamCalc(const NrHwCwParams* record, LdpcCoreParams* core);

// Bank rows of one column block of Zc bits: bankNumOneZc rows holding bitLenOneBank bits each (one
// row of Zc bits below the threshold Zthr; 2^expAbove rows of Zthr bits when Zthr <= 48; else
// 2^(expAbove + 1) rows of Zthr / 2 bits). False, outputs untouched, when the three values
// describe no such split (bitLenOneBank * bankNumOneZc != Zc or a row beyond 48 bits).
bool nrHwBankGeometry(int32_t Zc, int32_t Zthr, int32_t expAbove, int32_t* bitLenOneBank,
                      int32_t* bankNumOneZc);
