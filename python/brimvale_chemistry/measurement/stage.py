"""The measurement stage: one OpenQASM 2.0 program per group, sampled shots and the energy estimate."""

from __future__ import annotations

import numpy as np

from .. import _defaults
from . import files
from .arguments import check_arguments
from .grouping import group_qubitwise_commuting
from .qasm import GroupPrograms, preparation_lines
from .records import MeasurementResult
from .report import print_report
from .sampling import estimate_energy
from .summary import BIT_ORDER, SUMMARY_FORMAT, summary_record

__all__ = ["BIT_ORDER", "SUMMARY_FORMAT", "measurement_QASM"]


def measurement_QASM(
    circuit,
    pauli_terms,
    n_qubits,
    *,
    shots=_defaults.SHOTS,
    seed=None,
    workdir=None,
    backend="numpy",
    device="cpu",
    dtype=np.complex128,
    max_bond=None,
) -> MeasurementResult:
    """Measure the energy of the state ``circuit`` prepares, and write the programs that do it.

    The non-identity ``pauli_terms`` are split into qubit-wise commuting groups
    (heaviest first). For every group, ``workdir/qasm/group_NNN.qasm`` is an
    OpenQASM 2.0 program: the circuit, the group's basis change (H for X, sdg
    then H for Y) and a measurement of every qubit q into c[q]. The circuit is
    executed once on the circuit library's simulator (``backend``, ``device``,
    ``dtype``); every group then draws ``shots`` outcomes from the rotated
    state. ``backend="mps"`` holds the state as a matrix product state
    (complex128 only) and draws every group from it, for circuits whose state
    vector would not fit; ``max_bond`` (that backend only) caps its bonds in
    place of the default cap of 1024, for circuits whose exact MPS would make the
    sampling slow. The estimate is the identity part plus the sampled
    mean of every group, its standard error sqrt(sum of group variances / shots); the exact
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
    arguments = check_arguments(circuit, pauli_terms, n_qubits, shots, seed, workdir, backend, device, dtype, max_bond)
    n_qubits, workdir = arguments.n_qubits, arguments.workdir

    groups = group_qubitwise_commuting(arguments.terms)
    preparation = preparation_lines(circuit)
    names = [files.group_file_name(k, len(groups)) for k in range(len(groups))]
    programs = GroupPrograms(names, preparation, n_qubits, groups)
    files.check_destination(workdir, names + [files.SUMMARY_NAME])

    print("[4/4] Measurement", flush=True)
    result = estimate_energy(circuit, arguments, groups)
    summary = summary_record(arguments, names, programs.values(), groups, result)
    files.write_outputs(workdir, programs, summary)
    print_report(arguments, len(groups), len(names), result)

    return MeasurementResult(
        energy=result.energy,
        standard_error=result.standard_error,
        exact_energy=result.exact,
        shots=arguments.shots,
        n_groups=len(groups),
        files=[workdir / name for name in names],
        summary_path=workdir / files.SUMMARY_NAME,
        counts=result.counts,
        groups=groups,
        identity_energy=result.identity,
        seed_entropy=result.entropy,
    )
