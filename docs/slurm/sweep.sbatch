#!/bin/bash
# Slurm batch script: one BLER curve of veltra sweep shared among MPI ranks.
#
#   sbatch docs/slurm/sweep.sbatch            # from the directory that should receive the CSV
#
# Needs a veltra built with Open MPI ('veltra --version' says "MPI sweeps: built with ...") and
# installed at the same path on every node, or in a shared directory. Every task is one rank with
# one worker process (--jobs 1 per rank by default); rank 0 writes the CSV and the plot, byte for
# byte those of 'veltra sweep --jobs 1' with the same options and seed, however many ranks run.
#
# Adjust the resources to your cluster: the partition, the node and task counts and the time.
#SBATCH --job-name=veltra-sweep
#SBATCH --nodes=2
#SBATCH --ntasks-per-node=16
#SBATCH --cpus-per-task=1
#SBATCH --time=01:00:00
#SBATCH --output=veltra-sweep-%j.out
#SBATCH --error=veltra-sweep-%j.err

set -euo pipefail

VELTRA=${VELTRA:-veltra}

# The sweep: MCS 11 (64QAM, R 0.46) of the default slot on TDL-C 300 ns / 100 Hz with the
# noise-aware receiver, 4 to 24 dB in 1 dB steps, up to 20000 slots per point, a point stopping
# after 200 block errors. Add --slot FILE to sweep a slot description; every rank must read the
# same file (a shared directory), or the ranks refuse to start.
SWEEP=(sweep --mcs 11 --channel tdlc --delay-spread 300 --doppler 100
       --receiver noise-aware --snr 4:1:24 --slots 20000 --errors 200
       --seed 1 --out "mcs11-tdlc-${SLURM_JOB_ID}.csv" --plot "mcs11-tdlc-${SLURM_JOB_ID}")

# The tasks must form one MPI job: srun needs the PMIx plugin that Debian's Open MPI was built
# with ('srun --mpi=list' shows what the cluster offers). Without it every task would be an MPI
# job of its own; veltra sees that from Slurm's environment and refuses to start (exit code 2).
# Where srun has no PMIx, 'mpirun "$VELTRA" "${SWEEP[@]}"' inside the allocation does the same.
srun --mpi=pmix "$VELTRA" "${SWEEP[@]}"

# Exit codes: 0 the CSV is written; 1 a rank or a worker process died, or the CSV or the plot
# could not be written (no CSV is left behind for a failed sweep); 2 the options were refused or
# the ranks disagree on the program, the options or the slot. A rank killed outright (out of
# memory, node failure) ends the job with the launcher's code (128 + the signal) and no CSV.
