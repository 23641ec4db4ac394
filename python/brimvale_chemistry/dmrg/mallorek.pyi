"""TeNPy model backend of the DMRG stage: settings, local terms, molecular model, initial MPS and
dense state extraction.
"""

from collections.abc import Generator, Iterable, Sequence
from typing import Any, SupportsIndex, TypeAlias, TypeVar

from numpy.typing import ArrayLike, NDArray

# TeNPy ships no type information: its objects are typed by what they are.
_TenpyModel: TypeAlias = Any  # tenpy.models.model.CouplingMPOModel
_TenpyMPS: TypeAlias = Any  # tenpy.networks.mps.MPS
_TenpySite: TypeAlias = Any  # tenpy.networks.site.Site

_Coefficient = TypeVar("_Coefficient")
# (operator name, lattice index [orbital, 0]) of one factor of a local term
_LocalFactor: TypeAlias = tuple[str, list[int]]

def _validate_dmrg_parameters(chi0: SupportsIndex, maxdim: SupportsIndex, max_sweeps: SupportsIndex) -> None: ...

# Lazily, one (coefficient, factors) per (coefficient, ((mode, action), ...)):
# mode 2 * orbital + spin, action 1 to create and 0 to annihilate.
def _fermion_to_local_terms(
    fermion_terms: Iterable[tuple[_Coefficient, Iterable[tuple[SupportsIndex, int]]]], n_qubits: SupportsIndex
) -> Generator[tuple[_Coefficient, list[_LocalFactor]]]: ...
def _molecular_model(
    n_sites: SupportsIndex, term_list: Iterable[tuple[complex, list[_LocalFactor]]]
) -> _TenpyModel: ...

# target_charge is (N, 2 Sz).
def _max_sector_bond_dimension(n_sites: SupportsIndex, target_charge: Iterable[SupportsIndex]) -> int: ...
def _random_initial_mps(
    sites: Sequence[_TenpySite], labels: Sequence[Any], chi0: SupportsIndex, target_charge: Sequence[SupportsIndex]
) -> _TenpyMPS: ...

# The dense states keep the element type of their input (complex128 or float64).
def _electron_tensor_to_dense(theta: ArrayLike, n_qubits: SupportsIndex) -> NDArray[Any]: ...
def _mps_to_dense(psi: _TenpyMPS, n_qubits: SupportsIndex) -> NDArray[Any]: ...
