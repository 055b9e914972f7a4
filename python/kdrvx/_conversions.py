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

def datetimes(recording: Recording, start: int, rows: int) -> Optional[NDArray[Any]]:
    """The datetime64[ns] of each record from `start`, or None when the
    header has no start."""
    if recording.header.start is None:
        return None
    steps = np.arange(start, start + rows, dtype=np.int64) * recording.header.scan_interval_us
    stamps = np.datetime64(recording.header.start, "us") + steps.astype("timedelta64[us]")
    return stamps.astype("datetime64[ns]")

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
           datetime_index: bool) -> "pandas.DataFrame":
    if datetime_index:
        stamps = datetimes(recording, start, len(values))
        if stamps is None:
            raise ValueError(NO_START % recording.path)
        index = pandas.DatetimeIndex(stamps, name="time")
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
              all_records: bool, datetime_index: bool) -> "pandas.DataFrame":
    pandas = optional("pandas", "Recording.to_pandas")
    plan = frame_plan(recording, recording._columns(channels))
    values = recording.read(start, count, plan.order, all_records)
    return frame(recording, pandas, plan, values, start, datetime_index)


def to_xarray(recording: Recording, start: int, count: Optional[int], channels: Channels,
              all_records: bool) -> "xarray.Dataset":
    xarray = optional("xarray", "Recording.to_xarray")
    columns = recording._columns(channels)
    if columns is None:
        columns = list(range(len(recording.channels)))
    if len(set(columns)) != len(columns):
        raise ValueError("a Dataset holds each channel once; channels %s name one twice"
                         % columns)
    every_channel = columns == list(range(len(recording.channels)))  # read straight in
    values = recording.read(start, count, None if every_channel else columns, all_records)
    first = start
    seconds = recording._times_of(first, len(values))
    coordinates: Dict[str, Any] = {
        "time": ("time", seconds, {"units": "s", "long_name": "time from the start"})}
    stamps = datetimes(recording, first, len(values))
    if stamps is not None:
        coordinates["datetime"] = ("time", stamps)
    variables = {}
    for at, index in enumerate(columns):
        channel = recording.channels[index]
        column = values[:, at]
        if channel.is_multichannel:
            column = column.view(np.uint32)
        variables[channel.label] = ("time", column, _channel_attributes(channel))
    return xarray.Dataset(variables, coordinates, attributes(recording))
