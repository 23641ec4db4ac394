"""measurement_summary.json of basis-rotation groups: enough to recompute the estimate from the files alone.

Each group records the orbital rotation its program applies (row k: the
measured orbital k over the active orbitals, on qubits k and n + k), its
constant and the coefficients of its number operators n_q and n_q n_r, and
its counts. A group's value in an outcome is its constant plus the sum of the
coefficients whose qubits are all 1 there; the estimate is the sum of the
groups' means.
"""

from __future__ import annotations

from collections.abc import Iterable

from . import files
from .allocation import allocation_rule
from .arguments import StageArguments
from .rotation_groups import RotationGroup
from .rotation_sampling import RotationEstimate
from .summary import BIT_ORDER, SUMMARY_FORMAT, finite_or_none

ESTIMATE_RULE = (
    "energy = sum over groups of their means; a group's value in an outcome is its constant plus the "
    "coefficients of its number operators whose qubits all read 1"
)


def rotation_summary_record(
    arguments: StageArguments,
    names: list[str],
    programs: Iterable[str],
    groups: list[RotationGroup],
    sampled: RotationEstimate,
    group_shots: list[int],
    truncation: dict,
) -> dict:
    result = sampled.estimate
    budget = arguments.total_shots is not None
    return {
        "format": SUMMARY_FORMAT,
        "n_qubits": arguments.n_qubits,
        "shots_per_group": None if budget else arguments.shots,
        "seed": arguments.seed,
        "seed_entropy": str(result.entropy),
        "backend": arguments.backend,
        "device": arguments.device,
        "dtype": arguments.dtype.name,
        "bit_order": BIT_ORDER,
        "energy_unit": "Hartree",
        "identity_energy": 0.0,
        "energy": result.energy,
        "standard_error": finite_or_none(result.standard_error),
        "exact_energy": result.exact,
        "groups": [
            {
                "index": k,
                "file": name,
                "sha256": files.sha256_text(program),
                "bases": "Z on every qubit, after the orbital rotation",
                "mean": estimate.mean,
                "variance": finite_or_none(estimate.variance),
                "kind": group.label,
                "rotation": group.rotation.tolist(),
                "givens_rotations": [[i, i + 1, theta] for i, theta in group.network],
                "constant": group.constant,
                "number_operators": [
                    {"qubits": list(qubits), "coefficient": c} for qubits, c in group.number_operators()
                ],
                "exact_mean": exact_mean,
                "shots": shots,
                "counts": dict(sorted(group_counts.items())),
            }
            for k, (name, program, group, estimate, exact_mean, shots, group_counts) in enumerate(
                zip(names, programs, groups, result.estimates, sampled.exact_means, group_shots, result.counts)
            )
        ],
        "grouping": "basis-rotation",
        "estimate_rule": ESTIMATE_RULE,
        "factorisation": truncation,
        "total_shots": arguments.total_shots,
        "shot_allocation": allocation_rule(groups, arguments.integrals[3]) if budget else None,
    }
