#!/usr/bin/env python3
"""Read throughput of the Python binding against numpy.fromfile.

Writes a current-layout RVX file (256 MiB of records by default), then reads
all its records several times with ``kdrvx.Recording.read()`` and with
``numpy.fromfile`` on the same data area, both from the page cache, and
prints the best time of each, their throughputs and the ratio (binding /
numpy; 1.0 means as fast as numpy).

    KDRVX_LIBRARY=build/ci/src/libkdrvx.so PYTHONPATH=python \\
        /usr/bin/python3 bench/python_read.py [--mib 256] [--channels 16] [--runs 9]

``--require R`` makes the script exit with status 1 when the ratio is below R.
"""

import argparse
import os
import struct
import sys
import tempfile
import time

import numpy as np

import kdrvx

HEADER_FIXED = 1500
CHANNEL_RECORD = 1400


def current_header(channels: int, records: int, scan_rate_us: int) -> bytes:
    header = bytearray(HEADER_FIXED + CHANNEL_RECORD * channels)
    struct.pack_into("<BBxxH", header, 4, ord("s"), ord("W"), len(header) % 65536)
    struct.pack_into("<HBBBBBxH", header, 10, 2024, 1, 2, 3, 4, 255, 0xFFFF)
    struct.pack_into("<I", header, 20, records)
    struct.pack_into("<IBBB", header, 32, scan_rate_us, channels, 0, 1)
    for k in range(channels):
        at = HEADER_FIXED + CHANNEL_RECORD * k
        struct.pack_into("<IxxHHb", header, at, 1, ord("p"), 0, k + 1)
    return bytes(header)


def write_file(path: str, channels: int, mib: int) -> int:
    records = (mib << 20) // (4 * channels)
    rng = np.random.default_rng(7)
    with open(path, "wb") as file:
        file.write(current_header(channels, records, 100))
        block = 1 << 16
        for first in range(0, records, block):
            count = min(block, records - first)
            rng.standard_normal((count, channels), dtype=np.float32).tofile(file)
    return records


def best_times(functions, runs: int):
    """Best time of each function over `runs` rounds; the functions take
    turns within a round, so that a load on the machine meets both alike."""
    best, results = [float("inf")] * len(functions), [None] * len(functions)
    for _ in range(runs):
        for which, function in enumerate(functions):
            began = time.perf_counter()
            results[which] = function()
            best[which] = min(best[which], time.perf_counter() - began)
    return best, results


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=256, help="size of the data area in MiB")
    parser.add_argument("--channels", type=int, default=16)
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--require", type=float, default=None,
                        help="exit with status 1 when binding/numpy is below this ratio")
    arguments = parser.parse_args()

    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "bench.rvx")
        records = write_file(path, arguments.channels, arguments.mib)
        offset = HEADER_FIXED + CHANNEL_RECORD * arguments.channels
        size = records * 4 * arguments.channels

        def with_numpy():
            return np.fromfile(path, dtype="<f4", offset=offset).reshape(-1, arguments.channels)

        with kdrvx.open(path) as recording:
            with_numpy()  # both read from the page cache
            (numpy_time, binding_time), (expected, values) = best_times(
                [with_numpy, recording.read], arguments.runs)
            if values.tobytes() != expected.tobytes():
                print("the binding delivered other values than numpy.fromfile", file=sys.stderr)
                return 2

    ratio = numpy_time / binding_time
    print("data: %d records x %d channels, %.1f MiB; library %s"
          % (records, arguments.channels, size / 2**20, kdrvx.library_path()))
    print("numpy.fromfile    %8.1f ms  %8.1f MiB/s" % (numpy_time * 1e3, size / 2**20 / numpy_time))
    print("Recording.read()  %8.1f ms  %8.1f MiB/s" % (binding_time * 1e3, size / 2**20 / binding_time))
    print("ratio (binding throughput / numpy throughput): %.3f" % ratio)
    if arguments.require is not None and ratio < arguments.require:
        print("below the required %.2f" % arguments.require, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
