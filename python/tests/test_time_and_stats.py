"""The start of a recording as wall-clock time, written and localised in a
time zone, and the statistics of windows of records: compared with numpy's
and with those that rvx prints."""

import datetime
import json
import os
import subprocess

import numpy as np
import pytest

import kdrvx
from rvx_files import TestChannel, TestRecording, current_header, write

UTC = datetime.timezone.utc
PLUS_TWO = datetime.timezone(datetime.timedelta(hours=2))
TEN_MINUTES_US = 600_000_000


def recording(path, start, records=13, interval=TEN_MINUTES_US):
    with kdrvx.create(path, ["p1"], scan_interval_us=interval, start=start) as writer:
        writer.append(np.arange(records, dtype=np.float32).reshape(-1, 1))
    return path


class TestStart:
    @pytest.mark.parametrize("start, tz, wall", [
        (datetime.datetime(2023, 7, 1, 12, 0, 5), None, datetime.datetime(2023, 7, 1, 12, 0, 5)),
        (datetime.datetime(2023, 7, 1, 12, 0, 5), "America/New_York",
         datetime.datetime(2023, 7, 1, 12, 0, 5)),  # naive: already the recorder's wall time
        (datetime.datetime(2023, 7, 1, 10, 0, tzinfo=UTC), "Europe/Berlin",
         datetime.datetime(2023, 7, 1, 12, 0)),
        (datetime.datetime(2023, 1, 1, 10, 0, tzinfo=UTC), "Europe/Berlin",
         datetime.datetime(2023, 1, 1, 11, 0)),
        (datetime.datetime(2023, 7, 1, 12, 0, tzinfo=PLUS_TWO), UTC,
         datetime.datetime(2023, 7, 1, 10, 0)),
    ])
    def test_written_as_wall_clock_time(self, tmp_path, start, tz, wall):
        with kdrvx.create(tmp_path / "s.rvx", ["p1"], scan_interval_us=1000, start=start, tz=tz):
            pass
        with kdrvx.open(tmp_path / "s.rvx") as opened:
            assert (opened.header.start, opened.header.start_has_seconds) == (wall, True)

    @pytest.mark.parametrize("arguments, message", [
        (dict(start=datetime.datetime(2023, 7, 1, 12, tzinfo=UTC)), "name the .* zone with tz="),
        (dict(start=datetime.date(2023, 7, 1), tz="UTC"), "a date without a time of day"),
        (dict(tz="Europe/Berlin"), "no start was given"),
        (dict(start=datetime.datetime(2023, 7, 1, 12, 0, 0, 5, tzinfo=UTC), tz="Europe/Berlin"),
         "microseconds"),
        (dict(start=datetime.datetime(2023, 7, 1, 12), tz="Europe/Nowhere"), "unknown time zone"),
    ])
    def test_refused_before_anything_is_written(self, tmp_path, arguments, message):
        with pytest.raises(ValueError, match=message):
            kdrvx.create(tmp_path / "s.rvx", ["p1"], scan_interval_us=1000, **arguments)
        assert os.listdir(tmp_path) == []

    def test_a_start_of_whole_minutes(self, tmp_path):
        path = write(tmp_path / "m.rvx", current_header(TestRecording(
            second=255, channels=[TestChannel(letter="p", index=1)])))
        with kdrvx.open(path) as opened:
            h = opened.header
        assert h.time_text.count(":") == 1 and not h.start_has_seconds
        assert h.start is not None and h.start.second == 0


class TestTimeZones:
    def test_through_the_autumn_change_the_hour_comes_twice(self, tmp_path):
        pytest.importorskip("pandas")
        path = recording(tmp_path / "autumn.rvx", datetime.datetime(2023, 10, 29, 1, 30))
        with kdrvx.open(path) as opened:
            index = opened.to_pandas(datetime_index=True, tz="Europe/Berlin").index
            blocks = [frame.index for frame in opened.iter_blocks(
                3, start=7, frames=True, datetime_index=True, tz="Europe/Berlin")]
            by_object = opened.to_pandas(datetime_index=True, tz=kdrvx._conversions.zone(
                "Europe/Berlin")).index
        shown = [stamp.isoformat() for stamp in index]
        assert shown[0] == "2023-10-29T01:30:00+02:00"
        assert shown[6] == "2023-10-29T02:30:00+02:00" and shown[12] == "2023-10-29T02:30:00+01:00"
        assert (index[1:] - index[:-1] == datetime.timedelta(minutes=10)).all()
        assert [stamp for block in blocks for stamp in block] == list(index[7:])
        assert list(by_object) == list(index)

    def test_through_the_spring_change_the_hour_is_skipped(self, tmp_path):
        pytest.importorskip("pandas")
        path = recording(tmp_path / "spring.rvx", datetime.datetime(2023, 3, 26, 1, 30), records=7)
        with kdrvx.open(path) as opened:
            index = opened.to_pandas(datetime_index=True, tz="Europe/Berlin").index
        assert [stamp.strftime("%H:%M%z") for stamp in index[2:5]] == [
            "01:50+0100", "03:00+0200", "03:10+0200"]

    @pytest.mark.parametrize("start, message", [
        (datetime.datetime(2023, 10, 29, 2, 30), r"ambiguous .*2023-10-29T02:30:00\+02:00 or "
                                                 r"2023-10-29T02:30:00\+01:00"),
        (datetime.datetime(2023, 3, 26, 2, 30), "does not exist"),
    ])
    def test_a_start_the_zone_shows_twice_or_never(self, tmp_path, start, message):
        pytest.importorskip("xarray")
        path = recording(tmp_path / "s.rvx", start, records=2)
        with kdrvx.open(path) as opened:
            for method in (lambda: opened.to_pandas(datetime_index=True, tz="Europe/Berlin"),
                           lambda: opened.to_xarray(tz="Europe/Berlin")):
                with pytest.raises(ValueError, match=message):
                    method()
            placed = opened.to_pandas(datetime_index=True, tz=PLUS_TWO).index
            with pytest.raises(ValueError, match="datetime_index=True"):
                opened.to_pandas(tz="Europe/Berlin")
            with pytest.raises(ValueError, match="unknown time zone"):
                opened.to_pandas(datetime_index=True, tz="Europe/Nowhere")
        assert placed[0] == datetime.datetime.combine(start.date(), start.time(), PLUS_TWO)

    def test_a_dataset_holds_utc_and_names_the_zone(self, tmp_path):
        xarray = pytest.importorskip("xarray")
        path = recording(tmp_path / "autumn.rvx", datetime.datetime(2023, 10, 29, 1, 30))
        with kdrvx.open(path) as opened:
            dataset = opened.to_xarray(start=8, tz="Europe/Berlin")
        assert dataset.attrs["timezone"] == "Europe/Berlin"
        assert dataset["datetime"].attrs["timezone"] == "UTC"
        assert dataset["datetime"].values.tolist() == [
            np.datetime64("2023-10-29T00:50:00", "ns").astype(int) + k * TEN_MINUTES_US * 1000
            for k in range(5)]
        pytest.importorskip("h5netcdf")
        dataset.to_netcdf(tmp_path / "a.nc", engine="h5netcdf")
        with xarray.open_dataset(tmp_path / "a.nc", engine="h5netcdf") as stored:
            assert stored.load().identical(dataset)


# Bit fields of an 8-bit multichannel, and a channel of NaN, infinities and
# values whose sums are exact in double precision.
BITS = (np.arange(12, dtype=np.uint32) * 37) % 256
VALUES = np.array([1.5, np.nan, -2.25, np.inf, 8.0, 0.5, -np.inf, 3.75, np.nan, 1e3, -7.5, 0.25],
                  dtype=np.float32)


@pytest.fixture
def mixed(tmp_path):
    records = np.empty((12, 3), dtype=np.float32)
    records[:, 0] = VALUES
    records[:, 1] = np.nan
    records[:, 2] = kdrvx.bits_as_float32(BITS)
    channels = [{"variable": "p1", "unit": "bar"}, "T1", {"variable": "D1", "multichannel_bits": 8}]
    with kdrvx.create(tmp_path / "mixed.rvx", channels, scan_interval_us=1000) as writer:
        writer.append(records)
    return tmp_path / "mixed.rvx", records


def numpy_statistics(column):
    values = column.astype(np.float64)
    finite = values[np.isfinite(values)]
    counts = (len(values), len(finite), int(np.isnan(values).sum()), int(np.isinf(values).sum()))
    if not len(finite):
        return counts, (None,) * 5
    n = len(finite)
    mean = finite.sum() / n
    return counts, (finite.min(), finite.max(), mean, np.sqrt((finite * finite).sum() / n),
                    np.sqrt(((finite - mean) ** 2).sum() / n))


class TestStatistics:
    @pytest.mark.parametrize("start, stop", [(0, None), (-5, None), (2, -3), (-100, 4), (7, 7)])
    def test_as_numpy_computes_them(self, mixed, start, stop):
        path, records = mixed
        found = kdrvx.stats(path, start=start, stop=stop)
        window = records[start:stop]
        assert list(found) == ["p1", "T1", "D1"]
        assert found["p1"].unit == "bar" and found["T1"].bits == ()
        for at, figures in enumerate(found.values()):
            counts, (low, high, mean, rms, sd) = numpy_statistics(window[:, at])
            assert (figures.records, figures.finite, figures.nan, figures.inf) == counts
            assert (figures.min, figures.max, figures.rms) == (low, high, rms)
            if mean is None:
                assert (figures.mean, figures.sd) == (None, None)
            else:
                assert figures.mean == pytest.approx(mean, rel=1e-15, abs=1e-300)
                assert figures.sd == pytest.approx(sd, rel=1e-12, abs=1e-300)
        bits = window[:, 2].view(np.uint32)
        assert found["D1"].bits == tuple(int((bits >> k & 1).sum()) for k in range(8))

    def test_channels_by_label_variable_or_index_in_the_order_given(self, mixed):
        path, _ = mixed
        found = kdrvx.stats(path, channels=["D1", 0])
        assert list(found) == ["D1", "p1"] and found["p1"] == kdrvx.stats(path)["p1"]

    def test_findings_refused_and_warned_as_read_does(self, mixed, tmp_path):
        path, records = mixed
        with open(path, "ab") as file:
            file.write(b"\0\0")  # a partial record
        with pytest.warns(kdrvx.RvxWarning, match="partial trailing record"):
            assert kdrvx.stats(path)["p1"].records == len(records)
        (tmp_path / "cut.rvx").write_bytes(path.read_bytes()[:100])
        with pytest.raises(kdrvx.RvxError, match="ends inside its header"):
            kdrvx.stats(tmp_path / "cut.rvx")


def rvx_with_stats():
    rvx = os.environ.get("KDRVX_RVX")
    if not rvx:
        pytest.skip("KDRVX_RVX names no rvx program (the build sets it)")
    if subprocess.run([rvx, "stats", "--help"], capture_output=True, timeout=30).returncode:
        pytest.skip("%s has no stats subcommand" % rvx)
    return rvx


@pytest.mark.parametrize("records, first, stop", [([], 0, None), (["--records", "2:7"], 2, 8)])
def test_the_same_numbers_as_rvx_stats(mixed, records, first, stop):
    rvx = rvx_with_stats()
    path, _ = mixed
    run = subprocess.run([rvx, "stats", "--json", *records, str(path)], capture_output=True,
                         text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    (printed,) = json.loads(run.stdout)
    found = kdrvx.stats(path, start=first, stop=stop)
    assert (printed["file"], printed["first_record"]) == (str(path), first)
    assert [channel["channel"] for channel in printed["channels"]] == list(found)
    for channel in printed["channels"]:
        ours = found[channel["channel"]]
        assert printed["records"] == ours.records
        assert channel == dict(channel=ours.channel, unit=ours.unit, finite=ours.finite,
                               nan=ours.nan, inf=ours.inf, min=ours.min, max=ours.max,
                               mean=ours.mean, rms=ours.rms, sd=ours.sd,
                               **({"bits": list(ours.bits)} if ours.bits else {}))
