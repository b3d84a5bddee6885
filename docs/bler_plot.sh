#!/bin/sh
# Renders docs/bler.png and docs/bler.svg: BLER and throughput against SNR per RE of the default
# slot (12 RBs x 5 symbols, one receive antenna) at MCS 4, 11, 20 and 27, rv 0, on AWGN and on
# TDL-C 300 ns / 100 Hz, with the fixed-noise receiver and the noise-aware one.
# Run from the repository root after building: sh docs/bler_plot.sh [path/to/veltra]
set -eu
veltra=${1:-build/veltra}
mkdir -p docs/bler
set --
for mcs in 4 11 20 27; do
  for ch in awgn tdlc; do
    if [ "$ch" = awgn ]; then snr=-4:1:32; name=AWGN; else snr=-2:2:46; name=TDL-C; fi
    for rx in parts noise-aware; do
      csv=docs/bler/mcs${mcs}_${ch}_${rx}.csv
      "$veltra" sweep --mcs "$mcs" --channel "$ch" --delay-spread 300 --doppler 100 \
        --snr "$snr" --slots 200 --errors 50 --receiver "$rx" --seed 1 --jobs 1 --out "$csv"
      if [ "$rx" = parts ]; then kind=fixed-noise; else kind=noise-aware; fi
      set -- "$@" "$csv=MCS $mcs, $name, $kind"
    done
  done
done
"$veltra" plot --out docs/bler --title "Default slot, rv 0: BLER and throughput against SNR per RE" "$@"
