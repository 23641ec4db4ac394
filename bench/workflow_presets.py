"""Wall time of each pipeline stage for the demo presets, with the quality of the final circuit.

Runs every preset (or those named on the command line) with the default
settings in a temporary directory and prints one row per preset: seconds per
stage, the final overlap with the DMRG state, the circuit energy against the
active-space exact energy, and the two-qubit gate count of the final circuit.
The stages' own progress output is suppressed.

    python bench/workflow_presets.py [h2 lih h2o-small h2o]
"""

from __future__ import annotations

import contextlib
import io
import sys
import tempfile
import time

from brimvale_chemistry import workflow


def timed(stage_function, seconds: dict, name: str):
    def run(*args, **kwargs):
        start = time.perf_counter()
        try:
            return stage_function(*args, **kwargs)
        finally:
            seconds[name] = time.perf_counter() - start

    return run


def run_preset(key: str) -> dict:
    record = workflow._DEMOS[key]
    molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
    seconds: dict[str, float] = {}
    originals = {name: getattr(workflow, name) for name in workflow.WORKFLOW_STAGES}
    for name, function in originals.items():
        setattr(workflow, name, timed(function, seconds, name))
    try:
        with tempfile.TemporaryDirectory() as workdir, contextlib.redirect_stdout(io.StringIO()):
            result = workflow.MolecularDMRGWorkflow(molecule, workdir=workdir).run()
    finally:
        for name, function in originals.items():
            setattr(workflow, name, function)
    two_qubit = sum(1 for op in result.cvd.circuit if len(op.qubits) == 2)
    return {
        "seconds": seconds,
        "overlap": result.cvd.overlap_mod,
        "energy": result.cvd.energy,
        "exact": result.electronic_structure.exact_energy,
        "two_qubit_gates": two_qubit,
        "qubits": result.electronic_structure.n_qubits,
    }


def main(keys: list[str]) -> None:
    stages = workflow.WORKFLOW_STAGES
    print(
        f"{'preset':<10} {'qubits':>6} "
        + " ".join(f"{s:>20}" for s in stages)
        + f" {'overlap':>14} {'E circuit':>16} {'E exact':>16} {'|dE|':>10} {'2q gates':>8}"
    )
    for key in keys:
        row = run_preset(key)
        times = " ".join(f"{row['seconds'][s]:>19.2f}s" for s in stages)
        print(
            f"{key:<10} {row['qubits']:>6} {times} {row['overlap']:>14.10f} {row['energy']:>16.10f} "
            f"{row['exact']:>16.10f} {abs(row['energy'] - row['exact']):>10.2e} {row['two_qubit_gates']:>8}",
            flush=True,
        )


if __name__ == "__main__":
    # The hydrogen chains after the first four presets need state="mps" (see bench_mps_presets.py).
    main(sys.argv[1:] or list(workflow._DEMOS)[:4])
