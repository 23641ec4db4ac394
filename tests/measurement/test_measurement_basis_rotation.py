"""Basis-rotation groups: the compiled orbital rotation, and programs that give back the exact energy."""

from __future__ import annotations

import contextlib
import io
import json

import cirq
import numpy as np
import pytest
from cirq.contrib.qasm_import import circuit_from_qasm
from measurement_support import random_circuit

from brimvale import Circuit
from brimvale_chemistry.measurement import active_space_integrals, measurement_QASM
from brimvale_chemistry.measurement.givens import append_gates, givens_network
from brimvale_chemistry.molecule import Molecule, electronic_structure
from brimvale_chemistry.utils import hamiltonian_expectation

MOLECULES = {
    "h2": dict(geometry=[("H", (0, 0, 0)), ("H", (0, 0, 0.7414))], basis="sto-3g", active_occupied=1, active_virtual=1),
    "lih": dict(
        geometry=[("Li", (0, 0, 0)), ("H", (0, 0, 1.5949))], basis="sto-3g", active_occupied=2, active_virtual=2
    ),
}


def _creation_operators(n_qubits: int) -> list[np.ndarray]:
    """Dense a+_q with the Jordan-Wigner string on the qubits below q; qubit 0 the least significant bit."""
    z, raise_ = np.diag([1.0, -1.0]), np.array([[0.0, 0.0], [1.0, 0.0]])
    operators = []
    for q in range(n_qubits):
        matrix = np.eye(1)
        for k in reversed(range(n_qubits)):
            matrix = np.kron(matrix, z if k < q else raise_ if k == q else np.eye(2))
        operators.append(matrix)
    return operators


def _unitary(n_qubits: int, build) -> np.ndarray:
    columns = []
    for basis_state in range(2**n_qubits):
        circuit = Circuit(n_qubits)
        for q in range(n_qubits):
            if basis_state >> q & 1:
                circuit.x(q)
        build(circuit)
        columns.append(circuit.execute().state)
    return np.array(columns).T


@pytest.mark.parametrize("determinant", [1.0, -1.0])
def test_givens_network_is_the_orbital_rotation_on_both_spin_blocks(determinant):
    n = 3
    rng = np.random.default_rng(11)
    rotation, _ = np.linalg.qr(rng.normal(size=(n, n)))
    if np.linalg.det(rotation) * determinant < 0:
        rotation[:, 0] *= -1
    network, realised = givens_network(rotation)
    assert np.allclose(realised, np.diag([1.0] * (n - 1) + [determinant]) @ rotation, atol=1e-13)

    # V† a+_k V = sum_p R[k, p] a+_p on each spin block: b+_k is what a Z measurement after V counts.
    v = _unitary(2 * n, lambda c: append_gates(c, network, n))
    # The simulation's order, one spin block after the other, is the same operator.
    assert np.abs(_unitary(2 * n, lambda c: append_gates(c, network, n, block_by_block=True)) - v).max() < 1e-13
    creation = _creation_operators(2 * n)
    for spin in (0, n):
        for k in range(n):
            expected = sum(realised[k, p] * creation[p + spin] for p in range(n))
            assert np.abs(v.conj().T @ creation[k + spin] @ v - expected).max() < 1e-12


def _cirq_state(program: str, n_qubits: int) -> np.ndarray:
    parsed = circuit_from_qasm(program)
    unitary_part = cirq.Circuit(op for op in parsed.all_operations() if not cirq.is_measurement(op))
    order = [cirq.NamedQubit(f"q_{k}") for k in reversed(range(n_qubits))]
    return cirq.final_state_vector(unitary_part, qubit_order=order, dtype=np.complex128)


def _group_values(group: dict, n_qubits: int) -> np.ndarray:
    """The group's value in every basis state, from its recorded constant and number operators."""
    indices = np.arange(2**n_qubits)
    values = np.full(2**n_qubits, group["constant"])
    for operator in group["number_operators"]:
        occupied = np.ones(2**n_qubits, dtype=bool)
        for q in operator["qubits"]:
            occupied &= (indices >> q & 1).astype(bool)
        values += operator["coefficient"] * occupied
    return values


@pytest.mark.parametrize("key", ["h2", "lih"])
def test_programs_give_the_exact_energy_through_the_recorded_coefficients(key, tmp_path):
    with contextlib.redirect_stdout(io.StringIO()):
        structure = electronic_structure(Molecule(**MOLECULES[key]), workdir=tmp_path)
    n = structure.n_qubits
    # A state with parts outside the molecule's electron number: the grouping must hold on all of them.
    circuit = random_circuit(n, 40, seed=3)
    with contextlib.redirect_stdout(io.StringIO()):
        result = measurement_QASM(
            circuit,
            structure.pauli_terms,
            n,
            seed=8,
            workdir=tmp_path,
            grouping="basis-rotation",
            integrals=active_space_integrals(structure),
            truncation_threshold=0.0,
        )
    summary = json.loads((tmp_path / "measurement_summary.json").read_text())
    exact = hamiltonian_expectation(_cirq_state(circuit.to_qasm(), n), structure.pauli_terms, n).real
    assert abs(summary["exact_energy"] - exact) < 1e-9

    total, recomputed = 0.0, 0.0
    for group in summary["groups"]:
        program = (tmp_path / group["file"]).read_text()
        values = _group_values(group, n)
        total += np.abs(_cirq_state(program, n)) ** 2 @ values
        hits = {int(bits, 2): count for bits, count in group["counts"].items()}
        recomputed += sum(values[o] * c for o, c in hits.items()) / sum(hits.values())
    assert abs(total - exact) < 1e-9
    assert abs(recomputed - summary["energy"]) < 1e-9
    assert abs(result.energy - exact) < 5 * result.standard_error
    assert result.n_groups == len(summary["groups"]) == summary["factorisation"]["kept"] + 1


def test_mps_backend_measures_the_same_groups(tmp_path):
    with contextlib.redirect_stdout(io.StringIO()):
        structure = electronic_structure(Molecule(**MOLECULES["lih"]), workdir=tmp_path)
    circuit = random_circuit(structure.n_qubits, 40, seed=5)
    summaries = {}
    for backend in ("numpy", "mps"):
        workdir = tmp_path / backend
        with contextlib.redirect_stdout(io.StringIO()):
            result = measurement_QASM(
                circuit,
                structure.pauli_terms,
                structure.n_qubits,
                seed=2,
                workdir=workdir,
                backend=backend,
                grouping="basis-rotation",
                integrals=active_space_integrals(structure),
                total_shots=40_000,
            )
        assert abs(result.energy - result.exact_energy) < 5 * result.standard_error
        summaries[backend] = json.loads((workdir / "measurement_summary.json").read_text())
    dense, mps = (summaries[b]["groups"] for b in ("numpy", "mps"))
    assert [g["sha256"] for g in dense] == [g["sha256"] for g in mps]
    assert np.allclose([g["exact_mean"] for g in dense], [g["exact_mean"] for g in mps], atol=1e-9)
    assert abs(sum(g["exact_mean"] for g in mps) - summaries["mps"]["exact_energy"]) < 1e-9
