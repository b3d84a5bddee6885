#include "hwmodel/hw_crc.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/hwmodel/hw_test_util.h"
#include "tests/test_util.h"

using hwtest::Shape;

namespace {

// Generators of TS 38.212 5.1 without the leading term, bit k = coefficient of D^k.
constexpr uint32_t kG16 = 0x1021;     // D^16 + D^12 + D^5 + 1
constexpr uint32_t kG24A = 0x864CFB;  // D^24 + D^23 + D^18 + D^17 + D^14 + D^11 + D^10 + D^7 + ...
constexpr uint32_t kG24B = 0x800063;  // D^24 + D^23 + D^6 + D^5 + D + 1

// (state x^64 + word) mod g, one bit at a time: the division the 64-bit step stands for.
uint32_t serialStep(uint32_t state, uint64_t word, uint32_t g, int n) {
  const uint32_t mask = (n == 32 ? 0 : 1u << n) - 1;
  for (int k = 63; k >= 0; k--) {
    const bool top = (state >> (n - 1)) & 1u;
    state = ((state << 1) | static_cast<uint32_t>((word >> k) & 1)) & mask;
    if (top) state ^= g;
  }
  return state;
}

// A record whose payload per pass has len bits: C = 1 with the transport-block CRC (tbCrc24 =
// sel), or C = 2 for a CRC24B pass over the code block; base graph 1 with the smallest lifting
// size that holds it.
NrHwCwParams recordForLength(int32_t len, int32_t sel) {
  Shape s{};
  s.bgIdx = 0;
  s.C = sel == kHwCrcSel24B ? 2 : 1;
  s.tbCrc24 = sel == kHwCrcSel24A ? 1 : 0;
  s.infoLen = len;
  const int32_t Kp = len + (sel == kHwCrcSel16 ? 16 : 24);
  s.Zc = gnrLdpcLiftSizes[nrLdpcLiftCeilIndex((Kp + 21) / 22)];
  s.Qm = 2;
  s.layers = 1;
  s.eRowSmall = 4;
  s.cbBoundary = 1;
  return hwtest::recordOf(s);
}

}  // namespace

// The T_e matrices reproduce the polynomial division: one 64-bit step equals 64 bit-serial steps
// of the register, for random states and words of all three codes.
TEST(HwCrc, SixtyFourBitStepEqualsTheBitSerialDivision) {
  std::mt19937_64 rng(7);
  struct Code {
    int n;
    const uint32_t* mats;
    uint32_t g;
  };
  for (const Code& c :
       {Code{16, &gnrHwCrc16Mat[0][0], kG16}, Code{24, &gnrHwCrc24AMat[0][0], kG24A},
        Code{24, &gnrHwCrc24BMat[0][0], kG24B}}) {
    for (int t = 0; t < 2000; t++) {
      const uint32_t state = static_cast<uint32_t>(rng()) & ((1u << c.n) - 1);
      const uint64_t word = t < 64 ? uint64_t{1} << t : rng();
      ASSERT_EQ(nrHwCrcStep(c.n, c.mats, word, state), serialStep(state, word, c.g, c.n))
          << "n " << c.n << " word " << word;
    }
  }
}

// Every length from 0 to 200 bits and the lengths around multiples of 64 (where the parity spills
// into one more word) up to the largest code block: the parity equals nrCrcCalc's, and the bank
// holds the data, the parity right behind it and the filler zeros.
TEST(HwCrc, ParityAndBankBlockEqualTheSoftwareCrcForEveryLength) {
  std::vector<int32_t> lengths;
  for (int32_t len = 0; len <= 200; len++) lengths.push_back(len);
  for (int32_t k = 4; k * 64 <= 8424; k += 9)
    for (int32_t d : {-24, -16, -1, 0, 1, 39, 40, 47, 48}) lengths.push_back(k * 64 + d);
  lengths.push_back(8424);
  std::mt19937 rng(3);
  std::vector<int32_t> data(2 * 8448);
  for (int32_t sel : {kHwCrcSel16, kHwCrcSel24A, kHwCrcSel24B}) {
    const int n = sel == kHwCrcSel16 ? 16 : 24;
    const uint8_t type = sel == kHwCrcSel16 ? kCrc16 : sel == kHwCrcSel24A ? kCrc24A : kCrc24B;
    for (int32_t len : lengths) {
      if (len > 8448 - n || (sel == kHwCrcSel24B && len < 16)) continue;
      SCOPED_TRACE("selector " + std::to_string(sel) + ", " + std::to_string(len) + " bits");
      const NrHwCwParams rec = recordForLength(len, sel);
      LdpcCoreParams core;
      ASSERT_TRUE(nrHwCoreParamCalc(&rec, &core));
      for (int32_t& b : data) b = static_cast<int32_t>(rng() & 1);
      std::vector<int32_t> bank(kHwCrcBankSlots, 9);
      int32_t crcOut[kHwCrcOutLen];
      std::fill(crcOut, crcOut + kHwCrcOutLen, -3);
      const int32_t mode = sel == kHwCrcSel24B ? kHwCrcModeCb : kHwCrcModeTb;
      ASSERT_TRUE(nrHwCrcRun(&rec, mode, data.data(), crcOut, bank.data()));

      const uint32_t crc = nrCrcCalc(data.data(), type, len);
      std::vector<int32_t> expect(data.begin(), data.begin() + len);
      for (int i = 0; i < n; i++) {
        ASSERT_EQ(crcOut[i], static_cast<int32_t>((crc >> i) & 1)) << "parity bit " << i;
        expect.push_back(crcOut[i]);
      }
      for (int i = n; i < kHwCrcOutLen; i++) EXPECT_EQ(crcOut[i], -3);
      expect.resize(core.K, 0);
      ASSERT_EQ(hwtest::bankBits(bank, core, core.K), expect);
      // Nothing beyond the block's rows.
      int32_t bitLen = 0, num = 0;
      nrHwBankGeometry(core.Zc, core.Zthr, core.zExpAbove, &bitLen, &num);
      EXPECT_EQ(bank[static_cast<size_t>(core.kb) * num * kHwBankRowSlots], 9);
    }
  }
}

// A segmented transport block: the CRC of the last block covers the whole transport block, whose
// parity then ends that block's payload ahead of its CRC24B; blocks before it carry their own
// CRC24B only and leave the payload as it is.
TEST(HwCrc, LastSegmentCarriesTheTransportBlockCrcBeforeItsOwn) {
  Shape s{};
  s.bgIdx = 0;
  s.Zc = 112;
  s.C = 3;
  s.tbCrc24 = 1;
  s.infoLen = 22 * 112 - 24 - 40;  // 40 fillers
  s.Qm = 4;
  s.layers = 1;
  s.eRowSmall = 100;
  const NrHwCwParams rec = hwtest::recordOf(s);
  hwtest::HwMem m;
  std::mt19937 rng(11);
  const int32_t A = rec.infoLen * 3 - 24;
  for (int32_t i = 0; i < A; i++) m.payload[i] = static_cast<int32_t>(rng() & 1);
  for (int32_t i = A; i < A + 24; i++) m.payload[i] = 7;
  const std::vector<int32_t> before = m.payload;
  LdpcCoreParams core;
  ASSERT_TRUE(nrHwCoreParamCalc(&rec, &core));

  ASSERT_TRUE(nrHwCrcCb(&rec, 0, m.payload.data(), m.crcOut, m.bank.data()));
  EXPECT_EQ(m.payload, before);
  ASSERT_TRUE(nrHwCrcCb(&rec, 2, m.payload.data(), m.crcOut, m.bank.data()));
  const uint32_t tbCrc = nrCrcCalc(m.payload.data(), kCrc24A, A);
  std::vector<int32_t> block(m.payload.begin() + 2 * rec.infoLen,
                             m.payload.begin() + 3 * rec.infoLen);
  for (int i = 0; i < 24; i++)
    EXPECT_EQ(block[rec.infoLen - 24 + i], static_cast<int32_t>((tbCrc >> i) & 1));
  const uint32_t cbCrc = nrCrcCalc(block.data(), kCrc24B, rec.infoLen);
  for (int i = 0; i < 24; i++) block.push_back(static_cast<int32_t>((cbCrc >> i) & 1));
  for (int i = 0; i < 24; i++) EXPECT_EQ(m.crcOut[i], block[rec.infoLen + i]);
  block.resize(core.K, 0);
  EXPECT_EQ(hwtest::bankBits(m.bank, core, core.K), block);
}

// The bank writer assembles rows across calls: a flush leaves a partial row in memory without
// advancing, the next bits complete that row in place, and the filler completion ends the block
// on a row boundary.
TEST(HwCrc, BankWriterCompletesPartialRowsInPlace) {
  Shape s{};
  s.bgIdx = 1;
  s.Zc = 72;  // two rows of 36 per column block
  s.C = 1;
  s.tbCrc24 = 0;
  s.infoLen = 10 * 72 - 16 - 66;  // K' = 654, 66 fillers
  s.Qm = 1;
  s.layers = 1;
  s.eRowSmall = 10;
  const NrHwCwParams rec = hwtest::recordOf(s);
  std::vector<int32_t> bank(kHwCrcBankSlots, 9);
  std::vector<int32_t> bits(100);
  for (int i = 0; i < 100; i++) bits[i] = (i * 5 + 1) % 3 == 0;
  int32_t wrAddr = 0, bitOfst = 0;
  ASSERT_TRUE(nrHwBankWrite(&rec, bits.data(), 40, true, &wrAddr, &bitOfst, bank.data()));
  EXPECT_EQ(wrAddr, 1);
  EXPECT_EQ(bitOfst, 4);
  EXPECT_EQ(bank[kHwBankRowSlots + 3], bits[39]);  // the partial row is in memory
  EXPECT_EQ(bank[kHwBankRowSlots + 4], 9);
  ASSERT_TRUE(nrHwBankWrite(&rec, bits.data() + 40, 60, false, &wrAddr, &bitOfst, bank.data()));
  EXPECT_EQ(wrAddr, 2);
  EXPECT_EQ(bitOfst, 28);
  for (int i = 0; i < 72; i++) EXPECT_EQ(bank[(i / 36) * kHwBankRowSlots + i % 36], bits[i]);
  EXPECT_EQ(bank[36], 9);  // slots beyond bitLenOneBank untouched

  // Fill the block: K' = 654 bits written in all, then 66 fillers up to K = 720 = 20 rows.
  std::vector<int32_t> rest(654 - 100, 1);
  ASSERT_TRUE(nrHwBankWrite(&rec, rest.data(), 554, true, &wrAddr, &bitOfst, bank.data()));
  ASSERT_TRUE(nrHwBankFill(&rec, &wrAddr, &bitOfst, bank.data()));
  EXPECT_EQ(wrAddr, 20);
  EXPECT_EQ(bitOfst, 0);
  EXPECT_EQ(bank[19 * kHwBankRowSlots + 35], 0);
  EXPECT_EQ(bank[20 * kHwBankRowSlots], 9);

  // One bit more than the block holds is refused and writes nothing.
  const std::vector<int32_t> snapshot = bank;
  wrAddr = 19;
  bitOfst = 35;
  const std::string diag = captureDiag([&] {
    EXPECT_FALSE(nrHwBankWrite(&rec, bits.data(), 2, true, &wrAddr, &bitOfst, bank.data()));
  });
  EXPECT_NE(diag.find("nrHwBankWrite(): "), std::string::npos);
  EXPECT_EQ(bank, snapshot);
  EXPECT_EQ(wrAddr, 19);
}

TEST(HwCrc, RefusedRecordsAndBlocksTouchNoMemory) {
  Shape s{};
  s.bgIdx = 0;
  s.Zc = 64;
  s.C = 2;
  s.tbCrc24 = 1;
  s.infoLen = 1000;
  s.Qm = 2;
  s.layers = 1;
  s.eRowSmall = 100;
  const NrHwCwParams good = hwtest::recordOf(s);
  struct Case {
    const char* what;
    NrHwCwParams rec;
    int32_t r;
    const char* diag;
  };
  NrHwCwParams manyBlocks = good, longInfo = good;
  manyBlocks.cbNum = 256;
  longInfo.infoLen = 16384;
  const Case cases[] = {
      {"256 code blocks", manyBlocks, 0, "cbNum = 256"},
      {"infoLen of 15 bits", longInfo, 0, "infoLen = 16384"},
      {"block beyond C", good, 2, "code block 2"},
      {"negative block", good, -1, "code block -1"},
  };
  for (const Case& c : cases) {
    hwtest::HwMem m;
    std::fill(m.payload.begin(), m.payload.begin() + 4000, 1);
    const std::vector<int32_t> payload = m.payload, bank = m.bank;
    int32_t crcOut[kHwCrcOutLen];
    std::fill(crcOut, crcOut + kHwCrcOutLen, -3);
    const std::string diag = captureDiag(
        [&] { EXPECT_FALSE(nrHwCrcCb(&c.rec, c.r, m.payload.data(), crcOut, m.bank.data())); });
    EXPECT_NE(diag.find("nrHwCrcCb(): "), std::string::npos) << c.what;
    EXPECT_NE(diag.find(c.diag), std::string::npos) << c.what << ": " << diag;
    EXPECT_EQ(m.payload, payload) << c.what;
    EXPECT_EQ(m.bank, bank) << c.what;
    for (int32_t v : crcOut) EXPECT_EQ(v, -3) << c.what;
  }
  int32_t crcOut[kHwCrcOutLen] = {};
  hwtest::HwMem m;
  const std::string diag = captureDiag(
      [&] { EXPECT_FALSE(nrHwCrcRun(&good, 2, m.payload.data(), crcOut, m.bank.data())); });
  EXPECT_NE(diag.find("mode 2"), std::string::npos);
}
