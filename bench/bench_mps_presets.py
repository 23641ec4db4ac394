"""The hydrogen-chain presets on the compact path: electronic structure and DMRG with state="mps".

Each preset runs in a fresh process, so that its peak memory (ru_maxrss) is
its own: the electronic-structure stage, then the DMRG stage with its default
settings and state="mps". Printed per preset: the time of each stage, the
peak memory of the process, the bond dimensions of the Hamiltonian's MPO and
of the ground state, and the DMRG energy against CASCI where the stage solved
it (up to 10**7 determinants, i.e. up to h12). The DMRG time includes the
conversion of TeNPy's orbital MPS into the spin-blocked qubit MPS, which is
also shown on its own ("to qubits"). ``--max-sweeps N`` bounds the sweeps, for
a first look at the largest chains.

    python bench/bench_mps_presets.py [--max-sweeps N] [presets...]      (default: h10 h12 h16)
"""

from __future__ import annotations

import contextlib
import io
import json
import resource
import subprocess
import sys
import tempfile
import time

DEFAULT = ["h10", "h12", "h16"]


def measure(key: str, max_sweeps: int | None) -> dict:
    from brimvale_chemistry import workflow
    from brimvale_chemistry.dmrg import dmrg, driver

    record = workflow._DEMOS[key]
    molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
    mpo_bonds = []
    build = driver.integral_model

    def recording_build(*integrals):
        model = build(*integrals)
        mpo_bonds.extend(int(chi) for chi in model.H_MPO.chi)
        return model

    driver.integral_model = recording_build
    conversion = []
    convert = driver.qubit_mps

    def timed_conversion(*args, **kwargs):
        start = time.perf_counter()
        mps = convert(*args, **kwargs)
        conversion.append(time.perf_counter() - start)
        return mps

    driver.qubit_mps = timed_conversion
    settings = {} if max_sweeps is None else {"max_sweeps": max_sweeps}
    with tempfile.TemporaryDirectory() as workdir, contextlib.redirect_stdout(io.StringIO()):
        start = time.perf_counter()
        structure = workflow.electronic_structure(molecule, workdir=workdir)
        structure_seconds = time.perf_counter() - start
        start = time.perf_counter()
        ground = dmrg(structure, state="mps", **settings)
        dmrg_seconds = time.perf_counter() - start
    exact = structure.exact_energy
    return {
        "key": key,
        "qubits": structure.n_qubits,
        "pauli_terms": len(structure.pauli_terms),
        "structure_s": structure_seconds,
        "dmrg_s": dmrg_seconds,
        "conversion_s": conversion[0],
        "sweeps": ground.sweeps,
        "peak_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0,
        "mpo_bonds": mpo_bonds,
        "state_bonds": ground.bond_dimensions,
        "energy": ground.energy,
        "casci": exact,
        "error": None if exact is None else ground.energy - exact,
    }


def main(keys: list[str], max_sweeps: int | None) -> None:
    print(
        f"{'preset':<7} {'qubits':>6} {'terms':>6} {'ES (s)':>8} {'DMRG (s)':>9} {'to qubits':>9} {'sweeps':>6} "
        f"{'peak MiB':>9} "
        f"{'MPO chi':>7} {'MPS chi':>7} {'DMRG energy (Ha)':>17} {'- CASCI (Ha)':>12}",
        flush=True,
    )
    for key in keys:
        extra = [] if max_sweeps is None else [str(max_sweeps)]
        output = subprocess.run(
            [sys.executable, __file__, "--one", key, *extra], check=True, capture_output=True, text=True
        )
        row = json.loads(output.stdout)
        error = "n/a" if row["error"] is None else f"{row['error']:+.2e}"
        print(
            f"{key:<7} {row['qubits']:>6} {row['pauli_terms']:>6} {row['structure_s']:>8.1f} {row['dmrg_s']:>9.1f} "
            f"{row['conversion_s']:>9.1f} {row['sweeps']:>6} {row['peak_mib']:>9.0f} "
            f"{max(row['mpo_bonds']):>7} {max(row['state_bonds']):>7} "
            f"{row['energy']:>17.10f} {error:>12}",
            flush=True,
        )
        print(f"        MPO bonds {row['mpo_bonds']}; MPS bonds {row['state_bonds']}", flush=True)


if __name__ == "__main__":
    if sys.argv[1:2] == ["--one"]:
        print(json.dumps(measure(sys.argv[2], int(sys.argv[3]) if len(sys.argv) > 3 else None)))
    else:
        arguments = sys.argv[1:]
        sweeps = None
        if arguments[:1] == ["--max-sweeps"]:
            sweeps, arguments = int(arguments[1]), arguments[2:]
        main(arguments or DEFAULT, sweeps)
