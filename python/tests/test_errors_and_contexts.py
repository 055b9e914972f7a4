"""Errors with their code, name and text; the one read context of the
process; finding the library; calls from several threads."""

import gc
import fcntl
import os
import pickle
import re
import subprocess
import sys
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import kdrvx
from kdrvx import _library
from rvx_files import TestChannel, TestRecording, current_header, write

PACKAGE_ROOT = Path(__file__).resolve().parents[1]


def current_file(path, records=20, channels=2):
    r = TestRecording(records=records)
    r.channels = [TestChannel(letter="p", index=k + 1) for k in range(channels)]
    values = np.arange(records * channels, dtype=np.float32).reshape(records, channels)
    return write(path, current_header(r), values.tobytes()), values


class TestErrors:
    def test_missing_file(self, tmp_path):
        with pytest.raises(kdrvx.RvxError) as caught:
            kdrvx.open(tmp_path / "none.rvx")
        error = caught.value
        assert (error.code, error.name) == (0xE1000006, "ERR_RVX_OPEN_READ")
        assert error.code == kdrvx.ERR_RVX_OPEN_READ
        assert error.text == "The RVX- file cannot be opened for read"
        assert (error.function, error.reason) == ("KDRVX_ReaderOpen", "no such file")
        assert str(error) == "KDRVX_ReaderOpen: 0xE1000006 ERR_RVX_OPEN_READ: The RVX- file " \
            "cannot be opened for read (no such file: %s)" % (tmp_path / "none.rvx")
        assert kdrvx.last_error() == 0xE1000006

    @pytest.mark.parametrize("attempt, place, reason, system_class", [
        ("open", "none/f.rvx", "no such directory", FileNotFoundError),
        ("create", "none/f.rvx", "no such directory", FileNotFoundError),
        ("modify", "none.rvx", "no such file", FileNotFoundError),
        ("open", "folder", "is a directory", IsADirectoryError),
        ("create", "folder", "is a directory", IsADirectoryError),
        ("create", "there.rvx", "file exists; overwrite=True replaces it", FileExistsError),
        ("open", "unreadable.rvx", "permission denied", PermissionError),
        ("create", "locked/f.rvx", "permission denied", PermissionError),
        ("create", "held.rvx", "in use by another program", PermissionError),
        ("open", "there.rvx", None, None),  # the file's fault, not the system's
    ])
    def test_the_system_reason_of_a_failed_open_or_create(self, tmp_path, attempt, place, reason,
                                                          system_class):
        (tmp_path / "folder").mkdir()
        (tmp_path / "locked").mkdir(mode=0o500)
        write(tmp_path / "unreadable.rvx", b"").chmod(0)
        write(tmp_path / "there.rvx", b"no recording")
        if reason == "permission denied" and os.geteuid() == 0:
            pytest.skip("root is denied no access")
        path = tmp_path / place
        with write(tmp_path / "held.rvx", b"").open("rb") as held, \
                pytest.raises(kdrvx.RvxError) as caught:
            fcntl.flock(held, fcntl.LOCK_EX)  # as another program that writes it
            if attempt == "open":
                kdrvx.open(path)
            elif attempt == "modify":
                kdrvx.modify(path, comment="checked")
            else:
                kdrvx.create(path, channels=["p1"], scan_interval_us=1,
                             overwrite=place != "there.rvx")
        error = caught.value
        assert error.reason == reason
        if reason is not None:
            assert str(error).endswith("(%s: %s)" % (reason, path))
        # Also the OSError of the system's reason, with its number and the
        # path given; that survives pickling (to and from worker processes).
        for seen in (error, pickle.loads(pickle.dumps(error))):
            assert isinstance(seen, kdrvx.RvxError) and str(seen) == str(error)
            if system_class is None:
                assert not isinstance(seen, OSError) and seen.errno is seen.filename is None
            else:
                assert isinstance(seen, system_class)
                assert type(OSError(seen.errno, "")) is system_class
                assert seen.filename == str(path) and seen.strerror == reason

    def test_texts_are_taken_without_disturbing_the_last_error(self, tmp_path):
        with pytest.raises(kdrvx.RvxError):
            kdrvx.open(tmp_path / "none.rvx")
        kdrvx.error_text(kdrvx.ERR_RVX_DATE)
        assert kdrvx.last_error() == kdrvx.ERR_RVX_OPEN_READ

    def test_a_closed_recording_refuses_to_read(self, tmp_path):
        path, _ = current_file(tmp_path / "f.rvx")
        recording = kdrvx.open(path)
        recording.close()
        recording.close()
        assert recording.closed
        with pytest.raises(ValueError, match="closed"):
            recording.read()


def read_at_random(recording, values, seed, errors, rounds=30, one_column=False):
    """Reads random stretches (of one random channel) and compares them with
    `values`; what goes wrong lands in `errors`, for the main thread."""
    rng = np.random.default_rng(seed)
    try:
        for _ in range(rounds):
            start, count = int(rng.integers(0, len(values))), int(rng.integers(0, 60))
            channels = [int(rng.integers(0, values.shape[1]))] if one_column else None
            expected = values[start:start + count] if channels is None else \
                values[start:start + count, channels]
            np.testing.assert_array_equal(recording.read(start, count, channels=channels), expected)
    except Exception as error:
        errors.append(error)


def run_all(threads):
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()


class TestManyRecordings:
    def test_two_open_at_once_read_from_threads_in_any_order(self, tmp_path):
        first_path, first_values = current_file(tmp_path / "first.rvx", records=300, channels=3)
        second_path, second_values = current_file(tmp_path / "second.rvx", records=200, channels=2)
        errors = []
        with kdrvx.open(first_path) as first, kdrvx.open(second_path) as second, \
                kdrvx.open(first_path) as again:
            pairs = [(first, first_values), (second, second_values), (again, first_values)]
            run_all([threading.Thread(target=read_at_random, args=(recording, values, seed, errors))
                     for seed, (recording, values) in enumerate(pairs * 2)])
            assert not errors, errors
            # The read context stays free for other users of the library.
            assert _library.call("KDRVX_OpenRead", _library.to_utf16(str(second_path))) == 0
            assert _library.call("KDRVX_CloseRead") == 0
            np.testing.assert_array_equal(second.read(), second_values)

    @pytest.mark.skipif(not os.path.isdir("/proc/self/fd"), reason="needs /proc")
    def test_a_forgotten_recording_closes_its_file(self, tmp_path):
        path, _ = current_file(tmp_path / "f.rvx")
        kdrvx.open(path).close()  # the library loaded, its first descriptors taken
        before = len(os.listdir("/proc/self/fd"))
        kdrvx.open(path)  # not kept
        gc.collect()
        assert len(os.listdir("/proc/self/fd")) == before

    def test_a_recording_pickles_by_its_path_and_refuses_a_changed_file(self, tmp_path,
                                                                         monkeypatch):
        monkeypatch.chdir(tmp_path)
        path, values = current_file(tmp_path / "f.rvx")
        with kdrvx.open("f.rvx") as recording:
            monkeypatch.chdir("/")
            pickled = pickle.dumps(recording)
        with pickle.loads(pickled) as again:  # reopened by its absolute path
            assert again.path == str(path) and again.header == recording.header
            np.testing.assert_array_equal(again.read(-3), values[-3:])
        current_file(path, records=19)
        with pytest.raises(ValueError, match="changed since its Recording was pickled: header "
                                             "record_count was 20, now 19"):
            pickle.loads(pickled)
        assert pickle.loads(pickle.dumps(recording)).closed  # not reopened

    def test_a_failed_open_leaves_the_context_free(self, tmp_path):
        path, _ = current_file(tmp_path / "f.rvx")
        with pytest.raises(kdrvx.RvxError):
            kdrvx.open(tmp_path / "none.rvx")
        with kdrvx.open(path):
            pass


def run_python(code, **environment):
    env = {key: value for key, value in os.environ.items() if key != "KDRVX_LIBRARY"}
    env.update(environment)
    env["PYTHONPATH"] = str(PACKAGE_ROOT)
    return subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, timeout=60)


class TestFindingTheLibrary:
    def test_the_library_named_by_the_environment_file_or_folder(self):
        built = Path(kdrvx.library_path())
        for place in (built, built.parent):
            result = run_python("import kdrvx; print(kdrvx.library_path()); print(kdrvx.library_version())",
                                KDRVX_LIBRARY=str(place))
            assert result.returncode == 0, result.stderr
            assert result.stdout.splitlines()[1].startswith("KDrvxLibrary version ")

    def test_the_error_names_every_place_looked_at(self, tmp_path):
        missing = tmp_path / "libkdrvx.so.4"
        result = run_python("import kdrvx; kdrvx.library_version()", KDRVX_LIBRARY=str(missing))
        assert result.returncode != 0
        assert "LibraryNotFoundError" in result.stderr
        assert "KDRVX_LIBRARY: %s (no such file)" % missing in result.stderr
        # Without the variable: beside the package, then the system's path.
        result = run_python("import kdrvx; kdrvx.library_version()", LD_LIBRARY_PATH="")
        if result.returncode == 0:
            pytest.skip("a kdrvx library is installed on this system")
        assert "KDRVX_LIBRARY: not set" in result.stderr
        assert "beside the package: %s" % (PACKAGE_ROOT / "kdrvx" / "libkdrvx.so.4") in result.stderr
        assert "the system's library path: libkdrvx.so.4" in result.stderr


class TestThreads:
    def test_context_calls_never_overlap_while_recordings_are_read(self, tmp_path, monkeypatch):
        """Every function of the library's contexts is wrapped to count the calls
        in flight; under the binding's lock there is never more than one, while
        the readers, which take no lock, read beside them."""
        in_flight, most = [0], [0]
        guard = threading.Lock()
        functions = _library.library().functions

        def watched(original):
            def call(*arguments):
                with guard:
                    in_flight[0] += 1
                    most[0] = max(most[0], in_flight[0])
                time.sleep(0.0002)
                try:
                    return original(*arguments)
                finally:
                    with guard:
                        in_flight[0] -= 1
            return call

        for name, original in list(functions.items()):
            if not name.startswith("KDRVX_Reader"):
                monkeypatch.setitem(functions, name, watched(original))

        path, values = current_file(tmp_path / "f.rvx", records=200, channels=3)
        errors = []

        def asker():
            try:
                for _ in range(50):
                    assert kdrvx.library_version().startswith("KDrvxLibrary")
                    kdrvx.last_error()
            except Exception as error:
                errors.append(error)

        with kdrvx.open(path) as recording:
            run_all([threading.Thread(target=read_at_random,
                                      args=(recording, values, seed, errors, 20, True))
                     for seed in range(4)] + [threading.Thread(target=asker) for _ in range(2)])
        assert not errors, errors
        assert most[0] == 1
