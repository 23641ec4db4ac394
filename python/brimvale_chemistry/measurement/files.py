"""Where the measurement stage writes, and how it writes without losing anything.

Layout under the working directory: ``qasm/group_NNN.qasm`` (one per group,
numbered from 000, names sorted in group order) and ``measurement_summary.json``.
Only those names are ever written. Group files of an earlier run that had more
groups are removed only when the earlier summary lists them and their content
still has the SHA-256 recorded there, i.e. they are untouched output of this
stage; anything else is left alone.
"""

from __future__ import annotations

import hashlib
import json
import os
import re
import tempfile
from pathlib import Path

SUMMARY_NAME = "measurement_summary.json"
QASM_DIR = "qasm"
_GROUP_FILE = re.compile(r"qasm/group_[0-9]{3,}\.qasm")


def group_file_name(index: int, n_groups: int) -> str:
    """``qasm/group_007.qasm``; the width grows past 1000 groups so names still sort in order."""
    width = max(3, len(str(n_groups - 1)))
    return f"{QASM_DIR}/group_{index:0{width}d}.qasm"


def sha256_text(text: str) -> str:
    """Digest of the bytes :func:`write_text` puts on disk for ``text``."""
    return hashlib.sha256(text.encode("utf-8")).hexdigest()


def check_destination(workdir: Path, relative_names: list[str]) -> None:
    """Raise ValueError unless every file can be written under ``workdir``.

    Checked before anything is written: the working directory (or its nearest
    existing ancestor) and the ``qasm`` folder must be directories where they
    exist, and no target name may be taken by a directory.
    """
    if workdir.exists() and not workdir.is_dir():
        raise ValueError(f"workdir {str(workdir)!r} exists and is not a directory")
    ancestor = workdir
    while not ancestor.exists() and ancestor != ancestor.parent:
        ancestor = ancestor.parent
    if ancestor.exists() and not ancestor.is_dir():
        raise ValueError(f"workdir {str(workdir)!r} cannot be created: {str(ancestor)!r} is not a directory")
    qasm_dir = workdir / QASM_DIR
    if qasm_dir.exists() and not qasm_dir.is_dir():
        raise ValueError(f"{str(qasm_dir)!r} exists and is not a directory; the OpenQASM files go there")
    for name in relative_names:
        if (workdir / name).is_dir():
            raise ValueError(f"{str(workdir / name)!r} is a directory; this stage writes a file of that name")


def write_text(path: Path, text: str) -> None:
    """Write ``text`` so that ``path`` holds either its old or its complete new content, never a part."""
    handle, temporary = tempfile.mkstemp(prefix=f".{path.name}.", suffix=".tmp", dir=path.parent)
    try:
        with os.fdopen(handle, "w", encoding="utf-8", newline="\n") as stream:
            stream.write(text)
        os.replace(temporary, path)
    except BaseException:
        Path(temporary).unlink(missing_ok=True)
        raise


def previous_group_files(workdir: Path) -> dict[str, str]:
    """Group file name → SHA-256 as recorded by an earlier run's summary; empty when there is none or it is unreadable."""
    try:
        summary = json.loads((workdir / SUMMARY_NAME).read_text(encoding="utf-8"))
        recorded = {group["file"]: group["sha256"] for group in summary["groups"]}
    except (OSError, ValueError, KeyError, TypeError):
        return {}
    return {name: digest for name, digest in recorded.items()
            if isinstance(name, str) and isinstance(digest, str) and _GROUP_FILE.fullmatch(name)}


def remove_stale_group_files(workdir: Path, previous: dict[str, str], current: set[str]) -> list[str]:
    """Delete earlier group files that this run did not rewrite and that nobody changed since."""
    removed = []
    for name, digest in sorted(previous.items()):
        if name in current:
            continue
        path = workdir / name
        try:
            unchanged = (path.is_file() and not path.is_symlink()
                         and hashlib.sha256(path.read_bytes()).hexdigest() == digest)
        except OSError:
            unchanged = False
        if unchanged:
            path.unlink()
            removed.append(name)
    return removed
