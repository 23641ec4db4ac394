"""Measurement sampling speed: 10,000 shots from a 20-qubit state.

Compares the native sampler of brimvale_chemistry._kernels (which starts from
the amplitudes) with numpy.random.Generator.choice over the probabilities,
measured side by side in one run. numpy is timed twice: with the
probabilities already computed, and including |amplitude|^2. Prints median
times and the ratio numpy / native (above 1: the native sampler is faster).
"""

from __future__ import annotations

import statistics
import time

import numpy as np

from brimvale_chemistry._kernels import sample_outcomes

N_QUBITS = 20
SHOTS = 10_000
REPEATS = 15


def median_seconds(function) -> float:
    function()  # warm-up: page in the state and the code
    times = []
    for _ in range(REPEATS):
        start = time.perf_counter()
        function()
        times.append(time.perf_counter() - start)
    return statistics.median(times)


def main() -> None:
    rng = np.random.default_rng(2077)
    state = rng.normal(size=2**N_QUBITS) + 1j * rng.normal(size=2**N_QUBITS)
    state /= np.linalg.norm(state)
    probabilities = np.abs(state) ** 2
    indices = np.arange(2**N_QUBITS)

    native = median_seconds(lambda: sample_outcomes(state, N_QUBITS, SHOTS, 12345))
    native_rotated = median_seconds(
        lambda: sample_outcomes(state, N_QUBITS, SHOTS, 12345, x_mask=0b1010101, y_mask=0b10)
    )
    numpy_choice = median_seconds(lambda: rng.choice(indices, size=SHOTS, p=probabilities))
    numpy_with_probabilities = median_seconds(lambda: rng.choice(indices, size=SHOTS, p=np.abs(state) ** 2))

    print(f"sampling {SHOTS} shots from a {N_QUBITS}-qubit state (median of {REPEATS})")
    print(f"  native sample_outcomes                : {native * 1e3:8.3f} ms")
    print(f"  native, 5 qubits rotated first        : {native_rotated * 1e3:8.3f} ms")
    print(f"  numpy Generator.choice (given p)      : {numpy_choice * 1e3:8.3f} ms")
    print(f"  numpy Generator.choice (p from state) : {numpy_with_probabilities * 1e3:8.3f} ms")
    print(f"  ratio numpy(given p) / native         : {numpy_choice / native:8.2f}")
    print(f"  ratio numpy(p from state) / native    : {numpy_with_probabilities / native:8.2f}")


if __name__ == "__main__":
    main()
