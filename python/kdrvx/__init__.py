"""kdrvx: RVX recordings as numpy arrays and pandas DataFrames.

A pure-Python binding (ctypes) over the KDRVX library. The library is found
through the environment variable ``KDRVX_LIBRARY`` (the file, or the folder
that holds it), then beside this package, then on the system's library path.

    import kdrvx

    with kdrvx.open("run1.rvx") as recording:
        print(recording.header.start, [c.label for c in recording.channels])
        values = recording.read()              # float32, (records, channels)
        frame = recording.to_pandas()          # needs pandas
        dataset = recording.to_xarray()        # needs xarray
        for block in recording.iter_blocks(records=100_000):
            ...                                # a file larger than memory

    p1 = kdrvx.read("run1.rvx", channels="p1", start=0, stop=1000)
    figures = kdrvx.stats("run1.rvx", start=-1000)   # per channel: min, max, mean, ...

    with kdrvx.create("out.rvx", channels=["p1", {"variable": "T1", "unit": "degC"}],
                      scan_interval_us=1000) as writer:
        writer.append([[1.0, 20.5], [1.1, 20.6]])

    # A recording followed while another process records it with
    # kdrvx.create(..., live=True):
    for block in kdrvx.follow("live.rvx", timeout=10):
        ...                                    # float32, (new records, channels)

Any number of Recordings may be open at once: each holds a reader of its
own in the library, and reads of different Recordings run in parallel from
several threads. Writing goes through the library's single create and modify
contexts: only one Writer can be open at a time, and opening a second raises
RvxError until the first is closed. Calls into those contexts are serialised
by one lock (``kdrvx.LOCK``), so the package can be used from several
threads.

Failures raise RvxError; those the file system caused are also the
matching OSError (FileNotFoundError, PermissionError, ...).
"""

from ._library import LOCK
from .errors import (STATUS_NAMES, LibraryNotFoundError, RvxError, RvxFileExistsError,
                     RvxFileNotFoundError, RvxIsADirectoryError, RvxNotADirectoryError, RvxOSError,
                     RvxPermissionError, RvxTimeoutError, RvxWarning)
from .errors import *  # noqa: F401,F403 - the ERR_ names of the status codes
from .checking import ChannelCheck, CheckResult, RepairResult, check, repair
from .following import follow
from .reading import Channel, Header, Recording, open, read
from .statistics import ChannelStatistics, stats
from .writing import LANGUAGES, Writer, bits_as_float32, create, modify
from . import _library
from ._version import __version__


def library_path() -> str:
    """Path of the loaded library (loads it if needed)."""
    return _library.library().path


def library_version() -> str:
    """The library's version text."""
    buffer = _library.text_buffer(64)
    _library.call("KDRVX_LibVersion", buffer, len(buffer))
    return _library.from_utf16(buffer)


def error_text(code: int) -> str:
    """The library's text for a status code."""
    return _library.library().text_of(code)


def last_error() -> int:
    """The library's last error (``KDRVX_GetLastError``)."""
    return int(_library.call("KDRVX_GetLastError"))


__all__ = [
    "Channel", "ChannelCheck", "ChannelStatistics", "CheckResult", "Header", "LANGUAGES", "LOCK",
    "LibraryNotFoundError", "Recording", "RepairResult", "RvxError", "RvxFileExistsError",
    "RvxFileNotFoundError", "RvxIsADirectoryError", "RvxNotADirectoryError", "RvxOSError",
    "RvxPermissionError", "RvxTimeoutError", "RvxWarning", "STATUS_NAMES", "Writer",
    "bits_as_float32", "check", "create", "error_text", "follow", "last_error", "library_path",
    "library_version", "modify", "open", "read", "repair", "stats",
]
