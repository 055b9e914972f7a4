"""An archive of many short recordings, analysed on a Dask cluster and in a
plain loop: the maximum of p1 in every recording and a histogram of T1 over
all of them. Prints the time each takes; both must give the same answer.

    KDRVX_LIBRARY=build/ci/src/libkdrvx.so PYTHONPATH=python python3 examples/archive.py

With --scheduler-file it runs on a cluster started by hand instead of a
LocalCluster of its own (``dask scheduler --scheduler-file FILE``, then
``dask worker --scheduler-file FILE`` on each machine); the workers must
see the archive's temporary directory under the same path (--folder names
a shared one).

Needs numpy, pandas, dask and distributed (Debian: python3-numpy
python3-pandas python3-dask python3-distributed).
"""

import argparse
import contextlib
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
    """p1's maximum and T1's histogram of each recording in one partition
    (many short recordings, or a block of a large one), a row each: the
    reading and the summary of a partition are one task, and only the rows
    travel."""
    rows = []
    for path, records in part.groupby("path", sort=False):
        counts = np.histogram(records["T1"], bins=T1_BINS, range=T1_RANGE)[0]
        row = {"path": path, "p1 max": records["p1"].max()}
        row.update(("T1 %d" % at, count) for at, count in enumerate(counts))
        rows.append(row)
    columns = ["path", "p1 max"] + ["T1 %d" % at for at in range(T1_BINS)]
    return pandas.DataFrame(rows, columns=columns).astype(
        {"p1 max": np.float32, **{"T1 %d" % at: np.int64 for at in range(T1_BINS)}})


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
    parser.add_argument("--workers", type=int, default=2,
                        help="worker processes of the LocalCluster")
    parser.add_argument("--scheduler-file",
                        help="the scheduler file of a cluster started by hand, instead of a "
                             "LocalCluster")
    parser.add_argument("--folder", help="where to write the archive (default: a temporary "
                                         "directory, removed at the end)")
    options = parser.parse_args()

    with contextlib.ExitStack() as stack:
        folder = options.folder or stack.enter_context(
            tempfile.TemporaryDirectory(prefix="kdrvx-archive-"))
        if options.scheduler_file:
            client = stack.enter_context(distributed.Client(scheduler_file=options.scheduler_file))
            where = "cluster of %d workers" % len(client.scheduler_info()["workers"])
        else:
            cluster = stack.enter_context(distributed.LocalCluster(
                n_workers=options.workers, threads_per_worker=1, dashboard_address=None))
            client = stack.enter_context(distributed.Client(cluster))
            where = "LocalCluster, %d worker processes" % options.workers
        workers = max(1, len(client.scheduler_info()["workers"]))
        # Each worker process writes its share of the archive.
        began = time.perf_counter()
        shares = [range(first, options.recordings, workers) for first in range(workers)]
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
        print("  %-34s %6.2f s" % (where + ":", on_cluster))
        print("  %-34s %6.2f s" % ("plain loop, one process:", in_loop))
        print("highest p1: %.3f bar in %s; %d values of T1 within %g..%g K"
              % (cluster_maxima.max(), os.path.basename(cluster_maxima.idxmax()),
                 cluster_counts.sum(), *T1_RANGE))


if __name__ == "__main__":
    main()
