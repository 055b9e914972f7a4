#!/usr/bin/env python3
"""Write throughput of the Python binding against ndarray.tofile.

Appends a float32 array of records (64 MiB by default) to a new recording
with ``kdrvx.Writer.append`` and writes the same array to a plain file with
``ndarray.tofile``, several times, the two taking turns, and prints the best
time of each, their throughputs and the ratio (binding / numpy; 1.0 means as
fast as numpy). Only the appending and the tofile are timed: creating and
closing the recording (its header, the flush and the rename) and opening and
closing the plain file are not.

    KDRVX_LIBRARY=build/ci/src/libkdrvx.so PYTHONPATH=python \\
        /usr/bin/python3 bench/python_write.py [--mib 64] [--channels 16] [--runs 9]

``--require R`` makes the script exit with status 1 when the ratio is below R.
"""

import argparse
import os
import sys
import tempfile
import time

import numpy as np

import kdrvx


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=64, help="size of the records in MiB")
    parser.add_argument("--channels", type=int, default=16)
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--require", type=float, default=None,
                        help="exit with status 1 when binding/numpy is below this ratio")
    arguments = parser.parse_args()

    records = (arguments.mib << 20) // (4 * arguments.channels)
    values = np.random.default_rng(7).standard_normal((records, arguments.channels),
                                                      dtype=np.float32)
    channels = ["p%d" % (k + 1) for k in range(arguments.channels)]
    best = {"numpy": float("inf"), "binding": float("inf")}

    with tempfile.TemporaryDirectory() as folder:
        plain_path = os.path.join(folder, "plain.bin")
        recording_path = os.path.join(folder, "bench.rvx")

        def with_numpy():
            with open(plain_path, "wb") as file:
                began = time.perf_counter()
                values.tofile(file)
                return time.perf_counter() - began

        def with_binding():
            writer = kdrvx.create(recording_path, channels=channels, scan_interval_us=100,
                                  overwrite=True)
            try:
                began = time.perf_counter()
                writer.append(values)
                taken = time.perf_counter() - began
            finally:
                writer.discard()
            return taken

        for _ in range(arguments.runs):
            # Taking turns, so that a load on the machine meets both alike.
            best["numpy"] = min(best["numpy"], with_numpy())
            best["binding"] = min(best["binding"], with_binding())

        # The last recording, kept this time, holds the very bytes of the array.
        with kdrvx.create(recording_path, channels=channels, scan_interval_us=100,
                          overwrite=True) as writer:
            writer.append(values)
        with kdrvx.open(recording_path) as recording:
            if recording.read().tobytes() != values.tobytes():
                print("the recording holds other values than the array", file=sys.stderr)
                return 2

    size = values.nbytes / 2**20
    ratio = best["numpy"] / best["binding"]
    print("data: %d records x %d channels, %.1f MiB; library %s"
          % (records, arguments.channels, size, kdrvx.library_path()))
    print("ndarray.tofile    %8.1f ms  %8.1f MiB/s" % (best["numpy"] * 1e3, size / best["numpy"]))
    print("Writer.append()   %8.1f ms  %8.1f MiB/s"
          % (best["binding"] * 1e3, size / best["binding"]))
    print("ratio (binding throughput / numpy throughput): %.3f" % ratio)
    if arguments.require is not None and ratio < arguments.require:
        print("below the required %.2f" % arguments.require, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
