"""Hamiltonian expectation: native bit-mask kernel against the same formula vectorised in NumPy.

14 qubits, 1,000 random Pauli terms, both timed in this process; prints the ratio.
"""

import numpy as np

from brimvale_chemistry.utils import PauliTerm, hamiltonian_expectation
from timing import best_time, report

N_QUBITS, N_TERMS, REPEATS = 14, 1000, 5


def random_terms(rng):
    terms = []
    for _ in range(N_TERMS):
        letters = rng.integers(0, 4, size=N_QUBITS)
        terms.append(PauliTerm(float(rng.normal()), tuple((q, "IXYZ"[k]) for q, k in enumerate(letters) if k)))
    return terms


def numpy_expectation(state, terms):
    index = np.arange(state.size, dtype=np.uint64)
    total = 0j
    for term in terms:
        x, z = np.uint64(term.x_mask), np.uint64(term.z_mask)
        parity = np.bitwise_count(index & z) & np.uint64(1)
        sign = 1.0 - 2.0 * parity
        phase = 1j ** (bin(term.x_mask & term.z_mask).count("1") % 4)
        total += term.coefficient * phase * np.sum(np.conj(state[index ^ x]) * state * sign)
    return total


def main():
    rng = np.random.default_rng(3)
    terms = random_terms(rng)
    state = rng.normal(size=2**N_QUBITS) + 1j * rng.normal(size=2**N_QUBITS)
    state /= np.linalg.norm(state)
    native_time, native_value = best_time(REPEATS, lambda: hamiltonian_expectation(state, terms, N_QUBITS))
    numpy_time, numpy_value = best_time(REPEATS, lambda: numpy_expectation(state, terms))
    assert abs(native_value - numpy_value) < 1e-9, "kernels disagree"
    report(
        f"hamiltonian_expectation, {N_QUBITS} qubits, {N_TERMS} terms (best of {REPEATS})", native_time, numpy_time, 10
    )


if __name__ == "__main__":
    main()
