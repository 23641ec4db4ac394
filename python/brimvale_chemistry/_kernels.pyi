"""Numeric kernels of the chemistry stage modules."""

from collections.abc import Iterable
from typing import SupportsIndex, TypeAlias

import numpy as np
from numpy.typing import ArrayLike, NDArray

from .utils import PauliTerm

SEED: int
SHOTS: int
DMRG_CHI0: int
DMRG_MAXDIM: int
DMRG_MAX_SWEEPS: int
DMRG_CUTOFF: float
MPS_ROUNDING_CUTOFF: float
MPS_MAX_BOND: int
MAX_DENSE_QUBITS: int

def hamiltonian_expectation(state: ArrayLike, pauli_terms: Iterable[PauliTerm], n_qubits: SupportsIndex) -> complex:
    """<state|H|state> for H = sum of the Pauli terms, as a complex number."""

def sample_outcomes(
    state: ArrayLike,
    n_qubits: SupportsIndex,
    shots: SupportsIndex,
    seed: SupportsIndex,
    *,
    x_mask: SupportsIndex = 0,
    y_mask: SupportsIndex = 0,
) -> tuple[NDArray[np.uint64], NDArray[np.int64]]: ...
def to_int(value: object, name: str) -> int: ...
def require_str(value: object, name: str) -> str: ...

# Per site: left state, right state, operator, parity and value of every entry.
_SiteTerms: TypeAlias = tuple[
    NDArray[np.int64], NDArray[np.int64], NDArray[np.int64], NDArray[np.bool_], NDArray[np.float64]
]

def spin_blocked_jordan_wigner(
    term_lengths: ArrayLike,
    modes: ArrayLike,
    creation: ArrayLike,
    coefficients: ArrayLike,
    n_spatial_orbitals: int,
    abs_tol: float,
) -> tuple[NDArray[np.uint64], NDArray[np.uint64], NDArray[np.complex128]]: ...
def integral_mpo_terms(
    one_body: ArrayLike, two_body: ArrayLike, drop: float
) -> tuple[list[NDArray[np.int64]], list[int | None], list[int | None], list[_SiteTerms]]: ...
