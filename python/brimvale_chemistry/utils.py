"""Shared helpers of the chemistry stages: Pauli terms and Hamiltonian expectation values.

A qubit Hamiltonian is a list of :class:`PauliTerm`. Qubit indices are those of
the spin-blocked order used throughout the package: for n active spatial
orbitals, qubit p is spatial orbital p with spin up and qubit p + n the same
orbital with spin down; qubit 0 is the least significant bit of a state index.
"""

from __future__ import annotations

import numbers
import reprlib
from dataclasses import dataclass, field

import numpy as np

from brimvale._checks import is_integer

from ._kernels import hamiltonian_expectation as _native_expectation

__all__ = ["PauliTerm", "default_layers", "hamiltonian_expectation"]

_PAULI = {
    "X": np.array([[0, 1], [1, 0]], dtype=np.complex128),
    "Y": np.array([[0, -1j], [1j, 0]], dtype=np.complex128),
    "Z": np.array([[1, 0], [0, -1]], dtype=np.complex128),
}


@dataclass(frozen=True)
class PauliTerm:
    """One weighted Pauli string ``coefficient · P_q0 ⊗ P_q1 ⊗ …``.

    ``paulis`` is a tuple of ``(qubit, letter)`` pairs, one per qubit the string
    acts on non-trivially, sorted by qubit; letters are "X", "Y" or "Z". The
    empty tuple is the identity. The coefficient is stored as a float when its
    imaginary part is zero and as a complex number otherwise.

    >>> PauliTerm(-0.5, ((2, "X"), (0, "Z")))
    PauliTerm(coefficient=-0.5, paulis=((0, 'Z'), (2, 'X')))
    """

    coefficient: complex | float
    paulis: tuple[tuple[int, str], ...] = ()
    x_mask: int = field(init=False, repr=False, compare=False)
    z_mask: int = field(init=False, repr=False, compare=False)

    def __post_init__(self):
        if isinstance(self.coefficient, bool) or not isinstance(self.coefficient, numbers.Number):
            raise TypeError(f"PauliTerm coefficient must be a number, got {type(self.coefficient).__name__}")
        coefficient = complex(self.coefficient)
        if not (np.isfinite(coefficient.real) and np.isfinite(coefficient.imag)):
            raise ValueError(f"PauliTerm coefficient must be finite, got {self.coefficient!r}")
        normalised = []
        for item in self.paulis:
            try:
                qubit, letter = item
            except (TypeError, ValueError):
                raise ValueError(
                    f"each Pauli factor must be a (qubit, letter) pair, got {reprlib.repr(item)}"
                ) from None
            if not is_integer(qubit) or qubit < 0:
                raise ValueError(f"Pauli factor qubit must be a non-negative integer, got {reprlib.repr(qubit)}")
            if letter not in _PAULI:
                raise ValueError(f"Pauli factor letter must be 'X', 'Y' or 'Z', got {reprlib.repr(letter)}")
            normalised.append((int(qubit), str(letter)))
        normalised.sort()
        qubits = [q for q, _ in normalised]
        if len(set(qubits)) != len(qubits):
            raise ValueError(f"Pauli string acts twice on one qubit: {reprlib.repr(self.paulis)}")
        x_mask = z_mask = 0
        for q, letter in normalised:
            if letter in "XY":
                x_mask |= 1 << q
            if letter in "YZ":
                z_mask |= 1 << q
        object.__setattr__(self, "coefficient", coefficient.real if coefficient.imag == 0 else coefficient)
        object.__setattr__(self, "paulis", tuple(normalised))
        object.__setattr__(self, "x_mask", x_mask)
        object.__setattr__(self, "z_mask", z_mask)

    @classmethod
    def from_string(cls, coefficient, text: str) -> PauliTerm:
        """Build from text such as ``"Z0 X2"`` (``""`` or ``"I"`` for the identity)."""
        factors = []
        for token in text.split():
            if token == "I":
                continue
            factors.append((int(token[1:]), token[0]))
        return cls(coefficient, tuple(factors))

    @property
    def qubits(self) -> tuple[int, ...]:
        return tuple(q for q, _ in self.paulis)

    @property
    def is_identity(self) -> bool:
        return not self.paulis

    def __str__(self) -> str:
        string = " ".join(f"{letter}{q}" for q, letter in self.paulis) or "I"
        return f"{self.coefficient!r} [{string}]"


def progress_line(label: str, value) -> None:
    """One labelled progress line of a stage: two blanks, the label padded to 22, a colon and the value."""
    print(f"  {label:<22}: {value}", flush=True)


def default_layers(n_qubits) -> int:
    """The number of disentangling layers used when none is given: max(1, n_qubits // 2)."""
    if not is_integer(n_qubits) or n_qubits < 1:
        raise ValueError(f"n_qubits must be a positive integer, got {reprlib.repr(n_qubits)}")
    return max(1, int(n_qubits) // 2)


def hamiltonian_expectation(state, pauli_terms, n_qubits) -> complex:
    """⟨state|H|state⟩ for H the sum of ``pauli_terms``, as a complex number.

    Evaluated term by term with bit masks over the state; no matrix is built.
    Raises ValueError when ``state`` does not hold 2**n_qubits amplitudes or a
    term acts on a qubit ≥ n_qubits.
    """
    return _native_expectation(state, pauli_terms, n_qubits)
