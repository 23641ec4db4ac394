"""Shared builders of the DMRG tests: small fermionic Hamiltonians and their exact solutions."""

import os
from types import SimpleNamespace

import numpy as np
import openfermion as of
import pytest

from brimvale_chemistry.molecule.pellisk import pellisk
from brimvale_chemistry.utils import PauliTerm

_PAULI = {
    "I": np.eye(2),
    "X": np.array([[0, 1], [1, 0]]),
    "Y": np.array([[0, -1j], [1j, 0]]),
    "Z": np.diag([1.0, -1.0]),
}


def random_hermitian_fermion_operator(rng, n_orbitals, n_terms=12):
    """A random particle- and spin-conserving Hermitian operator (one- and two-body terms)."""
    n_modes = 2 * n_orbitals
    op = of.FermionOperator()
    for _ in range(n_terms):
        if rng.random() < 0.4:
            p, q = rng.integers(0, n_orbitals, 2)
            s = int(rng.integers(0, 2))
            term = ((2 * p + s, 1), (2 * q + s, 0))
        else:
            p, q, r, t = rng.integers(0, n_orbitals, 4)
            s, u = rng.integers(0, 2, 2)
            term = ((2 * p + s, 1), (2 * r + u, 1), (2 * t + u, 0), (2 * q + s, 0))
        op += of.FermionOperator(tuple((int(m), a) for m, a in term), complex(rng.normal(), rng.normal()))
    op = op + of.hermitian_conjugated(op)
    assert max(m for term in op.terms for m, _ in term) < n_modes
    return op


def fermion_terms(op):
    return [(coeff, tuple(term)) for term, coeff in op.terms.items() if term]


def qubit_hamiltonian_matrix(qubit_operator, n_qubits):
    """Dense matrix with qubit 0 as the least significant bit of the basis index."""
    dim = 2**n_qubits
    h = np.zeros((dim, dim), dtype=complex)
    for term, coeff in qubit_operator.terms.items():
        factors = dict(term)
        m = np.ones((1, 1))
        for q in reversed(range(n_qubits)):
            m = np.kron(m, _PAULI[factors.get(q, "I")])
        h += coeff * m
    return h


def mpo_matrix(mpo):
    """The operator of a finite MPO as a dense matrix (sites' own basis order)."""
    left = mpo.get_W(0).take_slice(mpo.get_IdL(0), "wL").itranspose(["wR", "p", "p*"]).to_ndarray()
    for i in range(1, mpo.L):
        w = mpo.get_W(i).itranspose(["wL", "wR", "p", "p*"]).to_ndarray()
        dim, d = left.shape[1], w.shape[2]
        left = np.einsum("aIJ,abij->bIiJj", left, w).reshape(w.shape[1], dim * d, dim * d)
    return left[mpo.get_IdR(mpo.L - 1)]


def sector_mask(n_orbitals, n_up, n_down):
    index = np.arange(4**n_orbitals)
    low = (1 << n_orbitals) - 1
    ups = np.array([bin(i & low).count("1") for i in index])
    downs = np.array([bin(i >> n_orbitals).count("1") for i in index])
    return (ups == n_up) & (downs == n_down)


def sector_ground_energy(h, n_orbitals, n_up, n_down):
    mask = sector_mask(n_orbitals, n_up, n_down)
    return float(np.linalg.eigvalsh(h[np.ix_(mask, mask)])[0])


def fake_electronic_structure(op, n_orbitals, n_up, n_down, constant=0.0):
    """What the electronic-structure stage hands on, for a hand-made Hamiltonian."""
    n_qubits = 2 * n_orbitals
    qubit_op = pellisk(op, n_spatial_orbitals=n_orbitals)
    pauli_terms = [PauliTerm(complex(c), tuple(term)) for term, c in qubit_op.terms.items() if term]
    pauli_terms.append(PauliTerm(constant + complex(qubit_op.terms.get((), 0.0)), ()))
    h = qubit_hamiltonian_matrix(qubit_op, n_qubits)
    exact = sector_ground_energy(h, n_orbitals, n_up, n_down) + constant
    return SimpleNamespace(
        pauli_terms=pauli_terms,
        n_qubits=n_qubits,
        n_spatial_orbitals=n_orbitals,
        n_electrons=n_up + n_down,
        twice_sz=n_up - n_down,
        fermion_terms=fermion_terms(op),
        constant_energy=constant,
        hf_energy=None,
        exact_energy=exact,
    )


@pytest.fixture
def subprocess_env():
    import brimvale_chemistry

    env = dict(os.environ)
    package_root = os.path.dirname(os.path.dirname(brimvale_chemistry.__file__))
    env["PYTHONPATH"] = package_root + os.pathsep + env.get("PYTHONPATH", "")
    return env


PRESETS = {
    "h2": ([("H", (0, 0, 0)), ("H", (0, 0, 0.7414))], "sto-3g", 1, 1),
    "lih": ([("Li", (0, 0, 0)), ("H", (0, 0, 1.5949))], "sto-3g", 2, 2),
    "h2o-small": (
        [("O", (0.0, 0.0, 0.0)), ("H", (0.758602, 0.0, 0.504284)), ("H", (-0.758602, 0.0, 0.504284))],
        "sto-3g",
        2,
        2,
    ),
}


@pytest.fixture(scope="session")
def preset_structures(tmp_path_factory):
    from brimvale_chemistry.molecule import Molecule, electronic_structure

    workdir = tmp_path_factory.mktemp("fcidump")
    structures = {}
    for key, (geometry, basis, occupied, virtual) in PRESETS.items():
        molecule = Molecule(geometry=geometry, basis=basis, active_occupied=occupied, active_virtual=virtual)
        structures[key] = electronic_structure(molecule, workdir=workdir)
    return structures
