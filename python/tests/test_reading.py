"""Reading files through the binding: header and channel fields, records of
every record kind as numpy arrays, channel selection, bit fields, DataFrames,
and what a file claims compared with what it holds."""

import datetime
import struct
import sys
import warnings

import numpy as np
import pytest

import kdrvx
from rvx_files import (TestChannel, TestRecording, current_header, dos_before_50_header, dos_records,
                       generate, win2_header, write)


def full_recording(**overrides):
    r = TestRecording(
        second=7, records=5, trigger_record=3, scan_rate=2500, flags=1, flag_statistics=3,
        comment="first line\r\nsecond line", company="ACME Corp", instrument="Recorder 8",
        snr_instrument="SN-0042", name_measurement="run 7", trigger_setting="p1 > 2 bar")
    r.channels = [
        TestChannel(letter="p", index=1, unit="bar", name="inlet", number="3", signal_type="4-20 mA",
                    zero_point="0.1", cal_parameter="0..10 bar", filter="10 Hz", lintab="0 0; 10 100",
                    ind_rate=1, minimum=-1.5, maximum=9.25, mean=2.0, rms=3.0, isds=1, linearisation=1),
        TestChannel(letter="p", prefix="d", index=12, unit="\u00c2\u00b0C", minimum=20.0, maximum=30.0,
                    mean=25.0, rms=25.5, ind_rate=4),
        # The statistics of bit fields, kept as if they were floats.
        TestChannel(letter="D", index=2, multichannel=16, minimum=1.4e-45, maximum=2.1e-44,
                    mean=1e-44, rms=1.2e-44),
    ]
    for key, value in overrides.items():
        setattr(r, key, value)
    return r


RECORDS = np.array([[1.0, 20.0, 0.0],
                    [2.5, 21.0, 0.0],
                    [-1.5, 30.0, 0.0],
                    [9.25, 25.0, 0.0],
                    [0.0, 24.0, 0.0]], dtype=np.float32)
# Bit fields in the multichannel column, among them patterns that are NaN as floats.
BITS = np.array([0x0000FFFF, 0x7FC00001, 0xFFFFFFFF, 0x00000001, 0x7F800001], dtype=np.uint32)


@pytest.fixture
def current_file(tmp_path):
    records = RECORDS.copy()
    records[:, 2] = BITS.view(np.float32)
    return write(tmp_path / "full.rvx", current_header(full_recording()), records.tobytes())


def data_area(path, channels):
    """The records on disk, read without the library."""
    return np.fromfile(path, dtype="<f4", offset=1500 + 1400 * channels).reshape(-1, channels)


class TestFields:
    def test_every_header_and_channel_field(self, current_file):
        with kdrvx.open(current_file) as recording:
            h = recording.header
            p1, dp12, d2 = recording.channels
        assert h == kdrvx.Header(
            version=ord("s"), original=True, start=datetime.datetime(2004, 7, 3, 9, 5, 7),
            start_has_seconds=True, date_text="03.07.2004", time_text="09:05:07", scan_interval_us=2500,
            record_count=5, trigger_record=3, statistics=3, comment="first line\r\nsecond line",
            company="ACME Corp", instrument="Recorder 8", serial_number="SN-0042",
            measurement_name="run 7", trigger_setting="p1 > 2 bar")
        assert p1 == kdrvx.Channel(
            index=0, variable="p1", label="p1", unit="bar", name="inlet", number="3", signal_type="4-20 mA",
            range="0..10 bar", zero_point="0.1", filter="10 Hz", linearisation_table="0 0; 10 100",
            individual_rate=1, isds=True, linearisation=True, multichannel_bits=0,
            minimum=-1.5, maximum=9.25, mean=2.0, rms=3.0)
        assert (dp12.index, dp12.variable, dp12.unit, dp12.label) == (1, "dp12", "\u00b0C", "dp12")
        assert (dp12.individual_rate, dp12.isds, dp12.linearisation) == (4, False, False)
        assert (d2.variable, d2.label, d2.multichannel_bits, d2.is_multichannel) == ("D2", "D2", 16, True)
        assert not p1.is_multichannel

    def test_reprs(self, current_file, tmp_path):
        with kdrvx.open(current_file) as recording:
            assert repr(recording.channels[0]) == "<kdrvx.Channel 0 p1 [bar], 'inlet', range " \
                "'0..10 bar'>"
            assert repr(recording.channels[2]) == "<kdrvx.Channel 2 D2, multichannel of 16 bits>"
        assert repr(recording) == "<kdrvx.Recording %r: layout 115 (record kind current), 5 " \
            "records x 3 channels (p1 [bar], dp12 [\u00b0C], D2), 0.0125 s from 2004-07-03 " \
            "09:05:07, closed>" % str(current_file)
        variables = ["p%d" % k for k in range(1, 11)]
        with kdrvx.create(tmp_path / "new.rvx", variables, scan_interval_us=500) as writer:
            writer.append(np.zeros((3, 10), dtype=np.float32))
            assert repr(writer) == "<kdrvx.Writer %r: current layout, 3 records x 10 channels " \
                "(p1, p2, p3, p4, p5, p6, p7, p8, ... 2 more), 0.0015 s, open>" % writer.path

    def test_duration_is_the_record_count_times_the_scan_interval(self, tmp_path):
        path = tmp_path / "ten.rvx"
        with kdrvx.create(path, ["p1"], scan_interval_us=1000) as writer:
            writer.append(np.zeros((10_000, 1), dtype=np.float32))
            assert repr(writer).endswith(", 10 s, open>")
        with kdrvx.open(path) as recording:
            assert recording.header.duration_s == 10.0
            assert ", 10 s from " in repr(recording)

    def test_time_without_seconds_scan_rate_in_milliseconds_and_copy_mark(self, tmp_path):
        r = full_recording(second=255, scan_rate=5, flags=0, original_flag=ord("X"), day=0, month=0,
                           year=0)
        with kdrvx.open(write(tmp_path / "f.rvx", current_header(r))) as recording:
            h = recording.header
        assert (h.start, h.start_has_seconds) == (None, False)
        assert (h.date_text, h.time_text) == ("00.00.   0", "09:05")
        assert (h.scan_interval_us, h.original) == (5000, False)

    @pytest.mark.parametrize("flag, expected", [
        (0, (None, None, None, None)), (1, (-1.5, 9.25, None, None)), (3, (-1.5, 9.25, 2.0, 3.0))])
    def test_statistics_where_valid_and_never_of_bit_fields(self, tmp_path, flag, expected):
        header = current_header(full_recording(flag_statistics=flag))
        with kdrvx.open(write(tmp_path / "f.rvx", header)) as rec:
            p1, _, d2 = rec.channels
        assert (p1.minimum, p1.maximum, p1.mean, p1.rms) == expected
        assert (d2.minimum, d2.maximum, d2.mean, d2.rms) == (None, None, None, None)


class TestRecords:
    def test_whole_file_is_the_data_area_bit_for_bit(self, current_file):
        with kdrvx.open(current_file) as recording:
            values = recording.read()
            assert recording.record_kind == "current"
        assert values.dtype == np.float32 and values.shape == (5, 3)
        assert values.flags.c_contiguous
        assert values.tobytes() == data_area(current_file, 3).tobytes()
        assert values[:, 2].view(np.uint32).tolist() == BITS.tolist()

    def test_channels_by_name_and_index_in_the_order_given(self, current_file):
        with kdrvx.open(current_file) as recording:
            chosen = recording.read(channels=["dp12", 0])
            single = recording.read(channels="p1")
            with pytest.raises(KeyError):
                recording.read(channels=["T9"])
            with pytest.raises(IndexError):
                recording.read(channels=[3])
        np.testing.assert_array_equal(chosen, RECORDS[:, [1, 0]])
        assert single.shape == (5, 1)
        np.testing.assert_array_equal(single[:, 0], RECORDS[:, 0])

    def test_start_and_count_in_any_order_a_negative_start_from_the_end(self, current_file):
        with kdrvx.open(current_file) as recording:
            pieces = [recording.read(0, 2), recording.read(2, 2), recording.read(4)]
            later = recording.read(3, 1)
            earlier = recording.read(1, 2, channels=[0])
            beyond = recording.read(7)
            last_two = recording.read(-2)
            before_the_first = recording.read(-99, 1)
            last_times = recording.times(-2)
        np.testing.assert_array_equal(np.concatenate(pieces)[:, :2], RECORDS[:, :2])
        np.testing.assert_array_equal(later[:, :2], RECORDS[3:4, :2])
        np.testing.assert_array_equal(earlier[:, 0], RECORDS[1:3, 0])
        assert beyond.shape == (0, 3)
        assert last_two.tobytes() == data_area(current_file, 3)[3:].tobytes()
        assert last_two.tobytes() == kdrvx.read(current_file, start=-2).tobytes()
        np.testing.assert_array_equal(before_the_first[:, :2], RECORDS[:1, :2])
        np.testing.assert_allclose(last_times, [0.0075, 0.01])

    def test_reading_on_while_the_file_grows(self, tmp_path):
        # Another program appends records to the file while it is open here;
        # the last record is only half written at the first read.
        records = np.arange(15, dtype=np.float32).reshape(5, 3)
        data = records.tobytes()
        path = write(tmp_path / "f.rvx", current_header(full_recording(records=5)), data[:2 * 12 + 5])
        with pytest.warns(kdrvx.RvxWarning, match="counts 5 records, the data holds only 2 whole"):
            recording = kdrvx.open(path)
        with recording:
            np.testing.assert_array_equal(recording.read(), records[:2])
            with path.open("ab") as grown:
                grown.write(data[2 * 12 + 5:])
            np.testing.assert_array_equal(recording.read(2), records[2:])

    def test_large_reads_cross_block_boundaries(self, tmp_path, monkeypatch):
        monkeypatch.setattr(kdrvx.reading, "_BLOCK_BYTES", 12 * 7)  # 7 records of 3 channels
        records = np.arange(3 * 100, dtype=np.float32).reshape(100, 3)
        path = write(tmp_path / "f.rvx", current_header(full_recording(records=100)), records.tobytes())
        with kdrvx.open(path) as recording:
            np.testing.assert_array_equal(recording.read(), records)
            np.testing.assert_array_equal(recording.read(45, 30, channels=[2, 0]), records[45:75][:, [2, 0]])
            np.testing.assert_array_equal(recording.read(90, 50), records[90:])


class TestMappedRecords:
    @pytest.mark.parametrize("selection", [
        {}, {"start": 1, "count": 2}, {"start": 3}, {"count": 10}, {"start": 7}, {"count": 0},
        {"channels": "dp12"}, {"channels": [0, 2]}, {"channels": ["p1", "dp12"]}, {"channels": []}])
    def test_a_view_of_the_records_read_delivers(self, current_file, selection):
        with kdrvx.open(current_file) as recording:
            expected = recording.read(**selection)
            view = recording.read(mmap=True, **selection)
        # The view outlives the Recording: it holds a mapping of its own.
        assert view.dtype == np.float32 and view.shape == expected.shape
        assert view.tobytes() == expected.tobytes()
        assert isinstance(view, np.memmap) or view.size == 0
        assert not view.flags.writeable
        with pytest.raises(ValueError, match="read-only"):
            view[...] = 0
        assert view.tobytes() == expected.tobytes()

    def test_refused_where_a_view_would_be_a_copy_or_a_lie(self, tmp_path, current_file):
        dos = write(tmp_path / "dos.rvx", dos_before_50_header(100, [("p", 1)]),
                    dos_records([[(1, 0)]]))
        r = TestRecording(version=ord("R"), original_flag=ord("W"), records=1, scan_rate=100)
        r.channels = [TestChannel(letter="p", code=1, ind_rate=1)]
        win2 = write(tmp_path / "w2.rvx", win2_header(r), struct.pack("<f", 1))
        for path, kind in [(dos, "dos"), (win2, "sparse")]:
            with kdrvx.open(path) as recording:
                with pytest.raises(ValueError, match="in the %s kind, which the library" % kind):
                    recording.read(mmap=True)
        with kdrvx.open(current_file) as recording:
            for channels in ([2, 0], [0, 0], [0, 1, 1], ["dp12", "p1"]):
                with pytest.raises(ValueError, match="would need a copy"):
                    recording.read(channels=channels, mmap=True)


class TestClaimsAgainstContents:
    def test_a_file_that_ends_inside_its_header_is_no_recording(self, current_file):
        cut = write(current_file.with_name("cut.rvx"), current_file.read_bytes()[:1000])
        with pytest.raises(kdrvx.RvxError, match=r"ends inside its header \(1000 of 5700 "
                           r"bytes\)") as caught:
            kdrvx.open(cut)
        assert caught.value.code == kdrvx.ERR_RVX_INVALID_HEADER
        with kdrvx.open(current_file) as recording:
            assert recording.header.record_count == 5

    def test_records_beyond_the_header_count(self, tmp_path):
        # A writer that stopped after an update: the header counts 3 of 10 records.
        values = np.arange(10, dtype=np.float32).reshape(10, 1)
        writer = kdrvx.create(tmp_path / "f.rvx", channels=["p1"], scan_interval_us=500000)
        writer.append(values[:3])
        writer.update()
        writer.append(values[3:])
        writer.close(simple=True)
        with pytest.warns(kdrvx.RvxWarning, match="counts 3 records, the data holds 10 whole "
                          r"records .*read\(\.\.\., all_records=True\) includes them"):
            recording = kdrvx.open(tmp_path / "f.rvx")
        with recording, warnings.catch_warnings():
            warnings.simplefilter("error")  # said once, at the open
            assert len(recording) == 3
            assert recording.read().tobytes() == values[:3].tobytes()
            assert recording.read(mmap=True).tobytes() == values[:3].tobytes()
            assert recording.read(all_records=True).tobytes() == values.tobytes()
            mapped = recording.read(5, all_records=True, mmap=True)
            assert mapped.tobytes() == values[5:].tobytes()
            assert recording.times().tolist() == [0, 0.5, 1]
            assert recording.times(8, all_records=True).tolist() == [4, 4.5]

    @pytest.mark.parametrize("claimed", [10000, 4294967280])
    def test_a_count_beyond_the_data(self, tmp_path, claimed):
        values = np.arange(9, dtype=np.float32).reshape(3, 3)
        header = current_header(full_recording(records=claimed))
        path = write(tmp_path / "f.rvx", header, values.tobytes(), b"\0\0")  # and part of a record
        claim = "counts %d records, the data holds only 3 whole records" % claimed
        with pytest.warns(kdrvx.RvxWarning, match=claim) as said:
            recording = kdrvx.open(path)
            assert recording.read().tobytes() == values.tobytes()
        assert len(said) == 2 and "2 bytes after the last whole record" in str(said[1].message)
        with recording:
            with pytest.raises(ValueError, match="header counts %d records, but the file holds "
                               "only 3" % claimed):
                recording.read(0, 1, mmap=True)
            assert recording.times().tolist() == recording.times(all_records=True).tolist()
            assert recording.times().tolist() == [0, 0.0025, 0.005]
            assert recording.times(1, 10 ** 12).tolist() == [0.0025, 0.005]


class TestBitsAndFrames:
    def test_bits_of_a_multichannel(self, current_file):
        with kdrvx.open(current_file) as recording:
            bits = recording.bits("D2")
            tail = recording.bits(2, start=3)
            with pytest.raises(ValueError, match="not a multichannel"):
                recording.bits("p1")
        assert bits.dtype == np.uint32
        assert bits.tolist() == BITS.tolist()
        assert tail.tolist() == BITS[3:].tolist()

    def test_times_count_from_the_start_of_the_recording(self, current_file, monkeypatch):
        monkeypatch.setattr(kdrvx.reading, "_TIME_PIECE", 2)  # computed in pieces of 2
        with kdrvx.open(current_file) as recording:
            np.testing.assert_allclose(recording.times(), np.arange(5) * 0.0025)
            np.testing.assert_allclose(recording.times(2, 2), [0.005, 0.0075])

    def test_data_frame(self, current_file):
        pandas = pytest.importorskip("pandas")
        with kdrvx.open(current_file) as recording:
            frame = recording.to_pandas()
            part = recording.to_pandas(start=1, count=2, channels=["dp12"])
            mixed = recording.to_pandas(channels=["dp12", "D2", "p1", "D2"])
        assert list(frame.columns) == ["p1", "dp12", "D2"]
        assert list(mixed.columns) == ["dp12", "D2", "p1", "D2"]
        assert list(mixed.dtypes) == [np.float32, np.uint32, np.float32, np.uint32]
        assert mixed.iloc[:, 3].tolist() == mixed.iloc[:, 1].tolist() == BITS.tolist()
        np.testing.assert_array_equal(mixed.iloc[:, [2, 0]].to_numpy(), RECORDS[:, :2])
        # The float columns are one block, not copies of each column.
        assert np.may_share_memory(mixed.iloc[:, 0].to_numpy(), mixed.iloc[:, 2].to_numpy())
        assert frame.index.name == "time [s]"
        np.testing.assert_allclose(frame.index.to_numpy(), np.arange(5) * 0.0025)
        assert frame["p1"].dtype == np.float32
        np.testing.assert_array_equal(frame["p1"].to_numpy(), RECORDS[:, 0])
        assert frame["D2"].dtype == np.uint32
        assert frame["D2"].tolist() == BITS.tolist()
        assert isinstance(part, pandas.DataFrame)
        assert list(part.columns) == ["dp12"] and part.shape == (2, 1)
        np.testing.assert_allclose(part.index.to_numpy(), [0.0025, 0.005])


class TestLabelledData:
    @pytest.mark.parametrize("channels, start, stop, rows, columns", [
        (None, None, None, slice(None), slice(None)),
        ("dp12", 1, 3, slice(1, 3), [1]),
        (["D2", 0], -2, None, slice(3, None), [2, 0]),
        (None, 4, 99, slice(4, None), slice(None)),
        (None, 3, 1, slice(0), slice(None)),
    ])
    def test_read_in_one_call(self, current_file, channels, start, stop, rows, columns):
        values = kdrvx.read(current_file, channels, start, stop)
        assert values.tobytes() == data_area(current_file, 3)[rows][:, columns].tobytes()

    def test_one_name_per_channel_in_every_form(self, tmp_path):
        """Channels without a variable (the DOS kind Q) are named ch_0, ch_1,
        ...; a repeated variable gets the channel's number; names carry no unit."""
        pytest.importorskip("pandas")
        pytest.importorskip("xarray")
        header = generate({"header": {"layout": "dosq", "data_offset": 512, "records": 2,
                                      "channels": [{}, {}, {}]}})
        unnamed = write(tmp_path / "q.rvx", header,
                        dos_records([[(1, 0), (2, 0), (3, 0)], [(4, 0), (5, 0), (6, 0)]]))
        r = full_recording()
        r.channels = [TestChannel(letter="p", index=1, unit="bar"),
                      TestChannel(letter="p", index=1)]
        repeated = write(tmp_path / "p.rvx", current_header(r), RECORDS[:, :2].tobytes())
        for path, labels, unit in [(unnamed, ["ch_0", "ch_1", "ch_2"], ""),
                                   (repeated, ["p1", "p1_1"], "bar")]:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore", kdrvx.RvxWarning)  # kind Q: no RVI file
                with kdrvx.open(path) as recording:
                    frame = recording.to_pandas()
                    dataset = recording.to_xarray()
                    chosen = recording.read(channels=[labels[1]])
                    everything = recording.read()
            assert [channel.label for channel in recording.channels] == labels
            assert list(frame.columns) == list(dataset.data_vars) == labels
            assert frame.attrs["units"][labels[0]] == dataset[labels[0]].attrs["unit"] == unit
            assert chosen.tobytes() == everything[:, [1]].tobytes()

    def test_dataset_and_its_netcdf_file(self, current_file, tmp_path):
        xarray = pytest.importorskip("xarray")
        with kdrvx.open(current_file) as recording:
            dataset = recording.to_xarray()
            part = recording.to_xarray(start=3, channels=["dp12"])
            with pytest.raises(ValueError, match="once"):
                recording.to_xarray(channels=["p1", 0])
        assert list(dataset.data_vars) == ["p1", "dp12", "D2"]
        np.testing.assert_allclose(dataset["time"], np.arange(5) * 0.0025)
        assert dataset["datetime"].values.tolist() == [
            np.datetime64("2004-07-03T09:05:07").astype("datetime64[ns]").astype(int)
            + k * 2_500_000 for k in range(5)]
        assert dataset["p1"].dtype == np.float32 and dataset["D2"].dtype == np.uint32
        assert dataset["p1"].values.tobytes() == RECORDS[:, 0].tobytes()
        assert dataset["D2"].values.tolist() == BITS.tolist()
        p1, d2 = dataset["p1"].attrs, dataset["D2"].attrs
        assert {key: p1[key] for key in ("unit", "units", "name", "range", "multichannel_bits",
                                         "isds", "minimum", "long_name")} == {
            "unit": "bar", "units": "bar", "name": "inlet", "range": "0..10 bar",
            "multichannel_bits": 0, "isds": 1, "minimum": -1.5, "long_name": "p1"}
        assert d2["multichannel_bits"] == 16 and "minimum" not in d2
        assert {key: dataset.attrs[key] for key in ("start", "comment", "company", "original",
                                                    "record_kind", "scan_interval_us")} == {
            "start": "2004-07-03T09:05:07", "comment": "first line\r\nsecond line",
            "company": "ACME Corp", "original": 1, "record_kind": "current",
            "scan_interval_us": 2500}
        assert list(part.data_vars) == ["dp12"] and part["time"].values.tolist() == [0.0075, 0.01]
        pytest.importorskip("h5netcdf")
        dataset.to_netcdf(tmp_path / "full.nc", engine="h5netcdf")
        with xarray.open_dataset(tmp_path / "full.nc", engine="h5netcdf") as stored:
            assert stored.load().identical(dataset)

    def test_without_a_start_no_dates(self, tmp_path):
        pytest.importorskip("xarray")
        path = write(tmp_path / "f.rvx", current_header(full_recording(day=0, month=0)),
                     RECORDS.tobytes())
        with kdrvx.open(path) as recording:
            dataset = recording.to_xarray()
            with pytest.raises(ValueError, match="no start"):
                recording.to_pandas(datetime_index=True)
        assert "datetime" not in dataset.coords and "start" not in dataset.attrs
        assert None not in dataset.attrs.values()

    def test_data_frame_metadata_and_dates(self, current_file):
        pytest.importorskip("pandas")
        with kdrvx.open(current_file) as recording:
            frame = recording.to_pandas(start=1, channels=["D2", "p1"], datetime_index=True)
        assert frame.index.name == "time"
        assert frame.index[0].isoformat() == "2004-07-03T09:05:07.002500"
        assert (frame.attrs["company"], frame.attrs["path"]) == ("ACME Corp", str(current_file))
        assert list(frame.attrs["channels"]) == ["D2", "p1"]
        assert frame.attrs["units"] == {"D2": "", "p1": "bar"}
        assert frame.attrs["channels"]["p1"]["range"] == "0..10 bar"

    def test_works_without_pandas_and_xarray(self, current_file, monkeypatch):
        for name in ("pandas", "xarray"):
            monkeypatch.setitem(sys.modules, name, None)  # import fails
        with kdrvx.open(current_file) as recording:
            assert recording.read().shape == (5, 3)
            for method, needs in ((recording.to_pandas, "pandas"), (recording.to_xarray, "xarray")):
                with pytest.raises(ImportError, match=needs):
                    method()


class TestBlocks:
    @pytest.mark.parametrize("records, start, count, channels", [
        (2, 0, None, None), (1, 1, 3, ["D2", "p1"]), (5, 0, None, ["dp12"]), (9, 2, None, None),
    ])
    def test_blocks_are_what_read_and_to_pandas_deliver(self, current_file, monkeypatch, records,
                                                        start, count, channels):
        pandas = pytest.importorskip("pandas")
        with kdrvx.open(current_file) as recording:
            whole = recording.read(start, count, channels)
            frame = recording.to_pandas(start, count, channels)
            calls, function = [], kdrvx.reading.reader_function
            read = function("KDRVX_ReaderRead")

            def counted(reader, first, count, records):
                calls.append(count)
                return read(reader, first, count, records)
            monkeypatch.setattr(kdrvx.reading, "reader_function", lambda name: (
                counted if name == "KDRVX_ReaderRead" else function(name)))
            blocks = list(recording.iter_blocks(records, start, count, channels))
            frames = list(recording.iter_blocks(records, start, count, channels, frames=True))
        sizes = [len(block) for block in blocks]
        assert all(size == records for size in sizes[:-1]) and 0 < sizes[-1] <= records
        assert np.concatenate(blocks).tobytes() == whole.tobytes()
        # Each record is read once, in one call per block.
        assert calls == sizes * 2
        pandas.testing.assert_frame_equal(pandas.concat(frames), frame)

    def test_a_file_short_of_its_count_warns_once_and_bad_sizes_are_refused(self, tmp_path):
        r = TestRecording(records=4)
        r.channels = [TestChannel(letter="p", index=1)]
        path = write(tmp_path / "short.rvx", current_header(r), np.arange(3, dtype="<f4").tobytes())
        with pytest.warns(kdrvx.RvxWarning, match="counts 4 records, the data holds only 3") as said:
            with kdrvx.open(path) as recording:
                blocks = list(recording.iter_blocks(2))
        assert len(said) == 1 and [block[:, 0].tolist() for block in blocks] == [[0, 1], [2]]
        with kdrvx.open(path) as recording, pytest.raises(ValueError, match="at least 1"):
            recording.iter_blocks(0)


def dos_value(mantissa, decimals):
    """The library's conversion: one single-precision division by 10 per decimal."""
    value = np.float32(mantissa)
    for _ in range(decimals):
        value = np.float32(value / np.float32(10))
    return value


class TestOlderRecordKinds:
    def test_dos_records_are_converted_up_to_the_end_mark(self, tmp_path):
        header = dos_before_50_header(10000, [("p", 1), ("T", 2)])
        entries = [[(1234, 2), (-5, 1)], [(7, 0), (300, 3)], [(1, 11), (2, 0)],
                   [(99, 1), (-32768, 4)], [(0, 0xFFFF), (0, 0)], [(8, 0), (1, 0)]]
        path = write(tmp_path / "old.rvx", header, dos_records(entries))
        with kdrvx.open(path) as recording:
            h = recording.header
            assert (h.version, h.scan_interval_us, h.record_count) == (0, 10000000, 6)
            assert [c.variable for c in recording.channels] == ["p1", "T2"]
            assert recording.record_kind == "dos"
            with pytest.warns(kdrvx.RvxWarning, match="data end after record 4"):
                values = recording.read()
                again = recording.read(3)
            assert recording.times().tolist() == [0, 10, 20, 30]
        expected = np.array([[dos_value(m, d) for m, d in record] for record in entries[:4]],
                            dtype=np.float32)
        expected[2] = np.nan  # decimal count 11: a record the library cannot convert
        assert values.tobytes() == expected.tobytes()
        assert again.tobytes() == expected[3:].tobytes()

    def test_win2_sparse_records_hold_unsampled_channels(self, tmp_path):
        r = TestRecording(version=ord("R"), original_flag=ord("W"), records=5, scan_rate=100, flag_statistics=1)
        r.channels = [TestChannel(letter="p", code=1, unit="bar", ind_rate=1, minimum=1.0, maximum=5.0),
                      TestChannel(letter="T", code=0x82, unit="K", ind_rate=2, minimum=10.0, maximum=30.0)]
        # Record m holds T (rate 2) only when m mod 2 is 1.
        stored = struct.pack("<8f", 1, 10, 2, 3, 20, 4, 5, 30)
        path = write(tmp_path / "w2.rvx", win2_header(r, ("abc", "", "x", "")), stored)
        expected = np.array([[1, 10], [2, 10], [3, 20], [4, 20], [5, 30]], dtype=np.float32)
        with kdrvx.open(path) as recording:
            h = recording.header
            assert (h.version, recording.record_kind, h.comment) == (ord("R"), "sparse", "abc\r\n\r\nx\r\n\r\n")
            assert [c.variable for c in recording.channels] == ["p1", "dT2"]
            t = recording.channels[1]
            assert (t.unit, t.individual_rate, t.minimum, t.maximum, t.mean) == ("K", 2, 10.0, 30.0, None)
            np.testing.assert_array_equal(recording.read(), expected)
            np.testing.assert_array_equal(recording.read(3), expected[3:])
            np.testing.assert_array_equal(recording.read(1, 2, channels=["dT2"]), expected[1:3, [1]])
            assert recording.times(3).tolist() == [0.3, 0.4]
            # Blocks of a kind whose end only the reading finds.
            np.testing.assert_array_equal(np.concatenate(list(recording.iter_blocks(2, 1))),
                                          expected[1:])
