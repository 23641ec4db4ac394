"""The DMRG ground state as a qubit MPS in the spin-blocked order, without a dense vector.

TeNPy's chain has one site per spatial orbital, its modes in the interleaved
order (orbital k up, then orbital k down). Each orbital site is split into its
two spin qubits, which gives a qubit MPS in the interleaved order with TeNPy's
own amplitudes; a network of fermionic swaps then carries the qubits into the
spin-blocked order (qubit p: orbital p up, qubit p + n_orb: orbital p down).
A fermionic swap exchanges two neighbouring modes and negates the amplitude
where both are occupied, so each basis state picks up (-1) raised to the
number of occupied pairs whose order the network reverses: the sign the dense
extraction gives psi0.
"""

from __future__ import annotations

import numpy as np

from brimvale import MPS, Circuit
from brimvale.mps import Truncation

from .. import _defaults
from ..molecule.pellisk import interleaved_to_spin_blocked_map

__all__ = ["qubit_mps"]

# Schmidt values below this fraction of the norm are rounding noise of the
# contractions; dropping them gives every bond the rank of the state, and the
# amplitudes move by less than 1e-13.
ROUNDING_CUTOFF = _defaults.MPS_ROUNDING_CUTOFF
# Halfway through the swap network the state is more entangled than at its
# end: capped at max_bond there, H10 at 64 loses 12 times the weight of the
# best truncation of the final state; at four times max_bond, with the cap
# applied once at the end, it loses what that truncation loses to 1 %.
NETWORK_BOND_FACTOR = 4


def _orbital_tensors(psi) -> list[np.ndarray]:
    """TeNPy's site tensors (vL, p, vR) whose product is its full wave function, local basis unsorted.

    The tensors are taken as TeNPy's own full contraction takes them: the
    first with the Schmidt values of its left bond, each later one in the
    form that continues the previous one.
    """
    from tenpy.tools.misc import inverse_permutation

    tensors = []
    _, previous_right = psi.form[0]
    for i in range(psi.L):
        left = 1.0 if i == 0 else 1.0 - previous_right
        right = 1.0 if i == psi.L - 1 else None
        b = psi.get_B(i, (left, right))
        _, previous_right = psi.form[i]
        array = b.to_ndarray().transpose([b.get_leg_index(label) for label in ("vL", "p", "vR")])
        tensors.append(array[:, inverse_permutation(psi.sites[i].perm), :])
    return tensors


def _split_orbital(tensor: np.ndarray) -> tuple[np.ndarray, np.ndarray]:
    """An orbital tensor (χL, 4, χR), local state u + 2d, as its up-qubit and down-qubit tensors.

    The up qubit only carries its occupation u across the new bond (of
    dimension 2 χL, index u·χL + a); the down qubit holds the amplitudes. The
    canonical form later shrinks the new bond to its rank.
    """
    left, _, right = tensor.shape
    up = np.zeros((left, 2, 2 * left), dtype=np.complex128)
    for u in range(2):
        up[:, u, u * left : (u + 1) * left] = np.eye(left)
    # tensor[a, u + 2d, b] -> (a, d, u, b) -> (u, a, d, b) -> ((u, a), d, b)
    down = tensor.reshape(left, 2, 2, right).transpose(2, 0, 1, 3).reshape(2 * left, 2, right)
    return up, down


def _fermionic_swap_network(n_qubits: int) -> Circuit:
    """Neighbour swaps with the fermionic sign (CZ, then SWAP) that sort the interleaved modes into spin-blocked order.

    Odd-even transposition: every pair of modes whose order differs between
    the two orders is exchanged exactly once.
    """
    mapping = interleaved_to_spin_blocked_map(n_qubits // 2)
    target = [mapping[mode] for mode in range(n_qubits)]  # target qubit of the mode at each position
    circuit = Circuit(n_qubits, name="interleaved to spin-blocked")
    for round_ in range(n_qubits):
        for p in range(round_ % 2, n_qubits - 1, 2):
            if target[p] > target[p + 1]:
                circuit.cz(p, p + 1)
                circuit.swap(p, p + 1)
                target[p], target[p + 1] = target[p + 1], target[p]
    if target != sorted(target):  # pragma: no cover - n rounds always sort
        raise AssertionError("the swap network left the modes unsorted")
    return circuit


def qubit_mps(psi, n_qubits: int, *, max_bond: int | None = None) -> MPS:
    """The finite TeNPy MPS ``psi`` (one site per spatial orbital) as a brimvale MPS on ``n_qubits`` qubits.

    Spin-blocked qubit order and fermionic sign as the dense state psi0;
    truncated at rounding level and, if given, to ``max_bond`` Schmidt values
    per bond (its ``discarded_weight`` says how much either dropped).
    """
    if n_qubits // 2 != psi.L or n_qubits % 2:
        raise ValueError(f"electron MPS has {psi.L} sites for {n_qubits} qubits")
    tensors = []
    for orbital in _orbital_tensors(psi):
        tensors.extend(_split_orbital(orbital))
    final = Truncation(max_bond, ROUNDING_CUTOFF)
    network_bond = None if final.max_bond is None else NETWORK_BOND_FACTOR * final.max_bond
    interleaved = MPS.from_tensors(tensors, cutoff=final.cutoff, max_bond=network_bond)
    network = _fermionic_swap_network(n_qubits)
    blocked = network.execute(backend="mps", initial=interleaved, cutoff=final.cutoff, max_bond=network_bond).mps
    return blocked if final.max_bond is None else blocked.truncated(max_bond=final.max_bond, cutoff=final.cutoff)
