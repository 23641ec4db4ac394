"""The DMRG chain with its Hamiltonian's MPO built from the active-space integrals.

The term-built model (``mallorek._molecular_model``) hands every fermionic
term to TeNPy, whose MPO construction grows steeply with the orbital count.
Here the MPO comes straight from the one- and two-electron integrals
(:func:`~.integral_mpo.integral_mpo`) and is brought to its smallest bond
dimension (:func:`~.lean_mpo.lean_mpo`); the chain is the same: one
``SpinHalfFermionSite`` per spatial orbital, conserving N and 2 Sz, so the
initial state and the engine run on it as on the term-built model.
"""

from __future__ import annotations

from .integral_mpo import integral_mpo
from .lean_mpo import lean_mpo

__all__ = ["integral_model"]


def integral_model(one_body, two_body):
    """TeNPy model of the Hamiltonian of ``one_body`` h[p, q] and ``two_body`` (pq|rs), constant excluded.

    A ``MPOModel`` whose lattice is the open chain of one site per orbital and
    whose ``H_MPO`` is the lean integral MPO.
    """
    from tenpy.models.lattice import Chain
    from tenpy.models.model import MPOModel
    from tenpy.networks.site import SpinHalfFermionSite

    n_sites = len(one_body)
    lattice = Chain(n_sites, SpinHalfFermionSite(cons_N="N", cons_Sz="Sz"), bc="open", bc_MPS="finite")
    return MPOModel(lattice, lean_mpo(integral_mpo(one_body, two_body, lattice.mps_sites())))
