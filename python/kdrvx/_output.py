"""Where a new file is made until it takes the place of its target.

The library names a staging file beside the target (``KDRVX_GetStagingName``:
``.partial-`` and random letters with the target's extension, shorter where
the target's path is long) and puts the finished file in the target's place
(``KDRVX_PlaceFile``): it flushes it, gives it the owner, group and mode of
the file it replaces (where the process may), keeps hard links, follows
symbolic links and renames it over the target in one step; a compact
recording's RVI file comes with it, made to name the final recording. Until
then the target keeps its old bytes, or stays absent. A failure or a
discarded writer removes the staging files; a process killed while writing
leaves only them behind, never a partial target.
"""

from __future__ import annotations

import ctypes
import errno
import os
from typing import Any, Optional

from . import _library as lib
from ._interface import KDRVX_ERR_RVX_ALREADY_EXISTS as ERR_RVX_ALREADY_EXISTS
from ._interface import KDRVX_PLACE_CREATE as PLACE_CREATE
from ._interface import KDRVX_PLACE_REPLACE as PLACE_REPLACE
from ._interface import KDRVX_PLACE_STEP_REWRITE as PLACE_STEP_REWRITE
from ._interface import KDRVX_PLACE_STEP_TARGET as PLACE_STEP_TARGET
from ._interface import KDRVX_PLACE_SUMMARY as PLACE_SUMMARY

_CAPACITY = 1024
_REPLACES = "overwrite=True replaces it"
_RVI = "its RVI file "
# What to do about an existing target of a live recording, which is made in
# place and so never over another file.
LIVE_REMEDY = "a live recording is made only where no file is: remove it or choose another name"


def summary_file(path: str) -> Optional[str]:
    """The RVI file that creating a compact recording at `path` writes beside it."""
    name = lib.text_buffer(_CAPACITY)
    status = lib.function("KDRVX_GetSummaryFileName")(lib.to_utf16(path), 1, name, _CAPACITY)
    return lib.from_utf16(name) if status == 0 else None


def _staging_name(target: Any, flags: int, path: str) -> str:
    name = lib.text_buffer(_CAPACITY)
    status = lib.function("KDRVX_GetStagingName")(target, flags, name, _CAPACITY)
    if status != 0:
        why = ("the compact layout names the RVI file after the recording's extension .rvx or "
               ".RVX; give a name that ends in it" if status == lib.KDRVX_ERR_RVI_FILE_NAME
               else "no staging name beside it")
        raise lib.refusal(status, path, why)
    return lib.from_utf16(name)


def place(staged: Optional[str], target: str, flags: int, remedy: str = _REPLACES) -> bool:
    """Puts `staged` in the place of `target` through the library, or with
    `staged` None judges the target alone. Raises RvxError with the
    library's words and the system's reason (an existing target's with
    `remedy`, what the caller can do about it); returns whether the
    placement went through (always True), so that callers may mark the
    staged file as gone."""
    placement = lib.KDRVX_Placement(size=ctypes.sizeof(lib.KDRVX_Placement))
    status = lib.function("KDRVX_PlaceFile")(
        None if staged is None else lib.to_utf16(staged), lib.to_utf16(target), flags,
        ctypes.byref(placement))
    if status == 0:
        return True
    text = lib.from_utf16(placement.text)
    about = target
    if text.startswith(_RVI):
        about = summary_file(target) or target
    if status == ERR_RVX_ALREADY_EXISTS:
        what = "file exists" if text in ("exists", _RVI + "exists") else text
        raise lib.refusal(status, about, "%s; %s" % (what, remedy), errno.EEXIST, about)
    code = int(placement.systemError)
    reason = text
    said = placement.step == PLACE_STEP_TARGET and "cannot" not in text
    if code != 0 and not said and status != lib.KDRVX_ERR_RVX_SHARING_VIOLATION:
        reason = "%s: %s" % (text, lib.reason_of(code))
    if placement.step == PLACE_STEP_REWRITE:
        reason = "%s (%s)" % (reason, staged)
    raise lib.refusal(status, about, reason, lib.errno_of(code, about) if code else None,
                      about if code else None)


def _remove(path: Optional[str]) -> None:
    if path is None:
        return
    try:
        os.unlink(path)
    except FileNotFoundError:
        pass


class Output:
    """A recording in the making: its staging name and its target."""

    def __init__(self, path: str, overwrite: bool, summary: bool):
        self.flags = (PLACE_REPLACE if overwrite else 0) | (PLACE_SUMMARY if summary else 0)
        target = lib.to_utf16(path)
        # The library cleans the target as its create cleans a path:
        # characters that a file name cannot hold become '_'.
        self.library_path = _staging_name(target, self.flags | PLACE_CREATE, path)
        """The path given to the library's create: the staging name."""
        self.target = lib.from_utf16(target)
        """The file the recording becomes."""
        self.made = False
        """Whether the library created the staged recording, which is then this one's."""
        place(None, self.target, self.flags)

    def commit(self) -> None:
        """Puts the finished recording (and its RVI file) in place. On
        failure it stays under its staging name."""
        place(self.library_path, self.target, self.flags)
        self.made = False

    def discard(self) -> None:
        if self.made:
            _remove(self.library_path)
            if self.flags & PLACE_SUMMARY:
                _remove(summary_file(self.library_path))
        self.made = False


class LiveOutput:
    """A live recording: made in place at its target, where followers read
    it as it grows, and only where nothing is (the library's live create
    refuses an existing file in the same step as it creates the new one).
    It has nothing to put in place when it is finished."""

    def __init__(self, path: str, summary: bool):
        self.flags = PLACE_SUMMARY if summary else 0
        target = lib.to_utf16(path)
        # Asking for a staging name cleans the target as the create cleans
        # its path, and refuses a compact recording's name that its RVI file
        # cannot be named after; the staging name itself is not used.
        _staging_name(target, self.flags | PLACE_CREATE, path)
        self.target = lib.from_utf16(target)
        """The file the recording is made in."""
        self.library_path = self.target
        """The path given to the library's create: the target itself."""
        self.made = False
        """Whether the library created the recording, which is then this one's."""
        place(None, self.target, self.flags, LIVE_REMEDY)

    def commit(self) -> None:
        self.made = False

    def discard(self) -> None:
        """Removes the recording that the library created, for a create that
        failed before any record was written."""
        if self.made:
            _remove(self.target)
        self.made = False


class Staging:
    """A staging name beside `target` for one new file that the library
    makes (``made`` once it has), which ``commit`` puts in the target's
    place (over it, or with `replace` False only where no file is); leaving
    the ``with`` block removes what was made and not committed."""

    def __init__(self, target: str):
        self.target = target
        self.path = _staging_name(lib.to_utf16(target), 0, target)
        """The new file's path."""
        self.made = False

    def __enter__(self) -> "Staging":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        if self.made:
            _remove(self.path)

    def commit(self, replace: bool) -> None:
        place(self.path, self.target, PLACE_REPLACE if replace else 0)
        self.made = False
