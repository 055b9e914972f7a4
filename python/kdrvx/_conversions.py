"""A recording's records as labelled data: pandas DataFrames and xarray
Datasets with the header's and the channels' fields as their attributes.
pandas and xarray are imported when first used."""

from __future__ import annotations

import dataclasses
import datetime as _datetime
import importlib
from dataclasses import dataclass
from typing import TYPE_CHECKING, Any, Dict, List, Optional, Union

import numpy as np
from numpy.typing import NDArray

if TYPE_CHECKING:
    import pandas
    import xarray

    from .reading import Channel, Channels, Recording

NO_START = "%s: its header holds no start, so its records have no dates"


@dataclass(frozen=True)
class _FramePlan:
    order: Optional[List[int]]
    """The channels to read, in the order read; None for every channel."""
    ordinary: int
    """How many of them, in front, are not bit fields."""
    bit_fields: List[int]
    """The frame's columns that hold bit fields."""
    labels: List[str]
    """The frame's column labels: the channels' labels."""
    units: Dict[str, str]
    """Each column's unit, by label."""
    channels: Dict[str, Dict[str, Union[str, int, float]]]
    """Each column's channel fields, by label."""


def optional(module: str, needed_by: str) -> Any:
    """A package that only some methods need, imported when first used."""
    try:
        return importlib.import_module(module)
    except ImportError as missing:
        raise ImportError("%s needs %s, which is not installed" % (needed_by, module)) from missing


def _storable(fields: Dict[str, Any]) -> Dict[str, Union[str, int, float]]:
    """Fields as netCDF attributes: texts and numbers; None left out."""
    stored: Dict[str, Union[str, int, float]] = {}
    for key, value in fields.items():
        if value is None:
            continue
        if isinstance(value, bool):
            value = int(value)
        elif isinstance(value, _datetime.datetime):
            value = value.isoformat()
        stored[key] = value
    return stored


def _channel_attributes(channel: Channel) -> Dict[str, Union[str, int, float]]:
    """A channel's fields as netCDF attributes, with the conventional
    ``units`` and ``long_name`` beside them."""
    attributes = _storable(dataclasses.asdict(channel))
    attributes.update(units=channel.unit, long_name=channel.label)
    return attributes


def attributes(recording: Recording) -> Dict[str, Union[str, int, float]]:
    """The header's fields, the path and the record kind, as texts and
    numbers (what netCDF can store): a start in ISO 8601, flags as 0 or
    1, and no start at all where the header has none."""
    attributes = _storable(dataclasses.asdict(recording.header))
    attributes.update(path=recording.path, record_kind=recording.record_kind)
    return attributes

Zone = Union[str, _datetime.tzinfo]
"""A time zone: a name of the IANA database ("Europe/Berlin") or a tzinfo."""

NOT_A_ZONE = "tz must be a time zone name such as 'Europe/Berlin' or a datetime.tzinfo, not %r"
UNKNOWN_ZONE = ("unknown time zone %r: no such zone in the system's time zone database or "
                "the tzdata package")
NO_ZONE_MODULE = ("a time zone by name needs the zoneinfo module (Python 3.9, or the "
                  "backports.zoneinfo package before it); or pass a tzinfo instead of %r")


def zone(tz: Zone) -> _datetime.tzinfo:
    """A time zone as a tzinfo; a name is looked up with zoneinfo."""
    if isinstance(tz, _datetime.tzinfo):
        return tz
    if not isinstance(tz, str):
        raise TypeError(NOT_A_ZONE % (tz,))
    for module in ("zoneinfo", "backports.zoneinfo"):
        try:
            zoneinfo = importlib.import_module(module)
            break
        except ImportError:
            continue
    else:
        raise ImportError(NO_ZONE_MODULE % tz)
    try:
        found: _datetime.tzinfo = zoneinfo.ZoneInfo(tz)
    except (zoneinfo.ZoneInfoNotFoundError, ValueError) as unknown:
        raise ValueError(UNKNOWN_ZONE % tz) from unknown
    return found


def _pandas_zone(tz: Zone) -> Any:
    """A time zone as pandas takes it. A zoneinfo zone goes by its name:
    pandas before 2.0 takes a ZoneInfo for a fixed offset and gets every
    change of the clocks wrong."""
    if isinstance(tz, str):
        return tz
    if not isinstance(tz, _datetime.tzinfo):
        raise TypeError(NOT_A_ZONE % (tz,))
    key = getattr(tz, "key", None)
    return key if isinstance(key, str) else tz


@dataclass(frozen=True)
class Clock:
    """How the dates of a recording's records are made: record k lies k
    scan intervals after record 0."""

    origin: np.datetime64
    """Record 0 as numpy.datetime64[us]: the header's start as it stands
    (wall-clock time, no zone), or with a zone the UTC time of that start."""
    interval_us: int
    zone: Any
    """The zone as pandas takes it, or None."""


def clock(recording: Recording, tz: Optional[Zone]) -> Clock:
    """The clock of a recording's records; with `tz`, its start localised
    in that zone. ValueError when the header holds no start, or a start
    that `tz` has twice or not at all."""
    start = recording.header.start
    if start is None:
        raise ValueError(NO_START % recording.path)
    interval = recording.header.scan_interval_us
    if tz is None:
        return Clock(np.datetime64(start, "us"), interval, None)
    pandas = optional("pandas", "A time zone (tz=)")
    pandas_zone = _pandas_zone(tz)
    utc = _localised(pandas, start, pandas_zone, recording.path).tz_convert("UTC")
    return Clock(np.datetime64(utc.tz_localize(None).to_datetime64(), "us"), interval,
                 pandas_zone)


def _localised(pandas: Any, start: _datetime.datetime, zone: Any, path: str) -> Any:
    """The header's start as a pandas Timestamp in `zone`. A wall-clock time
    that the zone shows twice (when the clocks go back) or never (when they
    go forward) is refused: the header keeps no offset to tell which."""
    stamp = pandas.Timestamp(start)
    try:
        found = stamp.tz_localize(zone, ambiguous="NaT", nonexistent="NaT")
    except KeyError as unknown:  # what pandas' zone databases raise for a name they lack
        raise ValueError(UNKNOWN_ZONE % zone) from unknown
    if not pandas.isna(found):
        return found
    remedy = ("give tz as the offset from UTC that the recorder's clock kept, e.g. "
              "tz=datetime.timezone(datetime.timedelta(hours=1)); tz_convert then shows the "
              "dates in any zone")
    earlier = stamp.tz_localize(zone, ambiguous=True, nonexistent="NaT")
    if pandas.isna(earlier):
        raise ValueError("%s: its start %s does not exist in %s, whose clocks skip that hour, "
                         "and its header keeps no offset from UTC; %s"
                         % (path, start, zone, remedy))
    later = stamp.tz_localize(zone, ambiguous=False)
    raise ValueError("%s: its start %s is ambiguous in %s, whose clocks show that hour twice "
                     "(%s or %s), and its header keeps no offset from UTC; %s"
                     % (path, start, zone, earlier.isoformat(), later.isoformat(), remedy))


def datetimes(clock: Clock, start: int, rows: int) -> NDArray[Any]:
    """The datetime64[ns] of each record from `start`, as the clock makes
    them: wall-clock times, or UTC times where it has a zone."""
    steps = np.arange(start, start + rows, dtype=np.int64) * clock.interval_us
    stamps = clock.origin + steps.astype("timedelta64[us]")
    return stamps.astype("datetime64[ns]")


def check_zone(datetime_index: bool, tz: Optional[Zone]) -> None:
    if tz is not None and not datetime_index:
        raise ValueError("tz= localises the dates of the index: give datetime_index=True too")


def frame_plan(recording: Recording, columns: Optional[List[int]]) -> _FramePlan:
    """How the frame of `columns` (None: every channel) is made from one
    read: the ordinary channels first and the bit fields behind them,
    which then go to their places as columns of their own."""
    if columns is None:
        columns = list(range(len(recording.channels)))
    bits = [recording.channels[index].is_multichannel for index in columns]
    bit_fields = [at for at, is_bits in enumerate(bits) if is_bits]
    ordinary = [index for index, is_bits in zip(columns, bits) if not is_bits]
    order = ordinary + [columns[at] for at in bit_fields]
    every_channel = order == list(range(len(recording.channels)))
    chosen = [recording.channels[index] for index in columns]
    return _FramePlan(None if every_channel else order, len(ordinary), bit_fields,
                      [channel.label for channel in chosen],
                      {channel.label: channel.unit for channel in chosen},
                      {channel.label: _channel_attributes(channel) for channel in chosen})

def frame(recording: Recording, pandas: Any, plan: _FramePlan, values: NDArray[Any], start: int,
          dates: Optional[Clock]) -> "pandas.DataFrame":
    """The frame of `values`, records from `start`: indexed by seconds, or
    with a clock by dates (in its zone where it has one)."""
    if dates is not None:
        index = pandas.DatetimeIndex(datetimes(dates, start, len(values)), name="time")
        if dates.zone is not None:
            index = index.tz_localize("UTC").tz_convert(dates.zone)
    else:
        index = pandas.Index(recording._times_of(start, len(values)), name="time [s]")
    frame = pandas.DataFrame(values[:, :plan.ordinary], index=index, copy=False,
                             columns=[label for at, label in enumerate(plan.labels)
                                      if at not in plan.bit_fields])
    for which, at in enumerate(plan.bit_fields):
        frame.insert(at, plan.labels[at], values[:, plan.ordinary + which].view(np.uint32),
                     allow_duplicates=True)
    frame.attrs.update(attributes(recording), units=dict(plan.units),
                       channels=dict(plan.channels))
    return frame


def to_pandas(recording: Recording, start: int, count: Optional[int], channels: Channels,
              all_records: bool, datetime_index: bool, tz: Optional[Zone]) -> "pandas.DataFrame":
    pandas = optional("pandas", "Recording.to_pandas")
    check_zone(datetime_index, tz)
    dates = clock(recording, tz) if datetime_index else None
    plan = frame_plan(recording, recording._columns(channels))
    values = recording.read(start, count, plan.order, all_records)
    return frame(recording, pandas, plan, values, start, dates)


def to_xarray(recording: Recording, start: int, count: Optional[int], channels: Channels,
              all_records: bool, tz: Optional[Zone]) -> "xarray.Dataset":
    xarray = optional("xarray", "Recording.to_xarray")
    columns = recording._columns(channels)
    if columns is None:
        columns = list(range(len(recording.channels)))
    if len(set(columns)) != len(columns):
        raise ValueError("a Dataset holds each channel once; channels %s name one twice"
                         % columns)
    dates = None
    if tz is not None or recording.header.start is not None:
        dates = clock(recording, tz)
    every_channel = columns == list(range(len(recording.channels)))  # read straight in
    values = recording.read(start, count, None if every_channel else columns, all_records)
    first = start
    seconds = recording._times_of(first, len(values))
    coordinates: Dict[str, Any] = {
        "time": ("time", seconds, {"units": "s", "long_name": "time from the start"})}
    described = attributes(recording)
    if dates is not None:
        stamps = datetimes(dates, first, len(values))
        if dates.zone is None:
            coordinates["datetime"] = ("time", stamps)
        else:
            # Neither xarray nor netCDF keeps a zone with a date: the dates
            # are UTC, and the zone they were localised in goes beside them.
            coordinates["datetime"] = ("time", stamps, {"timezone": "UTC"})
            described["timezone"] = str(dates.zone)
    variables = {}
    for at, index in enumerate(columns):
        channel = recording.channels[index]
        column = values[:, at]
        if channel.is_multichannel:
            column = column.view(np.uint32)
        variables[channel.label] = ("time", column, _channel_attributes(channel))
    return xarray.Dataset(variables, coordinates, described)
