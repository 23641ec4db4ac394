"""Record types of the electronic-structure stage."""

from __future__ import annotations

import math
import reprlib
from collections import Counter
from collections.abc import Sequence
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any

import numpy as np

from brimvale._checks import at_least, is_real, strict_integer

from ._elements import ATOMIC_NUMBERS, canonical_symbol

# Nuclei closer than this (ångström) are taken as the same point: the
# nuclear repulsion would be meaningless.
_COINCIDENT_DISTANCE = 1e-6


def _strict_int(value, name: str) -> int:
    return strict_integer(value, name, shown=reprlib.repr)


def _atom(index: int, atom) -> tuple[str, tuple[float, float, float]]:
    try:
        symbol, position = atom
    except (TypeError, ValueError):
        raise ValueError(f"atom {index} must be a pair (element symbol, (x, y, z)), got {reprlib.repr(atom)}") from None
    if not isinstance(symbol, str):
        raise TypeError(f"element symbol of atom {index} must be a string, got {reprlib.repr(symbol)}")
    canonical = canonical_symbol(symbol)
    if canonical is None:
        raise ValueError(f"unknown element {reprlib.repr(symbol)} in atom {index}")
    if isinstance(position, (str, bytes)):
        raise TypeError(f"position of atom {index} must be three numbers (x, y, z), got {reprlib.repr(position)}")
    try:
        coordinates = tuple(position)
    except TypeError:
        raise TypeError(
            f"position of atom {index} must be three numbers (x, y, z), got {reprlib.repr(position)}"
        ) from None
    if len(coordinates) != 3:
        raise ValueError(f"position of atom {index} must have 3 coordinates, got {len(coordinates)}")
    checked = []
    for axis, value in zip("xyz", coordinates):
        if not is_real(value):
            raise TypeError(f"coordinate {axis} of atom {index} must be a real number, got {reprlib.repr(value)}")
        if not math.isfinite(value):
            raise ValueError(f"coordinate {axis} of atom {index} must be finite, got {reprlib.repr(value)}")
        checked.append(float(value))
    return canonical, (checked[0], checked[1], checked[2])


_SUBSCRIPT_DIGITS = str.maketrans("0123456789", "\u2080\u2081\u2082\u2083\u2084\u2085\u2086\u2087\u2088\u2089")


def _refuse_coincident_atoms(atoms) -> None:
    """ValueError naming the first pair (in input order) closer than _COINCIDENT_DISTANCE.

    Atoms are binned in cubes of that edge, so only the 27 cubes around an
    atom can hold a partner: linear time, where comparing every pair would
    take hours on a file of a million atoms.
    """
    cells: dict[tuple[int, int, int], list[int]] = {}
    for i, (_, position) in enumerate(atoms):
        cell = tuple(math.floor(c / _COINCIDENT_DISTANCE) for c in position)
        partners = [
            j
            for dx in (-1, 0, 1)
            for dy in (-1, 0, 1)
            for dz in (-1, 0, 1)
            for j in cells.get((cell[0] + dx, cell[1] + dy, cell[2] + dz), ())
            if math.dist(position, atoms[j][1]) < _COINCIDENT_DISTANCE
        ]
        if partners:
            raise ValueError(f"atoms {min(partners)} and {i} are at the same position {position}")
        cells.setdefault(cell, []).append(i)


def _hill_formula(symbols: Sequence[str]) -> str:
    counts = Counter(symbols)
    if "C" in counts:
        order = ["C"] + (["H"] if "H" in counts else []) + sorted(s for s in counts if s not in ("C", "H"))
    else:
        order = sorted(counts)
    return "".join(s + (str(counts[s]) if counts[s] > 1 else "") for s in order)


class Molecule:
    """A molecule with an active space, checked when it is built.

    ``geometry`` is a sequence of ``(element symbol, (x, y, z))`` with coordinates
    in ångström; ``basis`` names a Gaussian basis set (e.g. "sto-3g");
    ``active_occupied`` and ``active_virtual`` count the active spatial orbitals
    just below and just above the Fermi level; ``charge`` is the net charge and
    ``spin`` is 2S, the number of unpaired electrons.

    Raises TypeError for values of the wrong type and ValueError for an empty
    geometry, an unknown element, a coordinate that is not finite, coinciding
    atoms, a negative or empty active space, or an electron count that does
    not fit ``charge`` and ``spin``. Instances are immutable.
    """

    __slots__ = ("_geometry", "_basis", "_active_occupied", "_active_virtual", "_charge", "_spin")

    def __init__(
        self,
        *,
        geometry: Sequence,
        basis: str,
        active_occupied: int,
        active_virtual: int,
        charge: int = 0,
        spin: int = 0,
    ):
        if isinstance(geometry, (str, bytes)):
            raise TypeError("geometry must be a sequence of (element symbol, (x, y, z)) pairs, got a string")
        try:
            atoms = list(geometry)
        except TypeError:
            raise TypeError(
                f"geometry must be a sequence of (element symbol, (x, y, z)) pairs, got {type(geometry).__name__}"
            ) from None
        if not atoms:
            raise ValueError("geometry must contain at least one atom")
        checked = tuple(_atom(i, atom) for i, atom in enumerate(atoms))
        _refuse_coincident_atoms(checked)

        if not isinstance(basis, str):
            raise TypeError(f"basis must be a string, got {basis!r}")
        if not basis.strip():
            raise ValueError("basis must name a basis set, got an empty string")

        active_occupied = _strict_int(active_occupied, "active_occupied")
        active_virtual = _strict_int(active_virtual, "active_virtual")
        at_least(active_occupied, 0, "active_occupied must be non-negative")
        at_least(active_virtual, 0, "active_virtual must be non-negative")
        if active_occupied + active_virtual == 0:
            raise ValueError("the active space must hold at least one orbital (active_occupied + active_virtual >= 1)")

        charge = _strict_int(charge, "charge")
        spin = _strict_int(spin, "spin")
        at_least(spin, 0, "spin (2S) must be non-negative")
        n_electrons = sum(ATOMIC_NUMBERS[symbol] for symbol, _ in checked) - charge
        if n_electrons < 1:
            raise ValueError(f"charge {charge} leaves {n_electrons} electrons; at least one is needed")
        if spin > n_electrons or (n_electrons - spin) % 2:
            raise ValueError(
                f"spin (2S) {spin} does not fit {n_electrons} electrons: 2S must not exceed the electron count "
                "and must have the same parity"
            )

        self._geometry = checked
        self._basis = basis.strip()
        self._active_occupied = active_occupied
        self._active_virtual = active_virtual
        self._charge = charge
        self._spin = spin

    geometry = property(lambda self: self._geometry, doc="Atoms as ``(symbol, (x, y, z))`` in ångström.")
    basis = property(lambda self: self._basis, doc="Name of the basis set.")
    active_occupied = property(lambda self: self._active_occupied, doc="Active orbitals below the Fermi level.")
    active_virtual = property(lambda self: self._active_virtual, doc="Active orbitals above the Fermi level.")
    charge = property(lambda self: self._charge, doc="Net charge.")
    spin = property(lambda self: self._spin, doc="2S: unpaired electrons.")

    @property
    def n_electrons(self) -> int:
        """All electrons of the molecule (core included)."""
        return sum(ATOMIC_NUMBERS[symbol] for symbol, _ in self._geometry) - self._charge

    @property
    def n_occupied_orbitals(self) -> int:
        """Spatial orbitals holding at least one electron in the Hartree-Fock reference."""
        return (self.n_electrons + self._spin) // 2

    @property
    def n_active_orbitals(self) -> int:
        return self._active_occupied + self._active_virtual

    @property
    def formula(self) -> str:
        """Chemical formula in Hill order, e.g. "H2O"."""
        return _hill_formula([symbol for symbol, _ in self._geometry])

    @property
    def n_active_electrons(self) -> int:
        """Electrons in the active space: the occupied active orbitals hold all but the unpaired deficit."""
        return 2 * self._active_occupied - self._spin

    @property
    def description(self) -> str:
        """Formula, basis, active space and qubit count, e.g. "H₂O/sto-3g CAS(4e,4o) → 8 qubits"."""
        formula = self.formula.translate(_SUBSCRIPT_DIGITS)
        return (
            f"{formula}/{self._basis} CAS({self.n_active_electrons}e,{self.n_active_orbitals}o) "
            f"\u2192 {2 * self.n_active_orbitals} qubits"
        )

    def _key(self):
        return (self._geometry, self._basis, self._active_occupied, self._active_virtual, self._charge, self._spin)

    def __eq__(self, other):
        if not isinstance(other, Molecule):
            return NotImplemented
        return self._key() == other._key()

    def __hash__(self):
        return hash(self._key())

    def __repr__(self) -> str:
        return (
            f"Molecule(geometry={list(self._geometry)!r}, basis={self._basis!r}, "
            f"active_occupied={self._active_occupied}, active_virtual={self._active_virtual}, "
            f"charge={self._charge}, spin={self._spin})"
        )


@dataclass
class ElectronicStructureResult:
    """The active-space Hamiltonian of a molecule, fermionic and as qubit Pauli terms.

    ``pauli_terms`` act on ``n_qubits`` = 2·``n_spatial_orbitals`` qubits in the
    spin-blocked order; ``fermion_terms`` are ``(coefficient, ((mode, action), …))``
    with interleaved modes 2p + s and action 1 for creation, 0 for annihilation.
    ``n_electrons`` and ``twice_sz`` are those of the active space.
    Energies are in Hartree; ``constant_energy`` (nuclear repulsion plus the
    frozen core) is included in ``pauli_terms``' identity term, in
    ``hf_energy`` and in ``exact_energy``, but not in ``fermion_terms``.
    ``exact_energy`` is the ground-state energy within the active space for
    the molecule's electron count and 2·Sz (CASCI), or None where the active
    space has too many determinants to solve it; ``fcidump_path`` is the file with
    the active-space integrals. ``one_body_integrals`` h[p, q] and
    ``two_body_integrals`` (pq|rs) in chemists' notation are the active-space
    integrals in the molecular-orbital basis; ``extra`` holds them under the
    same keys as well, for callers that read them there, and a few details of
    the reference calculation.
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
    exact_energy: float | None
    fcidump_path: Path | None = None
    # Holds arrays, so it takes no part in equality.
    extra: dict[str, Any] = field(default_factory=dict, repr=False, compare=False)
    one_body_integrals: np.ndarray | None = field(default=None, repr=False, compare=False)
    two_body_integrals: np.ndarray | None = field(default=None, repr=False, compare=False)


def integrals_of(result) -> tuple[np.ndarray | None, np.ndarray | None]:
    """(h[p, q], (pq|rs)) of an electronic-structure result, None where it has none.

    The typed fields are read first; a result that carries the integrals in
    ``extra`` only (made before the fields existed, or by another producer)
    gives those.
    """
    extra = getattr(result, "extra", None) or {}
    one_body = getattr(result, "one_body_integrals", None)
    two_body = getattr(result, "two_body_integrals", None)
    if one_body is None:
        one_body = extra.get("one_body_integrals")
    if two_body is None:
        two_body = extra.get("two_body_integrals")
    return one_body, two_body
