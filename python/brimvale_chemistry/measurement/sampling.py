"""The measurement's computation: the circuit executed once, every group sampled, the energy estimated."""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from .arguments import StageArguments
from .records import MeasurementGroup
from .simulation import executed_state
from .statistics import GroupEstimate, estimate_group


@dataclass(frozen=True)
class EnergyEstimate:
    exact: float
    identity: float
    energy: float
    standard_error: float
    estimates: list[GroupEstimate]
    counts: list[dict[str, int]]  # per group, bitstring c[n-1]...c[0] -> hits
    entropy: int  # of the seed sequence the groups drew from


def estimate_energy(
    circuit, arguments: StageArguments, groups: list[MeasurementGroup], group_shots: list[int] | None = None
) -> EnergyEstimate:
    """Identity part plus every group's sampled mean; group k draws with the k-th child of the seed sequence.

    Every group draws ``arguments.shots``, or ``group_shots[k]`` when given.
    """
    n_qubits, shots = arguments.n_qubits, arguments.shots
    exact, draw = executed_state(
        circuit, arguments.terms, n_qubits, arguments.backend, arguments.device, arguments.dtype, arguments.truncation
    )
    identity = sum(complex(t.coefficient).real for t in arguments.terms if t.is_identity)

    sequence = np.random.SeedSequence(arguments.seed)
    group_seeds = [int(child.generate_state(1, np.uint64)[0]) for child in sequence.spawn(len(groups))]
    counts, estimates = [], []
    for k, (group, group_seed) in enumerate(zip(groups, group_seeds)):
        outcomes, hits = draw(group, shots if group_shots is None else group_shots[k], group_seed)
        estimates.append(estimate_group(group, outcomes, hits))
        counts.append({format(int(o), f"0{n_qubits}b"): int(c) for o, c in zip(outcomes, hits)})
    energy = identity + sum(e.mean for e in estimates)
    if group_shots is None:
        standard_error = math.sqrt(sum(e.variance for e in estimates) / shots) if groups else 0.0
    else:
        standard_error = math.sqrt(math.fsum(e.variance / s for e, s in zip(estimates, group_shots)))
    return EnergyEstimate(exact, identity, energy, standard_error, estimates, counts, int(sequence.entropy))
