"""Status codes of the KDRVX library and the exceptions that carry them."""

from __future__ import annotations

import os
from typing import Any, Dict, Optional, Tuple, Type

from . import _interface

# Every failure status of the library, under its name in kdrvx.h less the
# prefix, so that callers can compare codes by name:
# ``except RvxError as e: if e.code == kdrvx.ERR_RVX_ALREADY_EXISTS: ...``
STATUS_NAMES: Dict[int, str] = {
    code: name[len("KDRVX_"):] for name, code in vars(_interface).items()
    if name.startswith("KDRVX_ERR_")}
globals().update({name: code for code, name in STATUS_NAMES.items()})


class LibraryNotFoundError(OSError):
    """The shared library could not be loaded from any of the places looked at."""


class RvxWarning(UserWarning):
    """What a recording claims differs from what it holds, or what was given to
    a new recording is not kept by its layout."""


class RvxError(Exception):
    """A call into the library failed with a status code.

    Attributes:
        code: the 32-bit status, for example ``0xE1000006``.
        name: its symbolic name, for example ``"ERR_RVX_OPEN_READ"``.
        text: the library's own text for the code (``KDRVX_GetErrorString``).
        function: the library function that returned the status; empty when
            the binding refused on the library's behalf (a target it must not
            replace, a file that ends inside its header).
        detail: what the binding adds to explain the failure, or ``None``.
        reason: the operating system's reason, for example ``"disk full"``,
            or ``None`` when the system reported none.
        errno: the operating system's error number when the file system
            caused the failure, else ``None``.
        filename: the path the failure concerns when the file system caused
            it, else ``None``.

    A failure whose cause is the file system is also the matching
    ``OSError``: ``RvxError(...)`` with an error number makes an instance of
    one of the classes below (``FileNotFoundError`` for ENOENT,
    ``PermissionError`` for EACCES, ...), so that ``except FileNotFoundError``
    catches it as it catches the same failure of ``open()``.
    """

    code: int
    name: str
    text: str
    function: str
    detail: Optional[str]
    reason: Optional[str]
    errno: Optional[int]
    filename: Optional[str]
    strerror: Optional[str]

    def __new__(cls, code: int, text: str, function: str = "", detail: Optional[str] = None,
                reason: Optional[str] = None, errno: Optional[int] = None,
                filename: Optional[str] = None) -> "RvxError":
        if cls is RvxError and errno is not None:
            cls = _SYSTEM_CLASSES.get(type(OSError(errno, "")), RvxOSError)
        return super().__new__(cls)

    def __init__(self, code: int, text: str, function: str = "", detail: Optional[str] = None,
                 reason: Optional[str] = None, errno: Optional[int] = None,
                 filename: Optional[str] = None):
        self.code = code & 0xFFFFFFFF
        self.name = STATUS_NAMES.get(self.code, "status 0x%08X" % self.code)
        self.text = text
        self.function = function
        self.detail = detail
        self.reason = reason
        # For an OSError these are its own fields, which its constructor
        # leaves alone in a class with a constructor of its own.
        self.errno = errno
        self.filename = filename
        if isinstance(self, OSError):
            self.strerror = reason or os.strerror(errno or 0)
        super().__init__(self.code, self.name, self.text)
        self.args = (self.code, self.name, self.text)  # OSError's constructor leaves them

    def __str__(self) -> str:
        where = self.function + ": " if self.function else ""
        message = "%s0x%08X %s: %s" % (where, self.code, self.name, self.text)
        said = [part for part in (self.reason, self.detail) if part]
        if said:
            message += " (" + ": ".join(said) + ")"
        return message

    def __reduce__(self) -> Tuple[Any, ...]:
        return (type(self), (self.code, self.text, self.function, self.detail, self.reason,
                             self.errno, self.filename))


class RvxOSError(RvxError, OSError):  # type: ignore[misc]
    """A failure caused by the file system that no finer OSError class names
    (a full disk, a file too large)."""


class RvxFileNotFoundError(RvxError, FileNotFoundError):  # type: ignore[misc]
    """The file, or a directory of its path, does not exist."""


class RvxPermissionError(RvxError, PermissionError):  # type: ignore[misc]
    """The system denied access, or another program holds the file."""


class RvxFileExistsError(RvxError, FileExistsError):  # type: ignore[misc]
    """The target exists and was not to be replaced."""


class RvxIsADirectoryError(RvxError, IsADirectoryError):  # type: ignore[misc]
    """The path names a directory where a file was expected."""


class RvxNotADirectoryError(RvxError, NotADirectoryError):  # type: ignore[misc]
    """A part of the path that should be a directory is a file."""


class RvxTimeoutError(RvxError, TimeoutError):  # type: ignore[misc]
    """A followed recording gave no record for as long as the follower was
    to wait (``kdrvx.follow(..., timeout=...)``).

    ``code`` is the library's status of the last attempt to open the file
    when it never opened (``ERR_RVX_OPEN_READ``: nothing is at the path,
    ``ERR_RVX_SHARING_VIOLATION``: a writer holds it without sharing,
    ``ERR_RVX_INVALID_HEADER``: its writer has written no record yet), and
    0 when the file was open and its records stopped (``name`` is then
    ``"TIMEOUT"``).
    """

    def __init__(self, code: int, text: str, function: str = "", detail: Optional[str] = None,
                 reason: Optional[str] = None, errno: Optional[int] = None,
                 filename: Optional[str] = None):
        super().__init__(code, text, function, detail, reason, errno, filename)
        if code == 0:
            self.name = "TIMEOUT"
            self.args = (self.code, self.name, self.text)

    def __str__(self) -> str:
        if self.code != 0:
            return super().__str__()
        return ": ".join(part for part in (self.reason, self.detail) if part)


# (The ignored "misc" above: OSError's stubs declare errno and strerror as
# int and str; an RvxError that the file system did not cause has None.)

# The class for each of Python's OSError classes (as ``OSError(number, text)``
# chooses it from the error number).
_SYSTEM_CLASSES: Dict[Type[OSError], Type[RvxError]] = {
    FileNotFoundError: RvxFileNotFoundError,
    PermissionError: RvxPermissionError,
    FileExistsError: RvxFileExistsError,
    IsADirectoryError: RvxIsADirectoryError,
    NotADirectoryError: RvxNotADirectoryError,
    TimeoutError: RvxTimeoutError,
}

__all__ = ["LibraryNotFoundError", "RvxError", "RvxFileExistsError", "RvxFileNotFoundError",
           "RvxIsADirectoryError", "RvxNotADirectoryError", "RvxOSError", "RvxPermissionError",
           "RvxTimeoutError", "RvxWarning", "STATUS_NAMES", *STATUS_NAMES.values()]
