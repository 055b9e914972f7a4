"""Reading recordings: header, channels and records as numpy arrays."""

from __future__ import annotations

import ctypes
import datetime as _datetime
import operator
import os
import warnings
import weakref
from dataclasses import dataclass
from typing import Iterable, List, Optional, Sequence, Union

import numpy as np

from . import _library as lib
from ._library import LOCK, call, check, from_utf16, path_text, text_buffer, to_utf16
from .errors import ERR_RVX_INVALID_HEADER, ERR_RVX_STILL_OPEN_READ, RvxWarning

# Results of the single-record readers.
_WHOLE_RECORD = 0
_INCOMPLETE_RECORD = 1
_END_MARK = 2

# Blocks of the current record kind are read straight into the result in
# pieces of at most this many bytes (the library takes the byte count of a
# block in 32 bits).
_BLOCK_BYTES = 8 << 20
# The kinds the library converts are read in pieces of this many records.
_CONVERTED_RECORDS = 4096
# Times of records are computed in pieces of this many (256 KiB).
_TIME_PIECE = 1 << 15

# Record kinds as the library reads them.
CURRENT = "current"  # 32-bit floats, read in blocks
DOS = "dos"  # 16-bit mantissa and decimal count per value, converted per record
SPARSE = "sparse"  # WIN 2.x records holding only the channels sampled in them

_KINDS = {
    lib.KDRVX_RECORD_KIND_FLOATS: CURRENT,
    lib.KDRVX_RECORD_KIND_DOS: DOS,
    lib.KDRVX_RECORD_KIND_SPARSE: SPARSE,
}


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
    """Start of the recording, or None when the file holds no valid date."""
    start_has_seconds: bool
    """Whether the file recorded the seconds of the start time."""
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


@dataclass(frozen=True)
class Channel:
    """One channel of a recording: one column of every record."""

    index: int
    """Position of the channel in a record, from 0."""
    variable: str
    """The measured variable, for example ``p1`` or ``dp12``."""
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

    @property
    def label(self) -> str:
        """``variable [unit]``, or the variable alone when it has no unit."""
        return "%s [%s]" % (self.variable, self.unit) if self.unit else self.variable


ChannelSelector = Union[int, str]

# The one Recording that holds the library's read context, if any.
_holder: Optional[weakref.ReferenceType] = None


# A text buffer holds one unit more than the field it is filled from: a field
# of a damaged file may lack its terminator, and the library then delivers
# all of it when there is room.

def _header_text(name: str, capacity: int) -> str:
    buffer = text_buffer(capacity + 1)
    check(name, buffer, len(buffer))
    return from_utf16(buffer)


def _channel_text(name: str, index: int, capacity: int) -> str:
    buffer = text_buffer(capacity + 1)
    check(name, buffer, index, len(buffer))
    return from_utf16(buffer)


def _start(date_text: str, time_text: str) -> Optional[_datetime.datetime]:
    try:
        day, month, year = (int(part) for part in date_text.split("."))
        clock = [int(part) for part in time_text.split(":")]
        return _datetime.datetime(year, month, day, *clock)
    except (ValueError, TypeError):
        return None


def _read_header() -> Header:
    original = ctypes.c_uint8()
    check("KDRVX_CheckOriginalFlag", ctypes.byref(original))
    date = text_buffer(lib.KDRVX_DATE_CAPACITY)
    check("KDRVX_GetDate", date)
    clock = text_buffer(lib.KDRVX_TIME_CAPACITY)
    check("KDRVX_GetTime", clock)
    date_text, time_text = from_utf16(date), from_utf16(clock)
    return Header(
        version=call("KDRVX_GetVersion"),
        original=bool(original.value),
        start=_start(date_text, time_text),
        start_has_seconds=time_text.count(":") == 2,
        date_text=date_text,
        time_text=time_text,
        scan_interval_us=call("KDRVX_GetScanRate"),
        record_count=call("KDRVX_GetNoRecords"),
        trigger_record=call("KDRVX_GetNoTriggerRecord"),
        statistics=call("KDRVX_GetFlagStatistics"),
        comment=_header_text("KDRVX_GetComment", lib.KDRVX_COMMENT_CAPACITY),
        company=_header_text("KDRVX_GetCompany", lib.KDRVX_COMPANY_CAPACITY),
        instrument=_header_text("KDRVX_GetInstrument", lib.KDRVX_INSTRUMENT_CAPACITY),
        serial_number=_header_text("KDRVX_GetSnrInstrument", lib.KDRVX_SNR_INSTRUMENT_CAPACITY),
        measurement_name=_header_text("KDRVX_GetNameMeasurement", lib.KDRVX_NAME_MEASUREMENT_CAPACITY),
        trigger_setting=_header_text("KDRVX_GetTriggerSetting", lib.KDRVX_TRIGGER_SETTING_CAPACITY),
    )


def _read_channel(index: int, statistics: int) -> Channel:
    # The variable comes without a terminator: the buffer's last unit stays 0.
    variable = text_buffer(lib.KDRVX_CHANNEL_VARIABLE_CAPACITY)
    check("KDRVX_GetChannelVariable", variable, index, len(variable) - 1)
    bits = call("KDRVX_GetNumberMultiChannelBits", index)
    extremes_valid = statistics in (1, 3) and not bits
    means_valid = statistics == 3 and not bits
    return Channel(
        index=index,
        variable=from_utf16(variable),
        unit=_channel_text("KDRVX_GetChannelUnit", index, lib.KDRVX_CHANNEL_UNIT_CAPACITY),
        name=_channel_text("KDRVX_GetChannelName", index, lib.KDRVX_CHANNEL_NAME_CAPACITY),
        number=_channel_text("KDRVX_GetChannelNumber", index, lib.KDRVX_CHANNEL_NUMBER_CAPACITY),
        signal_type=_channel_text("KDRVX_GetChannelSignalType", index,
                                  lib.KDRVX_CHANNEL_SIGNAL_TYPE_CAPACITY),
        range=_channel_text("KDRVX_GetChannelCalParameter", index,
                            lib.KDRVX_CHANNEL_CAL_PARAMETER_CAPACITY),
        zero_point=_channel_text("KDRVX_GetChannelZeroPoint", index,
                                 lib.KDRVX_CHANNEL_ZERO_POINT_CAPACITY),
        filter=_channel_text("KDRVX_GetChannelFilter", index, lib.KDRVX_CHANNEL_FILTER_CAPACITY),
        linearisation_table=_channel_text("KDRVX_GetChannelLintab", index,
                                          lib.KDRVX_CHANNEL_LINTAB_CAPACITY),
        individual_rate=call("KDRVX_GetChannelIndRate", index),
        isds=bool(call("KDRVX_IsChannelISDS", index)),
        linearisation=bool(call("KDRVX_IsChannelLinearisation", index)),
        multichannel_bits=bits,
        minimum=call("KDRVX_GetChannelMinValue", index) if extremes_valid else None,
        maximum=call("KDRVX_GetChannelMaxValue", index) if extremes_valid else None,
        mean=call("KDRVX_GetChannelMeanValue", index) if means_valid else None,
        rms=call("KDRVX_GetChannelRMSValue", index) if means_valid else None,
    )


def _data_layout():
    """The record kind, data offset and record size of the open file."""
    offset, size, kind = ctypes.c_uint64(), ctypes.c_uint32(), ctypes.c_uint32()
    check("KDRVX_GetDataLayout", ctypes.byref(offset), ctypes.byref(size), ctypes.byref(kind))
    if kind.value not in _KINDS:
        raise RuntimeError("the library at %s stores records of kind %d, which this binding "
                           "does not read" % (lib.library().path, kind.value))
    return _KINDS[kind.value], offset.value, size.value


def _refuse_cut_header(path: str, data_offset: int) -> None:
    """A file that ends before its first record is cut inside its header: no
    recording, however little its header claims."""
    size = os.stat(path).st_size
    if size < data_offset:
        raise lib.refusal(ERR_RVX_INVALID_HEADER, "%s ends at byte %d, inside its header of %d "
                          "bytes" % (path, size, data_offset))


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


def _first(start) -> int:
    start = operator.index(start)
    if start < 0:
        raise ValueError("start must not be negative")
    return start


def _count(count) -> Optional[int]:
    if count is None:
        return None
    count = operator.index(count)
    if count < 0:
        raise ValueError("count must not be negative")
    return count


class Recording:
    """An RVX file open for reading; create it with ``kdrvx.open(path)``.

    The library has a single read context for the whole process, so only one
    Recording can be open at a time: opening a second one raises RvxError
    (ERR_RVX_STILL_OPEN_READ) until the first is closed. Use it as a context
    manager, or call ``close()``.

    ``header`` and ``channels`` are taken when the file is opened. Records
    are read with ``read()``; the library reads sequentially, so reading on
    from where the previous read ended is cheapest, a later start skips the
    records before it, and an earlier start opens the file again.
    """

    def __init__(self, path: str, header: Header, channels: Sequence[Channel], kind: str,
                 data_offset: int, record_size: int):
        self.path = path
        self.header = header
        self.channels = tuple(channels)
        self.record_kind = kind
        """How the records are stored: "current" (32-bit floats, read in
        blocks), "dos" or "sparse" (older kinds the library converts record
        by record)."""
        self._data_offset = data_offset  # where the first record starts in the file
        self._record_size = record_size  # bytes of one stored record
        self._open = True
        self._position: Optional[int] = 0  # records consumed; None: unknown
        self._end: Optional[int] = None  # record number at which the data ended
        self._record = np.zeros(len(self.channels), dtype=np.float32)

    # Life cycle -----------------------------------------------------------

    @property
    def closed(self) -> bool:
        return not self._open

    def close(self) -> None:
        """Closes the file and frees the library's read context."""
        global _holder
        with LOCK:
            if not self._open:
                return
            self._open = False
            if _holder is not None and _holder() is self:
                _holder = None
            check("KDRVX_CloseRead")

    def __enter__(self) -> "Recording":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    def __len__(self) -> int:
        return self.header.record_count

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return "<kdrvx.Recording %r, %d channels, %d records, %s>" % (
            self.path, len(self.channels), self.header.record_count, state)

    # Channels -------------------------------------------------------------

    def channel(self, selector: ChannelSelector) -> Channel:
        """The channel at an index or with a variable name such as ``"p1"``."""
        return self.channels[self._index(selector)]

    def _index(self, selector: ChannelSelector) -> int:
        if isinstance(selector, str):
            for channel in self.channels:
                if channel.variable == selector:
                    return channel.index
            raise KeyError("no channel %r in %s" % (selector, self.path))
        index = operator.index(selector)
        if not -len(self.channels) <= index < len(self.channels):
            raise IndexError("channel index %d out of range (%d channels)" % (index, len(self.channels)))
        return index % len(self.channels)

    def _columns(self, channels) -> Optional[List[int]]:
        if channels is None:
            return None
        if isinstance(channels, (str, int, np.integer)):
            channels = [channels]
        return [self._index(selector) for selector in channels]

    # Records --------------------------------------------------------------

    def read(self, start: int = 0, count: Optional[int] = None,
             channels: Optional[Iterable[ChannelSelector]] = None,
             all_records: bool = False, mmap: bool = False) -> np.ndarray:
        """Records as a float32 array of shape (records, channels).

        Args:
            start: number of the first record, from 0.
            count: number of records at most; None reads to the end.
            channels: indexes or variable names of the columns, in the order
                wanted; None for every channel.
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
        start, count = _first(start), _count(count)
        width = len(self.channels) if columns is None else len(columns)
        with LOCK:
            self._check_open()
            limit = self._record_limit()
            if mmap:
                values = self._mapped(start, count, all_records, limit, columns)
            else:
                values = self._rows(start, count, all_records, limit, width, columns)
            self._report(start, count, len(values), all_records, limit)
        return values

    def bits(self, channel: ChannelSelector, start: int = 0, count: Optional[int] = None,
             all_records: bool = False) -> np.ndarray:
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
              all_records: bool = False) -> np.ndarray:
        """Time in seconds from the start of the recording of each record that
        ``read`` delivers for the same arguments."""
        start, count = _first(start), _count(count)
        with LOCK:
            self._check_open()
            limit = self._record_limit()
            rows = self._window(start, count, all_records, limit)
            if rows is None or (rows and self.record_kind != CURRENT):
                # The older kinds end where the library finds the data end.
                rows = len(self._rows(start, count, all_records, limit, 1, [0]))
        return self._times_of(start, rows)

    def to_pandas(self, start: int = 0, count: Optional[int] = None,
                  channels: Optional[Iterable[ChannelSelector]] = None, all_records: bool = False):
        """The records as a pandas DataFrame (pandas must be installed).

        The index is the time of each record in seconds ("time [s]"); the
        columns are named ``variable [unit]``. Multichannel columns hold
        their bit fields as uint32, the others float32.

        The float32 columns are one block over the array that ``read``
        fills, not copies of it; only the bit-field columns and the index
        take memory of their own.
        """
        try:
            import pandas
        except ImportError as missing:
            raise ImportError("Recording.to_pandas needs pandas, which is not installed") from missing
        columns = self._columns(channels)
        if columns is None:
            columns = list(range(len(self.channels)))
        # The ordinary channels first and the bit fields behind them, in one
        # read; the bit fields then go to their places as columns of their own.
        bits = [self.channels[index].is_multichannel for index in columns]
        bit_fields = [at for at, is_bits in enumerate(bits) if is_bits]
        ordinary = [index for index, is_bits in zip(columns, bits) if not is_bits]
        order = ordinary + [columns[at] for at in bit_fields]
        every_channel = order == list(range(len(self.channels)))
        values = self.read(start, count, None if every_channel else order, all_records)
        labels = [self.channels[index].label for index in columns]
        times = pandas.Index(self._times_of(_first(start), len(values)), name="time [s]")
        frame = pandas.DataFrame(values[:, :len(ordinary)], index=times, copy=False,
                                 columns=[label for at, label in enumerate(labels)
                                          if at not in bit_fields])
        for which, at in enumerate(bit_fields):
            frame.insert(at, labels[at], values[:, len(ordinary) + which].view(np.uint32),
                         allow_duplicates=True)
        return frame

    # Reading machinery (called with LOCK held) ----------------------------

    def _check_open(self) -> None:
        if not self._open:
            raise ValueError("the recording %s is closed" % self.path)

    def _times_of(self, start: int, rows: int) -> np.ndarray:
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
              width: int, columns: Optional[List[int]]) -> np.ndarray:
        wanted = self._window(start, count, all_records, limit)
        if wanted == 0 or not self._seek(start):
            return np.empty((0, width), dtype=np.float32)
        if self.record_kind != CURRENT:
            return self._read_converted_pieces(wanted, width, columns)
        result = np.empty((wanted, width), dtype=np.float32)
        rows = self._read_blocks(result, columns)
        return result if rows == wanted else result[:rows].copy()

    def _mapped(self, start: int, count: Optional[int], all_records: bool, limit: Optional[int],
                columns: Optional[List[int]]) -> np.ndarray:
        """A read-only view of the records that `read` would deliver, mapped
        from the file."""
        picked = _one_slice(columns)
        if self.record_kind != CURRENT:
            raise ValueError("%s stores its records in the %s kind, which the library converts "
                             "record by record; only records of 32-bit floats can be mapped: "
                             "read them without mmap" % (self.path, self.record_kind))
        claimed = self.header.record_count
        if limit is not None and limit < claimed:
            raise ValueError("%s: its header counts %d records, but the file holds only %d; "
                             "mmap=True maps only a file that holds what its header counts: "
                             "read() delivers the records there are" % (self.path, claimed, limit))
        rows = self._window(start, count, all_records, limit)
        channels = len(self.channels)
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
        were not read, or fewer records than its header counts."""
        claimed = self.header.record_count
        end = None if count is None else start + count
        beyond = limit is not None and limit > claimed and (end is None or end > claimed)
        if beyond and not all_records:
            warnings.warn("%s holds %d records beyond the %d its header counts (its writer stopped "
                          "before the final header); read(..., all_records=True) includes them"
                          % (self.path, limit - claimed, claimed), RvxWarning, stacklevel=3)
        if start + rows < (claimed if end is None else min(claimed, end)):
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

    def _reopen(self) -> None:
        """Opens the file again, so that reading starts at its first record."""
        check("KDRVX_CloseRead")
        status = call("KDRVX_OpenRead", to_utf16(self.path))
        if status != 0:
            global _holder
            self._open = False
            _holder = None
            raise lib.error(status, "KDRVX_OpenRead", "opening %s again to read from an earlier "
                            "record" % self.path, path=self.path)
        self._position = 0
        self._end = None
        self._record[:] = 0

    def _seek(self, start: int) -> bool:
        """Positions the reading at record `start`; False when the data end before it."""
        if self._position is None or start < self._position:
            self._reopen()
        while self._position < start:
            if self._end is not None:
                return False
            skip = start - self._position
            if self.record_kind == CURRENT:
                scratch = np.empty((min(skip, self._block_records()), len(self.channels)), dtype=np.float32)
                if self._read_blocks(scratch, None) < len(scratch):
                    return False
            else:
                skipped = np.empty((min(skip, _CONVERTED_RECORDS), len(self.channels)), np.float32)
                self._read_converted(skipped, None)
        return True

    def _block_records(self) -> int:
        return max(1, _BLOCK_BYTES // max(1, self._record_size))

    def _read_blocks(self, result: np.ndarray, columns: Optional[List[int]]) -> int:
        """Fills `result` from the current kind; returns the rows filled."""
        if self._record_size == 0:
            return 0
        record_bytes = self._record_size  # one float per channel: a row of `result`
        block = self._block_records()
        if columns is not None:
            scratch = np.empty((min(block, len(result)), len(self.channels)), dtype=np.float32)
        rows = 0
        while rows < len(result):
            wanted = min(block, len(result) - rows)
            if columns is None:
                target = result.ctypes.data + rows * record_bytes
            else:
                target = scratch.ctypes.data
            got = call("KDRVX_ReadRecords", self._position, wanted, target)
            if got < 0:
                raise lib.error(got, "KDRVX_ReadRecords")
            if columns is not None:
                result[rows:rows + got] = scratch[:got, columns]
            rows += got
            self._position += got
            if got < wanted:
                # The end of the file; a partial record may have been read
                # past, so the next read starts afresh.
                self._position = None
                break
        return rows

    def _read_converted_pieces(self, wanted: Optional[int], width: int,
                               columns: Optional[List[int]]) -> np.ndarray:
        """Up to `wanted` records (None: all there are) of the DOS or sparse
        kind, read in pieces, so that a record count that the file does not
        hold costs no memory."""
        pieces = []
        while wanted is None or wanted > 0:
            size = _CONVERTED_RECORDS if wanted is None else min(wanted, _CONVERTED_RECORDS)
            piece = np.empty((size, width), dtype=np.float32)
            rows = self._read_converted(piece, columns)
            pieces.append(piece[:rows])
            if wanted is not None:
                wanted -= rows
            if rows < len(piece):
                break
        return np.concatenate(pieces) if pieces else np.empty((0, width), dtype=np.float32)

    def _read_converted(self, result: np.ndarray, columns: Optional[List[int]]) -> int:
        """Fills `result` record by record from the DOS or sparse kind."""
        record = self._record
        address = record.ctypes.data
        rows = 0
        while rows < len(result) and self._end is None:
            reader = "KDRVX_ReadFirstRecord" if self._position == 0 else "KDRVX_ReadNextRecord"
            answer = call(reader, address)
            self._position += 1
            if answer == _WHOLE_RECORD:
                result[rows] = record if columns is None else record[columns]
            elif answer == _INCOMPLETE_RECORD and self.record_kind == DOS \
                    and self._position <= self.header.record_count:
                result[rows] = np.nan  # a record the library cannot convert
            elif answer in (_INCOMPLETE_RECORD, _END_MARK):
                self._end = self._position - 1
                break
            else:
                raise lib.error(answer, reader)
            rows += 1
        return rows


def open(path) -> Recording:  # noqa: A001 - the package's reading entry point
    """Opens an RVX file of any layout for reading.

    The library has one read context per process: while a Recording is open,
    opening another raises RvxError with ERR_RVX_STILL_OPEN_READ. Close the
    first (or use ``with kdrvx.open(path) as recording:``) before opening the
    next.
    """
    global _holder
    path = path_text(path)
    with LOCK:
        holder = _holder() if _holder is not None else None
        if holder is not None and not holder.closed:
            raise lib.error(
                ERR_RVX_STILL_OPEN_READ, "KDRVX_OpenRead",
                "the library has one read context per process and %s is open in it; "
                "close that Recording before opening %s" % (holder.path, path))
        status = call("KDRVX_OpenRead", to_utf16(path))
        if status == ERR_RVX_STILL_OPEN_READ:
            raise lib.error(status, "KDRVX_OpenRead",
                            "the library has one read context per process, and another user of the "
                            "library in this process holds it")
        if status != 0:
            raise lib.error(status, "KDRVX_OpenRead", path, path=path)
        try:
            header = _read_header()
            count = call("KDRVX_GetNoChannels")
            channels = [_read_channel(index, header.statistics) for index in range(count)]
            kind, data_offset, record_size = _data_layout()
            _refuse_cut_header(path, data_offset)
        except BaseException:
            call("KDRVX_CloseRead")
            raise
        recording = Recording(path, header, channels, kind, data_offset, record_size)
        _holder = weakref.ref(recording)
        return recording
