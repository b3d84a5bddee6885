#include "hwmodel/hw_driver.h"

#include <cstring>
#include <string>

#include "config/console.h"
#include "hwmodel/hw_crc.h"
#include "hwmodel/hw_ldpc_enc.h"
#include "hwmodel/hw_rate_match.h"
#include "hwmodel/hw_ref_files.h"
#include "phy/common/text_lines.h"

const char dumpDir[] = "./";
const char kHwInfoBitsFile[] = "ldpc_infobits.txt";
const char kHwCbEncFile[] = "res_hw_cbEnc.txt";
const char kHwFifoIFile[] = "res_hw_fifo_i.txt";
const char kHwRmOutFile[] = "lpdc_encRMout.txt";
const char kHwCrcFile[] = "res_hw_crc.txt";
const char kHwCirBufFile[] = "res_hw_cirbuf.txt";
const char kHwFifoFile[] = "res_hw_fifo.txt";

int32_t LdpcCbBufCellFlg[kHwCodewords][kHwCellNum];
int32_t RmFinishFlag[kHwCodewords];

namespace {

constexpr int32_t kCbCrcLen = 24;  // CRC24B of a segmented code block

// The run memories of both codewords, kept for the process and cleared by every run.
struct RunMem {
  int32_t payload[kHwCodewords * kHwPayloadBits];
  int32_t crcBank[kHwCodewords][kHwCrcBankSlots];
  int32_t cells[kHwCodewords][kHwCellNum][kHwCellSlots];
  int32_t fifos[kHwCodewords][kHwFifoNum * kHwFifoDepth];
  uint32_t regs[kHwCodewords * kHwCfgRegWords];
  int32_t crcOut[kHwCrcOutLen];
};
RunMem gRun;

// The memories and the rate matcher's readers as a run finds them: zero, at block 0.
void clearRun() {
  std::memset(&gRun, 0, sizeof(gRun));
  nrHwRateMatchReset();
}

// dumpDir followed by the name.
struct Paths {
  std::string infoBits, cbEnc, fifoI, rmOut, crc, cirBuf, fifo;
};

const Paths& paths() {
  static const Paths p{std::string(dumpDir) + kHwInfoBitsFile, std::string(dumpDir) + kHwCbEncFile,
                       std::string(dumpDir) + kHwFifoIFile,    std::string(dumpDir) + kHwRmOutFile,
                       std::string(dumpDir) + kHwCrcFile,      std::string(dumpDir) + kHwCirBufFile,
                       std::string(dumpDir) + kHwFifoFile};
  return p;
}

int32_t tbCrcLen(const NrHwCwParams& r) { return r.tbCrc24 ? 24 : 16; }

int32_t eRowOf(const NrHwCwParams& rec, int32_t r) {
  return rec.eRowSmall + (r > rec.cbBoundary ? rec.layerNumM1 + 1 : 0);
}

// The geometry of the encoder cell: (columns - 2) column blocks of bankNum rows of bitLen bits.
struct CellShape {
  LdpcCoreParams core;
  int32_t bitLen;
  int32_t bankNum;
  int32_t rows;
};

bool cellShape(const NrHwCwParams& rec, CellShape* s) {
  if (!nrHwCoreParamCalc(&rec, &s->core)) return false;
  nrHwBankGeometry(s->core.Zc, s->core.Zthr, s->core.zExpAbove, &s->bitLen, &s->bankNum);
  s->rows = (s->core.cols - 2) * s->bankNum;
  return true;
}

// CRC and encoder of block r into cell: the systematic column blocks copied from the bank, the
// parity column blocks encoded.
bool encodeBlock(const NrHwCwParams& rec, const CellShape& s, int32_t r, int32_t* payload,
                 int32_t* bank, int32_t* cell, int32_t* encFinish) {
  return nrHwCrcCb(&rec, r, payload, gRun.crcOut, bank) && nrHwCellLoadSys(&s.core, bank, cell) &&
         nrHwLdpcEnc(&s.core, bank, cell, encFinish);
}

// The block's output bits in transmission order: bit i Qm + j is element i of FIFO j.
bool writeRmOut(const char* path, bool append, const int32_t* fifos, int32_t eRow, int32_t qm) {
  return nrWriteTextLines(path, append, static_cast<uint32_t>(eRow) * qm, [&](uint32_t k, char* p) {
    const uint32_t i = k / qm;
    const uint32_t j = k % qm;
    p = nrPutInt(p, fifos[static_cast<int64_t>(j) * kHwFifoDepth + i]);
    *p++ = '\n';
    return p;
  });
}

bool stageFailed(const char* who, const char* stage, int32_t r) {
  nrDiag("%s(): the %s of code block %d failed, run stopped\n", who, stage, r);
  return false;
}

}  // namespace

bool nrHwPdschRefRun(int32_t mcsIndex, int32_t numLayers, int32_t nRePerPrb, int32_t nPrb) {
  static const char* const kWho = "nrHwPdschRefRun";
  const uint32_t lostBefore = nrOutFileFailures();
  clearRun();
  std::memset(LdpcCbBufCellFlg, 0, sizeof(LdpcCbBufCellFlg));
  std::memset(RmFinishFlag, 0, sizeof(RmFinishFlag));
  std::memset(headInfo, 0, sizeof(headInfo));
  const uint64_t tbs = nrHwTxPrepare(mcsIndex, numLayers, nRePerPrb, nPrb, gRun.regs, gRun.payload);
  if (tbs == 0) {
    nrDiag("%s(): MCS %d, %d layers, %d REs x %d PRBs refused, no reference files written\n", kWho,
           mcsIndex, numLayers, nRePerPrb, nPrb);
    return false;
  }
  nrPrintf("TBS is %d", static_cast<int>(tbs));

  // Codeword 0 carries the start flag; codeword 1 is prepared only.
  const int32_t cw = 0;
  if ((gRun.regs[cw * kHwCfgRegWords] & 1u) == 0) return true;
  const NrHwCwParams& rec = nrHwCwParams[cw];
  CellShape s;
  if (!cellShape(rec, &s)) return false;
  const Paths& p = paths();
  int32_t* payload = gRun.payload + static_cast<int64_t>(cw) * kHwPayloadBits;
  int32_t* fifos = gRun.fifos[cw];
  const int32_t C = rec.cbNum;
  bool ok = true;
  for (int32_t r = 0; r < C; r++) {
    const bool append = r > 0;
    if (LdpcCbBufCellFlg[cw][0] == 0) {
      // The last block of a segmented transport block ends in the transport-block CRC, which the
      // CRC model computes: only the payload proper is a reference input.
      const int32_t bits = rec.infoLen - (C > 1 && r == C - 1 ? tbCrcLen(rec) : 0);
      ok = nrHwRefValuesWrite(p.infoBits.c_str(), append,
                              payload + static_cast<int64_t>(r) * rec.infoLen,
                              static_cast<uint32_t>(bits), "%d \n") &&
           ok;
      const int32_t c = LdpcCbBufCellFlg[cw][0] == 0 ? 0 : 1;
      int32_t encFinish = 0;
      if (!encodeBlock(rec, s, r, payload, gRun.crcBank[cw], gRun.cells[cw][c], &encFinish))
        return stageFailed(kWho, "CRC or encoder", r);
      if (encFinish) LdpcCbBufCellFlg[cw][c] = 1;
    }
    const int32_t busy = LdpcCbBufCellFlg[cw][0] ? 0 : LdpcCbBufCellFlg[cw][1] ? 1 : -1;
    if (busy < 0) return stageFailed(kWho, "encoder", r);
    const int32_t* cell = gRun.cells[cw][busy];
    ok = nrHwCbEncDump(p.cbEnc.c_str(), append, cell, s.rows, s.bitLen) && ok;

    RmFinishFlag[cw] = 0;
    ok = nrHwRateMatch(&rec, cw, cell, fifos, &RmFinishFlag[cw], p.fifoI.c_str()) && ok;
    if (!RmFinishFlag[cw]) return stageFailed(kWho, "rate matcher", r);
    const int32_t eRow = eRowOf(rec, r);
    headInfo[1] = static_cast<uint32_t>(eRow);
    headInfo[2] = static_cast<uint32_t>(r);
    headInfo[3] = static_cast<uint32_t>(cw);
    ok = writeRmOut(p.rmOut.c_str(), append, fifos, eRow, rec.Qm) && ok;
    LdpcCbBufCellFlg[cw][busy] = 0;
  }
  return ok && nrOutFileFailures() == lostBefore;
}

bool nrHwCbRefRun(const NrHwCwParams* record, const int32_t* payload, int32_t* crcValues) {
  static const char* const kWho = "nrHwCbRefRun";
  if (!nrHwCwParamsCheck(record, kWho)) return false;
  const uint32_t lostBefore = nrOutFileFailures();
  clearRun();
  const NrHwCwParams& rec = *record;
  const int32_t C = rec.cbNum;
  const int64_t A = C > 1 ? int64_t{rec.infoLen} * C - tbCrcLen(rec) : rec.infoLen;
  std::memcpy(gRun.payload, payload, sizeof(int32_t) * A);
  CellShape s;
  if (!cellShape(rec, &s)) return false;
  const Paths& p = paths();
  const int32_t n = C > 1 ? kCbCrcLen : tbCrcLen(rec);
  int32_t* cell = gRun.cells[0][0];
  bool ok = true;
  for (int32_t r = 0; r < C; r++) {
    const bool append = r > 0;
    int32_t encFinish = 0;
    if (!encodeBlock(rec, s, r, gRun.payload, gRun.crcBank[0], cell, &encFinish))
      return stageFailed(kWho, "CRC or encoder", r);
    std::memcpy(crcValues + static_cast<int64_t>(r) * n, gRun.crcOut, sizeof(int32_t) * n);
    const int32_t* block = gRun.payload + static_cast<int64_t>(r) * rec.infoLen;
    ok = nrWriteTextLines(p.crc.c_str(), append, static_cast<uint32_t>(rec.infoLen + n),
                          [&](uint32_t i, char* q) {
                            const int32_t bit = i < static_cast<uint32_t>(rec.infoLen)
                                                    ? block[i]
                                                    : gRun.crcOut[i - rec.infoLen];
                            q = nrPutInt(q, bit);
                            *q++ = ' ';
                            *q++ = '\n';
                            return q;
                          }) &&
         ok;
    ok = nrHwCirBufDump(p.cirBuf.c_str(), append, cell, s.rows, s.bitLen) && ok;
    int32_t rmFinish = 0;
    ok = nrHwRateMatch(&rec, 0, cell, gRun.fifos[0], &rmFinish, p.fifo.c_str()) && ok;
    if (!rmFinish) return stageFailed(kWho, "rate matcher", r);
  }
  return ok && nrOutFileFailures() == lostBefore;
}
