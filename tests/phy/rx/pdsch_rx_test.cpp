#include "phy/rx/pdsch_rx.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "app/actions.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "config/ue_setup.h"
#include "phy/coding/dlsch_encode.h"
#include "phy/common/cpu_features.h"
#include "phy/common/sample_file.h"
#include "phy/common/sequence.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/rx/demod_soft.h"
#include "phy/tx/modulate.h"
#include "tests/test_util.h"

namespace {

using Cpx = std::complex<double>;

// A slot transmitted by a small reference transmitter built here (TS 38.211 7.3.1.3 layer
// mapping, 7.3.1.5 RE mapping around the DMRS, 7.4.1.1 DMRS on ports 1000/1001) through a flat
// channel H[receive antenna][layer].
struct Link {
  int layers = 1;
  int rxAnt = 1;
  Cpx H[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
  std::vector<int16_t> bits;  // bipolar coded bits in transmission order
};

bool dmrsSymbol(const NrPdschCfg& p, int l) {
  if (l == p.dmrsFirstSym) return true;
  for (int k = 0; k < p.dmrsAddPosN; k++)
    if (l == p.dmrsAddPos[k]) return true;
  return false;
}

// Transmits gnrNbConfig.pdschCfg[0] and leaves the received samples in ueRxSample and the UE
// records set up as the receive action would (plus rxAnt antennas and the rate-matching masks
// already in gnrDchMwItf).
void transmit(Link& link, uint32_t seed = 1) {
  NrNbConfig& cfg = gnrNbConfig;
  const NrPdschCfg& p = cfg.pdschCfg[0];
  const int dmrsSc[6] = {0, 2, 4, 6, 8, 10};
  static int32_t layerGrid[2][kSymbolsPerSlot][kGridScCap];
  std::memset(layerGrid, 0, sizeof(layerGrid));

  // Data REs per layer in mapping order (grid positions), skipping masked REs.
  std::vector<std::pair<int, int>> re;
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (((p.symBitmap >> l) & 1) == 0) continue;
    for (int r = 0; r < p.rbN; r++)
      for (int k = 0; k < kScPerRb; k++) {
        const bool dmrs = dmrsSymbol(p, l);
        if (dmrs && (k % 2 == 0 || p.cdmGrpNoData >= 2)) continue;
        if ((gnrDchMwItf.rmMap[l][r] >> k) & 1) continue;
        re.emplace_back(l, kScPerRb * p.rbIdx[r] + k);
      }
  }
  const int Qm = static_cast<int>(p.Qm);
  const size_t symN = re.size() * link.layers;
  link.bits.resize(symN * Qm);
  for (int16_t& b : link.bits) {
    seed = seed * 1664525u + 1013904223u;
    b = (seed >> 20) & 1 ? -1 : 1;
  }
  std::vector<int32_t> sym(symN);
  nrModulate(sym.data(), link.bits.data(), static_cast<int32_t>(link.bits.size()),
             static_cast<uint16_t>(Qm));
  for (size_t i = 0; i < symN; i++) {
    const auto& [l, k] = re[i / link.layers];
    layerGrid[i % link.layers][l][k] = sym[i];
  }

  // DMRS: port 1000 on layer 0, port 1001 (frequency cover +1, -1) on layer 1.
  for (int l = 0; l < kSymbolsPerSlot; l++) {
    if (!dmrsSymbol(p, l)) continue;
    const int n = 6 * p.rbN;
    const uint32_t nId = p.dmrsScrId0;
    const uint32_t cInit =
        ((1u << 17) * (14u * cfg.slotIdx + l + 1) * (2 * nId + 1) + 2 * nId + p.dmrsScrId1) &
        0x7FFFFFFFu;
    nrGoldSeqGen(static_cast<int32_t>(cInit), 2 * n, 1,
                 static_cast<uint16_t>(12 * (p.rbIdx[0] + cfg.bwpCfg.rbOffset)));
    std::vector<int16_t> b(2 * n);
    for (int i = 0; i < 2 * n; i++) b[i] = gnrSeqBuf[kSeqBufGoldOffset + i];
    std::vector<int32_t> d(n);
    nrModulate(d.data(), b.data(), 2 * n, 2);
    for (int r = 0; r < p.rbN; r++)
      for (int j = 0; j < 6; j++) {
        const int m = 6 * r + j;
        const int k = kScPerRb * p.rbIdx[r] + dmrsSc[j];
        layerGrid[0][l][k] = d[m];
        if (link.layers == 2)
          layerGrid[1][l][k] = (m & 1) ? nrCpxPack(-nrCpxRe(d[m]), -nrCpxIm(d[m])) : d[m];
      }
  }

  // OFDM per layer (float stream), then the channel, rounded once to int16.
  static std::vector<Cpx> layerWave[2];
  for (int v = 0; v < link.layers; v++) {
    std::memcpy(gnrNbTxBuf.nbTxGrid, layerGrid[v], sizeof(layerGrid[v]));
    nrOfdmMod(&cfg, &gnrNbTxBuf);
    layerWave[v].resize(kSlotSampleCap);
    for (int i = 0; i < kSlotSampleCap; i++)
      layerWave[v][i] = Cpx(gnrNbTxBuf.nbTxSampleF[i].re, gnrNbTxBuf.nbTxSampleF[i].im);
  }
  captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
  for (int a = 0; a < link.rxAnt; a++)
    for (int i = 0; i < kSlotSampleCap; i++) {
      Cpx y = 0;
      for (int v = 0; v < link.layers; v++) y += link.H[a][v] * layerWave[v][i];
      ueRxSample[a][0][i] = static_cast<int16_t>(std::lround(y.real()));
      ueRxSample[a][1][i] = static_cast<int16_t>(std::lround(y.imag()));
    }
  gnrDchMwItf.cellCfg.antPortN = static_cast<uint8_t>(link.rxAnt);
}

bool receive(std::string* out = nullptr) {
  bool ok = false;
  const std::string text = captureStdout([&] {
    ok = nrUeDchRxProc(ueRxSample, &gnrDchMwItf, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                       static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), gnrCchMwItf.slotIdx);
  });
  if (out) *out = text;
  return ok;
}

// Every soft bit has the sign of its transmitted (bipolar) bit.
void expectSignsMatch(const Link& link) {
  ASSERT_EQ(gnrDchMwItf.codedBitN, link.bits.size());
  for (size_t i = 0; i < link.bits.size(); i++)
    ASSERT_EQ(ueLlrBuf[i] > 0 ? 1 : -1, link.bits[i]) << "soft bit " << i << " = " << ueLlrBuf[i];
}

}  // namespace

// The default slot received without channel: G = 12 RBs x (5 x 12 - 2 x 6) REs x 6 bits = 3456,
// every soft bit with the sign of the transmitted scrambled bit, and the valid verdict.
TEST(DchRx, DefaultSlotLoopsBackBitExactSigns) {
  ScopedTempDir dir;
  nrGenDefaultSlotCfg();
  Link link;
  transmit(link);
  std::string out;
  EXPECT_TRUE(receive(&out));
  EXPECT_EQ(out, "==>DCH process done! output LLR>>>\n");
  EXPECT_EQ(gnrDchMwItf.codedBitN, 3456u);
  EXPECT_EQ(gnrDchMwItf.dataValid, 1);
  EXPECT_EQ(gnrDchMwItf.rxDone, 1);
  expectSignsMatch(link);
  // Cumulative data REs: 144 per full symbol, 72 on the DMRS symbols 9 and 10.
  const uint16_t want[14] = {0, 0, 0, 0, 0, 0, 0, 0, 144, 216, 288, 432, 576, 576};
  for (int l = 0; l < 14; l++) EXPECT_EQ(gnrDchMwItf.dataRePerSym[l], want[l]) << l;
}

// The cumulative counts are rewritten for all 14 symbols: after a slot whose PDSCH started at
// symbol 2, a slot starting at symbol 8 takes its first entries from index 0.
TEST(DchRx, EarlierSlotLeavesNoCountsBehind) {
  ScopedTempDir dir;
  nrGenDefaultSlotCfg();
  NrPdschCfg& p = gnrNbConfig.pdschCfg[0];
  const uint16_t ownSymbols = p.symBitmap;
  ASSERT_EQ(ownSymbols & 0xFF, 0);
  p.symBitmap = 0x3FFC;
  Link early;
  transmit(early, 3);
  EXPECT_TRUE(receive());
  expectSignsMatch(early);
  ASSERT_GT(gnrDchMwItf.dataRePerSym[7], 0);
  p.symBitmap = ownSymbols;
  Link link;
  transmit(link, 4);
  EXPECT_TRUE(receive());
  expectSignsMatch(link);
  for (int l = 0; l < 8; l++) EXPECT_EQ(gnrDchMwItf.dataRePerSym[l], 0) << l;
}

// Orders, layers, antennas, channels and CDM groups: the signs survive every combination.
TEST(DchRx, LoopBackAcrossOrdersLayersAndAntennas) {
  ScopedTempDir dir;
  const struct {
    const char* what;
    uint32_t Qm;
    int layers, rxAnt, cdm;
    Cpx H[2][2];
  } cases[] = {
      {"QPSK, 2 rx", 2, 1, 2, 1, {{std::polar(0.7, 1.0), 0.0}, {std::polar(1.2, -2.0), 0.0}}},
      {"16QAM, 2 layers",
       4,
       2,
       2,
       1,
       {{std::polar(0.9, 0.2), std::polar(0.4, 1.1)},
        {std::polar(0.3, -0.7), std::polar(1.1, 2.5)}}},
      {"256QAM, 2 layers, identity", 8, 2, 2, 1, {{1.0, 0.0}, {0.0, 1.0}}},
      {"64QAM, no data beside DMRS", 6, 1, 1, 2, {{std::polar(1.5, 0.5), 0.0}, {0.0, 0.0}}},
      {"256QAM, one antenna", 8, 1, 1, 1, {{1.0, 0.0}, {0.0, 0.0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::memset(&gnrNbConfig, 0, sizeof(gnrNbConfig));
    std::memset(&gnrCchMwItf, 0, sizeof(gnrCchMwItf));
    nrGenDefaultSlotCfg();
    NrPdschCfg& p = gnrNbConfig.pdschCfg[0];
    p.Qm = c.Qm;
    p.layerN = static_cast<uint8_t>(c.layers);
    p.cdmGrpNoData = static_cast<uint8_t>(c.cdm);
    Link link;
    link.layers = c.layers;
    link.rxAnt = c.rxAnt;
    std::memcpy(link.H, c.H, sizeof(link.H));
    transmit(link, 7);
    EXPECT_TRUE(receive());
    expectSignsMatch(link);
    EXPECT_EQ(gnrDchMwItf.codedBitN, 12u * (3 * 12 + 2 * (c.cdm >= 2 ? 0 : 6)) * c.Qm * c.layers);
  }
}

// The receiver's buffers after a slot are those of a receiver that starts from cleared buffers:
// a default slot after a larger one (more symbols, two layers, 256QAM) leaves the RE buffers and
// the soft bits byte for byte as in a fresh process, and a slot rejected after its REs were
// extracted leaves no soft bit behind.
TEST(DchRx, LargerEarlierSlotLeavesNothingInTheBuffers) {
  ScopedTempDir dir;
  const auto bytes = [](const auto& buf) {
    std::vector<char> v(sizeof(buf));
    std::memcpy(v.data(), &buf, sizeof(buf));
    return v;
  };
  nrGenDefaultSlotCfg();
  Link link;
  transmit(link);
  EXPECT_TRUE(receive());
  const std::vector<char> llr = bytes(ueLlrBuf), data = bytes(gnrUeDchDataRe),
                          dmrs = bytes(gnrUeDchDmrsRe);

  NrPdschCfg& p = gnrNbConfig.pdschCfg[0];
  const NrPdschCfg own = p;
  p.symBitmap = 0x3FFC;
  p.Qm = 8;
  p.layerN = 2;
  Link large;
  large.layers = 2;
  large.rxAnt = 2;
  transmit(large, 5);
  EXPECT_TRUE(receive());
  expectSignsMatch(large);
  ASSERT_GT(gnrDchMwItf.codedBitN, 4 * 3456u);

  p = own;
  transmit(link);
  EXPECT_TRUE(receive());
  EXPECT_TRUE(bytes(ueLlrBuf) == llr);
  EXPECT_TRUE(bytes(gnrUeDchDataRe) == data);
  EXPECT_TRUE(bytes(gnrUeDchDmrsRe) == dmrs);

  // Explicit DMRS on all 12 subcarriers of 170 RBs: too many DMRS REs, found after extraction.
  gnrDchMwItf.pdschCfg.dmrsPosExplicit = 1;
  gnrDchMwItf.pdschCfg.dchDmrsRePos = 0x0FFF;
  gnrDchMwItf.pdschCfg.dchDmrsOsPos = 1 << 9;
  gnrDchMwItf.pdschCfg.dmrsAddPosN = 0;
  for (int rb = 0; rb < 170; rb++) gnrDchMwItf.cellCfg.rbMap[9][rb] = kRbPdsch;
  captureConsole([] { EXPECT_FALSE(nrUeDchRxProc(ueRxSample, &gnrDchMwItf, 170, 170, 7)); });
  EXPECT_TRUE(
      std::all_of(std::begin(ueLlrBuf), std::end(ueLlrBuf), [](int16_t v) { return v == 0; }));
}

// Rate-matching masks: a fully masked RB emits nothing but keeps the later RBs aligned; partial
// masks drop exactly their REs, on DMRS symbols counted over the data REs only.
TEST(DchRx, RateMatchingMasksDropTheirREs) {
  ScopedTempDir dir;
  nrGenDefaultSlotCfg();
  std::memset(gnrDchMwItf.rmMap, 0, sizeof(gnrDchMwItf.rmMap));
  gnrDchMwItf.rmMap[8][3] = 0x0FFF;
  gnrDchMwItf.rmMap[11][0] = 0x0A05;
  gnrDchMwItf.rmMap[9][5] = 0x00A2;  // REs 1, 5, 7 of a DMRS symbol
  Link link;
  transmit(link);
  EXPECT_TRUE(receive());
  expectSignsMatch(link);
  EXPECT_EQ(gnrDchMwItf.codedBitN, (576u - 12 - 4 - 3) * 6);
}

// A DMRS symbol without data beside the DMRS (two CDM groups without data) has no entries of its
// own: a mask there must not emit the entries of the following symbol.
TEST(DchRx, MaskOnADmrsSymbolWithoutDataEmitsNothing) {
  ScopedTempDir dir;
  nrGenDefaultSlotCfg();
  gnrNbConfig.pdschCfg[0].cdmGrpNoData = 2;
  std::memset(gnrDchMwItf.rmMap, 0, sizeof(gnrDchMwItf.rmMap));
  gnrDchMwItf.rmMap[9][0] = 0x0002;
  gnrDchMwItf.rmMap[10][4] = 0x0FF0;
  Link link;
  transmit(link);
  EXPECT_TRUE(receive());
  EXPECT_EQ(gnrDchMwItf.codedBitN, 12u * 36 * 6);
  expectSignsMatch(link);
}

// One receive antenna: antenna 1 of the grid is a copy of antenna 0, the FFT equals a fresh
// FFTW_ESTIMATE transform of the same samples, and the one-layer output is the antenna-0 value.
TEST(DchRx, GridMatchesAFreshTransformAndCopiesTheSingleAntenna) {
  ScopedTempDir dir;
  nrGenDefaultSlotCfg();
  Link link;
  transmit(link);
  receive();
  const int n = 2048;
  fftw_complex* in = fftw_alloc_complex(n);
  fftw_complex* out = fftw_alloc_complex(n);
  fftw_plan plan = fftw_plan_dft_1d(n, in, out, FFTW_FORWARD, FFTW_ESTIMATE);
  int offset = 0;
  for (int l = 0; l < 8; l++) offset += gnrDchMwItf.cellCfg.cpLen[l] + n;
  for (int l = 8; l <= 12; l++) {
    offset += gnrDchMwItf.cellCfg.cpLen[l];
    for (int i = 0; i < n; i++) {
      in[i][0] = ueRxSample[0][0][offset + i];
      in[i][1] = ueRxSample[0][1][offset + i];
    }
    fftw_execute(plan);
    for (int i = 0; i < n; i++) {
      const int bin = (i + n / 2) % n;  // after the half swap
      const int32_t want = nrCpxPack(static_cast<int16_t>(out[bin][0] / std::sqrt(2048.0)),
                                     static_cast<int16_t>(out[bin][1] / std::sqrt(2048.0)));
      ASSERT_EQ(gnrUeRxGrid[l][0][i], want) << l << " " << i;
      ASSERT_EQ(gnrUeRxGrid[l][1][i], gnrUeRxGrid[l][0][i]) << l << " " << i;
    }
    offset += n;
  }
  fftw_destroy_plan(plan);
  fftw_free(in);
  fftw_free(out);
  // Both antenna slots equalise the same values: the one-layer average is the antenna-0 value.
  ASSERT_EQ(gnrDchMwItf.codedBitN, 576u * 6);
  for (int e = 0; e < 576; e++) {
    ASSERT_EQ(gnrUeDchDataRe[e].ant[1], gnrUeDchDataRe[e].ant[0]) << e;
    ASSERT_EQ(gnrUeDchDemapIn[e], gnrUeDchDataRe[e].ant[0]) << e;
  }
}

// The debug files hold one value per line: data REs before and after equalisation, the combined
// single-layer values and the soft bits.
TEST(DchRx, WritesTheDebugFiles) {
  ScopedTempDir dir;
  // Longer files of an earlier run are replaced, not partly overwritten.
  for (const char* f : {"debugRe0.txt", "debugRe.txt", "dchSoftbit.txt"})
    writeWholeFile(f, std::string(100000, '7') + "\n");
  nrGenDefaultSlotCfg();
  Link link;
  transmit(link);
  receive();
  auto lines = [](const char* name) {
    const std::string s = readWholeFile(name);
    return static_cast<size_t>(std::count(s.begin(), s.end(), '\n'));
  };
  for (const char* f : {"debugRe0.txt", "debugIm0.txt", "debugRe.txt", "debugIm.txt",
                        "debugdchEQRe.txt", "debugdchEQIm.txt"})
    EXPECT_EQ(lines(f), 576u) << f;
  EXPECT_EQ(lines("dchSoftbit.txt"), 3456u);
  const std::string soft = readWholeFile("dchSoftbit.txt");
  EXPECT_EQ(soft.substr(0, soft.find('\n')), std::to_string(ueLlrBuf[0]));
  const std::string eq = readWholeFile("debugdchEQRe.txt");
  EXPECT_EQ(eq.substr(0, eq.find('\n')), std::to_string(nrCpxRe(gnrUeDchDemapIn[0])));
}

// Silence: every estimate is zero, the demapper finds only unreliable soft bits.
TEST(DchRx, AllZeroWaveformIsInvalid) {
  ScopedTempDir dir;
  nrGenDefaultSlotCfg();
  captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
  std::string out;
  EXPECT_FALSE(receive(&out));
  EXPECT_EQ(out, "==>no valid data input!!!!\n");
  EXPECT_EQ(gnrDchMwItf.dataValid, 0);
  EXPECT_EQ(gnrDchMwItf.rxDone, 1);
}

// No data RE at all (0 / 0 in the validity ratio) is judged invalid.
TEST(DchRx, SlotWithoutDataIsInvalid) {
  ScopedTempDir dir;
  nrGenDefaultSlotCfg();
  gnrNbConfig.pdschCfg[0].symBitmap = 0;
  captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
  std::string out;
  EXPECT_FALSE(receive(&out));
  EXPECT_EQ(out, "==>no valid data input!!!!\n");
  EXPECT_EQ(gnrDchMwItf.codedBitN, 0u);
  EXPECT_EQ(gnrDchMwItf.dataValid, 0);
}

// The validity ratio is a single-precision quotient compared with 0.8: exactly four unreliable
// symbols in five data REs round to 0.800000012, which exceeds 0.8. Silence in QPSK makes every
// emitted RE unreliable; 10 RBs give 480 extracted data REs and fully masked RBs set how many of
// them reach the demapper.
TEST(DchRx, ValidityRatioOfExactlyFourFifthsIsInvalid) {
  ScopedTempDir dir;
  const struct {
    int maskedRe;
    bool valid;
  } cases[] = {{96 + 1, true}, {96, false}, {96 - 1, false}};
  for (const auto& c : cases) {
    nrGenDefaultSlotCfg();
    captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
    NrDchMwItf& d = gnrDchMwItf;
    d.pdschCfg.Qm = 2;
    d.pdschCfg.rbN = 10;
    int pdschRbs = 0;
    for (int r = 0; r < kMaxRb; r++) {
      if (d.cellCfg.rbMap[8][r] != kRbPdsch) continue;
      if (++pdschRbs > 10)
        for (int l = 0; l < kSymbolsPerSlot; l++) d.cellCfg.rbMap[l][r] = 0;
    }
    ASSERT_EQ(pdschRbs, 12);
    std::memset(d.rmMap, 0, sizeof(d.rmMap));
    // Symbol 8 carries 12 data REs per RB: whole RBs, then single REs of the next RB.
    for (int n = 0, r = 0; n < c.maskedRe; r++) {
      const int k = std::min(12, c.maskedRe - n);
      d.rmMap[8][r] = static_cast<uint16_t>((1u << k) - 1);
      n += k;
    }
    std::string out;
    EXPECT_EQ(receive(&out), c.valid) << c.maskedRe;
    const uint32_t emitted = 480u - c.maskedRe;
    EXPECT_EQ(d.codedBitN, 2 * emitted);
    EXPECT_EQ(gnrWeakLlrCnt, emitted);
    EXPECT_EQ(d.dataValid, c.valid ? 1 : 0);
    EXPECT_EQ(out,
              c.valid ? "==>DCH process done! output LLR>>>\n" : "==>no valid data input!!!!\n");
  }
}

// Configurations beyond the receiver's capacities are refused before any buffer is touched.
TEST(DchRx, RejectsSlotsBeyondItsCapacities) {
  ScopedTempDir dir;
  const struct {
    const char* message;
    std::function<void(NrDchMwItf&, int16_t&, int16_t&)> set;
  } cases[] = {
      {"FFT size 4096", [](NrDchMwItf& d, int16_t&, int16_t&) { d.cellCfg.fftSize = 4096; }},
      {"FFT size 1000", [](NrDchMwItf& d, int16_t&, int16_t&) { d.cellCfg.fftSize = 1000; }},
      {"3 receive antennas", [](NrDchMwItf& d, int16_t&, int16_t&) { d.cellCfg.antPortN = 3; }},
      {"exceeds the 30720-sample buffer",
       [](NrDchMwItf& d, int16_t&, int16_t&) { d.cellCfg.cpLen[3] = 2000; }},
      {"3 layers", [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.layerN = 3; }},
      {"modulation order 5", [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.Qm = 5; }},
      {"DMRS type 3", [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.dmrsType = 3; }},
      {"DMRS ports 1008",
       [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.dmrsPorts[0] = 1008; }},
      {"DMRS ports 1000, 1002 of 2 layers",
       [](NrDchMwItf& d, int16_t&, int16_t&) {
         d.cellCfg.antPortN = 2;
         d.pdschCfg.layerN = 2;
         d.pdschCfg.dmrsPorts[1] = 1002;
       }},
      {"two layers need two receive antennas",
       [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.layerN = 2; }},
      {"281 PDSCH RBs", [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.rbN = 281; }},
      {"PDSCH RB 280", [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.rbIdx[3] = 280; }},
      {"281 grid RBs", [](NrDchMwItf&, int16_t&, int16_t& grid) { grid = 281; }},
      {"DMRS symbol 14", [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.dmrsFirstSym = 14; }},
      {"4 additional positions",
       [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.dmrsAddPosN = 4; }},
      {"1 additional positions",
       [](NrDchMwItf& d, int16_t&, int16_t&) { d.pdschCfg.dmrsAddPos[0] = 20; }},
      {"outside the 2048-point FFT",
       [](NrDchMwItf& d, int16_t& carrier, int16_t&) {
         // 175 RBs put carrier subcarrier 0 at bin -26: RB 0 does not fit.
         carrier = 175;
         d.cellCfg.rbMap[8][0] = kRbPdsch;
       }},
      {"exceed 1680 per symbol",
       [](NrDchMwItf& d, int16_t& carrier, int16_t& grid) {
         // Explicit DMRS on all 12 subcarriers of 170 RBs: 2040 DMRS REs in one symbol.
         carrier = grid = 170;
         d.pdschCfg.dmrsPosExplicit = 1;
         d.pdschCfg.dchDmrsRePos = 0x0FFF;
         d.pdschCfg.dchDmrsOsPos = 1 << 9;
         d.pdschCfg.dmrsAddPosN = 0;
         for (int rb = 0; rb < 170; rb++) d.cellCfg.rbMap[9][rb] = kRbPdsch;
       }},
      {"more than 57344 demapper inputs",
       [](NrDchMwItf& d, int16_t& carrier, int16_t& grid) {
         // Two layers, 280 RBs in every symbol described by rbN although the grid holds 170.
         carrier = grid = 170;
         d.cellCfg.antPortN = 2;
         d.pdschCfg.layerN = 2;
         d.pdschCfg.symBitmap = 0x3FFF;
         d.pdschCfg.rbN = 280;
         for (int r = 0; r < 280; r++) d.pdschCfg.rbIdx[r] = static_cast<uint16_t>(r);
         for (int l = 0; l < 14; l++)
           for (int rb = 0; rb < 170; rb++) d.cellCfg.rbMap[l][rb] = kRbPdsch;
       }},
  };
  for (const auto& c : cases) {
    nrGenDefaultSlotCfg();
    captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
    int16_t carrierNrb = 106, gridNrb = 96;
    c.set(gnrDchMwItf, carrierNrb, gridNrb);
    gnrDchMwItf.dataValid = 1;
    gnrDchMwItf.codedBitN = 99;
    bool ok = true;
    const ConsoleText out = captureConsole(
        [&] { ok = nrUeDchRxProc(ueRxSample, &gnrDchMwItf, carrierNrb, gridNrb, 7); });
    EXPECT_FALSE(ok) << c.message;
    EXPECT_NE(out.err.find(c.message), std::string::npos) << c.message << ": " << out.err;
    EXPECT_NE(out.out.find("==>no valid data input!!!!\n"), std::string::npos) << c.message;
    EXPECT_EQ(out.err.find("no valid data"), std::string::npos) << c.message;
    EXPECT_EQ(gnrDchMwItf.dataValid, 0) << c.message;
    EXPECT_EQ(gnrDchMwItf.codedBitN, 0u) << c.message;
  }
}

// The transmit action's slot read back from "nrNbTxData.dat": the soft bits carry the signs of
// the encoded, scrambled transport block and G = 3456 coded bits.
TEST(DchRx, TransmitActionSlotLoopsBack) {
  ScopedTempDir dir;
  captureStdout([] { gNbTx(); });
  nrSampleFileRead(ueFileSample, kSlotSampleCap, "nrNbTxData.dat");
  captureStdout([] { nrUeSetupFromNb(ueFileSample, 0); });
  std::string out;
  EXPECT_TRUE(receive(&out));
  EXPECT_EQ(out, "==>DCH process done! output LLR>>>\n");
  EXPECT_EQ(gnrDchMwItf.dataValid, 1);

  // The transmitter's coded bits: 48 data REs per RB (5 symbols, two with DMRS) of 12 RBs.
  const NrPdschCfg& p = gnrNbConfig.pdschCfg[0];
  std::vector<int32_t> bits(4096);
  int64_t n = 0;
  captureStdout([&] {
    n = nrDlschEncode(p.mcs, p.layerN, 48, p.rbN, bits.data(), p.rvIdx,
                      static_cast<int64_t>(bits.size()));
  });
  ASSERT_EQ(n, 3456);
  EXPECT_EQ(gnrDchMwItf.codedBitN, 3456u);
  for (int64_t i = 0; i < n; i++) bits[i] = 1 - 2 * bits[i];
  const double cInit = p.rnti * 32768.0 + gnrNbConfig.cellCfg.nId;
  nrScrambleInt(bits.data(), bits.data(), static_cast<int32_t>(n),
                static_cast<int32_t>(static_cast<uint32_t>(cInit)));
  for (int64_t i = 0; i < n; i++)
    ASSERT_EQ(ueLlrBuf[i] > 0 ? 1 : -1, bits[i]) << "soft bit " << i << " = " << ueLlrBuf[i];
}

// Samples at the int16 limit mean the input clipped on its way: said once per slot, on the error
// stream, with the count of values at +-32767 or -32768 (at every instruction-set level); a
// waveform below full scale says nothing.
TEST(DchRx, ClippedInputIsWarnedOncePerSlot) {
  ScopedTempDir dir;
  captureConsole([] { gNbTx(); });
  for (uint8_t cap : {kNrCpuBaseline, kNrCpuAvx2, kNrCpuAvx512}) {
    if (nrCpuSetLevelCap(cap) != cap) continue;
    for (int i = 0; i < kSlotSampleCap; i++) ueFileSample[i] = gnrNbTxBuf.nbTxSample[i];
    ueFileSample[20000] = nrCpxPack(32767, -32767);
    ueFileSample[25000] = nrCpxPack(-32768, 5);
    ueFileSample[1] = nrCpxPack(-32766, 32766);
    ueFileSample[30719] = nrCpxPack(3, 32767);  // the slot's last sample
    captureConsole([] { nrUeSetupFromNb(ueFileSample, 0); });
    const auto run = [] {
      return captureConsole([] {
               nrUeDchRxProc(ueRxSample, &gnrDchMwItf,
                             static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                             static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), gnrCchMwItf.slotIdx);
             })
          .err;
    };
    std::string err = run();
    EXPECT_NE(err.find("nrUeDchRxProc: 4 received sample values at the int16 limit"),
              std::string::npos)
        << "level " << int{cap} << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;

    ueFileSample[20000] = nrCpxPack(32766, -32766);
    ueFileSample[25000] = nrCpxPack(0, 5);
    ueFileSample[30719] = nrCpxPack(3, 5);
    captureConsole([] { nrUeSetupFromNb(ueFileSample, 0); });
    EXPECT_EQ(run(), "") << "level " << int{cap};
  }
  nrCpuSetLevelCap(0xFF);
}
