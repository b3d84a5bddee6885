// Link-level sweeps: the slot sent once per redundancy version, then for every SNR point and slot
// index a channel realisation, the receiver, HARQ soft combining and the decoder; block and code
// block errors, throughput, iterations and transmissions per point, measured by worker processes
// and written as CSV, with gnuplot plots rendered from it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "app/exit_codes.h"
#include "phy/channel/channel.h"

enum class NrRxVariant : uint8_t { kFixedNoise, kNoiseAware, kNoiseAwareMmse };

// Redundancy versions of successive transmissions (TS 38.214 5.1.2.1, the usual order).
constexpr uint8_t kHarqRvOrder[4] = {0, 2, 3, 1};
constexpr int kHarqMaxTx = 4;
// Time between transmissions of one transport block: 8 slots of 1 ms (the Doppler processes run
// on in between).
constexpr double kHarqRoundTripS = 8e-3;
constexpr double kSlotDurationS = 1e-3;  // 15 kHz subcarrier spacing
// Slots a worker measures at a time; a point stops after the first whole batch (in slot order)
// at which its block errors reach the limit.
constexpr int kSweepBatch = 10;

struct NrSweepCfg {
  std::string slotFile;  // empty: the default slot
  int mcs = -1;          // -1: the slot's own MCS
  NrChannelCfg channel;
  std::vector<double> snrDb;  // the points
  int64_t slotsPerPoint = 1000;
  int64_t maxErrors = 100;  // 0: every point runs all its slots
  int harqMax = 1;          // transmissions per transport block, 1..4
  NrRxVariant receiver = NrRxVariant::kFixedNoise;
  uint64_t seed = 1;
};

// What the sweep sends, from nrSweepPrepare.
struct NrSweepSlotInfo {
  uint32_t tbs;
  uint32_t codeBlocks;
  uint32_t qm;
  uint32_t layers;
  uint32_t dataRe;    // data REs of the allocation (per layer)
  double rate;        // target code rate
  double es;          // mean data RE energy (time-sample units)
  double bitsPerRe;   // spectral efficiency: TBS / data REs
  double shannonDb;   // SNR per RE where layers x log2(1 + SNR / layers) = bitsPerRe
  double sampleRate;  // samples per second
  int mcs;
  uint8_t mcsTable;
};

// Sums over slots.
struct NrSweepTally {
  uint64_t slots;
  uint64_t tbErrors;
  uint64_t cbErrors;
  uint64_t cbTotal;
  uint64_t deliveredBits;
  uint64_t transmissions;
  uint64_t ldpcRuns;
  uint64_t ldpcIters;
};

void nrSweepTallyAdd(NrSweepTally* sum, const NrSweepTally& t);

// Sets the slot up (slot file, MCS override), sends it once per redundancy version into the
// sweep's waveform store (the transmit chain's dump goes to a scratch directory), and sets the UE
// up. false, with a diagnostic naming the reason, when the slot cannot be swept.
bool nrSweepPrepare(const NrSweepCfg* cfg, NrSweepSlotInfo* info);

// 64-bit FNV-1a digest of n bytes, continued from h: how MPI ranks compare what they set up.
constexpr uint64_t kFnv64Offset = 0xcbf29ce484222325ull;
inline uint64_t nrFnv1a64(const void* data, std::size_t n, uint64_t h = kFnv64Offset) {
  const unsigned char* p = static_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < n; i++) h = (h ^ p[i]) * 0x100000001b3ull;
  return h;
}

// Digest of what nrSweepPrepare set up: the waveform of every redundancy version and port, the
// transport block and the slot's figures. Two processes that will measure the same slots agree on
// it; a different slot file, MCS or program gives another.
uint64_t nrSweepSlotDigest();

// Measures slots first .. first + count - 1 at snrDb into *t: each slot's channel from
// (seed, slot index), its noise from (seed, SNR, slot index), nothing else.
void nrSweepRunSlots(const NrSweepCfg* cfg, double snrDb, uint64_t first, uint64_t count,
                     NrSweepTally* t);

// One CSV row per measured point.
struct NrSweepPoint {
  double snrDb;
  NrSweepTally tally;
};

// The CSV header and rows (see nrSweepCsvHeader).
extern const char kSweepCsvHeader[];
std::string nrSweepCsv(const std::vector<NrSweepPoint>& points, const NrSweepSlotInfo& info);

// 95 % Wilson score interval of errors / n.
void nrWilson95(uint64_t errors, uint64_t n, double* lo, double* hi);

// Runs the sweep on `jobs` worker processes and fills points with every point measured (all of
// them, or those measured before an interrupt). Returns 0 on success, 1 when a worker died
// (points then unusable) or the run was interrupted (points hold what was measured). Progress
// goes to standard error when it is a terminal.
int nrSweepRun(const NrSweepCfg* cfg, int jobs, std::vector<NrSweepPoint>* points,
               bool* interrupted);

// One curve of a plot: a CSV file and its legend.
struct NrPlotCurve {
  std::string csv;
  std::string label;
};

// Writes prefix.gp, a gnuplot script that renders prefix.png and prefix.svg (BLER on a log scale
// with its 95 % interval, and throughput, against SNR) from the curves' CSV files, and runs
// gnuplot on it. shannonDb draws the Shannon bound when finite. false, reported, when a file
// cannot be written or gnuplot fails.
bool nrPlotWrite(const std::string& prefix, const std::vector<NrPlotCurve>& curves,
                 const std::string& title, double shannonDb);

// `veltra sweep ...` and `veltra plot ...` (argv[0] is the subcommand): exit code 0 done, 1 the
// sweep or plot failed or was interrupted, 2 usage.
int nrSweepCommand(int argc, char** argv);
int nrPlotCommand(int argc, char** argv);

// Whether the environment shows an MPI launcher (mpirun, srun, a PMI or PMIx process manager)
// that started this process: its rank there and the number of ranks it announced (0 when it does
// not say). false when the process was started otherwise.
bool nrSweepLauncher(int* rank, int* size);

// The MPI library the sweep was built with ("Open MPI v4.1.4"), or empty without MPI.
std::string nrSweepMpiBuiltWith();
