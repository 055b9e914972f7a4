"""The build backend, run as a program: the Linux wheel's platform tag is the
glibc its library needs, and a library that does not fit the wheel asked for
is refused, leaving the folder as it was: an earlier wheel stays, nothing is
added."""

import os
import re
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

import pytest

import kdrvx

BACKEND = Path(__file__).resolve().parents[1] / "_build" / "kdrvx_build.py"


def built_library():
    return Path(os.environ["KDRVX_LIBRARY"]).resolve()


def build(platform, library, out):
    return subprocess.run([sys.executable, str(BACKEND), "--platform", platform,
                           "--out", str(out), "--library", str(library)],
                          capture_output=True, text=True)


def renamed_to_another_version(folder):
    return Path(shutil.copy(built_library(), folder / "libkdrvx.so.0.0.0"))


def cut_after_its_elf_header(folder):
    cut = folder / built_library().name
    cut.write_bytes(built_library().read_bytes()[:64])
    return cut


def linked_without_glibc(folder):
    """The library with every GLIBC_ version it needs renamed, as a library
    built against another C library needs none."""
    other = folder / built_library().name
    other.write_bytes(built_library().read_bytes().replace(b"GLIBC_2.", b"OTHER_2."))
    return other


def pip_takes(wheels, glibc):
    """Whether pip takes the kdrvx wheel in `wheels` on a system with
    `glibc` (major, minor), given the platform tags such a system offers."""
    major, minor = glibc
    platforms = ["manylinux_%d_%d_x86_64" % (major, m) for m in range(minor, 4, -1)]
    platforms.append("linux_x86_64")
    result = subprocess.run(
        [sys.executable, "-m", "pip", "download", "--quiet", "--disable-pip-version-check",
         "--no-index", "--no-deps", "--only-binary=:all:", "--find-links", str(wheels),
         "--dest", str(wheels / "taken"),
         *("--platform=" + platform for platform in platforms), "kdrvx==" + kdrvx.__version__],
        capture_output=True, text=True, env={**os.environ, "PIP_CONFIG_FILE": os.devnull})
    return result.returncode == 0


@pytest.mark.skipif(not shutil.which("readelf"), reason="needs readelf")
def test_the_linux_wheel_is_tagged_with_the_glibc_its_library_needs(tmp_path):
    needed = subprocess.run(["readelf", "-V", "-W", str(built_library())], capture_output=True,
                            text=True, check=True).stdout
    glibc = max(tuple(map(int, found)) for found in re.findall(r"Name: GLIBC_(\d+)\.(\d+)", needed))
    tag = "py3-none-manylinux_%d_%d_x86_64" % glibc
    result = build("linux_x86_64", built_library(), tmp_path)
    assert result.returncode == 0, result.stderr
    wheel = tmp_path / f"kdrvx-{kdrvx.__version__}-{tag}.whl"
    assert os.listdir(tmp_path) == [wheel.name]
    with zipfile.ZipFile(wheel) as archive:
        info = f"kdrvx-{kdrvx.__version__}.dist-info/WHEEL"
        assert f"Tag: {tag}\n" in archive.read(info).decode()
    if subprocess.run([sys.executable, "-m", "pip", "--version"], capture_output=True).returncode:
        pytest.skip("needs pip")
    assert pip_takes(tmp_path, glibc)
    assert not pip_takes(tmp_path, (glibc[0], glibc[1] - 1))


@pytest.mark.parametrize("platform, make_library, reason", [
    ("win_amd64", lambda folder: built_library(), "not a PE file"),
    ("linux_x86_64", renamed_to_another_version, "version 0.0.0, but the package is"),
    ("linux_x86_64", cut_after_its_elf_header, "cut short or damaged"),
    ("linux_x86_64", linked_without_glibc, "needs no GLIBC_ symbol version"),
])
def test_a_library_that_does_not_fit_is_refused(tmp_path, platform, make_library, reason):
    library = make_library(tmp_path)
    out = tmp_path / "dist"
    out.mkdir()
    earlier = out / f"kdrvx-{kdrvx.__version__}-py3-none-{platform}.whl"
    earlier.write_bytes(b"the earlier wheel")
    result = build(platform, library, out)
    assert result.returncode == 1
    assert result.stderr.startswith(f"kdrvx_build: {library}: ") and reason in result.stderr
    assert os.listdir(out) == [earlier.name]
    assert earlier.read_bytes() == b"the earlier wheel"
