#!/usr/bin/env python3
"""Window statistics through the binding against what a numpy user writes.

Writes a current-layout RVX file (256 MiB of records by default, a NaN and
an infinity in every channel) into a temporary directory, which it removes
at the end, and compares, all from the page cache:

- ``kdrvx.stats(path)``: the library reads the records and computes minimum,
  maximum, mean, RMS and standard deviation over the finite values in double
  precision, with the counts of NaN and infinite values;
- ``kdrvx.read(path)`` followed by numpy over the same values: the finite
  ones in float64, ``min``/``max``/``mean``/RMS/``std`` per channel, and the
  two counts.

The sides take turns within a round, and each side's best time over the
rounds counts.

    KDRVX_LIBRARY=build/ci/src/libkdrvx.so PYTHONPATH=python \\
        /usr/bin/python3 bench/python_stats.py [--mib 256] [--channels 16] [--runs 5]
"""

import argparse
import os
import tempfile
import time

import numpy as np

import kdrvx


def numpy_statistics(path: str) -> list:
    values = kdrvx.read(path)
    figures = []
    for column in values.T:
        finite = np.isfinite(column)
        x = column[finite].astype(np.float64)
        figures.append((x.min(), x.max(), x.mean(), np.sqrt(np.mean(x * x)), x.std(),
                        int(np.isnan(column).sum()), int((~finite).sum())))
    return figures


def best(side, runs: int) -> float:
    fastest = float("inf")
    for _ in range(runs):
        start = time.perf_counter()
        side()
        fastest = min(fastest, time.perf_counter() - start)
    return fastest


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mib", type=int, default=256)
    parser.add_argument("--channels", type=int, default=16)
    parser.add_argument("--runs", type=int, default=5)
    arguments = parser.parse_args()
    records = arguments.mib * (1 << 20) // (4 * arguments.channels)
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "stats.rvx")
        generator = np.random.default_rng(7)
        values = generator.normal(1000.0, 3.0, (records, arguments.channels)).astype(np.float32)
        values[records // 3] = np.nan
        values[records // 2] = np.inf
        with kdrvx.create(path, channels=["p%d" % (k + 1) for k in range(arguments.channels)],
                          scan_interval_us=1000) as recording:
            recording.append(values)
        del values
        library = numpy = float("inf")
        for _ in range(arguments.runs):
            library = min(library, best(lambda: kdrvx.stats(path), 1))
            numpy = min(numpy, best(lambda: numpy_statistics(path), 1))
        megabytes = records * arguments.channels * 4 / 1e6
        print("%d MB, %d channels, best of %d" % (megabytes, arguments.channels, arguments.runs))
        print("  kdrvx.stats                 %7.3f s  %7.0f MB/s" % (library, megabytes / library))
        print("  kdrvx.read + numpy float64  %7.3f s  %7.0f MB/s" % (numpy, megabytes / numpy))
        print("  ratio (numpy time / kdrvx.stats time)  %.2f" % (numpy / library))


if __name__ == "__main__":
    main()
