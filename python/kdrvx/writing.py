"""Creating recordings and changing the texts of existing ones.

What a new recording cannot hold is refused before anything is written
(ValueError), and what its layout keeps nowhere is named in an RvxWarning:
the library judges both from the recording as planned.
The recording is made under a staging name beside its target and takes the
target's place only when the writer is closed (see _output); a live one is
made in place, where followers read it as it grows.
"""

from __future__ import annotations

import ctypes
import datetime as _datetime
import errno
import operator
import warnings
import weakref
from typing import Any, Dict, Iterable, List, Mapping, Optional, Tuple, Union

import numpy as np
from numpy.typing import ArrayLike, NDArray

from . import _conversions, _fields
from . import _library as lib
from ._library import LOCK, PathArgument, call, check, from_utf16, path_text, text_buffer, to_utf16
from ._output import LIVE_REMEDY, LiveOutput, Output
from ._interface import KDRVX_ERR_RVX_ALREADY_EXISTS as ERR_RVX_ALREADY_EXISTS
from ._interface import KDRVX_ERR_RVX_CREATE as ERR_RVX_CREATE
from ._interface import KDRVX_ERR_RVX_MODIFY_NOT_POSSIBLE as ERR_RVX_MODIFY_NOT_POSSIBLE
from ._interface import KDRVX_ERR_RVX_STILL_OPEN_WRITE as ERR_RVX_STILL_OPEN_WRITE
from .errors import RvxError, RvxWarning
from .reading import _labels, duration_s

# Label languages of the RVI summary that the compact layout gets on closing;
# None writes no summary.
LANGUAGES = {"de": 0, "fr": 2, "en": 4, None: 255}

_HEADER_TEXTS = _fields.HEADER_TEXTS
_CHANNEL_TEXTS = _fields.CHANNEL_TEXTS
_CHANNEL_VALUES = _fields.CHANNEL_VALUES
_CHANNEL_KEYS = {"variable", "multichannel_bits", *_CHANNEL_TEXTS, *_CHANNEL_VALUES}
# What a Channel read from a file carries besides its definition.
_READ_ONLY_KEYS = {"index", "label", "minimum", "maximum", "mean", "rms"}

# The fields of a plan, under the names create() takes them by.
_FIELD_NAMES = {
    lib.KDRVX_FIELD_PATH: "path", lib.KDRVX_FIELD_COMMENT: "comment",
    lib.KDRVX_FIELD_COMPANY: "company", lib.KDRVX_FIELD_INSTRUMENT: "instrument",
    lib.KDRVX_FIELD_SNR_INSTRUMENT: "serial_number",
    lib.KDRVX_FIELD_NAME_MEASUREMENT: "measurement_name",
    lib.KDRVX_FIELD_TRIGGER_SETTING: "trigger_setting", lib.KDRVX_FIELD_DATE: "start",
    lib.KDRVX_FIELD_TIME: "start", lib.KDRVX_FIELD_SCAN_RATE: "scan_interval_us",
    lib.KDRVX_FIELD_TRIGGER_RECORD: "trigger_record", lib.KDRVX_FIELD_CHANNELS: "channels",
    lib.KDRVX_FIELD_CHANNEL_VARIABLE: "variable", lib.KDRVX_FIELD_CHANNEL_UNIT: "unit",
    lib.KDRVX_FIELD_CHANNEL_NAME: "name", lib.KDRVX_FIELD_CHANNEL_NUMBER: "number",
    lib.KDRVX_FIELD_CHANNEL_SIGNAL_TYPE: "signal_type",
    lib.KDRVX_FIELD_CHANNEL_ZERO_POINT: "zero_point",
    lib.KDRVX_FIELD_CHANNEL_CAL_PARAMETER: "range", lib.KDRVX_FIELD_CHANNEL_FILTER: "filter",
    lib.KDRVX_FIELD_CHANNEL_LINTAB: "linearisation_table",
    lib.KDRVX_FIELD_CHANNEL_IND_RATE: "individual_rate", lib.KDRVX_FIELD_CHANNEL_ISDS: "isds",
    lib.KDRVX_FIELD_CHANNEL_LINEARISATION: "linearisation",
    lib.KDRVX_FIELD_CHANNEL_MULTICHANNEL: "multichannel_bits",
    lib.KDRVX_FIELD_ORIGINAL: "original",
}
# Room for the problems of a plan at the first try.
_PROBLEM_ROOM = 16

# How much of an array append() hands to the library at once.
_BLOCK_BYTES = 4 << 20

ChannelDescription = Union[str, Mapping[str, Any], Any]

# The one Writer that holds the library's create context, if any.
_holder: Optional["weakref.ReferenceType[Writer]"] = None


def _channel_fields(description: ChannelDescription) -> Dict[str, Any]:
    """The properties of a channel description: a variable name, a mapping, or
    an object with the attributes of ``kdrvx.Channel`` (for example a channel
    read from another file)."""
    fields: Dict[str, Any]
    if isinstance(description, str):
        fields = {"variable": description}
    elif isinstance(description, Mapping):
        fields = dict(description)
    else:
        fields = {key: getattr(description, key) for key in _CHANNEL_KEYS | _READ_ONLY_KEYS
                  if hasattr(description, key)}
        for key in _READ_ONLY_KEYS:
            fields.pop(key, None)
    unknown = set(fields) - _CHANNEL_KEYS
    if unknown:
        raise TypeError("unknown channel properties: %s" % ", ".join(sorted(unknown)))
    if not isinstance(fields.get("variable"), str):
        raise TypeError("a channel needs its variable name, for example 'p1'")
    # The library leaves the divisor of a new channel at 0, which no reader
    # can sample by; a channel recorded in every record has divisor 1.
    if fields.get("individual_rate") is None:
        fields["individual_rate"] = 1
    fields["multichannel_bits"] = fields.get("multichannel_bits") or 0
    for key, ctype in (("individual_rate", ctypes.c_uint32), ("isds", ctypes.c_int16),
                       ("linearisation", ctypes.c_int16), ("multichannel_bits", ctypes.c_uint16)):
        if fields.get(key) is not None:
            fields[key] = _whole("channel %s: %s" % (fields["variable"], key), fields[key], ctype)
    return fields


def bits_as_float32(bits: ArrayLike) -> NDArray[np.float32]:
    """Multichannel bit fields (uint32) as the float32 record values that carry them.

    ``Writer.append`` takes a float32 array as record values as stored, the
    form ``Recording.read`` delivers: its multichannel columns carry their
    bit patterns. Use this to put bit fields into such an array.
    """
    return np.array(bits, dtype=np.uint32).view(np.float32)


# The recording as planned ---------------------------------------------------

class RvxPlanError(RvxError, ValueError):
    """A value that a new recording cannot hold, as the library judged its
    plan: refused before anything is written."""


def _whole(what: str, value: Any, ctype: Any) -> int:
    """`value` as a whole number that the interface's C type holds. A value
    beyond the type cannot reach the library to be judged: ctypes would pass
    it wrapped around (-1 as 4294967295, 2**32 as 0), so it is refused here."""
    try:
        whole = operator.index(value)
    except TypeError:
        raise ValueError("%s must be a whole number, not %r" % (what, value)) from None
    bits = 8 * ctypes.sizeof(ctype)
    low, high = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if ctype(-1).value < 0 \
        else (0, (1 << bits) - 1)
    if not low <= whole <= high:
        raise ValueError("%s must be from %d to %d, not %d" % (what, low, high, whole))
    return whole


def _wall_clock(start: Optional[_datetime.datetime],
                tz: Optional[_conversions.Zone]) -> Optional[_datetime.datetime]:
    """`start` as the wall-clock time that the header keeps, without a zone.

    A naive datetime is that time already. An aware one is shown on the
    clock of `tz`; without `tz` it is refused, since its own zone is not
    necessarily the recorder's and the file would keep no trace of it. `tz`
    without a start is refused too: the library would stamp the local time
    of this machine, not that of `tz`."""
    zone = None if tz is None else _conversions.zone(tz)
    if start is None:
        if zone is not None:
            raise ValueError("tz=%s gives the clock on which an aware start is shown, but no "
                             "start was given, and the library would take the local time of this "
                             "machine; give start=datetime.datetime.now(tz).replace(microsecond=0)"
                             % (tz,))
        return None
    if not isinstance(start, _datetime.datetime) or start.utcoffset() is None:
        return start
    if zone is None:
        raise ValueError("start %s has a time zone, but the file stores wall-clock time "
                         "without a zone: name the recorder's zone with tz= (e.g. "
                         "tz='Europe/Berlin'), or pass a naive wall-clock datetime" % start)
    return start.astimezone(zone).replace(tzinfo=None)


def _start_texts(start: Optional[_datetime.datetime],
                 legacy: bool) -> Tuple[Optional[str], Optional[str]]:
    """The date and time texts that the library takes for `start`, a naive
    wall-clock time (see _wall_clock). A bare date would take the time of
    day of the recording's making (the library's default), so it is
    refused; so are fractions of a second, which the header cannot keep.
    The compact layout keeps whole minutes: a start on the minute is given
    without seconds, which it keeps as given, and one with seconds with
    them, which its plan check refuses."""
    if start is None:
        return None, None
    if not isinstance(start, _datetime.date):
        raise TypeError("start must be a datetime.datetime, not %r" % (start,))
    if not isinstance(start, _datetime.datetime):
        raise ValueError("start %s is a date without a time of day; the file stores both: "
                         "give a datetime.datetime, e.g. datetime.datetime(%d, %d, %d, 0, 0)"
                         % (start, start.year, start.month, start.day))
    if start.microsecond:
        raise ValueError("start %s has microseconds; the library takes whole seconds: "
                         "give start.replace(microsecond=0)" % start)
    date = "%d.%d.%d" % (start.day, start.month, start.year)
    if legacy and not start.second:
        return date, "%d:%d" % (start.hour, start.minute)
    return date, "%d:%d:%d" % (start.hour, start.minute, start.second)


class _Plan:
    """A recording not yet created, as KDRVX_CheckPlan and
    KDRVX_CheckPlanRecords take it; holds the texts it points at."""

    def __init__(self, path: str, descriptions: List[Dict[str, Any]],
                 header_texts: Dict[str, Optional[str]], start: Optional[_datetime.datetime],
                 scan_interval_us: int, trigger_record: Optional[int], legacy: bool,
                 language: Optional[str], original: bool):
        self._texts: List[Any] = []
        self.path = path
        self.variables = [fields["variable"] for fields in descriptions]
        plan = lib.KDRVX_Plan(size=ctypes.sizeof(lib.KDRVX_Plan))
        plan.legacyLayout, plan.original = legacy, original
        plan.language = LANGUAGES[language]
        plan.path = self._text(path)
        for key, text in header_texts.items():
            setattr(plan, _HEADER_TEXTS[key][1], self._text(text))
        self.date, self.time = _start_texts(start, legacy)
        plan.date, plan.time = self._text(self.date), self._text(self.time)
        plan.scanRate = scan_interval_us
        plan.noTriggerRecord = trigger_record or 0
        self._channels = (lib.KDRVX_PlannedChannel * len(descriptions))()
        for planned, fields in zip(self._channels, descriptions):
            planned.size = ctypes.sizeof(lib.KDRVX_PlannedChannel)
            planned.variable = self._text(fields["variable"])
            for key, (_, member) in _CHANNEL_TEXTS.items():
                setattr(planned, member, self._text(fields.get(key)))
            for key, (_, member) in _CHANNEL_VALUES.items():
                setattr(planned, member, fields.get(key) or 0)
            planned.multiChannelBits = fields["multichannel_bits"]
        plan.noChannels = len(descriptions)
        plan.channels = ctypes.cast(self._channels, ctypes.POINTER(lib.KDRVX_PlannedChannel))
        self.struct = plan

    def _text(self, text: Optional[str]) -> Any:
        if text is None:
            return None
        if not isinstance(text, str):
            raise TypeError("a text is needed, not %r" % (text,))
        buffer = to_utf16(text)
        self._texts.append(buffer)
        return ctypes.cast(buffer, ctypes.POINTER(ctypes.c_uint16))

    def check(self) -> List[str]:
        """Raises RvxPlanError naming every value that cannot be stored, with
        the library's reason; returns what the layout keeps nowhere."""
        room = _PROBLEM_ROOM
        while True:
            problems = (lib.KDRVX_PlanProblem * room)()
            for problem in problems:
                problem.size = ctypes.sizeof(lib.KDRVX_PlanProblem)
            found = ctypes.c_uint32()
            status = lib.function("KDRVX_CheckPlan")(ctypes.byref(self.struct), None, None,
                                                     problems, room, ctypes.byref(found))
            if found.value <= room:
                break
            room = found.value
        listed = problems[:found.value]
        refused = [self._described(p) for p in listed if p.kind == lib.KDRVX_PLAN_REFUSED]
        if refused:
            raise RvxPlanError(status, lib.library().text_of(status), "KDRVX_CheckPlan",
                               "%s: %s" % (self.path, "; ".join(refused)))
        if status not in (0, lib.KDRVX_ERR_RVX_CHANNEL_ADD):
            raise lib.refusal(status, "the plan of the recording")
        return self._dropped([p for p in listed if p.kind == lib.KDRVX_PLAN_DROPPED])

    def _described(self, problem: Any) -> str:
        field = _FIELD_NAMES.get(problem.field, "field %d" % problem.field)
        if 0 <= problem.channel < len(self.variables):
            field = "channel %d (%s): %s" % (problem.channel, self.variables[problem.channel],
                                             field)
        return "%s: %s" % (field, from_utf16(problem.text))

    def _dropped(self, problems: List[Any]) -> List[str]:
        """The fields a layout keeps nowhere, the header's first, then by channel."""
        header = [_FIELD_NAMES.get(p.field, "field %d" % p.field) for p in problems
                  if p.channel < 0]
        lost = list(dict.fromkeys(header))
        for index, variable in enumerate(self.variables):
            fields = [_FIELD_NAMES.get(p.field, "field %d" % p.field) for p in problems
                      if p.channel == index]
            if fields:
                lost.append("channel %s: %s" % (variable, ", ".join(dict.fromkeys(fields))))
        return lost

    def refuse_records(self, values: NDArray[np.float32]) -> None:
        """Raises ValueError for a record value that its channel cannot hold
        (a multichannel value that sets bits beyond the channel's)."""
        record, channel = ctypes.c_uint64(), ctypes.c_int16()
        status = lib.function("KDRVX_CheckPlanRecords")(
            ctypes.byref(self.struct), values.ctypes.data, len(values), ctypes.byref(record),
            ctypes.byref(channel))
        if status != 0:
            row, column = record.value, channel.value
            bits = int(values.view(np.uint32)[row, column]) if row < len(values) else 0
            raise RvxPlanError(status, lib.library().text_of(status), "KDRVX_CheckPlanRecords",
                               "channel %s holds %d-bit fields, but record %d of this append "
                               "carries the bits 0x%08X; no record of this append was written"
                               % (self.variables[column],
                                  self.struct.channels[column].multiChannelBits, row, bits))


# Writing ----------------------------------------------------------------

class Writer:
    """An RVX file under creation; create it with ``kdrvx.create(...)``.

    The library has a single create context for the whole process, so only
    one Writer can be open at a time. Records are handed to the library as
    ``append`` receives them, in blocks of up to a few megabytes. The
    recording is made under a staging name beside its target: ``close()``
    finishes it and puts it in the target's place, ``discard()`` abandons
    it. Until then the target keeps its old bytes, or stays absent. Used as
    a context manager, the writer is closed when the block ends normally and
    discarded when it ends with an exception (the exception gets a note
    saying so).

    A live writer (``create(..., live=True)``) writes in place instead:
    every record is in the file when ``append`` returns, and followers read
    it while it grows. Its records are never thrown away: ``discard()`` and
    a block that ends with an exception close it with the records appended
    so far, as ``close()`` does.
    """

    def __init__(self, output: Union[Output, LiveOutput], plan: _Plan, bits: Tuple[int, ...],
                 scan_interval_us: int, legacy: bool, overwrite: bool):
        self.path = output.target
        """The file the recording becomes, with the characters that a file
        name cannot hold replaced by the library."""
        self.variables = tuple(plan.variables)
        self.multichannel_bits = bits
        """Per channel: its number of bits for a multichannel, else 0."""
        self.scan_interval_us = scan_interval_us
        """Interval between two records in microseconds."""
        self.legacy = legacy
        self.record_count = 0
        """Records appended so far."""
        self.live = isinstance(output, LiveOutput)
        """Whether the recording is made in place for followers."""
        self._output = output
        self._plan = plan
        self._overwrite = overwrite
        self._open = True

    @property
    def closed(self) -> bool:
        return not self._open

    def append(self, records: ArrayLike) -> None:
        """Appends one record (a sequence of one value per channel) or a 2-D
        array of records, straight from the array's memory through
        ``KDRVX_AddRecords`` in blocks.

        A float32 array is taken as record values as stored, the form
        ``Recording.read`` delivers: its multichannel columns carry their bit
        patterns (``bits_as_float32`` puts bit fields in). Any other input
        holds numbers: analogue values are rounded to float32, and a
        multichannel's value is its bit field as a whole number.

        A value the channel cannot hold (a bit field that is not a whole
        number from 0 to 2**bits - 1, a number beyond float32) is refused
        before any record of the call is written. When the library fails
        part-way (a full disk), the records before the failing one stay in
        the recording and in ``record_count``, and the writer stays open:
        ``close()`` keeps them.

        Nothing is kept back in Python: the records are in the library's
        hands when ``append`` returns. For a live recording they are in the
        file then, so that followers see them, and a process killed after
        ``append`` returned leaves a file from which ``kdrvx.repair``
        recovers every record appended.
        """
        values = self._record_values(records)
        base, step = values.ctypes.data, values.strides[0]
        add_block = lib.function("KDRVX_AddRecords")
        # An empty array may have a row stride of 0.
        block = max(1, _BLOCK_BYTES // max(step, 1))
        with LOCK:
            self._check_open()
            for first in range(0, len(values), block):
                count = min(block, len(values) - first)
                lib.library().system_error = 0
                if add_block(base + first * step, count) != 0:
                    # The library refused the block as a whole: record by
                    # record, the ones that fit go in and the failure names
                    # the record it happened at.
                    self._append_one_by_one(base + first * step, step, count)
                else:
                    self.record_count += count

    def _append_one_by_one(self, base: int, step: int, count: int) -> None:
        add = lib.function("KDRVX_AddRecord")
        for row in range(count):
            lib.library().system_error = 0
            status = add(base + row * step)
            if status != 0:
                raise lib.error(status, "KDRVX_AddRecord", "record %d of %s; the records "
                                "before it stay in the recording" % (self.record_count, self.path),
                                filename=self.path)
            self.record_count += 1

    def _record_values(self, records: ArrayLike) -> NDArray[np.float32]:
        given = np.asarray(records)
        if given.ndim == 1:
            given = given.reshape(1, -1)
        if given.ndim != 2 or given.shape[1] != len(self.variables):
            raise ValueError("a record has %d values (one per channel), not shape %s"
                             % (len(self.variables), np.shape(records)))
        if given.dtype == np.float32:
            values = np.ascontiguousarray(given)
        else:
            values = np.empty(given.shape, dtype=np.float32)
            for column, bits in enumerate(self.multichannel_bits):
                if bits:
                    values.view(np.uint32)[:, column] = self._bit_fields(given[:, column], column)
                else:
                    values[:, column] = self._numbers(given[:, column], column)
        if any(self.multichannel_bits):
            self._plan.refuse_records(values)
        return values

    def _bit_fields(self, column: NDArray[Any], index: int) -> NDArray[np.uint32]:
        """A multichannel's values as the 32-bit fields a record carries."""
        exact = np.asarray(column, dtype=np.float64)
        whole = np.isfinite(exact) & (exact == np.floor(exact))
        wrong = ~(whole & (exact >= 0) & (exact < 2.0 ** 32))
        if wrong.any():
            row = int(np.flatnonzero(wrong)[0])
            raise ValueError("channel %s holds bit fields: record %d gives %r, which is not a "
                             "whole number from 0 to %d; no record of this append was written"
                             % (self.variables[index], row, column[row], 2 ** 32 - 1))
        return exact.astype(np.uint32)

    def _numbers(self, column: NDArray[Any], index: int) -> NDArray[Any]:
        exact = np.asarray(column, dtype=np.float64)
        with np.errstate(over="ignore"):
            narrowed = exact.astype(np.float32)
        beyond = np.isfinite(exact) & ~np.isfinite(narrowed)
        if beyond.any():
            row = int(np.flatnonzero(beyond)[0])
            raise ValueError("channel %s: record %d gives %r, beyond the range of the 32-bit "
                             "floats a record holds; no record of this append was written"
                             % (self.variables[index], row, column[row]))
        return narrowed

    def update(self) -> None:
        """Writes the header with the record count and statistics so far into
        the recording being made."""
        with LOCK:
            self._check_open()
            check("KDRVX_Update")

    def close(self, simple: bool = False) -> None:
        """Finishes the recording and puts it in the target's place.

        By default the final header (record count, minimum, maximum, mean and
        RMS of every channel) is written and, for the compact layout with a
        language, the RVI summary beside the file. With ``simple=True`` the
        file is only closed: the header stays as last written. The recording
        is then flushed to the disk and renamed over the target, which keeps
        its mode. When finishing fails, nothing is written to the target;
        when only the renaming fails, the error names where the finished
        recording was left.

        A live recording is finished in place; its followers then see it
        closed. When finishing it fails, the records appended stay in it and
        ``kdrvx.repair`` completes its header. With ``simple=True`` its
        header keeps counting fewer records than it holds, so that followers
        find it as a writer that stopped without closing it leaves it.
        """
        function = "KDRVX_CloseCreateSimple" if simple else "KDRVX_CloseCreate"
        with LOCK:
            if not self._open:
                return
            self._release()
            status = call(function)
            if status != 0 and self.live:
                raise lib.error(status, function, "%s keeps the %d records appended; "
                                "kdrvx.repair completes it" % (self.path, self.record_count),
                                filename=self.path)
            if status != 0:
                failure = lib.error(status, function, "the recording was discarded; %s was left as "
                                    "it was" % self.path, filename=self.path)
                self._output.discard()
                raise failure
            try:
                self._output.commit()
            except (RvxError, OSError) as failure:
                left = "the finished recording stays in %s" % self._output.library_path
                if isinstance(failure, RvxError):
                    failure.detail = "%s; %s" % (failure.detail, left)
                    raise
                where = "%s; %s" % (self.path, left)
                raise lib.os_refusal(ERR_RVX_CREATE, where, failure, self.path) from failure

    def discard(self) -> None:
        """Abandons the recording: the target keeps its old bytes, or stays
        absent. A live recording, which followers may have read already, is
        closed instead, with the records appended so far (see ``close``)."""
        if self.live:
            self.close()
            return
        with LOCK:
            if not self._open:
                return
            self._release()
            call("KDRVX_CloseCreateSimple")
            self._output.discard()

    def _release(self) -> None:
        global _holder
        self._open = False
        if _holder is not None and _holder() is self:
            _holder = None

    def _check_open(self) -> None:
        if not self._open:
            raise ValueError("the writer of %s is closed" % self.path)

    def __enter__(self) -> "Writer":
        return self

    def __exit__(self, kind: object, failure: Optional[BaseException],
                 _traceback: object) -> None:
        if failure is None:
            self.close()
        elif self._open and self.live:
            try:
                self.close()
            except RvxError as closing:
                _add_note(failure, "kdrvx: closing the live recording %s failed: %s" % (
                    self.path, closing))
            else:
                _add_note(failure, "kdrvx: the live recording %s was closed with its %d records"
                          % (self.path, self.record_count))
        elif self._open:
            self.discard()
            _add_note(failure, "kdrvx: the recording of %d records was discarded; %s was left as "
                      "it was" % (self.record_count, self.path))

    def __del__(self) -> None:
        try:
            if self._open:
                self.discard()
                warnings.warn("kdrvx.Writer of %s was never closed: its recording was %s" % (
                    self.path, "closed with its %d records" % self.record_count if self.live
                    else "discarded"), RuntimeWarning)
        except Exception:
            pass

    def __repr__(self) -> str:
        return "<kdrvx.Writer %r: %s%s layout, %d records x %d channels (%s), %g s, %s>" % (
            self.path, "live, " if self.live else "", "compact" if self.legacy else "current",
            self.record_count,
            len(self.variables), _labels(self.variables),
            duration_s(self.record_count, self.scan_interval_us),
            "closed" if self.closed else "open")


def _add_note(failure: BaseException, note: str) -> None:
    """Adds a note to an exception as Python 3.11 and later do (and print it
    with the traceback); before 3.11, the same list of notes that the
    exceptiongroup backport prints."""
    add = getattr(failure, "add_note", None)
    if add is not None:
        add(note)
    else:
        setattr(failure, "__notes__", [*getattr(failure, "__notes__", []), note])


def _define_channel(fields: Dict[str, Any]) -> None:
    index = call("KDRVX_AddChannel", to_utf16(fields["variable"]))
    if index > 47:
        raise lib.error(index, "KDRVX_AddChannel", "channel %s" % fields["variable"])
    where = "channel %s" % fields["variable"]
    for key, (setter, _) in _CHANNEL_TEXTS.items():
        if fields.get(key) is not None:
            check(setter, index, to_utf16(fields[key]), detail=where)
    for key, (setter, _) in _CHANNEL_VALUES.items():
        if fields.get(key) is not None:
            check(setter, index, fields[key], detail=where)
    if fields["multichannel_bits"]:
        check("KDRVX_SetChannelMultiChannel", index, fields["multichannel_bits"], detail=where)


def _begin(path: str, overwrite: bool, summary: bool, live: bool) -> Union[Output, LiveOutput]:
    try:
        return LiveOutput(path, summary) if live else Output(path, overwrite, summary)
    except RvxError:
        raise
    except OSError as failure:
        raise lib.os_refusal(ERR_RVX_CREATE, path, failure, path) from failure


def create(path: PathArgument, channels: Iterable[ChannelDescription], scan_interval_us: int,
           legacy: bool = False, language: Optional[str] = "en", overwrite: bool = False,
           original: bool = True, start: Optional[_datetime.datetime] = None,
           trigger_record: Optional[int] = None, live: bool = False,
           tz: Optional[_conversions.Zone] = None,
           **header_texts: Optional[str]) -> Writer:
    """Creates an RVX file and returns its Writer.

    Args:
        path: the file to create.
        channels: the channels in record order (at least one): variable
            names such as ``"p1"``, mappings with the keys ``variable``,
            ``unit``, ``name``, ``number``, ``signal_type``, ``range``,
            ``zero_point``, ``filter``, ``linearisation_table``,
            ``individual_rate``, ``isds``, ``linearisation``,
            ``multichannel_bits``, or channels read from another file
            (``kdrvx.Channel``). ``individual_rate`` is 1 (sampled in every
            record) unless given.
        scan_interval_us: interval between two records: a whole number of
            microseconds from 1 to 2**32 - 1.
        legacy: write the compact WIN 3.x/4.x layout (at most 24 channels,
            no multichannels, 8-bit texts, a start without seconds) instead
            of the current one; its texts go to an RVI summary file.
        language: labels of that summary, "de", "en" or "fr"; None for no
            summary.
        overwrite: replace an existing file (not a symbolic link, a
            directory, a read-only file or one in use) when the writer is
            closed, instead of refusing to create.
        original: False marks the file as not being an original recording.
        start: date and time of the recording (default: the local time of
            now on this machine). The header keeps the recorder's
            wall-clock time without a zone: a naive ``datetime.datetime``
            is taken as that time; an aware one is converted to the
            wall-clock time of `tz` and refused with ValueError without
            `tz`. Either way it must be whole seconds: a fraction of a
            second, which the header cannot keep, is refused with
            ValueError rather than dropped (the compact layout keeps whole
            minutes, and refuses seconds likewise). A bare
            ``datetime.date`` is refused with ValueError.
        trigger_record: number of the record at which the trigger fired;
            one that would not read back as given is refused.
        live: make the recording in place, so that it can be followed
            (``kdrvx.follow``, ``rvx follow``) while it is recorded (see
            below).
        tz: the zone of the recorder's clock, for an aware `start`: a name
            of the IANA database (``"Europe/Berlin"``, through
            ``zoneinfo``) or a ``datetime.tzinfo``. It leaves a naive
            start as it is; without a start it is refused with ValueError,
            since the library's default is this machine's local time.
        header_texts: ``comment``, ``company``, ``instrument``,
            ``serial_number``, ``measurement_name``, ``trigger_setting``.

    A live recording is written where it is to stay, not under a staging
    name, and other programs may read it meanwhile: every record that
    ``append`` acknowledged is in the file, so that a process killed while
    recording leaves a file that ``kdrvx.repair`` completes with all of
    them. It is made only where no file is, in the same step that creates
    it (an existing file is refused with FileExistsError and not touched),
    and ``overwrite=True`` is refused with ValueError: replacing a file in
    place would lose it before the new recording is whole. A live
    recording is never thrown away: ``discard()`` and a ``with`` block that
    ends with an exception close it with the records appended so far.

    Before anything is written, the library checks the recording as
    planned (``KDRVX_CheckPlan``, the rules of ``rvx import``): a value that
    it cannot store as given - a variable that reads back as another, a text
    longer than its field or, in the compact layout, outside Latin-1, a scan
    interval the header cannot hold - raises ValueError (an RvxError too)
    naming the field, the channel and the library's reason. Fields that the
    layout keeps nowhere are named in an RvxWarning, and the recording is
    made without them. A compact recording with a summary file is refused
    where that file (its name as the library makes it) exists already,
    unless ``overwrite=True``.

    The library has one create context per process: while a Writer is open,
    creating another raises RvxError with ERR_RVX_STILL_OPEN_WRITE.
    """
    global _holder
    if live and overwrite:
        raise ValueError("live=True writes the recording in place, where it is followed, and so "
                         "never over an existing file: overwrite=True cannot be combined with it")
    unknown = set(header_texts) - set(_HEADER_TEXTS)
    if unknown:
        raise TypeError("unknown header fields: %s" % ", ".join(sorted(unknown)))
    if language not in LANGUAGES:
        raise ValueError("language must be one of %s" % ", ".join(repr(k) for k in LANGUAGES))
    path = path_text(path)
    descriptions = [_channel_fields(description) for description in channels]
    interval = _whole("scan_interval_us", scan_interval_us, ctypes.c_int64)
    # The plan's trigger record is a uint32_t: what lies beyond it is refused
    # at the conversion; which values read back as given, the plan check says.
    trigger = None if trigger_record is None else _whole("trigger_record", trigger_record,
                                                          ctypes.c_uint32)
    plan = _Plan(path, descriptions, header_texts, _wall_clock(start, tz), interval, trigger,
                 bool(legacy), language, bool(original))
    lost = plan.check()
    with LOCK:
        holder = _holder() if _holder is not None else None
        if holder is not None and not holder.closed:
            raise lib.error(
                ERR_RVX_STILL_OPEN_WRITE, "KDRVX_CreateExt",
                "the library has one create context per process and %s is being written in it; "
                "close that Writer before creating %s" % (holder.path, path))
        output = _begin(path, bool(overwrite), bool(legacy) and language is not None, bool(live))
        # The staged file is new, and a live one is made only where nothing
        # is: neither create replaces a file.
        creating = "KDRVX_CreateLive" if live else "KDRVX_CreateExt"
        try:
            status = call(creating, to_utf16(output.library_path), False, bool(original),
                          bool(legacy), LANGUAGES[language])
            if status == ERR_RVX_STILL_OPEN_WRITE:
                raise lib.error(status, creating,
                                "the library has one create context per process, and another user "
                                "of the library in this process holds it")
            if status == ERR_RVX_ALREADY_EXISTS and live:
                raise lib.refusal(status, output.target, "file exists; " + LIVE_REMEDY,
                                  errno.EEXIST, output.target)
            if status != 0:
                raise lib.error(status, creating, path, filename=path)
        except BaseException:
            output.discard()
            raise
        output.made = True
        try:
            check("KDRVX_SetScanRate", interval)
            if plan.date is not None:
                check("KDRVX_SetDate", to_utf16(plan.date))
            if plan.time is not None:
                check("KDRVX_SetTime", to_utf16(plan.time))
            if trigger is not None:
                check("KDRVX_SetNoTriggerRecord", trigger)
            for key, text in header_texts.items():
                if text is not None:
                    check(_HEADER_TEXTS[key][0], to_utf16(text), detail=key)
            for fields in descriptions:
                _define_channel(fields)
        except BaseException:
            call("KDRVX_CloseCreateSimple")
            output.discard()
            raise
        writer = Writer(output, plan,
                        tuple(fields["multichannel_bits"] for fields in descriptions), interval,
                        bool(legacy), bool(overwrite))
        _holder = weakref.ref(writer)
    if lost:
        warnings.warn("%s: the layout keeps these fields nowhere, so the recording is made "
                      "without them: %s" % (writer.path, "; ".join(lost)), RvxWarning, stacklevel=2)
    return writer


def modify(path: PathArgument, comment: Optional[str] = None,
           name: Optional[str] = None) -> Tuple[str, str]:
    """Replaces the comment and/or the measurement name of a current-layout
    file in place; returns the previous (comment, measurement name).

    None leaves a text as it is. The records are not touched. Either both
    changes are made or, when the library refuses one, neither.
    """
    path = path_text(path)
    with LOCK:
        status = call("KDRVX_OpenModify", to_utf16(path))
        if status == ERR_RVX_MODIFY_NOT_POSSIBLE:
            raise lib.error(status, "KDRVX_OpenModify", "%s: only a current-layout file is "
                            "modified in place; write it anew with kdrvx.create first" % path)
        if status != 0:
            raise lib.error(status, "KDRVX_OpenModify", path, path=path)
        try:
            previous_comment = text_buffer(lib.KDRVX_COMMENT_CAPACITY)
            check("KDRVX_ModifyComment", previous_comment, None if comment is None else to_utf16(comment),
                  detail="comment")
            previous_name = text_buffer(lib.KDRVX_NAME_MEASUREMENT_CAPACITY)
            status = call("KDRVX_ModifyNameMeasurement", previous_name, None if name is None else to_utf16(name))
            if status != 0:
                if comment is not None:
                    check("KDRVX_ModifyComment", text_buffer(lib.KDRVX_COMMENT_CAPACITY), previous_comment)
                raise lib.error(status, "KDRVX_ModifyNameMeasurement", "measurement name")
        except BaseException:
            call("KDRVX_CloseModify")
            raise
        check("KDRVX_CloseModify", detail=path)
        return from_utf16(previous_comment), from_utf16(previous_name)
