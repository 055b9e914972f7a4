"""Checking a recording against its claims, and repairing one that stopped
before its final header. The library does both (``KDRVX_Check``,
``KDRVX_Repair``), with the words that ``rvx check`` and ``rvx repair``
print; the binding hands over the path and puts a repaired copy in place."""

from __future__ import annotations

import ctypes
import errno
import os
from dataclasses import dataclass
from typing import Optional, Tuple

from . import _library as lib
from ._interface import KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE as ERR_RVX_MODIFY_NOT_POSSIBLE
from ._library import PathArgument, from_utf16, path_text, text_buffer, to_utf16
from ._output import Staging
from .reading import finding_texts

# Room for the channels of a check at the first try; a file with more is
# checked again with room for all of them.
_CHANNEL_ROOM = 64
# No one to hear how far a check or a repair has come.
_NO_PROGRESS = ctypes.cast(0, lib.KDRVX_Progress)
_STATISTICS = (("minimum", lib.KDRVX_STATISTIC_MIN), ("maximum", lib.KDRVX_STATISTIC_MAX),
               ("mean", lib.KDRVX_STATISTIC_MEAN), ("rms", lib.KDRVX_STATISTIC_RMS))


def layout_name(layout: int) -> str:
    """The library's name of a header layout ("current", "WIN 2.x", ...)."""
    buffer = text_buffer(64)
    if lib.function("KDRVX_GetLayoutName")(layout, buffer, len(buffer)) != 0:
        return "layout %d" % layout
    return from_utf16(buffer)


@dataclass(frozen=True)
class ChannelCheck:
    """What checking found in one channel."""

    index: int
    findings: Tuple[str, ...]
    """The library's text of each finding of the channel."""
    statistics_differ: Tuple[str, ...]
    """The stored statistics ("minimum", "maximum", "mean", "rms") that
    differ from those of the records."""
    duplicate_of: Optional[int]
    """The earlier channel whose variable this one repeats, or None."""
    minimum: float
    """The statistics of the records, as a properly closed file holds them."""
    maximum: float
    mean: float
    rms: float
    stray_records: int
    """Records whose multichannel value sets bits beyond the channel's."""
    first_stray_record: Optional[int]
    """The first of them (counted from 0) and its bit field, or None."""
    first_stray_bits: Optional[int]


@dataclass(frozen=True)
class CheckResult:
    """What ``kdrvx.check`` found in a recording.

    ``findings`` holds the library's text of every finding, the file's and
    its channels' (the same words as ``rvx check``); ``values_wrong`` tells
    whether one of them makes the values read wrong, which reading refuses.
    A file the library does not open at all has ``opened`` False, the
    reason in ``open_error`` and no channels.
    """

    path: str
    opened: bool
    open_error: Optional[str]
    layout: str
    findings: Tuple[str, ...]
    values_wrong: bool
    header_records: int
    """The records the header counts."""
    held_records: int
    """The whole records the data holds."""
    trailing_bytes: int
    """Bytes of a partial record after them."""
    records_read: int
    """The records read and recounted: the smaller of counted and held."""
    channels: Tuple[ChannelCheck, ...]

    @property
    def ok(self) -> bool:
        """True when the library found nothing."""
        return not self.findings


def _channel(index: int, found: lib.KDRVX_CheckChannel) -> ChannelCheck:
    strays = int(found.strayRecords)
    return ChannelCheck(
        index=index,
        findings=tuple(finding_texts(None, found.findings)),
        statistics_differ=tuple(name for name, bit in _STATISTICS if found.statisticsDiffer & bit),
        duplicate_of=None if found.duplicateOf < 0 else int(found.duplicateOf),
        minimum=found.minValue, maximum=found.maxValue, mean=found.meanValue, rms=found.rmsValue,
        stray_records=strays,
        first_stray_record=int(found.firstStrayRecord) if strays else None,
        first_stray_bits=int(found.firstStrayBits) if strays else None)


def check(path: PathArgument) -> CheckResult:
    """Checks the recording at `path` (``KDRVX_Check``): its claims against
    its data, every record read, the statistics recomputed and compared
    with the stored ones, every multichannel value against its bits, the
    variables, texts and date. The file is never changed."""
    path = path_text(path)
    room = _CHANNEL_ROOM
    while True:
        report = lib.KDRVX_CheckReport(size=ctypes.sizeof(lib.KDRVX_CheckReport))
        channels = (lib.KDRVX_CheckChannel * room)()
        for entry in channels:
            entry.size = ctypes.sizeof(lib.KDRVX_CheckChannel)
        status = lib.function("KDRVX_Check")(to_utf16(path), ctypes.byref(report), channels, room,
                                             _NO_PROGRESS, None)
        if status != 0:
            # A read of the records that failed names the system's reason.
            code = int(report.systemError)
            number = lib.errno_of(code, path)
            raise lib.refusal(status, path, lib.reason_of(code, path), number,
                              path if number is not None else None)
        if report.noChannels <= room:
            break
        room = report.noChannels
    claims = report.claims
    opened = report.openStatus == 0
    return CheckResult(
        path=path, opened=opened,
        open_error=None if opened else lib.library().text_of(report.openStatus),
        layout=layout_name(claims.layout) if opened else "",
        findings=tuple(finding_texts(claims, claims.findings)),
        values_wrong=bool(claims.findings & lib.KDRVX_FINDINGS_VALUES_WRONG),
        header_records=int(claims.headerRecords), held_records=int(claims.heldRecords),
        trailing_bytes=int(claims.trailingBytes), records_read=int(report.recordsRead),
        channels=tuple(_channel(index, channels[index])
                       for index in range(report.noChannels if opened else 0)))


@dataclass(frozen=True)
class RepairResult:
    """What ``kdrvx.repair`` changed."""

    path: str
    """The repaired recording: the output, or the file itself."""
    changed: bool
    """False when the header already held what the repair would write:
    nothing was written."""
    layout: str
    old_records: int
    """The records the header counted."""
    new_records: int
    """The whole records the data holds: the repaired count."""
    trailing_bytes: int
    """A partial record after them, left out of the count and kept."""


def repair(path: PathArgument, output: Optional[PathArgument] = None) -> RepairResult:
    """Repairs a current-layout recording that stopped before its final
    header (``KDRVX_Repair``): its header gets the count of the whole
    records the data holds and their statistics; no data byte moves.

    Without `output` the file is repaired in place: the repaired copy is
    written beside it and renamed over it (keeping its owner, group and
    mode where the process may), so that the file stays as it was until
    the copy is whole; a file that needs no repair is left alone. With
    `output`, a new file, the repaired copy goes there (an existing file is
    refused) and the source is not touched. A file the library cannot
    repair is refused with RvxError naming the library's findings.
    """
    source = path_text(path)
    target = source if output is None else path_text(output)
    if output is not None and os.path.lexists(target):
        raise lib.refusal(lib.KDRVX_ERR_RVX_ALREADY_EXISTS, target,
                          "file exists; repair writes a new file", errno.EEXIST, target)
    report = lib.KDRVX_RepairReport(size=ctypes.sizeof(lib.KDRVX_RepairReport))
    with Staging(target) as private:
        status = lib.function("KDRVX_Repair")(to_utf16(source), to_utf16(private.path),
                                              ctypes.byref(report), _NO_PROGRESS, None)
        private.made = status == 0
        if status == ERR_RVX_MODIFY_NOT_POSSIBLE:
            why = finding_texts(None, report.refusal) or ["%s layout" % layout_name(report.layout)]
            raise lib.refusal(status, "%s: %s" % (source, "; ".join(why)))
        if status != 0:
            # The system's reason about the file that failed: the source
            # when it could not be read, else the copy in the target's place.
            about = source if status == lib.KDRVX_ERR_RVX_OPEN_READ else target
            code = int(report.systemError)
            number = lib.errno_of(code)
            raise lib.refusal(status, about, lib.reason_of(code), number,
                              about if number is not None else None)
        changed = bool(report.changed)
        if changed or output is not None:
            private.commit(replace=output is None)
    return RepairResult(path=target, changed=changed, layout=layout_name(report.layout),
                        old_records=int(report.oldRecords), new_records=int(report.newRecords),
                        trailing_bytes=int(report.trailingBytes))
