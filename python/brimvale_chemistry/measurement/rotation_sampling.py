"""Basis-rotation groups sampled: the circuit's state turned by each group's orbital rotation, then drawn in Z.

Each group's exact mean (the rotated state's expectation of its number
operators, natively) is kept beside its sampled one: their sum against the
circuit's exact energy is the error of the factorisation on this state.
"""

from __future__ import annotations

import contextlib
import math
import os
import warnings
from collections import deque
from collections.abc import Iterator
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass

import numpy as np

from brimvale import Circuit
from brimvale.circuit import MPS_BACKEND

from .._kernels import sample_outcomes
from ..utils import hamiltonian_expectation
from .arguments import StageArguments
from .givens import append_gates
from .rotation_groups import RotationGroup
from .sampling import EnergyEstimate
from .simulation import _DISCARDED_WEIGHT_WARNING
from .statistics import GroupEstimate


@dataclass(frozen=True)
class RotationEstimate:
    estimate: EnergyEstimate
    exact_means: list[float]  # per group, constant included
    discarded_weight: float  # largest weight an MPS rotation dropped; 0 on the state vector


def _group_estimate(group: RotationGroup, outcomes: np.ndarray, hits: np.ndarray) -> GroupEstimate:
    weights = hits.astype(np.float64)
    shots = float(weights.sum())
    values = group.values(outcomes)
    mean = float(values @ weights) / shots
    variance = float(((values - mean) ** 2) @ weights) / (shots - 1) if shots > 1 else math.nan
    return GroupEstimate(term_means=(), mean=mean, variance=variance)


class _DenseRotations:
    """Every group's circuit simulated whole: the preparation, then the group's rotation."""

    def __init__(self, circuit, arguments: StageArguments):
        self._circuit, self._arguments = circuit, arguments
        state = self._execute(circuit)
        norm = float(np.vdot(state, state).real)
        self.exact = float(hamiltonian_expectation(state, arguments.terms, arguments.n_qubits).real) / norm
        self.discarded_weight = 0.0

    def _execute(self, circuit) -> np.ndarray:
        a = self._arguments
        return circuit.execute(backend=a.backend, device=a.device, dtype=a.dtype).state

    def rotated(self, group: RotationGroup):
        rotated = Circuit(self._circuit.num_qubits)
        for operation in self._circuit.operations:  # immutable records: copied by appending
            getattr(rotated, operation.name)(*operation.params, *operation.qubits)
        append_gates(rotated, list(group.network), group.n_qubits // 2)
        state = self._execute(rotated)
        n = self._arguments.n_qubits
        identity, terms = group.z_terms()
        exact = identity + float(hamiltonian_expectation(state, terms, n).real) / float(np.vdot(state, state).real)
        return exact, lambda shots, seed: sample_outcomes(state, n, shots, seed), 0.0

    def in_order(self, groups: list[RotationGroup]) -> Iterator[tuple]:
        # One state of 2**n amplitudes at a time: a vector this wide may not fit twice.
        yield from map(self.rotated, groups)


class _MpsRotations:
    """The circuit's MPS built once; each group's rotation runs on a copy of it."""

    def __init__(self, circuit, arguments: StageArguments):
        self.truncation = arguments.truncation
        self.max_bond = self.truncation.max_bond
        self._mps = circuit.execute(backend=MPS_BACKEND, max_bond=self.max_bond, cutoff=self.truncation.cutoff).mps
        self.exact = float(self._mps.expectation(arguments.terms).real) / self._mps.norm() ** 2
        self.prepared_discarded = self._mps.discarded_weight
        self.discarded_weight = 0.0

    def rotated(self, group: RotationGroup):
        """(exact mean, draw, weight the rotation discarded); safe to call from several threads at once."""
        rotation = Circuit(group.n_qubits)
        append_gates(rotation, list(group.network), group.n_qubits // 2, block_by_block=True)
        mps = rotation.execute(
            backend=MPS_BACKEND, max_bond=self.max_bond, cutoff=self.truncation.cutoff, initial=self._mps
        ).mps
        identity, terms = group.z_terms()
        exact = identity + float(mps.expectation(terms).real) / mps.norm() ** 2
        discarded = mps.discarded_weight - self._mps.discarded_weight
        return exact, lambda shots, seed: mps.sample(shots, seed), discarded

    def in_order(self, groups: list[RotationGroup]) -> Iterator[tuple]:
        """Every group's rotation, in the order of ``groups``, computed ahead on the cores this process may use.

        Each rotation is a separate simulation of the same MPS and the native
        kernels run without the interpreter lock, so the groups spread over
        the cores; at most one rotated state per worker waits beyond the one
        being sampled, which bounds the memory at a wide cap.
        """
        workers = max(1, min(len(os.sched_getaffinity(0)), len(groups)))
        if workers == 1:
            yield from map(self.rotated, groups)
            return
        pool = ThreadPoolExecutor(max_workers=workers)
        pending: deque = deque()
        try:
            upcoming = iter(groups)
            for group in upcoming:
                pending.append(pool.submit(self.rotated, group))
                if len(pending) > workers:
                    yield pending.popleft().result()
            while pending:
                yield pending.popleft().result()
        finally:
            # An interrupted stage starts no further rotation; those running end on their own.
            pool.shutdown(wait=True, cancel_futures=True)


def _warn_truncated(message: str) -> None:
    # Attributed to the caller of measurement_QASM, three frames above estimate_rotation_energy.
    warnings.warn(message, UserWarning, stacklevel=5)


def estimate_rotation_energy(
    circuit, arguments: StageArguments, groups: list[RotationGroup], group_shots: list[int]
) -> RotationEstimate:
    """Every group's sampled mean, constant included; group k draws with the k-th child of the seed sequence."""
    mps = arguments.backend == MPS_BACKEND
    states = _MpsRotations(circuit, arguments) if mps else _DenseRotations(circuit, arguments)
    if mps and states.prepared_discarded > _DISCARDED_WEIGHT_WARNING:
        _warn_truncated(
            f"the circuit's MPS reached bond dimension {states.max_bond} and discarded a weight of "
            f"{states.prepared_discarded:.2e}; samples and exact energy are those of the truncated state"
        )
    sequence = np.random.SeedSequence(arguments.seed)
    group_seeds = [int(child.generate_state(1, np.uint64)[0]) for child in sequence.spawn(len(groups))]
    n_qubits = arguments.n_qubits
    counts, estimates, exact_means = [], [], []
    with contextlib.closing(states.in_order(groups)) as rotations:
        for group, shots, group_seed, (exact_mean, draw, discarded) in zip(groups, group_shots, group_seeds, rotations):
            states.discarded_weight = max(states.discarded_weight, discarded)
            outcomes, hits = draw(shots, group_seed)
            estimates.append(_group_estimate(group, outcomes, hits))
            exact_means.append(exact_mean)
            counts.append({format(int(o), f"0{n_qubits}b"): int(c) for o, c in zip(outcomes, hits)})
    if mps and states.discarded_weight > _DISCARDED_WEIGHT_WARNING:
        _warn_truncated(
            f"an orbital rotation of the circuit's MPS reached bond dimension {states.max_bond} and discarded "
            f"a weight of up to {states.discarded_weight:.2e}; that group's samples are those of the truncated state"
        )
    energy = math.fsum(e.mean for e in estimates)
    standard_error = math.sqrt(math.fsum(e.variance / s for e, s in zip(estimates, group_shots)))
    estimate = EnergyEstimate(states.exact, 0.0, energy, standard_error, estimates, counts, int(sequence.entropy))
    return RotationEstimate(estimate, exact_means, states.discarded_weight)
