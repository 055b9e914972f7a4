"""The binding against the public header (include/kdrvx/kdrvx.h.in, from which
the build makes kdrvx.h): every function the header declares has the same
prototype in the binding, and every status code, text capacity and record kind
has the same value. A change of the header that the binding does not follow
fails here."""

import ctypes
import re
from pathlib import Path

from kdrvx import _library, errors

HEADER = Path(__file__).resolve().parents[2] / "include" / "kdrvx" / "kdrvx.h.in"

_SCALARS = {
    "void": None, "float": ctypes.c_float,
    "int8_t": ctypes.c_int8, "uint8_t": ctypes.c_uint8, "int16_t": ctypes.c_int16,
    "uint16_t": ctypes.c_uint16, "int32_t": ctypes.c_int32, "uint32_t": ctypes.c_uint32,
    "int64_t": ctypes.c_int64, "uint64_t": ctypes.c_uint64,
    "KDRVX_CHAR": ctypes.c_uint16,  # a UTF-16 unit on every platform
}
# The macros the binding has no use for: success, and the debug bits other
# than the error lines it takes.
_UNUSED_MACROS = re.compile(r"KDRVX_OK$|KDRVX_DEBUG_(CALLS|DETAILS)$")


def header_text() -> str:
    text = HEADER.read_text()
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    return re.sub(r"//[^\n]*", " ", text)


def header_macros() -> dict:
    return {name: int(value, 0) for name, value in
            re.findall(r"^\s*#define\s+(KDRVX_\w+)\s+(0x[0-9A-Fa-f]+|\d+)u?\s*$", header_text(), re.M)}


def declared_type(declaration: str):
    """The ctypes type of a C type, or ("pointer", target) for a data pointer;
    a parameter's name is dropped."""
    words = re.sub(r"\bconst\b", " ", declaration.replace("*", " * ")).split()
    pointers = words.count("*")
    words = [word for word in words if word != "*"]
    if len(words) == 2:
        words = words[:1]  # the parameter's name
    assert len(words) == 1, "cannot read the C type %r" % declaration
    name = words[0]
    if not pointers:
        if name in _SCALARS:
            return _SCALARS[name]
        return ("typedef", name)
    if name == "KDRVX_Reader":  # opaque: the binding holds its address
        return ctypes.c_void_p if pointers == 1 else ctypes.POINTER(ctypes.c_void_p)
    if name in _SCALARS:
        return ("pointer", _SCALARS[name])
    return ctypes.POINTER(getattr(_library, name))  # a struct of the header


def header_functions() -> dict:
    """Every function of the header: name -> (return type, [argument types])."""
    functions = {}
    pattern = r"KDRVX_API\s+([\w\s\*]+?)\s*\b(KDRVX_\w+)\s*\(([^)]*)\)\s*;"
    for result, name, arguments in re.findall(pattern, header_text()):
        arguments = [a.strip() for a in arguments.split(",")]
        if arguments == ["void"]:
            arguments = []
        functions[name] = (declared_type(result), [declared_type(a) for a in arguments])
    return functions


def header_callbacks() -> dict:
    """Every function pointer type of the header: name -> (return type, [argument types])."""
    callbacks = {}
    for result, name, arguments in re.findall(
            r"typedef\s+(\w+)\s*\(\s*\*\s*(KDRVX_\w+)\s*\)\s*\(([^)]*)\)\s*;", header_text()):
        callbacks[name] = (declared_type(result), [declared_type(a.strip()) for a in arguments.split(",")])
    return callbacks


def matches(binding, declared, callbacks) -> bool:
    if isinstance(declared, tuple) and declared[0] == "pointer":
        target = declared[1]
        if target is None:
            return binding is ctypes.c_void_p
        # Record buffers go as plain addresses of numpy memory.
        return binding is ctypes.POINTER(target) or (target is ctypes.c_float and binding is ctypes.c_void_p)
    if isinstance(declared, tuple) and declared[0] == "typedef":
        result, arguments = callbacks[declared[1]]
        return (getattr(binding, "_restype_", "none") is result
                and len(binding._argtypes_) == len(arguments)
                and all(matches(b, d, callbacks) for b, d in zip(binding._argtypes_, arguments)))
    return binding is declared


def test_every_function_of_the_header_has_its_prototype_in_the_binding():
    declared = header_functions()
    callbacks = header_callbacks()
    assert len(declared) > 80 and "KDRVX_GetDataLayout" in declared  # the parser found them
    assert sorted(_library._SIGNATURES) == sorted(declared)
    wrong = []
    for name, (result, arguments) in declared.items():
        binding_result, binding_arguments = _library._SIGNATURES[name]
        if not (matches(binding_result, result, callbacks) and len(binding_arguments) == len(arguments)
                and all(matches(b, d, callbacks) for b, d in zip(binding_arguments, arguments))):
            wrong.append(name)
    assert wrong == []


_C_FIELD_TYPES = dict(_SCALARS, KDRVX_CHAR=ctypes.c_uint16)


def test_the_structs_of_the_header_are_the_bindings_field_by_field():
    text = header_text()
    macros = header_macros()
    structs = re.findall(r"typedef struct (KDRVX_\w+) \{(.*?)\} \1;", text, re.S)
    assert [name for name, _ in structs] == ["KDRVX_RecordingInfo", "KDRVX_ChannelInfo"]
    for name, body in structs:
        declared = []
        for type_name, field, count in re.findall(r"(\w+)\s+(\w+)(?:\[(\w+)\])?;", body):
            field_type = _C_FIELD_TYPES[type_name]
            if count:
                field_type = field_type * (macros[count] if count in macros else int(count))
            declared.append((field, field_type))
        binding = getattr(_library, name)._fields_
        assert [field for field, _ in binding] == [field for field, _ in declared]
        for (field, ours), (_, theirs) in zip(binding, declared):
            assert ctypes.sizeof(ours) == ctypes.sizeof(theirs) and \
                getattr(ours, "_type_", ours) == getattr(theirs, "_type_", theirs), field


def test_status_codes_capacities_and_record_kinds_are_those_of_the_header():
    macros = header_macros()
    statuses = {name[len("KDRVX_"):]: value for name, value in macros.items() if name.startswith("KDRVX_ERR_")}
    assert len(statuses) > 30
    assert statuses == {name: code for code, name in errors.STATUS_NAMES.items()}

    others = {name: value for name, value in macros.items()
              if not name.startswith("KDRVX_ERR_") and not _UNUSED_MACROS.match(name)}
    assert "KDRVX_COMMENT_CAPACITY" in others and "KDRVX_RECORD_KIND_SPARSE" in others
    binding = {name: value for name, value in vars(_library).items()
               if name.startswith("KDRVX_") and isinstance(value, int)}
    assert binding == others
