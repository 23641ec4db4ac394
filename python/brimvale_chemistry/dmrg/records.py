"""Record type of the DMRG stage."""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from brimvale import MPS


@dataclass
class DmrgResult:
    """Ground state found by DMRG.

    ``psi0`` is the dense state vector in the spin-blocked qubit order (qubit 0
    the least significant bit), None where the stage ran with ``state="mps"``; ``energy`` is the total energy in Hartree
    (DMRG energy plus the constant energy of the active space);
    ``bond_dimensions`` are the bonds of the final MPS, ``sweeps`` the sweeps
    run, ``truncation_error`` the largest discarded weight of any sweep and
    ``wall_time`` the seconds the stage took. ``mps`` is the same ground state
    as a :class:`brimvale.MPS` in the spin-blocked qubit order, with psi0's
    fermionic signs; ``mps_discarded_weight`` is what its conversion from
    TeNPy's orbital MPS discarded (rounding level).
    """

    psi0: np.ndarray | None
    energy: float
    bond_dimensions: list[int] = field(default_factory=list)
    sweeps: int = 0
    truncation_error: float = 0.0
    wall_time: float = 0.0
    mps: MPS | None = None
    mps_discarded_weight: float = 0.0

    @property
    def max_bond_dimension(self) -> int:
        return max(self.bond_dimensions, default=1)
