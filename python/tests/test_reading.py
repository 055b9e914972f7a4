"""Reading files of every layout through the binding: header and channel
fields, records as numpy arrays, channel selection, bit fields, DataFrames."""

import datetime
import struct

import numpy as np
import pytest

import kdrvx
from rvx_files import (TestChannel, TestRecording, current_header, dos_before_50_header,
                       dos_kind_p_header, dos_kind_q_header, dos_records, float_records,
                       rvi_path, win2_header, win3_header, win6_header, write)


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
        TestChannel(letter="D", index=2, multichannel=16),
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


class TestCurrentLayoutFields:
    def test_every_header_field(self, current_file):
        with kdrvx.open(current_file) as recording:
            h = recording.header
        assert h.version == ord("s")
        assert h.original is True
        assert h.start == datetime.datetime(2004, 7, 3, 9, 5, 7)
        assert h.start_has_seconds
        assert (h.date_text, h.time_text) == ("03.07.2004", "09:05:07")
        assert h.scan_interval_us == 2500
        assert h.record_count == 5
        assert h.trigger_record == 3
        assert h.statistics == 3
        assert h.comment == "first line\r\nsecond line"
        assert (h.company, h.instrument, h.serial_number) == ("ACME Corp", "Recorder 8", "SN-0042")
        assert (h.measurement_name, h.trigger_setting) == ("run 7", "p1 > 2 bar")

    def test_every_channel_field(self, current_file):
        with kdrvx.open(current_file) as recording:
            p1, dp12, d2 = recording.channels
        assert p1 == kdrvx.Channel(
            index=0, variable="p1", unit="bar", name="inlet", number="3", signal_type="4-20 mA",
            range="0..10 bar", zero_point="0.1", filter="10 Hz", linearisation_table="0 0; 10 100",
            individual_rate=1, isds=True, linearisation=True, multichannel_bits=0,
            minimum=-1.5, maximum=9.25, mean=2.0, rms=3.0)
        assert (dp12.index, dp12.variable, dp12.unit, dp12.label) == (1, "dp12", "\u00b0C", "dp12 [\u00b0C]")
        assert (dp12.individual_rate, dp12.isds, dp12.linearisation) == (4, False, False)
        assert (dp12.minimum, dp12.maximum, dp12.mean, dp12.rms) == (20.0, 30.0, 25.0, 25.5)
        assert (d2.variable, d2.label, d2.multichannel_bits, d2.is_multichannel) == ("D2", "D2", 16, True)
        assert not p1.is_multichannel

    def test_time_without_seconds_scan_rate_in_milliseconds_and_copy_mark(self, tmp_path):
        r = full_recording(second=255, scan_rate=5, flags=0, original_flag=ord("X"), trigger_record=100000001)
        with kdrvx.open(write(tmp_path / "f.rvx", current_header(r))) as recording:
            h = recording.header
        assert h.start == datetime.datetime(2004, 7, 3, 9, 5)
        assert not h.start_has_seconds and h.time_text == "09:05"
        assert h.scan_interval_us == 5000
        assert h.original is False
        assert h.trigger_record == 0

    def test_statistics_only_where_the_header_marks_them_valid(self, tmp_path):
        def extremes(flag):
            with kdrvx.open(write(tmp_path / "f.rvx", current_header(full_recording(flag_statistics=flag)))) as rec:
                c = rec.channels[0]
            return c.minimum, c.maximum, c.mean, c.rms
        assert extremes(0) == (None, None, None, None)
        assert extremes(1) == (-1.5, 9.25, None, None)
        assert extremes(3) == (-1.5, 9.25, 2.0, 3.0)

    def test_a_date_the_file_does_not_hold_gives_no_start(self, tmp_path):
        r = full_recording(day=0, month=0, year=0)
        with kdrvx.open(write(tmp_path / "f.rvx", current_header(r))) as recording:
            assert recording.header.start is None
            assert recording.header.date_text == "00.00.   0"


class TestReadCurrentLayout:
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
        np.testing.assert_array_equal(chosen, RECORDS[:, [1, 0]])
        assert single.shape == (5, 1)
        np.testing.assert_array_equal(single[:, 0], RECORDS[:, 0])

    def test_unknown_channels_are_refused(self, current_file):
        with kdrvx.open(current_file) as recording:
            with pytest.raises(KeyError):
                recording.read(channels=["T9"])
            with pytest.raises(IndexError):
                recording.read(channels=[3])

    def test_start_and_count_in_any_order(self, current_file):
        with kdrvx.open(current_file) as recording:
            pieces = [recording.read(0, 2), recording.read(2, 2), recording.read(4)]
            later = recording.read(3, 1)
            earlier = recording.read(1, 2, channels=[0])
            beyond = recording.read(7)
        np.testing.assert_array_equal(np.concatenate(pieces)[:, :2], RECORDS[:, :2])
        np.testing.assert_array_equal(later[:, :2], RECORDS[3:4, :2])
        np.testing.assert_array_equal(earlier[:, 0], RECORDS[1:3, 0])
        assert beyond.shape == (0, 3)

    def test_count_beyond_the_header_reads_what_the_file_holds(self, tmp_path):
        # A recording whose header was last written after its first record.
        records = np.arange(30, dtype=np.float32).reshape(10, 3)
        path = write(tmp_path / "f.rvx", current_header(full_recording(records=1)), records.tobytes())
        with kdrvx.open(path) as recording:
            assert recording.read().shape == (1, 3)
            recovered = recording.read(0, 1000)
        np.testing.assert_array_equal(recovered, records)

    def test_a_record_count_the_file_cannot_hold(self, tmp_path):
        records = np.arange(9, dtype=np.float32).reshape(3, 3)
        path = write(tmp_path / "f.rvx", current_header(full_recording(records=0xFFFFFFFF)), records.tobytes())
        with kdrvx.open(path) as recording:
            np.testing.assert_array_equal(recording.read(), records)

    def test_a_cut_last_record_is_not_delivered(self, tmp_path):
        records = np.arange(9, dtype=np.float32).reshape(3, 3)
        path = write(tmp_path / "f.rvx", current_header(full_recording(records=3)), records.tobytes()[:-2])
        with kdrvx.open(path) as recording:
            np.testing.assert_array_equal(recording.read(), records[:2])
            np.testing.assert_array_equal(recording.read(1), records[1:2])

    def test_reading_on_while_the_file_grows(self, tmp_path):
        # Another program appends records to the file while it is open here;
        # the last record is only half written at the first read.
        records = np.arange(15, dtype=np.float32).reshape(5, 3)
        data = records.tobytes()
        path = write(tmp_path / "f.rvx", current_header(full_recording(records=5)), data[:2 * 12 + 5])
        with kdrvx.open(path) as recording:
            np.testing.assert_array_equal(recording.read(), records[:2])
            with path.open("ab") as grown:
                grown.write(data[2 * 12 + 5:])
            np.testing.assert_array_equal(recording.read(2), records[2:])

    def test_46_channels_whose_header_size_wraps(self, tmp_path):
        r = full_recording(records=4)
        r.channels = [TestChannel(letter="T", index=k + 1) for k in range(46)]
        records = np.random.default_rng(1).standard_normal((4, 46)).astype(np.float32)
        path = write(tmp_path / "f.rvx", current_header(r), records.tobytes())
        assert struct.unpack_from("<H", path.read_bytes(), 8)[0] == 364
        with kdrvx.open(path) as recording:
            assert [c.variable for c in recording.channels][-1] == "T46"
            np.testing.assert_array_equal(recording.read(), records)

    def test_large_reads_cross_block_boundaries(self, tmp_path, monkeypatch):
        monkeypatch.setattr(kdrvx.reading, "_BLOCK_BYTES", 12 * 7)  # 7 records of 3 channels
        records = np.arange(3 * 100, dtype=np.float32).reshape(100, 3)
        path = write(tmp_path / "f.rvx", current_header(full_recording(records=100)), records.tobytes())
        with kdrvx.open(path) as recording:
            np.testing.assert_array_equal(recording.read(), records)
            np.testing.assert_array_equal(recording.read(45, 30, channels=[2, 0]), records[45:75][:, [2, 0]])
            np.testing.assert_array_equal(recording.read(90, 50), records[90:])


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

    def test_times_count_from_the_start_of_the_recording(self, current_file):
        with kdrvx.open(current_file) as recording:
            np.testing.assert_allclose(recording.times(), np.arange(5) * 0.0025)
            np.testing.assert_allclose(recording.times(2, 2), [0.005, 0.0075])

    def test_data_frame(self, current_file):
        pandas = pytest.importorskip("pandas")
        with kdrvx.open(current_file) as recording:
            frame = recording.to_pandas()
            part = recording.to_pandas(start=1, count=2, channels=["dp12"])
        assert list(frame.columns) == ["p1 [bar]", "dp12 [\u00b0C]", "D2"]
        assert frame.index.name == "time [s]"
        np.testing.assert_allclose(frame.index.to_numpy(), np.arange(5) * 0.0025)
        assert frame["p1 [bar]"].dtype == np.float32
        np.testing.assert_array_equal(frame["p1 [bar]"].to_numpy(), RECORDS[:, 0])
        assert frame["D2"].dtype == np.uint32
        assert frame["D2"].tolist() == BITS.tolist()
        assert isinstance(part, pandas.DataFrame)
        assert list(part.columns) == ["dp12 [\u00b0C]"] and part.shape == (2, 1)
        np.testing.assert_allclose(part.index.to_numpy(), [0.0025, 0.005])


def dos_value(mantissa, decimals):
    """The library's conversion: one single-precision division by 10 per decimal."""
    value = np.float32(mantissa)
    for _ in range(decimals):
        value = np.float32(value / np.float32(10))
    return value


class TestOlderLayouts:
    def test_dos_before_50_records_are_converted(self, tmp_path):
        header = dos_before_50_header(10000, [("p", 1), ("T", 2)])
        entries = [[(1234, 2), (-5, 1)], [(7, 0), (300, 3)], [(1, 11), (2, 0)], [(99, 1), (-32768, 4)]]
        path = write(tmp_path / "old.rvx", header, dos_records(entries))
        with kdrvx.open(path) as recording:
            h = recording.header
            assert (h.version, h.scan_interval_us, h.record_count) == (0, 10000000, 4)
            assert [c.variable for c in recording.channels] == ["p1", "T2"]
            assert recording.record_kind == "dos"
            values = recording.read()
            again = recording.read(3)
        expected = np.array([[dos_value(m, d) for m, d in record] for record in entries], dtype=np.float32)
        expected[2] = np.nan  # decimal count 11: a record the library cannot convert
        assert values.tobytes() == expected.tobytes()
        assert again.tobytes() == expected[3:].tobytes()

    def test_dos_end_mark_ends_the_records(self, tmp_path):
        header = dos_before_50_header(10, [("p", 1)])
        path = write(tmp_path / "old.rvx", header, dos_records([[(5, 0)], [(6, 0)], [(0, 0xFFFF)], [(8, 0)]]))
        with kdrvx.open(path) as recording:
            assert recording.header.record_count == 4
            np.testing.assert_array_equal(recording.read()[:, 0], [5.0, 6.0])
            np.testing.assert_array_equal(recording.read(1)[:, 0], [6.0])

    def test_dos_kind_q(self, tmp_path):
        # The header counts 5 records; the file holds 2 behind its 32 header bytes.
        path = write(tmp_path / "q.rvx", dos_kind_q_header(32, 5, 2), dos_records([[(1, 0), (2, 1)], [(3, 2), (4, 0)]]))
        with kdrvx.open(path) as recording:
            assert (recording.header.version, recording.header.record_count) == (ord("Q"), 5)
            assert recording.record_kind == "dos"
            np.testing.assert_array_equal(recording.read(),
                                          np.array([[1.0, dos_value(2, 1)], [dos_value(3, 2), 4.0]], np.float32))

    def test_dos_kind_p_has_float_records(self, tmp_path):
        records = np.array([[1.5, -2.0], [3.25, 4.0]], dtype=np.float32)
        path = write(tmp_path / "p.rvx", dos_kind_p_header(400, 2, 20, [("p", 1), ("T", 3)]), records.tobytes())
        with kdrvx.open(path) as recording:
            assert (recording.header.version, recording.header.scan_interval_us) == (ord("P"), 20000)
            assert [c.variable for c in recording.channels] == ["p1", "T3"]
            assert recording.record_kind == "current"
            np.testing.assert_array_equal(recording.read(), records)

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

    def test_win6_texts_in_utf16(self, tmp_path):
        r = TestRecording(version=96, records=2, comment="Kommentar \u00e4", flag_statistics=1)
        r.channels = [TestChannel(letter="\u03c1", code=3, unit="kg/m\u00b3", minimum=1.0, maximum=2.0)]
        path = write(tmp_path / "w6.rvx", win6_header(r), float_records([[1.0], [2.0]]))
        with kdrvx.open(path) as recording:
            assert recording.header.comment == "Kommentar \u00e4"
            assert recording.header.start == datetime.datetime(2004, 7, 3, 9, 5)
            assert (recording.channels[0].variable, recording.channels[0].unit) == ("\u03c13", "kg/m\u00b3")
            np.testing.assert_array_equal(recording.read()[:, 0], [1.0, 2.0])


COMPACT_RVI = (
    "Company         :  ACME Corp\r\n"
    "Instrument      :  Recorder 8\r\n"
    "Serialnumber    :  SN-0042\r\n\r\n"
    "Name Measurement:  run 7\r\n"
    "Measurement from:  3.7.2004 9:05\r\n"
    "Data records    :  3\r\n"
    "Trigger         :  p1 > 2 bar\r\n"
    "Commentary      :  \r\n"
    "line one\r\n"
    "\r\n"
    "\r\n"
    "\r\n"
    "\r\n"
    "Variable                 :  p1 \r\n"
    "Unit                     :  bar\r\n"
    "Name of channel          :  inlet\r\n"
    "Channel                  :  3\r\n"
    "ISDS                     :  yes\r\n"
    "Signal type              :  4-20 mA\r\n"
    "Meas.Range/calibr.value  :  0..10 bar\r\n"
    "Zero point alignment     :  0.1\r\n"
    "Filter settings          :  10 Hz\r\n"
    "Linearisation            :  yes\r\n"
    "Linearisation table      :  0 0; 10 100\r\n"
    "\r\n"
    "Variable                 :  T2 \r\n"
    "Unit                     :  K\r\n"
    "Name of channel          :  outlet\r\n"
    "Channel                  :  4\r\n"
    "ISDS                     :  no\r\n"
    "Signal type              :  PT100\r\n"
    "Meas.Range/calibr.value  :  0..500 K\r\n"
    "Zero point alignment     :  \r\n"
    "Filter settings          :  \r\n"
    "Linearisation            :  no\r\n"
    "\r\n\r\n"
)


class TestCompactLayoutWithSummary:
    def compact_file(self, tmp_path, rvi_text):
        r = TestRecording(version=64, records=0, scan_rate=1500, flags=1, comment="header comment")
        r.channels = [TestChannel(letter="p", code=1, unit="bar"), TestChannel(letter="T", code=2, unit="K")]
        records = np.array([[1, 300], [2, 310], [3, 320]], dtype=np.float32)
        path = write(tmp_path / "c.rvx", win3_header(r), records.tobytes(), b"\0\0\0")
        if rvi_text is not None:
            rvi_path(path).write_bytes(rvi_text.encode("latin-1"))
        return path, records

    def test_texts_come_from_the_summary(self, tmp_path):
        path, records = self.compact_file(tmp_path, COMPACT_RVI)
        with kdrvx.open(path) as recording:
            h = recording.header
            p1, t2 = recording.channels
            values = recording.read()
        assert (h.version, h.record_count, h.scan_interval_us) == (64, 3, 1500)
        assert (h.company, h.instrument, h.serial_number) == ("ACME Corp", "Recorder 8", "SN-0042")
        assert (h.measurement_name, h.trigger_setting, h.comment) == ("run 7", "p1 > 2 bar", "line one")
        assert (p1.name, p1.number, p1.signal_type, p1.range) == ("inlet", "3", "4-20 mA", "0..10 bar")
        assert (p1.zero_point, p1.filter, p1.isds, p1.linearisation) == ("0.1", "10 Hz", True, True)
        assert p1.linearisation_table == "0 0; 10 100"
        assert (t2.variable, t2.unit, t2.name, t2.number, t2.isds, t2.linearisation) == \
            ("T2", "K", "outlet", "4", False, False)
        np.testing.assert_array_equal(values, records)

    def test_without_a_summary_the_texts_are_empty(self, tmp_path):
        path, records = self.compact_file(tmp_path, None)
        with kdrvx.open(path) as recording:
            h = recording.header
            assert (h.company, h.measurement_name, h.comment) == ("", "", "header comment")
            assert recording.channels[0].name == "" and recording.channels[0].unit == "bar"
            np.testing.assert_array_equal(recording.read(), records)
