"""Whole archives of recordings with Dask: a catalogue of the files and their
records as one ``dask.dataframe``.

    import kdrvx.dask

    table = kdrvx.dask.catalogue("archive/**/*.rvx")        # pandas, one row per file
    frame = kdrvx.dask.read_recordings("archive/**/*.rvx", channels=["p1", "T1"])
    frame.groupby("path")["p1"].max().compute()

Both run on the current Dask scheduler: a ``dask.distributed`` Client when
one is active, else Dask's default. A task covers many small files or a
block of a large one, so that the scheduler's cost per task is paid per
partition of about ``partition_size`` bytes rather than per file. Every
task opens, reads and closes its own files, and reads each header once, so
a task runs wherever it lands: in a worker process on this machine or
another (each loads its own library; the files must be seen there under the
same paths) or in one of a worker's threads. Importing ``kdrvx`` never
needs Dask; importing this module does.
"""

from __future__ import annotations

import glob
import math
import os
import warnings
from typing import Any, Dict, Iterable, List, NamedTuple, Optional, Sequence, Set, Tuple, Type, \
    Union

import dask
import dask.dataframe
import dask.utils
import numpy as np
from numpy.typing import NDArray
import pandas

import kdrvx
from kdrvx._fields import HEADER_TEXTS

PathsOrGlob = Union[str, "os.PathLike[str]", Iterable[Union[str, "os.PathLike[str]"]]]

# Bytes of recordings one partition of read_recordings covers at most unless
# asked otherwise: large enough that the scheduler's cost per task is small
# against the reading, small enough for a worker's memory.
PARTITION_SIZE = "64MiB"

# A partition smaller than this is not worth a task of its own, even where
# the archive would then cover fewer partitions than there are workers.
_SMALLEST_PARTITION = 1 << 20

# Tasks per worker thread: more than one, so that a worker that finishes
# early (on a busier core) takes over work of the others.
_TASKS_PER_THREAD = 2

# Bytes of records read at a time into a partition: a piece that the
# allocator keeps for the next one, well below the size from which it maps
# fresh memory for each.
_SCRATCH_BYTES = 64 << 10

# The column of read_recordings that names the file a record comes from.
PATH_COLUMN = "path"

# The index of read_recordings unless the path is: a record's time in seconds
# from the start of its recording.
TIME_INDEX = "time [s]"

# Header texts that the catalogue shows, one column each.
_HEADER_TEXTS = tuple(HEADER_TEXTS)


def _is_the_files_fault(failure: Exception) -> bool:
    """A failure that belongs to the file, not to the process reading it: the
    library missing concerns every file alike and stops the computation."""
    return not isinstance(failure, kdrvx.LibraryNotFoundError)


# What opening a file raises when the file is at fault (or the library, which
# _is_the_files_fault tells apart).
_FILE_FAILURES = (kdrvx.RvxError, OSError, ValueError, RuntimeError)


# Which files, and how the work is shared ------------------------------------

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


def _threads() -> int:
    """Threads that run tasks on the current scheduler: those of the active
    distributed Client's workers, else those of Dask's local default."""
    scheduler = dask.config.get("scheduler", None)
    if scheduler in ("sync", "synchronous", "single-threaded"):
        return 1
    if scheduler in (None, "dask.distributed", "distributed"):
        try:
            import distributed
            workers = distributed.default_client().scheduler_info()["workers"]  # kept by the Client
            threads = sum(worker["nthreads"] for worker in workers.values())
            if threads:
                return int(threads)
        except (ImportError, ValueError):  # no distributed, or no Client active
            pass
    return int(dask.config.get("num_workers", None) or os.cpu_count() or 1)


def _size_of(path: str) -> int:
    """Bytes of the file; 0 for one that cannot be seen here, whose task
    then says why it cannot be read."""
    try:
        return os.stat(path).st_size
    except OSError:
        return 0


class _Piece(NamedTuple):
    """What a task reads of one file: block `block` of `blocks` equal shares
    of its records (0 of 1: all of them), about `size` bytes."""
    path: str
    block: int
    blocks: int
    size: int


def _share(paths: List[str], partition_bytes: int, split: bool) -> List[List[_Piece]]:
    """`paths`, in their order, as partitions of about `partition_bytes`:
    neighbouring small files share one, and with `split` a larger file is
    cut into blocks of its own. The sizes come from the file system, so the
    headers are read only where the records are, in the tasks."""
    sizes = [_size_of(path) for path in paths]
    target = max(1, min(partition_bytes,
                        max(_SMALLEST_PARTITION,
                            sum(sizes) // (_TASKS_PER_THREAD * _threads()) + 1)))
    parts: List[List[_Piece]] = []
    current: List[_Piece] = []
    filled = 0
    for path, size in zip(paths, sizes):
        # Records of one path stay in one partition when the path is the index.
        if current and filled + size > target and (split or path != current[-1].path):
            parts.append(current)
            current, filled = [], 0
        blocks = max(1, -(-size // target)) if split else 1
        if blocks > 1:
            parts.extend([_Piece(path, block, blocks, size // blocks)] for block in range(blocks))
            continue
        current.append(_Piece(path, 0, 1, size))
        filled += size
    if current:
        parts.append(current)
    return parts


def _batches(paths: List[str]) -> List[List[str]]:
    """`paths` in as many batches as the scheduler's threads take in two
    rounds: opening a file costs about the same whatever its size."""
    count = min(len(paths), _TASKS_PER_THREAD * _threads())
    per_batch = -(-len(paths) // count)
    return [paths[first:first + per_batch] for first in range(0, len(paths), per_batch)]


# The catalogue ---------------------------------------------------------------

def _catalogued(paths: Sequence[str]) -> pandas.DataFrame:
    """The catalogue's rows of `paths`, each file opened once."""
    rows = []
    for path in paths:
        row: Dict[str, Any] = {
            "path": path, "layout": None, "record_kind": None, "start": None,
            "duration_s": np.nan, "records": None, "scan_interval_us": None,
            "channels": (), "units": ()}
        row.update((text, None) for text in _HEADER_TEXTS)
        row["error"] = None
        try:
            with kdrvx.open(path) as recording:
                header = recording.header
                row.update(layout=header.version, record_kind=recording.record_kind,
                           start=header.start, records=header.record_count,
                           scan_interval_us=header.scan_interval_us,
                           duration_s=header.duration_s,
                           channels=tuple(channel.label for channel in recording.channels),
                           units=tuple(channel.unit for channel in recording.channels))
                row.update((text, getattr(header, text)) for text in _HEADER_TEXTS)
        except _FILE_FAILURES as failure:
            if not _is_the_files_fault(failure):
                raise
            row["error"] = "%s: %s" % (type(failure).__name__, failure)
        rows.append(row)
    table = pandas.DataFrame(rows)
    table["start"] = pandas.to_datetime(table["start"])
    for counted in ("layout", "records", "scan_interval_us"):
        table[counted] = table[counted].astype("Int64")
    return table


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

    The files are shared out in batches, two per thread of the scheduler;
    each task builds its rows, and the table is put together from them.
    """
    paths = _paths(paths_or_glob)
    tasks = [dask.delayed(_catalogued, pure=True)(batch) for batch in _batches(paths)]
    table = pandas.concat(dask.compute(*tasks), ignore_index=True)
    table["start"] = pandas.to_datetime(table["start"])  # a batch of damaged files only
    return table


# The records ---------------------------------------------------------------

class _Columns(NamedTuple):
    """What every partition of read_recordings holds and how it is checked:
    the channels asked for (None: every channel), the labels of the first
    recording and its path (when the channels must match it), the empty
    frame every partition matches, whether the path is the index, and the
    bytes per record of the first recording, from which a partition
    foresees its records, and the dtype of each column by its label."""
    names: Optional[Tuple[str, ...]]
    first_labels: Optional[Tuple[str, ...]]
    first: str
    meta: pandas.DataFrame
    by_path: bool
    bytes_per_record: float
    dtypes: Dict[str, Any]


def _selected(channels: Sequence[kdrvx.Channel],
              names: Optional[Sequence[str]]) -> Tuple[List[int], List[str]]:
    """Indexes of the `channels` that `names` select (every channel for
    None), in the order asked, and the names not among them. A name is a
    label or, failing that, a variable, as ``Recording.read`` takes it."""
    if names is None:
        return [channel.index for channel in channels], []
    by_name: Dict[str, int] = {}
    for channel in channels:
        by_name.setdefault(channel.label, channel.index)
    for channel in channels:
        by_name.setdefault(channel.variable, channel.index)
    return ([by_name[name] for name in names if name in by_name],
            [name for name in names if name not in by_name])


def _difference(path: str, labels: Sequence[str], first: str, first_labels: Sequence[str]) -> str:
    lacking = [label for label in first_labels if label not in labels]
    extra = [label for label in labels if label not in first_labels]
    said = ["lacks " + ", ".join(lacking)] if lacking else []
    said += ["has " + ", ".join(extra)] if extra else []
    return "%s %s, compared with the first recording %s" % (path, " and ".join(said), first)


def _unit_differs(label: str, unit: str, where: str, other: str, path: str) -> ValueError:
    return ValueError("channel %s is in %r in %s but in %r in %s; a column holds one unit"
                      % (label, unit, where, other, path))


# A channel as a column: its label, unit and whether it is a multichannel.
_Described = Tuple[str, str, bool]


def _chosen(recording: kdrvx.Recording, columns: _Columns) -> List[int]:
    """Indexes of the channels of `recording` that give the columns; refuses
    a recording whose channels differ from the first's (unless aligning)
    or whose units differ from the columns'."""
    indexes, lacking = _selected(recording.channels, columns.names)
    if columns.first_labels is not None:
        if lacking:
            raise ValueError("%s has no channel %s" % (recording.path, ", ".join(lacking)))
        labels = [recording.channels[index].label for index in indexes]
        if set(labels) != set(columns.first_labels):
            raise ValueError("the channels differ: " + _difference(
                recording.path, labels, columns.first, columns.first_labels)
                + "; read_recordings(..., align=True) aligns them")
    units = columns.meta.attrs["units"]
    for index in indexes:
        channel = recording.channels[index]
        if units[channel.label] != channel.unit:
            raise _unit_differs(channel.label, units[channel.label], columns.first, channel.unit,
                                recording.path)
        dtype = columns.dtypes[channel.label]
        if dtype != np.float64 and (dtype == np.uint32) != channel.is_multichannel:
            raise ValueError("channel %s is %s multichannel in %s but %s in %s; "
                             "read_recordings(..., align=True) aligns them" % (
                                 channel.label, "not a" if channel.is_multichannel else "a",
                                 columns.first, "one" if channel.is_multichannel else "not",
                                 recording.path))
    return indexes


class _Filling:
    """The columns of one partition as they fill, file after file: the
    float32 columns one after the other in one float32 array (one block of
    the frame, each column contiguous as pandas keeps it, filled straight
    from the records), the others (uint32, float64) apart, and the times.
    They grow when the files hold more records than their sizes promised."""

    def __init__(self, dtypes: Dict[str, Any], labels: List[str], capacity: int, times: bool):
        self.wide = [label for label in labels if dtypes[label] == np.float32]
        self.values = np.empty((len(self.wide), capacity), dtype=np.float32)
        self.apart = {label: np.empty(capacity, dtype=dtypes[label])
                      for label in labels if dtypes[label] != np.float32}
        self.with_times = times
        self.times = np.empty(capacity if times else 0, dtype=np.float64)
        self.rows = 0

    def room(self, rows: int) -> None:
        """Makes room for `rows` more records."""
        needed = self.rows + rows
        if needed <= self.values.shape[1]:
            return
        capacity = max(needed, 2 * self.values.shape[1])

        def grown(array: NDArray[Any]) -> NDArray[Any]:
            bigger = np.empty(array.shape[:-1] + (capacity,), dtype=array.dtype)
            bigger[..., :self.rows] = array[..., :self.rows]
            return bigger
        self.values = grown(self.values)
        self.apart = {label: grown(column) for label, column in self.apart.items()}
        if self.with_times:
            self.times = grown(self.times)

    def add(self, values: NDArray[Any], found: Dict[str, Tuple[int, bool]], start: int,
            interval: float) -> None:
        """Adds the records `values`, whose column `found[label][0]` holds the
        label's values, a multichannel's when `found[label][1]` (a label not
        found: NaN), from record `start` of a recording with scan interval
        `interval` µs."""
        rows = len(values)
        self.room(rows)
        into = slice(self.rows, self.rows + rows)
        # Column by column: a copy of one long run each, where copying the
        # transposed block at once runs an inner loop per record.
        for slot, label in enumerate(self.wide):
            at = found.get(label, (None, False))[0]
            self.values[slot, into] = np.nan if at is None else values[:, at]
        for label, column in self.apart.items():
            at, bits = found.get(label, (None, False))
            if at is None:
                column[into] = np.nan
            else:
                column[into] = values[:, at].view(np.uint32) if bits else values[:, at]
        if self.with_times:
            times = self.times[into]
            times[:] = np.arange(start, start + rows, dtype=np.float64)
            times *= interval
            times /= 1e6
        self.rows += rows


def _window(recording: kdrvx.Recording, piece: _Piece) -> Tuple[int, Optional[int]]:
    """The first record of the piece's block and its records at most (None:
    the last block, to the header's count or as far as the file holds)."""
    count = recording.header.record_count
    start = count * piece.block // piece.blocks
    if piece.block == piece.blocks - 1:
        return start, None
    return start, count * (piece.block + 1) // piece.blocks - start


def _read_part(pieces: List[_Piece], plan: _Columns, wanted: List[str]) -> pandas.DataFrame:
    """The partition of `pieces` with the columns `wanted`: for each file its
    records as ``Recording.to_pandas`` gives them, with the path; every
    header is read here, once."""
    labels = [label for label in wanted if label not in (PATH_COLUMN, TIME_INDEX)]
    capacity = int(sum(piece.size for piece in pieces) / plan.bytes_per_record) + 1
    filling = _Filling(plan.dtypes, labels, capacity, not plan.by_path or TIME_INDEX in wanted)
    lengths = []
    for piece in pieces:
        try:
            recording = kdrvx.open(piece.path)
        except _FILE_FAILURES as failure:
            if not _is_the_files_fault(failure):
                raise
            raise ValueError("recording %s cannot be read: %s: %s"
                             % (piece.path, type(failure).__name__, failure)) from failure
        with recording:
            indexes = _chosen(recording, plan)
            found = {recording.channels[index].label:
                     (column, recording.channels[index].is_multichannel)
                     for column, index in enumerate(indexes)}
            every = indexes == list(range(len(recording.channels)))
            start, count = _window(recording, piece)
            before = filling.rows
            # Read in pieces that stay in the processor's cache and in memory
            # the allocator hands out again, rather than a fresh array per
            # file: a worker of distributed returns large blocks to the
            # system at once, so each would be faulted in anew.
            rows = max(1, _SCRATCH_BYTES // (4 * max(1, len(recording.channels))))
            for values in recording.iter_blocks(rows, start, count, None if every else indexes):
                filling.add(values, found, start + filling.rows - before,
                            recording.header.scan_interval_us)
        lengths.append(filling.rows - before)
    rows = filling.rows
    times = filling.times[:rows]
    if plan.by_path or PATH_COLUMN in wanted:
        paths = np.repeat(np.array([piece.path for piece in pieces], dtype=object), lengths)
    index = pandas.Index(paths, name=PATH_COLUMN) if plan.by_path else \
        pandas.Index(times, name=TIME_INDEX)
    # The float32 columns become the frame's block as they are, without a copy.
    frame = pandas.DataFrame(filling.values[:, :rows].T, index=index, columns=filling.wide,
                             copy=False)
    for label, column in filling.apart.items():
        frame[label] = column[:rows]
    if PATH_COLUMN in wanted and not plan.by_path:
        frame.insert(0, PATH_COLUMN, paths)
    if TIME_INDEX in wanted and plan.by_path:
        frame.insert(0, TIME_INDEX, times)
    if list(frame.columns) != wanted:
        frame = frame[wanted]
    frame.attrs["units"] = {label: unit for label, unit in plan.meta.attrs["units"].items()
                            if label in wanted}
    return frame


class _PartReader:
    """Reads a partition: what from_map calls, with the columns that the
    computation needs. It has what Dask's DataFrameIOFunction asks for, so
    Dask narrows the columns to those used: a sum of two channels neither
    gathers the others nor builds the path column."""

    def __init__(self, plan: _Columns, wanted: Optional[List[str]] = None):
        self.plan = plan
        self.wanted = list(plan.meta.columns) if wanted is None else list(wanted)

    @property
    def columns(self) -> List[str]:
        return self.wanted

    def project_columns(self, columns: Sequence[str]) -> "_PartReader":
        return self if list(columns) == self.wanted else _PartReader(self.plan, list(columns))

    def __call__(self, pieces: List[_Piece]) -> pandas.DataFrame:
        return _read_part(pieces, self.plan, self.wanted)


def _meta(described: List[List[_Described]], by_path: bool) -> pandas.DataFrame:
    """The empty frame every partition matches, from the selected channels of
    the recordings `described`: the path (or the time, when the path is the
    index), then each label in the order first met; float32 values, uint32
    for multichannels, and float64 for a multichannel that some files lack
    (NaN there) or that some hold as an ordinary channel. A label whose
    unit differs between the files raises ValueError."""
    kinds: Dict[str, Set[bool]] = {}
    present: Dict[str, int] = {}
    units: Dict[str, str] = {}
    for channels in described:
        for label, unit, multichannel in channels:
            kinds.setdefault(label, set()).add(multichannel)
            present[label] = present.get(label, 0) + 1
            units.setdefault(label, unit)
    dtypes: Dict[str, Type[np.number[Any]]] = {}
    for label, kind in kinds.items():
        if kind == {False}:
            dtypes[label] = np.float32
        elif kind == {True} and present[label] == len(described):
            dtypes[label] = np.uint32
        else:
            dtypes[label] = np.float64
    if by_path:
        columns = {TIME_INDEX: pandas.Series([], dtype=np.float64)}
        index = pandas.Index([], dtype=object, name=PATH_COLUMN)
    else:
        columns = {PATH_COLUMN: pandas.Series([], dtype=object)}
        index = pandas.Index([], dtype=np.float64, name=TIME_INDEX)
    columns.update((label, pandas.Series([], dtype=dtype)) for label, dtype in dtypes.items())
    meta = pandas.DataFrame(columns, index=index)
    meta.attrs["units"] = units
    return meta


def _channels_of(paths: Sequence[str], names: Optional[Sequence[str]]) -> List[Any]:
    """For each file the selected channels as columns, or why it cannot be
    read: what aligning needs of every file before its records."""
    described: List[Any] = []
    for path in paths:
        try:
            with kdrvx.open(path) as recording:
                indexes, _ = _selected(recording.channels, names)
                described.append([(recording.channels[index].label,
                                   recording.channels[index].unit,
                                   recording.channels[index].is_multichannel)
                                  for index in indexes])
        except _FILE_FAILURES as failure:
            if not _is_the_files_fault(failure):
                raise
            described.append("recording %s cannot be read: %s: %s"
                             % (path, type(failure).__name__, failure))
    return described


def _aligned_channels(paths: List[str], names: Optional[Sequence[str]]) -> List[List[_Described]]:
    """The selected channels of every file, read in parallel; a file that
    cannot be read, or a unit that differs between files, raises ValueError."""
    tasks = [dask.delayed(_channels_of, pure=True)(batch, names) for batch in _batches(paths)]
    described = [one for batch in dask.compute(*tasks) for one in batch]
    units: Dict[str, Tuple[str, str]] = {}
    for path, channels in zip(paths, described):
        if isinstance(channels, str):
            raise ValueError(channels)
        for label, unit, _ in channels:
            known, where = units.setdefault(label, (unit, path))
            if known != unit:
                raise _unit_differs(label, known, where, unit, path)
    return described


def _first_channels(path: str, names: Optional[Sequence[str]],
                    align: bool) -> Tuple[List[_Described], float]:
    """The selected channels of the first recording, which give the columns
    unless aligning, and its bytes per record (file size over the header's
    record count)."""
    try:
        with kdrvx.open(path) as recording:
            indexes, lacking = _selected(recording.channels, names)
            described = [(recording.channels[index].label, recording.channels[index].unit,
                          recording.channels[index].is_multichannel) for index in indexes]
            per_record = _size_of(path) / max(1, recording.header.record_count)
    except _FILE_FAILURES as failure:
        if not _is_the_files_fault(failure):
            raise
        raise ValueError("recording %s cannot be read: %s: %s"
                         % (path, type(failure).__name__, failure)) from failure
    if lacking and not align:
        raise ValueError("%s has no channel %s" % (path, ", ".join(lacking)))
    return described, per_record


def read_recordings(paths_or_glob: PathsOrGlob, channels: Union[None, str, Sequence[str]] = None,
                    align: bool = False, partition_records: Optional[int] = None,
                    partition_size: Union[int, str] = PARTITION_SIZE,
                    index: str = "time") -> dask.dataframe.DataFrame:
    """The records of many recordings as one ``dask.dataframe``.

    A partition covers about `partition_size` bytes of recordings (a
    number, or a text such as ``"64MiB"``): neighbouring small files share
    one, and a larger file is cut into blocks of equal numbers of records.
    An archive smaller than that is shared among at least two partitions
    per thread of the scheduler (partitions of 1 MiB at least), so that
    every worker has work. A partition holds what ``Recording.to_pandas``
    gives for its records: index ``time [s]`` from the start of its
    recording, columns named by the channels' labels (``p1``, ``ch_0``;
    float32, uint32 for a multichannel's bit fields), and in front a
    column ``path`` naming the file; ``attrs["units"]`` (of the Dask frame
    and of each partition) gives each column's unit by its label. The
    divisions are unknown, since every recording's times start at 0.

    With ``index="path"`` the path is the index instead, the time the first
    column, and the files are taken in sorted order: the divisions are
    known, so that selecting files (``frame.loc[path]``, ``frame.loc[a:b]``)
    reads only their partitions. Each file then lies whole in one partition,
    since a division cannot part the records of one path.

    `channels` selects by label or variable name (``["p1", "T1"]``); None
    takes every channel. The columns come from the first recording, whose
    header is read here; every other header is read once, in the task that
    reads its records. When the records are computed, a file that cannot
    be read, or whose selected channels differ from the first recording's,
    raises ValueError naming it and the difference. With ``align=True``
    the columns are instead the union of all files' channels, read first
    in parallel, and a file without one of them has NaN there (a
    multichannel's column then holds its bit fields as float64). A channel
    whose unit differs between files raises ValueError either way: a
    column holds one unit.

    `partition_records`, the size of the blocks in records, is superseded
    by `partition_size`; when given, a partition covers that many records
    of the first recording in bytes.
    """
    if isinstance(channels, str):
        channels = [channels]
    names = None if channels is None else tuple(channels)
    if index not in ("time", "path"):
        raise ValueError("index must be 'time' or 'path', not %r" % (index,))
    by_path = index == "path"
    paths = _paths(paths_or_glob)
    if by_path:
        paths = sorted(paths)
    described, per_record = _first_channels(paths[0], names, align)
    first_labels: Optional[Tuple[str, ...]] = tuple(label for label, _, _ in described)
    if align:
        first_labels = None
        meta = _meta(_aligned_channels(paths, names), by_path)
    else:
        meta = _meta([described], by_path)
    partition_bytes = dask.utils.parse_bytes(partition_size)
    if partition_records is not None:
        if partition_records < 1:
            raise ValueError("partition_records must be at least 1")
        warnings.warn("read_recordings: partition_records is superseded by partition_size",
                      DeprecationWarning, stacklevel=2)
        partition_bytes = max(1, math.ceil(partition_records * per_record))
    if partition_bytes < 1:
        raise ValueError("partition_size must be at least 1 byte")
    parts = _share(paths, partition_bytes, split=not by_path)
    plan = _Columns(names, first_labels, paths[0], meta, by_path, max(4.0, per_record),
                    dict(meta.dtypes.items()))
    divisions = None
    if by_path:
        divisions = tuple(part[0].path for part in parts) + (parts[-1][-1].path,)
    return dask.dataframe.from_map(_PartReader(plan), parts, meta=meta,
                                   divisions=divisions, enforce_metadata=False,
                                   label="read-recordings")
