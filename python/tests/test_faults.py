"""The Python writer under faults: refused input, a disk that fills up (a
file-size limit), and the process killed part-way. Each run copies a
recording over an existing target in a process of its own; afterwards the
source is byte-identical, the target holds its old bytes, and the message
names the cause."""

import hashlib
import os
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

import kdrvx
from rvx_files import TestChannel, TestRecording, current_header, write

COPY = r"""
import resource, signal, sys, time
import numpy as np, kdrvx
source, target, fault = sys.argv[1:]
with kdrvx.open(source) as recording:
    channels, values = recording.channels, recording.read()
if fault.startswith("disk full"):
    signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
    resource.setrlimit(resource.RLIMIT_FSIZE, (65536, 65536))
with kdrvx.create(target, channels=channels, scan_interval_us=1000, overwrite=True) as writer:
    try:
        for block in np.array_split(values, 20):
            writer.append(block)
            if fault == "killed":
                print("appended", flush=True)
                time.sleep(60)
    except kdrvx.RvxError:
        if fault != "disk full, records kept":
            raise
        print(writer.record_count, flush=True)
        writer.close()
    if fault == "bad input":
        writer.append([0.5, 1.0, 0.5])
"""


@pytest.fixture
def copy(tmp_path):
    """Runs the copy with a fault; returns the process, the source's values
    and a check that the source did not change."""
    r = TestRecording(records=20000)
    r.channels = [TestChannel(letter="p"), TestChannel(letter="T"),
                  TestChannel(letter="D", multichannel=8)]
    values = np.arange(60000, dtype=np.float32).reshape(20000, 3)
    values[:, 2] = kdrvx.bits_as_float32(np.arange(20000) % 256)
    source = write(tmp_path / "source.rvx", current_header(r), values.tobytes())
    write(tmp_path / "target.rvx", b"old recording")
    digest = hashlib.sha256(source.read_bytes()).digest()
    environment = dict(os.environ, PYTHONPATH=str(Path(kdrvx.__file__).parents[1]))

    def run(fault):
        arguments = [sys.executable, "-c", COPY, str(source), str(tmp_path / "target.rvx"), fault]
        return subprocess.Popen(arguments, env=environment, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, text=True)

    yield run, values
    assert hashlib.sha256(source.read_bytes()).digest() == digest


@pytest.mark.parametrize("fault, cause", [
    ("bad input", "ValueError: channel D1 holds bit fields: record 0 gives 0.5"),
    ("disk full", "ERR_RVX_OPEN_WRITE: Error: Open file for write (file too large: record "),
    ("killed", None),
])
def test_the_target_keeps_its_old_bytes(tmp_path, copy, fault, cause):
    run, _ = copy
    process = run(fault)
    if cause is None:
        assert process.stdout.readline() == "appended\n"
        process.kill()
    _, message = process.communicate(timeout=60)
    assert (tmp_path / "target.rvx").read_bytes() == b"old recording"
    left = sorted(set(os.listdir(tmp_path)) - {"source.rvx", "target.rvx"})
    if cause is None:
        # Only the staging file of the recording that was being made.
        assert len(left) == 1 and left[0].startswith(".partial-") and left[0].endswith(".rvx")
    else:
        assert left == []
        assert process.returncode == 1 and cause in message
        assert "kdrvx: the recording of " in message and " records was discarded" in message


def test_closing_after_a_failed_append_keeps_the_records_before_it(tmp_path, copy):
    run, values = copy
    process = run("disk full, records kept")
    kept, message = process.communicate(timeout=60)
    assert process.returncode == 0, message
    kept = int(kept)
    assert 0 < kept < len(values)
    assert sorted(os.listdir(tmp_path)) == ["source.rvx", "target.rvx"]
    with kdrvx.open(tmp_path / "target.rvx") as recording:
        assert recording.header.record_count == kept
        assert recording.read(all_records=True).tobytes() == values[:kept].tobytes()
