"""Spin-blocked Pauli terms of the active-space Hamiltonian: OpenFermion's route against the native transform.

Side by side in one process, on the same fermionic operator: the time of each
route (median of --repeats) and whether the Pauli terms agree bit for bit.

    python bench/bench_qubit_hamiltonian.py [--repeats N] [presets...]   (default: h2o h10 h12 h16)
"""

from __future__ import annotations

import argparse

from brimvale_chemistry import workflow
from brimvale_chemistry.molecule import Molecule, _active_space
from brimvale_chemistry.molecule import _hamiltonian as hamiltonian
from timing import median_time


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("presets", nargs="*", default=["h2o", "h10", "h12", "h16"])
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    _active_space.MAX_CASCI_DETERMINANTS = 0  # the reference plays no part here
    print(
        f"{'preset':<7} {'qubits':>6} {'terms':>6} {'OpenFermion (s)':>15} {'native (s)':>10} {'speed-up':>8} "
        f"{'bit for bit':>11}"
    )
    for key in args.presets:
        record = {k: v for k, v in workflow._DEMOS[key].items() if k != "desc"}
        space = _active_space.build_active_space(Molecule(**record))
        operator = hamiltonian.active_space_fermion_operator(space)
        terms = hamiltonian.fermion_terms(operator)
        n, constant = space.n_orbitals, space.core_energy
        old_s, old = median_time(args.repeats, lambda: hamiltonian.spin_blocked_pauli_terms(operator, n, constant))
        new_s, new = median_time(args.repeats, lambda: hamiltonian.native_spin_blocked_pauli_terms(terms, n, constant))
        same = [(t.paulis, t.coefficient) for t in old] == [(t.paulis, t.coefficient) for t in new]
        print(
            f"{key:<7} {2 * n:>6} {len(new):>6} {old_s:>15.2f} {new_s:>10.3f} {old_s / new_s:>7.1f}x {str(same):>11}",
            flush=True,
        )


if __name__ == "__main__":
    main()
