"""A file the binding replaces keeps what the user had; paths up to the
library's limit are written."""

import os

import pytest

import kdrvx


def test_a_replaced_recording_keeps_owner_mode_and_hard_link(tmp_path):
    if os.geteuid() != 0:
        pytest.skip("giving a file to another owner takes root")
    path, second = tmp_path / "f.rvx", tmp_path / "second.rvx"
    path.write_bytes(b"old recording")
    os.chown(path, 4321, 4322)
    path.chmod(0o600)
    os.link(path, second)
    with kdrvx.create(path, ["p1"], scan_interval_us=1000, overwrite=True) as writer:
        writer.append([[1.0], [2.0]])
    status = path.stat()
    assert (status.st_uid, status.st_gid, status.st_mode & 0o7777) == (4321, 4322, 0o600)
    assert status.st_nlink == 2 and second.read_bytes() == path.read_bytes()
    assert sorted(os.listdir(tmp_path)) == ["f.rvx", "second.rvx"]
    with kdrvx.open(second) as recording:
        assert recording.read().tolist() == [[1.0], [2.0]]


@pytest.mark.parametrize("length", range(255, 260))
def test_paths_up_to_the_librarys_limit(tmp_path, length):
    name = "n" * (length - len(str(tmp_path)) - 1 - 4) + ".rvx"
    path = tmp_path / name
    assert len(str(path)) == length
    with kdrvx.create(path, ["p1"], scan_interval_us=1000) as writer:
        writer.append([[1.0]])
    kdrvx.modify(path, name="long")
    assert kdrvx.repair(path).changed is False
    assert os.listdir(tmp_path) == [name]
