#!/usr/bin/env python3
"""Delay of a live recording's records to a follower in another process.

Records a live recording (``kdrvx.create(..., live=True)``) at 1 kHz, one
record per ``Writer.append``, for 10 s by default, while another process
follows it with ``kdrvx.follow``; prints the median and the 99th percentile
of the time from ``append`` returning to the record reaching the follower,
and the worst. Both processes read the same system-wide monotonic clock.

    KDRVX_LIBRARY=build/ci/src/libkdrvx.so PYTHONPATH=python \\
        /usr/bin/python3 bench/python_follow.py [--rate 1000] [--seconds 10] [--channels 16]
"""

import argparse
import os
import subprocess
import sys
import tempfile
import time

import numpy as np

import kdrvx


def follow(path: str, arrivals_path: str) -> int:
    """The follower: the time at which each record arrived, saved as .npy."""
    arrivals = []
    print("following", flush=True)
    for block in kdrvx.follow(path, timeout=30):
        now = time.monotonic()
        arrivals.extend([now] * len(block))
    np.save(arrivals_path, np.array(arrivals))
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--rate", type=float, default=1000.0, help="records per second")
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--channels", type=int, default=16)
    parser.add_argument("--follower", nargs=2, metavar=("RECORDING", "ARRIVALS"),
                        help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.follower:
        return follow(*arguments.follower)

    count = int(arguments.rate * arguments.seconds)
    values = np.random.default_rng(7).standard_normal((count, arguments.channels),
                                                      dtype=np.float32)
    interval = 1.0 / arguments.rate
    returned = np.empty(count)
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "live.rvx")
        arrivals_path = os.path.join(folder, "arrivals.npy")
        follower = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--follower",
                                     path, arrivals_path], stdout=subprocess.PIPE, text=True)
        try:
            assert follower.stdout is not None
            follower.stdout.readline()  # waiting for the file
            with kdrvx.create(path, channels=["p%d" % (k + 1) for k in range(arguments.channels)],
                              scan_interval_us=max(1, round(interval * 1e6)),
                              live=True) as writer:
                began = time.monotonic()
                for row in range(count):
                    # Paced by the clock, not by sleeping one interval after
                    # each record, so that the rate holds over the run.
                    delay = began + row * interval - time.monotonic()
                    if delay > 0:
                        time.sleep(delay)
                    writer.append(values[row:row + 1])
                    returned[row] = time.monotonic()
            if follower.wait(timeout=60) != 0:
                print("the follower failed", file=sys.stderr)
                return 2
        finally:
            if follower.poll() is None:
                follower.kill()
                follower.wait()
        arrivals = np.load(arrivals_path)
        if len(arrivals) != count or kdrvx.read(path).tobytes() != values.tobytes():
            print("the follower got %d records of %d, or other values" % (len(arrivals), count),
                  file=sys.stderr)
            return 2

    delays = (arrivals - returned) * 1e3
    print("data: %d records x %d channels at %g records/s (%g s); library %s"
          % (count, arguments.channels, arguments.rate, arguments.seconds, kdrvx.library_path()))
    print("append returned -> kdrvx.follow got the record:")
    print("  median          %8.3f ms" % np.median(delays))
    print("  99th percentile %8.3f ms" % np.percentile(delays, 99))
    print("  worst           %8.3f ms" % delays.max())
    return 0


if __name__ == "__main__":
    sys.exit(main())
