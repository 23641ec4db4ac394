"""Circuit synthesis by classical variational disentanglement of a DMRG state."""

from collections.abc import Iterable
from dataclasses import dataclass
from typing import Literal, Never, SupportsIndex, TypeAlias, final

import numpy as np
from numpy.typing import ArrayLike, NDArray

from brimvale import MPS, Circuit

from .dmrg import DmrgResult
from .utils import PauliTerm

__all__ = ["CvdResult", "default_renyi_indices", "cvd_dmrg"]

_PAULI_AXES: str
_ENTANGLER_PARAMS: int
_ROW_WIDTH: int

_Gradient: TypeAlias = Literal["finite-difference", "analytic"]
_State: TypeAlias = Literal["dense", "mps"]

@dataclass
class CvdResult:
    """Result of the circuit synthesis."""

    overlap_mod: float = 0.0
    energy: float = 0.0
    circuit_layers: int = 0
    renyi_indices: list[float] = ...
    circuit_params: int = 0
    circuit: Circuit | None = None
    layer_overlaps: list[float] = ...
    layer_energies: list[float | None] = ...
    cnot_count: int = 0
    two_qubit_depth: int = 0
    layer_cnot_counts: list[int] = ...
    discarded_weight: float = 0.0
    overlap_is_estimate: bool = False
    stop_reason: str | None = None

def cvd_dmrg(
    source: DmrgResult | MPS | ArrayLike,
    *,
    n_qubits: SupportsIndex | None = None,
    pauli_terms: list[PauliTerm] | None = None,
    layers: SupportsIndex | None = None,
    renyi_indices: Iterable[float] | None = None,
    maxiter: SupportsIndex = 200,
    restarts: SupportsIndex = 3,
    init_scale: float = 0.5,
    seed: SupportsIndex = 2077,
    compact: bool = False,
    refine: bool = False,
    threads: SupportsIndex | None = None,
    gradient: _Gradient = "finite-difference",
    state: _State = "dense",
    max_bond: SupportsIndex | None = None,
    cutoff: float | None = None,
    target_overlap: float | None = None,
    max_cnots: SupportsIndex | None = None,
    refine_seconds: float | None = None,
) -> CvdResult:
    """Build a layered circuit whose reverse prepares the state of `source` by classical variational disentanglement."""

def default_renyi_indices(layers: SupportsIndex) -> list[float]:
    """Return the default Renyi index of every layer: ``layers`` times 1.0 (von Neumann)."""

# The reference path of cvd_dmrg: its own keywords only.
def _cvd_dmrg_reference(
    source: DmrgResult | ArrayLike,
    *,
    n_qubits: SupportsIndex | None = None,
    pauli_terms: list[PauliTerm] | None = None,
    layers: SupportsIndex | None = None,
    renyi_indices: Iterable[float] | None = None,
    maxiter: SupportsIndex = 200,
    restarts: SupportsIndex = 3,
    init_scale: float = 0.5,
    seed: SupportsIndex = 2077,
) -> CvdResult: ...

# Gate matrices and the two-qubit state kernel; the 4x4 matrices are in the
# basis |q1 q0>.
def _axis_rotation_matrix(vector: ArrayLike) -> NDArray[np.complex128]: ...
def _entangler_matrix(params: ArrayLike) -> NDArray[np.complex128]: ...
def _apply_two_qubit_unitary(
    state: ArrayLike, matrix: ArrayLike, q0: SupportsIndex, q1: SupportsIndex, n_qubits: SupportsIndex
) -> NDArray[np.complex128]: ...

# Schmidt spectrum and Renyi entropy.
def _schmidt_probabilities(state: ArrayLike, n_qubits: SupportsIndex, bond: SupportsIndex) -> NDArray[np.float64]: ...
def _renyi_entropy(probabilities: ArrayLike, alpha: float) -> float: ...

# Product-state approximation: (factors by qubit, product vector); the
# rotation vector that prepares one factor from |0>.
def _product_state_approximation(
    state: ArrayLike, n_qubits: SupportsIndex
) -> tuple[list[NDArray[np.complex128]], NDArray[np.complex128]]: ...
def _product_factor_rotation(factor: ArrayLike) -> NDArray[np.float64]: ...

# Gate emission onto a circuit, in place.
def _axis_rotation(circuit: Circuit, qubit: SupportsIndex, vector: ArrayLike) -> None: ...
def _pauli_rotation(circuit: Circuit, q0: SupportsIndex, q1: SupportsIndex, axis: str, angle: float) -> None: ...
def _append_entangler(
    circuit: Circuit, q0: SupportsIndex, q1: SupportsIndex, params: ArrayLike, *, inverse: bool = False
) -> None: ...

# (circuit, |<psi0|state>| clipped to [0, 1], energy or None)
def _reverse_preparation_snapshot(
    psi0: ArrayLike,
    disentangled: ArrayLike,
    n_qubits: SupportsIndex,
    gate_rows: ArrayLike,
    pauli_terms: list[PauliTerm] | None,
    *,
    compact: bool = False,
) -> tuple[Circuit, float, float | None]: ...
def _print_layer_metrics(layer: SupportsIndex, overlap_mod: float, energy: float | None) -> None: ...

class _NativeType(type):
    # The metaclass of the classes below (pybind11's); it adds nothing a caller uses.
    ...

@final
class _DisentanglerObjective(metaclass=_NativeType):
    # Made by _disentangler_objective; calling the class raises TypeError.
    def __init__(self, *args: Never, **kwargs: Never) -> None: ...
    @property
    def left_rank(self) -> int: ...
    @property
    def right_rank(self) -> int: ...
    @property
    def gram_dimension(self) -> int: ...
    @property
    def evaluations(self) -> int: ...
    def __call__(self, params: ArrayLike) -> float: ...
    def forward_difference(self, params: ArrayLike) -> tuple[float, NDArray[np.float64]]: ...
    def value_and_gradient(self, params: ArrayLike) -> tuple[float, NDArray[np.float64]]: ...
    def schmidt_probabilities(self, params: ArrayLike) -> NDArray[np.float64]: ...

def _disentangler_objective(
    state: ArrayLike | MPS, n_qubits: SupportsIndex, q0: SupportsIndex, alpha: float
) -> _DisentanglerObjective: ...

@final
class _CircuitInfidelity(metaclass=_NativeType):
    # Made by _circuit_infidelity; calling the class raises TypeError.
    def __init__(self, *args: Never, **kwargs: Never) -> None: ...
    def __call__(self, x: ArrayLike) -> tuple[float, NDArray[np.float64]]: ...

def _circuit_infidelity(
    psi0: ArrayLike | MPS, n_qubits: SupportsIndex, pairs: Iterable[tuple[SupportsIndex, SupportsIndex]]
) -> _CircuitInfidelity: ...
