"""Creating recordings and changing the texts of existing ones."""

from __future__ import annotations

import datetime as _datetime
import os
import weakref
from typing import Any, Iterable, Mapping, Optional, Tuple, Union

import numpy as np

from . import _library as lib
from ._library import LOCK, call, check, from_utf16, path_text, text_buffer, to_utf16
from .errors import ERR_RVX_STILL_OPEN_WRITE

# Label languages of the RVI summary that the compact layout gets on closing;
# None writes no summary.
LANGUAGES = {"de": 0, "fr": 2, "en": 4, None: 255}

# Header texts that create() takes as keyword arguments, and their setters.
_HEADER_TEXTS = {
    "comment": "KDRVX_SetComment",
    "company": "KDRVX_SetCompany",
    "instrument": "KDRVX_SetInstrument",
    "serial_number": "KDRVX_SetSnrInstrument",
    "measurement_name": "KDRVX_SetNameMeasurement",
    "trigger_setting": "KDRVX_SetTriggerSetting",
}

# Channel properties that a channel description may give, and their setters.
_CHANNEL_TEXTS = {
    "unit": "KDRVX_SetChannelUnit",
    "name": "KDRVX_SetChannelName",
    "number": "KDRVX_SetChannelNumber",
    "signal_type": "KDRVX_SetChannelSignalType",
    "range": "KDRVX_SetChannelCalParameter",
    "zero_point": "KDRVX_SetChannelZeroPoint",
    "filter": "KDRVX_SetChannelFilter",
    "linearisation_table": "KDRVX_SetChannelLintab",
}
_CHANNEL_VALUES = {
    "individual_rate": "KDRVX_SetChannelIndRate",
    "isds": "KDRVX_SetChannelISDS",
    "linearisation": "KDRVX_SetChannelLinearisation",
}
_CHANNEL_KEYS = {"variable", "multichannel_bits", *_CHANNEL_TEXTS, *_CHANNEL_VALUES}
# What a Channel read from a file carries besides its definition.
_READ_ONLY_KEYS = {"index", "minimum", "maximum", "mean", "rms"}

ChannelDescription = Union[str, Mapping[str, Any], Any]

# The one Writer that holds the library's create context, if any.
_holder: Optional[weakref.ReferenceType] = None


def _channel_fields(description: ChannelDescription) -> dict:
    """The properties of a channel description: a variable name, a mapping, or
    an object with the attributes of ``kdrvx.Channel`` (for example a channel
    read from another file)."""
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
    return fields


def bits_as_float32(bits) -> np.ndarray:
    """Multichannel bit fields (uint32) as the float32 record values that carry them.

    ``Writer.append`` takes records as float32; a multichannel's column is
    the bit pattern of its value, not a number. Use this to put bit fields
    into a record without converting them numerically.
    """
    return np.array(bits, dtype=np.uint32).view(np.float32)


class Writer:
    """An RVX file under creation; create it with ``kdrvx.create(...)``.

    The library has a single create context for the whole process, so only
    one Writer can be open at a time. Records are handed to the library one
    by one as ``append`` receives them and reach the file at once; the header
    on disk shows the final record count and statistics after ``update()`` or
    ``close()``. Used as a context manager, the writer is closed (with its
    final header) also when the block ends with an exception, so that the
    records written so far are kept.
    """

    def __init__(self, path: str, variables: Tuple[str, ...], legacy: bool):
        self.path = path
        """The path the library created, after it replaced the characters that
        a file name cannot hold."""
        self.variables = variables
        self.legacy = legacy
        self.record_count = 0
        """Records appended so far."""
        self._open = True

    @property
    def closed(self) -> bool:
        return not self._open

    def append(self, records) -> None:
        """Appends one record (a sequence of one value per channel) or a 2-D
        array of records, each through ``KDRVX_AddRecord``.

        Values are converted to float32. Build records with multichannel
        bit fields as a float32 array, the bit fields put in with
        ``bits_as_float32``, so that no conversion touches their bits.
        """
        values = np.asarray(records)
        if values.dtype != np.float32:
            values = values.astype(np.float32)
        if values.ndim == 1:
            values = values.reshape(1, -1)
        if values.ndim != 2 or values.shape[1] != len(self.variables):
            raise ValueError("a record has %d values (one per channel), not shape %s"
                             % (len(self.variables), np.shape(records)))
        values = np.ascontiguousarray(values)
        base, step = values.ctypes.data, values.strides[0]
        add = lib.function("KDRVX_AddRecord")
        with LOCK:
            self._check_open()
            for row in range(len(values)):
                status = add(base + row * step)
                if status != 0:
                    raise lib.error(status, "KDRVX_AddRecord", "record %d of %s" % (self.record_count, self.path))
                self.record_count += 1

    def update(self) -> None:
        """Writes the header with the record count and statistics so far."""
        with LOCK:
            self._check_open()
            check("KDRVX_Update")

    def close(self, simple: bool = False) -> None:
        """Finishes the file and frees the library's create context.

        By default the final header (record count, minimum, maximum, mean and
        RMS of every channel) is written and, for the compact layout with a
        language, the RVI summary beside the file. With ``simple=True`` the
        file is only closed: the header stays as last written.
        """
        global _holder
        with LOCK:
            if not self._open:
                return
            self._open = False
            if _holder is not None and _holder() is self:
                _holder = None
            check("KDRVX_CloseCreateSimple" if simple else "KDRVX_CloseCreate")

    def _check_open(self) -> None:
        if not self._open:
            raise ValueError("the writer of %s is closed" % self.path)

    def __enter__(self) -> "Writer":
        return self

    def __exit__(self, *exc_info) -> None:
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return "<kdrvx.Writer %r, %d channels, %d records, %s>" % (
            self.path, len(self.variables), self.record_count, state)


def _set_start(start) -> None:
    if isinstance(start, _datetime.datetime):
        check("KDRVX_SetDate", to_utf16("%d.%d.%d" % (start.day, start.month, start.year)))
        check("KDRVX_SetTime", to_utf16("%d:%d:%d" % (start.hour, start.minute, start.second)))
    elif isinstance(start, _datetime.date):
        check("KDRVX_SetDate", to_utf16("%d.%d.%d" % (start.day, start.month, start.year)))
    else:
        raise TypeError("start must be a datetime.datetime or datetime.date")


def _define_channel(fields: dict) -> None:
    index = call("KDRVX_AddChannel", to_utf16(fields["variable"]))
    if index > 47:
        raise lib.error(index, "KDRVX_AddChannel", "channel %s" % fields["variable"])
    where = "channel %s" % fields["variable"]
    for key, setter in _CHANNEL_TEXTS.items():
        if fields.get(key) is not None:
            check(setter, index, to_utf16(fields[key]), detail=where)
    for key, setter in _CHANNEL_VALUES.items():
        if fields.get(key) is not None:
            check(setter, index, int(fields[key]), detail=where)
    bits = fields.get("multichannel_bits")
    if bits:
        check("KDRVX_SetChannelMultiChannel", index, int(bits), detail=where)


def create(path, channels: Iterable[ChannelDescription], scan_interval_us: int,
           legacy: bool = False, language: Optional[str] = "en", overwrite: bool = False,
           original: bool = True, start: Optional[_datetime.date] = None,
           trigger_record: Optional[int] = None, **header_texts: str) -> Writer:
    """Creates an RVX file and returns its Writer.

    Args:
        path: the file to create.
        channels: the channels in record order: variable names such as
            ``"p1"``, mappings with the keys ``variable``, ``unit``, ``name``,
            ``number``, ``signal_type``, ``range``, ``zero_point``,
            ``filter``, ``linearisation_table``, ``individual_rate``,
            ``isds``, ``linearisation``, ``multichannel_bits``, or channels
            read from another file (``kdrvx.Channel``). ``individual_rate``
            is 1 (sampled in every record) unless given.
        scan_interval_us: interval between two records in microseconds.
        legacy: write the compact WIN 3.x/4.x layout (at most 24 channels)
            instead of the current one; its texts go to an RVI summary file.
        language: labels of that summary, "de", "en" or "fr"; None for no
            summary.
        overwrite: replace an existing file instead of failing.
        original: False marks the file as not being an original recording.
        start: date and time of the recording (default: now).
        trigger_record: number of the record at which the trigger fired.
        header_texts: ``comment``, ``company``, ``instrument``,
            ``serial_number``, ``measurement_name``, ``trigger_setting``.

    The library has one create context per process: while a Writer is open,
    creating another raises RvxError with ERR_RVX_STILL_OPEN_WRITE.
    """
    global _holder
    unknown = set(header_texts) - set(_HEADER_TEXTS)
    if unknown:
        raise TypeError("unknown header fields: %s" % ", ".join(sorted(unknown)))
    if language not in LANGUAGES:
        raise ValueError("language must be one of %s" % ", ".join(repr(k) for k in LANGUAGES))
    descriptions = [_channel_fields(description) for description in channels]
    with LOCK:
        holder = _holder() if _holder is not None else None
        if holder is not None and not holder.closed:
            raise lib.error(
                ERR_RVX_STILL_OPEN_WRITE, "KDRVX_CreateExt",
                "the library has one create context per process and %s is being written in it; "
                "close that Writer before creating %s" % (holder.path, path_text(path)))
        # The library cleans the path in place: characters that a file name
        # cannot hold become '_'.
        name = to_utf16(path_text(path))
        status = call("KDRVX_CreateExt", name, bool(overwrite), bool(original), bool(legacy),
                      LANGUAGES[language])
        if status == ERR_RVX_STILL_OPEN_WRITE:
            raise lib.error(status, "KDRVX_CreateExt",
                            "the library has one create context per process, and another user of "
                            "the library in this process holds it")
        if status != 0:
            raise lib.error(status, "KDRVX_CreateExt", from_utf16(name))
        created = from_utf16(name)
        try:
            check("KDRVX_SetScanRate", int(scan_interval_us))
            if start is not None:
                _set_start(start)
            if trigger_record is not None:
                check("KDRVX_SetNoTriggerRecord", int(trigger_record))
            for key, text in header_texts.items():
                if text is not None:
                    check(_HEADER_TEXTS[key], to_utf16(text), detail=key)
            for fields in descriptions:
                _define_channel(fields)
        except BaseException:
            # Nothing worth keeping was written: remove the half-made file.
            call("KDRVX_CloseCreateSimple")
            try:
                os.remove(created)
            except OSError:
                pass
            raise
        writer = Writer(created, tuple(fields["variable"] for fields in descriptions), bool(legacy))
        _holder = weakref.ref(writer)
        return writer


def modify(path, comment: Optional[str] = None, name: Optional[str] = None) -> Tuple[str, str]:
    """Replaces the comment and/or the measurement name of a current-layout
    file in place; returns the previous (comment, measurement name).

    None leaves a text as it is. The records are not touched. Either both
    changes are made or, when the library refuses one, neither.
    """
    path = path_text(path)
    with LOCK:
        check("KDRVX_OpenModify", to_utf16(path), detail=path)
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
