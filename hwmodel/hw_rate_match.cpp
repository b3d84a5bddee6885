#include "hwmodel/hw_rate_match.h"

#include <cstring>

#include "config/console.h"
#include "phy/common/text_lines.h"

namespace {

// Reader state of one codeword, kept until its code block is complete.
struct ReaderState {
  uint32_t activeMask;  // readers that still have bits to deliver
  int32_t r;            // code block index
  int32_t left[kHwFifoNum];
  int32_t pos[kHwFifoNum];
  int32_t row[kHwFifoNum];  // current double row
  int32_t wp[kHwFifoNum];   // FIFO write pointer
};

ReaderState gReader[kHwCodewords];
bool gDumpStarted = false;  // shared by all codewords: the dump file has been started

// The circular buffer of a record as the readers see it.
struct Buffer {
  int32_t ncb;
  int32_t fS;       // first filler position
  int32_t fEnd;     // first position after the fillers
  int32_t rowLen;   // bits of a double row
  int32_t bitLen;   // bits of a bank row
  int32_t fillers;  // filler positions inside the buffer
};

// TS 38.212 5.4.2.1: the position m non-filler positions after the non-filler position p, wrapping
// at Ncb (counted on the buffer with its fillers taken out).
int32_t advance(const Buffer& b, int32_t p, int64_t m) {
  const int64_t n = b.ncb - b.fillers;
  const int64_t c = p < b.fS ? p : p - b.fillers;
  const int64_t q = (c + m) % n;
  return static_cast<int32_t>(q < b.fS ? q : q + b.fillers);
}

// Pushes bits off .. off+g-1 of double row d (the first bitLen slots of bank rows 2d and 2d+1)
// into a FIFO at *wp, the pointer wrapping at the FIFO depth.
void push(const int32_t* cell, const Buffer& b, int32_t d, int32_t off, int32_t g, int32_t* fifo,
          int32_t* wp) {
  while (g > 0) {
    const int32_t bank = 2 * d + (off >= b.bitLen ? 1 : 0);
    const int32_t slot = off >= b.bitLen ? off - b.bitLen : off;
    int32_t n = b.bitLen - slot;  // up to the end of this bank row
    if (n > g) n = g;
    if (n > kHwFifoDepth - *wp) n = kHwFifoDepth - *wp;
    std::memcpy(fifo + *wp, cell + static_cast<int64_t>(bank) * kHwBankRowSlots + slot,
                sizeof(int32_t) * n);
    *wp = (*wp + n) % kHwFifoDepth;
    off += n;
    g -= n;
  }
}

// Reader j delivers its bits, a double row (or the part before the fillers or the buffer end) at
// a time.
void runReader(ReaderState& st, int j, const Buffer& b, const int32_t* cell, int32_t* fifo) {
  while (st.activeMask & (1u << j)) {
    const int32_t pos = st.pos[j];
    const int32_t off = pos - st.row[j] * b.rowLen;
    int32_t g = b.rowLen - off;
    int32_t nextPos = 0;
    if (pos < b.fS && b.fS <= pos + g) {
      // The row reaches the fillers: stop before them (or at the buffer end) and resume behind.
      g = (b.fS >= b.ncb ? b.ncb : b.fS) - pos;
      nextPos = b.fEnd >= b.ncb ? 0 : b.fEnd;
    } else if (pos + g >= b.ncb) {
      g = b.ncb - pos;
      nextPos = 0;
    } else {
      nextPos = pos + g;
    }
    if (g > st.left[j]) g = st.left[j];
    st.left[j] -= g;
    if (st.left[j] == 0) st.activeMask &= ~(1u << j);
    push(cell, b, st.row[j], off, g, fifo, &st.wp[j]);
    st.pos[j] = nextPos;
    st.row[j] = nextPos / b.rowLen;
  }
}

}  // namespace

bool nrHwRateMatch(const NrHwCwParams* record, int32_t cw, const int32_t* cell, int32_t* fifos,
                   int32_t* rmFinish, const char* dumpFile) {
  static const char* const kWho = "nrHwRateMatch";
  if (cw < 0 || cw >= kHwCodewords) {
    nrDiag("%s(): codeword %d is neither 0 nor 1, nothing rate-matched!\n", kWho, cw);
    return false;
  }
  LdpcCoreParams core;
  if (!nrHwCwParamsCheck(record, kWho) || !nrHwCoreParamCalc(record, &core)) return false;
  ReaderState& st = gReader[cw];
  if (st.r >= record->cbNum) {
    nrDiag("%s(): code block %d of codeword %d beyond its %d blocks, reader reset to block 0!\n",
           kWho, st.r, cw, record->cbNum);
    st = ReaderState{};
    return false;
  }

  Buffer b{};
  int32_t bankNum = 0;
  nrHwBankGeometry(core.Zc, core.Zthr, core.zExpAbove, &b.bitLen, &bankNum);
  b.ncb = record->Ncb;
  b.fS = core.Kp - 2 * core.Zc;
  b.fEnd = core.K - 2 * core.Zc;
  b.rowLen = 2 * b.bitLen;
  const int32_t fillEnd = b.fEnd < b.ncb ? b.fEnd : b.ncb;
  b.fillers = fillEnd > b.fS ? fillEnd - b.fS : 0;

  // TS 38.212 5.4.2.1: blocks after cbBoundary carry Qm * layers more bits, so their row j starts
  // j * layers selected bits later than the smaller block's.
  const int32_t qm = record->Qm;
  const int32_t layers = record->layerNumM1 + 1;
  const bool large = st.r > record->cbBoundary;
  const int32_t eRow = record->eRowSmall + (large ? layers : 0);
  st.activeMask = eRow > 0 ? (1u << qm) - 1 : 0;
  for (int j = 0; j < qm; j++) {
    st.left[j] = eRow;
    st.pos[j] =
        large ? advance(b, record->m_k0[j], static_cast<int64_t>(j) * layers) : record->m_k0[j];
    st.row[j] = st.pos[j] / b.rowLen;
    st.wp[j] = 0;
  }
  for (int j = 0; j < qm; j++)
    runReader(st, j, b, cell, fifos + static_cast<int64_t>(j) * kHwFifoDepth);

  // The dump receives the selected bits e_0 .. e_(E-1): FIFO 0 first, as the readers ran.
  bool dumped = true;
  if (eRow > 0) {
    if (dumpFile)
      dumped = nrWriteTextLines(dumpFile, gDumpStarted, static_cast<uint32_t>(qm) * eRow,
                                [&](uint32_t i, char* s) {
                                  const int64_t j = i / eRow;
                                  s = nrPutInt(s, fifos[j * kHwFifoDepth + i % eRow]);
                                  *s++ = ' ';
                                  *s++ = '\n';
                                  return s;
                                });
    gDumpStarted = true;
  }

  const int32_t next = st.r + 1 < record->cbNum ? st.r + 1 : 0;
  st = ReaderState{};
  st.r = next;
  if (next == 0) gDumpStarted = false;
  *rmFinish = 1;
  return dumped;
}

int32_t nrHwRateMatchBlock(int32_t cw) { return cw >= 0 && cw < kHwCodewords ? gReader[cw].r : 0; }

void nrHwRateMatchReset() {
  for (ReaderState& st : gReader) st = ReaderState{};
  gDumpStarted = false;
}
