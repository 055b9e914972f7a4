"""Creating files through the binding and reading them back: current and
compact layout, statistics, closing, the one create context, modification."""

import dataclasses
import datetime
import struct
import threading

import numpy as np
import pytest

import kdrvx
from rvx_files import rvi_path

P1 = {"variable": "p1", "unit": "bar", "name": "inlet", "number": "3", "signal_type": "4-20 mA",
      "range": "0..10 bar", "zero_point": "0.1", "filter": "10 Hz", "linearisation_table": "0 0; 10 100",
      "individual_rate": 2, "isds": True, "linearisation": True}
HEADER_TEXTS = dict(comment="first line\r\nsecond line", company="ACME Corp", instrument="Recorder 8",
                    serial_number="SN-0042", measurement_name="run 7", trigger_setting="p1 > 2 bar")
BITS = np.array([0x0000FFFF, 0x7FC00001, 0xFFFFFFFF, 0x00000001], dtype=np.uint32)


def records():
    """Values whose sums are exact in double precision, and bit fields."""
    values = np.array([[1.0, -20.25, 0], [2.5, 21.0, 0], [-1.5, 30.5, 0], [9.25, 25.0, 0]], dtype=np.float32)
    values[:, 2] = kdrvx.bits_as_float32(BITS)
    return values


def expected_statistics(column):
    column = column.astype(np.float32)
    n = len(column)
    mean = np.float32(np.sum(column.astype(np.float64)) / n)
    squares = (column * column).astype(np.float64)
    rms = np.float32(np.sqrt(np.float64(np.float32(np.sum(squares) / n))))
    return float(column.min()), float(column.max()), float(mean), float(rms)


def definition(channel):
    """A channel without the statistics of its file."""
    return dataclasses.replace(channel, minimum=None, maximum=None, mean=None, rms=None)


def header_bytes(path, length=1500):
    with open(path, "rb") as file:
        return file.read(length)


def new_file(path, **arguments):
    arguments.setdefault("channels", [P1, "dT2", {"variable": "D1", "multichannel_bits": 16}])
    arguments.setdefault("scan_interval_us", 2500)
    return kdrvx.create(path, **arguments)


class TestCurrentLayoutRoundTrip:
    def test_every_field_and_record_comes_back(self, tmp_path):
        start = datetime.datetime(2023, 5, 6, 7, 8, 9)
        values = records()
        with new_file(tmp_path / "f.rvx", start=start, trigger_record=2, **HEADER_TEXTS) as writer:
            writer.append(values[:3])  # a block of records
            writer.append(values[3])  # one record
            assert writer.record_count == 4
        assert writer.closed and writer.path == str(tmp_path / "f.rvx")

        raw = header_bytes(writer.path)
        assert raw[4:6] == b"sW"
        on_disk = np.fromfile(writer.path, dtype="<f4", offset=1500 + 3 * 1400).reshape(-1, 3)
        assert on_disk.tobytes() == values.tobytes()

        with kdrvx.open(writer.path) as recording:
            h = recording.header
            channels = recording.channels
            assert recording.read().tobytes() == values.tobytes()
            assert recording.bits("D1").tolist() == BITS.tolist()
        assert (h.version, h.original, h.start, h.start_has_seconds) == (ord("s"), True, start, True)
        assert (h.scan_interval_us, h.record_count, h.trigger_record, h.statistics) == (2500, 4, 2, 3)
        assert {key: getattr(h, key) for key in HEADER_TEXTS} == HEADER_TEXTS
        p1 = channels[0]
        assert {key: getattr(p1, key) for key in P1} == P1
        assert (channels[1].variable, channels[1].unit, channels[1].individual_rate) == ("dT2", "", 1)
        assert (channels[2].variable, channels[2].multichannel_bits) == ("D1", 16)
        for k in (0, 1):
            c = channels[k]
            assert (c.minimum, c.maximum, c.mean, c.rms) == expected_statistics(values[:, k])

    def test_scan_interval_in_milliseconds_or_microseconds_and_the_copy_mark(self, tmp_path):
        for interval, stored, flags in ((2000, 2, 0), (2500, 2500, 1)):
            with new_file(tmp_path / "f.rvx", scan_interval_us=interval, overwrite=True, original=False):
                pass
            raw = header_bytes(tmp_path / "f.rvx")
            assert struct.unpack_from("<I", raw, 32)[0] == stored and raw[38] & 1 == flags
            assert raw[5] == ord("X")
            with kdrvx.open(tmp_path / "f.rvx") as recording:
                assert recording.header.scan_interval_us == interval
                assert recording.header.original is False

    def test_channels_taken_from_another_recording(self, tmp_path):
        with new_file(tmp_path / "a.rvx") as writer:
            writer.append(records())
        with kdrvx.open(tmp_path / "a.rvx") as recording:
            source = recording.channels
            data = recording.read()
        with kdrvx.create(tmp_path / "b.rvx", channels=source, scan_interval_us=2500) as copy:
            copy.append(data)
        with kdrvx.open(tmp_path / "b.rvx") as recording:
            copied = recording.channels
            assert recording.read().tobytes() == data.tobytes()
        assert [definition(c) for c in copied] == [definition(c) for c in source]


class TestCompactLayout:
    def test_texts_go_through_the_summary_file(self, tmp_path):
        channels = [{"variable": "p1", "unit": "bar", "number": "3", "signal_type": "4-20 mA",
                     "range": "0..10 bar", "zero_point": "0.1"},
                    {"variable": "T2", "unit": "K"}]
        values = np.array([[1.0, 300.0], [2.0, 310.5], [3.0, 320.0]], dtype=np.float32)
        with kdrvx.create(tmp_path / "c.rvx", channels=channels, scan_interval_us=10000, legacy=True,
                          language="de", comment="kurz", company="ACME Corp", instrument="Recorder 8",
                          measurement_name="run 7") as writer:
            writer.append(values)
        raw = header_bytes(writer.path, 328 + 2 * 28)
        assert raw[4] == 64 and struct.unpack_from("<H", raw, 8)[0] == 328 + 2 * 28
        summary = rvi_path(tmp_path / "c.rvx").read_bytes()
        assert summary.startswith(b"Firma           :  ACME Corp\r\n")
        with kdrvx.open(writer.path) as recording:
            h = recording.header
            p1, t2 = recording.channels
            assert recording.read().tobytes() == values.tobytes()
        assert (h.version, h.record_count, h.scan_interval_us) == (64, 3, 10000)
        assert (h.company, h.instrument, h.measurement_name, h.comment) == ("ACME Corp", "Recorder 8", "run 7", "kurz")
        assert (p1.variable, p1.unit, p1.number, p1.signal_type, p1.range, p1.zero_point) == \
            ("p1", "bar", "3", "4-20 mA", "0..10 bar", "0.1")
        assert (t2.variable, t2.unit) == ("T2", "K")

    def test_no_language_no_summary(self, tmp_path):
        with kdrvx.create(tmp_path / "c.rvx", channels=["p1"], scan_interval_us=1000, legacy=True,
                          language=None, company="ACME Corp") as writer:
            writer.append([[1.5]])
        assert not rvi_path(tmp_path / "c.rvx").exists()
        with kdrvx.open(writer.path) as recording:
            assert recording.header.company == ""
            np.testing.assert_array_equal(recording.read(), [[1.5]])

    def test_at_most_24_channels(self, tmp_path):
        with pytest.raises(kdrvx.RvxError) as caught:
            kdrvx.create(tmp_path / "c.rvx", channels=["p%d" % k for k in range(1, 26)],
                         scan_interval_us=1000, legacy=True)
        assert caught.value.code == kdrvx.ERR_RVX_NUMBER_OF_CHANNELS
        assert not (tmp_path / "c.rvx").exists()


class TestUpdateAndClose:
    def test_update_brings_count_and_statistics_to_the_disk(self, tmp_path):
        with new_file(tmp_path / "f.rvx") as writer:
            writer.append(records()[:3])
            assert struct.unpack_from("<I", header_bytes(writer.path), 20)[0] == 1
            writer.update()
            raw = header_bytes(writer.path)
            assert struct.unpack_from("<I", raw, 20)[0] == 3 and raw[37] == 3
            writer.append(records()[3])
        with kdrvx.open(writer.path) as recording:
            assert recording.header.record_count == 4
            assert recording.read().tobytes() == records().tobytes()

    def test_simple_close_keeps_the_header_as_last_written(self, tmp_path):
        values = np.arange(30, dtype=np.float32).reshape(10, 3)
        writer = new_file(tmp_path / "f.rvx")
        writer.append(values)
        writer.close(simple=True)
        with kdrvx.open(writer.path) as recording:
            assert recording.header.record_count == 1
            assert recording.read().shape == (1, 3)
            np.testing.assert_array_equal(recording.read(0, 1000), values)

    def test_an_exception_in_the_block_still_finishes_the_file(self, tmp_path):
        with pytest.raises(RuntimeError):
            with new_file(tmp_path / "f.rvx") as writer:
                writer.append(records())
                raise RuntimeError("host failure")
        assert writer.closed
        with kdrvx.open(writer.path) as recording:
            assert (recording.header.record_count, recording.header.statistics) == (4, 3)

    def test_records_of_the_wrong_shape_are_refused_before_any_is_written(self, tmp_path):
        with new_file(tmp_path / "f.rvx") as writer:
            for wrong in ([1.0, 2.0], np.zeros((2, 4)), np.zeros((1, 1, 3))):
                with pytest.raises(ValueError, match="3 values"):
                    writer.append(wrong)
            assert writer.record_count == 0
        with pytest.raises(ValueError, match="closed"):
            writer.append([1.0, 2.0, 3.0])


class TestCreateErrors:
    def test_one_create_context_per_process(self, tmp_path):
        with new_file(tmp_path / "a.rvx") as first:
            with pytest.raises(kdrvx.RvxError) as caught:
                new_file(tmp_path / "b.rvx")
            assert caught.value.code == kdrvx.ERR_RVX_STILL_OPEN_WRITE
            assert "one create context per process" in str(caught.value)
            assert str(tmp_path / "a.rvx") in str(caught.value)
            first.append(records()[0])
        with new_file(tmp_path / "b.rvx"):
            pass

    def test_an_existing_file_is_kept_unless_overwriting(self, tmp_path):
        path = tmp_path / "f.rvx"
        path.write_bytes(b"precious")
        with pytest.raises(kdrvx.RvxError) as caught:
            new_file(path)
        assert (caught.value.code, caught.value.text) == \
            (kdrvx.ERR_RVX_ALREADY_EXISTS, "A RVX- file with this name already exists.")
        assert path.read_bytes() == b"precious"
        with new_file(path, overwrite=True):
            pass
        assert path.read_bytes()[4:5] == b"s"

    def test_the_path_as_the_library_cleaned_it(self, tmp_path):
        with new_file(tmp_path / "run?1|a.rvx") as writer:
            pass
        assert writer.path == str(tmp_path / "run_1_a.rvx")
        assert (tmp_path / "run_1_a.rvx").exists()

    @pytest.mark.parametrize("channels, code", [
        ([{"variable": "p1", "unit": "x" * 11}], kdrvx.ERR_RVX_CHN_UNIT),
        (["p1", "p1"], kdrvx.ERR_RVX_CHN_VAR_EXISTS),
        (["12"], kdrvx.ERR_RVX_CHN_VAR),
        ([{"variable": "D1", "multichannel_bits": 33}], kdrvx.ERR_RVX_MULTICHANNEL_BITS),
    ])
    def test_a_refused_channel_leaves_no_file_and_a_free_context(self, tmp_path, channels, code):
        with pytest.raises(kdrvx.RvxError) as caught:
            kdrvx.create(tmp_path / "f.rvx", channels=channels, scan_interval_us=1000)
        assert caught.value.code == code
        assert not (tmp_path / "f.rvx").exists()
        with new_file(tmp_path / "g.rvx"):
            pass

    def test_a_refused_header_text(self, tmp_path):
        with pytest.raises(kdrvx.RvxError) as caught:
            new_file(tmp_path / "f.rvx", measurement_name="x" * 24)
        assert (caught.value.code, caught.value.detail) == (kdrvx.ERR_RVX_PARAMETER_STRING_LENGTH, "measurement_name")
        assert not (tmp_path / "f.rvx").exists()


class TestModify:
    def test_comment_and_name_change_in_place(self, tmp_path):
        with new_file(tmp_path / "f.rvx", comment="old comment", measurement_name="old name") as writer:
            writer.append(records())
        before = (tmp_path / "f.rvx").read_bytes()
        previous = kdrvx.modify(tmp_path / "f.rvx", comment="new comment", name="new name")
        assert previous == ("old comment", "old name")
        after = (tmp_path / "f.rvx").read_bytes()
        assert len(after) == len(before) and after[1500 + 3 * 1400:] == before[1500 + 3 * 1400:]
        assert after[48:48 + 24] == "new comment".encode("utf-16-le") + b"\0\0"
        with kdrvx.open(tmp_path / "f.rvx") as recording:
            assert (recording.header.comment, recording.header.measurement_name) == ("new comment", "new name")
        assert kdrvx.modify(tmp_path / "f.rvx") == ("new comment", "new name")

    def test_a_refused_name_changes_nothing(self, tmp_path):
        with new_file(tmp_path / "f.rvx", comment="old comment", measurement_name="old name"):
            pass
        before = (tmp_path / "f.rvx").read_bytes()
        with pytest.raises(kdrvx.RvxError) as caught:
            kdrvx.modify(tmp_path / "f.rvx", comment="new comment", name="x" * 24)
        assert caught.value.code == kdrvx.ERR_RVX_PARAMETER_STRING_LENGTH
        assert (tmp_path / "f.rvx").read_bytes() == before
        assert kdrvx.modify(tmp_path / "f.rvx", name="y" * 23) == ("old comment", "old name")

    def test_only_the_current_layout_can_be_modified(self, tmp_path):
        with kdrvx.create(tmp_path / "c.rvx", channels=["p1"], scan_interval_us=1000, legacy=True, language=None):
            pass
        with pytest.raises(kdrvx.RvxError) as caught:
            kdrvx.modify(tmp_path / "c.rvx", comment="x")
        assert caught.value.code == kdrvx.ERR_RVX_MODIFY_NOT_POSSIBLE
        with pytest.raises(kdrvx.RvxError) as caught:
            kdrvx.modify(tmp_path / "none.rvx", comment="x")
        assert caught.value.code == kdrvx.ERR_RVX_OPEN_MODIFY


def test_writing_and_reading_in_two_threads_at_once(tmp_path):
    source = np.arange(3 * 500, dtype=np.float32).reshape(500, 3)
    with new_file(tmp_path / "source.rvx") as writer:
        writer.append(source)
    read_back, failures = [], []

    def reader():
        try:
            with kdrvx.open(tmp_path / "source.rvx") as recording:
                for start in range(0, 500, 7):
                    read_back.append(recording.read(start, 7))
        except Exception as error:
            failures.append(error)

    thread = threading.Thread(target=reader)
    with new_file(tmp_path / "target.rvx") as target:
        thread.start()
        for row in source[::-1]:
            target.append(row)
    thread.join()
    assert not failures, failures
    np.testing.assert_array_equal(np.concatenate(read_back), source)
    with kdrvx.open(tmp_path / "target.rvx") as recording:
        np.testing.assert_array_equal(recording.read(), source[::-1])
