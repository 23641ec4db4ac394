"""The active-space integrals that basis-rotation grouping factorises: taken from a stage result, and checked."""

from __future__ import annotations

import math

import numpy as np

from ..molecule.records import integrals_of
from .factorisation import DEFAULT_TRUNCATION

# The factorisation assumes real orbitals: (pq|rs) = (qp|rs) = (rs|pq).
_SYMMETRY_TOLERANCE = 1e-10
_USAGE = (
    "integrals must be (constant, one_body, two_body) or (constant, one_body, two_body, occupations): a number, "
    "an n × n and an n × n × n × n real array, and n reference occupations between 0 and 2"
)


def active_space_integrals(structure) -> tuple[float, np.ndarray, np.ndarray, np.ndarray]:
    """``integrals`` for :func:`measurement_QASM` from an ``ElectronicStructureResult``.

    The constant, its one- and two-body integrals and the
    Hartree-Fock occupations of the active orbitals (the lowest ``n_alpha``
    spin-up and ``n_beta`` spin-down), about which the factors are centred.
    """
    extra = structure.extra
    n = structure.n_spatial_orbitals
    orbitals = np.arange(n)
    occupations = (orbitals < extra["n_alpha"]).astype(np.float64) + (orbitals < extra["n_beta"])
    one_body, two_body = integrals_of(structure)
    return structure.constant_energy, one_body, two_body, occupations


def _real_array(value, name: str, ndim: int, n: int | None) -> np.ndarray:
    try:
        array = np.asarray(value)
    except (TypeError, ValueError):
        raise TypeError(f"{_USAGE}; {name} is not an array") from None
    if array.dtype.kind not in "iuf" and not (array.dtype.kind == "c" and not np.any(array.imag)):
        raise TypeError(f"{_USAGE}; {name} has dtype {array.dtype}")
    array = np.ascontiguousarray(array.real, dtype=np.float64)
    size = n if n is not None else (array.shape[0] if array.ndim else 0)
    if array.ndim != ndim or array.shape != (size,) * ndim or size == 0:
        raise ValueError(f"{_USAGE}; {name} has shape {array.shape}")
    if not np.all(np.isfinite(array)):
        raise ValueError(f"{name} must be finite")
    return array


def _check_symmetric(array: np.ndarray, name: str, *permutations) -> None:
    scale = max(1.0, float(np.abs(array).max()))
    for axes in permutations:
        if np.abs(array - array.transpose(axes)).max() > _SYMMETRY_TOLERANCE * scale:
            raise ValueError(f"{name} must have the symmetry of integrals over real orbitals")


def check_integrals(basis_rotation: bool, integrals, threshold, n_qubits: int):
    """(constant, one_body, two_body, occupations or None) as float64 arrays and the truncation threshold.

    (None, default threshold) when the grouping is not basis-rotation.
    """
    if not basis_rotation:
        if integrals is not None:
            raise ValueError("integrals apply to grouping='basis-rotation' only")
        if threshold is not None:
            raise ValueError("truncation_threshold applies to grouping='basis-rotation' only")
        return None, DEFAULT_TRUNCATION
    if integrals is None:
        raise ValueError("grouping='basis-rotation' needs integrals=(constant, one_body, two_body)")
    if isinstance(integrals, (str, bytes)) or not hasattr(integrals, "__len__") or len(integrals) not in (3, 4):
        raise TypeError(_USAGE)
    constant, one_body, two_body, *rest = integrals
    if isinstance(constant, bool) or not isinstance(constant, (int, float, np.integer, np.floating)):
        raise TypeError(f"{_USAGE}; the constant is {type(constant).__name__}")
    if not math.isfinite(float(constant)):
        raise ValueError("the constant of integrals must be finite")
    one = _real_array(one_body, "one_body", 2, None)
    n = one.shape[0]
    if 2 * n != n_qubits:
        raise ValueError(f"integrals describe {n} orbitals, {2 * n} qubits; the circuit has {n_qubits}")
    two = _real_array(two_body, "two_body", 4, n)
    _check_symmetric(one, "one_body", (1, 0))
    _check_symmetric(two, "two_body", (1, 0, 2, 3), (0, 1, 3, 2), (2, 3, 0, 1))
    occupations = None
    if rest and rest[0] is not None:
        occupations = _real_array(rest[0], "occupations", 1, n)
        if np.any(occupations < 0.0) or np.any(occupations > 2.0):
            raise ValueError("occupations must lie between 0 and 2")
    if threshold is None:
        threshold = DEFAULT_TRUNCATION
    else:
        if isinstance(threshold, bool) or not isinstance(threshold, (int, float, np.integer, np.floating)):
            raise TypeError(f"truncation_threshold must be a number or None, got {type(threshold).__name__}")
        threshold = float(threshold)
        if not (math.isfinite(threshold) and threshold >= 0.0):
            raise ValueError(f"truncation_threshold must be a non-negative number of Hartree, got {threshold!r}")
    return (float(constant), one, two, occupations), threshold
