"""Energy estimate of one group from its sampled outcomes."""

from __future__ import annotations

import math
from dataclasses import dataclass

import numpy as np

from .records import MeasurementGroup


@dataclass(frozen=True)
class GroupEstimate:
    """Sampled means of a group: per term (of the ±1 Pauli value) and of the group's weighted sum."""

    term_means: tuple[float, ...]
    mean: float
    variance: float  # sample variance of the weighted sum per shot; NaN for a single shot


def parities(outcomes: np.ndarray, mask: int) -> np.ndarray:
    """Parity (0 or 1) of the bits of ``mask`` in every outcome (uint64, or Python integers beyond 64 qubits)."""
    if outcomes.dtype == object:
        return np.array([(int(o) & mask).bit_count() & 1 for o in outcomes], dtype=np.int64)
    bits = outcomes & np.uint64(mask)
    for shift in (32, 16, 8, 4, 2, 1):
        bits ^= bits >> np.uint64(shift)
    return (bits & np.uint64(1)).astype(np.int64)


def estimate_group(group: MeasurementGroup, outcomes: np.ndarray, counts: np.ndarray) -> GroupEstimate:
    """Means over the shots of ``(outcomes, counts)`` drawn in the group's measurement basis.

    After the basis change every factor of every term is a Z, so a term's
    value in a shot is +1 or −1 by the parity of the bits on its qubits.
    """
    weights = counts.astype(np.float64)
    shots = float(weights.sum())
    per_outcome = np.zeros(len(outcomes), dtype=np.float64)
    term_means = []
    for term in group.terms:
        values = 1.0 - 2.0 * parities(outcomes, term.x_mask | term.z_mask)
        term_means.append(float(values @ weights) / shots)
        per_outcome += complex(term.coefficient).real * values
    mean = float(per_outcome @ weights) / shots
    if shots > 1:
        variance = float(((per_outcome - mean) ** 2) @ weights) / (shots - 1)
    else:
        variance = math.nan
    return GroupEstimate(term_means=tuple(term_means), mean=mean, variance=variance)
