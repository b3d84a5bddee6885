// MPI sweeps (built only where MPI was found at configure time): `mpirun -np K veltra sweep ...`
// or `srun veltra sweep ...` runs one coordinator per rank, each with its own worker processes
// (app/sweep_workers.h). Every rank keeps the same ledger: in each round the next K x J batches go
// to the K ranks' J workers in rank order, and every rank's results reach every rank, so the
// points stop at the same batch as on one machine and the CSV, written by rank 0, is that of
// `veltra sweep --jobs 1` with the same seed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/sweep.h"
#include "app/sweep_workers.h"

constexpr int kSweepHostChars = 64;

// What a rank brings to the start-up check.
struct NrSweepRankState {
  uint64_t program;  // digest of the program file
  uint64_t options;  // digest of the command line after "sweep"
  uint64_t slot;     // nrSweepSlotDigest (0 when the slot was not set up)
  int32_t code;      // -1 ready to measure, else this rank's exit code (2 usage, 1 failed)
  char host[kSweepHostChars];
};

// Starts MPI and gives this process's rank and the number of ranks; false, reported, when MPI
// cannot start.
bool nrSweepMpiInit(int* rank, int* size);
// Ends MPI.
void nrSweepMpiFinalize();
// The MPI library's name and version ("Open MPI v4.1.4").
std::string nrSweepMpiLibrary();

// The digests of a rank's state: the program file (/proc/self/exe) and the command line.
uint64_t nrSweepProgramDigest();
uint64_t nrSweepOptionsDigest(int argc, char** argv);

// The start-up check, on every rank: rank 0's state goes to all ranks, and each rank that runs
// another program, has other options or set up another slot says so (naming itself and its host),
// as does one that failed where rank 0 did not (with its reason `why`); rank 0 reports its own
// failure. launcherSize is the number of ranks the launcher's environment announced (0 unknown):
// more than MPI counts means the tasks did not form one MPI job. Returns -1 when every rank is
// ready, else the exit code that every rank then gives (2 for a disagreement).
int nrSweepMpiCheck(const NrSweepRankState& mine, const std::string& why, int rank, int size,
                    int launcherSize);

// Measures the sweep with this rank's workers (started after nrSweepPrepare); on return every
// rank holds every point in points. Returns 0, or 1 when a worker of any rank died (each failed
// rank says which worker and what it was measuring, rank 0 which ranks failed).
int nrSweepRunMpi(const NrSweepCfg* cfg, NrSweepPool* pool, int rank, int size,
                  std::vector<NrSweepPoint>* points);

// Rank 0's exit code, given to every rank.
int nrSweepMpiAgree(int code);

// From here to the end of the run a SIGTERM or SIGINT (the launcher ending the job because a rank
// failed, or the job cancelled) stops this rank's workers and ends it with exit code 1, rank 0
// saying that `out` was not written. nrSweepMpiHoldSignals(true) defers them while rank 0 writes
// its outputs, so that a stop never leaves half a CSV.
void nrSweepMpiOnStop(const NrSweepPool& pool, int rank, const std::string& out);
void nrSweepMpiHoldSignals(bool hold);
