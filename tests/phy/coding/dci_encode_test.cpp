#include "phy/coding/dci_encode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "phy/coding/polar_code.h"
#include "phy/coding/polar_encode.h"
#include "tests/test_util.h"

namespace {

using Bits = std::vector<int>;

std::vector<int> table3gpp(const char* name) {
  std::ifstream in(std::string(VELTRA_SOURCE_DIR) + "/tools/3gpp/" + name);
  std::vector<int> v;
  std::string line;
  while (std::getline(in, line))
    if (!line.empty() && line[0] != '#') v.push_back(std::stoi(line));
  return v;
}

// A literal model of TS 38.212 7.3.2 - 7.3.4 for one DCI, written clause by clause with none of
// the library's shortcuts: polynomial long division, the mother code as a matrix product u G_N
// with G_N the n-th Kronecker power of F, and the bit selection of 5.4.1.2.
struct LiteralDci {
  std::vector<int> seq = table3gpp("polar_sequence.txt");
  std::vector<int> ilMax = table3gpp("polar_interleaver.txt");
  std::vector<int> P = table3gpp("polar_subblock_interleaver.txt");

  // 5.1: g_CRC24C(D) = D^24 + D^23 + D^21 + D^20 + D^17 + D^15 + D^13 + D^12 + D^8 + D^4 + D^2 +
  // D + 1; 7.3.2: the parity is computed over a' = 24 ones followed by a.
  static Bits crc(const Bits& a) {
    const int g[25] = {1, 1, 0, 1, 1, 0, 0, 1, 0, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 1, 1, 1};
    Bits m(24, 1);
    m.insert(m.end(), a.begin(), a.end());
    const size_t msgLen = m.size();
    m.resize(msgLen + 24, 0);
    for (size_t i = 0; i < msgLen; i++)
      if (m[i])
        for (int j = 0; j < 25; j++) m[i + j] ^= g[j];
    return Bits(m.end() - 24, m.end());
  }

  // 7.3.2: c = a, then the parity with b_{A+8+k} scrambled by x_rnti,k, k = 0 .. 15 (MSB first).
  static Bits attachCrc(const Bits& a, unsigned rnti) {
    Bits c = a;
    const Bits p = crc(a);
    c.insert(c.end(), p.begin(), p.end());
    const size_t A = a.size();
    for (int k = 0; k < 16; k++) c[A + 8 + k] ^= (rnti >> (15 - k)) & 1;
    return c;
  }

  Bits encode(const Bits& a, unsigned rnti, int E) const {
    const Bits c = attachCrc(a, rnti);
    const int K = static_cast<int>(c.size());

    // 5.3.1: mother code length, n_max = 9, R_min = 1/8.
    int n1 = static_cast<int>(std::ceil(std::log2(static_cast<double>(E))));
    if (E <= 9.0 / 8.0 * std::pow(2.0, n1 - 1) && static_cast<double>(K) / E < 9.0 / 16.0) n1--;
    const int n2 = static_cast<int>(std::ceil(std::log2(K / (1.0 / 8.0))));
    const int n = std::max(std::min({n1, n2, 9}), 5);
    const int N = 1 << n;

    // 5.3.1.1 with K_IL^max = 164: c'_k = c_Pi(k).
    Bits pi;
    for (int m = 0; m < 164; m++)
      if (ilMax[m] >= 164 - K) pi.push_back(ilMax[m] - (164 - K));
    Bits cp(K);
    for (int k = 0; k < K; k++) cp[k] = c[pi[k]];

    // 5.4.1.1: J(n) = P(i) N/32 + n mod N/32 with i = floor(32 n / N).
    auto J = [&](int m) { return P[32 * m / N] * (N / 32) + m % (N / 32); };

    // 5.4.1.1 frozen by rate matching; 5.3.1.2 Q_I = the K most reliable others (n_PC = 0).
    std::set<int> qftmp;
    if (E < N) {
      if (static_cast<double>(K) / E <= 7.0 / 16.0) {
        for (int m = 0; m < N - E; m++) qftmp.insert(J(m));
        const int T = E >= 3.0 * N / 4 ? static_cast<int>(std::ceil(3.0 * N / 4 - E / 2.0))
                                       : static_cast<int>(std::ceil(9.0 * N / 16 - E / 4.0));
        for (int m = 0; m < T; m++) qftmp.insert(m);
      } else {
        for (int m = E; m < N; m++) qftmp.insert(J(m));
      }
    }
    std::set<int> qi;
    for (int q = 1023; q >= 0 && static_cast<int>(qi.size()) < K; q--)
      if (seq[q] < N && !qftmp.count(seq[q])) qi.insert(seq[q]);

    Bits u(N, 0);
    int k = 0;
    for (int i = 0; i < N; i++)
      if (qi.count(i)) u[i] = cp[k++];

    // d = u G_N, G_N = F^(x)n.
    std::vector<Bits> G = {{1}};
    for (int m = 1; m < N; m *= 2) {
      std::vector<Bits> H(2 * m, Bits(2 * m, 0));
      for (int i = 0; i < m; i++)
        for (int j = 0; j < m; j++) H[i][j] = H[m + i][j] = H[m + i][m + j] = G[i][j];
      G = H;
    }
    Bits d(N, 0);
    for (int j = 0; j < N; j++)
      for (int i = 0; i < N; i++) d[j] ^= u[i] & G[i][j];

    // 5.4.1.1 y_n = d_J(n); 5.4.1.2 bit selection.
    Bits y(N);
    for (int m = 0; m < N; m++) y[m] = d[J(m)];
    Bits e(E);
    for (int m = 0; m < E; m++) {
      if (E >= N)
        e[m] = y[m % N];
      else if (static_cast<double>(K) / E <= 7.0 / 16.0)
        e[m] = y[m + N - E];
      else
        e[m] = y[m];
    }
    return e;
  }
};

Bits randomBits(int n, uint32_t seed) {
  Bits b(n);
  for (int& v : b) {
    seed = seed * 1103515245u + 12345u;
    v = (seed >> 16) & 1;
  }
  return b;
}

}  // namespace

TEST(DciEncode, MatchesALiteralModelOfTheStandard) {
  const LiteralDci model;
  struct Case {
    int A;
    unsigned rnti;
    int E;
  };
  // Shortening at level 1, puncturing at levels 2 and 4 (both sides of 3N/4), the boundary
  // K/E = 7/16 between puncturing and shortening, repetition at levels 8 and 16.
  const Case cases[] = {{40, 0x1234, 108}, {39, 28764, 216},    {37, 0xFFFF, 432},
                        {70, 0x4601, 216}, {71, 0x4601, 216},   {40, 0xFFFF, 864},
                        {35, 1, 1728},     {100, 0xBEEF, 1728}, {1, 0xC0DE, 108}};
  for (const Case& k : cases) {
    const Bits a = randomBits(k.A, static_cast<uint32_t>(k.A * 977 + k.E));
    const Bits expect = model.encode(a, k.rnti, k.E);
    std::vector<int32_t> in(a.begin(), a.end());
    std::vector<int16_t> out(k.E, -1);
    ASSERT_TRUE(nrDciEncode(in.data(), static_cast<uint16_t>(k.A), out.data(), 1, k.rnti,
                            static_cast<uint16_t>(k.E)));
    EXPECT_EQ(Bits(out.begin(), out.end()), expect) << "A " << k.A << " E " << k.E;
  }
}

TEST(DciEncode, CrcStartsFromOnesAndTheRntiMasksOnlyItsLast16Bits) {
  // An all-zero payload gives a non-zero parity, the one of the literal long division.
  const Bits zeros(40, 0);
  int8_t a[40] = {};
  int8_t p0[24], pMask[24];
  dci_detail::maskedParity(a, 40, 0, p0);
  EXPECT_EQ(Bits(p0, p0 + 24), LiteralDci::crc(zeros));
  EXPECT_NE(Bits(p0, p0 + 24), Bits(24, 0));
  // RNTI 0xFFFF flips the last 16 parity bits and leaves the first 8.
  dci_detail::maskedParity(a, 40, 0xFFFF, pMask);
  for (int i = 0; i < 24; i++) EXPECT_EQ(pMask[i] ^ p0[i], i < 8 ? 0 : 1) << i;
  EXPECT_EQ(LiteralDci::attachCrc(zeros, 0xFFFF), [&] {
    Bits c = zeros;
    c.insert(c.end(), pMask, pMask + 24);
    return c;
  }());
}

TEST(DciEncode, WithoutTheCrcFlagThePayloadIsEncodedAsItIs) {
  const Bits a = randomBits(64, 17);
  std::vector<int32_t> in(a.begin(), a.end());
  std::vector<int16_t> viaDci(216), direct(216);
  ASSERT_TRUE(nrDciEncode(in.data(), 64, viaDci.data(), 0, 0x1234, 216));
  ASSERT_TRUE(nrPolarEncode(in.data(), 64, direct.data(), 216, kPolarNmaxDci));
  EXPECT_EQ(viaDci, direct);
}

TEST(DciEncode, RefusesPayloadsAndLengthsItCannotEncode) {
  int32_t payload[128] = {};
  int16_t out[1728];
  struct Case {
    uint16_t A, E;
  };
  for (const Case k : {Case{0, 108}, Case{101, 1728}, Case{85, 108}, Case{40, 9000}}) {
    std::fill(out, out + 1728, int16_t{-3});
    const std::string err =
        captureDiag([&] { EXPECT_FALSE(nrDciEncode(payload, k.A, out, 1, 0x1234, k.E)); });
    EXPECT_FALSE(err.empty()) << k.A << " " << k.E;
    EXPECT_EQ(out[0], -3);
  }
}
