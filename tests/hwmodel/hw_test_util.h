// Helpers of the hardware-model tests: records built by hand, the software chain of the same code
// block (phy/coding) as the reference, and one run of the model's CRC, encoder and rate matcher.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "hwmodel/hw_crc.h"
#include "hwmodel/hw_ldpc_enc.h"
#include "hwmodel/hw_params.h"
#include "hwmodel/hw_rate_match.h"
#include "phy/coding/crc.h"
#include "phy/coding/ldpc_encode.h"
#include "phy/coding/ldpc_params.h"
#include "phy/coding/ldpc_rate_match.h"
#include "phy/coding/ldpc_tables.h"

namespace hwtest {

// The register exponent of a lifting size (the value in -2 .. 5 with base * 2^zExp = Zc).
inline int32_t zExpOf(int32_t Zc, int32_t* iLS) {
  *iLS = nrLdpcLiftSet(nrLdpcLiftIndex(Zc));
  for (int32_t z = -2; z <= 5; z++)
    if (nrHwLiftSize(*iLS, z) == Zc) return z;
  ADD_FAILURE() << "no exponent for Zc " << Zc;
  return 0;
}

struct Shape {
  int32_t bgIdx;
  int32_t Zc;
  int32_t infoLen;
  int32_t C;
  int32_t tbCrc24;
  int32_t Qm;
  int32_t layers;
  int32_t eRowSmall;
  int32_t cbBoundary;
  int32_t k0;
  int32_t Ncb;  // 0: N
};

// A record of the given shape with its closed-form row starts.
inline NrHwCwParams recordOf(const Shape& s) {
  NrHwCwParams r{};
  r.bgIdx = s.bgIdx;
  r.zExp = zExpOf(s.Zc, &r.iLS);
  r.extRowStart = 0;
  r.extRowNum = s.bgIdx == 0 ? 42 : 38;
  r.infoLen = s.infoLen;
  r.tbCrc24 = s.tbCrc24;
  r.Ncb = s.Ncb ? s.Ncb : (s.bgIdx == 0 ? 66 : 50) * s.Zc;
  r.Qm = s.Qm;
  r.layerNumM1 = s.layers - 1;
  r.cbNum = s.C;
  r.cbBoundary = s.cbBoundary;
  r.eRowSmall = s.eRowSmall;
  EXPECT_TRUE(nrHwRowStartCalc(&r, s.k0)) << "Zc " << s.Zc << " K' " << nrHwRecordKp(&r);
  return r;
}

inline int32_t tbCrcLen(const NrHwCwParams& r) { return r.tbCrc24 ? 24 : 16; }

// Transport block bits of a record: infoLen when C = 1, infoLen * C - L_TB otherwise.
inline int32_t tbBits(const NrHwCwParams& r) {
  return r.cbNum == 1 ? r.infoLen : r.infoLen * r.cbNum - tbCrcLen(r);
}

// The software chain's parameters for code block r of the record.
inline NrLdpcParams swParams(const NrHwCwParams& rec, int32_t k0, int32_t r) {
  NrLdpcParams p{};
  const int32_t Zc = nrHwLiftSize(rec.iLS, rec.zExp);
  p.bg = rec.bgIdx + 1;
  p.Zc = Zc;
  p.ZcIdx = nrLdpcLiftIndex(Zc);
  p.iLS = rec.iLS;
  p.K = (rec.bgIdx == 0 ? 22 : 10) * Zc;
  p.Kp = nrHwRecordKp(&rec);
  p.F = p.K - p.Kp;
  p.N = (rec.bgIdx == 0 ? 66 : 50) * Zc;
  p.Ncb = rec.Ncb;
  p.k0 = k0;
  p.Qm = rec.Qm;
  p.C = 1;
  p.E[0] = (rec.eRowSmall + (r > rec.cbBoundary ? rec.layerNumM1 + 1 : 0)) * rec.Qm;
  p.sumE = p.E[0];
  return p;
}

// The transport block of a record's payload followed by its CRC (parity bit i = register bit i).
inline std::vector<int32_t> swTransportBlock(const NrHwCwParams& rec, const int32_t* payload) {
  const int32_t A = tbBits(rec);
  std::vector<int32_t> tb(payload, payload + A);
  const uint32_t crc = nrCrcCalc(tb.data(), rec.tbCrc24 ? kCrc24A : kCrc16, A);
  for (int i = 0; i < tbCrcLen(rec); i++) tb.push_back(static_cast<int32_t>((crc >> i) & 1));
  return tb;
}

// Software chain of one code block: the code block (CRC24B when segmented, fillers 0), the
// codeword (fillers -1) and the rate-matched output.
struct SwBlock {
  std::vector<int32_t> cb;
  std::vector<int32_t> codeword;
  std::vector<int32_t> out;
  uint32_t cbCrc = 0;
};

inline SwBlock swBlock(const NrHwCwParams& rec, const std::vector<int32_t>& tb, int32_t k0,
                       int32_t r) {
  SwBlock b;
  NrLdpcParams p = swParams(rec, k0, r);
  b.cb.assign(p.K, 0);
  if (rec.cbNum > 1) {
    std::copy_n(tb.begin() + static_cast<int64_t>(r) * rec.infoLen, rec.infoLen, b.cb.begin());
    b.cbCrc = nrCrcCalc(b.cb.data(), kCrc24B, rec.infoLen);
    for (int i = 0; i < 24; i++) b.cb[rec.infoLen + i] = static_cast<int32_t>((b.cbCrc >> i) & 1);
  } else {
    std::copy(tb.begin(), tb.end(), b.cb.begin());
  }
  std::vector<int32_t> work = b.cb;
  b.codeword.assign(p.N, 0);
  EXPECT_TRUE(nrLdpcEncode(work.data(), b.codeword.data(), &p));
  b.out.assign(p.E[0], -7);
  if (p.E[0] > 0) {
    EXPECT_TRUE(nrLdpcRateMatch(b.codeword.data(), b.out.data(), 0, &p));
  }
  return b;
}

// Memories of one codeword of the model.
struct HwMem {
  std::vector<int32_t> payload = std::vector<int32_t>(kHwPayloadBits, 0);
  std::vector<int32_t> bank = std::vector<int32_t>(kHwCrcBankSlots, 0);
  std::vector<int32_t> cell = std::vector<int32_t>(kHwCellSlots, 0);
  std::vector<int32_t> fifos = std::vector<int32_t>(kHwFifoNum * kHwFifoDepth, -7);
  int32_t crcOut[kHwCrcOutLen] = {};
};

// The first count bits of a bank memory read row by row (bitLenOneBank bits a row).
inline std::vector<int32_t> bankBits(const std::vector<int32_t>& mem, const LdpcCoreParams& core,
                                     int64_t count) {
  int32_t bitLen = 0, num = 0;
  EXPECT_TRUE(nrHwBankGeometry(core.Zc, core.Zthr, core.zExpAbove, &bitLen, &num));
  std::vector<int32_t> bits(count);
  for (int64_t i = 0; i < count; i++) bits[i] = mem[(i / bitLen) * kHwBankRowSlots + i % bitLen];
  return bits;
}

inline std::vector<int32_t> withoutFillerMarks(std::vector<int32_t> v) {
  for (int32_t& x : v) x = x == -1 ? 0 : x;
  return v;
}

// Runs code block r of the record through the model's CRC, encoder and rate matcher (the rate
// matcher must be at block r) and compares every stage with the software chain of the transport
// block tb (swTransportBlock of the payload). what names the case in failures.
inline void expectBlockMatches(const NrHwCwParams& rec, HwMem& m, const std::vector<int32_t>& tb,
                               int32_t k0, int32_t r, const std::string& what) {
  SCOPED_TRACE(what + ", block " + std::to_string(r));
  const SwBlock sw = swBlock(rec, tb, k0, r);
  LdpcCoreParams core;
  ASSERT_TRUE(nrHwCoreParamCalc(&rec, &core));

  ASSERT_TRUE(nrHwCrcCb(&rec, r, m.payload.data(), m.crcOut, m.bank.data()));
  if (rec.cbNum > 1) {
    for (int i = 0; i < 24; i++) ASSERT_EQ(m.crcOut[i], static_cast<int32_t>((sw.cbCrc >> i) & 1));
    if (r == rec.cbNum - 1) {
      for (int i = 0; i < tbCrcLen(rec); i++)
        ASSERT_EQ(m.payload[tbBits(rec) + i], tb[tbBits(rec) + i]) << "TB CRC bit " << i;
    }
  } else {
    for (int i = 0; i < tbCrcLen(rec); i++)
      ASSERT_EQ(m.crcOut[i], tb[tbBits(rec) + i]) << "TB CRC bit " << i;
  }
  ASSERT_EQ(bankBits(m.bank, core, core.K), sw.cb) << "bank memory";

  int32_t encFinish = 0;
  ASSERT_TRUE(nrHwCellLoadSys(&core, m.bank.data(), m.cell.data()));
  ASSERT_TRUE(nrHwLdpcEnc(&core, m.bank.data(), m.cell.data(), &encFinish));
  EXPECT_EQ(encFinish, 1);
  ASSERT_EQ(bankBits(m.cell, core, core.N), withoutFillerMarks(sw.codeword)) << "encoder cell";

  int32_t rmFinish = 0;
  ASSERT_EQ(nrHwRateMatchBlock(0), r);
  ASSERT_TRUE(nrHwRateMatch(&rec, 0, m.cell.data(), m.fifos.data(), &rmFinish, nullptr));
  EXPECT_EQ(rmFinish, 1);
  const int32_t eRow = static_cast<int32_t>(sw.out.size()) / rec.Qm;
  for (int32_t j = 0; j < rec.Qm; j++)
    for (int32_t i = 0; i < eRow; i++)
      ASSERT_EQ(m.fifos[static_cast<int64_t>(j) * kHwFifoDepth + i],
                sw.out[static_cast<int64_t>(i) * rec.Qm + j])
          << "FIFO " << j << " element " << i;
}

}  // namespace hwtest
