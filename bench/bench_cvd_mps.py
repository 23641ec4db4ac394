"""The synthesis on the state vector against the synthesis on the MPS (state="mps"), side by side in one process.

    PYTHONPATH=python python bench/bench_cvd_mps.py [--presets h2o ...] [--gradient analytic] [--state-cache DIR]

For each preset the DMRG result (its dense psi0 and its MPS) and the
Hamiltonian come from the workflow's own stages, computed once (and kept in
``--state-cache`` between invocations). Then:

* the bond objectives: the time to build every bond's objective from the
  state vector (two SVDs of 2^n amplitudes each) and from the MPS (its local
  form, one small product), and the largest difference of their entropies at
  random gates;
* the synthesis, ``cvd_dmrg`` with the chosen gradient and default settings
  otherwise, on the dense psi0 and on the MPS, and as a control on the dense
  psi0 times a global phase e^{0.3i}: the same state, which the dense path
  decomposes with other rounding.

Per run it prints the wall time, the process's CPU seconds, the final overlap
and energy error, and how the layer lines compare with the dense run's: how
many are identical and the largest difference of overlap and energy. The
control shows how far the dense path's own lines move under rounding alone.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import resource
import time
import warnings

import numpy as np

import preset_cache
from brimvale.mps import _restore
from brimvale_chemistry import corvinth
from brimvale_chemistry.dmrg import DmrgResult
from timing import machine_line, median_time


def preset_state(key: str, cache_dir: str | None):
    """(DmrgResult with psi0 and mps, pauli_terms, exact energy) of a preset, through the workflow's stages."""
    path = os.path.join(cache_dir, f"{key}-mps.npz") if cache_dir else None
    cached = preset_cache.load(path)
    if cached is not None:
        data, terms = cached
        n = int(data["n_qubits"])
        # The canonical form exactly as the DMRG stage returned it.
        state = _restore(
            [data[f"site{k}"] for k in range(n)],
            [data[f"bond{k}"] for k in range(1, n)],
            float(data["norm"]),
            float(data["discarded_weight"]),
        )
        return DmrgResult(psi0=data["psi0"], energy=float(data["energy"]), mps=state), terms, float(data["exact"])
    dmrg, terms, exact = preset_cache.run_to_dmrg(key)
    tensors, schmidt_values, norm, discarded_weight = dmrg.mps.__reduce__()[1]
    sites = {f"site{k}": t for k, t in enumerate(tensors)}
    sites.update({f"bond{k + 1}": v for k, v in enumerate(schmidt_values)})
    preset_cache.save(
        path,
        terms,
        psi0=np.asarray(dmrg.psi0),
        energy=dmrg.energy,
        exact=exact,
        n_qubits=dmrg.mps.n_qubits,
        norm=norm,
        discarded_weight=discarded_weight,
        **sites,
    )
    return dmrg, terms, exact


def bench_objectives(dmrg, n):
    psi = np.asarray(dmrg.psi0, dtype=complex)
    psi = psi / np.linalg.norm(psi)
    dense, _ = median_time(5, lambda: [corvinth._disentangler_objective(psi, n, q0, 1.0) for q0 in range(n - 1)])
    local, _ = median_time(5, lambda: [corvinth._disentangler_objective(dmrg.mps, n, q0, 1.0) for q0 in range(n - 1)])
    rng = np.random.default_rng(7)
    difference = 0.0
    for q0 in range(n - 1):
        a = corvinth._disentangler_objective(psi, n, q0, 1.0)
        b = corvinth._disentangler_objective(dmrg.mps, n, q0, 1.0)
        for _ in range(5):
            x = rng.normal(0.0, 0.5, 9)
            difference = max(difference, abs(a(x) - b(x)))
    print(
        f"bond objectives, all {n - 1} bonds: from the state vector {dense * 1e3:.2f} ms, from the MPS "
        f"{local * 1e3:.2f} ms ({dense / local:.1f}x); largest entropy difference {difference:.1e}"
    )


def numbers(line):
    overlap, energy = line.split("=")[1:]
    return float(overlap.split(",")[0]), float(energy.split()[0])


def timed(source, terms, options):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        cpu_start = resource.getrusage(resource.RUSAGE_SELF)
        start = time.perf_counter()
        result = corvinth.cvd_dmrg(source, pauli_terms=terms, **options)
        seconds = time.perf_counter() - start
        cpu_end = resource.getrusage(resource.RUSAGE_SELF)
    cpu = cpu_end.ru_utime - cpu_start.ru_utime + cpu_end.ru_stime - cpu_start.ru_stime
    return seconds, cpu, out.getvalue().splitlines(), result


def compare(lines, reference):
    metrics = [(numbers(a), numbers(b)) for a, b in zip(lines, reference) if "|=" in a]
    identical = sum(a == b for a, b in zip(lines, reference) if "|=" in a)
    overlap = max(abs(a[0] - b[0]) for a, b in metrics)
    energy = max(abs(a[1] - b[1]) for a, b in metrics)
    return f"{identical}/{len(metrics)}", overlap, energy


def bench_preset(key, cache_dir, gradient):
    dmrg, terms, exact = preset_state(key, cache_dir)
    n = dmrg.mps.n_qubits
    print(f"\n{key}: {n} qubits, MPS bonds {dmrg.mps.bond_dimensions}, gradient={gradient}", flush=True)
    bench_objectives(dmrg, n)
    runs = {
        "dense": (dmrg, {}),
        "mps": (dmrg, {"state": "mps"}),
        "dense, psi0 x e^0.3i": (np.exp(0.3j) * np.asarray(dmrg.psi0), {}),
    }
    print(
        f"{'run':<24}{'seconds':>9}{'cpu s':>8}{'final overlap':>16}{'|E - E_exact|':>15}"
        f"{'lines as dense':>16}{'max |d overlap|':>17}{'max |d E|':>11}"
    )
    reference = None
    for name, (source, options) in runs.items():
        seconds, cpu, lines, result = timed(source, terms, {"gradient": gradient, **options})
        if reference is None:
            reference = lines
        same, d_overlap, d_energy = compare(lines, reference)
        print(
            f"{name:<24}{seconds:>9.2f}{cpu:>8.2f}{result.overlap_mod:>16.12f}{abs(result.energy - exact):>15.3e}"
            f"{same:>16}{d_overlap:>17.1e}{d_energy:>11.1e}",
            flush=True,
        )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--presets", nargs="*", default=["h2o"], help="demo presets")
    parser.add_argument("--gradient", default="analytic", choices=["analytic", "finite-difference"])
    parser.add_argument("--state-cache", help="directory keeping the presets' DMRG results between invocations")
    args = parser.parse_args()
    print(machine_line())
    for key in args.presets:
        bench_preset(key, args.state_cache, args.gradient)


if __name__ == "__main__":
    main()
