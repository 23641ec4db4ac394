"""The measurement summary: groups, bases, counts and the three energies, as written to measurement_summary.json."""

from __future__ import annotations

import math
from collections.abc import Iterable

from . import files
from .arguments import StageArguments
from .records import MeasurementGroup
from .sampling import EnergyEstimate

SUMMARY_FORMAT = files.SUMMARY_FORMAT
BIT_ORDER = "c[n-1]...c[0]: the rightmost character is qubit 0, as OpenQASM readers print the register"


def finite_or_none(value: float) -> float | None:
    return value if math.isfinite(value) else None


def summary_record(
    arguments: StageArguments,
    names: list[str],
    programs: Iterable[str],
    groups: list[MeasurementGroup],
    result: EnergyEstimate,
) -> dict:
    return {
        "format": SUMMARY_FORMAT,
        "n_qubits": arguments.n_qubits,
        "shots_per_group": arguments.shots,
        "seed": arguments.seed,
        "seed_entropy": str(result.entropy),
        "backend": arguments.backend,
        "device": arguments.device,
        "dtype": arguments.dtype.name,
        "bit_order": BIT_ORDER,
        "energy_unit": "Hartree",
        "identity_energy": result.identity,
        "energy": result.energy,
        "standard_error": finite_or_none(result.standard_error),
        "exact_energy": result.exact,
        "groups": [
            {
                "index": k,
                "file": name,
                "sha256": files.sha256_text(program),
                "bases": group.label,
                "mean": estimate.mean,
                "variance": finite_or_none(estimate.variance),
                "terms": [
                    {
                        "pauli": " ".join(f"{letter}{q}" for q, letter in term.paulis),
                        "coefficient": complex(term.coefficient).real,
                        "mean": mean,
                    }
                    for term, mean in zip(group.terms, estimate.term_means)
                ],
                "counts": dict(sorted(group_counts.items())),
            }
            for k, (name, program, group, estimate, group_counts) in enumerate(
                zip(names, programs, groups, result.estimates, result.counts)
            )
        ],
    }
