"""Geometries from XYZ files: an atom count, a comment line, then one atom per line.

Each atom line holds an element symbol (or atomic number) and x, y, z in
ångström; further columns (charges, forces of extended files) are ignored.
Only the first frame of a file is read; anything but blank lines after it is
refused, so a truncated or miscounted file never passes silently.
"""

from __future__ import annotations

import math
import os
import re
import stat
from dataclasses import dataclass
from pathlib import Path

from ._elements import ATOMIC_NUMBERS, canonical_symbol

_SYMBOL_OF = {z: symbol for symbol, z in ATOMIC_NUMBERS.items()}
# A molecule this package can treat has at most a few hundred atoms; a file
# this large is something else (a trajectory, a device), and reading it whole
# would only exhaust memory.
MAX_XYZ_BYTES = 16 << 20
# str.isdigit() also accepts superscripts and other scripts' digits, which int() refuses.
_UNSIGNED = re.compile(r"[0-9]+")


@dataclass(frozen=True)
class XyzGeometry:
    """The atoms of an XYZ file, as ``(symbol, (x, y, z))`` in ångström, and its comment line."""

    geometry: tuple[tuple[str, tuple[float, float, float]], ...]
    comment: str


class XyzFormatError(ValueError):
    """A malformed XYZ file; the message names the file and the line."""


def _element(token: str, fail) -> str:
    if _UNSIGNED.fullmatch(token):
        symbol = _SYMBOL_OF.get(int(token))
        if symbol is None:
            fail(f"no element has atomic number {token}")
        return symbol
    symbol = canonical_symbol(token)
    if symbol is None:
        fail(f"unknown element {token!r}")
    return symbol


def _coordinate(token: str, axis: str, fail) -> float:
    try:
        value = float(token)
    except ValueError:
        fail(f"coordinate {axis} {token!r} is not a number")
    if not math.isfinite(value):
        fail(f"coordinate {axis} {token!r} is not finite")
    return value


def _read_text(path: Path) -> str:
    """The file's text; only a regular file of at most MAX_XYZ_BYTES in UTF-8 is read.

    Opened without blocking, so a FIFO without a writer is refused rather
    than waited for, and a device such as /dev/zero never read.
    """
    handle = os.open(path, os.O_RDONLY | getattr(os, "O_NONBLOCK", 0) | getattr(os, "O_CLOEXEC", 0))
    with os.fdopen(handle, "rb") as stream:
        if not stat.S_ISREG(os.fstat(handle).st_mode):
            raise XyzFormatError(f"{path}: not a regular file")
        data = stream.read(MAX_XYZ_BYTES + 1)
    if len(data) > MAX_XYZ_BYTES:
        raise XyzFormatError(f"{path}: larger than {MAX_XYZ_BYTES >> 20} MiB, too large for a molecule's geometry")
    try:
        return data.decode("utf-8")
    except UnicodeDecodeError as error:
        raise XyzFormatError(f"{path}: not a text file in UTF-8 (byte {error.start} cannot be decoded)") from None


def read_xyz(path) -> XyzGeometry:
    """Read the first frame of the XYZ file at ``path``; XyzFormatError names the faulty line."""
    path = Path(path)
    lines = _read_text(path).splitlines()

    def fail_at(number: int):
        def fail(reason: str):
            raise XyzFormatError(f"{path}, line {number}: {reason}")

        return fail

    def line(number: int, expected: str) -> str:
        if number > len(lines):
            fail_at(number)(f"expected {expected}, found the end of the file")
        return lines[number - 1]

    count_text = line(1, "the number of atoms").strip()
    if not _UNSIGNED.fullmatch(count_text) or int(count_text) < 1:
        fail_at(1)(f"expected the number of atoms (a positive integer), found {count_text!r}")
    count = int(count_text)
    comment = line(2, "a comment line").strip()

    atoms = []
    for index in range(count):
        number = 3 + index
        fail = fail_at(number)
        fields = line(number, f"atom {index + 1} of {count}").split()
        if len(fields) < 4:
            fail(f"expected an element and three coordinates, found {lines[number - 1].strip()!r}")
        symbol = _element(fields[0], fail)
        position = tuple(_coordinate(token, axis, fail) for token, axis in zip(fields[1:4], "xyz"))
        atoms.append((symbol, position))

    for number in range(3 + count, len(lines) + 1):
        if lines[number - 1].strip():
            fail_at(number)(f"unexpected content after the {count} atoms announced on line 1")
    return XyzGeometry(tuple(atoms), comment)
