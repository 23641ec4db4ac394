"""The measurement stage with basis-rotation groups: the factorised Hamiltonian, one circuit per factor."""

from __future__ import annotations

import math
import warnings

from ..utils import progress_line as _line
from . import files
from .allocation import budget
from .arguments import StageArguments
from .factorisation import double_factorisation
from .qasm import GroupPrograms, preparation_lines
from .records import MeasurementResult
from .report import print_result, shots_line
from .rotation_groups import rotation_groups
from .rotation_sampling import estimate_rotation_energy
from .rotation_summary import rotation_summary_record

# Beyond the truncation bound, a difference this large between the circuit's
# exact energy and the groups' is no rounding: the integrals are not those of
# the Pauli terms, or an MPS rotation was truncated.
_MISMATCH_TOLERANCE = 1e-6


def _cnot_count(circuit) -> int:
    counts = circuit.count_ops()
    return counts.get("cx", 0) + 3 * counts.get("swap", 0)


def measure_by_rotation(circuit, arguments: StageArguments) -> MeasurementResult:
    n_qubits, workdir = arguments.n_qubits, arguments.workdir
    constant, one_body, two_body, occupations = arguments.integrals
    factorisation = double_factorisation(constant, one_body, two_body, arguments.truncation_threshold, occupations)
    groups = rotation_groups(factorisation)
    group_shots = budget(arguments, groups, occupations) or [arguments.shots] * len(groups)
    names = [files.group_file_name(k, len(groups)) for k in range(len(groups))]
    programs = GroupPrograms(names, preparation_lines(circuit), n_qubits, groups)
    files.check_destination(workdir, names + [files.SUMMARY_NAME])

    print("[4/4] Measurement", flush=True)
    sampled = estimate_rotation_energy(circuit, arguments, groups, group_shots)
    result = sampled.estimate
    kept = len(factorisation.factors) - 1
    truncation = {
        "threshold": factorisation.threshold,
        "two_body_factors": factorisation.n_two_body,
        "kept": kept,
        "dropped": factorisation.n_two_body - kept,
        "error_bound": factorisation.discarded_bound,
        "error_on_state": result.exact - math.fsum(sampled.exact_means),
    }
    if abs(truncation["error_on_state"]) > factorisation.discarded_bound + _MISMATCH_TOLERANCE:
        warnings.warn(
            f"the factorised Hamiltonian's exact energy differs from that of pauli_terms by "
            f"{truncation['error_on_state']:.3e} Ha, beyond the truncation bound of {factorisation.discarded_bound:.1e}"
            " Ha: the integrals do not describe pauli_terms, or an orbital rotation of the MPS was truncated",
            UserWarning,
            stacklevel=3,
        )
    summary = rotation_summary_record(arguments, names, programs.values(), groups, sampled, group_shots, truncation)
    files.write_outputs(workdir, programs, summary)

    added = [4 * len(group.network) for group in groups]
    _line("Pauli terms", f"{len(arguments.terms)} (for the exact energy; the groups measure the factorised integrals)")
    _line("Grouping", f"basis-rotation: one-body part with the constant, {kept} two-body factors")
    _line(
        "Truncation",
        f"{truncation['dropped']} of {truncation['two_body_factors']} factors dropped within "
        f"{factorisation.threshold:.1e} Ha (bound {factorisation.discarded_bound:.1e} Ha); "
        f"error on this state {truncation['error_on_state']:+.1e} Ha",
    )
    _line("Groups", len(groups))
    _line(
        "Orbital rotation", f"at most {max(added)} CNOTs per group, after the {_cnot_count(circuit)} of the preparation"
    )
    shots_line(arguments, None if arguments.total_shots is None else group_shots)
    print_result(len(names), result)

    return MeasurementResult(
        energy=result.energy,
        standard_error=result.standard_error,
        exact_energy=result.exact,
        shots=arguments.shots if arguments.total_shots is None else arguments.total_shots,
        n_groups=len(groups),
        files=[workdir / name for name in names],
        summary_path=workdir / files.SUMMARY_NAME,
        counts=result.counts,
        groups=groups,
        identity_energy=0.0,
        seed_entropy=result.entropy,
        grouping="basis-rotation",
        group_shots=group_shots,
        factorisation=truncation,
    )
