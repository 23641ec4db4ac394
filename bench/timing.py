"""Timing helpers shared by the benchmarks (run as scripts: `python bench/bench_<name>.py`)."""

import math
import statistics
import time


def best_time(repeats, fn):
    """The fastest of ``repeats`` calls of ``fn`` in seconds, with the last result."""
    best, result = math.inf, None
    for _ in range(repeats):
        start = time.perf_counter()
        result = fn()
        best = min(best, time.perf_counter() - start)
    return best, result


def median_time(repeats, fn):
    """The median of ``repeats`` calls of ``fn`` in seconds, with the last result."""
    times, result = [], None
    for _ in range(repeats):
        start = time.perf_counter()
        result = fn()
        times.append(time.perf_counter() - start)
    return statistics.median(times), result


def report(label, native, reference, target=None):
    """Prints both times and their ratio, measured in this process."""
    print(label)
    print(f"  native      : {native * 1e3:9.3f} ms")
    print(f"  numpy       : {reference * 1e3:9.3f} ms")
    goal = f"  (target >= {target}x)" if target else ""
    print(f"  speed-up    : {reference / native:9.2f}x{goal}")


def machine_line() -> str:
    """The cores this process may use and the BLAS thread setting, printed above side-by-side timings."""
    import os

    threads = os.environ.get("OPENBLAS_NUM_THREADS", "(not set)")
    return f"cores available: {len(os.sched_getaffinity(0))}; OPENBLAS_NUM_THREADS={threads}"
