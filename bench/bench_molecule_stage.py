"""Electronic-structure stage on the four demo molecules.

For each molecule, the stage is timed side by side with the bare PySCF work it
cannot avoid (SCF, active-space integrals and CASCI); the ratio is the cost of
everything the stage adds (fermionic Hamiltonian, spin-blocked Jordan-Wigner
transform, Pauli terms, FCIDUMP file).
"""

import contextlib
import io
import tempfile
import time

from pyscf import ao2mo, gto, mcscf, scf

from brimvale_chemistry.molecule import Molecule, electronic_structure

WATER = [("O", (0.0, 0.0, 0.0)), ("H", (0.758602, 0.0, 0.504284)), ("H", (-0.758602, 0.0, 0.504284))]
PRESETS = {
    "h2": ([("H", (0, 0, 0)), ("H", (0, 0, 0.7414))], "sto-3g", 1, 1),
    "lih": ([("Li", (0, 0, 0)), ("H", (0, 0, 1.5949))], "sto-3g", 2, 2),
    "h2o-small": (WATER, "sto-3g", 2, 2),
    "h2o": (WATER, "6-31g", 3, 4),
}


def bare_pyscf(geometry, basis, occupied, virtual):
    mol = gto.M(atom=geometry, basis=basis, unit="Angstrom", verbose=0)
    mf = scf.RHF(mol)
    mf.conv_tol = 1e-11
    mf.kernel()
    n_core = mol.nelectron // 2 - occupied
    casci = mcscf.CASCI(mf, occupied + virtual, mol.nelectron - 2 * n_core)
    casci.verbose = 0
    casci.fcisolver.conv_tol = 1e-12
    casci.get_h1eff()
    ao2mo.restore(1, casci.get_h2eff(), occupied + virtual)
    return casci.kernel()[0]


def best_of(repeats, call):
    times = []
    for _ in range(repeats):
        start = time.perf_counter()
        value = call()
        times.append(time.perf_counter() - start)
    return min(times), value


def main():
    workdir = tempfile.mkdtemp(prefix="bench_molecule_")
    # Import and warm up the libraries outside the timed region.
    with contextlib.redirect_stdout(io.StringIO()):
        electronic_structure(
            Molecule(geometry=PRESETS["h2"][0], basis="sto-3g", active_occupied=1, active_virtual=1), workdir=workdir
        )
    print(
        f"{'preset':<10} {'qubits':>6} {'terms':>6} {'HF (Ha)':>16} {'CASCI (Ha)':>16} "
        f"{'stage s':>8} {'pyscf s':>8} {'ratio':>6}"
    )
    for name, (geometry, basis, occupied, virtual) in PRESETS.items():
        molecule = Molecule(geometry=geometry, basis=basis, active_occupied=occupied, active_virtual=virtual)
        with contextlib.redirect_stdout(io.StringIO()):
            stage_time, result = best_of(3, lambda: electronic_structure(molecule, workdir=workdir))
        pyscf_time, _ = best_of(3, lambda: bare_pyscf(geometry, basis, occupied, virtual))
        print(
            f"{name:<10} {result.n_qubits:>6} {len(result.pauli_terms):>6} {result.hf_energy:>16.10f} "
            f"{result.exact_energy:>16.10f} {stage_time:>8.3f} {pyscf_time:>8.3f} {stage_time / pyscf_time:>6.2f}"
        )


if __name__ == "__main__":
    main()
