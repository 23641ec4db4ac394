"""Disentangler scoring kernels: native corvinth functions against the same formulas in NumPy.

One objective evaluation of the synthesis (entangler matrix, two-qubit
application, Schmidt spectrum, Renyi entropy) on 12 and 16 qubits, and the
product-state sweep, each timed side by side in this process; prints the ratios.
"""

import math

import numpy as np

from brimvale_chemistry import corvinth
from timing import best_time, report

REPEATS = 20


def numpy_apply(state, matrix, q0, q1, n):
    tensor = state.reshape([2] * n)
    local = [n - 1 - q1, n - 1 - q0]
    permutation = local + [a for a in range(n) if a not in local]
    moved = np.transpose(tensor, permutation).reshape(4, -1)
    moved = (matrix @ moved).reshape([2] * n)
    return np.transpose(moved, np.argsort(permutation)).reshape(-1)


def numpy_objective(state, params, q0, n, alpha):
    matrix = corvinth._entangler_matrix(params)
    out = numpy_apply(state, matrix, q0, q0 + 1, n)
    s = np.linalg.svd(out.reshape(2 ** (n - q0 - 1), 2 ** (q0 + 1)), compute_uv=False)
    p = s.real**2
    p = p / p.sum()
    p = p[p > np.finfo(float).eps]
    p = p / p.sum()
    return math.log(np.sum(p**alpha)) / (1 - alpha)


def native_objective(state, params, q0, n, alpha):
    out = corvinth._apply_two_qubit_unitary(state, corvinth._entangler_matrix(params), q0, q0 + 1, n)
    return corvinth._renyi_entropy(corvinth._schmidt_probabilities(out, n, q0), alpha)


def numpy_product_state(state, n):
    remainder = state.reshape(-1)
    factors = []
    for _ in range(n - 1):
        u, s, vh = np.linalg.svd(remainder.reshape(2, -1), full_matrices=False)
        factors.append(u[:, 0])
        remainder = s[0] * vh[0, :]
    factors.append(remainder / np.linalg.norm(remainder))
    product = factors[0]
    for f in factors[1:]:
        product = np.kron(product, f)
    return product / np.linalg.norm(product)


def main():
    rng = np.random.default_rng(7)
    params = rng.normal(size=9)
    for n in (12, 16):
        state = rng.normal(size=2**n) + 1j * rng.normal(size=2**n)
        state /= np.linalg.norm(state)
        q0 = n // 2 - 1
        native_time, native_value = best_time(REPEATS, lambda: native_objective(state, params, q0, n, 2.0))
        numpy_time, numpy_value = best_time(REPEATS, lambda: numpy_objective(state, params, q0, n, 2.0))
        assert abs(native_value - numpy_value) < 1e-9, "objectives disagree"
        report(f"objective evaluation, {n} qubits, bond {q0} (best of {REPEATS})", native_time, numpy_time)
        native_time, (_, native_product) = best_time(REPEATS, lambda: corvinth._product_state_approximation(state, n))
        numpy_time, numpy_product = best_time(REPEATS, lambda: numpy_product_state(state, n))
        assert abs(abs(np.vdot(native_product, numpy_product)) - 1) < 1e-9, "product states disagree"
        report(f"product-state sweep, {n} qubits (best of {REPEATS})", native_time, numpy_time)


if __name__ == "__main__":
    main()
