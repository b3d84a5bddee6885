#!/bin/sh
# The transmitter's waveform read and written back with NumPy, then received in a new process
# from the slot file: the round trip the README shows.
set -e
veltra="$1"
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
"$veltra" gNbTx
/usr/bin/python3 - <<'PY'
import numpy as np
x = np.loadtxt("nrNbTxData.dat", delimiter=",", dtype=np.int64)
np.savetxt("nrNbTxData.dat", x, fmt="%d", delimiter=",")
PY
"$veltra" --slot nrSlotCfg.yaml nrUeRx > rx.out
grep -q "codeword: \[0\] dec CRC OK" rx.out
cmp -s DecBuff.txt EncCrcBuff.txt
