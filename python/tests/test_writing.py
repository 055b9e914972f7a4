"""Creating files through the binding and reading them back: current and
compact layout, what a new recording refuses, multichannel bit fields, the
target that a recording replaces only when its writer is closed, the one
create context, modification."""

import dataclasses
import datetime
import fcntl
import os
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
BITS = np.array([0x0000FFFF, 0x00000001, 0x0000ABCD, 0x00000000], dtype=np.uint32)


def records():
    """Values whose sums are exact in double precision, and 16-bit fields."""
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


def staging_files(directory):
    return [name for name in os.listdir(directory) if name.startswith(".partial-")]


class TestRoundTrip:
    def test_every_field_and_record_comes_back(self, tmp_path):
        start = datetime.datetime(2023, 5, 6, 7, 8, 9)
        values = records()
        with new_file(tmp_path / "f.rvx", start=start, trigger_record=2, **HEADER_TEXTS) as writer:
            writer.append(values[:3])  # a block of records
            writer.append(values[3])  # one record
            writer.append(np.zeros((0, 3), dtype=np.float32))  # no record
            assert writer.record_count == 4
        assert writer.closed and writer.path == str(tmp_path / "f.rvx")
        assert os.listdir(tmp_path) == ["f.rvx"]

        assert header_bytes(writer.path)[4:6] == b"sW"
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
        assert {key: getattr(channels[0], key) for key in P1} == P1
        assert (channels[1].variable, channels[1].unit, channels[1].individual_rate) == ("dT2", "", 1)
        for k in (0, 1):
            c = channels[k]
            assert (c.minimum, c.maximum, c.mean, c.rms) == expected_statistics(values[:, k])
        # The statistics of bit fields taken as floats say nothing about them.
        d1 = channels[2]
        assert d1.multichannel_bits == 16
        assert (d1.minimum, d1.maximum, d1.mean, d1.rms) == (None, None, None, None)

    def test_a_recording_copied_record_for_record(self, tmp_path):
        with new_file(tmp_path / "a.rvx") as writer:
            writer.append(records())
        with kdrvx.open(tmp_path / "a.rvx") as recording:
            source = recording.channels
            data = recording.read()
        with kdrvx.create(tmp_path / "b.rvx", channels=source, scan_interval_us=2000,
                          original=False) as copy:
            copy.append(data)
        raw = header_bytes(tmp_path / "b.rvx")
        assert (raw[5], raw[38] & 1, struct.unpack_from("<I", raw, 32)[0]) == (ord("X"), 0, 2)
        with kdrvx.open(tmp_path / "b.rvx") as recording:
            copied = recording.channels
            assert (recording.header.original, recording.header.scan_interval_us) == (False, 2000)
            assert recording.read().tobytes() == data.tobytes()
        assert [definition(c) for c in copied] == [definition(c) for c in source]

    def test_compact_layout_with_its_summary_named_after_the_final_file(self, tmp_path):
        channels = [{"variable": "p1", "unit": "bar", "number": "3", "signal_type": "4-20 mA",
                     "range": "0..10 bar", "zero_point": "0.1"}, {"variable": "T2", "unit": "K"}]
        values = np.array([[1.0, 300.0], [2.0, 310.5], [3.0, 320.0]], dtype=np.float32)
        rvi_path(tmp_path / "c.rvx").write_bytes(b"old summary")
        with kdrvx.create(tmp_path / "c.rvx", channels=channels, scan_interval_us=10000, legacy=True,
                          language="de", comment="kurz", company="ACME Corp", instrument="Recorder 8",
                          measurement_name="run 7", overwrite=True) as writer:
            writer.append(values)
        assert sorted(os.listdir(tmp_path)) == ["c.RVI", "c.rvx"]
        raw = header_bytes(writer.path, 328 + 2 * 28)
        assert raw[4] == 64 and struct.unpack_from("<H", raw, 8)[0] == 328 + 2 * 28
        summary = rvi_path(tmp_path / "c.rvx").read_bytes()
        assert summary.startswith(b"Firma           :  ACME Corp\r\n")
        named = b"Verzeichnis     :  %s\r\nDateiname       :  c.RVI\r\n" % os.fsencode(tmp_path)
        assert named in summary
        with kdrvx.open(writer.path) as recording:
            h = recording.header
            p1, t2 = recording.channels
            assert recording.read().tobytes() == values.tobytes()
        assert (h.version, h.record_count, h.scan_interval_us) == (64, 3, 10000)
        assert (h.company, h.instrument, h.measurement_name, h.comment) == ("ACME Corp", "Recorder 8", "run 7", "kurz")
        assert {key: getattr(p1, key) for key in channels[0]} == channels[0]
        assert (t2.variable, t2.unit) == ("T2", "K")


class TestWhatARecordingCannotHold:
    @pytest.mark.parametrize("arguments, message", [
        (dict(scan_interval_us=0), "scan_interval_us: "),
        (dict(scan_interval_us=0.5), "scan_interval_us must be a whole number"),
        (dict(scan_interval_us=2 ** 32), "scan_interval_us: "),
        (dict(measurement_name="x" * 24), "measurement_name: "),
        (dict(channels=[{"variable": "p1", "name": "n" * 24}]), r"channel 0 \(p1\): name: "),
        (dict(channels=["p128"]), r"channel 0 \(p128\): variable: reads back as p-128"),
        (dict(channels=["X65535"]), r"channel 0 \(X65535\): variable: reads back as X-1"),
        (dict(channels=["p1", "p1.2"]), r"channel 1 \(p1.2\): variable: an earlier channel"),
        (dict(start=datetime.datetime(2024, 2, 29, 12, 0, 0, 500)), "microseconds"),
        (dict(start=datetime.date(2024, 5, 6)), "a date without a time of day"),
        (dict(start=datetime.datetime(2024, 5, 6, 12, 0, tzinfo=datetime.timezone(
            datetime.timedelta(hours=2)))), "wall-clock time without a zone: name the .* tz="),
        (dict(trigger_record=-1), "trigger_record must be from 0 to 4294967295, not -1"),
        (dict(trigger_record=2 ** 32), "trigger_record must be from 0 to 4294967295"),
        (dict(trigger_record=200_000_000), "trigger_record: reads back as 0"),
        (dict(legacy=True, channels=[{"variable": "D1", "multichannel_bits": 8}]),
         r"channel 0 \(D1\): multichannel_bits: "),
        (dict(legacy=True, company="\u03a9mega"), "company: "),
        (dict(legacy=True, channels=[{"variable": "p1", "unit": "\u2103"}]),
         r"channel 0 \(p1\): unit: "),
        (dict(legacy=True, start=datetime.datetime(2024, 2, 29, 12, 0, 5)), "start: "),
        (dict(legacy=True, path="c.dat"), "path: "),
        # The RVI file shows its own path as 8-bit text, in two lines.
        (dict(legacy=True, path="Mess\U0001F600.rvx", trigger_setting="y"),
         r"path: the RVI file's file-name line holds 8-bit text \(Latin-1\) only: "
         r"'\U0001F600' at character 5 of 'Mess\U0001F600.RVI'\)$"),
        (dict(legacy=True, path="\u20acuro/c.rvx"),
         r"path: the RVI file's directory line holds 8-bit text \(Latin-1\) only: "
         r"'\u20ac' at character [0-9]+ of '.*/\u20acuro'\)$"),
    ])
    def test_refused_before_anything_is_written(self, tmp_path, arguments, message):
        arguments.setdefault("channels", ["p1"])
        path = tmp_path / arguments.pop("path", "c.rvx")
        with pytest.raises(ValueError, match=message):
            new_file(path, **arguments)
        assert os.listdir(tmp_path) == []

    def test_a_compact_recording_beside_an_existing_summary_file(self, tmp_path):
        summary = tmp_path / "A.RVI"
        summary.write_bytes(b"an earlier recording's texts")
        with pytest.raises(kdrvx.RvxFileExistsError, match="A.RVI"):
            new_file(tmp_path / "A.rvx", legacy=True, channels=["p1"])
        assert os.listdir(tmp_path) == ["A.RVI"]
        assert summary.read_bytes() == b"an earlier recording's texts"

    @pytest.mark.parametrize("channels, code", [
        (["p1", "p1"], kdrvx.ERR_RVX_CHN_VAR_EXISTS),
        (["p1", "12"], kdrvx.ERR_RVX_CHN_VAR),
        ([{"variable": "D1", "multichannel_bits": 33}], kdrvx.ERR_RVX_MULTICHANNEL_BITS),
        (["p%d" % k for k in range(1, 50)], kdrvx.ERR_RVX_NUMBER_OF_CHANNELS),
    ])
    def test_what_the_library_refuses_leaves_no_file_and_a_free_context(self, tmp_path, channels,
                                                                         code):
        with pytest.raises(kdrvx.RvxError) as caught:
            kdrvx.create(tmp_path / "f.rvx", channels=channels, scan_interval_us=1000)
        assert caught.value.code == code
        assert os.listdir(tmp_path) == []
        with new_file(tmp_path / "g.rvx"):
            pass

    @pytest.mark.parametrize("language, texts, named", [
        ("en", dict(channels=[P1]), "channel p1: name, filter, linearisation_table"),
        ("fr", dict(channels=[{"variable": "p1", "number": "3"}]), "channel p1: number"),
        (None, dict(channels=[{"variable": "p1", "unit": "bar", "isds": True}], company="ACME"),
         "company; channel p1: isds"),
    ])
    def test_texts_the_compact_layout_keeps_nowhere_are_named(self, tmp_path, language, texts,
                                                              named):
        with pytest.warns(kdrvx.RvxWarning, match="keeps these fields nowhere.*: %s$" % named):
            with new_file(tmp_path / "c.rvx", legacy=True, language=language, **texts) as writer:
                writer.append([1.0])
        with kdrvx.open(tmp_path / "c.rvx") as recording:
            assert recording.read().tolist() == [[1.0]]


def test_multichannel_values_are_bit_fields(tmp_path):
    """Channel p1 holds numbers, D1 8-bit fields. A float32 array holds record
    values as stored, anything else numbers. A refused append writes none of
    its records and leaves the writer open with those before it."""
    stored = [([0.5, 3], 0.5, 3),
              (np.array([[2, 255]], dtype=np.int64), 2.0, 255),
              (np.array([[4, 200]], dtype=np.uint32), 4.0, 200),
              (np.stack([np.float32([-1.0]), kdrvx.bits_as_float32([9])], axis=1), -1.0, 9)]
    refused = [([3, 0.5], "record 0 gives 0.5, which is not a whole number"),
               ([[0, 1], [0, 256]], "record 1 of this append carries the bits 0x00000100"),
               ([0, -1], "gives -1"),
               ([0, float("nan")], "gives nan"),
               (np.array([[0.5, 3.0]], dtype=np.float32), "carries the bits 0x40400000"),
               ([1e39, 1], "beyond the range of the 32-bit floats"),
               (np.zeros((2, 3)), "2 values")]
    channels = ["p1", {"variable": "D1", "multichannel_bits": 8}]
    with kdrvx.create(tmp_path / "m.rvx", channels=channels, scan_interval_us=1000) as writer:
        for given, _, _ in stored:
            writer.append(given)
        for given, message in refused:
            with pytest.raises(ValueError, match=message):
                writer.append(given)
        assert writer.record_count == len(stored)
    with kdrvx.open(tmp_path / "m.rvx") as recording:
        assert recording.read(channels=["p1"])[:, 0].tolist() == [row[1] for row in stored]
        assert recording.bits("D1").tolist() == [row[2] for row in stored]


class TestTheTarget:
    def test_keeps_its_bytes_until_close_and_its_mode_after(self, tmp_path):
        path = tmp_path / "f.rvx"
        path.write_bytes(b"old recording")
        path.chmod(0o640)
        with new_file(path, overwrite=True) as writer:
            writer.append(records())
            writer.update()
            assert path.read_bytes() == b"old recording"
            assert len(staging_files(tmp_path)) == 1
        assert os.listdir(tmp_path) == ["f.rvx"]
        assert path.stat().st_mode & 0o777 == 0o640
        with kdrvx.open(path) as recording:
            assert recording.read().tobytes() == records().tobytes()

    def test_a_block_that_ends_in_an_exception_discards_the_recording(self, tmp_path):
        path = tmp_path / "f.rvx"
        path.write_bytes(b"old recording")
        with pytest.raises(RuntimeError) as caught:
            with new_file(path, overwrite=True) as writer:
                writer.append(records())
                raise RuntimeError("host failure")
        assert writer.closed
        assert "the recording of 4 records was discarded" in caught.value.__notes__[0]
        assert os.listdir(tmp_path) == ["f.rvx"] and path.read_bytes() == b"old recording"

    @pytest.mark.parametrize("kind, overwrite, code, reason", [
        ("file", False, kdrvx.ERR_RVX_ALREADY_EXISTS, "file exists; overwrite=True replaces it"),
        ("directory", True, kdrvx.ERR_RVX_CREATE, "is a directory"),
        ("read-only", True, kdrvx.ERR_RVX_CREATE, "is read-only"),
        ("in use", True, kdrvx.ERR_RVX_SHARING_VIOLATION, "in use by another program"),
    ])
    def test_what_is_not_replaced(self, tmp_path, kind, overwrite, code, reason):
        path, old = tmp_path / "f.rvx", tmp_path / "old.rvx"
        old.write_bytes(b"old recording")
        if kind == "directory":
            path.mkdir()
        elif kind == "link":
            path.symlink_to(old)
        else:
            path.write_bytes(b"old recording")
        if kind == "read-only":
            path.chmod(0o444)
        holder = open(path, "rb") if kind == "in use" else None
        if holder:
            fcntl.flock(holder, fcntl.LOCK_SH)
        before = sorted(os.listdir(tmp_path))
        with pytest.raises(kdrvx.RvxError, match=reason) as caught:
            new_file(path, overwrite=overwrite)
        assert caught.value.code == code
        assert sorted(os.listdir(tmp_path)) == before and old.read_bytes() == b"old recording"
        if holder:
            holder.close()

    def test_the_path_as_the_library_cleaned_it(self, tmp_path):
        with new_file(tmp_path / "run?1|a.rvx") as writer:
            pass
        assert writer.path == str(tmp_path / "run_1_a.rvx")
        assert os.listdir(tmp_path) == ["run_1_a.rvx"]


class TestCreateContext:
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

    def test_writing_and_reading_in_two_threads_at_once(self, tmp_path):
        source = np.arange(3 * 500, dtype=np.float32).reshape(500, 3)
        source[:, 2] = 7
        with new_file(tmp_path / "source.rvx") as writer:
            writer.append(source.astype(np.float64))
        read_back, failures = [], []

        def reader():
            try:
                with kdrvx.open(tmp_path / "source.rvx") as recording:
                    for start in range(0, 500, 7):
                        read_back.append(recording.read(start, 7, channels=[0, 1]))
            except Exception as error:
                failures.append(error)

        thread = threading.Thread(target=reader)
        with new_file(tmp_path / "target.rvx") as target:
            thread.start()
            for row in source[::-1].astype(np.float64):
                target.append(row)
        thread.join()
        assert not failures, failures
        np.testing.assert_array_equal(np.concatenate(read_back), source[:, :2])
        with kdrvx.open(tmp_path / "target.rvx") as recording:
            np.testing.assert_array_equal(recording.read(channels=[0, 1]), source[::-1, :2])


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
        with pytest.raises(kdrvx.RvxError, match="only a current-layout file") as caught:
            kdrvx.modify(tmp_path / "c.rvx", comment="x")
        assert caught.value.code == kdrvx.ERR_RVX_MODIFY_NOT_POSSIBLE
        with pytest.raises(kdrvx.RvxError, match="no such file") as caught:
            kdrvx.modify(tmp_path / "none.rvx", comment="x")
        assert caught.value.code == kdrvx.ERR_RVX_OPEN_MODIFY
