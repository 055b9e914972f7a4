"""Status codes of the KDRVX library and the exceptions that carry them."""

from __future__ import annotations

import os
from typing import Any, Dict, Optional, Tuple, Type

# Every failure status of the library, under its name in kdrvx.h, so that
# callers can compare codes by name:
# ``except RvxError as e: if e.code == kdrvx.ERR_RVX_ALREADY_EXISTS: ...``
ERR_RVX_NEWER_VERSION = 0xE1000001
ERR_RVX_INVALID_HEADER = 0xE1000002
ERR_RVX_STILL_OPEN_READ = 0xE1000003
ERR_RVX_READ_FIRST = 0xE1000004
ERR_RVX_NOT_OPEN_READ = 0xE1000005
ERR_RVX_OPEN_READ = 0xE1000006
ERR_RVX_CHN_UNKNOWN = 0xE1000007
ERR_RVX_ALREADY_EXISTS = 0xE1000008
ERR_RVX_CREATE = 0xE1000009
ERR_RVX_STILL_OPEN_WRITE = 0xE100000A
ERR_RVX_NOT_OPEN_WRITE = 0xE100000B
ERR_RVX_NUMBER_OF_CHANNELS = 0xE100000C
ERR_RVX_CHN_VAR = 0xE100000D
ERR_RVX_CHN_UNIT = 0xE100000E
ERR_RVX_CHN_VAR_EXISTS = 0xE100000F
ERR_RVX_CHANNEL_ADD = 0xE1000010
ERR_RVX_CHN_NAME = 0xE1000011
ERR_RVX_CHN_NUMBER = 0xE1000012
ERR_RVX_CHN_SIGNAL = 0xE1000013
ERR_RVX_CHN_ZERO = 0xE1000014
ERR_RVX_CHN_CALPARA = 0xE1000015
ERR_RVX_CHN_FILTER = 0xE1000016
ERR_RVX_CHN_LINTAB = 0xE1000017
ERR_RVX_PARAMETER_STRING_LENGTH = 0xE1000018
ERR_RVX_DATE = 0xE1000019
ERR_RVX_TIME = 0xE100001A
ERR_RVX_OPEN_WRITE = 0xE100001B
ERR_RVX_OPEN_MODIFY = 0xE100001C
ERR_RVX_STILL_OPEN_MODIFY = 0xE100001D
ERR_RVX_MODIFY_NOT_POSSIBLE = 0xE100001E
ERR_RVX_NOT_OPEN_MODIFY = 0xE100001F
ERR_RVX_SHARING_VIOLATION = 0xE1000020
ERR_RVX_DEVELOPER_VERSION = 0xE1000021
ERR_RVX_INVALID_ERROR_CODE = 0xE1000022
ERR_RVX_OLD_FORMAT = 0xE1000023
ERR_RVI_FILE_NAME = 0xE1000024
ERR_RVI_CREATE = 0xE1000025
ERR_RVX_MULTICHANNEL_BITS = 0xE1000026
ERR_RVX_UNIT_LENGTH = 0xE1000027

# The symbolic name of each status.
STATUS_NAMES: Dict[int, str] = {
    code: name for name, code in list(globals().items()) if name.startswith("ERR_")}


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
}

__all__ = ["LibraryNotFoundError", "RvxError", "RvxFileExistsError", "RvxFileNotFoundError",
           "RvxIsADirectoryError", "RvxNotADirectoryError", "RvxOSError", "RvxPermissionError",
           "RvxWarning", "STATUS_NAMES", *STATUS_NAMES.values()]
