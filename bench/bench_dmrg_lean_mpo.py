"""DMRG stage: today's path against sweeps on the lean MPO, side by side in this process.

"before" is the stage as it was: TeNPy builds the model's MPO from the local
terms with its own per-entry assembly, and the sweeps run on that MPO.
"after" is the stage as it is: the same MPO assembled in one pass per tensor,
replaced by its exact equivalent of smallest bond dimension before the sweeps.

For each system the two runs alternate `--repeats` times; the table shows the
median seconds of each step (model and MPO build, compression, random initial
MPS, sweeps, the rest: final energy and dense state), the MPO bond dimensions
before and after, both energies and the overlap of the two dense states.

    python bench/bench_dmrg_lean_mpo.py [--repeats N] [h2o h8 ...]

Systems: the four demo presets and h8, a chain of eight hydrogen atoms 1.0 Å
apart (sto-3g, CAS(8e,8o), 16 qubits). Default: h2o h8.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import statistics
import tempfile
import time

import numpy as np

from brimvale_chemistry import workflow
from brimvale_chemistry.dmrg import driver, mallorek
from brimvale_chemistry.molecule import Molecule, electronic_structure

H8 = {
    "geometry": [("H", (0.0, 0.0, float(k))) for k in range(8)],
    "basis": "sto-3g",
    "active_occupied": 4,
    "active_virtual": 4,
}
STEPS = ("build", "compress", "initial", "sweeps")


def todays_model(n_sites, term_list):
    """The molecular model with only the two hooks: TeNPy builds and assembles the MPO itself."""
    from tenpy.models.lattice import Chain
    from tenpy.models.model import CouplingMPOModel
    from tenpy.networks.site import SpinHalfFermionSite

    class MolecularModel(CouplingMPOModel):
        def init_lattice(self, model_params):
            site = SpinHalfFermionSite(cons_N="N", cons_Sz="Sz")
            return Chain(model_params["n_sites"], site, bc="open", bc_MPS="finite")

        def init_terms(self, model_params):
            for coefficient, term in model_params["term_list"]:
                self.add_local_term(coefficient, term)

    return MolecularModel({"n_sites": n_sites, "term_list": term_list})


@contextlib.contextmanager
def patched(owner, name, replacement):
    original = getattr(owner, name)
    setattr(owner, name, replacement)
    try:
        yield original
    finally:
        setattr(owner, name, original)


def timed(function, seconds, step):
    def run(*args, **kwargs):
        start = time.perf_counter()
        try:
            return function(*args, **kwargs)
        finally:
            seconds[step] = seconds.get(step, 0.0) + time.perf_counter() - start

    return run


def run_stage(es, lean: bool):
    seconds: dict[str, float] = {}
    bonds: dict[str, list[int]] = {}

    def use_lean_mpo(model):
        bonds["term-built"] = list(model.H_MPO.chi)
        if lean:
            original_lean(model)
        bonds["swept"] = list(model.H_MPO.chi)

    with contextlib.ExitStack() as stack:
        build = mallorek._molecular_model if lean else todays_model
        stack.enter_context(patched(mallorek, "_molecular_model", timed(build, seconds, "build")))
        original_lean = stack.enter_context(patched(driver, "_use_lean_mpo", timed(use_lean_mpo, seconds, "compress")))
        stack.enter_context(
            patched(mallorek, "_random_initial_mps", timed(mallorek._random_initial_mps, seconds, "initial"))
        )
        stack.enter_context(patched(driver, "_run_engine", timed(driver._run_engine, seconds, "sweeps")))
        stack.enter_context(patched(driver, "_solve_exactly", timed(driver._solve_exactly, seconds, "sweeps")))
        stack.enter_context(contextlib.redirect_stdout(io.StringIO()))
        start = time.perf_counter()
        result = driver.dmrg(es)
        seconds["total"] = time.perf_counter() - start
    seconds["rest"] = seconds["total"] - sum(seconds.get(step, 0.0) for step in STEPS)
    return result, seconds, bonds


def electronic_structure_of(key: str, workdir: str):
    record = H8 if key == "h8" else {k: v for k, v in workflow._DEMOS[key].items() if k != "desc"}
    with contextlib.redirect_stdout(io.StringIO()):
        return electronic_structure(Molecule(**record), workdir=workdir)


def median_seconds(runs):
    return {step: statistics.median(run[step] for run in runs) for step in (*STEPS, "rest", "total")}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("systems", nargs="*", default=["h2o", "h8"])
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="bench_dmrg_")
    run_stage(electronic_structure_of("h2", workdir), lean=True)  # imports outside the timed runs
    for key in args.systems:
        es = electronic_structure_of(key, workdir)
        runs = {"before": [], "after": []}
        for _ in range(args.repeats):
            for path in ("before", "after"):
                runs[path].append(run_stage(es, lean=path == "after"))
        before, after = (median_seconds([seconds for _, seconds, _ in runs[p]]) for p in ("before", "after"))
        old, new = runs["before"][-1][0], runs["after"][-1][0]
        bonds = runs["after"][-1][2]
        print(
            f"{key}: {es.n_qubits} qubits, {len(es.fermion_terms)} fermionic terms, median of {args.repeats} runs each"
        )
        print(f"  MPO bond dimensions   : term-built {bonds['term-built']}")
        print(f"                          lean       {bonds['swept']}")
        print(f"  {'seconds':<8}" + "".join(f"{step:>10}" for step in (*STEPS, "rest", "total")))
        for label, row in (("before", before), ("after", after)):
            print(f"  {label:<8}" + "".join(f"{row[step]:>10.2f}" for step in (*STEPS, "rest", "total")))
        print(f"  speed-up              : {before['total'] / after['total']:.2f}x (target >= 2x)")
        print(
            f"  energy (Ha)           : before {old.energy:.12f}, after {new.energy:.12f}, "
            f"difference {new.energy - old.energy:+.1e}"
        )
        print(f"  1 - |<before|after>|  : {1 - abs(np.vdot(old.psi0, new.psi0)):.1e}")
        print(
            f"  sweeps, max bond      : before {old.sweeps}, {old.max_bond_dimension}; "
            f"after {new.sweeps}, {new.max_bond_dimension}",
            flush=True,
        )


if __name__ == "__main__":
    main()
