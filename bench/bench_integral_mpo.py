"""MPO built from the integrals against the MPO the model builds from its local terms.

For every system: the bond dimensions and build time of `integral_mpo` and,
for comparison, of its lean equivalent (`lean_mpo`); where the fermionic terms
are affordable (up to h10), those of the term-built model (`_molecular_model`,
its MPO assembled in one pass per tensor) and of its lean equivalent. For the
demo presets and h8 the DMRG energy on the integral MPO is compared with the
stage's own (term-built, lean MPO), side by side in this process with the
stage's settings and seed.

    python bench/bench_integral_mpo.py [--repeats N] [systems...]

Systems: h2 lih h2o-small h2o (the demo presets) and hN, a chain of N hydrogen
atoms 1.0 Å apart in sto-3g with every orbital active (h8, h10, h12, h16).
Default: all of them. Integrals come from PySCF (RHF, frozen core as in the
electronic-structure stage); no CASCI is run.
"""

from __future__ import annotations

import argparse
import contextlib
import io
from types import SimpleNamespace

import numpy as np

from brimvale_chemistry import workflow
from brimvale_chemistry.dmrg import driver, mallorek
from brimvale_chemistry.dmrg.integral_mpo import integral_mpo
from brimvale_chemistry.dmrg.lean_mpo import lean_mpo
from brimvale_chemistry.molecule import Molecule
from brimvale_chemistry.molecule._hamiltonian import active_space_fermion_operator, fermion_terms
from timing import median_time

DEFAULT = ["h2", "lih", "h2o-small", "h2o", "h8", "h10", "h12", "h16"]
TERM_BUILT_UP_TO = 10  # orbitals; beyond, OpenFermion's term list alone takes minutes
DMRG_UP_TO = 8


def molecule_of(key: str) -> Molecule:
    if key in workflow._DEMOS:
        return Molecule(**{k: v for k, v in workflow._DEMOS[key].items() if k != "desc"})
    atoms = int(key[1:])
    return Molecule(
        geometry=[("H", (0.0, 0.0, float(k))) for k in range(atoms)],
        basis="sto-3g",
        active_occupied=atoms // 2,
        active_virtual=atoms - atoms // 2,
    )


def active_integrals(molecule: Molecule):
    """(h, (pq|rs), n_electrons, 2 Sz, core energy) of the active space, as the stage computes them."""
    from pyscf import ao2mo, gto, lib, mcscf, scf

    with lib.with_omp_threads(1):
        mol = gto.M(
            atom=list(molecule.geometry),
            basis=molecule.basis,
            charge=molecule.charge,
            spin=molecule.spin,
            unit="Angstrom",
            verbose=0,
        )
        mf = scf.RHF(mol) if molecule.spin == 0 else scf.ROHF(mol)
        mf.conv_tol = 1e-11
        mf.kernel()
        n = molecule.n_active_orbitals
        n_core = molecule.n_occupied_orbitals - molecule.active_occupied
        n_active = molecule.n_electrons - 2 * n_core
        casci = mcscf.CASCI(mf, n, ((n_active + molecule.spin) // 2, (n_active - molecule.spin) // 2))
        h, core = casci.get_h1eff()
        g = ao2mo.restore(1, casci.get_h2eff(), n)
    return np.ascontiguousarray(h), np.ascontiguousarray(g), n_active, molecule.spin, float(core)


def dmrg_energy(es, replace_mpo):
    with contextlib.ExitStack() as stack:
        if replace_mpo is not None:
            original = driver._use_lean_mpo
            driver._use_lean_mpo = replace_mpo
            stack.callback(setattr, driver, "_use_lean_mpo", original)
        stack.enter_context(contextlib.redirect_stdout(io.StringIO()))
        return driver.dmrg(es).energy


def main():
    from tenpy.networks.site import SpinHalfFermionSite

    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("systems", nargs="*", default=DEFAULT)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    for key in args.systems:
        h, g, n_electrons, twice_sz, core = active_integrals(molecule_of(key))
        n = h.shape[0]
        sites = [SpinHalfFermionSite(cons_N="N", cons_Sz="Sz")] * n
        seconds, mpo = median_time(args.repeats, lambda: integral_mpo(h, g, sites))
        print(f"{key}: {n} orbitals, {2 * n} qubits; median of {args.repeats} builds")
        print(f"  integral MPO          : {seconds:8.3f} s  max {max(mpo.chi):5d}  {mpo.chi}")
        seconds, lean = median_time(args.repeats, lambda: lean_mpo(mpo))
        print(f"  lean integral MPO     : {seconds:8.3f} s  max {max(lean.chi):5d}  {lean.chi}")
        if n > TERM_BUILT_UP_TO:
            continue
        terms = fermion_terms(active_space_fermion_operator(SimpleNamespace(one_body=h, two_body=g)))
        seconds, model = median_time(
            args.repeats, lambda: mallorek._molecular_model(n, mallorek._fermion_to_local_terms(terms, 2 * n))
        )
        print(
            f"  term-built MPO        : {seconds:8.3f} s  max {max(model.H_MPO.chi):5d}  {model.H_MPO.chi}"
            f"  ({len(terms)} terms)"
        )
        seconds, lean = median_time(args.repeats, lambda: lean_mpo(model.H_MPO))
        print(f"  lean term-built MPO   : {seconds:8.3f} s  max {max(lean.chi):5d}  {lean.chi}")
        if n > DMRG_UP_TO:
            continue
        es = SimpleNamespace(
            n_qubits=2 * n,
            n_spatial_orbitals=n,
            n_electrons=n_electrons,
            twice_sz=twice_sz,
            fermion_terms=terms,
            constant_energy=core,
            exact_energy=None,
        )
        from_terms = dmrg_energy(es, None)
        from_integrals = dmrg_energy(es, lambda m: setattr(m, "H_MPO", integral_mpo(h, g, m.lat.mps_sites())))
        print(
            f"  DMRG energy (Ha)      : stage {from_terms:.12f}, integral {from_integrals:.12f}, "
            f"difference {from_integrals - from_terms:+.1e}",
            flush=True,
        )


if __name__ == "__main__":
    main()
