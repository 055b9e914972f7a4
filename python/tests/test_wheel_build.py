"""The build backend, run as a program, refuses a library that does not fit the wheel
asked for, and then leaves the folder as it was: an earlier wheel stays, nothing is added."""

import os
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import kdrvx

BACKEND = Path(__file__).resolve().parents[1] / "_build" / "kdrvx_build.py"


def built_library():
    return Path(os.environ["KDRVX_LIBRARY"]).resolve()


def renamed_to_another_version(folder):
    return Path(shutil.copy(built_library(), folder / "libkdrvx.so.0.0.0"))


def cut_after_its_elf_header(folder):
    cut = folder / built_library().name
    cut.write_bytes(built_library().read_bytes()[:64])
    return cut


@pytest.mark.parametrize("platform, make_library, reason", [
    ("win_amd64", lambda folder: built_library(), "not a PE file"),
    ("linux_x86_64", renamed_to_another_version, "version 0.0.0, but the package is"),
    ("linux_x86_64", cut_after_its_elf_header, "cut short or damaged"),
])
def test_a_library_that_does_not_fit_is_refused(tmp_path, platform, make_library, reason):
    library = make_library(tmp_path)
    out = tmp_path / "dist"
    out.mkdir()
    earlier = out / f"kdrvx-{kdrvx.__version__}-py3-none-{platform}.whl"
    earlier.write_bytes(b"the earlier wheel")
    result = subprocess.run([sys.executable, str(BACKEND), "--platform", platform,
                             "--out", str(out), "--library", str(library)],
                            capture_output=True, text=True)
    assert result.returncode == 1
    assert result.stderr.startswith(f"kdrvx_build: {library}: ") and reason in result.stderr
    assert os.listdir(out) == [earlier.name]
    assert earlier.read_bytes() == b"the earlier wheel"
