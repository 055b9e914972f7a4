"""A build backend for the kdrvx package that needs nothing beyond the
standard library, so that `pip install ./python` works without a package
index: the package is pure Python, and a wheel is a zip file with three
metadata files beside it.

The metadata comes from the [project] table of pyproject.toml; the version
is the project's (kdrvx/_version.py reads it from the top CMakeLists.txt),
and the wheel's kdrvx/_version.py holds it written out.

Run as a program, it makes a wheel for one platform that carries the
library beside the package, where kdrvx/_library.py looks first:

    python3 kdrvx_build.py --platform linux_x86_64 --out dist --library libkdrvx.so.4.5.2
    python3 kdrvx_build.py --platform win_amd64 --out dist --library KDRVXLibrary.dll

It refuses a library that is not built for that platform or whose version
is not the package's, as far as the file tells it. The Linux wheel is
tagged manylinux_X_Y_x86_64 after the highest glibc symbol version the
library needs (GLIBC_X.Y, read from its ELF version-needed section), so
that pip refuses it where that glibc is missing; the Windows wheel is
tagged win_amd64. An existing wheel of the
same name is replaced (a release script makes its artefacts again), and the
replacement is announced; the new wheel is written to a temporary file in the
same folder and renamed over it only when complete.
"""

import argparse
import base64
import hashlib
import importlib.util
import os
import re
import struct
import sys
import tempfile
import zipfile

try:
    import tomllib
except ImportError:  # before Python 3.11
    sys.exit("kdrvx_build: building kdrvx from its source needs Python 3.11 or later (tomllib); "
             "its wheels install on the Python its requires-python names")

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_VERSION_MODULE = "kdrvx/_version.py"
# The declarations of the C interface, which the CMake build makes from the
# header (python/_build/kdrvx_interface.py): a wheel carries them made.
_INTERFACE_MODULE = "kdrvx/_interface.py"
_PURE_TAG = "py3-none-any"
# The marker that tells type checkers the package has hints (PEP 561).
_TYPED_MARKER = "py.typed"
# The time stamp of every member, so that the same inputs give the same wheel.
_MEMBER_TIME = (1980, 1, 1, 0, 0, 0)


class BuildError(Exception):
    """A wheel that cannot be made from what it was given; the text says why."""


def _project_version():
    # The module alone, without the package (whose import needs numpy).
    path = os.path.join(_ROOT, _VERSION_MODULE)
    found = importlib.util.spec_from_file_location("kdrvx_version", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module.__version__


def _project():
    with open(os.path.join(_ROOT, "pyproject.toml"), "rb") as file:
        project = tomllib.load(file)["project"]
    return {**project, "version": _project_version()}


def _metadata(project):
    lines = [
        "Metadata-Version: 2.1",
        f"Name: {project['name']}",
        f"Version: {project['version']}",
        f"Summary: {project.get('description', '')}",
        f"Requires-Python: {project.get('requires-python', '>=3')}",
    ]
    lines += [f"Requires-Dist: {dependency}" for dependency in project.get("dependencies", [])]
    for extra, dependencies in project.get("optional-dependencies", {}).items():
        lines.append(f"Provides-Extra: {extra}")
        lines += [f'Requires-Dist: {d}; extra == "{extra}"' for d in dependencies]
    return "\n".join(lines) + "\n"


def _is_library(name):
    return name.startswith("libkdrvx.so") or name == "KDRVXLibrary.dll"


def _package_files(with_libraries):
    """The package's modules, and a library copied beside them if asked for."""
    folder = os.path.join(_ROOT, "kdrvx")
    for name in sorted(os.listdir(folder)):
        if name.endswith(".py") or name == _TYPED_MARKER or (with_libraries and _is_library(name)):
            yield os.path.join(folder, name), f"kdrvx/{name}"


def _package_entries(project, with_libraries):
    if not os.path.isfile(os.path.join(_ROOT, _INTERFACE_MODULE)):
        raise BuildError(f"{os.path.join(_ROOT, _INTERFACE_MODULE)} is missing: the CMake build "
                         "makes it from kdrvx.h (cmake --preset dev && cmake --build --preset dev)")
    entries = []
    for path, name in _package_files(with_libraries):
        if name == _VERSION_MODULE:
            entries.append((name, f'__version__ = "{project["version"]}"\n'.encode()))
            continue
        with open(path, "rb") as file:
            entries.append((name, file.read()))
    return entries


# What a wheel for each platform carries: the library as an ELF x86-64 shared
# object or a PE x86-64 DLL, checked by _linux_library or _windows_library,
# which return the name it has in the package.


def _refuse(path, platform, what):
    raise BuildError(f"{path}: {what}; a {platform} wheel needs "
                     f"{_PLATFORMS[platform][0]}")


_SHT_DYNAMIC = 6
_SHT_GNU_VERNEED = 0x6FFFFFFE  # the versions of symbols a file needs from others
_DT_SONAME = 14
# The glibc symbol versions a library needs, GLIBC_2.33 for one.
_GLIBC_VERSION = re.compile(r"GLIBC_(\d+)\.(\d+)(?:\.\d+)?")


def _elf_sections(data):
    """The section headers of a 64-bit little-endian ELF file, as tuples
    (name, type, flags, address, offset, size, link, info, align, entry size)."""
    section_offset, = struct.unpack_from("<Q", data, 0x28)
    entry_size, count = struct.unpack_from("<HH", data, 0x3A)
    return [struct.unpack_from("<IIQQQQIIQQ", data, section_offset + i * entry_size)
            for i in range(count)]


def _elf_string(data, table, at):
    end = data.index(b"\0", table + at)
    return data[table + at:end].decode()


def _elf_soname(data):
    """The DT_SONAME of a 64-bit little-endian ELF file, or None."""
    sections = _elf_sections(data)
    for _, kind, _, _, offset, size, link, _, _, _ in sections:
        if kind != _SHT_DYNAMIC:
            continue
        for tag, value in struct.iter_unpack("<qQ", data[offset:offset + size]):
            if tag == _DT_SONAME:
                return _elf_string(data, sections[link][4], value)
    return None


def _elf_needed_versions(data):
    """The names of the symbol versions a 64-bit little-endian ELF file needs
    from other files (its version-needed section: Elf64_Verneed entries,
    each with a chain of Elf64_Vernaux that name the versions)."""
    sections = _elf_sections(data)
    needed = set()
    for _, kind, _, _, offset, _, link, count, _, _ in sections:
        if kind != _SHT_GNU_VERNEED:
            continue
        strings = sections[link][4]
        entry = offset
        for _ in range(count):
            _, auxiliaries, _, aux, following = struct.unpack_from("<HHIII", data, entry)
            auxiliary = entry + aux
            for _ in range(auxiliaries):
                _, _, _, name, next_aux = struct.unpack_from("<IHHII", data, auxiliary)
                needed.add(_elf_string(data, strings, name))
                auxiliary += next_aux
            entry += following
    return needed


def _manylinux_tag(path, data):
    """The manylinux platform tag of the glibc the library needs: the
    highest GLIBC_x.y among the symbol versions it needs, so that pip
    installs the wheel only where that glibc (or a later one) runs."""
    versions = [tuple(int(part) for part in match.groups())
                for match in map(_GLIBC_VERSION.fullmatch, _elf_needed_versions(data)) if match]
    if not versions:
        raise BuildError(f"{path}: it needs no GLIBC_ symbol version, so it was not linked "
                         "against glibc; a manylinux wheel needs a library that was")
    major, minor = max(versions)
    return f"manylinux_{major}_{minor}_x86_64"


def _linux_library(path, data, version):
    platform = "linux_x86_64"
    if data[:4] != b"\x7fELF":
        _refuse(path, platform, "not an ELF file")
    if data[4:6] != b"\x02\x01":
        _refuse(path, platform, "not a 64-bit little-endian ELF file")
    kind, machine = struct.unpack_from("<HH", data, 16)
    if machine != 62:
        _refuse(path, platform, f"an ELF file for machine {machine}, not x86-64 (62)")
    if kind != 3:
        _refuse(path, platform, f"an ELF file of type {kind}, not a shared object (3)")
    file_version = re.fullmatch(r"libkdrvx\.so\.(\d+\.\d+\.\d+)", os.path.basename(path))
    if file_version and file_version.group(1) != version:
        raise BuildError(f"{path}: the library of version {file_version.group(1)}, "
                         f"but the package is {version}")
    soname = _elf_soname(data)
    expected = f"libkdrvx.so.{version.split('.')[0]}"
    if soname != expected:
        raise BuildError(f"{path}: {f'SONAME {soname}' if soname else 'no SONAME'}, but the "
                         f"package {version} loads {expected}")
    return soname, _manylinux_tag(path, data)


def _dll_file_version(data):
    """The file version of a PE file's version resource, or None without one."""
    key = data.find("VS_VERSION_INFO\0".encode("utf-16-le"))
    if key < 0:
        return None
    signature = data.find(b"\xbd\x04\xef\xfe", key, key + 40)
    if signature < 0:
        return None
    high, low = struct.unpack_from("<II", data, signature + 8)
    return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}"


def _windows_library(path, data, version):
    platform = "win_amd64"
    header = struct.unpack_from("<I", data, 0x3C)[0] if data[:2] == b"MZ" else 0
    if not header or data[header:header + 4] != b"PE\0\0":
        _refuse(path, platform, "not a PE file")
    machine, = struct.unpack_from("<H", data, header + 4)
    characteristics, = struct.unpack_from("<H", data, header + 22)
    if machine != 0x8664:
        _refuse(path, platform, f"a PE file for machine 0x{machine:04x}, not x86-64 (0x8664)")
    if not characteristics & 0x2000:  # IMAGE_FILE_DLL
        _refuse(path, platform, "a PE executable, not a DLL")
    file_version = _dll_file_version(data)
    if file_version is not None and file_version != version:
        raise BuildError(f"{path}: the library's file version is {file_version}, "
                         f"but the package is {version}")
    return "KDRVXLibrary.dll", platform


_PLATFORMS = {
    "linux_x86_64": ("an ELF x86-64 shared object", _linux_library),
    "win_amd64": ("a PE x86-64 DLL", _windows_library),
}


def _library_entry(platform, path, version):
    """The library as kdrvx/NAME with the wheel's platform tag, after
    checking that it fits the platform."""
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        raise BuildError(f"{path}: cannot read the library: {error.strerror}") from error
    try:
        name, tag = _PLATFORMS[platform][1](path, data, version)
    except (struct.error, IndexError, ValueError, UnicodeDecodeError) as error:
        raise BuildError(f"{path}: cut short or damaged (its headers point past its end); "
                         f"a {platform} wheel needs {_PLATFORMS[platform][0]}") from error
    return (f"kdrvx/{name}", data), tag


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _wheel_name(project, tag):
    return f"{project['name']}-{project['version']}-{tag}.whl"


def _write_wheel(wheel_directory, project, entries, tag):
    """Writes the wheel of entries into wheel_directory through a temporary file
    renamed at the end, and returns its file name."""
    wheel_name = _wheel_name(project, tag)
    info = f"{project['name']}-{project['version']}.dist-info"
    entries = entries + [(f"{info}/METADATA", _metadata(project).encode())]
    entries.append((f"{info}/WHEEL", (
        "Wheel-Version: 1.0\nGenerator: kdrvx_build\n"
        f"Root-Is-Purelib: {'true' if tag == _PURE_TAG else 'false'}\nTag: {tag}\n").encode()))
    record = [_record_line(name, data) for name, data in entries] + [f"{info}/RECORD,,"]
    entries.append((f"{info}/RECORD", ("\n".join(record) + "\n").encode()))
    file, temporary = tempfile.mkstemp(dir=wheel_directory, prefix=f".{wheel_name}.partial-")
    try:
        with os.fdopen(file, "wb") as stream:
            with zipfile.ZipFile(stream, "w", zipfile.ZIP_DEFLATED) as wheel:
                for name, data in entries:
                    member = zipfile.ZipInfo(name, _MEMBER_TIME)
                    member.external_attr = 0o644 << 16
                    wheel.writestr(member, data, zipfile.ZIP_DEFLATED)
            stream.flush()
            os.fsync(stream.fileno())
        os.chmod(temporary, 0o644)
        os.replace(temporary, os.path.join(wheel_directory, wheel_name))
    except BaseException:
        os.unlink(temporary)
        raise
    return wheel_name


def _platform_wheel(project, platform, library):
    """The entries and the tag of a wheel for platform with the library
    beside the package."""
    entries = _package_entries(project, with_libraries=False)
    entry, platform_tag = _library_entry(platform, library, project["version"])
    return entries + [entry], f"py3-none-{platform_tag}"


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    return _write_wheel(wheel_directory, project,
                        _package_entries(project, with_libraries=True), _PURE_TAG)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    project = _project()
    return _write_wheel(wheel_directory, project,
                        [(f"{project['name']}.pth", (_ROOT + "\n").encode())], _PURE_TAG)


def main(arguments=None):
    parser = argparse.ArgumentParser(
        description="Makes a kdrvx wheel that carries the library for one platform.")
    parser.add_argument("--platform", required=True, choices=sorted(_PLATFORMS))
    parser.add_argument("--out", required=True, help="folder of the wheel")
    parser.add_argument("--library", required=True,
                        help="libkdrvx.so.X.Y.Z (linux_x86_64) or KDRVXLibrary.dll (win_amd64)")
    options = parser.parse_args(arguments)
    try:
        os.makedirs(options.out, exist_ok=True)
        project = _project()
        entries, tag = _platform_wheel(project, options.platform, options.library)
        wheel = os.path.join(options.out, _wheel_name(project, tag))
        existed = os.path.exists(wheel)
        _write_wheel(options.out, project, entries, tag)
    except BuildError as error:
        print(f"kdrvx_build: {error}", file=sys.stderr)
        return 1
    except OSError as error:
        print(f"kdrvx_build: {error.filename}: {error.strerror}", file=sys.stderr)
        return 1
    print(f"{wheel} ({'replaced' if existed else 'new'}, {os.path.getsize(wheel)} bytes)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
