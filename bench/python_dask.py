#!/usr/bin/env python3
"""kdrvx.dask on a LocalCluster of worker processes against a plain loop in
one process, side by side in one run.

Writes archives into a temporary directory, which it removes at the end,
and compares, all from the page cache:

- the sum of every channel over an archive:
  ``kdrvx.dask.read_recordings(...).sum()`` against a loop that adds up
  ``kdrvx.read`` of each file;
- the catalogue of an archive: ``kdrvx.dask.catalogue`` against a loop that
  takes the header and channels of each file with ``kdrvx.open`` into a
  pandas table.

The archives: 1,200 files of 1,000 records and 200 files of 50,000 records,
4 channels each (``--scale`` divides the number of files). The sides take
turns within a round; each side's best time over the rounds counts, and the
spread of the ratio over the rounds is shown.

    KDRVX_LIBRARY=build/dev/src/libkdrvx.so PYTHONPATH=python \\
        /usr/bin/python3 bench/python_dask.py [--rounds 5] [--workers 2]
"""

import argparse
import os
import tempfile
import time

import distributed
import numpy as np
import pandas

import kdrvx
import kdrvx.dask

CHANNELS = ["p1", "p2", "T1", "T2"]


def make_archive(folder: str, files: int, records: int) -> list:
    paths = []
    for number in range(files):
        values = np.random.default_rng(number).normal(
            1000.0, 3.0, (records, len(CHANNELS))).astype(np.float32)
        path = os.path.join(folder, "run%05d.rvx" % number)
        with kdrvx.create(path, channels=CHANNELS, scan_interval_us=1000) as writer:
            writer.append(values)
        paths.append(path)
    return paths


def engine_sum(paths: list) -> np.ndarray:
    frame = kdrvx.dask.read_recordings(paths)
    return frame[CHANNELS].sum().compute().to_numpy(np.float64)


def loop_sum(paths: list) -> np.ndarray:
    total = np.zeros(len(CHANNELS))
    for path in paths:
        total += kdrvx.read(path).sum(axis=0)
    return total


def engine_catalogue(paths: list) -> pandas.DataFrame:
    return kdrvx.dask.catalogue(paths)


def loop_catalogue(paths: list) -> pandas.DataFrame:
    rows = []
    for path in paths:
        with kdrvx.open(path) as recording:
            header = recording.header
            rows.append({"path": path, "start": header.start, "records": header.record_count,
                         "scan_interval_us": header.scan_interval_us,
                         "channels": tuple(channel.label for channel in recording.channels),
                         "units": tuple(channel.unit for channel in recording.channels),
                         "comment": header.comment})
    return pandas.DataFrame(rows)


def timed(side, paths):
    began = time.perf_counter()
    answer = side(paths)
    return time.perf_counter() - began, answer


def compare(name, engine, loop, paths, rounds, check):
    engines, loops = [], []
    for _ in range(rounds):
        took, answer = timed(engine, paths)
        engines.append(took)
        took, expected = timed(loop, paths)
        loops.append(took)
        check(answer, expected)
    ratios = sorted(e / l for e, l in zip(engines, loops))
    print("%-44s engine %6.3f s  loop %6.3f s  ratio %.2f (rounds %.2f..%.2f)"
          % (name, min(engines), min(loops), min(engines) / min(loops), ratios[0], ratios[-1]))


def same_sums(answer, expected):
    assert np.allclose(answer, expected, rtol=1e-4), (answer, expected)


def same_catalogue(answer, expected):
    assert answer["path"].tolist() == expected["path"].tolist()
    assert answer["records"].tolist() == expected["records"].tolist()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--scale", type=int, default=1, help="divides the number of files")
    options = parser.parse_args()
    with tempfile.TemporaryDirectory(prefix="kdrvx-bench-dask-") as folder, \
            distributed.LocalCluster(n_workers=options.workers, threads_per_worker=1,
                                     dashboard_address=None) as cluster, \
            distributed.Client(cluster):
        short, long = os.path.join(folder, "short"), os.path.join(folder, "long")
        os.mkdir(short)
        os.mkdir(long)
        many = make_archive(short, 1200 // options.scale, 1000)
        large = make_archive(long, 200 // options.scale, 50000)
        print("LocalCluster of %d worker processes, 1 thread each; best of %d rounds"
              % (options.workers, options.rounds))
        compare("sum, %d files x 1,000 records x 4 ch" % len(many),
                engine_sum, loop_sum, many, options.rounds, same_sums)
        compare("sum, %d files x 50,000 records x 4 ch" % len(large),
                engine_sum, loop_sum, large, options.rounds, same_sums)
        compare("catalogue, %d files" % len(many),
                engine_catalogue, loop_catalogue, many, options.rounds, same_catalogue)


if __name__ == "__main__":
    main()
