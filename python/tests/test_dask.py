"""Archives of recordings read with kdrvx.dask, on worker processes and on
threads, against reading each file alone."""

import datetime
import os
import sys
import warnings

import numpy as np
import pytest

import kdrvx

pandas = pytest.importorskip("pandas")
pytest.importorskip("dask.dataframe")
distributed = pytest.importorskip("distributed")
import dask  # noqa: E402
import kdrvx.dask  # noqa: E402

CHANNELS = [{"variable": "p1", "unit": "bar"}, {"variable": "T1", "unit": "K"},
            {"variable": "D1", "multichannel_bits": 8}]
RECORDINGS = 210
# Small, so that the smaller recordings of the archive share partitions and
# the larger ones span several.
PARTITION_SIZE = 13000


def make(path, records, channels=CHANNELS, seed=0, **options):
    values = np.random.default_rng(seed).normal(size=(records, len(channels))).astype(np.float32)
    for at, channel in enumerate(channels):
        if isinstance(channel, dict) and channel.get("multichannel_bits"):
            values[:, at] = kdrvx.bits_as_float32(np.arange(records) % 256)
    with kdrvx.create(path, channels=channels, scan_interval_us=500 + seed, **options) as writer:
        if records:  # Writer.append divides by the stride of an empty array, which is 0
            writer.append(values)
    return str(path)


@pytest.fixture(scope="module")
def archive(tmp_path_factory):
    """RECORDINGS good recordings of 0 to 50 records and one of 2,000, one whose last record is
    cut short (the data end before its header's count), and one damaged
    file; returns the good ones, the cut one and the damaged one."""
    folder = tmp_path_factory.mktemp("archive")
    # Files of a temporary folder need not reach the disk: without the
    # writer's flush they are made several times faster, with the same bytes.
    with pytest.MonkeyPatch.context() as patch:
        patch.setattr(os, "fsync", lambda descriptor: None)
        good = [make(folder / ("run%03d.rvx" % number), number % 51, seed=number,
                     start=datetime.datetime(2026, 3, 1 + number % 28, 8, 0, number % 60),
                     comment="run %d" % number) for number in range(RECORDINGS)]
        good.append(make(folder / "run999.rvx", 2000, seed=999))
    cut = folder / "cut.rvx"
    make(cut, 40, seed=7)
    cut.write_bytes(cut.read_bytes()[:-6])
    damaged = folder / "damaged.rvx"
    damaged.write_bytes(b"not a recording at all, " * 40)
    return good, str(cut), str(damaged)


@pytest.fixture(scope="module")
def cluster():
    """Two worker processes of two threads each, as the default scheduler."""
    with distributed.LocalCluster(n_workers=2, threads_per_worker=2, processes=True,
                                  dashboard_address=None) as local, \
            distributed.Client(local) as client:
        yield client


def alone(path, channels=None):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore", kdrvx.RvxWarning)
        with kdrvx.open(path) as recording:
            return recording.header, recording.channels, recording.to_pandas(channels=channels)


def assert_as_read_alone(frame, paths, channels=None):
    frame = frame.compute()
    expected = {path: alone(path, channels)[2] for path in paths}
    assert frame["path"].unique().tolist() == [path for path in paths if len(expected[path])]
    parts = dict(list(frame.groupby("path", sort=False)))
    for path in paths:
        got = parts.get(path, frame.iloc[:0]).drop(columns="path")
        pandas.testing.assert_frame_equal(got, expected[path], check_index_type=False)


def test_catalogue_on_worker_processes(archive, cluster):
    good, cut, damaged = archive
    table = kdrvx.dask.catalogue(good + [cut, damaged])
    # The headers were read in the worker processes, with libraries of their own.
    assert any(cluster.run(lambda: "kdrvx.dask" in sys.modules).values())
    assert table["path"].tolist() == good + [cut, damaged]
    row = table.set_index("path").loc[damaged]
    assert "ERR_RVX_INVALID_HEADER" in row["error"] and damaged in row["error"]
    assert row[["layout", "records", "start", "comment"]].isna().all()
    for path in good + [cut]:
        header, channels, _ = alone(path)
        row = table.set_index("path").loc[path]
        assert row["error"] is None
        assert (row["layout"], row["records"], row["scan_interval_us"], row["start"],
                row["comment"], row["channels"]) == (
            header.version, header.record_count, header.scan_interval_us,
            pandas.Timestamp(header.start), header.comment,
            tuple(channel.label for channel in channels))
        assert row["units"] == tuple(channel.unit for channel in channels)
        assert row["duration_s"] == header.duration_s


def test_read_recordings_on_worker_processes(archive, cluster):
    good, cut, _ = archive
    paths = good + [cut]
    frame = kdrvx.dask.read_recordings(paths, partition_size=PARTITION_SIZE)
    sizes = [os.path.getsize(path) for path in paths]
    # Small files share partitions, the largest are cut into blocks.
    assert min(sizes) < PARTITION_SIZE // 2 and max(sizes) > PARTITION_SIZE
    assert sum(sizes) // PARTITION_SIZE <= frame.npartitions < len(paths)
    assert frame.dtypes.tolist() == [object, np.float32, np.float32, np.uint32]
    assert_as_read_alone(frame, paths)
    # Only the columns asked for are read.
    assert_as_read_alone(frame[["path", "D1", "p1"]], paths, ["D1", "p1"])


@pytest.mark.filterwarnings("ignore::kdrvx.RvxWarning")  # the cut recording, read here
def test_path_as_index(archive, cluster):
    """Known divisions: a file's records lie in one partition, found without
    reading the others."""
    good, cut, _ = archive
    paths = good[::-3] + [cut]
    frame = kdrvx.dask.read_recordings(paths, partition_size=PARTITION_SIZE, index="path")
    assert frame.known_divisions and frame.npartitions > 1
    assert frame.columns.tolist() == ["time [s]", "p1", "T1", "D1"]
    assert frame.loc[good[30]].npartitions == 1
    for path in [good[30], cut]:
        expected = alone(path)[2].reset_index()
        got = frame.loc[path].compute().reset_index(drop=True)
        pandas.testing.assert_frame_equal(got, expected, check_index_type=False)
    assert frame.index.compute().tolist() == sorted(
        path for path in paths for _ in range(len(alone(path)[2])))


@pytest.mark.filterwarnings("ignore::kdrvx.RvxWarning")  # the cut recording, read here
def test_threaded_scheduler(archive):
    """Threads of one process, each task with a recording of its own open at
    the same time as the others'."""
    good, cut, damaged = archive
    paths = good[::10] + [cut]
    with dask.config.set(scheduler="threads", num_workers=4):
        table = kdrvx.dask.catalogue(paths + [damaged])
        assert table["error"].notna().tolist() == [False] * len(paths) + [True]
        assert_as_read_alone(kdrvx.dask.read_recordings(paths, partition_size=300), paths)
        # Superseded, but still a block of that many records of the first file at most.
        with pytest.warns(DeprecationWarning, match="superseded by partition_size"):
            blocks = kdrvx.dask.read_recordings(paths[1:2], partition_records=8)
        assert blocks.npartitions == -(-alone(paths[1])[0].record_count // 8)
        assert_as_read_alone(blocks, paths[1:2])


def test_channel_sets_refused_or_aligned(tmp_path, archive):
    first = make(tmp_path / "a.rvx", 5, CHANNELS[:2])
    other = make(tmp_path / "b.rvx", 6, [CHANNELS[0], {"variable": "T2", "unit": "K"}, CHANNELS[2]],
                 seed=1)
    (tmp_path / "elsewhere").mkdir()  # not among tmp_path/*.rvx
    millibar = make(tmp_path / "elsewhere" / "c.rvx", 2, [{"variable": "p1", "unit": "mbar"}])
    with dask.config.set(scheduler="sync"):
        for paths, options, message in [
            ([first, other], {}, other + " lacks T1 and has T2, D1, compared with the "
             "first recording " + first),
            ([first, millibar], {"align": True}, "channel p1 is in 'bar' in %s but in 'mbar' in %s"
             % (first, millibar)),
            ([first, other], {"channels": "T1"}, other + " has no channel T1"),
            ([first, archive[2]], {}, "recording %s cannot be read: RvxError: KDRVX_ReaderOpen: "
             "0xE1000002 ERR_RVX_INVALID_HEADER" % archive[2]),
            ([first, archive[2]], {"align": True}, "recording %s cannot be read: RvxError: "
             "KDRVX_ReaderOpen: 0xE1000002 ERR_RVX_INVALID_HEADER" % archive[2]),
        ]:
            # Refused when the records are read, in the task that opens the file.
            with pytest.raises(ValueError) as refused:
                kdrvx.dask.read_recordings(paths, **options).compute()
            assert message in str(refused.value)

        pressures = kdrvx.dask.read_recordings(str(tmp_path / "*.rvx"), channels=["p1"])
        assert_as_read_alone(pressures, [first, other], ["p1"])

        aligned = kdrvx.dask.read_recordings([first, other], align=True).compute()
        assert aligned.columns.tolist() == ["path", "p1", "T1", "T2", "D1"]
        assert aligned.dtypes.tolist() == [object] + [np.float32] * 3 + [np.float64]
        for path, lacking in [(first, ["T2", "D1"]), (other, ["T1"])]:
            part = aligned[aligned["path"] == path].drop(columns=["path"] + lacking)
            assert np.isnan(aligned.loc[aligned["path"] == path, lacking]).all(axis=None)
            pandas.testing.assert_frame_equal(part, alone(path)[2], check_dtype=False)
