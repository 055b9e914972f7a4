"""Reading recordings: header, channels and records as numpy arrays."""

from __future__ import annotations

import ctypes
import dataclasses
import datetime as _datetime
import errno
import operator
import os
import threading
import warnings
import weakref
from dataclasses import dataclass
from typing import (TYPE_CHECKING, Any, Callable, Iterable, Iterator, List, Optional, Sequence,
                    SupportsIndex, Tuple, Union)

import numpy as np
from numpy.typing import NDArray

from . import _conversions
from . import _library as lib
from ._fields import CHANNEL_TEXTS, HEADER_TEXTS
from ._library import LOCK, PathArgument, call, from_utf16, path_text, reader_function, to_utf16
from ._interface import KDRVX_ERR_RVX_INVALID_HEADER as ERR_RVX_INVALID_HEADER
from ._interface import KDRVX_ERR_RVX_OPEN_READ as ERR_RVX_OPEN_READ
from ._interface import KDRVX_ERR_RVX_SHARING_VIOLATION as ERR_RVX_SHARING_VIOLATION
from .errors import RvxError, RvxWarning

if TYPE_CHECKING:  # only for the hints: both are imported when first used
    import pandas
    import xarray

# Records are read straight into the result in calls of at most this many
# bytes: the kernel fills fresh memory fastest in few large reads (blocks of
# 8 MiB took 0.87 of numpy.fromfile's speed, one read of the whole 1.0).
_STRAIGHT_BYTES = 1 << 30
# Records of which some channels are picked are read in blocks of at most
# this many bytes into a scratch buffer.
_BLOCK_BYTES = 8 << 20
# Records of the sparse kind, whose end only the reading finds, are read in
# pieces of this many.
_CONVERTED_RECORDS = 4096
# Times of records are computed in pieces of this many (256 KiB).
_TIME_PIECE = 1 << 15
# A repr names this many channels at most.
_LABELS_SHOWN = 8

# Record kinds as the library reads them.
CURRENT = "current"  # 32-bit floats
DOS = "dos"  # 16-bit mantissa and decimal count per value, converted by the library
SPARSE = "sparse"  # WIN 2.x records holding only the channels sampled in them

_KINDS = {
    lib.KDRVX_RECORD_KIND_FLOATS: CURRENT,
    lib.KDRVX_RECORD_KIND_DOS: DOS,
    lib.KDRVX_RECORD_KIND_SPARSE: SPARSE,
}


def duration_s(records: int, scan_interval_us: int) -> float:
    """The duration of `records` records in seconds: one scan interval per
    record (10 s for 10,000 records at 1 ms), as a recording's time axis
    counts them."""
    return records * scan_interval_us / 1e6


@dataclass(frozen=True)
class Header:
    """The header of a recording, as the library reports it.

    Files of the older layouts hold part of these texts in the RVI file
    beside them; the library reads them from there, and they are empty when
    there is none.
    """

    version: int
    """Version code of the file on disk (115 for 's', the current layout)."""
    original: bool
    """False when the file is marked as not being an original recording."""
    start: Optional[_datetime.datetime]
    """Start of the recording as the header keeps it: a naive datetime in
    the wall-clock time of the recorder, whose zone the file does not
    keep (``to_pandas(datetime_index=True, tz=...)`` localises it). None
    when the header holds no valid date and time of day."""
    start_has_seconds: bool
    """Whether the header keeps the seconds of the start time; without them
    it keeps whole minutes and ``start`` has 0 seconds."""
    date_text: str
    """The date as the library formats it, DD.MM.YYYY."""
    time_text: str
    """The time as the library formats it, HH:MM or HH:MM:SS."""
    scan_interval_us: int
    """Interval between two records in microseconds."""
    record_count: int
    """Number of records the header reports."""
    trigger_record: int
    """Number of the record at which the trigger fired (0 if none)."""
    statistics: int
    """Which channel statistics are valid: 0 none, 1 minimum and maximum,
    3 minimum, maximum, mean and RMS."""
    comment: str
    company: str
    instrument: str
    serial_number: str
    measurement_name: str
    trigger_setting: str

    @property
    def duration_s(self) -> float:
        """The recording's duration in seconds: its record count times its
        scan interval."""
        return duration_s(self.record_count, self.scan_interval_us)


@dataclass(frozen=True)
class Channel:
    """One channel of a recording: one column of every record."""

    index: int
    """Position of the channel in a record, from 0."""
    variable: str
    """The measured variable, for example ``p1`` or ``dp12``; empty where the
    file names none (the DOS kind Q)."""
    label: str
    """The channel's name in exported data, as the library gives it: its
    variable, or ``ch_N`` for channel N without one; a name that an earlier
    channel already has gets ``_N`` appended. It names the channel's pandas
    column and xarray variable, and selects it (``channels=["p1"]``)."""
    unit: str
    name: str
    number: str
    signal_type: str
    range: str
    """Measuring range, calibration value and similar parameters."""
    zero_point: str
    filter: str
    linearisation_table: str
    individual_rate: int
    """Individual scan-rate divisor: sampled at every n-th record."""
    isds: bool
    linearisation: bool
    multichannel_bits: int
    """0 for an ordinary channel; for a multichannel its number of bits, whose
    record values are bit fields (see ``Recording.bits``)."""
    minimum: Optional[float]
    """Stored minimum, or None when the header marks it as not valid. None
    for a multichannel, too: the library keeps its statistics as if its bit
    fields were floats, which says nothing about them (``Recording.bits``
    gives the fields to compute from)."""
    maximum: Optional[float]
    mean: Optional[float]
    rms: Optional[float]

    @property
    def is_multichannel(self) -> bool:
        return self.multichannel_bits != 0

    def __repr__(self) -> str:
        said = [repr(self.name)] if self.name else []
        if self.range:
            said.append("range %r" % self.range)
        if self.is_multichannel:
            said.append("multichannel of %d bits" % self.multichannel_bits)
        return "<kdrvx.Channel %d %s%s>" % (self.index, _shown(self),
                                           "".join(", " + part for part in said))


def _shown(channel: Channel) -> str:
    """A channel in a repr: its label, with its unit in brackets."""
    return "%s [%s]" % (channel.label, channel.unit) if channel.unit else channel.label


ChannelSelector = Union[int, str]
"""A channel by its index, its label or its variable name."""
Channels = Union[None, ChannelSelector, Iterable[ChannelSelector]]
"""Channels in the order wanted: one, several, or None for every channel."""

# Every Recording not yet closed, for the tests' check that none is left open.
_open_recordings: "weakref.WeakSet[Recording]" = weakref.WeakSet()


def _text(field: Any) -> str:
    return from_utf16(field)


# The recording's start counts from here, in the header's own wall-clock time.
_EPOCH = _datetime.datetime(1970, 1, 1)
_START_DATE_AND_TIME = lib.KDRVX_START_DATE | lib.KDRVX_START_TIME


def _start_of(info: lib.KDRVX_RecordingInfo) -> Optional[_datetime.datetime]:
    """The start the library reads from the header, or None where the header
    holds no valid date and time, or a year beyond datetime's 9999."""
    if info.startKnown & _START_DATE_AND_TIME != _START_DATE_AND_TIME:
        return None
    try:
        return _EPOCH + _datetime.timedelta(seconds=info.startSeconds)
    except OverflowError:
        return None


def _header_of(info: lib.KDRVX_RecordingInfo) -> Header:
    return Header(
        version=info.version,
        original=bool(info.original),
        start=_start_of(info),
        start_has_seconds=bool(info.startKnown & lib.KDRVX_START_SECONDS),
        date_text=_text(info.date),
        time_text=_text(info.time),
        scan_interval_us=info.scanRate,
        record_count=info.noRecords,
        trigger_record=info.noTriggerRecord,
        statistics=info.flagStatistics,
        **{key: _text(getattr(info, member)) for key, (_, member) in HEADER_TEXTS.items()},
    )


def _channel_of(index: int, info: lib.KDRVX_ChannelInfo, statistics: int) -> Channel:
    bits = info.multiChannelBits
    extremes_valid = statistics in (1, 3) and not bits
    means_valid = statistics == 3 and not bits
    return Channel(
        index=index,
        variable=_text(info.variable),
        label=_text(info.label),
        **{key: _text(getattr(info, member)) for key, (_, member) in CHANNEL_TEXTS.items()},
        individual_rate=info.indRate,
        isds=bool(info.isds),
        linearisation=bool(info.linearisation),
        multichannel_bits=bits,
        minimum=info.minValue if extremes_valid else None,
        maximum=info.maxValue if extremes_valid else None,
        mean=info.meanValue if means_valid else None,
        rms=info.rmsValue if means_valid else None,
    )


def _kind_of(info: lib.KDRVX_RecordingInfo) -> str:
    if info.recordKind not in _KINDS:
        raise RuntimeError("the library at %s stores records of kind %d, which this binding "
                           "does not read" % (lib.library().path, info.recordKind))
    return _KINDS[info.recordKind]


def _open_error(status: int, path: str) -> RvxError:
    """The exception for a failed open. A reader reports only the status; the
    system's reason for a file the system refused is what the read context
    traces when it opens the same path (which fails alike, or is closed
    again at once)."""
    reason, number = None, None
    if status == ERR_RVX_SHARING_VIOLATION:
        reason, number = "in use by another program", errno.EACCES
    elif status == ERR_RVX_OPEN_READ:
        with LOCK:
            if call("KDRVX_OpenRead", to_utf16(path)) == 0:
                call("KDRVX_CloseRead")
            else:
                reason, number = lib.system_reason(path), lib.system_errno(path)
    return RvxError(status, lib.library().text_of(status), "KDRVX_ReaderOpen", path, reason,
                    number, path if number is not None else None)


def findings_of(reader: Any) -> lib.KDRVX_Findings:
    """What the library finds when it measures a reader's file against its
    header's claims."""
    findings = lib.KDRVX_Findings(size=ctypes.sizeof(lib.KDRVX_Findings))
    _check_reader(reader_function("KDRVX_ReaderFindings")(reader, ctypes.byref(findings)),
                  "KDRVX_ReaderFindings")
    return findings


def finding_texts(findings: Any, bits: int) -> List[str]:
    """The library's text of each finding among `bits`, with the figures of
    `findings` (None: the general text)."""
    texts = []
    for bit in range(32):
        if bits & (1 << bit):
            buffer = lib.text_buffer(512)
            status = reader_function("KDRVX_GetFindingText")(
                None if findings is None else ctypes.byref(findings), 1 << bit, buffer, len(buffer))
            texts.append(from_utf16(buffer) if status == 0 else "finding 0x%08X" % (1 << bit))
    return texts


def _decide(path: str, findings: Any, stacklevel: int) -> int:
    """A file whose findings make the values wrong is refused; the others
    are warned about, in the library's words. Returns the findings."""
    wrong = findings.findings & lib.KDRVX_FINDINGS_VALUES_WRONG
    if wrong:
        raise lib.refusal(ERR_RVX_INVALID_HEADER, "%s: %s" % (path, "; ".join(
            finding_texts(findings, wrong))))
    for bit in range(32):
        if findings.findings & (1 << bit):
            text = finding_texts(findings, 1 << bit)[0]
            if 1 << bit == lib.KDRVX_FINDING_MORE_RECORDS:
                text += "; read(..., all_records=True) includes them"
            warnings.warn("%s: %s" % (path, text), RvxWarning, stacklevel=stacklevel + 1)
    return int(findings.findings)


def _one_slice(columns: Optional[List[int]]) -> slice:
    """The selected channels as one slice, which a view takes without copying:
    every channel (None), one, or several evenly spaced in ascending order."""
    if columns is None:
        return slice(None)
    if len(columns) <= 1:
        return slice(columns[0], columns[0] + 1) if columns else slice(0, 0)
    step = columns[1] - columns[0]
    if step <= 0 or any(later - earlier != step for earlier, later in zip(columns, columns[1:])):
        raise ValueError("mmap=True maps every channel, one, or several evenly spaced in "
                         "ascending order; channels %s would need a copy: read them without mmap"
                         % columns)
    return slice(columns[0], columns[-1] + 1, step)


def _count(count: Optional[SupportsIndex]) -> Optional[int]:
    if count is None:
        return None
    rows = operator.index(count)
    if rows < 0:
        raise ValueError("count must not be negative")
    return rows


def _labels(labels: Iterable[str]) -> str:
    """Labels for a repr: the first few, and how many more."""
    listed = list(labels)
    shown = listed[:_LABELS_SHOWN]
    if len(listed) > len(shown):
        shown.append("... %d more" % (len(listed) - len(shown)))
    return ", ".join(shown)




class Recording:
    """An RVX file open for reading; create it with ``kdrvx.open(path)``.

    Each Recording holds a reader of its own in the library, so any number
    can be open at once, the same file several times too. Use it as a
    context manager, or call ``close()``.

    ``header`` and ``channels`` are taken when the file is opened. Records
    are read with ``read()`` in blocks, from any record and in any order,
    every record kind alike. Recordings can be read from several threads:
    the reads of one Recording take turns, those of different Recordings
    run at the same time.
    """

    def __init__(self, path: str, reader: int, header: Header, channels: Sequence[Channel],
                 kind: str, data_offset: int, record_size: int, findings: int = 0):
        self.path = path
        self._absolute_path = os.path.abspath(path)  # where a pickled copy reopens it
        self.header = header
        self.channels = tuple(channels)
        self.record_kind = kind
        """How the records are stored: "current" (32-bit floats, read in
        blocks), "dos" or "sparse" (older kinds the library converts record
        by record)."""
        self._data_offset = data_offset  # where the first record starts in the file
        self._record_size = record_size  # bytes of one stored record
        self._findings = findings  # what the library found at the open, already warned about
        self._reader = reader  # the library's reader; 0 once closed
        self._lock = threading.Lock()  # one thread at a time uses the reader
        _open_recordings.add(self)

    # Life cycle -----------------------------------------------------------

    @property
    def closed(self) -> bool:
        return not self._reader

    def close(self) -> None:
        """Closes the file and frees the library's reader."""
        with self._lock:
            reader, self._reader = self._reader, 0
            if reader:
                reader_function("KDRVX_ReaderClose")(reader)
                _open_recordings.discard(self)

    def __enter__(self) -> "Recording":
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def __len__(self) -> int:
        return self.header.record_count

    def __reduce__(self) -> Tuple[Any, ...]:
        """A Recording pickles as its absolute path with the header, channels
        and record kind read there; it keeps no position, every read names
        its records. Unpickling opens the file anew (a closed Recording
        stays closed), so that a Recording can go to another process, a
        Dask worker for one."""
        return (_unpickled, (self._absolute_path, self.header, self.channels, self.record_kind,
                             self.closed))

    def __repr__(self) -> str:
        h = self.header
        started = "" if h.start is None else " from %s" % h.start
        return "<kdrvx.Recording %r: layout %d (record kind %s), %d records x %d channels (%s), " \
            "%g s%s, %s>" % (
            self.path, h.version, self.record_kind, h.record_count, len(self.channels),
            _labels(_shown(c) for c in self.channels), h.duration_s,
            started, "closed" if self.closed else "open")

    # Channels -------------------------------------------------------------

    def channel(self, selector: ChannelSelector) -> Channel:
        """The channel at an index, with a label such as ``"p1"`` or
        ``"ch_0"`` or, failing that, with a variable name."""
        return self.channels[self._index(selector)]

    def _index(self, selector: ChannelSelector) -> int:
        if isinstance(selector, str):
            for channel in self.channels:
                if channel.label == selector:
                    return channel.index
            for channel in self.channels:
                if channel.variable == selector:
                    return channel.index
            raise KeyError("no channel %r in %s" % (selector, self.path))
        index = operator.index(selector)
        if not -len(self.channels) <= index < len(self.channels):
            raise IndexError("channel index %d out of range (%d channels)" % (index, len(self.channels)))
        return index % len(self.channels)

    def _columns(self, channels: Channels) -> Optional[List[int]]:
        if channels is None:
            return None
        if isinstance(channels, (str, int, np.integer)):
            channels = [channels]
        return [self._index(selector) for selector in channels]

    # Records --------------------------------------------------------------

    def read(self, start: int = 0, count: Optional[int] = None,
             channels: Channels = None,
             all_records: bool = False, mmap: bool = False) -> NDArray[np.float32]:
        """Records as a float32 array of shape (records, channels).

        Args:
            start: number of the first record, from 0; a negative start
                counts from the end, as numpy indexing does: ``read(-5)``
                reads the header's last 5 records (``kdrvx.read`` counts
                alike).
            count: number of records at most; None reads to the end.
            channels: indexes, labels or variable names of the columns, in
                the order wanted; None for every channel.
            all_records: read on past the header's record count, as far as
                the file holds records.
            mmap: instead of reading, map the records into memory and return
                a read-only ``numpy.memmap`` view of them (see below).

        The records end at the header's record count. A file that holds
        records beyond it (a recording whose writer stopped before its final
        header) gives an RvxWarning that says how many, and
        ``all_records=True`` includes them. A file that holds fewer records
        than its header counts gives an RvxWarning too, and the records it
        holds.

        Values are delivered exactly as the library reads them: records of
        the current kind bit for bit, the older kinds as the library converts
        them. A record of the DOS kind that the library cannot convert comes
        as a row of NaN; a sparse WIN 2.x record holds, for a channel not
        sampled in it, the channel's previous value.

        With ``mmap=True`` nothing is read or copied: the result is a
        read-only ``numpy.memmap`` of the same records, straight from the
        file, which the operating system pages in as they are used. Only
        records of the current kind can be mapped, only channels that one
        slice selects (every channel, one, or several evenly spaced in
        ascending order), and only a file that holds every record its header
        counts; anything else raises ValueError. No records at all give an
        empty read-only array, since nothing can be mapped. The view holds
        its own mapping of the file: it stays valid after the Recording is
        closed, as long as it or any array made from it exists. Meanwhile
        the file must not be cut shorter (on Linux, touching a record beyond
        its new end kills the process with SIGBUS; Windows refuses the cut),
        and what another program writes into the mapped records shows
        through.
        """
        columns = self._columns(channels)
        start, count = self._first(start), _count(count)
        width = len(self.channels) if columns is None else len(columns)
        with self._lock:
            self._check_open()
            limit = self._record_limit()
            if mmap:
                values = self._mapped(start, count, all_records, limit, columns)
            else:
                values = self._rows(start, count, all_records, limit, width, columns)
            self._report(start, count, len(values), all_records, limit)
        return values

    def bits(self, channel: ChannelSelector, start: int = 0, count: Optional[int] = None,
             all_records: bool = False) -> NDArray[np.uint32]:
        """A multichannel's values as uint32 bit fields, one per record.

        Each value is the 32-bit pattern of the record value, as
        ``KDRVX_ConvertMultiChannelValue`` delivers it.
        """
        described = self.channel(channel)
        if not described.is_multichannel:
            raise ValueError("channel %s is not a multichannel" % described.variable)
        values = self.read(start, count, [described.index], all_records)
        return np.ascontiguousarray(values[:, 0]).view(np.uint32)

    def times(self, start: int = 0, count: Optional[int] = None,
              all_records: bool = False) -> NDArray[np.float64]:
        """Time in seconds from the start of the recording of each record that
        ``read`` delivers for the same arguments."""
        start, count = self._first(start), _count(count)
        with self._lock:
            self._check_open()
            limit = self._record_limit()
            rows = self._window(start, count, all_records, limit)
            if rows is None or (rows and self.record_kind != CURRENT):
                # The older kinds end where the library finds the data end.
                rows = len(self._rows(start, count, all_records, limit, 1, [0]))
        return self._times_of(start, rows)

    def to_pandas(self, start: int = 0, count: Optional[int] = None,
                  channels: Channels = None, all_records: bool = False,
                  datetime_index: bool = False,
                  tz: Optional[_conversions.Zone] = None) -> "pandas.DataFrame":
        """The records as a pandas DataFrame (pandas must be installed).

        The index is the time of each record in seconds ("time [s]"), or
        with ``datetime_index=True`` a DatetimeIndex ("time") from the
        recording's start (ValueError when the header has none): record k
        lies k scan intervals after the start.

        The header keeps its start in the recorder's wall-clock time
        without a zone, and so does the index unless `tz` names the zone
        of that clock: a name such as ``"Europe/Berlin"`` or a tzinfo
        (``datetime_index=True`` is needed with it). Then the start is
        localised in that zone (pandas' ``tz_localize``) and the index is
        time-zone aware: record k lies k scan intervals after that
        instant, and the index shows each record's wall-clock time in the
        zone. A recording through a change of the clocks keeps its equal
        steps: through the autumn change it shows the repeated hour twice,
        first with the summer offset, then with the winter one; through
        the spring change the skipped hour does not appear. A start that
        the zone shows twice (in the hour the clocks go back) or never (in
        the hour they skip) cannot be placed from the header, which keeps
        no offset from UTC, and is refused with ValueError; a fixed offset
        as `tz` (``datetime.timezone(datetime.timedelta(hours=2))``)
        places it, and ``index.tz_convert`` shows it in any zone. The
        columns are named by the channels' labels (``p1``, ``ch_0``), as
        ``to_xarray`` names its variables. Multichannel columns hold their
        bit fields as uint32, the others float32.

        ``frame.attrs`` holds the metadata: the header's fields, ``path`` and
        ``record_kind`` (as ``to_xarray`` gives them), under ``units`` each
        column's unit by its label, and under ``channels`` each column's
        channel fields by its label.

        The float32 columns are one block over the array that ``read``
        fills, not copies of it; only the bit-field columns and the index
        take memory of their own.
        """
        return _conversions.to_pandas(self, self._first(start), _count(count), channels,
                                      all_records, datetime_index, tz)

    def to_xarray(self, start: int = 0, count: Optional[int] = None,
                  channels: Channels = None, all_records: bool = False,
                  tz: Optional[_conversions.Zone] = None) -> "xarray.Dataset":
        """The records as an xarray Dataset (xarray must be installed).

        - dimension and coordinate ``time``: seconds from the start of the
          recording (float64);
        - coordinate ``datetime`` along ``time`` (datetime64) where the
          header has a start: the recorder's wall-clock time as the header
          keeps it, without a zone. With `tz` (a zone name or a tzinfo,
          as ``to_pandas`` takes it) the start is localised in that zone
          as ``to_pandas`` localises it, and ``datetime`` holds the UTC
          time of each record instead (xarray and netCDF keep no zone
          with a date), with the attribute ``timezone`` "UTC"; the
          Dataset's attribute ``timezone`` names `tz`, so that
          ``pandas.DatetimeIndex(dataset["datetime"]).tz_localize("UTC")
          .tz_convert(dataset.attrs["timezone"])`` gives the local times.
          A start that `tz` shows twice or never, or none at all, is
          refused with ValueError;
        - one variable per channel, named by its label (``p1``, ``ch_0``),
          float32, or uint32 bit fields for a multichannel; its attributes
          are the channel's fields (``unit``, ``name``, ``range``,
          ``multichannel_bits``, the statistics where valid, ...), with
          ``units`` and ``long_name`` for the tools that read those;
        - the header's fields, ``path`` and ``record_kind`` as the
          Dataset's attributes.

        Every attribute is a text or a number, so that ``to_netcdf`` stores
        the Dataset as it is; what a recording does not hold (a start, a
        statistic not valid) is left out rather than stored as None. A
        channel appears once: a selection that names one twice is refused.
        """
        return _conversions.to_xarray(self, self._first(start), _count(count), channels,
                                      all_records, tz)

    def iter_blocks(self, records: int, start: int = 0, count: Optional[int] = None,
                    channels: Channels = None,
                    all_records: bool = False, frames: bool = False,
                    datetime_index: bool = False,
                    tz: Optional[_conversions.Zone] = None) -> Iterator[Any]:
        """The records that ``read`` delivers for the same arguments, in
        blocks of `records` consecutive records (the last may be shorter),
        for files larger than memory: each block is a new float32 array of
        shape (records, channels), or with ``frames=True`` the DataFrame
        that ``to_pandas`` gives for its records (times, and with
        ``datetime_index`` datetimes, localised in `tz` as ``to_pandas``
        localises them, continuing from block to block).

        The channels, the file's length and the frame's layout are settled
        once, at the call; each block is then read straight into its array
        when it is asked for. Records beyond or short of the header's count
        are warned about once: at the open when the library found them so,
        else at the end.
        """
        records = operator.index(records)
        if records < 1:
            raise ValueError("records must be at least 1")
        first, count = self._first(start), _count(count)
        columns = self._columns(channels)
        pandas, plan, dates = None, None, None
        if frames:
            pandas = _conversions.optional("pandas", "Recording.iter_blocks(frames=True)")
            plan = _conversions.frame_plan(self, columns)
            columns = plan.order
        _conversions.check_zone(datetime_index, tz)
        if datetime_index:
            dates = _conversions.clock(self, tz)
        width = len(self.channels) if columns is None else len(columns)
        with self._lock:
            self._check_open()
            limit = self._record_limit()
            total = self._window(first, count, all_records, limit)

        def blocks() -> Iterator[Any]:
            position = first
            while self.channels and (total is None or position - first < total):
                wanted = records if total is None else min(records, total - (position - first))
                block = np.empty((wanted, width), dtype=np.float32)
                with self._lock:
                    self._check_open()
                    rows = self._read_blocks(block, position, columns)
                if rows:
                    values = block if rows == wanted else block[:rows].copy()
                    if plan is None:
                        yield values
                    else:
                        yield _conversions.frame(self, pandas, plan, values, position, dates)
                position += rows
                if rows < wanted:
                    break
            self._report(first, count, position - first, all_records, limit)

        # Arguments are checked at the call, the blocks read as they are asked for.
        return blocks()

    def _first(self, start: SupportsIndex) -> int:
        """The record a `start` names: counted from 0, or when negative from
        the header's record count (``len(recording)``), as a slice counts;
        one before the first record is the first."""
        first = operator.index(start)
        return first if first >= 0 else max(0, len(self) + first)

    # Reading machinery (called with the Recording's lock held) -------------

    def _check_open(self) -> None:
        if not self._reader:
            raise ValueError("the recording %s is closed" % self.path)

    def _times_of(self, start: int, rows: int) -> NDArray[Any]:
        # Piece by piece, so that each piece is written to memory once and
        # computed in the processor's cache.
        times = np.empty(rows, dtype=np.float64)
        steps = np.arange(min(rows, _TIME_PIECE), dtype=np.float64)
        for first in range(0, rows, _TIME_PIECE):
            piece = times[first:first + _TIME_PIECE]
            np.add(steps[:len(piece)], start + first, out=piece)
            piece *= self.header.scan_interval_us
            piece /= 1e6
        return times

    def _rows(self, start: int, count: Optional[int], all_records: bool, limit: Optional[int],
              width: int, columns: Optional[List[int]]) -> NDArray[Any]:
        wanted = self._window(start, count, all_records, limit)
        if wanted == 0 or not self.channels:
            return np.empty((0, width), dtype=np.float32)
        if wanted is None:
            return self._read_pieces(start, width, columns)
        result = np.empty((wanted, width), dtype=np.float32)
        rows = self._read_blocks(result, start, columns)
        return result if rows == wanted else result[:rows].copy()

    def _mapped(self, start: int, count: Optional[int], all_records: bool, limit: Optional[int],
                columns: Optional[List[int]]) -> NDArray[Any]:
        """A read-only view of the records that `read` would deliver, mapped
        from the file."""
        picked = _one_slice(columns)
        if self.record_kind != CURRENT:
            raise ValueError("%s stores its records in the %s kind, which the library converts; "
                             "only records of 32-bit floats can be mapped: "
                             "read them without mmap" % (self.path, self.record_kind))
        claimed = self.header.record_count
        if limit is not None and limit < claimed:
            raise ValueError("%s: its header counts %d records, but the file holds only %d; "
                             "mmap=True maps only a file that holds what its header counts: "
                             "read() delivers the records there are" % (self.path, claimed, limit))
        rows = self._window(start, count, all_records, limit)
        channels = len(self.channels)
        assert rows is not None  # known for the current kind
        if not rows or not channels:
            empty = np.empty((rows, channels), dtype="<f4")[:, picked]
            empty.flags.writeable = False
            return empty
        view = np.memmap(self.path, dtype="<f4", mode="r", shape=(rows, channels),
                         offset=self._data_offset + start * self._record_size)
        return view[:, picked]

    def _window(self, start: int, count: Optional[int], all_records: bool,
                limit: Optional[int]) -> Optional[int]:
        """Rows to read from `start`: up to the header's record count, or with
        all_records up to the records the file holds (`limit`, from
        _record_limit); never more than the file can hold, and at most
        `count`. None: as far as the data go (the sparse kind, whose records
        differ in size)."""
        if all_records and (limit is not None or self.record_kind != CURRENT):
            last = limit
        else:
            claimed = self.header.record_count
            last = claimed if limit is None else min(claimed, limit)
        rows = None if last is None else max(0, last - start)
        if count is not None:
            rows = count if rows is None else min(count, rows)
        return rows

    def _report(self, start: int, count: Optional[int], rows: int, all_records: bool,
                limit: Optional[int]) -> None:
        """Warns when the file holds records beyond its header's count that
        were not read, or fewer records than its header counts, unless the
        open found it so and said it already."""
        claimed = self.header.record_count
        end = None if count is None else start + count
        beyond = limit is not None and limit > claimed and (end is None or end > claimed)
        if self._findings & lib.KDRVX_FINDING_MORE_RECORDS:
            beyond = False
        if beyond and not all_records and limit is not None:
            warnings.warn("%s holds %d records beyond the %d its header counts (its writer stopped "
                          "before the final header); read(..., all_records=True) includes them"
                          % (self.path, limit - claimed, claimed), RvxWarning, stacklevel=3)
        said = self._findings & lib.KDRVX_FINDING_FEWER_RECORDS
        if not said and start + rows < (claimed if end is None else min(claimed, end)):
            warnings.warn("%s: its header counts %d records, but the data end after record %d"
                          % (self.path, claimed, start + rows), RvxWarning, stacklevel=3)

    def _record_limit(self) -> Optional[int]:
        """More records than the file's length allows cannot be read, whatever
        a (possibly damaged) header claims; None if that number is unknown:
        the file's length is unknown, or its records differ in size (the
        sparse kind, whose reading ends where the library finds the data
        end)."""
        if self._record_size == 0:
            return 0
        if self.record_kind == SPARSE:
            return None
        try:
            size = os.stat(self.path).st_size
        except OSError:
            return None
        return max(0, size - self._data_offset) // self._record_size

    def _block_records(self, block_bytes: int = _BLOCK_BYTES) -> int:
        return max(1, block_bytes // (4 * max(1, len(self.channels))))

    def _read_blocks(self, result: NDArray[Any], start: int, columns: Optional[List[int]]) -> int:
        """Fills `result` with the records from `start` on, converted by the
        library; returns the rows filled, fewer where the data end."""
        read = reader_function("KDRVX_ReaderRead")
        row_bytes = 4 * len(self.channels)
        block = self._block_records(_STRAIGHT_BYTES if columns is None else _BLOCK_BYTES)
        if columns is not None:
            scratch = np.empty((min(block, len(result)), len(self.channels)), dtype=np.float32)
        rows = 0
        while rows < len(result):
            wanted = min(block, len(result) - rows)
            if columns is None:
                target = result.ctypes.data + rows * row_bytes
            else:
                target = scratch.ctypes.data
            got = read(self._reader, start + rows, wanted, target)
            if got < 0:
                raise _read_error(self._reader, got & 0xFFFFFFFF, "KDRVX_ReaderRead", self.path)
            if columns is not None:
                result[rows:rows + got] = scratch[:got, columns]
            rows += got
            if got < wanted:
                break
        return rows

    def _read_pieces(self, start: int, width: int, columns: Optional[List[int]]) -> NDArray[Any]:
        """Every record from `start` to the end of the data, read in pieces,
        for the sparse kind, whose length only the reading finds."""
        pieces = []
        while True:
            piece = np.empty((_CONVERTED_RECORDS, width), dtype=np.float32)
            rows = self._read_blocks(piece, start, columns)
            pieces.append(piece[:rows])
            start += rows
            if rows < len(piece):
                break
        return np.concatenate(pieces)


def _unpickled(path: str, header: Header, channels: Tuple[Channel, ...], kind: str,
               closed: bool) -> Recording:
    """A pickled Recording, opened anew. A file whose header, channels or
    record kind are no longer those pickled was replaced or rewritten
    meanwhile: what was planned from the old ones (a channel's column, a
    record count) would misread it, so it is refused with ValueError naming
    the changes."""
    if closed:
        return Recording(path, 0, header, channels, kind, 0, 0)
    recording = open(path)
    changes = _changes("header", header, recording.header)
    if len(channels) != len(recording.channels):
        changes.append("%d channels, now %d" % (len(channels), len(recording.channels)))
    else:
        for before, now in zip(channels, recording.channels):
            changes += _changes("channel %d (%s)" % (before.index, before.variable), before, now)
    if kind != recording.record_kind:
        changes.append("record kind %s, now %s" % (kind, recording.record_kind))
    if changes:
        recording.close()
        raise ValueError("%s changed since its Recording was pickled: %s; open it anew with "
                         "kdrvx.open" % (path, "; ".join(changes)))
    return recording


def _changes(what: str, before: Any, now: Any) -> List[str]:
    """The fields of two Headers or two Channels that differ (a NaN statistic
    equals a NaN)."""
    changed = []
    for field in dataclasses.fields(before):
        old, new = getattr(before, field.name), getattr(now, field.name)
        if old != new and not (old != old and new != new):
            changed.append("%s %s was %r, now %r" % (what, field.name, old, new))
    return changed


def open(path: PathArgument) -> Recording:  # noqa: A001 - the package's reading entry point
    """Opens an RVX file of any layout for reading.

    Any number of files may be open at once, each in a Recording of its own.
    What the library finds in the file (``KDRVX_ReaderFindings``) raises
    RvxError where it makes the values wrong, and is warned about in the
    library's words (RvxWarning) otherwise.
    """
    return _open(path, 2)


def _open(path: PathArgument, stacklevel: int) -> Recording:
    """open(), whose warnings name the caller `stacklevel` frames up."""
    name = path_text(path)
    reader = ctypes.c_void_p()
    status = reader_function("KDRVX_ReaderOpen")(to_utf16(name), ctypes.byref(reader))
    if status != 0:
        raise _open_error(status, name)
    return recording_of(name, reader, lambda found: _decide(name, found, stacklevel + 3))


def recording_of(path: str, reader: Any, judge: Callable[[Any], int]) -> Recording:
    """The Recording of a reader just opened, with its header and channels;
    `judge` takes the library's findings, raises for what it refuses and
    returns the findings said already. A failure closes the reader."""
    try:
        info = lib.KDRVX_RecordingInfo(size=ctypes.sizeof(lib.KDRVX_RecordingInfo))
        _check_reader(reader_function("KDRVX_ReaderInfo")(reader, ctypes.byref(info)),
                      "KDRVX_ReaderInfo")
        header = _header_of(info)
        channels = []
        for index in range(info.noChannels):
            described = lib.KDRVX_ChannelInfo(size=ctypes.sizeof(lib.KDRVX_ChannelInfo))
            status = reader_function("KDRVX_ReaderChannel")(reader, index, ctypes.byref(described))
            _check_reader(status, "KDRVX_ReaderChannel")
            channels.append(_channel_of(index, described, header.statistics))
        kind = _kind_of(info)
        found = judge(findings_of(reader))
    except BaseException:
        reader_function("KDRVX_ReaderClose")(reader)
        raise
    return Recording(path, reader.value or 0, header, channels, kind, info.dataOffset,
                     info.recordSize, found)


def read(path: PathArgument, channels: Channels = None,
         start: Optional[int] = None, stop: Optional[int] = None) -> NDArray[np.float32]:
    """The records ``start`` to ``stop`` of the recording at `path`, in one call.

    Returns what ``Recording.read`` returns: a float32 array of shape
    (records, channels), multichannels as their bit patterns. `channels` are
    indexes, labels or variable names in the order wanted (None: every channel);
    `start` and `stop` count records as a slice does (negative from the
    header's record count, None for its ends). Use ``kdrvx.open`` for the
    header, the channels' descriptions, times and labelled data.
    """
    with _open(path, 2) as recording:
        first, last, _ = slice(start, stop).indices(recording.header.record_count)
        return recording.read(first, max(0, last - first), channels)


def _reader_error(status: int, name: str) -> RvxError:
    """A reader's failure: readers trace nothing, so no system reason is
    known (whatever the library traced belongs to an earlier call)."""
    return RvxError(status, lib.library().text_of(status), name)


def _check_reader(status: int, name: str) -> None:
    if status != 0:
        raise _reader_error(status, name)


def _read_error(reader: Any, status: int, name: str, path: str) -> RvxError:
    """A reader's failed read or statistics call, with the system's reason
    that the library keeps for the reader (``KDRVX_ReaderSystemError``):
    the file's OSError too, where the system has a number for it."""
    code = ctypes.c_uint32(0)
    if status == ERR_RVX_OPEN_READ:
        reader_function("KDRVX_ReaderSystemError")(reader, ctypes.byref(code))
    number = lib.errno_of(code.value, path)
    return RvxError(status, lib.library().text_of(status), name, None,
                    lib.reason_of(code.value, path), number, path if number is not None else None)
