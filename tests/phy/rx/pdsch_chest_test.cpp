#include "phy/rx/pdsch_chest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <vector>

#include "config/nr_config.h"
#include "phy/common/cpu_features.h"
#include "phy/common/sequence.h"
#include "phy/tx/modulate.h"
#include "tests/test_util.h"

namespace {

using Cpx = std::complex<double>;
// Flat channel of symbol l: H[receive antenna][layer].
using Channel = std::function<void(int l, Cpx H[2][2])>;

NrDchMwItf itf;

// DMRS type 1 on symbols 2..13 of rbN RBs starting at BWP RB 7 of a BWP at common RB 3.
void setPdsch(int layers, uint16_t port, std::vector<uint8_t> dmrsSyms, uint16_t rbN = 4) {
  std::memset(&itf, 0, sizeof(itf));
  NrPdschCfg& p = itf.pdschCfg;
  p.layerN = static_cast<uint8_t>(layers);
  p.dmrsType = 1;
  p.cdmGrpNoData = 1;
  p.symBitmap = 0x3FFC;
  p.rbN = rbN;
  for (int r = 0; r < rbN; r++) p.rbIdx[r] = static_cast<uint16_t>(7 + r);
  p.bwpRbOffset = 3;
  p.dmrsScrId0 = 2;
  p.dmrsScrId1 = 1;
  p.dmrsPorts[0] = port;
  p.dmrsPorts[1] = 1001;
  p.dmrsPortIdx[0] = 0;  // ports 1000 and 1001: CDM group 0
  p.dmrsPortIdx[1] = 1;
  p.dmrsPortIdx[2] = 0xFF;
  p.dmrsFirstSym = dmrsSyms[0];
  p.dmrsAddPosN = static_cast<uint8_t>(dmrsSyms.size() - 1);
  for (size_t k = 1; k < dmrsSyms.size(); k++) p.dmrsAddPos[k - 1] = dmrsSyms[k];
}

// QPSK DMRS of symbol l as transmitted (TS 38.211 7.4.1.1.1), indexed from common RB 0.
std::vector<Cpx> dmrsRef(const NrPdschCfg& p, uint16_t slot, int l, int count) {
  const uint32_t nId = p.dmrsScrId0;
  const uint32_t cInit =
      ((1u << 17) * (14u * slot + l + 1) * (2 * nId + 1) + 2 * nId + p.dmrsScrId1) & 0x7FFFFFFFu;
  nrGoldSeqGen(static_cast<int32_t>(cInit), 2 * count, 1,
               static_cast<uint16_t>(12 * (p.rbIdx[0] + p.bwpRbOffset)));
  std::vector<int16_t> bits(2 * count);
  for (int i = 0; i < 2 * count; i++) bits[i] = gnrSeqBuf[kSeqBufGoldOffset + i];
  std::vector<int32_t> sym(count);
  nrModulate(sym.data(), bits.data(), 2 * count, 2);
  std::vector<Cpx> out(count);
  for (int i = 0; i < count; i++) out[i] = Cpx(nrCpxRe(sym[i]), nrCpxIm(sym[i]));
  return out;
}

int32_t toIq(Cpx v) {
  return nrCpxPack(static_cast<int>(std::lround(v.real())),
                   static_cast<int>(std::lround(v.imag())));
}
Cpx fromIq(int32_t v) { return Cpx(nrCpxRe(v), nrCpxIm(v)); }

// Received DMRS REs of every DMRS symbol: port 1000 on layer 0, port 1001 (cover +1, -1 over
// each RE pair) on layer 1; a single layer uses the configured port.
std::vector<NrRxRe> receiveDmrs(uint16_t slot, const Channel& ch) {
  const NrPdschCfg& p = itf.pdschCfg;
  const int P = 6 * p.rbN;
  std::vector<NrRxRe> out;
  std::vector<int> syms = {p.dmrsFirstSym};
  for (int k = 0; k < p.dmrsAddPosN; k++) syms.push_back(p.dmrsAddPos[k]);
  for (int l : syms) {
    const std::vector<Cpx> r = dmrsRef(p, slot, l, P);
    Cpx H[2][2];
    ch(l, H);
    for (int n = 0; n < P; n++) {
      const double cover = (n & 1) ? -1.0 : 1.0;
      Cpx layer[2] = {r[n], r[n] * cover};
      if (p.layerN == 1 && p.dmrsPorts[0] == 1001) layer[0] = r[n] * cover;
      NrRxRe re;
      for (int a = 0; a < 2; a++) {
        Cpx y = H[a][0] * layer[0];
        if (p.layerN == 2) y += H[a][1] * layer[1];
        re.ant[a] = toIq(y);
      }
      out.push_back(re);
    }
  }
  return out;
}

bool isDmrsSymbol(int l) {
  const NrPdschCfg& p = itf.pdschCfg;
  if (l == p.dmrsFirstSym) return true;
  for (int k = 0; k < p.dmrsAddPosN; k++)
    if (l == p.dmrsAddPos[k]) return true;
  return false;
}

// Data REs in the estimator's order with random QPSK symbols per layer through the channel.
struct DataSlot {
  std::vector<NrRxRe> re;
  std::vector<Cpx> sent[2];
};

DataSlot receiveData(const Channel& ch) {
  const NrPdschCfg& p = itf.pdschCfg;
  DataSlot d;
  uint32_t seed = 12345;
  auto qpsk = [&seed]() {
    seed = seed * 1103515245u + 12345u;
    return Cpx((seed >> 16) & 1 ? 724 : -724, (seed >> 17) & 1 ? 724 : -724);
  };
  for (int l = 0; l < 14; l++) {
    if (((p.symBitmap >> l) & 1) == 0) continue;
    const int count = isDmrsSymbol(l) ? 6 * p.rbN : 12 * p.rbN;
    Cpx H[2][2];
    ch(l, H);
    for (int k = 0; k < count; k++) {
      const Cpx s0 = qpsk(), s1 = qpsk();
      d.sent[0].push_back(s0);
      d.sent[1].push_back(s1);
      NrRxRe re;
      for (int a = 0; a < 2; a++)
        re.ant[a] = toIq(p.layerN == 2 ? H[a][0] * s0 + H[a][1] * s1 : H[a][0] * s0);
      d.re.push_back(re);
    }
  }
  return d;
}

std::vector<uint16_t> codes(std::vector<int16_t> syms) {
  int16_t N[4] = {15, 15, 15, 15};
  for (size_t i = 0; i < syms.size(); i++) N[i] = syms[i];
  std::vector<uint16_t> c(14);
  nrDchTimeInterpCodes(N, static_cast<int>(syms.size()) - 1, c.data());
  return c;
}

}  // namespace

TEST(DchTimeInterp, OneDmrsSymbolIsCopiedToEverySymbol) {
  const std::vector<uint16_t> c = codes({5});
  for (int l = 0; l < 14; l++) EXPECT_EQ(c[l], 0x8000) << l;
}

TEST(DchTimeInterp, WeightsBetweenSymbolsTwoAndEleven) {
  const std::vector<uint16_t> c = codes({2, 11});
  EXPECT_EQ(c[0], 0x8000);
  EXPECT_EQ(c[1], 0x8000);
  EXPECT_EQ(c[2], 0x8000);
  for (int l = 3; l <= 10; l++) {
    // w = (l - 2) * 128 / 9 on DMRS 1, the rest on DMRS 0.
    EXPECT_EQ(c[l], (((l - 2) * 128 / 9) << 8) | 0x01) << l;
  }
  EXPECT_EQ(c[3] >> 8, 14);
  EXPECT_EQ(c[10] >> 8, 113);
  for (int l = 11; l <= 13; l++) EXPECT_EQ(c[l], 0x8011) << l;
}

TEST(DchTimeInterp, ThreeDmrsSymbolsInterpolatePairwise) {
  const std::vector<uint16_t> c = codes({2, 7, 11});
  EXPECT_EQ(c[2], 0x8000);
  for (int l = 3; l <= 6; l++) EXPECT_EQ(c[l], (((l - 2) * 128 / 5) << 8) | 0x01) << l;
  EXPECT_EQ(c[7], 0x8011);
  for (int l = 8; l <= 10; l++) EXPECT_EQ(c[l], (((l - 7) * 128 / 4) << 8) | 0x12) << l;
  for (int l = 11; l <= 13; l++) EXPECT_EQ(c[l], 0x8022) << l;
}

TEST(DchTimeInterp, FourDmrsSymbolsStayInsideTheTable) {
  const std::vector<uint16_t> c = codes({2, 5, 8, 11});
  EXPECT_EQ(c[4], ((2 * 128 / 3) << 8) | 0x01);
  EXPECT_EQ(c[9], ((1 * 128 / 3) << 8) | 0x23);
  for (int l = 11; l <= 13; l++) EXPECT_EQ(c[l], 0x8033) << l;
}

// One layer over a flat channel per antenna, for both single-layer ports and several slots:
// each antenna slot recovers the transmitted symbol in Q10.
TEST(DchChEstEq, FlatChannelOneLayerRecoversSymbolsOnBothPorts) {
  for (uint16_t port : {1000, 1001})
    for (uint16_t slot : {0, 7}) {
      setPdsch(1, port, {2});
      const Channel ch = [](int, Cpx H[2][2]) {
        H[0][0] = std::polar(0.8, 0.3);
        H[1][0] = std::polar(1.3, -2.0);
      };
      std::vector<NrRxRe> dmrs = receiveDmrs(slot, ch);
      DataSlot d = receiveData(ch);
      nrUeDchChEstEq(d.re.data(), d.re.size(), dmrs.data(), dmrs.size(), &itf, slot);
      for (size_t e = 0; e < d.re.size(); e++)
        for (int a = 0; a < 2; a++) {
          ASSERT_NEAR(nrCpxRe(d.re[e].ant[a]), d.sent[0][e].real(), 4) << port << " " << e;
          ASSERT_NEAR(nrCpxIm(d.re[e].ant[a]), d.sent[0][e].imag(), 4) << port << " " << e;
        }
    }
}

// Port 1001 negates every odd DMRS reference: read as port 1000 the estimates cancel pairwise
// and the data come out wrong.
TEST(DchChEstEq, PortThousandOneNegatesOddReferences) {
  setPdsch(1, 1001, {2});
  const Channel ch = [](int, Cpx H[2][2]) { H[0][0] = H[1][0] = 1.0; };
  std::vector<NrRxRe> dmrs = receiveDmrs(0, ch);
  itf.pdschCfg.dmrsPorts[0] = 1000;
  DataSlot d = receiveData(ch);
  nrUeDchChEstEq(d.re.data(), d.re.size(), dmrs.data(), dmrs.size(), &itf, 0);
  int wrong = 0;
  for (size_t e = 0; e < d.re.size(); e++)
    wrong += std::abs(nrCpxRe(d.re[e].ant[0]) - d.sent[0][e].real()) > 4;
  EXPECT_GT(wrong, static_cast<int>(d.re.size()) / 4);
}

TEST(DchChEstEq, TwoLayersSeparateThroughIdentityAndMixingChannels) {
  const Channel identity = [](int, Cpx H[2][2]) {
    H[0][0] = H[1][1] = 1.0;
    H[0][1] = H[1][0] = 0.0;
  };
  const Channel mixing = [](int, Cpx H[2][2]) {
    H[0][0] = std::polar(0.9, 0.2);
    H[0][1] = std::polar(0.4, 1.1);
    H[1][0] = std::polar(0.3, -0.7);
    H[1][1] = std::polar(1.1, 2.5);
  };
  for (const Channel& ch : {identity, mixing}) {
    setPdsch(2, 1000, {2, 11});
    std::vector<NrRxRe> dmrs = receiveDmrs(3, ch);
    DataSlot d = receiveData(ch);
    nrUeDchChEstEq(d.re.data(), d.re.size(), dmrs.data(), dmrs.size(), &itf, 3);
    for (size_t e = 0; e < d.re.size(); e++)
      for (int v = 0; v < 2; v++) {
        ASSERT_NEAR(nrCpxRe(d.re[e].ant[v]), d.sent[v][e].real(), 6) << e << " layer " << v;
        ASSERT_NEAR(nrCpxIm(d.re[e].ant[v]), d.sent[v][e].imag(), 6) << e << " layer " << v;
      }
  }
}

// DMRS on symbols 2 and 11 with different gains: symbol 3 takes 114/128 of the weight of
// symbol 2 and 14/128 of that of symbol 11, symbol 10 15/128 and 113/128; symbol 12 copies 11.
TEST(DchChEstEq, TimeInterpolationBlendsTheWeightsOfTheDmrsSymbols) {
  setPdsch(1, 1000, {2, 11});
  const Cpx g2 = std::polar(1.0, 0.0), g11 = std::polar(0.5, 0.0);
  const Channel ch = [&](int l, Cpx H[2][2]) { H[0][0] = H[1][0] = l < 7 ? g2 : g11; };
  std::vector<NrRxRe> dmrs = receiveDmrs(1, ch);
  DataSlot d = receiveData(ch);
  const Cpx y(500, -300);
  for (NrRxRe& re : d.re) re.ant[0] = re.ant[1] = toIq(y);
  nrUeDchChEstEq(d.re.data(), d.re.size(), dmrs.data(), dmrs.size(), &itf, 1);

  // Entry index of the first RE of symbol l (symbols 2 and 11 carry 6 REs per RB, others 12).
  auto first = [](int l) {
    int e = 0;
    for (int s = 2; s < l; s++) e += (s == 2 || s == 11) ? 24 : 48;
    return e;
  };
  const struct {
    int l;
    double w;
  } cases[] = {{3, 14}, {10, 113}, {12, 128}, {13, 128}, {0 + 5, 3 * 128 / 9}};
  for (const auto& c : cases) {
    const Cpx expect = y * ((128 - c.w) / 128.0 / g2 + c.w / 128.0 / g11);
    for (int k = 0; k < 48; k++) {
      const Cpx got = fromIq(d.re[first(c.l) + k].ant[0]);
      ASSERT_NEAR(got.real(), expect.real(), 3) << "symbol " << c.l << " RE " << k;
      ASSERT_NEAR(got.imag(), expect.imag(), 3) << "symbol " << c.l << " RE " << k;
    }
  }
}

// A zero estimate (silent DMRS) or a singular two-layer channel gives non-finite weights; the
// equalised values stay defined (zero or saturated), never an undefined conversion.
TEST(DchChEstEq, ZeroEstimateAndSingularMatrixGiveDefinedOutputs) {
  for (int layers : {1, 2}) {
    setPdsch(layers, 1000, {2});
    const Channel silent = [](int, Cpx H[2][2]) { H[0][0] = H[0][1] = H[1][0] = H[1][1] = 0.0; };
    const Channel singular = [](int, Cpx H[2][2]) { H[0][0] = H[0][1] = H[1][0] = H[1][1] = 1.0; };
    // With one layer equal antenna channels are regular; only two layers make them singular.
    for (const Channel& ch :
         layers == 1 ? std::vector<Channel>{silent} : std::vector<Channel>{silent, singular}) {
      std::vector<NrRxRe> dmrs = receiveDmrs(0, ch);
      DataSlot d = receiveData(ch);
      for (NrRxRe& re : d.re) re.ant[0] = re.ant[1] = toIq(Cpx(100, 0));
      nrUeDchChEstEq(d.re.data(), d.re.size(), dmrs.data(), dmrs.size(), &itf, 0);
      for (const NrRxRe& re : d.re)
        for (int a = 0; a < 2; a++) {
          const int i = nrCpxRe(re.ant[a]);
          ASSERT_TRUE(i == 0 || i == 32767 || i == -32768) << i;
        }
    }
  }
}

// Configurations beyond the working storage are reported and leave the data untouched.
TEST(DchChEstEq, RejectsConfigurationsBeyondItsStorage) {
  struct Case {
    const char* what;
    std::function<void()> set;
    int dmrsN;
    const char* message;
  };
  const Case cases[] = {
      {"three layers", [] { itf.pdschCfg.layerN = 3; }, 24, "3 layers not supported"},
      {"four additional DMRS", [] { itf.pdschCfg.dmrsAddPosN = 4; }, 24, "4 additional DMRS"},
      {"too many RBs", [] { itf.pdschCfg.rbN = 281; }, 24, "281 RBs"},
      {"DMRS per symbol", [] {}, kDmrsRePerSymCap + 1, "DMRS REs per symbol exceed"},
  };
  for (const Case& c : cases) {
    setPdsch(1, 1000, {2});
    c.set();
    std::vector<NrRxRe> dmrs(c.dmrsN, NrRxRe{{nrCpxPack(724, 724), nrCpxPack(724, 724)}});
    std::vector<NrRxRe> data(300, NrRxRe{{nrCpxPack(11, 22), nrCpxPack(33, 44)}});
    const std::string out = captureDiag([&] {
      nrUeDchChEstEq(data.data(), data.size(), dmrs.data(), static_cast<uint16_t>(dmrs.size()),
                     &itf, 0);
    });
    EXPECT_NE(out.find(c.message), std::string::npos) << c.what << ": " << out;
    for (const NrRxRe& re : data) ASSERT_EQ(re.ant[0], nrCpxPack(11, 22)) << c.what;
  }
}

// The data count bounds the equalisation even when the configuration describes more REs.
TEST(DchChEstEq, NeverEqualisesBeyondTheGivenDataCount) {
  setPdsch(1, 1000, {2});
  const Channel ch = [](int, Cpx H[2][2]) { H[0][0] = H[1][0] = 1.0; };
  std::vector<NrRxRe> dmrs = receiveDmrs(0, ch);
  std::vector<NrRxRe> data(100, NrRxRe{{nrCpxPack(724, -724), nrCpxPack(724, -724)}});
  const NrRxRe canary = {{nrCpxPack(1, 2), nrCpxPack(3, 4)}};
  data.push_back(canary);
  nrUeDchChEstEq(data.data(), 100, dmrs.data(), dmrs.size(), &itf, 0);
  EXPECT_EQ(data[100].ant[0], canary.ant[0]);
  EXPECT_NEAR(nrCpxRe(data[99].ant[0]), 724, 4);
}

namespace {

// Channel that changes from subcarrier to subcarrier (allocation index sc) and from symbol to
// symbol, per receive antenna a and layer v.
Cpx selectiveChannel(int a, int v, int l, int sc) {
  return std::polar(1.0 + 0.4 * std::cos(0.7 * sc + a + 2 * v) + 0.05 * l,
                    0.3 * sc + 0.2 * l + 1.5 * a - v);
}

// Zero-forcing weights V[row][col] of every subcarrier of one DMRS symbol, in double precision,
// from the received DMRS entries of that symbol: least squares against the +-1/sqrt(2) reference,
// linear interpolation in frequency, inverse per antenna (one layer, 1024 inside) or 2 x 2 inverse.
using Weights = std::vector<std::array<std::array<Cpx, 2>, 2>>;
Weights expectedWeights(const NrRxRe* dmrs, const std::vector<Cpx>& ref, int P, int L,
                        uint16_t port) {
  const double h = 1.0 / std::sqrt(2.0);
  auto r = [&](int n) {
    const Cpx q(ref[n].real() > 0 ? h : -h, ref[n].imag() > 0 ? h : -h);
    return (L == 1 && port == 1001 && (n & 1)) ? -q : q;
  };
  // Hf[a][v][k]
  std::vector<Cpx> Hf[2][2];
  for (int a = 0; a < 2; a++)
    for (int v = 0; v < L; v++) Hf[a][v].assign(2 * P, 0.0);
  for (int a = 0; a < 2; a++) {
    if (L == 1) {
      std::vector<Cpx> ls(P);
      for (int n = 0; n < P; n++) ls[n] = fromIq(dmrs[n].ant[a]) * std::conj(r(n));
      for (int n = 0; n + 1 < P; n++) {
        Hf[a][0][2 * n] = ls[n];
        Hf[a][0][2 * n + 1] = 0.5 * (ls[n] + ls[n + 1]);
      }
      Hf[a][0][2 * P - 2] = Hf[a][0][2 * P - 1] = ls[P - 1];
      continue;
    }
    for (int v = 0; v < 2; v++) {
      std::vector<Cpx> ls(P / 2);
      for (int n = 0; n < P / 2; n++) {
        const Cpx p0 = fromIq(dmrs[2 * n].ant[a]) * std::conj(r(2 * n));
        const Cpx p1 = fromIq(dmrs[2 * n + 1].ant[a]) * std::conj(r(2 * n + 1));
        ls[n] = 0.5 * (v == 0 ? p0 + p1 : p0 - p1);
      }
      for (int n = 0; n < P / 2; n++)
        for (int j = 0; j < 4; j++)
          Hf[a][v][4 * n + j] =
              (j == 3 && n + 1 < P / 2) ? ls[n] + 0.5 * (ls[n + 1] - ls[n]) : ls[n];
    }
  }
  Weights W(2 * P);
  for (int k = 0; k < 2 * P; k++) {
    if (L == 1) {
      W[k][0][0] = 1024.0 / Hf[0][0][k];
      W[k][1][0] = 1024.0 / Hf[1][0][k];
      continue;
    }
    const Cpx det = Hf[0][0][k] * Hf[1][1][k] - Hf[0][1][k] * Hf[1][0][k];
    W[k][0][0] = Hf[1][1][k] / det;
    W[k][0][1] = -Hf[0][1][k] / det;
    W[k][1][0] = -Hf[1][0][k] / det;
    W[k][1][1] = Hf[0][0][k] / det;
  }
  return W;
}

}  // namespace

// Frequency-selective, time-varying channel, DMRS on symbols 2, 7 and 11: every data RE comes
// out as the double-precision zero-forcing result with the estimates interpolated between DMRS
// REs (one layer: the mean of neighbours on odd subcarriers; two layers: three copies and a
// half step per RE pair; the last DMRS RE or pair spread to the end), the weights interpolated
// in time by 1/128 steps, and the odd subcarriers of the DMRS symbols' own weights.
TEST(DchChEstEq, EqualisesWithTheInterpolatedWeightsOfEverySubcarrier) {
  const struct {
    int layers;
    uint16_t port;
  } cases[] = {{1, 1000}, {1, 1001}, {2, 1000}};
  const int dmrsSyms[3] = {2, 7, 11};
  const uint16_t slot = 5;
  for (const auto& c : cases) {
    setPdsch(c.layers, c.port, {2, 7, 11}, 3);
    const NrPdschCfg& p = itf.pdschCfg;
    const int P = 6 * p.rbN;
    const int L = c.layers;
    // Received DMRS: port 1000 on layer 0, port 1001 (cover +1, -1) on layer 1.
    std::vector<NrRxRe> dmrs;
    std::vector<std::vector<Cpx>> refs;
    for (int l : dmrsSyms) {
      refs.push_back(dmrsRef(p, slot, l, P));
      const std::vector<Cpx>& r = refs.back();
      for (int n = 0; n < P; n++) {
        const double cover = (n & 1) ? -1.0 : 1.0;
        Cpx x[2] = {r[n] / 1024.0, r[n] * cover / 1024.0};
        if (L == 1 && c.port == 1001) x[0] = x[1];
        NrRxRe re;
        for (int a = 0; a < 2; a++) {
          Cpx y = 0;
          for (int v = 0; v < L; v++) y += 1000.0 * selectiveChannel(a, v, l, 2 * n) * x[v];
          re.ant[a] = toIq(y);
        }
        dmrs.push_back(re);
      }
    }
    // Data REs: fixed values per antenna, so the output shows the weights alone.
    std::vector<NrRxRe> data;
    std::vector<std::pair<int, int>> where;  // symbol, subcarrier
    for (int l = 2; l < 14; l++) {
      const bool isDmrs = l == 2 || l == 7 || l == 11;
      for (int k = 0; k < (isDmrs ? 6 : 12) * p.rbN; k++) {
        where.emplace_back(l, isDmrs ? 2 * k + 1 : k);
        data.push_back(NrRxRe{{nrCpxPack(300 + k, -200 + l), nrCpxPack(-150 + 2 * k, 250 - l)}});
      }
    }
    const std::vector<NrRxRe> in = data;
    nrUeDchChEstEq(data.data(), data.size(), dmrs.data(), static_cast<uint16_t>(dmrs.size()), &itf,
                   slot);

    Weights W[3];
    for (int d = 0; d < 3; d++) W[d] = expectedWeights(&dmrs[d * P], refs[d], P, L, c.port);
    for (size_t e = 0; e < data.size(); e++) {
      const auto [l, sc] = where[e];
      // Weight of the later DMRS symbol in 1/128 (its own weights on a DMRS symbol).
      int d1 = 0, w = 0;
      if (l >= 11) {
        d1 = 2;
      } else if (l >= 7) {
        d1 = 1;
        w = (l - 7) * 128 / 4;
      } else {
        w = (l - 2) * 128 / 5;
      }
      const int d2 = std::min(d1 + 1, 2);
      Cpx V[2][2];
      for (int i = 0; i < 2; i++)
        for (int j = 0; j < 2; j++)
          V[i][j] = W[d1][sc][i][j] * ((128 - w) / 128.0) + W[d2][sc][i][j] * (w / 128.0);
      const Cpx y0 = fromIq(in[e].ant[0]), y1 = fromIq(in[e].ant[1]);
      const Cpx x[2] = {L == 2 ? 1024.0 * (V[0][0] * y0 + V[0][1] * y1) : V[0][0] * y0,
                        L == 2 ? 1024.0 * (V[1][0] * y0 + V[1][1] * y1) : V[1][0] * y1};
      for (int s = 0; s < 2; s++) {
        ASSERT_NEAR(nrCpxRe(data[e].ant[s]), std::trunc(x[s].real()), 1)
            << "layers " << L << " port " << c.port << " symbol " << l << " subcarrier " << sc;
        ASSERT_NEAR(nrCpxIm(data[e].ant[s]), std::trunc(x[s].imag()), 1)
            << "layers " << L << " port " << c.port << " symbol " << l << " subcarrier " << sc;
      }
    }
  }
}

// Every instruction-set variant of the estimator gives the plain loops' output bit for bit, over
// random received values of the whole int16 range (saturated outputs), silent DMRS REs (zero
// estimates, non-finite weights), allocations whose subcarrier counts leave a partial vector,
// every count of DMRS symbols, both ports of one layer, two layers and shortened data counts.
TEST(DchChEstEq, EveryInstructionSetVariantMatchesThePlainLoops) {
  const std::vector<std::vector<uint8_t>> dmrsSets = {{2}, {2, 11}, {2, 7, 11}, {2, 5, 8, 11}};
  const struct {
    int layers;
    uint16_t port;
  } layouts[] = {{1, 1000}, {1, 1001}, {2, 1000}};
  const uint8_t detected = nrCpuLevelDetected();
  uint32_t seed = 777;
  const auto next = [&seed]() {
    seed = seed * 1664525u + 1013904223u;
    return seed >> 8;
  };
  // Amplitude classes: full int16 range, small values, silence.
  const auto value = [&next](int cls) -> int32_t {
    if (cls == 2) return 0;
    const int span = cls == 0 ? 65536 : 64;
    const int i = static_cast<int>(next() % span) - span / 2;
    const int q = static_cast<int>(next() % span) - span / 2;
    return nrCpxPack(i, q);
  };
  int runs = 0;
  for (const uint16_t rbN : {1, 3, 5, 52, 106, 273})
    for (const auto& layout : layouts)
      for (const std::vector<uint8_t>& syms : dmrsSets) {
        setPdsch(layout.layers, layout.port, syms, rbN);
        const int P = 6 * rbN;
        std::vector<NrRxRe> dmrs(static_cast<size_t>(P) * syms.size());
        for (NrRxRe& re : dmrs) {
          const uint32_t pick = next() % 16;
          const int cls = pick == 0 ? 2 : (pick < 4 ? 0 : 1);
          re.ant[0] = value(cls);
          re.ant[1] = value(cls);
        }
        size_t dataN = 0;
        for (int l = 2; l < 14; l++) dataN += (isDmrsSymbol(l) ? 6 : 12) * rbN;
        std::vector<NrRxRe> data(dataN);
        for (NrRxRe& re : data) {
          const int cls = next() % 8 == 0 ? 0 : 1;
          re.ant[0] = value(cls);
          re.ant[1] = value(cls);
        }
        // The full count and one that stops inside a symbol.
        for (const size_t count : {dataN, dataN - 12 * rbN - 5}) {
          nrCpuSetLevelCap(kNrCpuBaseline);
          std::vector<NrRxRe> plain = data;
          ASSERT_TRUE(nrUeDchChEstEq(plain.data(), static_cast<uint32_t>(count), dmrs.data(),
                                     static_cast<uint16_t>(dmrs.size()), &itf, 3));
          for (uint8_t cap = kNrCpuBaseline + 1; cap <= detected; cap++) {
            nrCpuSetLevelCap(cap);
            std::vector<NrRxRe> wide = data;
            ASSERT_TRUE(nrUeDchChEstEq(wide.data(), static_cast<uint32_t>(count), dmrs.data(),
                                       static_cast<uint16_t>(dmrs.size()), &itf, 3));
            for (size_t e = 0; e < dataN; e++)
              for (int a = 0; a < 2; a++)
                ASSERT_EQ(wide[e].ant[a], plain[e].ant[a])
                    << "level " << int(cap) << ", " << layout.layers << " layers, port "
                    << layout.port << ", " << syms.size() << " DMRS symbols, " << rbN
                    << " RBs, count " << count << ", RE " << e << " antenna " << a;
            runs++;
          }
        }
        nrCpuSetLevelCap(0xFF);
      }
  if (detected == kNrCpuBaseline) GTEST_SKIP() << "no wider instruction set on this CPU";
  EXPECT_GT(runs, 0);
}
