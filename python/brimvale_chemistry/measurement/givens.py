"""An orbital rotation as a network of Givens rotations between neighbouring orbitals, compiled to gates.

W(u) is the fermionic unitary with W a+_p W^dagger = sum_q u[q, p] a+_q. For
real orthogonal R, elimination by rotations of neighbouring rows gives
G_K ... G_1 = D R with D = diag(1, …, 1, det R); the network applies G_1
first. Orbital rotations act alike on both spins: in the spin-blocked order
orbitals p and p + 1 are qubits p, p + 1 (spin up) and n + p, n + p + 1 (spin
down), neighbours in either block, so no Jordan-Wigner string runs between
them and

    exp(theta (a+_i a_j - a+_j a_i)), j = i + 1
      = ry(-pi/2)_i . cx(i, j) . ry(theta)_i ry(theta)_j . cx(i, j) . ry(pi/2)_i

(rightmost first): two CNOTs per rotation and spin, 2 n (n - 1) per network.
"""

from __future__ import annotations

import math
from collections.abc import Iterator

import numpy as np

# Rotations closer than this to the identity are left out (their angle is rounding noise).
_NEGLIGIBLE_ANGLE = 1e-13


def givens_network(rotation: np.ndarray) -> tuple[list[tuple[int, float]], np.ndarray]:
    """((i, theta) per rotation of orbitals i, i + 1, first applied first; the orthogonal matrix they realise).

    The realised matrix is ``rotation`` with its last row negated when its determinant is −1.
    """
    m = np.array(rotation, dtype=np.float64).T
    n = m.shape[0]
    network: list[tuple[int, float]] = []
    realised = np.eye(n)
    for column in range(n - 1):
        for row in range(n - 1, column, -1):
            i, j = row - 1, row
            theta = math.atan2(m[j, column], m[i, column])
            if abs(theta) <= _NEGLIGIBLE_ANGLE:
                continue
            c, s = math.cos(theta), math.sin(theta)
            block = np.array([[c, s], [-s, c]])
            m[[i, j], :] = block @ m[[i, j], :]
            realised[[i, j], :] = block @ realised[[i, j], :]
            network.append((i, theta))
    return network, realised


def givens_gates(
    network: list[tuple[int, float]], n_orbitals: int, *, block_by_block: bool = False
) -> Iterator[tuple[str, tuple[int, ...], float]]:
    """(gate, qubits, angle) of the network on both spin blocks; angle 0.0 for a CNOT.

    The written programs take each rotation on both blocks in turn.
    ``block_by_block`` runs the whole network on the spin-up block first,
    the same operator since the blocks share no qubit: a simulation on a
    matrix product state then keeps its orthogonality centre within one
    block instead of carrying it across half the chain for every rotation
    (a third of the time on a 32-qubit chain, where the rotations
    dominate the measurement).
    """
    half_pi = 0.5 * math.pi
    turns = [(i, theta, offset) for i, theta in network for offset in (0, n_orbitals)]
    if block_by_block:
        turns.sort(key=lambda turn: turn[2])  # stable: the network's order within each block
    for i, theta, offset in turns:
        a, b = i + offset, i + 1 + offset
        yield "ry", (a,), half_pi
        yield "cx", (a, b), 0.0
        yield "ry", (a,), theta
        yield "ry", (b,), theta
        yield "cx", (a, b), 0.0
        yield "ry", (a,), -half_pi


def append_gates(circuit, network: list[tuple[int, float]], n_orbitals: int, *, block_by_block: bool = False) -> None:
    """Append the network's gates to a brimvale ``Circuit`` (``block_by_block``: see :func:`givens_gates`)."""
    for name, qubits, angle in givens_gates(network, n_orbitals, block_by_block=block_by_block):
        if name == "cx":
            circuit.cx(*qubits)
        else:
            circuit.ry(angle, qubits[0])
