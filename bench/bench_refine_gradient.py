"""One evaluation of the refinement's exact gradient on the state vector.

The fidelity of a reverse-preparation circuit of brick layers of
disentanglers with a random target, and its gradient with respect to every
parameter, by the serial adjoint sweeps (corvinth._circuit_infidelity): the
fastest of the timed calls, per circuit. Run it on two builds to compare them:

    python bench/bench_refine_gradient.py [--repeats N]
"""

from __future__ import annotations

import argparse

import numpy as np

from brimvale_chemistry import corvinth
from timing import best_time, machine_line

# (qubits, brick layers): the H2O preset's seven layers on 14 qubits and
# the H8 chain's eight on 16.
CIRCUITS = ((14, 7), (16, 8))


def brick_pairs(n: int, layers: int) -> list[tuple[int, int]]:
    pairs = []
    for _ in range(layers):
        pairs += [(q, q + 1) for q in range(0, n - 1, 2)] + [(q, q + 1) for q in range(1, n - 1, 2)]
    return pairs


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--repeats", type=int, default=50)
    repeats = parser.parse_args().repeats
    print(machine_line())
    rng = np.random.default_rng(3)
    for n, layers in CIRCUITS:
        psi = rng.normal(size=2**n) + 1j * rng.normal(size=2**n)
        psi /= np.linalg.norm(psi)
        pairs = brick_pairs(n, layers)
        objective = corvinth._circuit_infidelity(psi, n, pairs)
        x = 0.3 * rng.normal(size=3 * n + 9 * len(pairs))
        seconds, (value, _) = best_time(repeats, lambda: objective(x))
        print(f"{n} qubits, {layers} layers ({len(pairs)} gates): {seconds * 1e3:7.2f} ms  (1 - F = {value:.12f})")


if __name__ == "__main__":
    main()
