"""Loading the shared library, its function prototypes, the call lock, the
errors with their system reason and the UTF-16 text conversion at the
interface.

The library keeps its contexts module-wide (one read, one create and one
modify context, the last error) and takes no lock of its own. Every call
into those goes through ``call()`` under ``LOCK``, a re-entrant lock that
the higher layers also hold across sequences of calls that belong together
(creating a file and defining its channels), so that threads cannot
interleave them. Independent readers (``KDRVX_Reader...``) share nothing
with those contexts or with each other: they are called without ``LOCK``
through ``reader_function()``, each reader by one thread at a time.

The library tells the operating system's error of a failed open or write
only in its error trace ("KDrvxLibrary: Error 0x%08X"). The binding is the
host of the library in its process: it sets the debug mask to the error
lines and takes them through its own trace sink, so that every RvxError can
name the system's reason beside the library's text.
"""

from __future__ import annotations

import ctypes
import errno
import os
import sys
import threading
from ctypes import c_uint16
from pathlib import Path
from typing import TYPE_CHECKING, Any, List, Optional, Tuple, Union

from .errors import STATUS_NAMES, LibraryNotFoundError, RvxError

# Serialises every call into the library and every sequence of calls that
# must not be interleaved. Re-entrant, so that a higher layer may hold it
# while it calls helpers that take it again.
LOCK = threading.RLock()

# A path as the binding's functions take it.
PathArgument = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
# A UTF-16 text at the interface: a ctypes array of 16-bit units.
if TYPE_CHECKING:
    TextBuffer = ctypes.Array[c_uint16]
else:
    TextBuffer = ctypes.Array

# The functions, structs, function pointer types and macros of kdrvx.h under
# their names there, made from the header when the library is built.
from ._interface import *  # noqa: F401,F403
from ._interface import FUNCTIONS, KDRVX_DEBUG_ERRORS, KDRVX_TraceSink

# The system errors that the library traces, by the Windows numbers it uses on
# every platform, in the words a user knows them by.
_SYSTEM_REASONS = {
    2: "no such file",
    3: "no such directory",
    5: "permission denied",
    8: "out of memory",
    32: "in use by another program",
    33: "in use by another program",
    39: "disk full",
    80: "file exists",
    112: "disk full",
    206: "path too long",
    223: "file too large",
    1117: "input/output error",
}
# The same system errors as the error numbers of this system, which make the
# RvxError of a failure also the matching OSError (FileNotFoundError, ...):
# Windows' own translation (as Python's for its winerror), with the finer
# numbers where this system has them.
_SYSTEM_ERRNOS = {
    2: errno.ENOENT,
    3: errno.ENOENT,
    5: errno.EACCES,
    8: errno.ENOMEM,
    32: errno.EACCES,
    33: errno.EACCES,
    39: errno.ENOSPC,
    80: errno.EEXIST,
    112: errno.ENOSPC,
    206: errno.ENAMETOOLONG,
    223: errno.EFBIG,
    1117: errno.EIO,
}
_OS_REASONS = {
    errno.ENOENT: "no such directory",
    errno.ENOTDIR: "no such directory",
    errno.EACCES: "permission denied",
    errno.EPERM: "permission denied",
    errno.EROFS: "permission denied",
    errno.EISDIR: "is a directory",
    errno.EEXIST: "file exists",
    errno.EBUSY: "in use by another program",
    errno.ENOSPC: "disk full",
    getattr(errno, "EDQUOT", errno.ENOSPC): "disk full",
    errno.EFBIG: "file too large",
    errno.ENAMETOOLONG: "path too long",
}
_SYSTEM_ERROR_LINE = "KDrvxLibrary: Error 0x"
_TRACE_LINE_LIMIT = 1024

_FIRST_STATUS = min(STATUS_NAMES)
_LAST_STATUS = max(STATUS_NAMES)

if sys.platform == "win32":
    _FILE_NAMES = ("KDRVXLibrary.dll",)
else:
    _FILE_NAMES = ("libkdrvx.so.4", "libkdrvx.so")


class _Library:
    """The loaded library: its path, its functions and the texts of its codes."""

    def __init__(self, handle: ctypes.CDLL, path: str):
        self.handle = handle
        self.path = path
        self.functions = {}
        for name, (restype, argtypes) in FUNCTIONS.items():
            try:
                function = getattr(handle, name)
            except AttributeError:
                continue  # a library built without that part; calling it says so
            function.restype = restype
            function.argtypes = argtypes
            self.functions[name] = function
        self.status_texts = {}
        # Looking a text up stores the lookup's own status as the last error.
        # The last lookup is of a code that has a text, so that the library's
        # last error is 0 afterwards, as it is after loading.
        for code in range(_LAST_STATUS, _FIRST_STATUS - 1, -1):
            self.status_texts[code] = self._lookup_text(code)
        self.system_error = 0
        """The system error of the last failed call, as the library traced it;
        0 when it traced none."""
        self._sink = KDRVX_TraceSink(self._take_trace_line)  # kept alive with the library
        if "KDRVX_SetTraceSink" in self.functions:
            self.functions["KDRVX_SetTraceSink"](self._sink, None)
            self.functions["KDRVX_SetDebugMask"](KDRVX_DEBUG_ERRORS)

    def _take_trace_line(self, line: Any, _context: Any) -> None:
        units: List[int] = []
        while len(units) < _TRACE_LINE_LIMIT and line[len(units)] != 0:
            units.append(line[len(units)])
        text = "".join(map(chr, units))
        if text.startswith(_SYSTEM_ERROR_LINE):
            try:
                self.system_error = int(text[len(_SYSTEM_ERROR_LINE):], 16)
            except ValueError:
                pass

    def _lookup_text(self, code: int) -> str:
        buffer = (c_uint16 * 256)()
        self.functions["KDRVX_GetErrorString"](buffer, len(buffer), code)
        return from_utf16(buffer)

    def text_of(self, code: int) -> str:
        code &= 0xFFFFFFFF
        if code not in self.status_texts:
            self.status_texts[code] = self._lookup_text(code)
        return self.status_texts[code]


_library: Optional[_Library] = None


def _candidates() -> List[Tuple[str, Path]]:
    """The places to look for the library, in order, each with how it was found."""
    configured = os.environ.get("KDRVX_LIBRARY")
    if configured:
        # A library named explicitly is never replaced by another one.
        place = Path(configured)
        if place.is_dir():
            return [("KDRVX_LIBRARY", place / name) for name in _FILE_NAMES]
        return [("KDRVX_LIBRARY", place)]
    beside = Path(__file__).resolve().parent
    places = [("beside the package", beside / name) for name in _FILE_NAMES]
    places += [("the system's library path", Path(name)) for name in _FILE_NAMES]
    return places


def _load() -> _Library:
    attempts = []
    if not os.environ.get("KDRVX_LIBRARY"):
        attempts.append("KDRVX_LIBRARY: not set")
    for how, place in _candidates():
        if how != "the system's library path" and not place.exists():
            attempts.append("%s: %s (no such file)" % (how, place))
            continue
        try:
            handle = ctypes.CDLL(str(place))
        except OSError as error:
            attempts.append("%s: %s (%s)" % (how, place, error))
            continue
        return _Library(handle, str(place))
    raise LibraryNotFoundError(
        "kdrvx cannot load the KDRVX library; set KDRVX_LIBRARY to the path of "
        "%s. Looked at:\n  %s" % (" or ".join(_FILE_NAMES), "\n  ".join(attempts)))


def library() -> _Library:
    """The loaded library; loads it at the first use."""
    global _library
    with LOCK:
        if _library is None:
            _library = _load()
        return _library


def function(name: str) -> Any:
    """The library function `name`, with its prototype."""
    loaded = library()
    try:
        return loaded.functions[name]
    except KeyError:
        raise LibraryNotFoundError("%s does not export %s" % (loaded.path, name)) from None


def reader_function(name: str) -> Any:
    """A reader function of the library, to be called without LOCK: readers
    share no state, and ctypes lets other threads run during the call."""
    return function(name)


def call(name: str, *arguments: Any) -> Any:
    """Calls the library function `name` under the lock and returns its result."""
    target = function(name)
    with LOCK:
        library().system_error = 0
        return target(*arguments)


def system_reason(path: Optional[str] = None) -> Optional[str]:
    """The operating system's reason for the failure of the last call, if the
    library traced one. Windows says "access denied" for a directory opened
    as a file; given the path, the reason says what it is."""
    return reason_of(library().system_error, path)


def reason_of(code: int, path: Optional[str] = None) -> Optional[str]:
    """The words of a system error in the library's numbering (the Windows
    one), or None for 0."""
    if code == 0:
        return None
    if _is_a_directory(code, path):
        return "is a directory"
    return _SYSTEM_REASONS.get(code, "system error %d" % code)


def system_errno(path: Optional[str] = None) -> Optional[int]:
    """The error number of the operating system's reason for the failure of
    the last call (see system_reason), or None when the library traced none
    or one that has no number here."""
    return errno_of(library().system_error, path)


def errno_of(code: int, path: Optional[str] = None) -> Optional[int]:
    """The error number of a system error in the library's numbering, or
    None where it has none here."""
    if _is_a_directory(code, path):
        return errno.EISDIR
    return _SYSTEM_ERRNOS.get(code)


def _is_a_directory(code: int, path: Optional[str]) -> bool:
    return code == 5 and path is not None and os.path.isdir(path)


def os_reason(failure: OSError) -> str:
    """The reason of an OSError raised by the binding's own file operations
    (making a directory beside a target, renaming into it), in the words of
    the library's reasons."""
    return _OS_REASONS.get(failure.errno, (failure.strerror or str(failure)).lower())


def error(code: int, name: str, detail: Optional[str] = None,
          path: Optional[str] = None, filename: Optional[str] = None) -> RvxError:
    """The exception for status `code` returned by function `name`, with the
    system's reason that the library traced (about `path`, if given). When
    the system gave one, it is also the OSError of that reason about
    `filename` (or `path`)."""
    number = system_errno(path)
    if number is not None and filename is None:
        filename = path
    return RvxError(code, library().text_of(code), name, detail, system_reason(path), number,
                    filename if number is not None else None)


def refusal(code: int, detail: str, reason: Optional[str] = None,
            errno: Optional[int] = None, filename: Optional[str] = None) -> RvxError:
    """The exception for what the binding refuses on the library's behalf,
    with the status the library has for it; with an error number, also the
    OSError of the system's reason about `filename`."""
    return RvxError(code, library().text_of(code), "", detail, reason, errno, filename)


def os_refusal(code: int, detail: str, failure: OSError, filename: str) -> RvxError:
    """The exception for a failure of the binding's own file operations (on
    its private directory beside `filename`), with the library's status for
    it and the OSError's reason and number, about the file the caller named."""
    return refusal(code, detail, os_reason(failure), failure.errno, filename)


def check(name: str, *arguments: Any, detail: Optional[str] = None) -> None:
    """Calls a status-returning function and raises RvxError unless it returns 0."""
    with LOCK:  # the system's reason belongs to this call
        status = call(name, *arguments)
        if status != 0:
            raise error(status, name, detail)


# Text at the interface -----------------------------------------------------

def to_utf16(text: str) -> TextBuffer:
    """A zero-terminated UTF-16 buffer holding `text`."""
    if "\0" in text:
        raise ValueError("text for the library must not contain a NUL character: %r" % text)
    data = text.encode("utf-16-le", "surrogatepass")
    buffer = (c_uint16 * (len(data) // 2 + 1))()
    ctypes.memmove(buffer, data, len(data))
    return buffer


def text_buffer(capacity: int) -> TextBuffer:
    """A zeroed UTF-16 buffer of `capacity` units for the library to fill."""
    return (c_uint16 * capacity)()


def from_utf16(buffer: TextBuffer) -> str:
    """The text in a UTF-16 buffer, up to its first zero unit or its end.

    A lone surrogate (only in a damaged file) is kept as it is rather than
    replaced, so that no stored unit is lost.
    """
    raw = bytes(buffer)
    end = raw.find(b"\0\0")
    while end >= 0 and end % 2:
        end = raw.find(b"\0\0", end + 1)
    if end < 0:
        end = len(raw) - len(raw) % 2
    return raw[:end].decode("utf-16-le", "surrogatepass")


def path_text(path: PathArgument) -> str:
    """A file system path as the text the library takes."""
    return os.fsdecode(os.fspath(path))
