"""Compact emission (at most three CNOTs per disentangler) and the joint refinement of the final circuit."""

import contextlib
import io
import math
import warnings

import numpy as np
import pytest
from corvinth_reference import PAULI, random_state, rng, rotation_reference  # noqa: F401 (fixture)

from brimvale_chemistry import corvinth
from brimvale_chemistry.utils import PauliTerm

HAMILTONIAN = [
    PauliTerm(-0.8, ()),
    PauliTerm.from_string(0.3, "Z0"),
    PauliTerm.from_string(-0.45, "Z1 Z2"),
    PauliTerm.from_string(0.2, "X0 X1"),
    PauliTerm.from_string(0.15, "Y1 Y2"),
    PauliTerm.from_string(0.25, "X2 X3"),
    PauliTerm.from_string(-0.1, "Z3"),
]
HAMILTONIAN_5 = HAMILTONIAN + [
    PauliTerm.from_string(0.35, "X3 X4"),
    PauliTerm.from_string(0.2, "Y3 Y4"),
    PauliTerm.from_string(0.3, "Z4"),
    PauliTerm.from_string(0.15, "X0 Z1 X2"),
]


def brick_rows(rng, n, layers, special=None):
    """Random gate rows in the brick order; `special` maps a row index to its nine parameters."""
    special = special or {}
    rows = []
    for _ in range(layers):
        for start in (0, 1):
            for q0 in range(start, n - 1, 2):
                params = special.get(len(rows), rng.normal(scale=1.2, size=9))
                rows.append([float(q0), float(q0 + 1), *params])
    return rows


def cnots(circuit):
    return sum(1 for op in circuit if op.name == "cx")


def cap_refinement(monkeypatch, maxiter, spoil=False):
    """Limits the refinement's L-BFGS-B run (the only call with more than the nine parameters of one
    disentangler) to keep tests short; with `spoil`, hands back zeros as its result."""
    real_minimize = corvinth.minimize

    def capped(fun, x0, **kwargs):
        if len(x0) == 9:
            return real_minimize(fun, x0, **kwargs)
        kwargs["options"] = {**kwargs["options"], "maxiter": maxiter}
        result = real_minimize(fun, x0, **kwargs)
        if spoil:
            result.x = np.zeros_like(x0)
        return result

    monkeypatch.setattr(corvinth, "minimize", capped)


class TestCompactEmission:
    def test_same_state_as_the_default_on_random_tables(self, rng):
        n = 5
        zero, pauli_only = np.zeros(9), np.array([0.3, 0, 0, 0, 0.2, 0, math.pi / 2, 0, 0])
        for trial in range(4):
            psi0, disentangled = random_state(rng, n), random_state(rng, n)
            rows = brick_rows(rng, n, 3, special={1: zero, 4: zero, 6: pauli_only} if trial % 2 else {})
            default = corvinth._reverse_preparation_snapshot(psi0, disentangled, n, rows, HAMILTONIAN)
            compact = corvinth._reverse_preparation_snapshot(psi0, disentangled, n, rows, HAMILTONIAN, compact=True)
            # The same state, global phase included; overlap and energy agree.
            np.testing.assert_allclose(compact[0].execute().state, default[0].execute().state, rtol=0, atol=1e-12)
            assert compact[1] == pytest.approx(default[1], abs=1e-12)
            assert compact[2] == pytest.approx(default[2], abs=1e-12)
            assert {op.name for op in compact[0]} <= {"rx", "ry", "rz", "cx"}
            local_rows = 3 if trial % 2 else 0  # the identities and the Pauli product
            assert cnots(compact[0]) <= 3 * (len(rows) - local_rows)
            assert cnots(default[0]) == 6 * len(rows)

    def test_identity_rows_emit_nothing(self, rng):
        n = 4
        psi0, disentangled = random_state(rng, n), random_state(rng, n)
        rows = brick_rows(rng, n, 1)
        with_zero = rows[:1] + [[1.0, 2.0, *np.zeros(9)]] + rows[1:]
        plain = corvinth._reverse_preparation_snapshot(psi0, disentangled, n, rows, None, compact=True)[0]
        padded = corvinth._reverse_preparation_snapshot(psi0, disentangled, n, with_zero, None, compact=True)[0]
        assert padded.operations == plain.operations

    def test_rows_must_name_ordered_qubits_of_the_circuit(self, rng):
        psi = random_state(rng, 3)
        for q0, q1 in ((1.0, 0.0), (0.0, 3.0), (math.nan, 1.0)):
            with pytest.raises(ValueError, match="two-qubit sites must satisfy 0 <= q0 < q1 < n_qubits"):
                corvinth._reverse_preparation_snapshot(psi, psi, 3, [q0, q1, *np.ones(9)], None, compact=True)

    def test_synthesis_lines_and_parameters_unchanged(self, rng):
        psi = random_state(rng, 4)
        runs = {}
        for compact in (False, True):
            printed = io.StringIO()
            with contextlib.redirect_stdout(printed):
                runs[compact] = (
                    corvinth.cvd_dmrg(psi, pauli_terms=HAMILTONIAN, layers=2, restarts=1, compact=compact),
                    printed.getvalue(),
                )
        (default, default_text), (compact, compact_text) = runs[False], runs[True]
        assert compact_text == default_text
        assert compact.circuit_params == default.circuit_params == 3 * 4 + 9 * 6
        assert cnots(compact.circuit) * 2 <= cnots(default.circuit)


class TestRefinement:
    @pytest.fixture(scope="class")
    @classmethod
    def ground_state(cls):
        """Two layers leave this five-qubit ground state at an overlap of 0.99973; jointly much better."""
        matrix = sum(term.coefficient * pauli_string(term.paulis, 5) for term in HAMILTONIAN_5)
        energies, vectors = np.linalg.eigh(matrix)
        return vectors[:, 0], energies[0]

    def run(self, psi, **settings):
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed), warnings.catch_warnings():
            warnings.simplefilter("ignore")
            result = corvinth.cvd_dmrg(psi, layers=2, restarts=1, pauli_terms=HAMILTONIAN_5, **settings)
        return result, printed.getvalue().splitlines()

    def test_refined_circuit_is_closer_in_overlap_and_energy(self, ground_state, monkeypatch):
        psi, exact = ground_state
        cap_refinement(monkeypatch, 300)
        # Compact emission of the refined parameters (the default one is used below).
        result, lines = self.run(psi, refine=True, compact=True)
        last_layer, refined = lines[-2], lines[-1]
        unrefined_overlap = float(last_layer.split("=")[1].split(",")[0])
        unrefined_energy = float(last_layer.split("energy=")[1].split()[0])
        assert refined == (
            "  Refined               : |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|="
            f"{result.overlap_mod:.12f}, energy={result.energy:.12f} Hartree"
        )
        assert 1 - result.overlap_mod < (1 - unrefined_overlap) / 100
        assert exact <= result.energy < unrefined_energy
        state = result.circuit.execute().state
        assert result.overlap_mod == pytest.approx(abs(np.vdot(psi, state)), abs=1e-12)
        assert result.circuit_params == 3 * 5 + 9 * 8

    def test_never_worse_than_the_layers(self, ground_state, monkeypatch):
        psi, _ = ground_state
        unrefined, _ = self.run(psi)
        cap_refinement(monkeypatch, 5, spoil=True)
        kept, lines = self.run(psi, refine=True)
        assert kept.overlap_mod == unrefined.overlap_mod and kept.energy == unrefined.energy
        assert kept.circuit.operations == unrefined.circuit.operations
        assert lines[-1].startswith("  Refined               : ") and lines[-1][26:] == lines[-2][26:]

    def test_objective_value_and_gradient(self, rng):
        n = 4
        psi = random_state(rng, n)
        rows = np.array(brick_rows(rng, n, 1))
        rotations = rng.normal(size=(n, 3))
        objective = corvinth._circuit_infidelity(psi, n, [(int(r[0]), int(r[1])) for r in rows])
        x = np.concatenate([rotations.ravel(), rows[:, 2:].ravel()])
        value, gradient = objective(x)
        state = np.zeros(2**n, dtype=complex)
        state[0] = 1.0
        for q in range(n):
            state = embed(rotation_reference(rotations[q]), q, n) @ state
        for row in rows[::-1]:
            adjoint = corvinth._entangler_matrix(row[2:]).conj().T
            state = corvinth._apply_two_qubit_unitary(state, adjoint, int(row[0]), int(row[1]), n)
        assert value == pytest.approx(1 - abs(np.vdot(psi, state)) ** 2, abs=1e-13)
        assert gradient.shape == x.shape and np.abs(gradient).max() > 1e-3
        with pytest.raises(ValueError, match="expected 39 circuit parameters"):
            objective(x[:-1])


def embed(matrix, qubit, n):
    return np.kron(np.kron(np.eye(2 ** (n - 1 - qubit)), matrix), np.eye(2**qubit))


def pauli_string(paulis, n):
    operator = np.eye(2**n, dtype=complex)
    for qubit, letter in paulis:
        operator = embed(PAULI[letter], qubit, n) @ operator
    return operator
