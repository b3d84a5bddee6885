#!/bin/sh
# Renders docs/bler.png and docs/bler.svg: BLER against SNR per RE of the default
# slot (12 RBs x 5 symbols, one receive antenna) at MCS 4, 11, 20 and 27, rv 0, on AWGN and on
# TDL-C 300 ns / 100 Hz, with the fixed-noise receiver and the noise-aware one.
# Run from the repository root after building: sh docs/bler_plot.sh [path/to/veltra]
set -eu
veltra=${1:-build/veltra}
mkdir -p docs/bler
for mcs in 4 11 20 27; do
  for ch in awgn tdlc; do
    if [ "$ch" = awgn ]; then snr=-4:1:32; else snr=-2:2:46; fi
    for rx in fixed-noise noise-aware; do
      csv=docs/bler/mcs${mcs}_${ch}_${rx}.csv
      "$veltra" sweep --mcs "$mcs" --channel "$ch" --delay-spread 300 --doppler 100 \
        --snr "$snr" --slots 200 --errors 50 --receiver "$rx" --seed 1 --jobs 1 --out "$csv"
    done
  done
done
# The figure's own script (colour per MCS, line style per receiver, Shannon bounds) renders
# docs/bler.png and docs/bler.svg from the CSV files.
cd docs && gnuplot bler.gp
