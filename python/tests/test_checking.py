"""A recording's claims against its bytes, as the library finds them: what
reading refuses and warns about, kdrvx.check and kdrvx.repair."""

import os
import struct

import numpy as np
import pytest

import kdrvx
from rvx_files import TestChannel, TestRecording, current_header, write

# Where the current layout's header keeps its record count.
_NO_RECORDS = 20


def interrupted(path, records=10, counted=4):
    """A recording whose writer stopped before its final header: the header
    counts fewer records than the data holds."""
    values = np.arange(records * 2, dtype=np.float32).reshape(records, 2)
    with kdrvx.create(path, channels=["p1", "T2"], scan_interval_us=1000) as writer:
        writer.append(values)
    data = bytearray(path.read_bytes())
    struct.pack_into("<I", data, _NO_RECORDS, counted)
    path.write_bytes(bytes(data))
    os.chmod(path, 0o640)
    return values


def test_a_header_that_cannot_be_true_is_refused_naming_the_finding(tmp_path):
    r = TestRecording(records=2, header_size=100)
    r.channels = [TestChannel(letter="p", index=1)]
    path = write(tmp_path / "lying.rvx", current_header(r), np.zeros(2, "<f4").tobytes())
    found = kdrvx.check(path)
    assert found.values_wrong and found.findings
    with pytest.raises(kdrvx.RvxError) as caught:
        kdrvx.read(path)
    assert caught.value.code == kdrvx.ERR_RVX_INVALID_HEADER
    assert found.findings[0] in str(caught.value)


def test_check_and_repair_of_a_recording_that_stopped_before_its_final_header(tmp_path):
    path = tmp_path / "run.rvx"
    values = interrupted(path)
    before = path.read_bytes()
    found = kdrvx.check(path)
    assert (found.opened, found.values_wrong) == (True, False)
    assert (found.header_records, found.held_records, found.trailing_bytes) == (4, 10, 0)
    assert len(found.findings) >= 1 and len(found.channels) == 2
    with pytest.warns(kdrvx.RvxWarning) as said:
        kdrvx.open(path).close()
    assert found.findings[0] in str(said[0].message)
    assert path.read_bytes() == before  # checking changes nothing

    copy = tmp_path / "copy.rvx"
    repaired = kdrvx.repair(path, copy)
    assert (repaired.changed, repaired.old_records, repaired.new_records) == (True, 4, 10)
    assert path.read_bytes() == before  # the source stays as it was
    with pytest.raises(kdrvx.RvxFileExistsError):
        kdrvx.repair(path, copy)

    repaired = kdrvx.repair(path)
    assert (repaired.changed, repaired.path) == (True, str(path))
    assert path.read_bytes() == copy.read_bytes() and len(path.read_bytes()) == len(before)
    assert os.stat(path).st_mode & 0o777 == 0o640
    assert sorted(os.listdir(tmp_path)) == ["copy.rvx", "run.rvx"]
    assert kdrvx.check(path).ok
    assert kdrvx.read(path).tobytes() == values.tobytes()
    with kdrvx.open(path) as recording:
        assert [c.maximum for c in recording.channels] == [18.0, 19.0]
    assert kdrvx.repair(path).changed is False


def test_repair_refuses_what_the_library_does_not_repair_and_leaves_it_alone(tmp_path):
    r = TestRecording(records=2, header_size=100)
    r.channels = [TestChannel(letter="p", index=1)]
    path = write(tmp_path / "lying.rvx", current_header(r), np.zeros(2, "<f4").tobytes())
    before = path.read_bytes()
    with pytest.raises(kdrvx.RvxError) as caught:
        kdrvx.repair(path)
    assert caught.value.code == kdrvx.ERR_RVX_MODIFY_NOT_POSSIBLE
    assert "the header size field and the channel count cannot both be true" in str(caught.value)
    assert path.read_bytes() == before and os.listdir(tmp_path) == ["lying.rvx"]


def test_a_compact_recording_without_its_summary_file_is_read_with_the_librarys_warning(tmp_path):
    path = tmp_path / "c.rvx"
    with kdrvx.create(path, channels=["p1"], scan_interval_us=1000, legacy=True,
                      company="ACME") as writer:
        writer.append([1.0])
    os.unlink(tmp_path / "c.RVI")
    found = kdrvx.check(path)
    with pytest.warns(kdrvx.RvxWarning) as said:
        kdrvx.open(path).close()
        assert kdrvx.read(path).tolist() == [[1.0]]
    assert [str(warning.message) for warning in said] == ["%s: %s" % (path, found.findings[0])] * 2
    assert "company" in found.findings[0]
    assert {warning.filename for warning in said} == {__file__}  # the caller's line
