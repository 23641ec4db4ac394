"""An exactly equivalent MPO of smallest bond dimension, by charge-conserving SVDs.

TeNPy's MPO of a list of terms gives every term prefix its own MPO state, so a
molecular Hamiltonian's bonds carry several times the states its operator
Schmidt rank needs; the cost of every DMRG step grows with them. Two sweeps of
singular value decompositions, block by block in the charges of the MPO legs,
bring every bond down to that rank: left to right the tensors are made
orthonormal, right to left the singular values of each bond are those of the
Hamiltonian's operator Schmidt decomposition. Only singular values at rounding
level (relative to the largest of their bond) are dropped, so the new MPO is the
same operator to rounding.
"""

from __future__ import annotations

import numpy as np

__all__ = ["lean_mpo"]

# Singular values below this fraction of the largest of their bond are
# rounding noise of exactly dependent MPO states. Genuine ones of molecular
# Hamiltonians lie many orders above it (relative 2e-7 and more for the demo
# molecules and hydrogen chains of up to ten atoms, against at most 1e-15 for
# the noise).
_ROUNDING_LEVEL = 1e-13
_LEG_ORDER = ["wL", "wR", "p", "p*"]


def _kept(singular_values: np.ndarray) -> np.ndarray:
    keep = singular_values > _ROUNDING_LEVEL * singular_values.max(initial=0.0)
    if not keep.any():
        # A zero operator still needs one state per bond.
        keep[np.argmax(singular_values)] = True
    return keep


def _end_projection(tensor, leg: str, index: int):
    """The tensor restricted to one state of an end leg, the leg kept (of dimension one)."""
    mask = np.zeros(tensor.get_leg(leg).ind_len, dtype=bool)
    mask[index] = True
    projected = tensor.copy()
    projected.iproject(mask, leg)
    return projected


def _split_left(tensor, npc):
    """tensor = U · R with U orthonormal over (wL, p, p*); returns (U, R), R with legs (wL, wR)."""
    u, s, vh = npc.svd(tensor.combine_legs([["wL", "p", "p*"], ["wR"]], qconj=[+1, -1]), inner_labels=["wR", "wL"])
    keep = _kept(s)
    u.iproject(keep, "wR")
    vh.iproject(keep, "wL")
    return u.split_legs().itranspose(_LEG_ORDER), vh.split_legs().iscale_axis(s[keep], "wL")


def _split_right(tensor, npc):
    """tensor = L · V with V orthonormal over (wR, p, p*); returns (L, V), L with legs (wL, wR)."""
    u, s, vh = npc.svd(tensor.combine_legs([["wL"], ["wR", "p", "p*"]], qconj=[+1, -1]), inner_labels=["wR", "wL"])
    keep = _kept(s)
    u.iproject(keep, "wR")
    vh.iproject(keep, "wL")
    return u.split_legs().iscale_axis(s[keep], "wR"), vh.split_legs().itranspose(_LEG_ORDER)


def lean_mpo(mpo):
    """The operator of the finite MPO ``mpo`` as an MPO of smallest bond dimension.

    The end legs are reduced to the one state the environments start from
    (``IdL`` of the first bond, ``IdR`` of the last), which become index 0;
    inner bonds mix TeNPy's identity states, so their ``IdL``/``IdR`` are None
    (DMRG without mixer and expectation values never read them). ``mpo`` is
    left unchanged.
    """
    import tenpy.linalg.np_conserved as npc
    from tenpy.networks.mpo import MPO

    if mpo.bc != "finite":
        raise ValueError(f"only finite MPOs are compressed, got bc={mpo.bc!r}")
    n_sites = mpo.L
    first, last = mpo.get_IdL(0), mpo.get_IdR(n_sites - 1)
    if first is None or last is None:
        raise ValueError("the MPO has no identity state at its ends")
    tensors = [mpo.get_W(i).copy().itranspose(_LEG_ORDER) for i in range(n_sites)]
    tensors[0] = _end_projection(tensors[0], "wL", first)
    tensors[-1] = _end_projection(tensors[-1], "wR", last)
    for i in range(n_sites - 1):
        tensors[i], rest = _split_left(tensors[i], npc)
        tensors[i + 1] = npc.tensordot(rest, tensors[i + 1], axes=("wR", "wL")).itranspose(_LEG_ORDER)
    for i in range(n_sites - 1, 0, -1):
        rest, tensors[i] = _split_right(tensors[i], npc)
        tensors[i - 1] = npc.tensordot(tensors[i - 1], rest, axes=("wR", "wL")).itranspose(_LEG_ORDER)
    return MPO(
        mpo.sites,
        tensors,
        "finite",
        [0] + [None] * n_sites,
        [None] * n_sites + [0],
        max_range=mpo.max_range,
        explicit_plus_hc=mpo.explicit_plus_hc,
        mps_unit_cell_width=mpo.unit_cell_width,
    )
