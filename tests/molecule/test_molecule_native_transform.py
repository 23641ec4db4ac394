"""The native spin-blocked Jordan-Wigner transform gives the OpenFermion route's Pauli terms bit for bit."""

import numpy as np
import openfermion as of
import pytest

from brimvale_chemistry._kernels import spin_blocked_jordan_wigner
from brimvale_chemistry.molecule import Molecule
from brimvale_chemistry.molecule import _hamiltonian as hamiltonian

WATER = [("O", (0.0, 0.0, 0.0)), ("H", (0.758602, 0.0, 0.504284)), ("H", (-0.758602, 0.0, 0.504284))]


def exact(terms):
    return [(t.paulis, complex(t.coefficient).real, complex(t.coefficient).imag) for t in terms]


def random_operator(rng, n_modes, n_terms):
    """Terms in any order, with repeated modes, complex coefficients and magnitudes down to rounding level."""
    operator = of.FermionOperator()
    for _ in range(n_terms):
        length = int(rng.integers(0, 5))
        ops = tuple((int(rng.integers(n_modes)), int(rng.integers(2))) for _ in range(length))
        scale = 10.0 ** rng.uniform(-13, 1)
        operator += of.FermionOperator(ops, complex(*rng.normal(size=2)) * scale)
    return operator


@pytest.mark.parametrize("n_orbitals, seed", [(1, 1), (2, 2), (3, 3), (4, 4)])
def test_any_operator_bit_for_bit(n_orbitals, seed):
    rng = np.random.default_rng(seed)
    operator = random_operator(rng, 2 * n_orbitals, 300)
    # Hermitian operators too: their imaginary parts cancel to rounding, which both routes must drop alike.
    for op in (operator, operator + of.hermitian_conjugated(operator)):
        terms = hamiltonian.fermion_terms(op)
        expected = hamiltonian.spin_blocked_pauli_terms(op, n_orbitals, 0.25)
        assert exact(hamiltonian.native_spin_blocked_pauli_terms(terms, n_orbitals, 0.25)) == exact(expected)


@pytest.mark.parametrize(
    "geometry, basis, occupied, virtual",
    [
        (WATER, "6-31g", 3, 4),
        ([("H", (0.0, 0.0, float(k))) for k in range(6)], "sto-3g", 3, 3),
    ],
)
def test_molecules_bit_for_bit(geometry, basis, occupied, virtual, monkeypatch):
    from brimvale_chemistry.molecule import _active_space
    from brimvale_chemistry.molecule._active_space import build_active_space

    monkeypatch.setattr(_active_space, "MAX_CASCI_DETERMINANTS", 0)  # the reference is not needed here
    space = build_active_space(
        Molecule(geometry=geometry, basis=basis, active_occupied=occupied, active_virtual=virtual)
    )
    operator = hamiltonian.active_space_fermion_operator(space)
    expected = hamiltonian.spin_blocked_pauli_terms(operator, space.n_orbitals, space.core_energy)
    native = hamiltonian.qubit_hamiltonian(
        operator, hamiltonian.fermion_terms(operator), space.n_orbitals, space.core_energy
    )
    assert exact(native) == exact(expected)


def test_rejects_what_it_cannot_represent():
    one = np.array([1], dtype=np.int64)
    with pytest.raises(ValueError, match="^mode 4 is outside the 4 spin orbitals$"):
        spin_blocked_jordan_wigner(one, np.array([4]), one, np.array([1.0 + 0j]), 2, 1e-12)
    with pytest.raises(ValueError, match="^n_spatial_orbitals must be between 1 and 32, got 33$"):
        spin_blocked_jordan_wigner(one, np.array([0]), one, np.array([1.0 + 0j]), 33, 1e-12)
    with pytest.raises(ValueError, match="^modes and creation must hold one entry per ladder operator"):
        spin_blocked_jordan_wigner(np.array([2]), np.array([0]), one, np.array([1.0 + 0j]), 2, 1e-12)
