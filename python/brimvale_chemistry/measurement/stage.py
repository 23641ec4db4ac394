"""The measurement stage: one OpenQASM 2.0 program per group, sampled shots and the energy estimate."""

from __future__ import annotations

import json
import math

import numpy as np

from .. import _defaults
from .._kernels import sample_outcomes
from ..utils import hamiltonian_expectation, progress_line as _line
from . import files
from .arguments import (check_circuit, check_pauli_terms, check_seed, check_simulator, check_workdir, to_int)
from .grouping import group_qubitwise_commuting
from .qasm import group_program, preparation_lines
from .records import MeasurementResult
from .statistics import estimate_group

SUMMARY_FORMAT = files.SUMMARY_FORMAT
BIT_ORDER = "c[n-1]...c[0]: the rightmost character is qubit 0, as OpenQASM readers print the register"


def measurement_QASM(circuit, pauli_terms, n_qubits, *, shots=_defaults.SHOTS, seed=None, workdir=None,
                     backend="numpy", device="cpu", dtype=np.complex128) -> MeasurementResult:
    """Measure the energy of the state ``circuit`` prepares, and write the programs that do it.

    The non-identity ``pauli_terms`` are split into qubit-wise commuting groups
    (heaviest first). For every group, ``workdir/qasm/group_NNN.qasm`` is an
    OpenQASM 2.0 program: the circuit, the group's basis change (H for X, sdg
    then H for Y) and a measurement of every qubit q into c[q]. The circuit is
    executed once on the circuit library's simulator (``backend``, ``device``,
    ``dtype``); every group then draws ``shots`` outcomes from the rotated
    state. The estimate is the identity part plus the sampled mean of every
    group, its standard error sqrt(sum of group variances / shots); the exact
    value is the executed state's expectation. ``workdir/measurement_summary.json``
    records groups, bases, counts and the three numbers.

    ``seed``: an integer gives the same counts and files on every run; None
    draws fresh entropy, reported as ``seed_entropy`` (pass it as ``seed`` to
    repeat the run). Group k draws with the k-th child of
    ``numpy.random.SeedSequence(seed)``.

    ``workdir`` defaults to the current directory and is created if needed.
    Every argument is checked before anything is executed or written. A file
    of one of those names is only ever replaced when this stage wrote it
    (FileExistsError otherwise); runs writing into one directory take turns,
    and an interrupted run leaves the summary either absent or exact.
    """
    check_circuit(circuit)
    n_qubits = to_int(n_qubits, "n_qubits")
    if n_qubits != circuit.num_qubits:
        raise ValueError(f"n_qubits is {n_qubits} but the circuit acts on {circuit.num_qubits} qubits")
    terms = check_pauli_terms(pauli_terms, n_qubits)
    shots = to_int(shots, "shots")
    if shots < 1:
        raise ValueError(f"shots must be at least 1, got {shots}")
    seed = check_seed(seed)
    workdir = check_workdir(workdir)
    dtype = check_simulator(backend, device, dtype)

    groups = group_qubitwise_commuting(terms)
    preparation = preparation_lines(circuit)
    names = [files.group_file_name(k, len(groups)) for k in range(len(groups))]
    programs = [group_program(preparation, n_qubits, group, k, len(groups)) for k, group in enumerate(groups)]
    files.check_destination(workdir, names + [files.SUMMARY_NAME])

    print("[4/4] Measurement", flush=True)
    state = circuit.execute(backend=backend, device=device, dtype=dtype).state
    norm = float(np.vdot(state, state).real)
    exact = float(hamiltonian_expectation(state, terms, n_qubits).real) / norm
    identity = sum(complex(t.coefficient).real for t in terms if t.is_identity)

    sequence = np.random.SeedSequence(seed)
    group_seeds = [int(child.generate_state(1, np.uint64)[0]) for child in sequence.spawn(len(groups))]
    counts, estimates = [], []
    for group, group_seed in zip(groups, group_seeds):
        outcomes, hits = sample_outcomes(state, n_qubits, shots, group_seed, x_mask=group.x_mask, y_mask=group.y_mask)
        estimates.append(estimate_group(group, outcomes, hits))
        counts.append({format(int(o), f"0{n_qubits}b"): int(c) for o, c in zip(outcomes, hits)})
    energy = identity + sum(e.mean for e in estimates)
    standard_error = math.sqrt(sum(e.variance for e in estimates) / shots) if groups else 0.0

    summary = {
        "format": SUMMARY_FORMAT,
        "n_qubits": n_qubits,
        "shots_per_group": shots,
        "seed": seed,
        "seed_entropy": str(sequence.entropy),
        "backend": backend,
        "device": device,
        "dtype": dtype.name,
        "bit_order": BIT_ORDER,
        "energy_unit": "Hartree",
        "identity_energy": identity,
        "energy": energy,
        "standard_error": standard_error if math.isfinite(standard_error) else None,
        "exact_energy": exact,
        "groups": [
            {
                "index": k,
                "file": name,
                "sha256": files.sha256_text(program),
                "bases": group.label,
                "mean": estimate.mean,
                "variance": estimate.variance if math.isfinite(estimate.variance) else None,
                "terms": [{"pauli": " ".join(f"{letter}{q}" for q, letter in term.paulis),
                           "coefficient": complex(term.coefficient).real,
                           "mean": mean}
                          for term, mean in zip(group.terms, estimate.term_means)],
                "counts": dict(sorted(group_counts.items())),
            }
            for k, (name, program, group, estimate, group_counts)
            in enumerate(zip(names, programs, groups, estimates, counts))
        ],
    }

    files.write_outputs(workdir, dict(zip(names, programs)), json.dumps(summary, indent=2) + "\n")
    summary_path = workdir / files.SUMMARY_NAME

    n_identity = sum(1 for t in terms if t.is_identity)
    _line("Pauli terms", f"{len(terms)} ({n_identity} identity, added exactly)")
    _line("Groups", len(groups))
    _line("Shots per group", shots)
    _line("Files written", f"{len(names)} OpenQASM 2.0 under {files.QASM_DIR}/, summary {files.SUMMARY_NAME}")
    error_text = f"{standard_error:.8f}" if math.isfinite(standard_error) else "n/a (one shot per group)"
    _line("Estimated energy", f"{energy:.8f} ± {error_text} Hartree")
    _line("Exact energy", f"{exact:.8f} Hartree")

    return MeasurementResult(
        energy=energy,
        standard_error=standard_error,
        exact_energy=exact,
        shots=shots,
        n_groups=len(groups),
        files=[workdir / name for name in names],
        summary_path=summary_path,
        counts=counts,
        groups=groups,
        identity_energy=identity,
        seed_entropy=int(sequence.entropy),
    )
