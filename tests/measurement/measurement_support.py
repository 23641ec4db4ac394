"""Shared builders for the measurement tests: random circuits, Hamiltonians and an independent basis rotation."""

from __future__ import annotations

import numpy as np

from brimvale import Circuit
from brimvale_chemistry.utils import PauliTerm

_ONE_QUBIT = ("h", "x", "y", "z", "s", "sdg")
_ROTATIONS = ("rx", "ry", "rz")
_TWO_QUBIT = ("cx", "cz", "swap")


def random_circuit(n_qubits: int, n_gates: int, seed: int) -> Circuit:
    """A circuit using every gate kind of the library, with angles of all magnitudes."""
    rng = np.random.default_rng(seed)
    circuit = Circuit(n_qubits)
    for q in range(n_qubits):
        circuit.ry(rng.uniform(0.2, 2.9), q)
    kinds = _ONE_QUBIT + _ROTATIONS + (_TWO_QUBIT if n_qubits > 1 else ())
    for _ in range(n_gates):
        kind = kinds[rng.integers(len(kinds))]
        if kind in _ROTATIONS:
            angle = rng.uniform(-np.pi, np.pi) * 10.0 ** rng.integers(-6, 1)
            getattr(circuit, kind)(angle, int(rng.integers(n_qubits)))
        elif kind in _TWO_QUBIT:
            a, b = rng.choice(n_qubits, size=2, replace=False)
            getattr(circuit, kind)(int(a), int(b))
        else:
            getattr(circuit, kind)(int(rng.integers(n_qubits)))
    return circuit


def random_hamiltonian(n_qubits: int, n_terms: int, seed: int, identity: float = -1.25) -> list[PauliTerm]:
    """Random real-weighted Pauli strings of weight 1 to 4, plus an identity term."""
    rng = np.random.default_rng(seed)
    terms = [PauliTerm(identity, ())]
    for _ in range(n_terms):
        weight = int(rng.integers(1, min(4, n_qubits) + 1))
        qubits = rng.choice(n_qubits, size=weight, replace=False)
        letters = rng.choice(list("XYZ"), size=weight)
        terms.append(PauliTerm(float(rng.normal()), tuple((int(q), str(p)) for q, p in zip(qubits, letters))))
    return terms


_S_DAGGER = np.diag([1.0, -1.0j])
_HADAMARD = np.array([[1.0, 1.0], [1.0, -1.0]]) / np.sqrt(2.0)
BASIS_CHANGE = {"X": _HADAMARD, "Y": _HADAMARD @ _S_DAGGER, "Z": np.eye(2)}


def rotate_reference(state: np.ndarray, n_qubits: int, bases) -> np.ndarray:
    """The state after the basis change of ``bases`` ((qubit, letter) pairs), by tensor contraction."""
    tensor = np.asarray(state, dtype=np.complex128).reshape((2,) * n_qubits)
    for q, letter in bases:
        axis = n_qubits - 1 - q  # qubit 0 is the last axis: the least significant bit
        tensor = np.moveaxis(np.tensordot(BASIS_CHANGE[letter], tensor, axes=([1], [axis])), 0, axis)
    return tensor.reshape(-1)


def tree_snapshot(root) -> dict[str, bytes | None]:
    """Every path under ``root`` with its content (None for directories)."""
    from pathlib import Path

    root = Path(root)
    if not root.exists():
        return {}
    return {str(p.relative_to(root)): (None if p.is_dir() else p.read_bytes()) for p in sorted(root.rglob("*"))}
