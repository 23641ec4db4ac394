"""Where the measurement stage writes, and how it writes without losing anything.

Layout under the working directory: ``qasm/group_NNN.qasm`` (one per group,
numbered from 000, names sorted in group order) and ``measurement_summary.json``.
Only those names are ever written, and only over files this stage wrote
itself: a summary is the stage's own when it carries :data:`SUMMARY_FORMAT`;
a group file when a record of the stage (that summary, or the journal of an
interrupted write) lists it with the SHA-256 its content still has. Any
other file of those names, or a symbolic link, makes the stage refuse.

The summary always describes exactly the group files present, or is absent:
a write first records what it is about to do in a journal, then removes the
old summary, replaces the group files, removes its own stale ones, writes the
new summary last and drops the journal. A run interrupted anywhere leaves at
most a journal that the next run reads (and temporary files it removes).
"""

from __future__ import annotations

import hashlib
import json
import os
import re
from collections.abc import Mapping
from pathlib import Path

from .. import _output

SUMMARY_NAME = "measurement_summary.json"
SUMMARY_FORMAT = "brimvale_chemistry.measurement/1"
QASM_DIR = "qasm"
JOURNAL_NAME = ".brimvale-measurement-journal.json"
_JOURNAL_FORMAT = "brimvale_chemistry.measurement.journal/1"
_GROUP_FILE = re.compile(r"qasm/group_[0-9]{3,}\.qasm")


def group_file_name(index: int, n_groups: int) -> str:
    """``qasm/group_007.qasm``; the width grows past 1000 groups so names still sort in order."""
    width = max(3, len(str(n_groups - 1)))
    return f"{QASM_DIR}/group_{index:0{width}d}.qasm"


def sha256_text(text: str) -> str:
    """Digest of the bytes :func:`write_outputs` puts on disk for ``text``."""
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def _refuse(path: Path) -> None:
    raise FileExistsError(f"{path} exists and was not written by this stage; refusing to overwrite it")


def _own_record(path: Path, marker: str) -> dict | None:
    """The JSON object at ``path`` when it is a regular file carrying ``marker`` as its format; None when absent.

    Raises FileExistsError for anything else standing at ``path``.
    """
    if not os.path.lexists(path):
        return None
    try:
        record = json.loads(path.read_text(encoding="utf-8")) if path.is_file() and not path.is_symlink() else None
    except (OSError, ValueError):
        record = None
    if not isinstance(record, dict) or record.get("format") != marker:
        _refuse(path)
    return record


def _recorded_group_files(workdir: Path) -> dict[str, set[str]]:
    """Group file name → the SHA-256 digests this stage recorded for it (summary and journal)."""
    recorded: dict[str, set[str]] = {}

    def add(name, digest):
        if isinstance(name, str) and isinstance(digest, str) and _GROUP_FILE.fullmatch(name):
            recorded.setdefault(name, set()).add(digest)

    summary = _own_record(workdir / SUMMARY_NAME, SUMMARY_FORMAT)
    groups = summary.get("groups") if summary else None
    for group in groups if isinstance(groups, list) else []:
        if isinstance(group, dict):
            add(group.get("file"), group.get("sha256"))
    journal = _own_record(workdir / JOURNAL_NAME, _JOURNAL_FORMAT)
    entries = journal.get("files") if journal else None
    for name, digests in entries.items() if isinstance(entries, dict) else []:
        for digest in digests if isinstance(digests, list) else []:
            add(name, digest)
    return recorded


def _digest(path: Path) -> str | None:
    """SHA-256 of a regular file's content; None for anything else (a link, a directory, a missing file)."""
    try:
        if path.is_symlink() or not path.is_file():
            return None
        return hashlib.sha256(path.read_bytes()).hexdigest()
    except OSError:
        return None


def _check_layout(workdir: Path, relative_names: list[str]) -> None:
    _output.check_workdir(workdir)
    qasm_dir = workdir / QASM_DIR
    if qasm_dir.is_symlink():
        raise FileExistsError(
            f"{qasm_dir} is a symbolic link; the OpenQASM files are only written into a directory of that name"
        )
    if qasm_dir.exists() and not qasm_dir.is_dir():
        raise ValueError(f"{str(qasm_dir)!r} exists and is not a directory; the OpenQASM files go there")
    for name in relative_names:
        path = workdir / name
        if path.is_dir() and not path.is_symlink():
            raise ValueError(f"{str(path)!r} is a directory; this stage writes a file of that name")


def _check_ownership(workdir: Path, relative_names: list[str]) -> dict[str, set[str]]:
    """The stage's records of its group files, after checking that every existing target is its own."""
    recorded = _recorded_group_files(workdir)
    for name in relative_names:
        path = workdir / name
        if name != SUMMARY_NAME and os.path.lexists(path) and _digest(path) not in recorded.get(name, set()):
            _refuse(path)
    return recorded


def check_destination(workdir: Path, relative_names: list[str]) -> None:
    """Raise unless every file can be written under ``workdir`` over nothing but this stage's own files.

    Checked before anything is executed or written (and again right before
    writing): the working directory (or its nearest existing ancestor) and the
    ``qasm`` folder must be directories where they exist and no target name
    may be taken by a directory (ValueError); an existing file of a target
    name must be this stage's own, and ``qasm`` no symbolic link
    (FileExistsError). Nothing is created.
    """
    _check_layout(workdir, relative_names)
    if workdir.is_dir():
        # Judged while no other run is halfway through its writes.
        with _output.locked_workdir(workdir):
            _check_ownership(workdir, relative_names)


def _write_summary(stream, summary: dict) -> None:
    # Streamed: the counts of thousands of groups would make one text of gigabytes.
    json.dump(summary, stream, indent=2)
    stream.write("\n")


def write_outputs(workdir: Path, programs: Mapping[str, str], summary: dict) -> None:
    """Write the group files and the summary under the directory's lock, in the order that keeps them consistent."""
    with _output.locked_workdir(workdir):
        qasm_dir = workdir / QASM_DIR
        for directory in (workdir, qasm_dir):
            if not directory.is_symlink():
                _output.remove_leftover_temporaries(directory)
        _check_layout(workdir, list(programs) + [SUMMARY_NAME])
        previous = _check_ownership(workdir, list(programs) + [SUMMARY_NAME])
        # Every name this write may leave behind, with every content it may
        # have, so that a run interrupted from here on is still recognised.
        pending = {name: set(digests) for name, digests in previous.items()}
        for name, program in programs.items():
            pending.setdefault(name, set()).add(sha256_text(program))
        journal = {"format": _JOURNAL_FORMAT, "files": {name: sorted(d) for name, d in sorted(pending.items())}}
        _output.write_text(workdir / JOURNAL_NAME, json.dumps(journal, indent=2) + "\n")
        summary_path = workdir / SUMMARY_NAME
        if os.path.lexists(summary_path):
            summary_path.unlink()
        qasm_dir.mkdir(exist_ok=True)
        for name, program in programs.items():
            _output.write_text(workdir / name, program)
        for name, digests in sorted(previous.items()):
            path = workdir / name
            if name not in programs and _digest(path) in digests:
                path.unlink()
        _output.write_file(summary_path, lambda stream: _write_summary(stream, summary))
        (workdir / JOURNAL_NAME).unlink()
