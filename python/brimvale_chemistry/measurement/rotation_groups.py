"""Basis-rotation groups: number operators read off one Z measurement after an orbital rotation."""

from __future__ import annotations

from dataclasses import dataclass, field

import numpy as np

from ..utils import PauliTerm
from .factorisation import Factor, Factorisation
from .givens import givens_network


@dataclass(frozen=True, eq=False)
class RotationGroup:
    """``constant + sum_q linear[q] n_q + sum_{q<r} pairs[q, r] n_q n_r`` after the orbital rotation ``rotation``.

    ``rotation`` (n × n, real orthogonal) is the one the circuit realises: the
    measured orbital k is ``sum_p rotation[k, p]`` times active orbital p, on
    qubits k (spin up) and n + k (spin down). ``network`` holds its Givens
    rotations (orbital i with i + 1, angle), first applied first.
    """

    name: str
    rotation: np.ndarray
    network: tuple[tuple[int, float], ...]
    constant: float
    linear: np.ndarray  # per qubit
    pairs: np.ndarray  # strictly upper triangular, qubit by qubit
    factor: Factor | None = field(default=None, repr=False)  # the part of H the group measures

    # Every qubit is measured in the Z basis after the rotation.
    x_mask = 0
    y_mask = 0

    @property
    def label(self) -> str:
        return self.name

    @property
    def n_qubits(self) -> int:
        return len(self.linear)

    def number_operators(self) -> list[tuple[tuple[int, ...], float]]:
        """((q,), c) and ((q, r), c) for every non-zero coefficient, linear ones first."""
        terms = [((int(q),), float(c)) for q, c in enumerate(self.linear) if c != 0.0]
        rows, cols = np.nonzero(self.pairs)
        terms += [((int(q), int(r)), float(self.pairs[q, r])) for q, r in zip(rows, cols)]
        return terms

    def z_terms(self) -> tuple[float, list[PauliTerm]]:
        """The group's operator as (identity part, Z and ZZ Pauli terms), from n_q = (1 − Z_q)/2."""
        upper = self.pairs
        identity = self.constant + 0.5 * float(self.linear.sum()) + 0.25 * float(upper.sum())
        single = -0.5 * self.linear - 0.25 * (upper.sum(axis=0) + upper.sum(axis=1))
        terms = [PauliTerm(float(c), ((q, "Z"),)) for q, c in enumerate(single) if c != 0.0]
        rows, cols = np.nonzero(upper)
        terms += [PauliTerm(0.25 * float(upper[q, r]), ((int(q), "Z"), (int(r), "Z"))) for q, r in zip(rows, cols)]
        return identity, terms

    def values(self, outcomes: np.ndarray) -> np.ndarray:
        """The operator's value in each outcome (bit q of an outcome: qubit q occupied)."""
        n = self.n_qubits
        if outcomes.dtype == object:
            bits = np.array([[(int(o) >> q) & 1 for q in range(n)] for o in outcomes], dtype=np.float64)
        else:
            shifts = np.arange(n, dtype=np.uint64)
            bits = ((outcomes.astype(np.uint64)[:, None] >> shifts) & np.uint64(1)).astype(np.float64)
        bits = bits.reshape(len(outcomes), n)
        return self.constant + bits @ self.linear + np.einsum("kq,kq->k", bits @ self.pairs, bits)


def _group(name: str, factor: Factor) -> RotationGroup:
    n = len(factor.eigenvalues)
    network, realised = givens_network(factor.basis.T)
    per_qubit = np.concatenate([factor.eigenvalues, factor.eigenvalues])
    constant = factor.constant
    if factor.squared:
        # 1/2 lam (sum_q e_q n_q - mu)^2 with n_q^2 = n_q.
        lam, mu = factor.scale, factor.centre
        linear = 0.5 * lam * (per_qubit**2 - 2.0 * mu * per_qubit)
        pairs = np.triu(lam * np.outer(per_qubit, per_qubit), 1)
        constant = 0.5 * lam * mu * mu
    else:
        linear, pairs = per_qubit, np.zeros((2 * n, 2 * n))
    return RotationGroup(name, realised, tuple(network), constant, linear, pairs, factor)


def rotation_groups(factorisation: Factorisation) -> list[RotationGroup]:
    """One group for the one-body part with the constant, then one per retained two-body factor."""
    one, *factors = factorisation.factors
    groups = [_group("one-body and constant", one)]
    groups += [_group(f"two-body factor {k}", factor) for k, factor in enumerate(factors)]
    return groups
