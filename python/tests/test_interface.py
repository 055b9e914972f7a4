"""The binding's declarations (kdrvx/_interface.py, made from the configured
kdrvx.h at build time) against the library they are used with: every
function they declare is exported by it, the structs are laid out as the
compiler lays them out, and they are those of the header in this tree (a
build that did not remake them fails here)."""

import ctypes
import re
from pathlib import Path

from kdrvx import _interface, _library

HEADER = Path(__file__).resolve().parents[2] / "include" / "kdrvx" / "kdrvx.h.in"


def test_every_declared_function_is_exported_by_the_library_with_its_prototype():
    loaded = _library.library()
    missing = [name for name in _interface.FUNCTIONS if not hasattr(loaded.handle, name)]
    assert missing == []
    declared = set(re.findall(r"\bKDRVX_API\b[^;(]*?\b(KDRVX_\w+)\s*\(", HEADER.read_text()))
    assert len(declared) > 90 and set(_interface.FUNCTIONS) == declared
    for name, (result, arguments) in _interface.FUNCTIONS.items():
        function = loaded.functions[name]
        assert (function.restype, function.argtypes) == (result, arguments), name


def test_the_structs_are_laid_out_as_the_compiler_lays_them_out():
    assert {"KDRVX_RecordingInfo", "KDRVX_Findings", "KDRVX_Plan"} <= set(_interface.LAYOUTS)
    for name, (size, offsets) in _interface.LAYOUTS.items():
        struct = getattr(_interface, name)
        assert ctypes.sizeof(struct) == size, name
        assert {field: getattr(struct, field).offset for field, _ in struct._fields_} == offsets, name

