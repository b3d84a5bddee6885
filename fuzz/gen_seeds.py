#!/usr/bin/env python3
"""Writes the seed corpora of the sample_file, ue_rx, dlsch_decode and pdsch_chest fuzz targets.

    fuzz/gen_seeds.py VELTRA_BIN OUT_DIR

VELTRA_BIN is the console program of any build (it runs `gNbTx` in a temporary directory for the
default slot's waveform); OUT_DIR/<name>/ receives the seeds of target <name> (fuzz/corpus in the
tree). Each seed is small: the targets build their reference slots themselves and most seeds only
select a mode or describe a change. The input layouts are those documented at the top of each
fuzz/<name>_fuzz.cpp.
"""
import os
import struct
import subprocess
import sys
import tempfile


def default_waveform(veltra):
    """The default slot's samples as (I, Q) pairs, from the transmit action's text file."""
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run([os.path.abspath(veltra), "gNbTx"], cwd=tmp, check=True,
                       stdout=subprocess.DEVNULL)
        with open(os.path.join(tmp, "nrNbTxData.dat")) as f:
            return [tuple(int(v) for v in line.split(",")) for line in f if line.strip()]


def write(out, target, name, data):
    os.makedirs(os.path.join(out, target), exist_ok=True)
    with open(os.path.join(out, target, name), "wb") as f:
        f.write(data.encode() if isinstance(data, str) else data)


def pairs(samples):
    return b"".join(struct.pack("<hh", i, q) for i, q in samples)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    veltra, out = sys.argv[1], sys.argv[2]
    wave = default_waveform(veltra)
    first = next(k for k, s in enumerate(wave) if s != (0, 0))

    # sample_file: whole files for the text reader.
    slice_text = "".join("%d,%d\n" % s for s in wave[first:first + 256])
    for name, text in [
        ("valid", "1,2\n-3,4\n32767,-32768\n0,0\n"),
        ("crlf", "0,0\r\n5,-5\r\n-6,6\r\n"),
        ("blanks", " 12 , -7 \n\t3,\t4\n\n\n"),
        ("no_final_newline", "7,8\n9,10"),
        ("decimal_line", "1,2\n12.0,-5.0\n3,4\n"),
        ("semicolon_line", "1,2\n3;4\n"),
        ("out_of_int16", "40000,-40000\n1,1\n-32769,32768\n"),
        ("signs", "+5,-0\n-0,+7\n"),
        ("long_number", "123456789012345678901234567890,1\n2,2\n"),
        ("control_chars", "1,2\n\x01\x7f\xff,3\n"),
        ("empty", ""),
        ("waveform_slice", slice_text),
    ]:
        write(out, "sample_file", name, text)

    # ue_rx: byte 0 mode (odd near, even free), byte 1 gain (64 unity), then data.
    n = len(wave)
    fft = n // 15  # a slot is 15 N samples
    write(out, "ue_rx", "clean", bytes([1, 64]))
    write(out, "ue_rx", "quiet", bytes([1, 8]))
    write(out, "ue_rx", "hot", bytes([1, 255]))
    write(out, "ue_rx", "silence", bytes([0, 0]))
    # Near: a burst of 64 samples zeroed in the middle of the slot, and a few full-scale spikes.
    burst = b"".join(struct.pack("<Hhh", 7 * fft + k, 0, 0) for k in range(64))
    write(out, "ue_rx", "burst", bytes([1, 64]) + burst)
    spikes = b"".join(struct.pack("<Hhh", k * n // 9, 32767, -32768) for k in range(9))
    write(out, "ue_rx", "spikes", bytes([1, 64]) + spikes)
    # Free: 1024 samples of the waveform, repeated over the slot.
    write(out, "ue_rx", "waveform_slice", bytes([0, 0]) + pairs(wave[first:first + 1024]))

    # dlsch_decode: byte 0 mode 0 free soft bits, 1 free symbols, 2/3 near a reference slot.
    write(out, "dlsch_decode", "near_one_block", bytes([2]))
    write(out, "dlsch_decode", "near_two_blocks", bytes([3]))
    erase = b"".join(struct.pack("<Hhh", 40 + 3 * k, 0, 0) for k in range(48))
    write(out, "dlsch_decode", "near_one_block_erased", bytes([2]) + erase)
    flip = b"".join(struct.pack("<Hhh", 500 + 7 * k, -1024, 1024) for k in range(32))
    write(out, "dlsch_decode", "near_two_blocks_flipped", bytes([3]) + flip)

    def request(mode, A, G, qm, rv, layers, rate, cinit, settings=(1, 3, 3, 25, 9, 7, 3)):
        # settings: flags (early termination, min*), minIter, maxIter - 1, normFactor, widths
        return (bytes([mode]) + struct.pack("<I", A)[:3] + struct.pack("<I", G)[:3]
                + bytes([qm, rv, layers]) + struct.pack("<HI", rate, cinit) + bytes(settings))

    write(out, "dlsch_decode", "free_small",
          request(0, 24, 120, 2, 0, 1, 0, 0x1234) + bytes([20, 236, 20, 20, 236]))
    write(out, "dlsch_decode", "free_bg2_rv2",
          request(0, 1000, 2400, 4, 2, 1, 400, 0x5A5A5) + bytes(range(0, 256, 3)))
    write(out, "dlsch_decode", "free_two_layers",
          request(0, 9000, 12000, 6, 1, 2, 1500, 77, (2, 0, 1, 32, 15, 8, 0)) + bytes([31, 225]))
    write(out, "dlsch_decode", "free_symbols_16qam",
          request(1, 3000, 6000, 4, 0, 1, 1000, 99) + pairs([(324, -972), (-324, 324)]))
    write(out, "dlsch_decode", "free_symbols_256qam",
          request(1, 20000, 24000, 8, 3, 1, 1800, 4242) + pairs([(79, -1178), (863, 549)]))
    write(out, "dlsch_decode", "free_too_many_bits",
          request(0, 100, 0xFFFFFF, 2, 0, 1, 0, 0) + bytes([5]))

    # pdsch_chest: header of PDSCH fields, then REs (I, Q of two antennas).
    def chest(layers, first_sym, add_n, add, cdm, port, symbits, rbn, data_n, dmrs_n, res):
        head = bytes([layers, 1, first_sym, add_n] + list(add) + [cdm])
        head += struct.pack("<HHHHHHHHHH", port, symbits, rbn, 0, 0, 0, 0, 0, data_n, dmrs_n)
        return head + b"".join(struct.pack("<hhhh", *re) for re in res)

    flat = [(1024, 0, 1024, 0), (724, 724, -724, 724)]
    write(out, "pdsch_chest", "one_layer",
          chest(1, 2, 1, (11, 0, 0), 1, 1000, 0x3FFC, 8, 8 * 12 * 10, 2 * 8 * 6, flat))
    write(out, "pdsch_chest", "two_layers",
          chest(2, 2, 1, (11, 0, 0), 2, 1000, 0x3FFF, 24, 24 * 12 * 12, 2 * 24 * 6, flat))
    write(out, "pdsch_chest", "three_additional",
          chest(1, 2, 3, (5, 8, 11), 1, 1001, 0x3FFF, 4, 4 * 12 * 10, 4 * 4 * 6, flat))
    write(out, "pdsch_chest", "no_res", chest(1, 2, 0, (0, 0, 0), 1, 1000, 0x00FC, 2, 0, 0, []))


if __name__ == "__main__":
    main()
