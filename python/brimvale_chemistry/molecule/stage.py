"""The electronic-structure stage: from a molecule to its qubit Hamiltonian."""

from __future__ import annotations

import os
from pathlib import Path

from ..utils import progress_line as _line
from . import _active_space
from ._active_space import build_active_space
from ._fcidump import fcidump_name, write_fcidump
from ._hamiltonian import active_space_fermion_operator, fermion_terms, qubit_hamiltonian
from .records import ElectronicStructureResult, Molecule


def electronic_structure(molecule: Molecule, *, workdir=None) -> ElectronicStructureResult:
    """Active-space qubit Hamiltonian of ``molecule`` in the spin-blocked order.

    Runs restricted Hartree-Fock (ROHF for an open shell), freezes the occupied
    orbitals below the active space into a core energy, builds the active-space
    Hamiltonian from the molecular-orbital integrals, maps it to qubits with the
    spin-blocked Jordan-Wigner transform and solves it exactly (CASCI) for
    reference, unless it has more than 10**7 determinants (``exact_energy``
    None, printed as "n/a"). The integrals are written as an FCIDUMP file under ``workdir``
    (created if needed; the current directory when None).

    Raises TypeError when ``molecule`` is not a Molecule, and ValueError when the
    active space asks for more occupied or virtual orbitals than the molecule
    has, or when the SCF does not converge.
    """
    if not isinstance(molecule, Molecule):
        raise TypeError(f"molecule must be a Molecule, got {type(molecule).__name__}")
    if workdir is None:
        workdir = Path.cwd()
    elif isinstance(workdir, (str, os.PathLike)):
        workdir = Path(workdir)
    else:
        raise TypeError(f"workdir must be a path or None, got {type(workdir).__name__}")

    print("[1/4] Electronic structure", flush=True)
    _line("Molecule", f"{molecule.formula} ({molecule.basis}, charge {molecule.charge}, 2S = {molecule.spin})")
    space = build_active_space(molecule)
    n_qubits = 2 * space.n_orbitals
    core = f"{space.n_core} frozen core orbital" + ("" if space.n_core == 1 else "s")
    _line("Active space", f"CAS({space.n_electrons}e,{space.n_orbitals}o), {core}")
    _line("Qubits", n_qubits)

    operator = active_space_fermion_operator(space)
    terms = fermion_terms(operator)
    pauli_terms = qubit_hamiltonian(operator, terms, space.n_orbitals, space.core_energy)
    _line("Pauli terms", len(pauli_terms))
    _line(f"{space.scf_method} energy", f"{space.hf_energy:.10f} Ha")
    if space.casci_energy is None:
        _line(
            "CASCI energy",
            f"n/a ({space.n_determinants:,} determinants, skipped above {_active_space.MAX_CASCI_DETERMINANTS:,})",
        )
    else:
        _line("CASCI energy", f"{space.casci_energy:.10f} Ha")

    workdir.mkdir(parents=True, exist_ok=True)
    path = write_fcidump(workdir / fcidump_name(molecule, space), space, molecule.spin)
    _line("FCIDUMP", path.resolve())

    return ElectronicStructureResult(
        molecule=molecule,
        pauli_terms=pauli_terms,
        n_qubits=n_qubits,
        n_spatial_orbitals=space.n_orbitals,
        n_electrons=space.n_electrons,
        twice_sz=molecule.spin,
        fermion_terms=terms,
        constant_energy=space.core_energy,
        hf_energy=space.hf_energy,
        exact_energy=space.casci_energy,
        fcidump_path=path,
        extra={
            "scf_method": space.scf_method,
            "nuclear_repulsion": space.nuclear_repulsion,
            "n_core_orbitals": space.n_core,
            "n_alpha": space.n_alpha,
            "n_beta": space.n_beta,
            "orbital_energies": space.orbital_energies,
            "one_body_integrals": space.one_body,
            "two_body_integrals": space.two_body,
        },
        one_body_integrals=space.one_body,
        two_body_integrals=space.two_body,
    )
