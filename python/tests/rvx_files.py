"""RVX files of every header layout, with their data records, from the test
recordings of tests/recordings: each function describes what it wants in
JSON and runs make_test_recording (named by KDRVX_MAKE_TEST_RECORDING, which
the build sets) for the bytes. Field names and defaults are the generator's."""

from __future__ import annotations

import json
import os
import subprocess
from pathlib import Path


def generate(*parts) -> bytes:
    """The bytes of the generator's parts, one after the other."""
    generator = os.environ["KDRVX_MAKE_TEST_RECORDING"]
    run = subprocess.run([generator], input=json.dumps(list(parts)).encode(),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    if run.returncode != 0:
        raise RuntimeError(run.stderr.decode(errors="replace"))
    return run.stdout


class _Fields(dict):
    """The fields given so far, as attributes; the rest keep their defaults."""

    def __getattr__(self, name):
        try:
            return self[name]
        except KeyError:
            raise AttributeError(name) from None

    def __setattr__(self, name, value):
        self[name] = value


class TestChannel(_Fields):
    __test__ = False  # a test file's description, not a test class


class TestRecording(_Fields):
    __test__ = False


def _header(layout: str, r: dict, **more) -> bytes:
    return generate({"header": dict(r, layout=layout, **more)})


def current_header(r: TestRecording) -> bytes:
    return _header("current", r)


def win2_header(r: TestRecording, comment_lines=("", "", "", "")) -> bytes:
    return _header("win2", r, comment_lines=list(comment_lines))


def dos_before_50_header(scan_rate_ms: int, channels) -> bytes:
    """Oldest DOS layout: channels as (letter, code)."""
    entries = [{"letter": letter, "code": code} for letter, code in channels]
    return _header("dos4", {}, scan_rate=scan_rate_ms, channels=entries)


def dos_records(records) -> bytes:
    """Records of (mantissa, decimal count) entries."""
    return generate({"decimals": [[list(entry) for entry in record] for record in records]})


def rvi_path(rvx: Path) -> Path:
    """The RVI file the library looks for: the last three characters become RVI."""
    return rvx.with_name(rvx.name[:-3] + "RVI")


def write(path: Path, *parts: bytes) -> Path:
    path.write_bytes(b"".join(parts))
    return path
