"""Whole archives of recordings with Dask: a catalogue of the files and their
records as one ``dask.dataframe``.

    import kdrvx.dask

    table = kdrvx.dask.catalogue("archive/**/*.rvx")        # pandas, one row per file
    frame = kdrvx.dask.read_recordings("archive/**/*.rvx", channels=["p1", "T1"])
    frame.groupby("path")["p1"].max().compute()

Both run on the current Dask scheduler: a ``dask.distributed`` Client when
one is active, else Dask's default. Every task opens, reads and closes its
own file, so a task runs wherever it lands: in a worker process (each loads
its own library) or in one of a worker's threads. Importing ``kdrvx`` never
needs Dask; importing this module does.
"""

from __future__ import annotations

import glob
import os
from typing import Any, Dict, Iterable, List, Optional, Sequence, Set, Tuple, Type, Union

import dask
import dask.dataframe
import numpy as np
import pandas

import kdrvx
from kdrvx._fields import HEADER_TEXTS

PathsOrGlob = Union[str, "os.PathLike[str]", Iterable[Union[str, "os.PathLike[str]"]]]

# Files described by one catalogue task: enough to keep the scheduler's cost
# per file small, few enough to spread a few hundred files over the workers.
_FILES_PER_TASK = 16

# Records in one partition of read_recordings unless asked otherwise.
PARTITION_RECORDS = 1_000_000

# The column of read_recordings that names the file a record comes from.
PATH_COLUMN = "path"

# Header texts that the catalogue shows, one column each.
_HEADER_TEXTS = tuple(HEADER_TEXTS)


# Opening from tasks -------------------------------------------------------

def _is_the_files_fault(failure: Exception) -> bool:
    """A failure that belongs to the file, not to the process reading it: the
    library missing concerns every file alike and stops the computation."""
    return not isinstance(failure, kdrvx.LibraryNotFoundError)


def _describe(paths: Sequence[str]) -> List[Dict[str, Any]]:
    """Header, channels and record kind of each file, or why it cannot be read."""
    described = []
    for path in paths:
        try:
            with kdrvx.open(path) as recording:
                described.append({"path": path, "header": recording.header,
                                  "channels": recording.channels,
                                  "record_kind": recording.record_kind, "error": None})
        except (kdrvx.RvxError, OSError, ValueError, RuntimeError) as failure:
            if not _is_the_files_fault(failure):
                raise
            described.append({"path": path, "header": None, "channels": (), "record_kind": None,
                              "error": "%s: %s" % (type(failure).__name__, failure)})
    return described


# Which files ---------------------------------------------------------------

def _paths(paths_or_glob: PathsOrGlob) -> List[str]:
    """The files named, in the order given; a single text with glob
    characters (``*``, ``?``, ``[``; ``**`` for any depth) stands for the
    files it matches, sorted."""
    if isinstance(paths_or_glob, (str, os.PathLike)):
        pattern = os.fspath(paths_or_glob)
        if not any(character in pattern for character in "*?["):
            return [pattern]
        paths = sorted(path for path in glob.glob(pattern, recursive=True)
                       if not os.path.isdir(path))
        if not paths:
            raise FileNotFoundError("no files match %s" % pattern)
        return paths
    paths = [os.fspath(path) for path in paths_or_glob]
    if not paths:
        raise ValueError("no recordings given")
    return paths


def _described(paths: List[str]) -> List[Dict[str, Any]]:
    """_describe over all `paths` in parallel on the current scheduler."""
    batches = [paths[first:first + _FILES_PER_TASK]
               for first in range(0, len(paths), _FILES_PER_TASK)]
    tasks = [dask.delayed(_describe, pure=True)(batch) for batch in batches]
    return [row for batch in dask.compute(*tasks) for row in batch]


# The catalogue ---------------------------------------------------------------

def catalogue(paths_or_glob: PathsOrGlob) -> pandas.DataFrame:
    """One row per file, the headers read in parallel on the current scheduler.

    Columns: ``path``; ``layout``, the version code of the file's layout
    (``Header.version``, 115 for the current one); ``record_kind`` (as
    ``Recording.record_kind``); ``start`` (NaT when the file holds no valid
    date); ``duration_s``, the header's record count times its scan
    interval; ``records``, the header's record count; ``scan_interval_us``;
    ``channels``, a tuple of the channels' labels (``p1``, ``ch_0``);
    ``units``, a tuple of their units (``bar``); the header
    texts ``comment``, ``company``, ``instrument``, ``serial_number``,
    ``measurement_name`` and ``trigger_setting``; and ``error``: None, or
    for a file that cannot be read why not. A damaged file gets its error
    and no other values; it never stops the computation.
    """
    rows = []
    for described in _described(_paths(paths_or_glob)):
        header = described["header"]
        row = {"path": described["path"], "layout": None, "record_kind": None, "start": None,
               "duration_s": np.nan, "records": None, "scan_interval_us": None,
               "channels": tuple(channel.label for channel in described["channels"]),
               "units": tuple(channel.unit for channel in described["channels"])}
        row.update((text, None) for text in _HEADER_TEXTS)
        if header is not None:
            row.update(layout=header.version, record_kind=described["record_kind"],
                       start=header.start, records=header.record_count,
                       scan_interval_us=header.scan_interval_us,
                       duration_s=header.duration_s)
            row.update((text, getattr(header, text)) for text in _HEADER_TEXTS)
        row["error"] = described["error"]
        rows.append(row)
    table = pandas.DataFrame(rows)
    table["start"] = pandas.to_datetime(table["start"])
    for counted in ("layout", "records", "scan_interval_us"):
        table[counted] = table[counted].astype("Int64")
    return table


# The records ---------------------------------------------------------------

# One partition: a file, its first record, the records at most (None: to the
# header's count) and the indexes of the channels that give the columns.
_Part = Tuple[str, int, Optional[int], Tuple[int, ...]]


def _block(recording: kdrvx.Recording, start: int, count: Optional[int],
           indexes: Sequence[int]) -> pandas.DataFrame:
    """Records of `recording` as ``to_pandas`` gives them. A file of 32-bit
    float records is mapped rather than read, so that a block that starts
    far into the file does not read every record before it."""
    try:
        values = np.array(recording.read(start, count, mmap=True)[:, list(indexes)])
    except ValueError:  # the older kinds, or data that end before the header's count
        values = recording.read(start, count, list(indexes))
    times = (np.arange(len(values), dtype=np.float64) + start)
    times *= recording.header.scan_interval_us
    times /= 1e6
    columns = {}
    for at, index in enumerate(indexes):
        channel = recording.channels[index]
        column = values[:, at]
        columns[channel.label] = column.view(np.uint32) if channel.is_multichannel else column
    frame = pandas.DataFrame(columns, index=pandas.Index(times, name="time [s]"))
    frame.attrs["units"] = {recording.channels[index].label: recording.channels[index].unit
                            for index in indexes}
    return frame


def _read_part(part: _Part, meta: pandas.DataFrame) -> pandas.DataFrame:
    path, start, count, indexes = part
    with kdrvx.open(path) as recording:
        frame = _block(recording, start, count, indexes)
    frame.insert(0, PATH_COLUMN, path)
    if list(frame.columns) != list(meta.columns):
        frame = frame.reindex(columns=meta.columns)
    differing = {label: dtype for label, dtype in meta.dtypes.items()
                 if frame.dtypes[label] != dtype}
    return frame.astype(differing) if differing else frame


def _selected(described: Dict[str, Any],
              names: Optional[List[str]]) -> Tuple[List[int], List[str]]:
    """Indexes of the file's channels that `names` select (every channel for
    None), in the order asked, and the names the file lacks. A name is a
    label or, failing that, a variable, as ``Recording.read`` takes it."""
    channels = described["channels"]
    if names is None:
        return [channel.index for channel in channels], []
    by_name: Dict[str, int] = {}
    for channel in channels:
        by_name.setdefault(channel.label, channel.index)
    for channel in channels:
        by_name.setdefault(channel.variable, channel.index)
    return ([by_name[name] for name in names if name in by_name],
            [name for name in names if name not in by_name])


def _difference(path: str, labels: List[str], first: str, first_labels: List[str]) -> str:
    lacking = [label for label in first_labels if label not in labels]
    extra = [label for label in labels if label not in first_labels]
    said = ["lacks " + ", ".join(lacking)] if lacking else []
    said += ["has " + ", ".join(extra)] if extra else []
    return "%s %s, compared with the first recording %s" % (path, " and ".join(said), first)


def _units(descriptions: List[Dict[str, Any]], selections: List[List[int]]) -> Dict[str, str]:
    """The unit of each label, in the order first met. A column holds one
    quantity: a label whose unit differs between files raises ValueError."""
    units: Dict[str, Tuple[str, str]] = {}
    for described, indexes in zip(descriptions, selections):
        for index in indexes:
            channel = described["channels"][index]
            unit, where = units.setdefault(channel.label, (channel.unit, described["path"]))
            if unit != channel.unit:
                raise ValueError("channel %s is in %r in %s but in %r in %s; a column holds one "
                                 "unit" % (channel.label, unit, where, channel.unit,
                                           described["path"]))
    return {label: unit for label, (unit, _) in units.items()}


def _meta(descriptions: List[Dict[str, Any]], selections: List[List[int]]) -> pandas.DataFrame:
    """The empty frame every partition matches: the path, then each label in
    the order first met; float32 values, uint32 for multichannels, and
    float64 for a multichannel that some files lack (NaN there) or that some
    hold as an ordinary channel."""
    kinds: Dict[str, Set[bool]] = {}
    present: Dict[str, int] = {}
    for described, indexes in zip(descriptions, selections):
        for index in indexes:
            channel = described["channels"][index]
            kinds.setdefault(channel.label, set()).add(channel.is_multichannel)
            present[channel.label] = present.get(channel.label, 0) + 1
    dtypes: Dict[str, Type[np.number[Any]]] = {}
    for label, kind in kinds.items():
        if kind == {False}:
            dtypes[label] = np.float32
        elif kind == {True} and present[label] == len(descriptions):
            dtypes[label] = np.uint32
        else:
            dtypes[label] = np.float64
    columns = {PATH_COLUMN: pandas.Series([], dtype=object)}
    columns.update((label, pandas.Series([], dtype=dtype)) for label, dtype in dtypes.items())
    meta = pandas.DataFrame(columns, index=pandas.Index([], dtype=np.float64, name="time [s]"))
    meta.attrs["units"] = _units(descriptions, selections)
    return meta


def read_recordings(paths_or_glob: PathsOrGlob, channels: Union[None, str, Sequence[str]] = None,
                    align: bool = False,
                    partition_records: int = PARTITION_RECORDS) -> dask.dataframe.DataFrame:
    """The records of many recordings as one ``dask.dataframe``.

    Each recording gives one partition, or one per block of
    `partition_records` records when it has more. A partition holds what
    ``Recording.to_pandas`` gives for its records: index ``time [s]`` from
    the start of its recording, columns named by the channels' labels
    (``p1``, ``ch_0``; float32, uint32 for a multichannel's bit fields),
    and in front a column ``path`` naming the file; ``attrs["units"]`` (of
    the Dask frame and of each partition) gives each column's unit by its
    label. Divisions are unknown, since every recording's times start at 0.

    `channels` selects by label or variable name (``["p1", "T1"]``); None
    takes every channel. The headers are read first, in parallel on the
    current scheduler; the columns come from the first recording. A file
    that cannot be read, or whose selected channels differ from the first
    recording's, raises ValueError naming it and the difference; with
    ``align=True`` the columns are instead the union of all files'
    channels, and a file without one of them has NaN there (a
    multichannel's column then holds its bit fields as float64). A channel
    whose unit differs between files raises ValueError either way: a column
    holds one unit.
    """
    if isinstance(channels, str):
        channels = [channels]
    variables = None if channels is None else list(channels)
    if partition_records < 1:
        raise ValueError("partition_records must be at least 1")
    descriptions = _described(_paths(paths_or_glob))
    unreadable = [described for described in descriptions if described["error"]]
    if unreadable:
        raise ValueError("%d of %d recordings cannot be read, first %s: %s" % (
            len(unreadable), len(descriptions), unreadable[0]["path"], unreadable[0]["error"]))
    selections = []
    first = descriptions[0]
    first_labels = None
    for described in descriptions:
        indexes, lacking = _selected(described, variables)
        labels = [described["channels"][index].label for index in indexes]
        if first_labels is None:
            first_labels = labels
        if not align:
            if lacking:
                raise ValueError("%s has no channel %s" % (described["path"], ", ".join(lacking)))
            if set(labels) != set(first_labels):
                raise ValueError("the channels differ: " + _difference(
                    described["path"], labels, first["path"], first_labels)
                    + "; read_recordings(..., align=True) aligns them")
        selections.append(indexes)
    meta = _meta(descriptions, selections)
    parts: List[_Part] = []
    for described, indexes in zip(descriptions, selections):
        records = described["header"].record_count
        starts = range(0, max(records, 1), partition_records)
        for start in starts:
            last = start == starts[-1]
            parts.append((described["path"], start, None if last else partition_records,
                          tuple(indexes)))
    return dask.dataframe.from_map(_read_part, parts, args=[meta], meta=meta,
                                   enforce_metadata=False, label="read-recordings")
