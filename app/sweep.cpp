#include "app/sweep.h"

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/slot_setup.h"
#include "config/console.h"
#include "config/mcs_table.h"
#include "config/nr_config.h"
#include "config/slot_config_gen.h"
#include "config/ue_setup.h"
#include "phy/coding/crc.h"
#include "phy/coding/dlsch_harq.h"
#include "phy/coding/ldpc_params.h"
#include "phy/common/sequence.h"
#include "phy/ofdm/ofdm_modulate.h"
#include "phy/rx/pdsch_rx.h"
#include "phy/tx/pdsch_tx.h"

const char kSweepCsvHeader[] =
    "snr_db,slots,tb_errors,bler,bler_ci95_low,bler_ci95_high,cb_error_rate,throughput_mbps,"
    "throughput_fraction,mean_ldpc_iterations,mean_transmissions";

namespace {

// Keys that keep the fading and the noise streams of a slot apart.
constexpr uint64_t kFadingKey = 0xFADE;
constexpr uint64_t kNoiseKey = 0x401CE;
constexpr double kMilliDb = 1000.0;
constexpr int kMaxTbBits = kMaxCodeBlocks * 8448 + 24;

// The waveform of every redundancy version and port, the sent transport block with its CRC.
NrCpxFloat32 txWave[4][kMaxLayers][kSlotSampleCap];
int32_t sentTb[kMaxTbBits];
int32_t gotTb[kMaxTbBits];
int32_t sentTbN = 0;
int32_t zeroSamples[kSlotSampleCap];

struct Setup {
  int ports;
  int sampleN;
  double noiseFreeEs;
  NrSweepSlotInfo info;
} setup;

// The energy per PDSCH data RE of entry 0, summed over the ports (time-sample units: the grid is
// Q10 and the modulator's gain txPowGain/1024, the DFT unitary).
double dataReEnergy(const NrNbConfig* cfg, NrNbTxBuf* const* bufs, int ports, uint32_t* reN) {
  const NrPdschCfg& d = cfg->pdschCfg[0];
  NrPdschLayout lay;
  nrPdschLayout(&d, &lay);
  const double gain = cfg->carrierCfg.txPowGain / 1024.0;
  double sum = 0.0;
  uint32_t n = 0;
  for (int l = lay.startSym; l <= lay.lastSym; l++) {
    const bool dmrsSym = lay.dchDmrsSym[l] != 0;
    if (dmrsSym && lay.dmrsNoData) continue;
    for (int r = 0; r < d.rbN; r++)
      for (int k = 0; k < kScPerRb; k++) {
        if (dmrsSym && lay.dchNoDataSc[k]) continue;
        const int sc = kScPerRb * d.rbIdx[r] + k;
        for (int p = 0; p < ports; p++) {
          const int32_t x = bufs[p]->nbTxGrid[l][sc];
          sum += gain * gain * (double(nrCpxRe(x)) * nrCpxRe(x) + double(nrCpxIm(x)) * nrCpxIm(x));
        }
        n++;
      }
  }
  *reN = n;
  return n ? sum / n : 0.0;
}

// Runs the transmit chain in a scratch directory: its transport-block dump is not the sweep's.
bool transmitAll(NrNbConfig* cfg) {
  char scratch[] = "/tmp/veltra_sweep_XXXXXX";
  const int home = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (home < 0 || !mkdtemp(scratch) || chdir(scratch) != 0) {
    nrDiag("veltra sweep: no scratch directory for the transmitter: %s\n", std::strerror(errno));
    if (home >= 0) close(home);
    return false;
  }
  bool ok = true;
  NrNbTxBuf* bufs[2] = {&gnrNbTxBuf, &gnrNbTxBuf1};
  NrPdschCfg& d = cfg->pdschCfg[0];
  for (int rv = 3; rv >= 0 && ok; rv--) {  // rv 0 last: its grid gives the energy below
    d.rvIdx = static_cast<uint8_t>(rv);
    for (int p = 0; p < 2; p++) std::memset(bufs[p]->nbTxGrid, 0, sizeof(bufs[p]->nbTxGrid));
    ok = nrPdschTx(cfg, bufs[0], setup.ports == 2 ? bufs[1] : nullptr);
    for (int p = 0; p < setup.ports && ok; p++) {
      ok = nrOfdmMod(cfg, bufs[p]);
      std::memcpy(txWave[rv][p], bufs[p]->nbTxSampleF, sizeof(NrCpxFloat32) * setup.sampleN);
    }
  }
  d.rvIdx = 0;
  unlink("EncCrcBuff.txt");
  if (fchdir(home) != 0) ok = false;
  close(home);
  rmdir(scratch);
  if (!ok) nrDiag("veltra sweep: the slot could not be sent\n");
  return ok;
}

// The transport block as sent: the PN9 payload restarted per block, then its CRC (TS 38.212 7.2.1).
void rebuildSentTb(uint32_t A) {
  nrPnSeqInit(9);
  nrPnSeqGen(9, sentTb, A);
  const uint8_t type = A <= 3824 ? kCrc16 : kCrc24A;
  const int len = A <= 3824 ? kCrc16Len : kCrc24Len;
  const uint32_t crc = nrCrcCalc(sentTb, type, static_cast<int32_t>(A));
  for (int i = 0; i < len; i++) sentTb[A + i] = static_cast<int32_t>((crc >> i) & 1);
  sentTbN = static_cast<int32_t>(A) + len;
}

}  // namespace

void nrSweepTallyAdd(NrSweepTally* sum, const NrSweepTally& t) {
  sum->slots += t.slots;
  sum->tbErrors += t.tbErrors;
  sum->cbErrors += t.cbErrors;
  sum->cbTotal += t.cbTotal;
  sum->deliveredBits += t.deliveredBits;
  sum->transmissions += t.transmissions;
  sum->ldpcRuns += t.ldpcRuns;
  sum->ldpcIters += t.ldpcIters;
}

bool nrSweepPrepare(const NrSweepCfg* cfg, NrSweepSlotInfo* info) {
  if (!nrSlotSetup(cfg->slotFile.empty() ? nullptr : cfg->slotFile.c_str(), false, 0)) return false;
  nrGenDefaultSlotCfgIfNeeded(&gnrNbConfig);
  NrNbConfig* nb = &gnrNbConfig;
  NrPdschCfg& d = nb->pdschCfg[0];
  const uint8_t table = d.mcsTable == kMcsTableQam64 ? kMcsTableQam64 : kMcsTableQam256;
  if (cfg->mcs >= 0) {
    if (static_cast<uint32_t>(cfg->mcs) > nrMcsLastIndex(table)) {
      nrDiag("veltra sweep: --mcs %d: MCS table %d ends at %u\n", cfg->mcs, table,
             nrMcsLastIndex(table));
      return false;
    }
    d.mcs = static_cast<uint16_t>(cfg->mcs);
    d.Qm = nrMcsQm(table, d.mcs);
    d.codeRate = static_cast<uint16_t>(2.0f * nrMcsRateX1024(table, d.mcs));
  }
  NrSlotDerived x{};
  if (const char* why = nrSlotDerive(nb, 0, &x)) {
    nrDiag("veltra sweep: PDSCH 0 at MCS %u cannot be sent: %s\n", d.mcs, why);
    return false;
  }
  setup.ports = nrSlotAntennaPorts(nb);
  // The channel's parameters are checked once here, not per slot.
  NrChRng probeRng;
  nrChRngSeed(&probeRng, cfg->seed);
  static NrChannelState probe;
  if (!nrChannelInit(&probe, &cfg->channel, nb->cellCfg.fftSize * 15000.0, setup.ports, setup.ports,
                     &probeRng))
    return false;
  setup.sampleN = 15 * nb->cellCfg.fftSize;
  if (setup.sampleN > kSlotSampleCap) setup.sampleN = kSlotSampleCap;
  if (!transmitAll(nb)) return false;

  NrNbTxBuf* bufs[2] = {&gnrNbTxBuf, &gnrNbTxBuf1};
  NrSweepSlotInfo& s = setup.info;
  s = NrSweepSlotInfo{};
  s.es = dataReEnergy(nb, bufs, setup.ports, &s.dataRe);
  s.tbs = d.tbSize;
  s.codeBlocks = x.codeBlocks;
  s.qm = x.qm;
  s.layers = d.layerN;
  s.rate = x.rateX1024 / 1024.0;
  s.bitsPerRe = s.dataRe ? static_cast<double>(s.tbs) / s.dataRe : 0.0;
  // L layers over the identity channel: log2(1 + SNR / L) bits per layer and RE.
  s.shannonDb = 10.0 * std::log10(s.layers * (std::pow(2.0, s.bitsPerRe / s.layers) - 1.0));
  s.sampleRate = nb->cellCfg.fftSize * 15000.0;
  s.mcs = d.mcs;
  s.mcsTable = table;
  if (s.es <= 0.0 || s.tbs == 0) {
    nrDiag("veltra sweep: the slot carries no PDSCH data\n");
    return false;
  }
  rebuildSentTb(s.tbs);

  // The UE knows the cell from the gNB's record; the samples come from the channel per slot.
  std::memset(zeroSamples, 0, sizeof(zeroSamples));
  for (int a = 0; a < setup.ports; a++) nrUeSetupFromNb(zeroSamples, static_cast<uint8_t>(a));
  *info = s;
  return true;
}

uint64_t nrSweepSlotDigest() {
  uint64_t h = kFnv64Offset;
  for (int rv = 0; rv < 4; rv++)
    for (int p = 0; p < setup.ports; p++)
      h = nrFnv1a64(txWave[rv][p], sizeof(NrCpxFloat32) * setup.sampleN, h);
  h = nrFnv1a64(sentTb, sizeof(int32_t) * sentTbN, h);
  const NrSweepSlotInfo& s = setup.info;
  const uint32_t figures[] = {s.tbs,
                              s.codeBlocks,
                              s.qm,
                              s.layers,
                              s.dataRe,
                              static_cast<uint32_t>(s.mcs),
                              s.mcsTable,
                              static_cast<uint32_t>(setup.ports),
                              static_cast<uint32_t>(setup.sampleN)};
  h = nrFnv1a64(figures, sizeof(figures), h);
  const double values[] = {s.rate, s.es, s.sampleRate};
  return nrFnv1a64(values, sizeof(values), h);
}

void nrSweepRunSlots(const NrSweepCfg* cfg, double snrDb, uint64_t first, uint64_t count,
                     NrSweepTally* t) {
  *t = NrSweepTally{};
  NrDchMwItf* dch = &gnrDchMwItf;
  const NrSweepSlotInfo& info = setup.info;
  NrDchRxOpts opts;
  opts.dumps = false;
  opts.noiseAware = cfg->receiver != NrRxVariant::kFixedNoise;
  opts.mmse = cfg->receiver == NrRxVariant::kNoiseAwareMmse;
  const double noiseVar = nrChannelNoiseVar(info.es, snrDb);
  const uint64_t snrKey = static_cast<uint64_t>(std::llround(snrDb * kMilliDb));
  const uint32_t cInit = nrPdschDataCinit(dch->rnti, dch->cellCfg.nId);
  const int harqMax =
      cfg->harqMax < 1 ? 1 : (cfg->harqMax > kHarqMaxTx ? kHarqMaxTx : cfg->harqMax);
  static NrChannelState ch;

  for (uint64_t slot = first; slot < first + count; slot++) {
    NrChRng fading, noise;
    nrChRngSeed(&fading, cfg->seed, kFadingKey, slot);
    nrChRngSeed(&noise, cfg->seed, kNoiseKey, snrKey, slot);
    if (!nrChannelInit(&ch, &cfg->channel, info.sampleRate, setup.ports, setup.ports, &fading))
      return;
    nrDlschHarqReset();
    uint8_t pass = 0;
    NrHarqStats st{};
    for (int tx = 0; tx < harqMax && !pass; tx++) {
      const uint8_t rv = kHarqRvOrder[tx];
      const NrCpxFloat32* wave[kMaxLayers] = {txWave[rv][0], txWave[rv][1]};
      nrChannelRun(&ch, wave, setup.sampleN, tx * kHarqRoundTripS, noiseVar, &noise, ueRxSample);
      nrUeDchRxProc(ueRxSample, dch, static_cast<int16_t>(gnrUeConfig.carrierCfg.nrb),
                    static_cast<int16_t>(gnrUeConfig.bwpCfg.nrb), gnrCchMwItf.slotIdx, &opts);
      t->transmissions++;
      if (!dch->dataValid || dch->codedBitN == 0) continue;
      pass = nrDlschHarqDecode(dch->tbSize, dch->codedBitN, static_cast<int32_t>(cInit),
                               dch->pdschCfg.Qm, rv, ueLlrBuf, dch->pdschCfg.layerN,
                               dch->pdschCfg.codeRate, &st);
      t->ldpcRuns += st.decodes;
      t->ldpcIters += st.iterSum;
    }
    // Delivered: every code block passed and the bits are those sent (an error the CRCs miss
    // still counts as one).
    bool delivered = pass == 1;
    if (delivered) {
      const int32_t n = nrDlschHarqTbBits(gotTb, kMaxTbBits);
      delivered = n == sentTbN && std::memcmp(gotTb, sentTb, sizeof(int32_t) * n) == 0;
    }
    t->slots++;
    t->cbTotal += info.codeBlocks;
    const uint64_t failedCb =
        st.cbN > 0 ? static_cast<uint64_t>(st.cbN - st.cbPassed) : info.codeBlocks;
    t->cbErrors += pass && !delivered ? 1 : failedCb;
    t->tbErrors += delivered ? 0 : 1;
    t->deliveredBits += delivered ? info.tbs : 0;
  }
}

void nrWilson95(uint64_t errors, uint64_t n, double* lo, double* hi) {
  if (n == 0) {
    *lo = 0.0;
    *hi = 1.0;
    return;
  }
  const double z = 1.959963984540054;
  const double p = static_cast<double>(errors) / n;
  const double z2n = z * z / n;
  const double centre = (p + z2n / 2.0) / (1.0 + z2n);
  const double half = z * std::sqrt(p * (1.0 - p) / n + z2n / (4.0 * n)) / (1.0 + z2n);
  *lo = centre - half < 0.0 ? 0.0 : centre - half;
  *hi = centre + half > 1.0 ? 1.0 : centre + half;
}

std::string nrSweepCsv(const std::vector<NrSweepPoint>& points, const NrSweepSlotInfo& info) {
  std::string out = std::string(kSweepCsvHeader) + "\n";
  char line[512];
  for (const NrSweepPoint& pt : points) {
    const NrSweepTally& t = pt.tally;
    if (t.slots == 0) continue;
    double lo = 0.0, hi = 1.0;
    nrWilson95(t.tbErrors, t.slots, &lo, &hi);
    const double tx = t.transmissions ? static_cast<double>(t.transmissions) : 1.0;
    // Delivered bits per slot on the air (one transmission per 1 ms slot).
    const double mbps = static_cast<double>(t.deliveredBits) / tx / kSlotDurationS / 1e6;
    const double fraction = info.tbs ? static_cast<double>(t.deliveredBits) / (tx * info.tbs) : 0.0;
    std::snprintf(line, sizeof(line), "%.3f,%llu,%llu,%.6f,%.6f,%.6f,%.6f,%.6f,%.6f,%.3f,%.4f\n",
                  pt.snrDb, static_cast<unsigned long long>(t.slots),
                  static_cast<unsigned long long>(t.tbErrors),
                  static_cast<double>(t.tbErrors) / t.slots, lo, hi,
                  t.cbTotal ? static_cast<double>(t.cbErrors) / t.cbTotal : 0.0, mbps, fraction,
                  t.ldpcRuns ? static_cast<double>(t.ldpcIters) / t.ldpcRuns : 0.0,
                  static_cast<double>(t.transmissions) / t.slots);
    out += line;
  }
  return out;
}
