"""Progress bars on standard error, for a person watching a terminal.

Nothing is shown when standard error is not a terminal (a log file, a pipe,
a test), and standard output is never touched: a bar clears itself when it
closes, before the stage prints its next line.
"""

from __future__ import annotations

import sys


def progress_bar(total: int | None, description: str, unit: str):
    """A tqdm bar on standard error when it is a terminal; None otherwise."""
    stream = sys.stderr
    try:
        interactive = stream is not None and stream.isatty()
    except (AttributeError, ValueError):  # replaced or closed streams
        interactive = False
    if not interactive:
        return None
    from tqdm import tqdm

    return tqdm(total=total, desc=description, unit=unit, leave=False, file=stream, dynamic_ncols=True)
