"""Hartree-Fock reference, frozen core and active-space integrals with PySCF."""

from __future__ import annotations

from dataclasses import dataclass
from math import comb

import numpy as np

from .records import Molecule

# Energy convergence of the SCF; tighter than PySCF's default so that the
# reference energy and the active-space integrals agree to well below 1e-8.
_SCF_CONV_TOL = 1e-11
_SCF_MAX_CYCLE = 100
_CASCI_CONV_TOL = 1e-12
# Largest tolerated gap between the SCF energy and the energy of the
# Hartree-Fock determinant rebuilt from the active-space integrals.
_REFERENCE_CHECK_TOL = 1e-6
# CASCI holds vectors over every determinant of the active space; beyond this
# many (1.3 GB per vector at 1.6e8, for 16 orbitals at half filling) it would
# outlast the rest of the pipeline, and the reference is left out.
MAX_CASCI_DETERMINANTS = 10**7


@dataclass(frozen=True)
class ActiveSpace:
    """Active-space integrals (molecular-orbital basis) and reference energies."""

    n_orbitals: int
    n_alpha: int
    n_beta: int
    n_core: int
    core_energy: float  # nuclear repulsion plus frozen core
    nuclear_repulsion: float
    one_body: np.ndarray  # h[p, q]
    two_body: np.ndarray  # (pq|rs), chemists' order
    hf_energy: float
    casci_energy: float | None  # None where the determinant space is too large
    scf_method: str
    orbital_energies: np.ndarray  # of the active orbitals

    @property
    def n_electrons(self) -> int:
        return self.n_alpha + self.n_beta

    @property
    def n_determinants(self) -> int:
        return determinant_count(self.n_orbitals, self.n_alpha, self.n_beta)


def determinant_count(n_orbitals: int, n_alpha: int, n_beta: int) -> int:
    """Determinants of the active space with n_alpha up and n_beta down electrons in n_orbitals orbitals."""
    return comb(n_orbitals, n_alpha) * comb(n_orbitals, n_beta)


def _build_pyscf_molecule(molecule: Molecule):
    import warnings

    from pyscf import gto
    from pyscf.lib.exceptions import BasisNotFoundError

    mol = gto.Mole()
    mol.atom = [(symbol, position) for symbol, position in molecule.geometry]
    mol.basis = molecule.basis
    mol.charge = molecule.charge
    mol.spin = molecule.spin
    mol.unit = "Angstrom"
    mol.verbose = 0
    try:
        # PySCF warns of an online source of basis sets before it fails.
        with warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)
            mol.build()
    except BasisNotFoundError:
        elements = ", ".join(sorted({symbol for symbol, _ in molecule.geometry}))
        raise ValueError(f"basis {molecule.basis!r} is unknown, or has no functions for one of {elements}") from None
    return mol


def check_against_basis(molecule: Molecule) -> None:
    """ValueError when the basis is unknown or the active space does not fit it; no SCF is run.

    The orbitals the SCF might drop as linearly dependent are not known yet;
    the stage itself checks again after it.
    """
    _check_active_space(molecule, _build_pyscf_molecule(molecule).nao_nr())


def _check_active_space(molecule: Molecule, n_orbitals: int, n_dropped: int = 0) -> None:
    """``n_orbitals`` molecular orbitals, after the SCF dropped ``n_dropped`` linearly dependent ones."""
    occupied = molecule.n_occupied_orbitals
    virtual = n_orbitals - occupied
    if occupied > n_orbitals:
        raise ValueError(
            f"{molecule.formula} in basis {molecule.basis} has {n_orbitals} orbital{'s' if n_orbitals > 1 else ''}, "
            f"too few for {molecule.n_electrons} electrons with 2S = {molecule.spin}: they need {occupied}"
        )
    note = ""
    if n_dropped:
        note = (
            f" once {n_dropped} linearly dependent basis function{'s' if n_dropped > 1 else ''} "
            f"{'are' if n_dropped > 1 else 'is'} dropped (atoms too close together?)"
        )
    if molecule.active_occupied > occupied:
        raise ValueError(
            f"the active space asks for {molecule.active_occupied} occupied orbitals but "
            f"{molecule.formula} has only {occupied}"
        )
    if molecule.active_virtual > virtual:
        raise ValueError(
            f"the active space asks for {molecule.active_virtual} virtual orbitals but "
            f"{molecule.formula} in basis {molecule.basis} has only {max(virtual, 0)}{note}"
        )
    if molecule.active_occupied < molecule.spin:
        # A frozen core must be doubly occupied: every singly occupied orbital is active.
        raise ValueError(
            f"active_occupied must be at least spin (2S = {molecule.spin}) so that every singly "
            f"occupied orbital is active, got {molecule.active_occupied}"
        )


def _run_scf(mol, molecule: Molecule):
    from pyscf import scf

    method = "RHF" if molecule.spin == 0 else "ROHF"
    mf = scf.RHF(mol) if molecule.spin == 0 else scf.ROHF(mol)
    mf.conv_tol = _SCF_CONV_TOL
    mf.max_cycle = _SCF_MAX_CYCLE
    mf.kernel()
    if not mf.converged:
        raise ValueError(
            f"the {method} calculation of {molecule.formula} in basis {molecule.basis} did not converge "
            f"within {mf.max_cycle} cycles; no active space is built on an unconverged reference"
        )
    occupations = np.asarray(mf.mo_occ)
    if np.any(np.diff(occupations) > 0):
        raise AssertionError(f"{method} orbitals are not ordered by occupation: {occupations.tolist()}")
    return mf, method


def _determinant_energy(core_energy: float, h: np.ndarray, eri: np.ndarray, n_alpha: int, n_beta: int) -> float:
    """Energy of the determinant filling the lowest n_alpha up and n_beta down orbitals."""
    coulomb = np.einsum("iijj->ij", eri)
    exchange = np.einsum("ijji->ij", eri)
    up, down = slice(0, n_alpha), slice(0, n_beta)
    energy = core_energy + np.trace(h[up, up]) + np.trace(h[down, down])
    energy += 0.5 * (coulomb[up, up] - exchange[up, up]).sum()
    energy += 0.5 * (coulomb[down, down] - exchange[down, down]).sum()
    energy += coulomb[up, down].sum()
    return float(energy)


def build_active_space(molecule: Molecule) -> ActiveSpace:
    """SCF reference, checked active space, its integrals and its exact (CASCI) energy.

    The CASCI energy is None where the active space has more than
    MAX_CASCI_DETERMINANTS determinants.
    """
    from pyscf import lib

    # PySCF's threaded integral sums add in a different order from run to run,
    # so the integrals would differ in the last bits and every later stage
    # with them; one thread makes the Hamiltonian bit-identical on every run
    # (and is faster for molecules of this size).
    with lib.with_omp_threads(1):
        return _build_active_space(molecule)


def _build_active_space(molecule: Molecule) -> ActiveSpace:
    from pyscf import ao2mo, mcscf

    mol = _build_pyscf_molecule(molecule)
    _check_active_space(molecule, mol.nao_nr())
    mf, method = _run_scf(mol, molecule)
    # The SCF drops linearly dependent combinations of basis functions (atoms
    # almost on top of each other); the active space must fit the orbitals kept.
    n_kept = np.asarray(mf.mo_coeff).shape[-1]
    if n_kept < mol.nao_nr():
        _check_active_space(molecule, n_kept, mol.nao_nr() - n_kept)

    n_orbitals = molecule.n_active_orbitals
    n_core = molecule.n_occupied_orbitals - molecule.active_occupied
    n_active_electrons = molecule.n_electrons - 2 * n_core
    n_alpha = (n_active_electrons + molecule.spin) // 2
    n_beta = (n_active_electrons - molecule.spin) // 2

    casci = mcscf.CASCI(mf, n_orbitals, (n_alpha, n_beta))
    casci.verbose = 0
    casci.fcisolver.conv_tol = _CASCI_CONV_TOL
    if casci.ncore != n_core:
        raise AssertionError(f"CASCI froze {casci.ncore} core orbitals, expected {n_core}")
    one_body, core_energy = casci.get_h1eff()
    two_body = ao2mo.restore(1, casci.get_h2eff(), n_orbitals)
    casci_energy = None
    if determinant_count(n_orbitals, n_alpha, n_beta) <= MAX_CASCI_DETERMINANTS:
        casci_energy = float(casci.kernel()[0])

    one_body = np.ascontiguousarray(one_body, dtype=np.float64)
    two_body = np.ascontiguousarray(two_body, dtype=np.float64)
    core_energy = float(core_energy)
    hf_energy = float(mf.e_tot)
    rebuilt = _determinant_energy(core_energy, one_body, two_body, n_alpha, n_beta)
    if abs(rebuilt - hf_energy) > _REFERENCE_CHECK_TOL:
        raise AssertionError(
            f"active-space integrals give {rebuilt!r} Ha for the {method} determinant, the SCF gave {hf_energy!r} Ha"
        )
    return ActiveSpace(
        n_orbitals=n_orbitals,
        n_alpha=n_alpha,
        n_beta=n_beta,
        n_core=n_core,
        core_energy=core_energy,
        nuclear_repulsion=float(mol.energy_nuc()),
        one_body=one_body,
        two_body=two_body,
        hf_energy=hf_energy,
        casci_energy=casci_energy,
        scf_method=method,
        orbital_energies=np.asarray(mf.mo_energy[n_core : n_core + n_orbitals], dtype=np.float64).copy(),
    )
