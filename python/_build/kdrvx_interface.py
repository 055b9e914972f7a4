"""Makes kdrvx/_interface.py, the binding's ctypes declarations, from the
configured public header kdrvx.h. The build runs it whenever the header
changes:

    python3 kdrvx_interface.py --header build/dev/include/kdrvx/kdrvx.h \
        --out kdrvx/_interface.py [--clang clang]

The compiler reads the header; nothing here reads C. clang's AST (as JSON)
gives the functions, the function pointer types and the structs with their
fields; its predefined-macro dump gives the names of the macros, and a probe
translation unit lets clang evaluate each macro and lay out each struct
(sizeof, offsetof), read back from the array sizes of the probe's
declarations. The module it writes needs nothing but ctypes: a wheel carries
it made, so that installing never needs clang.

KDRVX_CHAR is a 16-bit UTF-16 unit on every platform the library is built
for (c_uint16; ctypes.c_wchar is 32 bits on Linux). Record buffers (float *)
and untyped memory (void *) are plain addresses (c_void_p), so that numpy
memory passes without conversion; an opaque struct is known by its address.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import tempfile

_SCALARS = {
    "void": "None", "float": "c_float", "double": "c_double",
    "int8_t": "c_int8", "uint8_t": "c_uint8", "int16_t": "c_int16", "uint16_t": "c_uint16",
    "int32_t": "c_int32", "uint32_t": "c_uint32", "int64_t": "c_int64", "uint64_t": "c_uint64",
    "KDRVX_CHAR": "c_uint16",
}
# Pointers passed as plain addresses.
_ADDRESSES = {"void", "float"}
_PREFIX = "KDRVX_"
# Object-like macros of the header that are no values.
_NOT_VALUES = {"KDRVX_KDRVX_H", "KDRVX_API"}


class GenerationError(Exception):
    """The header cannot be turned into declarations; the text says why."""


def _clang(clang, arguments, source=None):
    command = [clang, "-x", "c", "-std=c11", *arguments, "-" if source is not None else ""]
    command = [part for part in command if part]
    result = subprocess.run(command, input=source, capture_output=True, text=True)
    if result.returncode != 0:
        raise GenerationError("%s failed:\n%s" % (" ".join(command), result.stderr))
    return result.stdout


def _declarations(clang, header):
    """The top-level declarations of the header itself (not of its includes)."""
    tree = json.loads(_clang(clang, ["-fsyntax-only", "-Xclang", "-ast-dump=json", header]))
    return [node for node in tree.get("inner", []) if node.get("name", "").startswith(_PREFIX)]


def _macros(clang, header):
    """The header's object-like macros that have a value: name -> body."""
    macros = {}
    for line in _clang(clang, ["-dM", "-E", header]).splitlines():
        match = re.match(r"#define (KDRVX_\w+) (\S.*)$", line)
        if match and match.group(1) not in _NOT_VALUES:
            macros[match.group(1)] = match.group(2)
    return dict(sorted(macros.items()))


def _evaluate(clang, header, expressions):
    """The value of each integer constant expression, as clang computes it:
    each one is the size of a declared array, which the AST reports."""
    lines = ['#include <stddef.h>', '#include "%s"' % os.path.abspath(header)]
    for index, expression in enumerate(expressions):
        lines.append("extern char kdrvx_probe_%d[(unsigned long long)(%s) + 1ull];"
                     % (index, expression))
    tree = json.loads(_clang(clang, ["-fsyntax-only", "-Xclang", "-ast-dump=json"],
                             "\n".join(lines) + "\n"))
    values = {}
    for node in tree.get("inner", []):
        match = re.match(r"kdrvx_probe_(\d+)$", node.get("name", ""))
        if match:
            size = re.search(r"\[(\d+)\]$", node["type"]["qualType"])
            values[expressions[int(match.group(1))]] = int(size.group(1)) - 1
    return values


class _Types:
    """The ctypes spelling of the header's C types."""

    def __init__(self, declarations):
        self.structs = {node["name"] for node in declarations
                        if node["kind"] == "RecordDecl" and node.get("completeDefinition")}
        self.opaque = {node["name"] for node in declarations
                       if node["kind"] == "RecordDecl" and not node.get("completeDefinition")}
        self.callbacks = {node["name"] for node in declarations
                          if node["kind"] == "TypedefDecl"
                          and node["type"]["qualType"].startswith(tuple(_SCALARS))
                          and "(*)" in node["type"]["qualType"]}

    def of(self, spelled):
        text = re.sub(r"\bconst\b|\bstruct\b", " ", spelled).strip()
        array = re.fullmatch(r"(.*?)\s*\[(\d+)\]", text)
        if array:
            return "%s * %s" % (self.of(array.group(1)), array.group(2))
        stars = text.count("*")
        base = text.replace("*", " ").strip()
        if base in _SCALARS:
            spelling = _SCALARS[base]
        elif base in self.structs or base in self.callbacks:
            spelling = base
        elif base in self.opaque:
            if stars == 0:
                raise GenerationError("an opaque struct by value: %s" % spelled)
            spelling, stars = "c_void_p", stars - 1
        else:
            raise GenerationError("a type the binding has no spelling for: %s" % spelled)
        if stars and base in _ADDRESSES:
            spelling, stars = "c_void_p", stars - 1
        for _ in range(stars):
            spelling = "POINTER(%s)" % spelling
        return spelling


def _function_type(node):
    """The return and parameter types of a function pointer typedef."""
    prototype = node["inner"][0]
    while prototype["kind"] != "FunctionProtoType":
        prototype = prototype["inner"][0]
    return [part["type"]["qualType"] for part in prototype["inner"]]


def generate(clang, header):
    """The text of the module for `header`."""
    declarations = _declarations(clang, header)
    types = _Types(declarations)
    macros = _macros(clang, header)
    structs = [node for node in declarations
               if node["kind"] == "RecordDecl" and node.get("completeDefinition")]
    fields = {node["name"]: [(field["name"], field["type"]["qualType"])
                             for field in node.get("inner", []) if field["kind"] == "FieldDecl"]
              for node in structs}
    layout_expressions = []
    for name, members in fields.items():
        layout_expressions.append("sizeof(%s)" % name)
        layout_expressions += ["offsetof(%s, %s)" % (name, field) for field, _ in members]
    values = _evaluate(clang, header, list(macros) + layout_expressions)

    out = ['"""The C interface of the KDRVX library as ctypes declarations: made from',
           'kdrvx.h by python/_build/kdrvx_interface.py when the library is built. Do',
           'not edit; change the header."""', "",
           "from ctypes import (CFUNCTYPE, POINTER, Structure, c_double, c_float, c_int8, "
           "c_int16, c_int32,",
           "                    c_int64, c_uint8, c_uint16, c_uint32, c_uint64, c_void_p)",
           "from typing import Any, Dict, List, Tuple", "", "# The macros of the header."]
    # Written as the header writes them: a decimal number in decimal, bits
    # and codes in hexadecimal.
    out += [("%s = %d" if re.fullmatch(r"\d+u?", body) else "%s = 0x%08X") % (name, values[name])
            for name, body in macros.items()]
    for node in declarations:
        if node["kind"] == "TypedefDecl" and node["name"] in types.callbacks:
            result, *arguments = [types.of(part) for part in _function_type(node)]
            out += ["", "", "%s = CFUNCTYPE(%s)" % (node["name"], ", ".join([result] + arguments))]
        elif node["kind"] == "RecordDecl" and node["name"] in fields:
            out += ["", "", "class %s(Structure):" % node["name"], "    _fields_ = ["]
            out += ['        ("%s", %s),' % (field, types.of(spelled))
                    for field, spelled in fields[node["name"]]]
            out.append("    ]")
    out += ["", "", "# Every function: its result and argument types.",
            "FUNCTIONS: Dict[str, Tuple[Any, List[Any]]] = {"]
    for node in declarations:
        if node["kind"] != "FunctionDecl":
            continue
        result = types.of(re.match(r"(.*?)\s*\(", node["type"]["qualType"]).group(1))
        arguments = [types.of(part["type"]["qualType"]) for part in node.get("inner", [])
                     if part["kind"] == "ParmVarDecl"]
        out.append('    "%s": (%s, [%s]),' % (node["name"], result, ", ".join(arguments)))
    out += ["}", "",
            "# Each struct as the compiler lays it out: its size and its fields' offsets.",
            "LAYOUTS: Dict[str, Tuple[int, Dict[str, int]]] = {"]
    for name, members in fields.items():
        offsets = ", ".join('"%s": %d' % (field, values["offsetof(%s, %s)" % (name, field)])
                            for field, _ in members)
        out.append('    "%s": (%d, {%s}),' % (name, values["sizeof(%s)" % name], offsets))
    out += ["}", ""]
    return "\n".join(out)


def _write(path, text):
    """Writes `path` through a temporary file beside it, renamed over it when
    whole: a build of another tree at the same time reads either the old
    module or the new one."""
    descriptor, temporary = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(path)),
                                             prefix=".%s." % os.path.basename(path))
    try:
        with os.fdopen(descriptor, "w", encoding="utf-8") as file:
            file.write(text)
        os.chmod(temporary, 0o644)
        os.replace(temporary, path)
    except BaseException:
        os.unlink(temporary)
        raise


def main(arguments=None):
    parser = argparse.ArgumentParser(description="Makes kdrvx/_interface.py from kdrvx.h.")
    parser.add_argument("--header", required=True, help="the configured kdrvx.h")
    parser.add_argument("--out", required=True, help="the module to write")
    parser.add_argument("--clang", default="clang", help="the clang to read the header with")
    options = parser.parse_args(arguments)
    try:
        _write(options.out, generate(options.clang, options.header))
    except (GenerationError, OSError) as error:
        print("kdrvx_interface: %s: %s" % (options.header, error), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
