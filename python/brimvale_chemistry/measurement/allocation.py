"""A total shot budget spread over the measurement groups by weight."""

from __future__ import annotations

import math

from .rotation_groups import RotationGroup

# A group's spread is estimated from its own shots: it needs two.
MIN_GROUP_SHOTS = 2


def group_weight(group) -> float:
    """sqrt(sum c^2) over the group's non-constant Pauli terms c·P: its spread if the terms were independent.

    The plain sum of |c| bounds the spread but ranks the groups worse: on the
    H2O preset's circuit it allocates no better than equal shots, this
    estimate lowers the standard error 1.7 times (qubit-wise groups).
    """
    terms = group.z_terms()[1] if isinstance(group, RotationGroup) else group.terms
    return math.sqrt(math.fsum(abs(complex(term.coefficient)) ** 2 for term in terms))


def minimum_total(n_groups: int) -> int:
    return MIN_GROUP_SHOTS * n_groups


def allocate_shots(total: int, weights: list[float]) -> list[int]:
    """``total`` shots, at least :data:`MIN_GROUP_SHOTS` per group, the rest in proportion to ``weights``.

    The standard error sqrt(sum sigma_g^2 / s_g) is smallest at s_g ∝ sigma_g;
    the weights stand in for the sigma_g. Shares are rounded down and the
    shots left over go to the largest remainders (ties: lower index), so the
    counts add up to ``total`` exactly. Equal weights (or all zero) share alike.
    """
    n = len(weights)
    if n == 0:
        return []
    free = total - MIN_GROUP_SHOTS * n
    if free < 0:
        raise ValueError(f"total_shots must be at least {MIN_GROUP_SHOTS} per group")
    weight_sum = math.fsum(weights)
    shares = [free * w / weight_sum for w in weights] if weight_sum > 0 else [free / n] * n
    counts = [MIN_GROUP_SHOTS + math.floor(s) for s in shares]
    left = total - sum(counts)
    by_remainder = sorted(range(n), key=lambda k: (-(shares[k] - math.floor(shares[k])), k))
    for k in by_remainder[:left]:
        counts[k] += 1
    return counts


ALLOCATION_RULE = (
    "in proportion to sqrt(sum of squared coefficients) of each group's Pauli terms (Z terms of its number "
    f"operators after a rotation), at least {MIN_GROUP_SHOTS} per group"
)


def budget(arguments, groups) -> list[int] | None:
    """Shots per group of ``arguments.total_shots``; None without a budget. Checked before anything runs."""
    total = arguments.total_shots
    if total is None:
        return None
    if total < minimum_total(len(groups)):
        raise ValueError(
            f"total_shots is {total}, too few for {len(groups)} groups: each needs at least {MIN_GROUP_SHOTS} "
            f"({minimum_total(len(groups))} in all)"
        )
    return allocate_shots(total, [group_weight(group) for group in groups])


def add_budget(summary: dict, arguments, group_shots: list[int]) -> None:
    """The budget's entries of the measurement summary: the total, the rule and every group's shots."""
    summary["shots_per_group"] = None
    for entry, shots in zip(summary["groups"], group_shots):
        entry["shots"] = shots
    summary["total_shots"] = arguments.total_shots
    summary["shot_allocation"] = ALLOCATION_RULE
