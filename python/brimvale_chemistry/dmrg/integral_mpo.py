"""The MPO of the active-space Hamiltonian, built directly from its integrals.

    H = sum_{pq,s} h[p,q] a+_{ps} a_{qs} + 1/2 sum_{pqrs,st} (pq|rs) a+_{ps} a+_{rt} a_{st} a_{qs}

is the operator of the electronic-structure stage's fermionic terms (without
the constant energy, which the caller adds). The MPO lives on the DMRG chain:
one TeNPy ``SpinHalfFermionSite`` per spatial orbital with the fermion modes in
the interleaved order (spin up before spin down), so its tensors carry the
sites' charges (N, 2 Sz) and TeNPy's engine runs on it as on the model's own.

Each bond carries the single creation and annihilation operators of both of
its sides and the operator pairs of its shorter side (see
native/core/chemistry/integral_mpo.hpp): its bond dimension grows as the square of the
orbital count, where the MPO TeNPy builds from the local terms grows faster and
takes far longer to build.
"""

from __future__ import annotations

import numpy as np

from .._kernels import integral_mpo_terms

__all__ = ["integral_mpo"]

# Terms whose coefficient, summed over the orderings of one operator string,
# stays at or below this fraction of the largest integral are rounding
# residues (e.g. of exchange integrals that cancel); TeNPy drops terms below
# 1e-15 Ha from the term-built MPO alike.
_DROP_RELATIVE = 1e-15
# Order of the mode factors in the native terms: identity, annihilation, creation, number.
_UP_FACTORS = ("Id", "Cu", "Cdu", "Nu")
_DOWN_FACTORS = ("Id", "Cd", "Cdd", "Nd")


def _real_integrals(value, name: str) -> np.ndarray:
    array = np.asarray(value)
    if np.iscomplexobj(array):
        raise TypeError(f"{name} must be real, got {array.dtype}")
    array = np.asarray(array, dtype=np.float64)
    if not np.isfinite(array).all():
        raise ValueError(f"{name} must be finite")
    return array


def _site_operators(site) -> np.ndarray:
    """The 32 site matrices of the native terms: index op + 16 * parity, in the site's basis order."""
    dense = {name: site.get_op(name).to_ndarray() for name in {*_UP_FACTORS, *_DOWN_FACTORS, "JW"}}
    products = np.array([dense[up] @ dense[down] for down in _DOWN_FACTORS for up in _UP_FACTORS])
    return np.concatenate([products, products @ dense["JW"]])


def _bond_leg(charges: np.ndarray, chinfo):
    from tenpy.linalg.charges import LegCharge

    # States come ordered by charge, so equal charges form one block.
    return LegCharge.from_qflat(chinfo, charges, qconj=+1).bunch()[1]


def integral_mpo(one_body, two_body, sites):
    """TeNPy MPO of the Hamiltonian of ``one_body`` h[p, q] and ``two_body`` (pq|rs).

    ``two_body`` is in the chemists' order, as the electronic-structure stage
    stores it (``extra["two_body_integrals"]``); ``sites`` are the chain's
    sites (``model.lat.mps_sites()`` of the term-built model), one per orbital.
    The constant energy is not included. The end bonds hold one state each
    (``IdL`` of the first, ``IdR`` of the last bond are 0); inner bonds keep
    their identity states where they have them.
    """
    import tenpy.linalg.np_conserved as npc
    from tenpy.networks.mpo import MPO

    h = _real_integrals(one_body, "one_body")
    eri = _real_integrals(two_body, "two_body")
    sites = list(sites)
    if h.ndim != 2 or h.shape[0] != len(sites):
        raise ValueError(f"one_body has shape {h.shape} for {len(sites)} sites")
    scale = max(np.abs(h).max(), np.abs(eri).max(initial=0.0))
    charges, starts, ends, terms = integral_mpo_terms(h, eri, _DROP_RELATIVE * scale)

    chinfo = sites[0].leg.chinfo
    legs = [_bond_leg(bond, chinfo) for bond in charges]
    operators = {}  # the chain's sites are usually one shared object
    tensors = []
    for i, site in enumerate(sites):
        if id(site) not in operators:
            operators[id(site)] = _site_operators(site)
        left, right, op, parity, value = terms[i]
        dense = np.zeros((legs[i].ind_len, legs[i + 1].ind_len, site.dim, site.dim))
        np.add.at(dense, (left, right), value[:, None, None] * operators[id(site)][op + 16 * parity])
        tensor = npc.Array.from_ndarray(
            dense,
            [legs[i], legs[i + 1].conj(), site.leg, site.leg.conj()],
            qtotal=chinfo.make_valid(),
            labels=["wL", "wR", "p", "p*"],
        )
        tensors.append(tensor.ipurge_zeros(0.0))
    return MPO(sites, tensors, "finite", starts, ends, max_range=len(sites), mps_unit_cell_width=len(sites))
