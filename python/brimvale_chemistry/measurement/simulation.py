"""The circuit's executed state, as the measurement reads it: its exact energy and samples of every group.

The "numpy" backend (also named "statevector") holds the state as 2**n
amplitudes; "mps" holds it as a matrix product state, so that circuits too
wide for a vector are measured too. Both draw a group's outcomes exactly, in
the group's bases, from the same seed; their draws differ (the generators
consume the seed differently), their distributions do not.
"""

from __future__ import annotations

import warnings
from collections.abc import Callable

import numpy as np

from brimvale.circuit import MPS_BACKEND
from brimvale.mps import Truncation

from .._kernels import sample_outcomes
from ..utils import hamiltonian_expectation
from .records import MeasurementGroup

# A truncation of the circuit's MPS at its bond cap (StageArguments.truncation)
# is reported above this weight.
_DISCARDED_WEIGHT_WARNING = 1e-10

Sampler = Callable[[MeasurementGroup, int, int], tuple[np.ndarray, np.ndarray]]


def executed_state(
    circuit, terms, n_qubits: int, backend: str, device: str, dtype, truncation: Truncation
) -> tuple[float, Sampler]:
    """(⟨H⟩ of the normalised final state, a sampler ``draw(group, shots, seed)`` → (outcomes, counts))."""
    if backend == MPS_BACKEND:
        return _mps_state(circuit, terms, truncation)
    state = circuit.execute(backend=backend, device=device, dtype=dtype).state
    norm = float(np.vdot(state, state).real)
    exact = float(hamiltonian_expectation(state, terms, n_qubits).real) / norm

    def draw(group: MeasurementGroup, shots: int, seed: int):
        return sample_outcomes(state, n_qubits, shots, seed, x_mask=group.x_mask, y_mask=group.y_mask)

    return exact, draw


def _mps_state(circuit, terms, truncation: Truncation) -> tuple[float, Sampler]:
    mps = circuit.execute(backend=MPS_BACKEND, max_bond=truncation.max_bond, cutoff=truncation.cutoff).mps
    if mps.discarded_weight > _DISCARDED_WEIGHT_WARNING:
        warnings.warn(
            f"the circuit's MPS reached bond dimension {truncation.max_bond} and discarded a weight of "
            f"{mps.discarded_weight:.2e}; samples and exact energy are those of the truncated state",
            UserWarning,
            stacklevel=4,
        )  # the caller of measurement_QASM
    exact = float(mps.expectation(terms).real) / mps.norm() ** 2

    def draw(group: MeasurementGroup, shots: int, seed: int):
        return mps.sample(shots, seed, x_mask=group.x_mask, y_mask=group.y_mask)

    return exact, draw
