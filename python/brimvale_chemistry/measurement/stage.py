"""The measurement stage: one OpenQASM 2.0 program per group, sampled shots and the energy estimate."""

from __future__ import annotations

import numpy as np

from .. import _defaults
from . import files
from .allocation import add_budget, budget
from .arguments import BASIS_ROTATION, check_arguments
from .grouping import group_qubitwise_commuting
from .qasm import GroupPrograms, preparation_lines
from .records import MeasurementResult
from .report import print_report
from .rotation_stage import measure_by_rotation
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
    grouping="qubit-wise",
    total_shots=None,
    integrals=None,
    truncation_threshold=None,
) -> MeasurementResult:
    """Measure the energy of the state ``circuit`` prepares, and write the programs that do it.

    The non-identity ``pauli_terms`` are split into qubit-wise commuting groups
    (heaviest first). For every group, ``workdir/qasm/group_NNN.qasm`` is an
    OpenQASM 2.0 program: the circuit, the group's basis change (H for X, sdg
    then H for Y) and a measurement of every qubit q into c[q]. The circuit is
    executed once on the circuit library's simulator (``backend``, ``device``,
    ``dtype``; ``backend="statevector"`` names the default "numpy" simulator
    for what it is); every group then draws ``shots`` outcomes from the rotated
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

    Opt-in: ``grouping="basis-rotation"`` measures the factorised Hamiltonian
    of ``integrals`` = (constant, one_body, two_body[, occupations]) instead
    (chemists' notation over the n = ``n_qubits``/2 active orbitals;
    :func:`active_space_integrals` takes them from an electronic-structure
    result): one group for the one-body part with the constant and one per
    two-body factor of the low-rank factorisation, each measured by an
    orbital rotation (Givens rotations on both spin blocks) and Z on every
    qubit. The factors are centred on the reference ``occupations``, which
    keeps their spread small. Factors whose norms add up to at most
    ``truncation_threshold`` Hartree (default 1e-6) are dropped, which moves
    the energy of any state by at most that much. ``pauli_terms`` then give
    the exact energy only. ``total_shots`` spreads a budget over the groups in
    proportion to sqrt(sum of squared coefficients) of their Pauli terms
    (basis-rotation groups with reference occupations: to their standard
    deviation on the reference determinant), at least 2 each; ``shots`` is
    then not used. The standard error is
    sqrt(sum of group variance / group shots).
    """
    arguments = check_arguments(
        circuit,
        pauli_terms,
        n_qubits,
        shots,
        seed,
        workdir,
        backend,
        device,
        dtype,
        max_bond,
        grouping,
        total_shots,
        integrals,
        truncation_threshold,
    )
    if arguments.grouping == BASIS_ROTATION:
        return measure_by_rotation(circuit, arguments)
    n_qubits, workdir = arguments.n_qubits, arguments.workdir

    groups = group_qubitwise_commuting(arguments.terms)
    group_shots = budget(arguments, groups)
    preparation = preparation_lines(circuit)
    names = [files.group_file_name(k, len(groups)) for k in range(len(groups))]
    programs = GroupPrograms(names, preparation, n_qubits, groups)
    files.check_destination(workdir, names + [files.SUMMARY_NAME])

    print("[4/4] Measurement", flush=True)
    result = estimate_energy(circuit, arguments, groups, group_shots)
    summary = summary_record(arguments, names, programs.values(), groups, result)
    if group_shots is not None:
        add_budget(summary, arguments, group_shots)
    files.write_outputs(workdir, programs, summary)
    print_report(arguments, len(groups), len(names), result, group_shots)

    return MeasurementResult(
        energy=result.energy,
        standard_error=result.standard_error,
        exact_energy=result.exact,
        shots=arguments.shots if group_shots is None else arguments.total_shots,
        n_groups=len(groups),
        files=[workdir / name for name in names],
        summary_path=workdir / files.SUMMARY_NAME,
        counts=result.counts,
        groups=groups,
        identity_energy=result.identity,
        seed_entropy=result.entropy,
        group_shots=[arguments.shots] * len(groups) if group_shots is None else group_shots,
    )
