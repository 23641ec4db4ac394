"""CNOTs, two-qubit depth, overlap and energy error of the final circuit per demo preset.

For each preset (or those named on the command line) the workflow runs
through the synthesis once, with ``cvd_compact`` and ``cvd_refine``; the last
layer's snapshot is captured, and from it the default and the compact
circuits are rebuilt and scored, so all configurations share one
layer-by-layer fit. The refinement time is the time from the end of the last
layer's snapshot to the end of the synthesis. The energy error is measured
against the exact active-space energy. Pass ``--gradient analytic`` to run
the layers with that gradient (when the synthesis offers it). BLAS threads
default to one (``OPENBLAS_NUM_THREADS`` etc., unless already set): on a
shared machine threaded BLAS inside the optimiser's own steps costs more than
it saves.

    python bench/circuit_quality.py [--gradient analytic] [h2 lih h2o-small h2o]
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import tempfile
import time

for _variable in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_variable, "1")

from brimvale_chemistry import corvinth, workflow  # noqa: E402


def run_preset(key: str, gradient: str | None) -> dict:
    record = workflow._DEMOS[key]
    molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
    snapshot = corvinth._reverse_preparation_snapshot
    captured: dict = {}

    def capturing_snapshot(*args, **kwargs):
        result = snapshot(*args, **kwargs)
        captured["args"] = args
        captured["end"] = time.perf_counter()
        return result

    settings = {"cvd_compact": True, "cvd_refine": True}
    if gradient is not None:
        settings["cvd_gradient"] = gradient
    corvinth._reverse_preparation_snapshot = capturing_snapshot
    try:
        with tempfile.TemporaryDirectory() as workdir, contextlib.redirect_stdout(io.StringIO()):
            result = workflow.MolecularDMRGWorkflow(molecule, workdir=workdir, **settings).run("cvd_dmrg")
            refine_seconds = time.perf_counter() - captured["end"]
    finally:
        corvinth._reverse_preparation_snapshot = snapshot
    exact = result.electronic_structure.exact_energy
    rows = {}
    with contextlib.redirect_stdout(io.StringIO()):
        for label, compact in (("default", False), ("compact", True)):
            circuit, overlap, energy = snapshot(*captured["args"], compact=compact)
            rows[label] = (circuit, overlap, energy)
    rows["compact+refine" + ("+" + gradient if gradient else "")] = (
        result.cvd.circuit,
        result.cvd.overlap_mod,
        result.cvd.energy,
    )
    return {
        "qubits": result.electronic_structure.n_qubits,
        "exact": exact,
        "rows": rows,
        "refine_seconds": refine_seconds,
    }


def main() -> None:
    parser = argparse.ArgumentParser()
    parser.add_argument("--gradient", default=None)
    parser.add_argument("presets", nargs="*")
    options = parser.parse_args()
    print(
        f"{'preset':<10} {'configuration':<34} {'CNOTs':>6} {'2q depth':>8} {'gates':>6} "
        f"{'overlap':>14} {'1 - overlap':>11} {'|dE| (Ha)':>10}"
    )
    # The hydrogen chains after the first four presets need state="mps".
    for key in options.presets or list(workflow._DEMOS)[:4]:
        data = run_preset(key, options.gradient)
        for label, (circuit, overlap, energy) in data["rows"].items():
            cnots = circuit.count_ops().get("cx", 0)
            print(
                f"{key:<10} {label:<34} {cnots:>6} {circuit.depth(two_qubit_only=True):>8} {len(circuit):>6} "
                f"{overlap:>14.10f} {1 - overlap:>11.2e} {abs(energy - data['exact']):>10.2e}"
            )
        print(f"{key:<10} refinement: {data['refine_seconds']:.2f} s", flush=True)


if __name__ == "__main__":
    main()
