"""Reverse preparation after a layer: circuit, overlap and energy."""

import math

import numpy as np
import pytest
from corvinth_reference import random_state, rng  # noqa: F401 (fixture)

import brimvale
from brimvale_chemistry import corvinth
from brimvale_chemistry.utils import PauliTerm, hamiltonian_expectation


def random_row(rng, q0, q1):
    return [float(q0), float(q1), *rng.normal(size=9)]


def disentangle(psi, rows, n_qubits):
    for row in rows:
        psi = corvinth._apply_two_qubit_unitary(
            psi, corvinth._entangler_matrix(row[2:]), int(row[0]), int(row[1]), n_qubits
        )
    return psi


def undo(psi, rows, n_qubits):
    for row in reversed(rows):
        adjoint = corvinth._entangler_matrix(row[2:]).conj().T
        psi = corvinth._apply_two_qubit_unitary(psi, adjoint, int(row[0]), int(row[1]), n_qubits)
    return psi


HAMILTONIAN = [
    PauliTerm(-0.8, ()),
    PauliTerm.from_string(0.3, "Z0"),
    PauliTerm.from_string(-0.45, "Z1 Z2"),
    PauliTerm.from_string(0.2, "X0 X1"),
    PauliTerm.from_string(0.15, "Y1 Y2"),
]


class TestSnapshot:
    def test_empty_rows_prepare_the_rank_one_approximation(self, rng):
        psi = random_state(rng, 3)
        circuit, overlap, energy = corvinth._reverse_preparation_snapshot(psi, psi, 3, [], None)
        assert isinstance(circuit, brimvale.Circuit) and circuit.name == "DMRG reverse preparation"
        assert circuit.num_qubits == 3 and energy is None
        assert {op.name for op in circuit} <= {"rz", "ry"}
        _, product = corvinth._product_state_approximation(psi, 3)
        assert type(overlap) is float
        assert math.isclose(overlap, abs(np.vdot(psi, product)), rel_tol=1e-12)
        assert 0.0 < overlap < 1.0

    def test_rows_that_disentangle_to_a_product_state_give_overlap_one(self, rng):
        n = 4
        product = np.ones(1, dtype=complex)
        for _ in range(n):
            f = rng.normal(size=2) + 1j * rng.normal(size=2)
            product = np.kron(product, f / np.linalg.norm(f))
        rows = [random_row(rng, 0, 1), random_row(rng, 2, 3), random_row(rng, 1, 2)]
        psi0 = undo(product, rows, n)
        disentangled = disentangle(psi0, rows, n)
        np.testing.assert_allclose(disentangled, product, atol=1e-12)
        circuit, overlap, energy = corvinth._reverse_preparation_snapshot(
            psi0, disentangled, n, np.array(rows).ravel(), HAMILTONIAN
        )
        assert overlap == pytest.approx(1.0, abs=1e-12) and overlap <= 1.0
        state = circuit.execute().state
        assert energy == pytest.approx(hamiltonian_expectation(psi0, HAMILTONIAN, n).real, abs=1e-10)
        assert energy == pytest.approx(hamiltonian_expectation(state, HAMILTONIAN, n).real, abs=1e-14)

    def test_rows_are_undone_newest_first(self, rng):
        psi = random_state(rng, 3)
        row_a, row_b = random_row(rng, 0, 1), random_row(rng, 1, 2)
        circuit, _, _ = corvinth._reverse_preparation_snapshot(psi, psi, 3, row_a + row_b, None)
        two_qubit = [op.qubits for op in circuit if op.name == "cx"]
        assert two_qubit == [(1, 2)] * 6 + [(0, 1)] * 6

    def test_circuit_gates_in_order(self, rng):
        psi = random_state(rng, 2)
        rows = [random_row(rng, 0, 1)]
        circuit, _, _ = corvinth._reverse_preparation_snapshot(psi, psi, 2, rows, None)
        expected = brimvale.Circuit(2)
        factors, _ = corvinth._product_state_approximation(psi, 2)
        for q, f in enumerate(factors):
            corvinth._axis_rotation(expected, q, corvinth._product_factor_rotation(f))
        corvinth._append_entangler(expected, 0, 1, rows[0][2:], inverse=True)
        assert list(circuit) == list(expected)

    def test_float_qubit_columns(self, rng):
        psi = random_state(rng, 4)
        circuit, _, _ = corvinth._reverse_preparation_snapshot(psi, psi, 4, [random_row(rng, 3.0, 2.0)], None)
        assert {op.qubits for op in circuit if op.name == "cx"} == {(3, 2)}

    def test_overlap_is_clipped_to_one(self, rng, monkeypatch):
        class InflatingCircuit(brimvale.Circuit):
            def execute(self, **options):
                result = super().execute(**options)
                return type(result)(state=result.state * (1 + 1e-9), backend=result.backend, dtype=result.dtype)

        monkeypatch.setattr(corvinth, "Circuit", InflatingCircuit)
        basis = np.zeros(4)
        basis[0] = 1.0
        circuit, overlap, _ = corvinth._reverse_preparation_snapshot(basis, basis, 2, [], None)
        assert isinstance(circuit, InflatingCircuit)
        assert overlap == 1.0

    def test_energy_needs_a_hamiltonian(self, rng, monkeypatch):
        def must_not_be_called(*args):
            raise AssertionError("hamiltonian_expectation called without pauli_terms")

        monkeypatch.setattr(corvinth, "hamiltonian_expectation", must_not_be_called)
        psi = random_state(rng, 2)
        assert corvinth._reverse_preparation_snapshot(psi, psi, 2, [], None)[2] is None
        with pytest.raises(AssertionError):
            corvinth._reverse_preparation_snapshot(psi, psi, 2, [], [])

    def test_energy_is_the_real_part_as_float(self, rng, monkeypatch):
        seen = []

        def complex_energy(state, terms, n_qubits):
            seen.append((state.dtype, terms, n_qubits))
            return np.complex128(-1.25 + 0.5j)

        monkeypatch.setattr(corvinth, "hamiltonian_expectation", complex_energy)
        psi = random_state(rng, 2)
        terms = HAMILTONIAN[:2]
        _, _, energy = corvinth._reverse_preparation_snapshot(psi, psi, np.int64(2), [], terms)
        assert type(energy) is float and energy == -1.25
        assert seen == [(np.complex128, terms, 2)] and type(seen[0][2]) is int

    def test_bad_row_table(self, rng):
        psi = random_state(rng, 2)
        with pytest.raises(ValueError, match="cannot reshape array of size 10"):
            corvinth._reverse_preparation_snapshot(psi, psi, 2, np.zeros(10), None)

    def test_n_qubits_must_be_a_number(self, rng):
        psi = random_state(rng, 2)
        with pytest.raises(TypeError, match=r"^Argument 'n_qubits' has incorrect type \(expected int, got str\)$"):
            corvinth._reverse_preparation_snapshot(psi, psi, "2", [], None)

    def test_exactly_five_arguments(self, rng):
        psi = random_state(rng, 2)
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'pauli_terms'"):
            corvinth._reverse_preparation_snapshot(psi, psi, 2, [])

    def test_inputs_unchanged(self, rng):
        psi = random_state(rng, 3)
        disentangled = random_state(rng, 3)
        rows = np.array(random_row(rng, 0, 1) + random_row(rng, 1, 2))
        copies = [psi.copy(), disentangled.copy(), rows.copy()]
        corvinth._reverse_preparation_snapshot(psi, disentangled, 3, rows, None)
        for array, copy in zip((psi, disentangled, rows), copies):
            assert np.array_equal(array, copy)
