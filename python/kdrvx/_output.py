"""Where a new recording is made until it takes the place of its target.

The library writes a recording straight to the path it is given, and a
compact recording's summary file beside it. So that the target keeps its old
bytes (or stays absent) until the new recording is complete, the binding
gives the library a path in a private directory that it makes in the
target's directory, under the target's own name: whatever the library writes
there - the recording, and the summary file named after it - is the output.
Closing flushes every file of it to the disk and renames it over its target
in the same directory, the recording last; a failure or a discarded writer
removes the private directory, and a process killed while writing leaves
only that directory (``.kdrvx-`` and random letters) behind, never a
partial target.

The summary file names the directory the library wrote it to. Before it is
moved, the private directory's path in it (unique, random, Latin-1 like the
rest of the text) is replaced by the target's directory as the caller gave
it, so that it names the final file.
"""

from __future__ import annotations

import errno
import os
import stat
import shutil
import tempfile
from typing import Any, List, Optional, Tuple

from . import _library as lib
from ._interface import KDRVX_ERR_RVX_ALREADY_EXISTS as ERR_RVX_ALREADY_EXISTS
from ._interface import KDRVX_ERR_RVX_CREATE as ERR_RVX_CREATE
from ._interface import KDRVX_ERR_RVX_SHARING_VIOLATION as ERR_RVX_SHARING_VIOLATION

try:
    import fcntl  # POSIX: the library's sharing modes are flock() locks
except ImportError:  # Windows refuses to rename over a file another program holds
    fcntl = None  # type: ignore[assignment]  # checked before each use

PRIVATE_PREFIX = ".kdrvx-"
_WRITE_BITS = stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH
_EXISTS = "file exists; overwrite=True replaces it"


def _flush(path: str) -> None:
    descriptor = os.open(path, os.O_RDWR | getattr(os, "O_BINARY", 0))
    try:
        os.fsync(descriptor)
    finally:
        os.close(descriptor)


def _flush_directory(path: str) -> None:
    if os.name == "nt":
        return  # a directory cannot be opened for flushing there; renames are journalled
    descriptor = os.open(path, os.O_RDONLY)
    try:
        os.fsync(descriptor)
    except OSError:
        pass  # file systems that cannot flush a directory
    finally:
        os.close(descriptor)


def _hold(target: str, overwrite: bool) -> Optional[int]:
    """Refuses a target that must not be replaced; for one that may be,
    returns a descriptor that holds it locked as the library locks a file it
    writes (None when it does not exist or locks are not used), so that no
    other program takes it up before it is replaced."""
    try:
        status = os.lstat(target)
    except FileNotFoundError:
        return None
    if not overwrite:
        raise lib.refusal(ERR_RVX_ALREADY_EXISTS, target, _EXISTS, errno.EEXIST, target)
    why, number = None, None
    if stat.S_ISLNK(status.st_mode):
        why = ("a symbolic link to %s, which is not replaced by a file; give the path it points at"
               % os.path.realpath(target))
    elif stat.S_ISDIR(status.st_mode):
        why, number = "is a directory", errno.EISDIR
    elif not stat.S_ISREG(status.st_mode):
        why = "not a regular file"
    elif not status.st_mode & _WRITE_BITS:
        why, number = "permission denied: the file is read-only", errno.EACCES
    if why is not None:
        raise lib.refusal(ERR_RVX_CREATE, target, why, number, target)
    if fcntl is None:
        return None
    descriptor = os.open(target, os.O_RDONLY)
    try:
        fcntl.flock(descriptor, fcntl.LOCK_EX | fcntl.LOCK_NB)
    except OSError:
        os.close(descriptor)
        raise lib.refusal(ERR_RVX_SHARING_VIOLATION, target, "in use by another program",
                          errno.EACCES, target) from None
    return descriptor


def _take_owner_and_mode(source: str, target: str) -> None:
    """Gives `source` the mode, and where the process may the owner and
    group, of the `target` it replaces."""
    status = os.stat(target)
    if hasattr(os, "chown"):
        try:
            os.chown(source, status.st_uid, status.st_gid)
        except OSError:
            pass  # only the owner's group, or none, may be given by this process
    os.chmod(source, stat.S_IMODE(status.st_mode))


def _move_new(source: str, target: str) -> None:
    """Renames `source` to `target`, which must not exist: a hard link fails
    when another program created the target meanwhile."""
    if os.name == "nt":
        os.rename(source, target)  # refuses an existing target
        return
    try:
        os.link(source, target)
    except FileExistsError:
        raise lib.refusal(ERR_RVX_ALREADY_EXISTS, target, _EXISTS, errno.EEXIST, target) from None
    except OSError:
        if os.path.lexists(target):  # a file system without hard links
            raise lib.refusal(ERR_RVX_ALREADY_EXISTS, target, _EXISTS, errno.EEXIST,
                              target) from None
        os.rename(source, target)
        return
    os.unlink(source)


class Output:
    """A recording in the making: its private directory and its target."""

    def __init__(self, path: str):
        self.directory, name = os.path.split(path)
        """The target's directory as the caller gave it ("" for the working directory)."""
        private = tempfile.mkdtemp(prefix=PRIVATE_PREFIX, dir=self.directory or os.curdir)
        self.private = os.path.join(self.directory, os.path.basename(private))
        """The private directory, in the same form (relative or absolute) as the target."""
        self.library_path = os.path.join(self.private, name)
        """The path given to the library: the target's name in the private directory."""
        self.target = path

    def named(self, created: str) -> None:
        """Takes the path as the library created it (it replaces characters
        that a file name cannot hold)."""
        self.library_path = created
        self.target = os.path.join(self.directory, os.path.basename(created))

    def refuse_target(self, overwrite: bool) -> None:
        """Refuses, before anything is recorded, a target that closing would
        not replace."""
        held = _hold(self.target, overwrite)
        if held is not None:
            os.close(held)

    def commit(self, overwrite: bool) -> None:
        """Flushes the finished output and renames it over its targets, the
        recording last; the private directory goes. On failure the output
        stays in the private directory."""
        recording = os.path.basename(self.library_path)
        names = sorted(os.listdir(self.private), key=lambda name: name == recording)
        held: List[int] = []
        try:
            for name in names:
                source, target = self._paths(name)
                if name != recording:
                    self._name_the_target_directory(source)
                _flush(source)
                descriptor = _hold(target, overwrite)
                if descriptor is not None:
                    held.append(descriptor)
                    _take_owner_and_mode(source, target)
            for name in names:
                source, target = self._paths(name)
                if overwrite:
                    os.replace(source, target)
                else:
                    _move_new(source, target)
        finally:
            for descriptor in held:
                os.close(descriptor)
        _flush_directory(self.directory or os.curdir)
        os.rmdir(self.private)

    def _paths(self, name: str) -> Tuple[str, str]:
        return os.path.join(self.private, name), os.path.join(self.directory, name)

    def discard(self) -> None:
        shutil.rmtree(self.private, ignore_errors=True)

    def _name_the_target_directory(self, path: str) -> None:
        with open(path, "rb") as file:
            text = file.read()
        private = self.private.encode("latin-1")
        if private in text:
            with open(path, "wb") as file:
                file.write(text.replace(private, self.directory.encode("latin-1")))


class PrivateDirectory:
    """A private directory beside `target` for one new file under the
    target's name, which ``commit`` renames over the target (or to it, when
    it must not exist yet); leaving the ``with`` block removes the
    directory and whatever was not committed."""

    def __init__(self, target: str):
        directory, name = os.path.split(target)
        self.directory = directory or os.curdir
        self.target = target
        try:
            self.private = tempfile.mkdtemp(prefix=PRIVATE_PREFIX, dir=self.directory)
        except OSError as failure:
            raise lib.os_refusal(ERR_RVX_CREATE, target, failure, target) from failure
        self.path = os.path.join(self.private, name)
        """The new file's path."""

    def __enter__(self) -> "PrivateDirectory":
        return self

    def __exit__(self, *exc_info: Any) -> None:
        shutil.rmtree(self.private, ignore_errors=True)

    def commit(self, replace: bool) -> None:
        """Flushes the new file and puts it in the target's place: over the
        target, which lends it its owner, group and mode, or with `replace`
        False only where no file is."""
        _flush(self.path)
        if replace:
            descriptor = _hold(self.target, True)
            try:
                _take_owner_and_mode(self.path, self.target)
                os.replace(self.path, self.target)
            finally:
                if descriptor is not None:
                    os.close(descriptor)
        else:
            _move_new(self.path, self.target)
        _flush_directory(self.directory)
