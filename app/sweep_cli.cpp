// Command lines of `veltra sweep` and `veltra plot`.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/sweep.h"
#ifdef VELTRA_MPI
#include "app/sweep_mpi.h"
#endif
#include "config/console.h"
#include "phy/common/text_lines.h"

namespace {

constexpr int kMaxPoints = 1000;
constexpr int64_t kMaxSlotsPerPoint = 100000000;
constexpr int kJobsPerCore = 4;       // more workers than this only queue for the cores
constexpr double kMaxCfoHz = 7500.0;  // half the subcarrier spacing

// Diagnostics of the library during a sweep: the first few pass, the rest are counted. The
// receivers' console lines are not the sweep's.
struct SweepConsole {
  int diagShown = 0;
  long diagDropped = 0;
};
SweepConsole sweepConsole;
constexpr int kMaxDiagShown = 5;

void sweepSink(NrConsoleStream stream, const char* text, std::size_t len, void* user) {
  SweepConsole* c = static_cast<SweepConsole*>(user);
  if (stream != NrConsoleStream::kErr) return;
  if (c->diagShown < kMaxDiagShown) {
    c->diagShown++;
    std::fwrite(text, 1, len, stderr);
  } else {
    c->diagDropped++;
  }
}

// "start:step:stop" in dB: a finite range that ends.
bool parseSnr(const std::string& s, std::vector<double>* out, std::string* why) {
  double v[3];
  size_t pos = 0;
  for (int i = 0; i < 3; i++) {
    const size_t end = i < 2 ? s.find(':', pos) : s.size();
    if (end == std::string::npos) {
      *why = "--snr " + s + ": expected START:STEP:STOP in dB, e.g. 0:0.5:10";
      return false;
    }
    const std::string part = s.substr(pos, end - pos);
    char* stop = nullptr;
    v[i] = std::strtod(part.c_str(), &stop);
    if (part.empty() || *stop != '\0' || !std::isfinite(v[i])) {
      *why = "--snr " + s + ": \"" + part + "\" is not a number";
      return false;
    }
    pos = end + 1;
  }
  const double start = v[0], step = v[1], stop = v[2];
  if (start == stop) {
    *out = {start};
    return true;
  }
  if (step == 0.0 || (stop - start) / step < 0.0) {
    *why = "--snr " + s + ": a step of " + std::to_string(step) + " never gets from " +
           std::to_string(start) + " to " + std::to_string(stop) + " dB";
    return false;
  }
  const double n = std::floor((stop - start) / step + 1e-9) + 1.0;
  if (n > kMaxPoints) {
    *why = "--snr " + s + ": " + std::to_string(static_cast<long long>(n)) + " points, at most " +
           std::to_string(kMaxPoints);
    return false;
  }
  out->clear();
  // Each point from its index (no accumulated rounding), kept to 1e-9 dB.
  for (int i = 0; i < static_cast<int>(n); i++)
    out->push_back(std::round((start + i * step) * 1e9) / 1e9);
  return true;
}

std::string channelName(const NrSweepCfg& c) {
  if (c.channel.model == NrChannelModel::kAwgn) return "AWGN";
  const char* name = nrTdlProfile(c.channel.model == NrChannelModel::kTdlA   ? NrTdlModel::kTdlA
                                  : c.channel.model == NrChannelModel::kTdlB ? NrTdlModel::kTdlB
                                                                             : NrTdlModel::kTdlC)
                         .name;
  char buf[96];
  std::snprintf(buf, sizeof(buf), "%s %g ns / %g Hz", name, c.channel.delaySpreadS * 1e9,
                c.channel.dopplerHz);
  return buf;
}

const char* receiverName(NrRxVariant r) {
  return r == NrRxVariant::kFixedNoise   ? "fixed-noise receiver"
         : r == NrRxVariant::kNoiseAware ? "noise-aware receiver"
                                         : "noise-aware MMSE receiver";
}

const char* qamName(uint32_t qm) {
  return qm == 2 ? "QPSK" : qm == 4 ? "16QAM" : qm == 6 ? "64QAM" : "256QAM";
}

// The options of one sweep.
struct SweepArgs {
  NrSweepCfg cfg;
  int jobs = 1;
  bool jobsGiven = false;
  std::string out = "sweep.csv";
  std::string plot;
};

// Reads the command line into *a: -1 when the sweep is to run, else the exit code (0 after the
// help, 2 for a usage error, reported unless quiet).
int parseSweep(int argc, char** argv, bool quiet, SweepArgs* a) {
  const auto usage = [quiet](const std::string& what) {
    if (!quiet) std::fprintf(stderr, "veltra sweep: %s\n", what.c_str());
    return kExitUsage;
  };
  CLI::App app{
      "Measures BLER and throughput against SNR: the slot is sent once per redundancy version,\n"
      "then every slot of every SNR point goes through the channel, the receiver and the\n"
      "decoder (with HARQ soft combining when --harq > 1). Writes one CSV row per SNR point.",
      "veltra sweep"};
  app.footer(
      "SNR is per resource element of the allocation: the mean energy of the transmitted PDSCH\n"
      "data REs (summed over the ports) over the noise energy per subcarrier.\n"
      "Each slot's channel comes from (--seed, slot index), its noise from (--seed, SNR, slot\n"
      "index): the CSV is the same for any --jobs. A point stops after the first batch of 10\n"
      "slots (in slot order) at which its block errors reach --errors.\n"
      "CSV columns: snr_db, slots, tb_errors, bler, bler_ci95_low, bler_ci95_high (Wilson),\n"
      "cb_error_rate, throughput_mbps, throughput_fraction (of one transport block per 1 ms "
      "slot),\n"
      "mean_ldpc_iterations (per decoder run), mean_transmissions (per transport block).\n"
      "On a cluster: mpirun -np K veltra sweep ... (or srun under Slurm) shares every point's\n"
      "slots among K MPI ranks, each with --jobs worker processes (default 1); rank 0 writes the\n"
      "CSV, the same as --jobs 1 on one machine. 'veltra --version' tells whether MPI is in.\n"
      "Exit codes: 0 done; 1 a worker or rank died (no CSV), the default slot could not be sent,\n"
      "an output or plot could not be written, or Ctrl-C (on one machine the CSV then holds what\n"
      "was measured); 2 usage (an option out of range, a slot file refused, an MCS the slot\n"
      "cannot carry, MPI ranks that disagree on the program, options or slot).");
  NrSweepCfg& cfg = a->cfg;
  std::string slotFile, snr = "0:1:20", channel = "awgn", receiver = "fixed-noise";
  int mcs = -1;
  int64_t slots = 1000, errors = 100;
  int harq = 1;
  double delayNs = 300.0, dopplerHz = 100.0, cfoHz = 0.0;
  uint64_t seed = 1;
  const long cores = sysconf(_SC_NPROCESSORS_ONLN) > 0 ? sysconf(_SC_NPROCESSORS_ONLN) : 1;
  int jobs = static_cast<int>(cores);
  app.add_option("--slot", slotFile, "slot description (YAML); default: the default slot");
  app.add_option("--mcs", mcs, "MCS index of PDSCH 0 instead of the slot's (its MCS table)");
  app.add_option("--channel", channel, "awgn, tdla, tdlb or tdlc (TR 38.901 7.7.2)")
      ->capture_default_str();
  app.add_option("--delay-spread", delayNs, "TDL rms delay spread in ns, 0..1000")
      ->capture_default_str();
  app.add_option("--doppler", dopplerHz, "TDL maximum Doppler shift in Hz, 0..10000")
      ->capture_default_str();
  app.add_option("--cfo", cfoHz, "carrier frequency offset in Hz, |CFO| <= 7500")
      ->capture_default_str();
  app.add_option("--snr", snr, "SNR points START:STEP:STOP in dB")->capture_default_str();
  app.add_option("--slots", slots, "slots (transport blocks) per point at most")
      ->capture_default_str();
  app.add_option("--errors", errors, "stop a point after this many block errors (0: never)")
      ->capture_default_str();
  app.add_option("--harq", harq, "transmissions per transport block, 1..4 (rv 0, 2, 3, 1)")
      ->capture_default_str();
  app.add_option("--receiver", receiver,
                 "fixed-noise (the default receiver), noise-aware, noise-aware-mmse")
      ->capture_default_str();
  app.add_option("--seed", seed, "seed of the channel and noise")->capture_default_str();
  CLI::Option* jobsOpt =
      app.add_option("-j,--jobs", jobs, "worker processes (default: the cores; per MPI rank: 1)")
          ->capture_default_str();
  app.add_option("-o,--out", a->out, "output CSV file")->capture_default_str();
  app.add_option("--plot", a->plot, "also write PREFIX.png, PREFIX.svg and their script PREFIX.gp");
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const bool success = e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success);
    if (!quiet) app.exit(e);
    return success ? kExitOk : kExitUsage;
  }

  std::string why;
  if (!parseSnr(snr, &cfg.snrDb, &why)) return usage(why);
  if (slots < 1 || slots > kMaxSlotsPerPoint)
    return usage("--slots " + std::to_string(slots) + ": expected 1.." +
                 std::to_string(kMaxSlotsPerPoint));
  if (errors < 0) return usage("--errors " + std::to_string(errors) + ": expected 0 or more");
  if (harq < 1 || harq > kHarqMaxTx)
    return usage("--harq " + std::to_string(harq) + ": expected 1..4 transmissions");
  if (jobs < 1 || jobs > kJobsPerCore * cores)
    return usage("--jobs " + std::to_string(jobs) + ": expected 1.." +
                 std::to_string(kJobsPerCore * cores) + " (" + std::to_string(kJobsPerCore) +
                 " per core of this machine's " + std::to_string(cores) + ")");
  if (channel == "awgn")
    cfg.channel.model = NrChannelModel::kAwgn;
  else if (channel == "tdla")
    cfg.channel.model = NrChannelModel::kTdlA;
  else if (channel == "tdlb")
    cfg.channel.model = NrChannelModel::kTdlB;
  else if (channel == "tdlc")
    cfg.channel.model = NrChannelModel::kTdlC;
  else
    return usage("--channel " + channel + ": expected awgn, tdla, tdlb or tdlc");
  if (!(delayNs >= 0.0 && delayNs <= kTdlMaxDelaySpreadS * 1e9))
    return usage("--delay-spread " + std::to_string(delayNs) + ": expected 0..1000 ns");
  if (!(dopplerHz >= 0.0 && dopplerHz <= 10000.0))
    return usage("--doppler " + std::to_string(dopplerHz) + ": expected 0..10000 Hz");
  if (!(std::fabs(cfoHz) <= kMaxCfoHz))
    return usage("--cfo " + std::to_string(cfoHz) + ": expected -7500..7500 Hz");
  if (receiver == "fixed-noise")
    cfg.receiver = NrRxVariant::kFixedNoise;
  else if (receiver == "noise-aware")
    cfg.receiver = NrRxVariant::kNoiseAware;
  else if (receiver == "noise-aware-mmse")
    cfg.receiver = NrRxVariant::kNoiseAwareMmse;
  else
    return usage("--receiver " + receiver +
                 ": expected fixed-noise, noise-aware or noise-aware-mmse");
  if (a->out.empty()) return usage("--out: expected a file name");
  cfg.slotFile = slotFile;
  cfg.mcs = mcs;
  cfg.slotsPerPoint = slots;
  cfg.maxErrors = errors;
  cfg.harqMax = harq;
  cfg.seed = seed;
  cfg.channel.delaySpreadS = delayNs * 1e-9;
  cfg.channel.dopplerHz = dopplerHz;
  cfg.channel.cfoHz = cfoHz;
  a->jobs = jobs;
  a->jobsGiven = jobsOpt->count() > 0;
  return -1;
}

// The exit code of a slot that cannot be swept: the default one is the bench's fault, a slot
// file or MCS the user's.
int unsweepableCode(const NrSweepCfg& cfg) {
  return cfg.slotFile.empty() && cfg.mcs < 0 ? kExitFailed : kExitUsage;
}

void printOpening(const SweepArgs& a, const NrSweepSlotInfo& info) {
  std::printf(
      "veltra sweep: MCS %d (table %d, %s, R %.4f), TBS %u bits in %u code block(s) over %u data "
      "REs x %u layer(s): %.3f bit/RE, Shannon bound %.2f dB; %s, %s, %d transmission(s)\n",
      info.mcs, info.mcsTable, qamName(info.qm), info.rate, info.tbs, info.codeBlocks, info.dataRe,
      info.layers, info.bitsPerRe, info.shannonDb, channelName(a.cfg).c_str(),
      receiverName(a.cfg.receiver), a.cfg.harqMax);
}

void reportDroppedDiags() {
  if (sweepConsole.diagDropped > 0)
    std::fprintf(stderr, "veltra sweep: %ld more diagnostics of the receivers not shown\n",
                 sweepConsole.diagDropped);
}

// Writes the CSV and the plot of the measured points; the exit code.
int writeOutputs(const SweepArgs& a, const NrSweepSlotInfo& info,
                 const std::vector<NrSweepPoint>& points, bool interrupted) {
  const std::string csv = nrSweepCsv(points, info);
  // Written beside the target and renamed into place: a process killed while writing (SIGKILL
  // cannot be held off) leaves at most a ".part" file, never a shortened CSV under the real name.
  const std::string part = a.out + ".part";
  if (!nrWriteFileBytes(part.c_str(), csv.data(), csv.size())) {
    std::remove(part.c_str());
    return kExitFailed;
  }
  if (std::rename(part.c_str(), a.out.c_str()) != 0) {
    std::fprintf(stderr, "veltra sweep: %s: cannot be written: %s\n", a.out.c_str(),
                 std::strerror(errno));
    std::remove(part.c_str());
    return kExitFailed;
  }
  uint64_t total = 0;
  for (const NrSweepPoint& p : points) total += p.tally.slots;
  std::printf("veltra sweep: wrote %s (%zu points, %llu slots)%s\n", a.out.c_str(), points.size(),
              static_cast<unsigned long long>(total),
              interrupted ? ", interrupted: the points measured so far" : "");
  bool ok = !interrupted;
  if (!a.plot.empty() && !points.empty()) {
    char title[256];
    std::snprintf(title, sizeof(title), "MCS %d (%s, R %.3f, %.2f bit/RE), %s, %s%s", info.mcs,
                  qamName(info.qm), info.rate, info.bitsPerRe, channelName(a.cfg).c_str(),
                  receiverName(a.cfg.receiver),
                  a.cfg.harqMax > 1 ? (", HARQ x" + std::to_string(a.cfg.harqMax)).c_str() : "");
    const bool plotted = nrPlotWrite(a.plot, {NrPlotCurve{a.out, title}}, title, info.shannonDb);
    if (plotted)
      std::printf("veltra sweep: wrote %s.png, %s.svg and %s.gp\n", a.plot.c_str(), a.plot.c_str(),
                  a.plot.c_str());
    ok = ok && plotted;
  }
  if (interrupted) std::fprintf(stderr, "veltra sweep: interrupted\n");
  return ok ? kExitOk : kExitFailed;
}

#ifdef VELTRA_MPI
// Diagnostics of the set-up kept for the start-up check, which decides who shows them.
void keepSink(NrConsoleStream stream, const char* text, std::size_t len, void* user) {
  if (stream == NrConsoleStream::kErr) static_cast<std::string*>(user)->append(text, len);
}

// One rank of `mpirun ... veltra sweep`: options, slot and workers are set up before MPI starts
// (no process is forked under MPI), then checked against rank 0's.
int mpiSweep(int argc, char** argv, int launcherRank, int launcherSize) {
  SweepArgs a;
  int code = parseSweep(argc, argv, launcherRank != 0, &a);
  if (code == kExitOk) return kExitOk;  // the help, shown by rank 0
  const bool parsed = code < 0;
  if (!a.jobsGiven) a.jobs = 1;  // the ranks are the parallelism
  NrSweepSlotInfo info{};
  NrSweepPool pool;
  uint64_t slot = 0;
  std::string why;
  if (code < 0) {
    nrConsoleSetSink(keepSink, &why);
    if (!nrSweepPrepare(&a.cfg, &info)) {
      why += "veltra sweep: the slot cannot be swept; nothing measured\n";
      code = unsweepableCode(a.cfg);
    } else if (!nrSweepPoolStart(&pool, &a.cfg, a.jobs)) {
      code = kExitFailed;
    } else {
      slot = nrSweepSlotDigest();
    }
    nrConsoleSetSink(nullptr, nullptr);
  }

  int rank = 0, size = 1;
  if (!nrSweepMpiInit(&rank, &size)) {
    nrSweepPoolStop(&pool, true);
    return kExitFailed;
  }
  // An older CSV must not pass for this run's.
  if (rank == 0 && parsed) nrRemoveStaleFile(a.out.c_str());
  NrSweepRankState me{};
  me.program = nrSweepProgramDigest();
  me.options = nrSweepOptionsDigest(argc, argv);
  me.slot = slot;
  me.code = code;
  if (gethostname(me.host, sizeof(me.host) - 1) != 0) std::strcpy(me.host, "?");
  code = nrSweepMpiCheck(me, why, rank, size, launcherSize);
  if (code >= 0) {
    nrSweepPoolStop(&pool, true);
    nrSweepMpiFinalize();
    return code;
  }
  if (rank == 0) {
    std::fputs(why.c_str(), stderr);  // what the set-up said on the way
    printOpening(a, info);
    std::printf("veltra sweep: %d MPI rank(s) of %s, %d worker process(es) each\n", size,
                nrSweepMpiLibrary().c_str(), a.jobs);
    std::fflush(stdout);
  }

  nrSweepMpiOnStop(pool, rank, a.out);
  nrConsoleSetSink(sweepSink, &sweepConsole);
  std::vector<NrSweepPoint> points;
  code = nrSweepRunMpi(&a.cfg, &pool, rank, size, &points);
  nrConsoleSetSink(nullptr, nullptr);
  nrSweepPoolStop(&pool, code != 0);
  if (rank == 0) {
    reportDroppedDiags();
    if (code != 0) {
      std::fprintf(stderr, "veltra sweep: failed; %s not written\n", a.out.c_str());
    } else {
      // A stop now would cut the CSV short: it waits until the outputs are written.
      nrSweepMpiHoldSignals(true);
      code = writeOutputs(a, info, points, false);
      std::fflush(stdout);
      std::fflush(stderr);
      nrSweepMpiHoldSignals(false);
    }
  }
  code = nrSweepMpiAgree(code);
  nrSweepMpiFinalize();
  return code;
}
#endif

}  // namespace

bool nrSweepLauncher(int* rank, int* size) {
  const auto number = [](const char* name, int* v) {
    const char* s = std::getenv(name);
    if (!s || !*s) return false;
    char* end = nullptr;
    const long n = std::strtol(s, &end, 10);
    if (*end != '\0' || n < 0 || n > INT32_MAX) return false;
    *v = static_cast<int>(n);
    return true;
  };
  *rank = 0;
  *size = 0;
  // Open MPI's mpirun; MPICH's and Intel's Hydra and Slurm's PMI-2; PMIx (srun --mpi=pmix).
  if (number("OMPI_COMM_WORLD_SIZE", size)) {
    number("OMPI_COMM_WORLD_RANK", rank);
    return true;
  }
  if (number("PMI_SIZE", size)) {
    number("PMI_RANK", rank);
    return true;
  }
  int steps = 0;
  const bool slurmStep = number("SLURM_STEP_NUM_TASKS", &steps);
  if (number("PMIX_RANK", rank)) {
    *size = slurmStep ? steps : 0;
    return true;
  }
  // srun with several tasks but no MPI plugin: the tasks would not know each other.
  if (slurmStep && steps > 1) {
    *size = steps;
    number("SLURM_PROCID", rank);
    return true;
  }
  return false;
}

std::string nrSweepMpiBuiltWith() {
#ifdef VELTRA_MPI
  return nrSweepMpiLibrary();
#else
  return "";
#endif
}

int nrSweepCommand(int argc, char** argv) {
  int launcherRank = 0, launcherSize = 0;
  if (nrSweepLauncher(&launcherRank, &launcherSize)) {
#ifdef VELTRA_MPI
    return mpiSweep(argc, argv, launcherRank, launcherSize);
#else
    if (launcherSize > 1 || launcherRank > 0) {
      if (launcherRank == 0)
        std::fprintf(stderr,
                     "veltra sweep: started as one of %d ranks by an MPI launcher, but this veltra "
                     "was built without MPI ('veltra --version'): every rank would run the whole "
                     "sweep; build it with Open MPI (scripts/install-deps) or run 'veltra sweep "
                     "--jobs J' without the launcher; nothing measured\n",
                     launcherSize);
      return kExitUsage;
    }
#endif
  }

  SweepArgs a;
  if (const int code = parseSweep(argc, argv, false, &a); code >= 0) return code;
  // An older CSV must not pass for this run's.
  nrRemoveStaleFile(a.out.c_str());
  nrConsoleSetSink(sweepSink, &sweepConsole);
  NrSweepSlotInfo info{};
  if (!nrSweepPrepare(&a.cfg, &info)) {
    nrConsoleSetSink(nullptr, nullptr);
    std::fprintf(stderr, "veltra sweep: the slot cannot be swept; nothing measured\n");
    return unsweepableCode(a.cfg);
  }
  printOpening(a, info);

  std::vector<NrSweepPoint> points;
  bool interrupted = false;
  const int rc = nrSweepRun(&a.cfg, a.jobs, &points, &interrupted);
  nrConsoleSetSink(nullptr, nullptr);
  reportDroppedDiags();
  if (rc != 0 && !interrupted) {
    std::fprintf(stderr, "veltra sweep: failed; %s not written\n", a.out.c_str());
    return kExitFailed;
  }
  return writeOutputs(a, info, points, interrupted);
}

int nrPlotCommand(int argc, char** argv) {
  CLI::App app{"Renders BLER and throughput against SNR from sweep CSV files into one plot.",
               "veltra plot"};
  std::string out = "sweep", title = "BLER and throughput against SNR per RE";
  std::vector<std::string> files;
  app.add_option("-o,--out", out, "writes PREFIX.png, PREFIX.svg and PREFIX.gp")
      ->capture_default_str();
  app.add_option("--title", title, "plot title")->capture_default_str();
  app.add_option("csv", files, "CSV files of veltra sweep, each FILE or FILE=LEGEND")->required();
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success) ? kExitOk : kExitUsage;
  }
  std::vector<NrPlotCurve> curves;
  for (const std::string& f : files) {
    const size_t eq = f.find('=');
    NrPlotCurve c{f.substr(0, eq), eq == std::string::npos ? "" : f.substr(eq + 1)};
    if (c.label.empty()) c.label = c.csv;
    if (access(c.csv.c_str(), R_OK) != 0) {
      std::fprintf(stderr, "veltra plot: %s: cannot be read\n", c.csv.c_str());
      return kExitUsage;
    }
    curves.push_back(c);
  }
  if (!nrPlotWrite(out, curves, title, NAN)) return kExitFailed;
  std::printf("veltra plot: wrote %s.png, %s.svg and %s.gp\n", out.c_str(), out.c_str(),
              out.c_str());
  return kExitOk;
}
