#!/usr/bin/env python3
"""Reading through the Python binding against plain numpy, side by side.

Writes a current-layout RVX file (1 GiB of records by default) into a
temporary directory, which it removes at the end, and compares, all from the
page cache:

- ``Recording.read()`` and ``kdrvx.read(path)`` (the open included) with
  ``numpy.fromfile`` of the same data area,
- ``Recording.to_pandas()`` with ``Recording.read()``,
- ``Recording.read(mmap=True)`` with ``numpy.memmap`` of the data area: the
  view alone, and the view with one pass over its values (``max()``).

The sides of a pair take turns within a round, and each side's best time
over the rounds counts. Then each of ``numpy.fromfile``, ``read()`` and
``to_pandas()`` runs once in a process of its own, which reports the peak of
its resident memory during the call (``VmHWM``, reset just before) above what
it held before, as a multiple of the data area.

    KDRVX_LIBRARY=build/ci/src/libkdrvx.so PYTHONPATH=python \\
        /usr/bin/python3 bench/python_read.py [--mib 1024] [--channels 16] [--runs 7]

``--require R`` makes the script exit with status 1 when read()'s throughput
is below R times numpy.fromfile's.
"""

import argparse
import os
import resource
import struct
import subprocess
import sys
import tempfile
import time

import numpy as np

import kdrvx

HEADER_FIXED = 1500
CHANNEL_RECORD = 1400
# Times of a view alone are taken over this many views.
VIEWS_PER_SAMPLE = 200


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
    turns within a round, so that a load on the machine meets all alike.
    Each result is freed after its time is taken, before the next call."""
    best = [float("inf")] * len(functions)
    for _ in range(runs):
        for which, function in enumerate(functions):
            began = time.perf_counter()
            result = function()
            best[which] = min(best[which], time.perf_counter() - began)
            del result
    return best


class Sides:
    """What is timed, for the file at `path`."""

    def __init__(self, path: str, channels: int, records: int, recording):
        self.path, self.channels, self.records = path, channels, records
        self.offset = HEADER_FIXED + CHANNEL_RECORD * channels
        self.recording = recording

    def fromfile(self):
        return np.fromfile(self.path, dtype="<f4", offset=self.offset).reshape(-1, self.channels)

    def read(self):
        return self.recording.read()

    def read_path(self):
        return kdrvx.read(self.path)

    def to_pandas(self):
        return self.recording.to_pandas()

    def memmap(self):
        return np.memmap(self.path, dtype="<f4", mode="r", offset=self.offset,
                         shape=(self.records, self.channels))

    def mapped(self):
        return self.recording.read(mmap=True)

    def memmaps(self):
        for _ in range(VIEWS_PER_SAMPLE):
            self.memmap()

    def mappeds(self):
        for _ in range(VIEWS_PER_SAMPLE):
            self.mapped()

    def memmap_max(self):
        return self.memmap().max()

    def mapped_max(self):
        return self.mapped().max()


def check_values(sides: Sides) -> bool:
    """Every side delivers the very bits numpy.fromfile does."""
    expected = sides.fromfile().view(np.uint32)
    for values in (sides.read, lambda: sides.to_pandas().to_numpy(), sides.mapped, sides.memmap):
        if not np.array_equal(values().view(np.uint32), expected):
            return False
    return True


def peak_in_child(path: str, channels: int, side: str) -> int:
    """Peak of resident memory in bytes during one call of `side`, above what
    the process held before it, from a process of its own."""
    run = subprocess.run([sys.executable, __file__, "--peak-of", side, "--file", path,
                          "--channels", str(channels)], stdout=subprocess.PIPE, check=True)
    return int(run.stdout)


def status_bytes(field: str) -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith(field + ":"):
                return int(line.split()[1]) * 1024
    raise LookupError(field)


def report_peak(path: str, channels: int, side: str) -> int:
    import pandas  # noqa: F401 - imported before the measurement, whichever side runs

    with kdrvx.open(path) as recording:
        records = recording.header.record_count
        sides = Sides(path, channels, records, recording)
        before = status_bytes("VmRSS")
        try:
            with open("/proc/self/clear_refs", "w") as clear:
                clear.write("5")  # the peak starts again from the current size
            use_hwm = True
        except OSError:
            use_hwm = False  # ru_maxrss, which cannot be reset, must then exceed `before`
        result = getattr(sides, side)()
        peak = status_bytes("VmHWM") if use_hwm else \
            resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
        del result
    print(peak - before)
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mib", type=int, default=1024, help="size of the data area in MiB")
    parser.add_argument("--channels", type=int, default=16)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--require", type=float, default=None,
                        help="exit with status 1 when read()/numpy.fromfile is below this ratio")
    parser.add_argument("--peak-of", help=argparse.SUPPRESS)
    parser.add_argument("--file", help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.peak_of:
        return report_peak(arguments.file, arguments.channels, arguments.peak_of)

    channels = arguments.channels
    with tempfile.TemporaryDirectory() as folder:
        path = os.path.join(folder, "bench.rvx")
        records = write_file(path, channels, arguments.mib)
        size = records * 4 * channels
        with kdrvx.open(path) as recording:
            sides = Sides(path, channels, records, recording)
            if not check_values(sides):
                print("a side delivered other values than numpy.fromfile", file=sys.stderr)
                return 2
            runs = arguments.runs
            numpy_time, read_time, read_path_time = best_times(
                [sides.fromfile, sides.read, sides.read_path], runs)
            read_time_2, frame_time = best_times([sides.read, sides.to_pandas], runs)
            memmap_time, mapped_time = best_times([sides.memmaps, sides.mappeds], runs)
            memmap_max_time, mapped_max_time = best_times([sides.memmap_max, sides.mapped_max],
                                                          runs)
        peaks = {side: peak_in_child(path, channels, side)
                 for side in ("fromfile", "read", "to_pandas")}

    mib = size / 2**20
    print("data: %d records x %d channels, %.1f MiB; %d rounds; library %s"
          % (records, channels, mib, arguments.runs, kdrvx.library_path()))
    print("load average: %.2f %.2f %.2f" % os.getloadavg())

    def line(what, seconds, bytes_per_second=True):
        speed = "  %8.1f MiB/s" % (mib / seconds) if bytes_per_second else ""
        print("  %-40s %10.3f ms%s" % (what, seconds * 1e3, speed))

    read_ratio = numpy_time / read_time
    print("read() against numpy.fromfile")
    line("numpy.fromfile", numpy_time)
    line("Recording.read()", read_time)
    print("  throughput ratio read() / numpy.fromfile: %.3f" % read_ratio)
    line("kdrvx.read(path), open and read", read_path_time)
    print("  throughput ratio kdrvx.read() / numpy.fromfile: %.3f" % (numpy_time / read_path_time))
    print("to_pandas() against read()")
    line("Recording.read()", read_time_2)
    line("Recording.to_pandas()", frame_time)
    print("  time ratio to_pandas() / read(): %.3f (goal <= 1.3)" % (frame_time / read_time_2))
    print("read(mmap=True) against numpy.memmap")
    line("numpy.memmap, the view alone", memmap_time / VIEWS_PER_SAMPLE, False)
    line("read(mmap=True), the view alone", mapped_time / VIEWS_PER_SAMPLE, False)
    print("  time ratio: %.3f" % (mapped_time / memmap_time))
    line("numpy.memmap and max()", memmap_max_time)
    line("read(mmap=True) and max()", mapped_max_time)
    print("  time ratio: %.3f" % (mapped_max_time / memmap_max_time))
    print("peak memory above the process before the call, in a process of its own")
    for side, what in (("fromfile", "numpy.fromfile"), ("read", "Recording.read()"),
                       ("to_pandas", "Recording.to_pandas()")):
        print("  %-40s %10.1f MiB  %.3f x the data%s" % (
            what, peaks[side] / 2**20, peaks[side] / size,
            " (goal <= 1.2)" if side == "to_pandas" else ""))
    if arguments.require is not None and read_ratio < arguments.require:
        print("below the required %.2f" % arguments.require, file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
