"""Measurement groupings side by side: circuits, CNOTs and standard errors at equal total shots.

For each preset the workflow runs once up to the circuit synthesis (analytic
gradient; the hydrogen chains with state="mps", --max-bond 64 and four DMRG
sweeps, as the README runs them); the measurement stage then measures that
one circuit with
- qubit-wise groups and basis-rotation groups, equal shots per group;
- both again with the same total spread by weight (total_shots).
Every configuration spends the same total (``--total-shots``, rounded down to
a multiple of the group count for equal shots). Printed per configuration:
groups, CNOTs of the preparation and added per circuit, the standard error,
the deviation of the estimate from the exact energy in standard errors, and
the stage's wall time.

    python bench/bench_measurement_grouping.py [--total-shots N] [--seed S] [presets...]   (default: h2o h10)
"""

from __future__ import annotations

import argparse
import contextlib
import io
import tempfile
import time

from brimvale_chemistry import workflow
from brimvale_chemistry.measurement import active_space_integrals, group_qubitwise_commuting, measurement_QASM
from brimvale_chemistry.measurement.factorisation import double_factorisation

CHAIN_SETTINGS = {"state": "mps", "mps_max_bond": 64, "dmrg_max_sweeps": 4}


def synthesise(key: str):
    record = workflow._DEMOS[key]
    molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
    settings = CHAIN_SETTINGS if key.startswith("h1") else {}
    with tempfile.TemporaryDirectory() as workdir, contextlib.redirect_stdout(io.StringIO()):
        result = workflow.MolecularDMRGWorkflow(molecule, workdir=workdir, cvd_gradient="analytic", **settings).run(
            "cvd_dmrg"
        )
    backend = {"backend": "mps", "max_bond": 64} if settings else {}
    return result.cvd.circuit, result.electronic_structure, backend


def group_count(structure, basis_rotation: bool) -> int:
    if not basis_rotation:
        return len(group_qubitwise_commuting(structure.pauli_terms))
    constant, one_body, two_body, occupations = active_space_integrals(structure)
    return len(double_factorisation(constant, one_body, two_body, occupations=occupations).factors)


def measure(circuit, structure, backend: dict, seed: int, **settings):
    start = time.perf_counter()
    with tempfile.TemporaryDirectory() as workdir, contextlib.redirect_stdout(io.StringIO()):
        result = measurement_QASM(
            circuit, structure.pauli_terms, structure.n_qubits, seed=seed, workdir=workdir, **backend, **settings
        )
    return result, time.perf_counter() - start


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("presets", nargs="*", default=["h2o", "h10"])
    parser.add_argument("--total-shots", type=int, default=1_000_000)
    parser.add_argument("--seed", type=int, default=5)
    options = parser.parse_args()
    total = options.total_shots
    for key in options.presets:
        circuit, structure, backend = synthesise(key)
        cnots = circuit.count_ops().get("cx", 0) + 3 * circuit.count_ops().get("swap", 0)
        print(f"{key}: {structure.n_qubits} qubits, preparation {cnots} CNOTs, {total:,} shots in all")
        print(
            f"  {'grouping':<15} {'shots':<9} {'circuits':>8} {'added CNOTs':>11} {'std. error':>12} "
            f"{'dev/SE':>7} {'time':>8}"
        )
        rotation = {"grouping": "basis-rotation", "integrals": active_space_integrals(structure)}
        for name, grouping in (("qubit-wise", {}), ("basis-rotation", rotation)):
            n_groups = group_count(structure, bool(grouping))
            for shots in ("equal", "weighted"):
                settings = {"shots": total // n_groups} if shots == "equal" else {"total_shots": total}
                result, seconds = measure(circuit, structure, backend, options.seed, **grouping, **settings)
                added = max((4 * len(g.network) for g in result.groups), default=0) if grouping else 0
                deviation = (result.energy - result.exact_energy) / result.standard_error
                print(
                    f"  {name:<15} {shots:<9} {result.n_groups:>8} {added:>11} {result.standard_error:>12.6f} "
                    f"{deviation:>+7.2f} {seconds:>7.1f}s"
                )


if __name__ == "__main__":
    main()
