"""The package's version, which is the project's: the VERSION of project() in
the top CMakeLists.txt of the source tree. A wheel carries the number written
out instead (its build backend replaces this module), so that an installed
package does not need the source tree."""

import re
from pathlib import Path

SOURCE_TREE_PROJECT = Path(__file__).resolve().parents[2] / "CMakeLists.txt"


def project_version(cmake_lists: Path = SOURCE_TREE_PROJECT) -> str:
    """The x.y.z of the project() command in cmake_lists."""
    text = Path(cmake_lists).read_text(encoding="utf-8")
    match = re.search(r"^project\(\s*\w+\s+VERSION\s+(\d+\.\d+\.\d+)\b", text, re.M)
    if match is None:
        raise RuntimeError(f"{cmake_lists} has no project(NAME VERSION x.y.z)")
    return match.group(1)


__version__ = project_version()
