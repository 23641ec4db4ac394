"""Record types of the electronic-structure stage."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Sequence


class Molecule:
    """A molecule with an active space.

    ``geometry`` is a sequence of ``(element symbol, (x, y, z))`` with coordinates
    in ångström; ``active_occupied`` and ``active_virtual`` count active spatial
    orbitals below and above the Fermi level; ``spin`` is 2S.
    """

    def __init__(self, *, geometry: Sequence, basis: str, active_occupied: int, active_virtual: int,
                 charge: int = 0, spin: int = 0):
        self.geometry = [(str(symbol), tuple(float(c) for c in xyz)) for symbol, xyz in geometry]
        self.basis = basis
        self.active_occupied = active_occupied
        self.active_virtual = active_virtual
        self.charge = charge
        self.spin = spin

    def __repr__(self) -> str:
        return (f"Molecule(geometry={self.geometry!r}, basis={self.basis!r}, "
                f"active_occupied={self.active_occupied}, active_virtual={self.active_virtual}, "
                f"charge={self.charge}, spin={self.spin})")


@dataclass
class ElectronicStructureResult:
    """The active-space Hamiltonian of a molecule, fermionic and as qubit Pauli terms.

    ``pauli_terms`` act on ``n_qubits`` = 2·``n_spatial_orbitals`` qubits in the
    spin-blocked order; ``fermion_terms`` are ``(coefficient, ((mode, action), …))``
    with interleaved modes 2p + s and action 1 for creation, 0 for annihilation.
    Energies are in Hartree; ``constant_energy`` (nuclear repulsion plus the
    frozen core) is included in ``pauli_terms``' identity term, in
    ``hf_energy`` and in ``exact_energy``, but not in ``fermion_terms``.
    """

    molecule: Molecule
    pauli_terms: list
    n_qubits: int
    n_spatial_orbitals: int
    n_electrons: int
    twice_sz: int
    fermion_terms: list = field(repr=False)
    constant_energy: float
    hf_energy: float
    exact_energy: float
    fcidump_path: Path | None = None
    extra: dict[str, Any] = field(default_factory=dict, repr=False)
