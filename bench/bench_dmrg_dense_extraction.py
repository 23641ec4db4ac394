"""Dense extraction of electron-chain states: native one-pass kernel vs NumPy axis permutations.

Prints, for chains of 6 to 11 orbitals, the time of `_electron_tensor_to_dense`
and of the same conversion written with NumPy (axis permutations of the
amplitudes, then one masked sign flip per reversed qubit pair), measured side
by side in this run, and their ratio. Both results are compared element by
element before timing.
"""

import time

import numpy as np

from brimvale_chemistry.dmrg import mallorek
from brimvale_chemistry.molecule.pellisk import interleaved_to_spin_blocked_map


def numpy_reference(theta, n_qubits):
    n_sites = n_qubits // 2
    arr = np.asarray(theta).reshape([2] * n_qubits)
    arr = np.transpose(arr, [q ^ 1 for q in range(n_qubits)])
    mapping = interleaved_to_spin_blocked_map(n_sites)
    inverse = {blocked: interleaved for interleaved, blocked in mapping.items()}
    arr = np.transpose(arr, [inverse[q] for q in range(n_qubits)])
    state = np.transpose(arr, list(reversed(range(n_qubits)))).reshape(-1)
    indices = np.arange(2**n_qubits, dtype=np.uint64)
    sign = np.ones(2**n_qubits, dtype=np.int8)
    for left in range(n_qubits):
        occupied_left = (indices >> np.uint64(left)) & np.uint64(1)
        for right in range(left + 1, n_qubits):
            if inverse[left] > inverse[right]:
                occupied_pair = (occupied_left & (indices >> np.uint64(right))).astype(bool)
                sign[occupied_pair] *= -1
    return state * sign


def best_of(fn, repeats):
    best = float("inf")
    for _ in range(repeats):
        start = time.perf_counter()
        fn()
        best = min(best, time.perf_counter() - start)
    return best


def main():
    rng = np.random.default_rng(0)
    print(f"{'orbitals':>8} {'amplitudes':>11} {'native [ms]':>12} {'numpy [ms]':>11} {'speed-up':>9}")
    for n_sites in range(6, 12):
        n_qubits = 2 * n_sites
        theta = rng.normal(size=4**n_sites) + 1j * rng.normal(size=4**n_sites)
        native = mallorek._electron_tensor_to_dense(theta, n_qubits)
        reference = numpy_reference(theta, n_qubits)
        if not np.array_equal(native, reference):
            raise SystemExit(f"results differ at {n_sites} orbitals")
        repeats = 5 if n_sites < 10 else 2
        t_native = best_of(lambda: mallorek._electron_tensor_to_dense(theta, n_qubits), repeats)
        t_numpy = best_of(lambda: numpy_reference(theta, n_qubits), repeats)
        print(
            f"{n_sites:>8} {4**n_sites:>11} {1e3 * t_native:>12.2f} {1e3 * t_numpy:>11.2f} {t_numpy / t_native:>8.1f}x"
        )


if __name__ == "__main__":
    main()
