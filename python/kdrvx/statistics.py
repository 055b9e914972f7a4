"""The statistics of a window of records, per channel, as the library
computes them (``KDRVX_ReaderStatistics``) for every host: ``rvx stats``
prints the same numbers."""

from __future__ import annotations

import ctypes
import math
import operator
from dataclasses import dataclass
from typing import Dict, List, Optional, SupportsIndex, Tuple

from . import _library as lib
from ._library import PathArgument, reader_function
from .reading import Channels, Recording, _open, _read_error

# No one to hear how far the records have been read.
_NO_PROGRESS = ctypes.cast(0, lib.KDRVX_Progress)


@dataclass(frozen=True)
class ChannelStatistics:
    """What ``kdrvx.stats`` found in one channel over a window of records.

    The figures are taken over the finite values only, in double precision,
    from the values as ``kdrvx.read`` delivers them; each is None when the
    window holds no finite value (where ``rvx stats --json`` prints null).
    """

    channel: str
    """The channel's label (``Channel.label``)."""
    unit: str
    records: int
    """Records in the window."""
    finite: int
    """Values that are numbers: what the figures are taken over."""
    nan: int
    inf: int
    """Values that are +inf or -inf."""
    min: Optional[float]
    max: Optional[float]
    mean: Optional[float]
    rms: Optional[float]
    """Square root of the mean of the squares."""
    sd: Optional[float]
    """Population standard deviation (divided by ``finite``):
    rms² = mean² + sd²."""
    bits: Tuple[int, ...]
    """For a multichannel, per bit from the lowest, the records whose bit
    field sets it; empty for another channel."""


def _figure(value: float) -> Optional[float]:
    return None if math.isnan(value) else float(value)


def _of(label: str, unit: str, found: lib.KDRVX_WindowStatistics) -> ChannelStatistics:
    return ChannelStatistics(
        channel=label, unit=unit, records=int(found.records), finite=int(found.finiteValues),
        nan=int(found.nanValues), inf=int(found.infiniteValues),
        min=_figure(found.minValue), max=_figure(found.maxValue),
        mean=_figure(found.meanValue), rms=_figure(found.rmsValue),
        sd=_figure(found.sdevValue),
        bits=tuple(int(found.bitsSet[k]) for k in range(found.multiChannelBits)))


def _window(recording: Recording, first: int, count: int,
            columns: Optional[List[int]]) -> Tuple[int, Dict[str, ChannelStatistics]]:
    """The statistics of records first .. first + count - 1 in one call of
    the library, every channel in one pass; returns the records taken (the
    data may end sooner) and the channels of `columns` (None: all)."""
    described = len(recording.channels)
    found = (lib.KDRVX_WindowStatistics * described)()
    for entry in found:
        entry.size = ctypes.sizeof(lib.KDRVX_WindowStatistics)
    with recording._lock:
        recording._check_open()
        status = reader_function("KDRVX_ReaderStatistics")(
            recording._reader, first, count, found if described else None, described,
            _NO_PROGRESS, None)
        if status != 0:
            raise _read_error(recording._reader, status, "KDRVX_ReaderStatistics",
                              recording.path)
    taken = int(found[0].records) if described else 0
    chosen = range(described) if columns is None else columns
    return taken, {recording.channels[k].label: _of(recording.channels[k].label,
                                                   recording.channels[k].unit, found[k])
                   for k in chosen}


def stats(path: PathArgument, start: Optional[SupportsIndex] = 0,
          stop: Optional[SupportsIndex] = None,
          channels: Channels = None) -> Dict[str, ChannelStatistics]:
    """Per channel, the statistics of the records ``start`` to ``stop`` of
    the recording at `path`: a dict from each channel's label to its
    ``kdrvx.ChannelStatistics``, in the order of `channels` (indexes,
    labels or variable names; None for every channel).

    `start` and `stop` count records as a slice does and as ``kdrvx.read``
    counts them: `stop` is not included, and a negative one counts from
    the header's record count. ``rvx stats --records A:B`` includes B, so
    ``stats(path, start=A, stop=B + 1)`` gives its numbers, bit for bit:
    both are the library's (``KDRVX_ReaderStatistics``), over the values
    ``kdrvx.read`` delivers. Counts of NaN and infinite values are kept
    apart from the figures, which are taken over the finite values.

    What the library finds in the file is refused or warned about as
    ``kdrvx.read`` refuses and warns; data that end before the window does
    are warned about, and the statistics are those of the records there are.
    """
    with _open(path, 2) as recording:
        window = slice(None if start is None else operator.index(start),
                       None if stop is None else operator.index(stop))
        first, last, _ = window.indices(len(recording))
        count = max(0, last - first)
        taken, found = _window(recording, first, count, recording._columns(channels))
        recording._report(first, count, taken, False, None)
    return found
