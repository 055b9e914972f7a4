"""Following a recording while it is recorded.

A live writer (``kdrvx.create(..., live=True)``, or any program that creates
with ``KDRVX_CreateLive``) lets readers open its file while it grows. The
library tells a follower where the recording stands (``KDRVX_ReaderWait``):
still recorded, closed by its writer, or left by a writer that stopped
without closing it; the follower here only waits, in slices short enough
for Ctrl-C and its own timeout, and reads what is new.
"""

from __future__ import annotations

import ctypes
import errno
import operator
import time
import warnings
from typing import Any, Iterator, Optional

import numpy as np
from numpy.typing import NDArray

from . import _library as lib
from ._library import PathArgument, path_text, reader_function, to_utf16
from ._interface import KDRVX_ERR_RVX_INVALID_HEADER as ERR_RVX_INVALID_HEADER
from ._interface import KDRVX_LIVE_CLOSED as LIVE_CLOSED
from ._interface import KDRVX_LIVE_HELD as LIVE_HELD
from ._interface import KDRVX_LIVE_INTERRUPTED as LIVE_INTERRUPTED
from ._interface import KDRVX_LIVE_MISSING as LIVE_MISSING
from ._interface import KDRVX_LIVE_RECORDING as LIVE_RECORDING
from .errors import RvxError, RvxWarning
from .reading import (Channels, _decide, _open_error, _reader_error, finding_texts, findings_of,
                      recording_of)

# The longest single wait in the library: Ctrl-C and the follower's timeout
# are noticed within this many milliseconds.
_SLICE_MILLISECONDS = 200

# What a following open was still waiting for when the follower gave up,
# by the state the library reports.
_NOT_YET = {
    LIVE_MISSING: "no file appeared at %s",
    LIVE_HELD: "%s stayed held by a writer that lets no reader in",
    LIVE_RECORDING: "the writer of %s wrote no record",
}


class _Clock:
    """How long a follower may still wait for the next record."""

    def __init__(self, timeout: Optional[float]):
        self.timeout = timeout
        self.restart()

    def restart(self) -> None:
        self.since = time.monotonic()

    def waited(self) -> float:
        return time.monotonic() - self.since

    def expired(self) -> bool:
        return self.timeout is not None and self.waited() >= self.timeout

    def slice_ms(self) -> int:
        """The next wait: a slice, or what is left of the timeout."""
        if self.timeout is None:
            return _SLICE_MILLISECONDS
        left = self.timeout - self.waited()
        return max(0, min(_SLICE_MILLISECONDS, int(left * 1000 + 0.999)))


def _timeout(code: int, function: str, path: str, what: str) -> RvxError:
    text = lib.library().text_of(code) if code else ""
    return RvxError(code, text, function, what, "timed out", errno.ETIMEDOUT, path)


def _open_live(path: str, clock: _Clock) -> Any:
    """The reader of `path` once it can be followed: waits while nothing is
    there, while a writer holds it without sharing and while its live
    writer has not written its header. Any other failure to open is raised
    at once, as kdrvx.open raises it."""
    open_live = reader_function("KDRVX_ReaderOpenLive")
    name = to_utf16(path)
    while True:
        reader = ctypes.c_void_p()
        state = lib.KDRVX_LiveState()
        state.size = ctypes.sizeof(state)
        status = open_live(name, clock.slice_ms(), ctypes.byref(reader), ctypes.byref(state))
        if status == 0:
            return reader
        # The library says whether what it waited for may still come.
        if state.state not in _NOT_YET:
            raise _open_error(status, path)
        if clock.expired():
            raise _timeout(status, "KDRVX_ReaderOpenLive", path, "%s within %g s" % (
                _NOT_YET[state.state] % path, clock.timeout or 0))


def _refuse_wrong_values(path: str, findings: Any) -> int:
    """While a recording runs its header lags behind its data, which the
    library reports and a follower expects; only what makes the values
    wrong is refused. The findings of the finished file are judged when its
    writer has closed it."""
    wrong = findings.findings & lib.KDRVX_FINDINGS_VALUES_WRONG
    if wrong:
        raise lib.refusal(ERR_RVX_INVALID_HEADER, "%s: %s" % (
            path, "; ".join(finding_texts(findings, wrong))))
    return 0


def follow(path: PathArgument, records: Optional[int] = None, timeout: Optional[float] = None,
           channels: Channels = None) -> Iterator[NDArray[np.float32]]:
    """Follows a recording while it is recorded: yields its records as they
    arrive, until its writer closes it.

    Each block is a float32 array of shape (records, channels), as
    ``Recording.read`` delivers them; together they are every record of the
    recording exactly once, in order, from the first. The generator ends
    when the writer has closed the recording (after its last records), and
    the finished file's findings are then said as ``kdrvx.open`` says them.

    Args:
        path: the recording. It need not exist yet: the follower waits for
            it to appear and for its writer's first record.
        records: the most records in one block; None yields all that are
            new at once.
        timeout: seconds to wait for the next record (and for the file to
            appear) before raising ``kdrvx.RvxTimeoutError``, a
            ``TimeoutError``; None waits as long as it takes.
        channels: indexes, labels or variable names of the columns, in the
            order wanted, as for ``kdrvx.read``; None for every channel.

    Waiting is done in short slices, so that Ctrl-C interrupts it. A
    recording whose writer stopped without closing it (a process that was
    killed) is warned about once with an RvxWarning, and the follower goes
    on waiting: ``kdrvx.repair`` completes the file, after which the
    follower ends as for a closed one, or the timeout ends the wait. A
    recording removed while it is followed raises RvxError (a
    FileNotFoundError).

        for block in kdrvx.follow("run1.rvx", timeout=10):
            print(len(block), block[-1])
    """
    name = path_text(path)
    if records is not None:
        records = operator.index(records)
        if records < 1:
            raise ValueError("records must be at least 1 (None: all that are new)")
    if timeout is not None:
        timeout = float(timeout)
        if not timeout >= 0:
            raise ValueError("timeout must be a number of seconds, 0 or more (None: no limit)")
    # Arguments are checked at the call, the recording followed as the
    # blocks are asked for.
    return _follow(name, records, timeout, channels)


def _follow(path: str, most: Optional[int], timeout: Optional[float],
            channels: Channels) -> Iterator[NDArray[np.float32]]:
    clock = _Clock(timeout)
    reader = _open_live(path, clock)
    recording = recording_of(path, reader, lambda found: _refuse_wrong_values(path, found))
    try:
        columns = recording._columns(channels)
        width = len(recording.channels) if columns is None else len(columns)
        wait = reader_function("KDRVX_ReaderWait")
        state = lib.KDRVX_LiveState(size=ctypes.sizeof(lib.KDRVX_LiveState))
        delivered = 0
        warned = False
        while True:
            status = wait(recording._reader, delivered, clock.slice_ms(), ctypes.byref(state))
            if status != 0:
                raise _gone(status, path) if state.state == LIVE_MISSING \
                    else _reader_error(status, "KDRVX_ReaderWait")
            while delivered < state.records:
                wanted = state.records - delivered
                block = np.empty((wanted if most is None else min(most, wanted), width),
                                 dtype=np.float32)
                with recording._lock:
                    rows = recording._read_blocks(block, delivered, columns)
                if rows == 0:
                    break
                delivered += rows
                yield block if rows == len(block) else block[:rows].copy()
                # The wait for the next record begins when the consumer asks
                # for it: its own time does not count.
                clock.restart()
            if state.state == LIVE_CLOSED and delivered >= state.records:
                # The reader has opened the finished file: its findings are
                # judged as kdrvx.open judges them.
                _decide(path, findings_of(recording._reader), 2)
                return
            if state.state == LIVE_INTERRUPTED and not warned:
                warned = True
                warnings.warn("%s: its writer stopped without closing the recording (%d records); "
                              "kdrvx.repair completes it" % (path, state.records), RvxWarning,
                              stacklevel=2)
            if clock.expired():
                what = "no record of %s arrived for %g s after record %d" % (
                    path, clock.timeout or 0, delivered)
                if state.state == LIVE_INTERRUPTED:
                    what += "; its writer stopped without closing it, and kdrvx.repair completes it"
                raise _timeout(0, "", path, what)
    finally:
        recording.close()


def _gone(status: int, path: str) -> RvxError:
    return RvxError(status, lib.library().text_of(status), "KDRVX_ReaderWait",
                    "%s was removed while it was followed" % path, "no such file",
                    errno.ENOENT, path)
