"""Speed of the circuit synthesis on the demo presets' DMRG states, side by side in one process.

    PYTHONPATH=python python bench/bench_cvd_synthesis.py [--presets h2o lih ...] [--state-cache DIR]

For each preset the DMRG state and Hamiltonian are computed once through the
workflow's own stages (electronic structure, DMRG), then the synthesis stage
runs on them with default settings in several ways:

* today: the serial run on the plain objective, SciPy forming its own
  finite differences (``corvinth._cvd_dmrg_reference``);
* finite-difference with 1 and with 2 threads: the default gradient, value
  and differences in one native call, on 1 and 2 worker threads;
* analytic: ``gradient="analytic"`` on 2 threads.

The three finite-difference runs must print identical lines; the script says
so and fails otherwise. Per run it prints the wall time, the speed-up over
today, optimiser iterations, objective evaluations (each call of the
objective; a single-call difference gradient counts ten), evaluations per
iteration, microseconds of synthesis per evaluation, the final overlap and the
energy error against the active space's exact energy. The process's CPU
seconds are listed beside the wall time: on a busy machine they show what the
run itself cost.

BLAS threads are left as the environment sets them, as in a default run.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import resource
import threading
import time
import warnings

import numpy as np

import preset_cache
from brimvale_chemistry import corvinth
from timing import machine_line


class CountingMinimize:
    """Stands in for the optimiser to count its calls' evaluations and iterations."""

    def __init__(self, minimize):
        self.minimize = minimize
        self.lock = threading.Lock()
        self.calls = 0
        self.iterations = 0

    def __call__(self, *args, **kwargs):
        result = self.minimize(*args, **kwargs)
        with self.lock:
            self.calls += int(result.nfev)
            self.iterations += int(result.nit)
        return result


def preset_state(key: str, cache_dir: str | None):
    """(psi0, pauli_terms, exact energy) of a preset, through the workflow's stages."""
    path = os.path.join(cache_dir, f"{key}.npz") if cache_dir else None
    cached = preset_cache.load(path)
    if cached is not None:
        arrays, terms = cached
        return arrays["psi0"], terms, float(arrays["exact"])
    dmrg, terms, exact = preset_cache.run_to_dmrg(key)
    psi0 = np.asarray(dmrg.psi0)
    preset_cache.save(path, terms, psi0=psi0, exact=exact)
    return psi0, terms, exact


RUNS = {
    "today": (corvinth._cvd_dmrg_reference, {}, None),
    "finite-difference, 1 thread": (corvinth.cvd_dmrg, {"threads": 1}, 10),
    "finite-difference, 2 threads": (corvinth.cvd_dmrg, {"threads": 2}, 10),
    "analytic, 2 threads": (corvinth.cvd_dmrg, {"threads": 2, "gradient": "analytic"}, 1),
}


def timed_run(name, psi0, terms):
    function, options, evaluations_per_call = RUNS[name]
    counter = CountingMinimize(corvinth.minimize)
    corvinth.minimize = counter
    out = io.StringIO()
    try:
        with contextlib.redirect_stdout(out), warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)
            cpu_start = resource.getrusage(resource.RUSAGE_SELF)
            start = time.perf_counter()
            result = function(psi0, pauli_terms=terms, **options)
            seconds = time.perf_counter() - start
            cpu_end = resource.getrusage(resource.RUSAGE_SELF)
    finally:
        corvinth.minimize = counter.minimize
    # SciPy's count covers its own differences; a single call stands for ten (or one) evaluations.
    # Each bond also scores the identity once.
    n = int(round(np.log2(len(psi0))))
    evaluations = counter.calls * (evaluations_per_call or 1) + result.circuit_layers * (n - 1)
    cpu = cpu_end.ru_utime - cpu_start.ru_utime + cpu_end.ru_stime - cpu_start.ru_stime
    return {
        "seconds": seconds,
        "cpu": cpu,
        "lines": out.getvalue(),
        "result": result,
        "iterations": counter.iterations,
        "evaluations": evaluations,
    }


def bench_preset(key, cache_dir, runs):
    psi0, terms, exact = preset_state(key, cache_dir)
    n = int(round(np.log2(len(psi0))))
    print(f"\n{key}: {n} qubits, default settings", flush=True)
    print(
        f"{'run':<30}{'seconds':>9}{'cpu s':>8}{'speed-up':>9}{'iterations':>11}{'evaluations':>12}{'evals/it':>9}"
        f"{'us/eval':>9}{'final overlap':>16}{'|E - E_exact|':>15}"
    )
    rows = {}
    for name in runs:
        row = rows[name] = timed_run(name, psi0, terms)
        speedup = rows["today"]["seconds"] / row["seconds"] if "today" in rows else float("nan")
        print(
            f"{name:<30}{row['seconds']:>9.2f}{row['cpu']:>8.2f}{speedup:>8.2f}x{row['iterations']:>11}{row['evaluations']:>12}"
            f"{row['evaluations'] / max(row['iterations'], 1):>9.2f}{row['seconds'] / row['evaluations'] * 1e6:>9.1f}"
            f"{row['result'].overlap_mod:>16.12f}{abs(row['result'].energy - exact):>15.3e}",
            flush=True,
        )
    same = [rows[name]["lines"] == rows["today"]["lines"] for name in rows if name.startswith("finite")]
    if "today" in rows and same:
        print(f"finite-difference lines identical to today's: {'yes' if all(same) else 'NO'}")
        if not all(same):
            raise SystemExit("finite-difference runs printed other lines than today's")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--presets", nargs="*", default=["h2", "lih", "h2o-small", "h2o"], help="demo presets")
    parser.add_argument("--runs", nargs="*", default=list(RUNS), choices=list(RUNS), help="runs, today first")
    parser.add_argument("--state-cache", help="directory keeping the presets' DMRG states between invocations")
    args = parser.parse_args()
    print(machine_line())
    for key in args.presets:
        bench_preset(key, args.state_cache, args.runs)


if __name__ == "__main__":
    main()
