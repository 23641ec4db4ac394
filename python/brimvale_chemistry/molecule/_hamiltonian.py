"""Active-space Hamiltonian as fermionic terms and as spin-blocked Pauli terms."""

from __future__ import annotations

import numpy as np

from .._kernels import spin_blocked_jordan_wigner
from ..utils import PauliTerm
from ._active_space import ActiveSpace
from .pellisk import pellisk

# Pauli coefficients (and imaginary parts) at or below this are rounding noise
# of a real, Hermitian Hamiltonian.
PAULI_TOLERANCE = 1e-12


def active_space_fermion_operator(space: ActiveSpace):
    """Normal-ordered OpenFermion operator of the active space, without the constant.

    H = sum h[p,q] a+_p a_q + 1/2 sum (pq|rs) a+_p a+_r a_s a_q over spin orbitals
    in OpenFermion's interleaved order.
    """
    from openfermion import InteractionOperator, get_fermion_operator, normal_ordered
    from openfermion.chem.molecular_data import spinorb_from_spatial

    # (pq|rs) -> physicists' <pr|sq> layout expected by InteractionOperator.
    physicists = np.asarray(space.two_body.transpose(0, 2, 3, 1), order="C")
    one_body, two_body = spinorb_from_spatial(space.one_body, physicists)
    operator = get_fermion_operator(InteractionOperator(0.0, one_body, 0.5 * two_body))
    return normal_ordered(operator)


def _plain_number(value):
    value = complex(value)
    return value.real if value.imag == 0 else value


def fermion_terms(operator) -> list:
    """OpenFermion's terms as ``(coefficient, ((mode, action), ...))`` records."""
    return [
        (_plain_number(coefficient), tuple((int(mode), int(action)) for mode, action in term))
        for term, coefficient in operator.terms.items()
    ]


# The native transform holds a Pauli string as two 64-bit masks.
_NATIVE_MAX_ORBITALS = 32
_LETTERS = {(1, 0): "X", (1, 1): "Y", (0, 1): "Z"}


def spin_blocked_pauli_terms(operator, n_orbitals: int, constant: float) -> list[PauliTerm]:
    """Jordan-Wigner in the spin-blocked order, with ``constant`` added to the identity term."""
    qubit_operator = pellisk(operator, n_spatial_orbitals=n_orbitals, abs_tol=PAULI_TOLERANCE)
    coefficients = {(): complex(constant)}
    for paulis, coefficient in qubit_operator.terms.items():
        coefficients[paulis] = coefficients.get(paulis, 0j) + complex(coefficient)
    return _pauli_terms(coefficients)


def _paulis(x: int, z: int) -> tuple:
    factors, rest = [], x | z
    while rest:
        low = rest & -rest
        q = low.bit_length() - 1
        factors.append((q, _LETTERS[(x >> q) & 1, (z >> q) & 1]))
        rest ^= low
    return tuple(factors)


def native_spin_blocked_pauli_terms(terms: list, n_orbitals: int, constant: float) -> list[PauliTerm]:
    """The Pauli terms of :func:`spin_blocked_pauli_terms`, bit for bit, from :func:`fermion_terms` of its operator.

    The transform runs natively (OpenFermion's takes minutes for 32 qubits);
    it adds the same products in the same order, so every coefficient is the
    same double. Active spaces of more than 32 orbitals take the OpenFermion
    route, from ``operator``.
    """
    lengths = np.fromiter((len(ops) for _, ops in terms), dtype=np.int64, count=len(terms))
    ladder = np.array([op for _, ops in terms for op in ops], dtype=np.int64).reshape(-1, 2)
    values = np.array([complex(c) for c, _ in terms], dtype=np.complex128)
    x, z, strings = spin_blocked_jordan_wigner(lengths, ladder[:, 0], ladder[:, 1], values, n_orbitals, PAULI_TOLERANCE)
    coefficients = {(): complex(constant)}
    for xk, zk, coefficient in zip(x.tolist(), z.tolist(), strings.tolist()):
        paulis = _paulis(xk, zk)
        coefficients[paulis] = coefficients.get(paulis, 0j) + coefficient
    return _pauli_terms(coefficients)


def qubit_hamiltonian(operator, terms: list, n_orbitals: int, constant: float) -> list[PauliTerm]:
    """Spin-blocked Pauli terms of ``operator`` (whose :func:`fermion_terms` are ``terms``), natively where it can."""
    if n_orbitals <= _NATIVE_MAX_ORBITALS:
        return native_spin_blocked_pauli_terms(terms, n_orbitals, constant)
    return spin_blocked_pauli_terms(operator, n_orbitals, constant)


def _pauli_terms(coefficients: dict) -> list[PauliTerm]:
    terms = []
    for paulis, coefficient in coefficients.items():
        if abs(coefficient.imag) <= PAULI_TOLERANCE:
            coefficient = complex(coefficient.real, 0.0)
        if abs(coefficient) <= PAULI_TOLERANCE:
            continue
        terms.append(PauliTerm(_plain_number(coefficient), paulis))
    terms.sort(key=lambda term: (len(term.paulis), term.paulis))
    return terms
