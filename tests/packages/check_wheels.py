#!/usr/bin/python3
"""Checks the Python wheels that carry the library, as a user meets them.

The Linux wheel must be tagged manylinux_X_Y_x86_64 after the highest glibc
version its library needs (readelf), so that pip refuses it where that glibc
is missing. It is installed with pip from the folder of both wheels, offline
and from outside the source tree, into a new virtual environment that sees
Debian's numpy; there
use_from_python.py (the README's "Use from Python") writes and reads a
recording, the package must have loaded the library it carries, and
KDRVX_LIBRARY must override that. The Windows wheel, which cannot run here,
must hold the same files with the DLL in place of the shared object, its
tag, correct hashes, and a PE x86-64 DLL that exports what the shared object
exports. Both wheels are checked against their RECORD.
  /usr/bin/python3 tests/packages/check_wheels.py DIST_DIR VERSION
"""

import base64
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
PROBE = ("import importlib.metadata, kdrvx; print(importlib.metadata.version('kdrvx'), "
         "kdrvx.__version__, kdrvx.library_version().split()[2], kdrvx.library_path())")


def run(command, **kwargs):
    result = subprocess.run(command, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        sys.exit(f"check_wheels: {' '.join(map(str, command))} failed:\n"
                 f"{result.stdout}{result.stderr}")
    return result.stdout


def expect(condition, what):
    if not condition:
        sys.exit(f"check_wheels: {what}")


def members(wheel, tag):
    """The wheel's members by name, after checking its WHEEL file and RECORD."""
    with zipfile.ZipFile(wheel) as archive:
        files = {name: archive.read(name) for name in archive.namelist()}
    unrecorded = dict(files)
    info = next(name.split("/")[0] for name in files if name.endswith(".dist-info/WHEEL"))
    expect(f"Root-Is-Purelib: false\nTag: {tag}\n" in files[f"{info}/WHEEL"].decode(),
           f"{wheel.name}: WHEEL is not Root-Is-Purelib false with Tag {tag}")
    for line in files[f"{info}/RECORD"].decode().splitlines():
        name, digest, size = line.split(",")
        data = unrecorded.pop(name)
        if name == f"{info}/RECORD":
            continue
        actual = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=")
        expect(digest == f"sha256={actual.decode()}" and size == str(len(data)),
               f"{wheel.name}: RECORD is wrong about {name}")
    expect(not unrecorded, f"{wheel.name}: not in RECORD: {sorted(unrecorded)}")
    return files


def glibc_tag(shared_object, work):
    """The manylinux tag of the highest GLIBC_x.y version that the library
    needs, as readelf reads its version-needed section."""
    (work / "needed").write_bytes(shared_object)
    needed = run(["readelf", "-V", "-W", work / "needed"])
    versions = [tuple(map(int, found)) for found in re.findall(r"Name: GLIBC_(\d+)\.(\d+)", needed)]
    expect(versions, "libkdrvx.so.4 needs no GLIBC_ version")
    return "manylinux_%d_%d_x86_64" % max(versions)


def check_linux(wheel, version, work):
    with zipfile.ZipFile(wheel) as archive:
        tag = glibc_tag(archive.read("kdrvx/libkdrvx.so.4"), work)
    expect(wheel.name == f"kdrvx-{version}-py3-none-{tag}.whl",
           f"{wheel.name} is not tagged {tag}, the glibc its library needs")
    files = members(wheel, f"py3-none-{tag}")
    expect("kdrvx/py.typed" in files, f"{wheel.name} has no kdrvx/py.typed for type checkers")
    expect("kdrvx/_interface.py" in files, f"{wheel.name} has no kdrvx/_interface.py, the "
           "declarations made from the header")
    environment = {k: v for k, v in os.environ.items() if k not in ("KDRVX_LIBRARY", "PYTHONPATH")}
    run([sys.executable, "-m", "venv", "--system-site-packages", work / "venv"])
    python = work / "venv" / "bin" / "python"
    # As the README says: pip takes the wheel for this platform from the folder
    # that holds both.
    run([python, "-m", "pip", "install", "--quiet", "--no-index", "--no-cache-dir",
         "--find-links", wheel.parent, f"kdrvx=={version}"], cwd=work, env=environment)
    print(run([python, HERE / "use_from_python.py"], cwd=work, env=environment), end="")
    *versions, path = run([python, "-c", PROBE], cwd=work, env=environment).split()
    expect(versions == [version] * 3, f"versions {versions}, expected {version}")
    expect(Path(path).is_relative_to(work / "venv") and Path(path).name == "libkdrvx.so.4",
           f"not the library in the wheel: {path}")
    elsewhere = work / "elsewhere" / "libkdrvx.so.4"
    elsewhere.parent.mkdir()
    shutil.copy(path, elsewhere)
    *_, path = run([python, "-c", PROBE], cwd=work,
                   env={**environment, "KDRVX_LIBRARY": str(elsewhere)}).split()
    expect(path == str(elsewhere), f"KDRVX_LIBRARY={elsewhere} not followed: loaded {path}")
    return files


def exports(library, work):
    (work / "exports").write_bytes(library)
    table = run(["x86_64-w64-mingw32-objdump", "-p", work / "exports"])
    expect("file format pei-x86-64" in table and "\tDLL\n" in table,
           "KDRVXLibrary.dll is not a PE x86-64 DLL")
    names = table.split("[Ordinal/Name Pointer] Table\n")[1].split("\n\n")[0]
    return {line.split("] ")[1] for line in names.splitlines()}


def check_windows(wheel, linux_files, work):
    files = members(wheel, "py3-none-win_amd64")
    library = files.pop("kdrvx/KDRVXLibrary.dll", None)
    expect(library is not None, f"{wheel.name} has no kdrvx/KDRVXLibrary.dll")
    shared_object = linux_files.pop("kdrvx/libkdrvx.so.4")
    tagged = [name for name in files if name.endswith(("/WHEEL", "/RECORD"))]
    expect(files.keys() == linux_files.keys()
           and all(files[name] == linux_files[name] for name in files if name not in tagged),
           f"{wheel.name} does not hold what the Linux wheel holds beside its library")
    (work / "shared_object").write_bytes(shared_object)
    linux_exports = set(run(["nm", "-D", "--defined-only", "--format=just-symbols",
                             work / "shared_object"]).split())
    expect(exports(library, work) == linux_exports and "KDRVX_LibVersion" in linux_exports,
           "KDRVXLibrary.dll does not export the functions of libkdrvx.so.4")


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: check_wheels.py DIST_DIR VERSION")
    dist, version = Path(sys.argv[1]).resolve(), sys.argv[2]
    with tempfile.TemporaryDirectory(prefix="check-wheels-") as work:
        work = Path(work).resolve()
        linux = sorted(dist.glob(f"kdrvx-{version}-py3-none-manylinux_*_x86_64.whl"))
        windows = dist / f"kdrvx-{version}-py3-none-win_amd64.whl"
        expect(len(linux) == 1 and windows.is_file(),
               f"{dist} lacks kdrvx-{version}-py3-none-manylinux_X_Y_x86_64.whl or {windows.name}, "
               f"or holds several of the first: {[wheel.name for wheel in linux]}")
        linux = linux[0]
        readme = (HERE.parent.parent / "README.md").read_text()
        snippet = (HERE / "use_from_python.py").read_text()
        expect(f"```python\n{snippet}```" in readme,
               "README's Use from Python is not use_from_python.py, verbatim")
        check_windows(windows, check_linux(linux, version, work), work)
    print(f"check_wheels: {linux.name} and {windows.name} are good")


main()
