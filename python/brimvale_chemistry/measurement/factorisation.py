"""Low-rank double factorisation of an active-space Hamiltonian into basis-rotation groups.

With E_pq = sum over spins of a+_p a_q and chemists' integrals (pq|rs),

    H = E0 + sum h_pq E_pq + 1/2 sum (pq|rs) a+_p a+_r a_s a_q
      = E0 + sum T_pq E_pq + 1/2 sum_l lambda_l (sum g^l_pq E_pq)^2,

with T = h - 1/2 sum_r (pr|rq) and (pq|rs) = sum_l lambda_l g^l_pq g^l_rs the
eigendecomposition of the integral supermatrix over symmetric pairs (at most
n(n+1)/2 factors). Each symmetric g^l = U diag(eps) U^T, so a factor is
1/2 lambda (sum_k eps_k N_k)^2 in the orbitals of U, N_k counting both spins;
T alike. One orbital rotation per factor brings it to number operators that a
Z measurement reads off together.

Factors are dropped smallest first while the sum of their norms stays within
the threshold: the energy of any state changes by at most that sum.
"""

from __future__ import annotations

from dataclasses import dataclass, replace

import numpy as np

# The default keeps the factorisation's error below 1 µHa on every state.
DEFAULT_TRUNCATION = 1e-6


@dataclass(frozen=True)
class Factor:
    """A part of H diagonal in one orbital basis: ``constant + sum_k eps_k N_k`` or ``1/2 lam (sum_k eps_k N_k)^2``.

    ``basis`` holds the orbitals as columns (real orthogonal, n × n).
    """

    basis: np.ndarray
    eigenvalues: np.ndarray  # eps_k
    scale: float  # lam of a two-body factor; 1 for the one-body part
    squared: bool  # a two-body factor
    constant: float = 0.0  # E0, on the one-body part only
    centre: float = 0.0  # mu of a two-body factor 1/2 lam (sum_k eps_k N_k - mu)^2

    @property
    def norm_bound(self) -> float:
        """An upper bound of the operator's norm (N_k is 0, 1 or 2)."""
        positive = float(self.eigenvalues[self.eigenvalues > 0].sum())
        negative = float(-self.eigenvalues[self.eigenvalues < 0].sum())
        reach = 2.0 * max(positive, negative)
        return 0.5 * abs(self.scale) * reach * reach if self.squared else reach


@dataclass(frozen=True)
class Factorisation:
    """The one-body part (with the constant) first, then the retained two-body factors, heaviest first."""

    factors: list[Factor]
    threshold: float
    n_two_body: int  # factors before truncation
    discarded_bound: float  # sum of the norm bounds of the dropped factors


def double_factorisation(
    constant: float,
    one_body: np.ndarray,
    two_body: np.ndarray,
    threshold: float = DEFAULT_TRUNCATION,
    occupations: np.ndarray | None = None,
) -> Factorisation:
    """Factorise ``constant + h + (pq|rs)`` (real, spatial orbitals); drop factors within ``threshold`` Hartree.

    ``occupations`` (spin-summed, per orbital) of a reference determinant
    centre every kept factor on its reference value mu = sum_p g_pp occ_p:
    1/2 lam G^2 = 1/2 lam (G - mu)^2 + lam mu G - 1/2 lam mu^2, the last two
    moved to the one-body part. The operator stays the same; a state near
    the reference spreads far less in (G - mu)^2 than in G^2.
    """
    h = np.asarray(one_body, dtype=np.float64)
    eri = np.asarray(two_body, dtype=np.float64)
    n = h.shape[0]
    t = h - 0.5 * np.einsum("prrq->pq", eri)

    # Supermatrix over the orthonormal basis of symmetric n × n matrices:
    # e_pp, and (e_pq + e_qp)/sqrt(2) for p < q.
    rows, cols = np.triu_indices(n)
    weight = np.where(rows == cols, 1.0, np.sqrt(2.0))
    packed = eri[rows[:, None], cols[:, None], rows[None, :], cols[None, :]] * weight[:, None] * weight[None, :]
    lam, vectors = np.linalg.eigh(0.5 * (packed + packed.T))

    factors = []
    for k in range(len(lam)):
        g = np.zeros((n, n))
        g[rows, cols] = vectors[:, k] / weight
        g = g + np.triu(g, 1).T
        eps, u = np.linalg.eigh(g)
        factors.append(Factor(basis=u, eigenvalues=eps, scale=float(lam[k]), squared=True))

    # Smallest first, while the dropped norms add up to at most the threshold.
    order = sorted(range(len(factors)), key=lambda k: factors[k].norm_bound)
    dropped, discarded = set(), 0.0
    for k in order:
        bound = factors[k].norm_bound
        if discarded + bound > threshold:
            break
        discarded += bound
        dropped.add(k)
    kept = [factors[k] for k in sorted(range(len(factors)), key=lambda k: -factors[k].norm_bound) if k not in dropped]
    if occupations is not None:
        centred = []
        for factor in kept:
            g = (factor.basis * factor.eigenvalues) @ factor.basis.T
            mu = float(np.diag(g) @ occupations)
            t = t + factor.scale * mu * g
            constant -= 0.5 * factor.scale * mu * mu
            centred.append(replace(factor, centre=mu))
        kept = centred
    t = 0.5 * (t + t.T)
    tau, u0 = np.linalg.eigh(t)
    one = Factor(basis=u0, eigenvalues=tau, scale=1.0, squared=False, constant=float(constant))
    return Factorisation([one, *kept], float(threshold), len(factors), discarded)
