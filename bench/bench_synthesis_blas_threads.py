"""The default synthesis of a preset's DMRG state with every thread setting and BLAS environment.

    PYTHONPATH=python python bench/bench_synthesis_blas_threads.py [--preset h2o] [--state-cache DIR]

Each run is a child process, so that OPENBLAS_NUM_THREADS takes effect: the
synthesis with default settings (``cvd_dmrg(psi0, pauli_terms=...)``) for
``threads`` 1, 2 and None, with OPENBLAS_NUM_THREADS unset, 1 and 2. Per run
it prints the wall time and the last layer line; at the end, whether every
run printed the same lines.
"""

from __future__ import annotations

import argparse
import os
import subprocess
import sys
import tempfile
import time

from timing import machine_line

CHILD = """
import contextlib, io, sys, time
sys.path.insert(0, {bench!r})
import preset_cache
from brimvale_chemistry import corvinth
cached = preset_cache.load({path!r})
if cached is None:
    dmrg, terms, exact = preset_cache.run_to_dmrg({preset!r})
    preset_cache.save({path!r}, terms, psi0=dmrg.psi0, exact=exact)
    psi0 = dmrg.psi0
else:
    arrays, terms = cached
    psi0 = arrays["psi0"]
out = io.StringIO()
start = time.perf_counter()
with contextlib.redirect_stdout(out):
    corvinth.cvd_dmrg(psi0, pauli_terms=terms, threads={threads})
print(f"{{time.perf_counter() - start:.1f}}")
print(out.getvalue(), end="")
"""


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--preset", default="h2o")
    parser.add_argument("--state-cache", default=os.path.join(tempfile.gettempdir(), "brimvale-bench-cache"))
    args = parser.parse_args()
    path = os.path.join(args.state_cache, f"{args.preset}_dmrg.npz")
    bench = os.path.dirname(os.path.abspath(__file__))
    print(machine_line())
    outputs = set()
    for blas in (None, "1", "2"):
        for threads in ("None", "1", "2"):
            env = dict(os.environ)
            env.pop("OPENBLAS_NUM_THREADS", None)
            if blas is not None:
                env["OPENBLAS_NUM_THREADS"] = blas
            code = CHILD.format(bench=bench, path=path, preset=args.preset, threads=threads)
            start = time.perf_counter()
            child = subprocess.run([sys.executable, "-c", code], env=env, capture_output=True, text=True, check=True)
            seconds, lines = child.stdout.split("\n", 1)
            outputs.add(lines)
            last = lines.strip().splitlines()[-1].strip()
            print(
                f"OPENBLAS_NUM_THREADS={blas or '(unset)':8} threads={threads:4} "
                f"synthesis {float(seconds):6.1f} s (process {time.perf_counter() - start:6.1f} s)  {last}",
                flush=True,
            )
    print("every run printed the same lines" if len(outputs) == 1 else f"{len(outputs)} different outputs")


if __name__ == "__main__":
    main()
