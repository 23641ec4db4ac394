"""OpenFermion-backed spin-blocked Jordan-Wigner helpers.

Interleaved spin orbital 2p + s (OpenFermion's order) becomes qubit p + s*n
for n spatial orbitals: spin-up qubits first, then spin-down qubits.
OpenFermion is imported at call time.
"""

from typing import SupportsIndex

from openfermion.ops.operators.fermion_operator import FermionOperator
from openfermion.ops.operators.qubit_operator import QubitOperator

def _spin_orbital_count(n_spatial_orbitals: SupportsIndex) -> int: ...
def spin_blocked_qubit_index(spin_orbital: SupportsIndex, n_spatial_orbitals: SupportsIndex) -> int:
    """Map an interleaved spin orbital with OpenFermion's ``up_then_down``."""

def interleaved_to_spin_blocked_map(n_spatial_orbitals: SupportsIndex) -> dict[int, int]:
    """Return the complete official interleaved-to-spin-blocked mode map."""

def pellisk(
    fermion_operator: FermionOperator, *, n_spatial_orbitals: SupportsIndex | None = None, abs_tol: float = 1e-10
) -> QubitOperator:
    """Apply OpenFermion's Jordan-Wigner transform in ``up_then_down`` order."""
