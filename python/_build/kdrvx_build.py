"""A build backend for the kdrvx package that needs nothing beyond the
standard library, so that `pip install ./python` works without a package
index: the package is pure Python, and a wheel is a zip file with three
metadata files beside it.

The metadata comes from the [project] table of pyproject.toml; the version
is the project's (kdrvx/_version.py reads it from the top CMakeLists.txt),
and the wheel's kdrvx/_version.py holds it written out.
"""

import base64
import hashlib
import importlib.util
import os
import tomllib
import zipfile

_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
_VERSION_MODULE = "kdrvx/_version.py"


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


def _package_files():
    """The package's modules, and a library copied beside them."""
    folder = os.path.join(_ROOT, "kdrvx")
    for name in sorted(os.listdir(folder)):
        if name.endswith(".py") or name.startswith("libkdrvx.so") or name == "KDRVXLibrary.dll":
            yield os.path.join(folder, name), f"kdrvx/{name}"


def _record_line(name, data):
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{name},sha256={digest},{len(data)}"


def _write_wheel(wheel_directory, editable):
    project = _project()
    tag = "py3-none-any"
    stem = f"{project['name']}-{project['version']}"
    wheel_name = f"{stem}-{tag}.whl"
    info = f"{stem}.dist-info"
    entries = []
    if editable:
        entries.append((f"{project['name']}.pth", (_ROOT + "\n").encode()))
    else:
        for path, name in _package_files():
            if name == _VERSION_MODULE:
                entries.append((name, f'__version__ = "{project["version"]}"\n'.encode()))
                continue
            with open(path, "rb") as file:
                entries.append((name, file.read()))
    entries.append((f"{info}/METADATA", _metadata(project).encode()))
    entries.append((f"{info}/WHEEL", (
        "Wheel-Version: 1.0\nGenerator: kdrvx_build\nRoot-Is-Purelib: true\n"
        f"Tag: {tag}\n").encode()))
    record = [_record_line(name, data) for name, data in entries] + [f"{info}/RECORD,,"]
    entries.append((f"{info}/RECORD", ("\n".join(record) + "\n").encode()))
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w",
                         zipfile.ZIP_DEFLATED) as wheel:
        for name, data in entries:
            wheel.writestr(name, data)
    return wheel_name


def get_requires_for_build_wheel(config_settings=None):
    return []


def get_requires_for_build_editable(config_settings=None):
    return []


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, editable=False)


def build_editable(wheel_directory, config_settings=None, metadata_directory=None):
    return _write_wheel(wheel_directory, editable=True)
