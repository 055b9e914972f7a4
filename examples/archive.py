"""An archive of many short recordings, analysed on a Dask cluster and in a
plain loop: the maximum of p1 in every recording and a histogram of T1 over
all of them. Prints the time each takes; both must give the same answer.

    KDRVX_LIBRARY=build/ci/src/libkdrvx.so PYTHONPATH=python python3 examples/archive.py

Needs numpy, pandas, dask and distributed (Debian: python3-numpy
python3-pandas python3-dask python3-distributed).
"""

import argparse
import datetime
import os
import tempfile
import time

import distributed
import numpy as np
import pandas

import kdrvx
import kdrvx.dask

CHANNELS = [{"variable": "p1", "unit": "bar"}, {"variable": "T1", "unit": "K"},
            {"variable": "dp1", "unit": "mbar"}]
T1_BINS = 40
T1_RANGE = (280.0, 320.0)


def make_recordings(folder, numbers, records):
    """Recordings of `records` records each, one per number."""
    paths = []
    for number in numbers:
        rng = np.random.default_rng(number)
        values = np.empty((records, len(CHANNELS)), dtype=np.float32)
        values[:, 0] = 5 + np.cumsum(rng.normal(scale=0.05, size=records))
        values[:, 1] = rng.normal(300, 4, size=records)
        values[:, 2] = np.diff(values[:, 0], prepend=values[0, 0]) * 1000
        path = os.path.join(folder, "run%05d.rvx" % number)
        start = datetime.datetime(2026, 3, 1) + datetime.timedelta(minutes=10 * number)
        with kdrvx.create(path, channels=CHANNELS, scan_interval_us=1000, start=start,
                          comment="bench run %d" % number) as writer:
            writer.append(values)
        paths.append(path)
    return paths


def summarise(part):
    """p1's maximum and T1's histogram of one partition (a recording, or a
    block of a large one), as a row of one frame: the reading and the
    summary of a partition are one task, and only the rows travel."""
    counts = np.histogram(part["T1"], bins=T1_BINS, range=T1_RANGE)[0]
    row = {"path": part["path"].iloc[:1].tolist(), "p1 max": [part["p1"].max()]}
    row.update(("T1 %d" % at, [count]) for at, count in enumerate(counts))
    return pandas.DataFrame(row) if len(part) else pandas.DataFrame(row).iloc[:0]


def on_the_cluster(pattern):
    frame = kdrvx.dask.read_recordings(pattern, channels=["p1", "T1"])
    columns = [("path", object), ("p1 max", np.float32)]
    columns += [("T1 %d" % at, np.int64) for at in range(T1_BINS)]
    summaries = frame.map_partitions(summarise, meta=columns).compute()
    maxima = summaries.groupby("path")["p1 max"].max()
    counts = summaries.drop(columns=["path", "p1 max"]).sum().to_numpy()
    return maxima, counts


def in_a_loop(paths):
    maxima, counts = {}, np.zeros(T1_BINS, dtype=np.int64)
    for path in sorted(paths):
        with kdrvx.open(path) as recording:
            values = recording.read(channels=["p1", "T1"])
        maxima[path] = values[:, 0].max()
        counts += np.histogram(values[:, 1], bins=T1_BINS, range=T1_RANGE)[0]
    return maxima, counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--recordings", type=int, default=1000)
    parser.add_argument("--records", type=int, default=1000, help="records per recording")
    parser.add_argument("--workers", type=int, default=2, help="worker processes")
    options = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="kdrvx-archive-") as folder, \
            distributed.LocalCluster(n_workers=options.workers, threads_per_worker=1,
                                     dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        # Each worker process writes its share of the archive.
        began = time.perf_counter()
        shares = [range(first, options.recordings, options.workers)
                  for first in range(options.workers)]
        paths = sum(client.gather(client.map(make_recordings, [folder] * len(shares), shares,
                                             [options.records] * len(shares))), [])
        made = time.perf_counter() - began
        megabytes = sum(os.path.getsize(path) for path in paths) / 1e6
        print("archive: %d recordings of %d records, %.1f MB, written in %.2f s"
              % (len(paths), options.records, megabytes, made))

        began = time.perf_counter()
        cluster_maxima, cluster_counts = on_the_cluster(os.path.join(folder, "*.rvx"))
        on_cluster = time.perf_counter() - began

        began = time.perf_counter()
        loop_maxima, loop_counts = in_a_loop(paths)
        in_loop = time.perf_counter() - began

        assert cluster_maxima.to_dict() == loop_maxima, "the maxima of p1 differ"
        assert (cluster_counts == loop_counts).all(), "the histograms of T1 differ"
        print("maximum of p1 per recording and histogram of T1 (%d bins):" % T1_BINS)
        print("  LocalCluster, %d worker processes: %6.2f s" % (options.workers, on_cluster))
        print("  plain loop, one process:          %6.2f s" % in_loop)
        print("highest p1: %.3f bar in %s; %d values of T1 within %g..%g K"
              % (cluster_maxima.max(), os.path.basename(cluster_maxima.idxmax()),
                 cluster_counts.sum(), *T1_RANGE))


if __name__ == "__main__":
    main()
