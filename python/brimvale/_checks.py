"""The argument rules the circuit library and the chemistry stages share.

Each rule is written here once; a caller passes the words of its own message,
so that every message keeps the form its callers have always seen.
"""

from __future__ import annotations

import numbers
import reprlib
from collections.abc import Callable, Sequence

__all__ = ["at_least", "choice", "is_integer", "is_real", "strict_integer"]


def is_integer(value) -> bool:
    """An int or a NumPy integer. bool is an int subclass but never a sensible count."""
    return not isinstance(value, bool) and isinstance(value, numbers.Integral)


def is_real(value) -> bool:
    """A real number other than bool."""
    return not isinstance(value, bool) and isinstance(value, numbers.Real)


def _type_name(value) -> str:
    return type(value).__name__


def strict_integer(
    value, name: str, *, error: type[Exception] = TypeError, shown: Callable[[object], str] = _type_name
) -> int:
    """``value`` as an int; otherwise ``error`` "<name> must be an integer, got <shown(value)>"."""
    if not is_integer(value):
        raise error(f"{name} must be an integer, got {shown(value)}")
    return int(value)


def at_least(value, minimum, message: str):
    """``value`` unchanged if it is at least ``minimum``; otherwise ValueError "<message>, got <value>"."""
    if value < minimum:
        raise ValueError(f"{message}, got {value}")
    return value


def choice(value: str, name: str, choices: Sequence[str], accepted: Sequence[str] | None = None) -> str:
    """``value`` if it is one of ``accepted`` (default: ``choices``); otherwise ValueError listing ``choices``.

    ``accepted`` adds other names for some choices that the message need not list.
    """
    if value not in (choices if accepted is None else accepted):
        raise ValueError(f"{name} must be one of: {', '.join(map(repr, choices))}; got {reprlib.repr(value)}")
    return value
