"""How the stages put files on disk without losing anything.

- A file is written under a fresh, unpredictable temporary name beside its
  final place, created exclusively (``O_CREAT | O_EXCL``: a name that exists,
  a planted symbolic link included, is never opened), then renamed over the
  final name once complete. A reader sees the old content or the new, never
  a part, and nothing is ever written through a link.
- Files are created with mode 0666 and the process's umask applied, like any
  file a program opens for writing.
- Temporary names are :data:`TEMPORARY_PREFIX` and 16 hexadecimal digits. A
  run killed in the middle of a write leaves only such names behind; the
  next run removes them, and nothing else.
- Writers of one working directory take turns: each holds the directory's
  lock (:func:`locked_workdir`) while it checks, writes and cleans up, so two
  runs never mix their files.
"""

from __future__ import annotations

import contextlib
import errno
import os
import re
import secrets
import stat
import sys
import threading
from collections.abc import Callable, Iterator
from pathlib import Path
from typing import IO

try:
    import fcntl
except ImportError:  # no advisory locks on this platform: writers cannot take turns
    fcntl = None

TEMPORARY_PREFIX = ".brimvale-partial-"
LOCK_NAME = ".brimvale.lock"
_TEMPORARY_NAME = re.compile(re.escape(TEMPORARY_PREFIX) + "[0-9a-f]{16}")

_CREATE = os.O_WRONLY | os.O_CREAT | os.O_EXCL | getattr(os, "O_NOFOLLOW", 0) | getattr(os, "O_CLOEXEC", 0)


def check_workdir(workdir: Path) -> None:
    """ValueError unless ``workdir`` is a directory or can be created as one."""
    if workdir.exists() and not workdir.is_dir():
        raise ValueError(f"workdir {str(workdir)!r} exists and is not a directory")
    ancestor = workdir
    while not ancestor.exists() and ancestor != ancestor.parent:
        ancestor = ancestor.parent
    if ancestor.exists() and not ancestor.is_dir():
        raise ValueError(f"workdir {str(workdir)!r} cannot be created: {str(ancestor)!r} is not a directory")


def check_workdir_writable(workdir: Path) -> None:
    """PermissionError when ``workdir``, or the directory it would be created in, is not writable for this user."""
    existing = workdir
    while not os.path.lexists(existing) and existing != existing.parent:
        existing = existing.parent
    if existing.is_dir() and not os.access(existing, os.W_OK | os.X_OK):
        raise PermissionError(f"workdir {str(workdir)!r} cannot be written: {str(existing)!r} is not writable")


# Directories whose lock a thread of this process holds, with how often: a
# stage that takes the lock inside a caller's span of it must not wait for
# itself.
_held: dict[tuple[int, str], int] = {}
_LOCK_MARK = b"brimvale_chemistry working-directory lock\n"


@contextlib.contextmanager
def locked_workdir(workdir: Path) -> Iterator[None]:
    """Hold the lock of ``workdir`` (created if needed) for the block; waits while another run holds it.

    The lock is a file :data:`LOCK_NAME` in the directory, present only while
    it is held (one left by a killed run is taken over and removed). It is
    born with a mark, so a file of that name that a user made is refused
    rather than used and deleted. A thread that holds the lock already
    enters at once.
    """
    workdir.mkdir(parents=True, exist_ok=True)
    key = (threading.get_ident(), os.path.realpath(workdir))
    if key in _held:
        _held[key] += 1
        try:
            yield
        finally:
            _held[key] -= 1
        return
    path = workdir / LOCK_NAME
    while True:
        handle = _open_lock(path, workdir)
        try:
            _lock(handle, workdir)
            # The holder before us removes the file as it leaves; a lock on
            # that removed file guards nothing, so start again on the new one.
            try:
                current = os.stat(path, follow_symlinks=False)
            except FileNotFoundError:
                current = None
            held = os.fstat(handle)
            if current is not None and (current.st_dev, current.st_ino) == (held.st_dev, held.st_ino):
                _held[key] = 1
                try:
                    yield
                finally:
                    del _held[key]
                    with contextlib.suppress(FileNotFoundError):
                        os.unlink(path)
                return
        finally:
            os.close(handle)


def _open_lock(path: Path, workdir: Path) -> int:
    """A descriptor of the lock file at ``path``, made with its mark when absent; refuses any other file."""
    while True:
        try:
            handle = os.open(path, os.O_RDWR | getattr(os, "O_NOFOLLOW", 0) | getattr(os, "O_CLOEXEC", 0))
        except FileNotFoundError:
            handle = _create_marked_lock(path)
            if handle is None:
                continue  # another run made it meanwhile
            return handle
        except OSError as error:
            if error.errno == errno.ELOOP:
                raise FileExistsError(
                    f"{path} is a symbolic link; refusing to use it as the lock of {workdir}"
                ) from None
            raise
        # An empty file is what a run killed between creating and marking the
        # lock left, or an earlier version's; removing it loses nothing.
        if stat.S_ISREG(os.fstat(handle).st_mode) and os.pread(handle, len(_LOCK_MARK) + 1, 0) in (_LOCK_MARK, b""):
            return handle
        os.close(handle)
        raise FileExistsError(
            f"{path} exists and was not written by this package; refusing to use it as the lock of {workdir}"
        )


def _create_marked_lock(path: Path) -> int | None:
    """The lock file, created exclusively with its mark written at once; None when another run made it first.

    A run killed between the two steps leaves an empty file, which the next
    run takes as a lock (see _open_lock). No temporary is involved: a holder
    sweeping leftover temporaries would remove it from under this run.
    """
    try:
        handle = os.open(path, _CREATE, 0o666)
    except FileExistsError:
        return None
    try:
        os.write(handle, _LOCK_MARK)
    except BaseException:
        os.close(handle)
        raise
    return handle


def _lock(handle: int, workdir: Path) -> None:
    if fcntl is None:
        return
    try:
        try:
            fcntl.flock(handle, fcntl.LOCK_EX | fcntl.LOCK_NB)
        except BlockingIOError:
            print(f"waiting for another run to finish writing into {workdir}", file=sys.stderr, flush=True)
            fcntl.flock(handle, fcntl.LOCK_EX)
    except OSError as error:
        # A file system without locks (some network mounts): write unlocked.
        if error.errno not in (errno.ENOLCK, errno.EOPNOTSUPP, errno.ENOSYS):
            raise


def _is_leftover_temporary(entry: os.DirEntry) -> bool:
    # Only names this module draws (the prefix and 16 hexadecimal digits),
    # on a regular file of this user: anything else is left alone.
    if not _TEMPORARY_NAME.fullmatch(entry.name):
        return False
    try:
        info = entry.stat(follow_symlinks=False)
    except FileNotFoundError:
        return False
    return stat.S_ISREG(info.st_mode) and (not hasattr(os, "getuid") or info.st_uid == os.getuid())


def remove_leftover_temporaries(directory: Path) -> None:
    """Delete the temporary files that interrupted runs left in ``directory``; call with the lock held."""
    try:
        entries = list(os.scandir(directory))
    except (FileNotFoundError, NotADirectoryError):
        return
    for entry in entries:
        if _is_leftover_temporary(entry):
            with contextlib.suppress(FileNotFoundError):
                os.unlink(entry.path)


def _create_temporary(directory: Path) -> tuple[int, Path]:
    for _ in range(100):
        path = directory / f"{TEMPORARY_PREFIX}{secrets.token_hex(8)}"
        try:
            return os.open(path, _CREATE, 0o666), path
        except FileExistsError:
            continue
    raise FileExistsError(f"no free temporary name in {directory}")


def write_file(path: Path, write: Callable[[IO], None], *, binary: bool = False) -> None:
    """Create ``path`` with what ``write(stream)`` puts out (UTF-8 text, or bytes when ``binary``).

    The directory entry is replaced as a whole, never written into: the
    caller has checked that it may be. On any failure (a full disk, an
    interruption) the temporary file is removed and ``path`` keeps its old
    content.
    """
    handle, temporary = _create_temporary(path.parent)
    try:
        stream = os.fdopen(handle, "wb") if binary else os.fdopen(handle, "w", encoding="utf-8", newline="\n")
        with stream:
            write(stream)
        os.replace(temporary, path)
    except BaseException:
        with contextlib.suppress(FileNotFoundError):
            os.unlink(temporary)
        raise


def write_text(path: Path, text: str) -> None:
    """:func:`write_file` with a fixed text."""
    write_file(path, lambda stream: stream.write(text))


def write_bytes(path: Path, data: bytes) -> None:
    """:func:`write_file` with fixed bytes."""
    write_file(path, lambda stream: stream.write(data), binary=True)
