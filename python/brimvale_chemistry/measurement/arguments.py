"""Argument checks of the measurement stage, with the package's conversion rules and messages."""

from __future__ import annotations

import os
import reprlib
from dataclasses import dataclass
from pathlib import Path

import numpy as np

from brimvale import Circuit
from brimvale._checks import at_least, choice
from brimvale.circuit import ACCEPTED_BACKENDS, BACKENDS, DEVICES, DTYPES, MAX_QUBITS, MPS_BACKEND, supported_dtype
from brimvale.mps import Truncation, truncation_for

from .. import _defaults
from .._kernels import require_str, to_int
from ..utils import PauliTerm
from .factorisation import DEFAULT_TRUNCATION
from .integrals import check_integrals

QUBIT_WISE = "qubit-wise"
BASIS_ROTATION = "basis-rotation"
GROUPINGS = (QUBIT_WISE, BASIS_ROTATION)

_HEAP_TYPE = 1 << 9  # Py_TPFLAGS_HEAPTYPE


def type_name(value) -> str:
    """The type's name as the interpreter prints it in its own messages."""
    cls = type(value)
    if cls.__flags__ & _HEAP_TYPE or cls.__module__ == "builtins":
        return cls.__name__
    return f"{cls.__module__}.{cls.__qualname__}"


def check_circuit(circuit) -> Circuit:
    if not isinstance(circuit, Circuit):
        raise TypeError(f"circuit must be a brimvale Circuit, got {type_name(circuit)}")
    return circuit


def check_pauli_terms(pauli_terms, n_qubits: int) -> list[PauliTerm]:
    """The terms as a list; each a PauliTerm on qubits below ``n_qubits``, together Hermitian."""
    try:
        terms = list(pauli_terms)
    except TypeError:
        raise TypeError(f"pauli_terms must be an iterable of PauliTerm, got {type_name(pauli_terms)}") from None
    for term in terms:
        if not isinstance(term, PauliTerm):
            raise TypeError(f"pauli_terms must hold PauliTerm objects, got {type_name(term)}")
        if term.qubits and term.qubits[-1] >= n_qubits:
            raise ValueError(
                f"Pauli term {term} acts on qubit {term.qubits[-1]}, outside the {n_qubits} qubits of the circuit"
            )
    # Every Pauli string has real expectation values; an imaginary coefficient
    # left over after adding up equal strings would be silently dropped.
    imaginary: dict[tuple[int, int], complex] = {}
    for term in terms:
        key = (term.x_mask, term.z_mask)
        imaginary[key] = imaginary.get(key, 0j) + complex(term.coefficient)
    scale = max((abs(complex(t.coefficient)) for t in terms), default=0.0)
    for term in terms:
        total = imaginary.get((term.x_mask, term.z_mask))
        if total is not None and abs(total.imag) > 1e-10 * max(1.0, scale):
            label = " ".join(f"{letter}{q}" for q, letter in term.paulis) or "I"
            raise ValueError(
                f"pauli_terms must form a Hermitian operator: the coefficients of {label} "
                f"add up to {total!r}, which is not real"
            )
    return terms


def check_workdir(workdir) -> Path:
    if workdir is None:
        return Path.cwd()
    if not isinstance(workdir, (str, os.PathLike)):
        raise TypeError(f"workdir must be a path, a string or None, got {type_name(workdir)}")
    return Path(workdir)


def check_shots(shots) -> int:
    return at_least(to_int(shots, "shots"), 1, "shots must be at least 1")


def check_seed(seed) -> int | None:
    if seed is None:
        return None
    return at_least(to_int(seed, "seed"), 0, "seed must be a non-negative integer or None")


def check_simulator(backend, device, dtype) -> np.dtype:
    """The simulator settings the circuit library accepts; the dtype resolved."""
    backend = require_str(backend, "backend")
    device = require_str(device, "device")
    choice(backend, "backend", BACKENDS, accepted=ACCEPTED_BACKENDS)
    choice(device, "device", DEVICES)
    resolved = supported_dtype(dtype)
    if resolved is None:
        accepted = ", ".join(f"numpy.{d.name}" for d in DTYPES)
        raise ValueError(f"dtype must be one of: {accepted}; got {reprlib.repr(dtype)}")
    if backend == MPS_BACKEND and resolved != np.complex128:
        raise ValueError(f"backend={MPS_BACKEND!r} computes in numpy.complex128; got numpy.{resolved.name}")
    return resolved


def check_width(backend: str, n_qubits: int) -> None:
    """Refuse a circuit whose state vector the backend cannot hold, before anything is printed or written."""
    if backend != MPS_BACKEND and n_qubits > MAX_QUBITS:
        raise ValueError(
            f"backend={backend!r} holds the state as 2**n amplitudes, for at most {MAX_QUBITS} qubits; "
            f"this circuit has {n_qubits}: use backend={MPS_BACKEND!r}"
        )


def check_grouping(grouping) -> str:
    return choice(require_str(grouping, "grouping"), "grouping", GROUPINGS)


def check_total_shots(total_shots) -> int | None:
    if total_shots is None:
        return None
    return at_least(to_int(total_shots, "total_shots"), 1, "total_shots must be a positive integer or None")


@dataclass(frozen=True)
class StageArguments:
    """The measurement stage's arguments, checked and converted."""

    n_qubits: int
    terms: list[PauliTerm]
    shots: int
    seed: int | None
    workdir: Path
    backend: str
    device: str
    dtype: np.dtype
    # How the circuit's MPS is truncated (backend="mps"): the caller's
    # max_bond, or the stage's cap so that every execution ends.
    truncation: Truncation = Truncation()
    grouping: str = QUBIT_WISE
    # A budget spread over the groups by weight, in place of `shots` per group.
    total_shots: int | None = None
    # (constant, one_body, two_body, occupations or None) of grouping="basis-rotation".
    integrals: tuple[float, np.ndarray, np.ndarray, np.ndarray | None] | None = None
    truncation_threshold: float = DEFAULT_TRUNCATION


def check_arguments(
    circuit,
    pauli_terms,
    n_qubits,
    shots,
    seed,
    workdir,
    backend,
    device,
    dtype,
    max_bond=None,
    grouping=QUBIT_WISE,
    total_shots=None,
    integrals=None,
    truncation_threshold=None,
) -> StageArguments:
    """Every argument of the stage, in the order their errors are reported."""
    check_circuit(circuit)
    n_qubits = to_int(n_qubits, "n_qubits")
    if n_qubits != circuit.num_qubits:
        raise ValueError(f"n_qubits is {n_qubits} but the circuit acts on {circuit.num_qubits} qubits")
    terms = check_pauli_terms(pauli_terms, n_qubits)
    shots = check_shots(shots)
    seed = check_seed(seed)
    workdir = check_workdir(workdir)
    dtype = check_simulator(backend, device, dtype)
    check_width(backend, n_qubits)
    truncation = truncation_for(max_bond, "backend", MPS_BACKEND, backend).capped(_defaults.MPS_MAX_BOND)
    grouping = check_grouping(grouping)
    total_shots = check_total_shots(total_shots)
    integrals, threshold = check_integrals(grouping == BASIS_ROTATION, integrals, truncation_threshold, n_qubits)
    return StageArguments(
        n_qubits,
        terms,
        shots,
        seed,
        workdir,
        backend,
        device,
        dtype,
        truncation,
        grouping,
        total_shots,
        integrals,
        threshold,
    )
