"""Speed of the disentangler objective and of a whole synthesis run.

Run from the repository root:

    PYTHONPATH=python python bench/bench_cvd_objective.py

(or with the installed package and no PYTHONPATH). Every figure is measured in
this one process, side by side:

* NumPy baseline: one objective evaluation composed in NumPy — the 4x4
  disentangler, its application to the state by reshape/transpose/matmul,
  ``numpy.linalg.svd(..., compute_uv=False)`` and the Renyi entropy.
* ours: one call of the native objective of ``corvinth`` (built once per bond;
  the build time is listed apart).
* LAPACK floor: one values-only Hermitian eigenvalue solve (``zheevd`` through
  ``scipy.linalg.lapack``) of the reduced density matrix of the smaller side of
  that bond.

BLAS threads default to one (``OPENBLAS_NUM_THREADS`` etc., unless already
set) so that the figures do not depend on what else runs on the machine.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import time
import warnings

for _variable in ("OPENBLAS_NUM_THREADS", "OMP_NUM_THREADS", "MKL_NUM_THREADS"):
    os.environ.setdefault(_variable, "1")

import numpy as np  # noqa: E402
import scipy.linalg.lapack  # noqa: E402
from scipy.optimize import minimize  # noqa: E402

from brimvale_chemistry import corvinth  # noqa: E402
from brimvale_chemistry.utils import _PAULI  # noqa: E402

# --- The NumPy composition of one objective evaluation --------------------------------


def numpy_rotation(vector):
    v = np.asarray(vector, dtype=float)
    theta = float(np.linalg.norm(v))
    if theta < 1e-12:
        return np.eye(2, dtype=np.complex128)
    nx, ny, nz = v / theta
    s, c = np.sin(theta / 2), np.cos(theta / 2)
    return np.array([[c - 1j * nz * s, (-1j * nx - ny) * s], [(-1j * nx + ny) * s, c + 1j * nz * s]])


def numpy_entangler(params):
    p = np.asarray(params, dtype=float)
    gate = np.kron(numpy_rotation(p[3:6]), numpy_rotation(p[0:3]))
    identity = np.eye(4, dtype=np.complex128)
    for k, letter in enumerate("XYZ"):
        pp = np.kron(_PAULI[letter], _PAULI[letter])
        gate = (np.cos(p[6 + k]) * identity - (1j * np.sin(p[6 + k])) * pp) @ gate
    return gate


def numpy_apply(state, matrix, q0, q1, n):
    tensor = np.asarray(state, dtype=np.complex128).reshape([2] * n)
    local = [n - 1 - q1, n - 1 - q0]
    permutation = local + [a for a in range(n) if a not in local]
    moved = np.transpose(tensor, permutation).reshape(4, -1)
    moved = (matrix @ moved).reshape([2] * n)
    return np.transpose(moved, np.argsort(permutation)).reshape(-1)


def numpy_schmidt(state, n, bond):
    matrix = np.asarray(state, dtype=np.complex128).reshape(2 ** (n - bond - 1), 2 ** (bond + 1))
    probabilities = np.real(np.linalg.svd(matrix, compute_uv=False)) ** 2
    return probabilities / float(np.sum(probabilities))


def numpy_renyi(probabilities, alpha):
    p = np.asarray(probabilities, dtype=float)
    p = p[p > np.finfo(float).eps]
    p = p / float(np.sum(p))
    if np.isinf(alpha):
        return float(-np.log(np.max(p)))
    if np.isclose(alpha, 1.0):
        return float(-np.sum(p * np.log(p)))
    return float(np.log(np.sum(p**alpha)) / (1.0 - alpha))


def numpy_objective(state, n, q0, alpha):
    def objective(params):
        return numpy_renyi(numpy_schmidt(numpy_apply(state, numpy_entangler(params), q0, q0 + 1, n), n, q0), alpha)

    return objective


# --- Test states ------------------------------------------------------------------------


def random_state(n, rng):
    state = rng.normal(size=2**n) + 1j * rng.normal(size=2**n)
    return state / np.linalg.norm(state)


def random_mps_state(n, bond_dimension, rng):
    """A random MPS of the given bond dimension contracted to a state vector."""
    vector = np.ones((1, 1), dtype=np.complex128)
    for site in range(n):
        left = vector.shape[1]
        right = 1 if site == n - 1 else min(bond_dimension, 2 ** (site + 1), 2 ** (n - site - 1))
        tensor = rng.normal(size=(left, 2, right)) + 1j * rng.normal(size=(left, 2, right))
        vector = np.einsum("ib,bpc->ipc", vector, tensor).reshape(-1, right)
    state = vector.reshape(-1)
    return state / np.linalg.norm(state)


def reduced_density_matrix(state, n, bond):
    """Density matrix of the smaller side of the cut after `bond`."""
    matrix = state.reshape(2 ** (n - bond - 1), 2 ** (bond + 1))
    if matrix.shape[0] <= matrix.shape[1]:
        return np.ascontiguousarray(matrix @ matrix.conj().T)
    return np.ascontiguousarray(matrix.conj().T @ matrix)


# --- Timing -----------------------------------------------------------------------------


def per_call(function, arguments, budget):
    """Seconds per call: the best of three rounds, each at least `budget` / 3 long."""
    count = len(arguments)
    start = time.perf_counter()
    function(arguments[0])
    single = max(time.perf_counter() - start, 1e-7)
    calls = max(3, int(budget / 3 / single))
    best = float("inf")
    for _ in range(3):
        start = time.perf_counter()
        for i in range(calls):
            function(arguments[i % count])
        best = min(best, (time.perf_counter() - start) / calls)
    return best


def bond_row(label, state, n, q0, params, budget):
    alpha = 1.0
    baseline = numpy_objective(state, n, q0, alpha)
    start = time.perf_counter()
    ours = corvinth._disentangler_objective(state, n, q0, alpha)
    build = time.perf_counter() - start
    deviation = max(abs(ours(p) - baseline(p)) for p in params[:4])
    rho = reduced_density_matrix(numpy_apply(state, numpy_entangler(params[0]), q0, q0 + 1, n), n, q0)

    def floor(_):
        scipy.linalg.lapack.zheevd(rho, compute_v=0, overwrite_a=0)

    t_numpy = per_call(baseline, params, budget)
    t_ours = per_call(ours, params, budget)
    t_floor = per_call(floor, [None], budget)
    print(
        f"{label:<18}{n:>3}{q0:>5}{ours.gram_dimension:>6}{t_numpy * 1e6:>12.1f}{t_ours * 1e6:>11.1f}"
        f"{t_floor * 1e6:>11.1f}{t_numpy / t_ours:>10.1f}x{t_ours / t_floor:>9.2f}x{build * 1e3:>10.2f}"
        f"{deviation:>11.1e}",
        flush=True,
    )


def objective_table(budget, sizes):
    rng = np.random.default_rng(20240607)
    params = [rng.normal(0.0, 0.5, 9) for _ in range(16)]
    print("One objective evaluation (Renyi index 1), microseconds per call")
    print(
        f"{'state':<18}{'n':>3}{'bond':>5}{'dim':>6}{'NumPy':>12}{'ours':>11}{'floor':>11}"
        f"{'NumPy/ours':>11}{'ours/floor':>10}{'build ms':>10}{'|diff|':>11}"
    )
    for n in sizes:
        state = random_state(n, rng)
        bond_row("random", state, n, n // 2 - 1, params, budget)
        bond_row("random", state, n, 0, params, budget)
    state = random_mps_state(14, 16, rng)
    bond_row("MPS, bond dim 16", state, 14, 6, params, budget)
    print("dim: dimension of the Hermitian matrix our objective solves per call; floor: zheevd values only")
    print("of the reduced density matrix of the smaller side; build: one-off set-up per bond (ours).")


# --- A whole synthesis run --------------------------------------------------------------


class CountingMinimize:
    """Stands in for the optimiser to count objective evaluations."""

    def __init__(self):
        self.evaluations = 0

    def __call__(self, *args, **kwargs):
        result = minimize(*args, **kwargs)
        self.evaluations += int(result.nfev)
        return result


def numpy_driven_run(psi0, n, layers, maxiter=200, restarts=3, init_scale=0.5, seed=2077):
    """The synthesis loop with the NumPy objective; returns (overlap, evaluations)."""
    evaluations = 0
    gate_rows = []
    disentangled = psi0.copy()
    overlap = None
    for layer_index in range(layers):
        for start in (0, 1):
            group_input = disentangled.copy()
            optimized = []
            for q0 in range(start, n - 1, 2):
                objective = numpy_objective(group_input, n, q0, 1.0)
                best_x = np.zeros(9)
                best_fun = objective(best_x)
                evaluations += 1
                for restart in range(restarts):
                    rng = np.random.default_rng(seed + 1009 * layer_index + 37 * q0 + restart)
                    initial = rng.normal(0.0, init_scale, 9)
                    candidate = minimize(
                        objective, initial, method="L-BFGS-B", options={"maxiter": maxiter, "ftol": 1e-12}
                    )
                    evaluations += int(candidate.nfev)
                    if candidate.fun < best_fun:
                        best_x, best_fun = np.asarray(candidate.x, dtype=float), float(candidate.fun)
                optimized.append((q0, q0 + 1, best_x))
            for q0, q1, params in optimized:
                disentangled = numpy_apply(disentangled, numpy_entangler(params), q0, q1, n)
                gate_rows.append((q0, q1, *params))
        _, overlap, _ = corvinth._reverse_preparation_snapshot(psi0, disentangled, n, gate_rows, None)
    return overlap, evaluations


def whole_run(layers):
    n = 10
    psi0 = random_mps_state(n, 2, np.random.default_rng(7))
    counter = CountingMinimize()
    original = corvinth.minimize
    corvinth.minimize = counter
    try:
        with warnings.catch_warnings(), contextlib.redirect_stdout(io.StringIO()):
            warnings.simplefilter("ignore", UserWarning)
            start = time.perf_counter()
            result = corvinth.cvd_dmrg(psi0, layers=layers)
            t_ours = time.perf_counter() - start
    finally:
        corvinth.minimize = original
    # One identity evaluation per bond besides the optimiser's own.
    ours_evaluations = counter.evaluations + layers * (n - 1)

    start = time.perf_counter()
    overlap, numpy_evaluations = numpy_driven_run(psi0, n, layers)
    t_numpy = time.perf_counter() - start

    print()
    print(f"Whole cvd_dmrg run: random MPS state of bond dimension 2, n = {n}, {layers} layers, default settings")
    print(f"{'objective':<10}{'seconds':>10}{'evaluations':>13}{'evals/s':>11}{'final overlap':>16}")
    print(f"{'NumPy':<10}{t_numpy:>10.2f}{numpy_evaluations:>13}{numpy_evaluations / t_numpy:>11.0f}{overlap:>16.12f}")
    print(
        f"{'ours':<10}{t_ours:>10.2f}{ours_evaluations:>13}{ours_evaluations / t_ours:>11.0f}"
        f"{result.overlap_mod:>16.12f}"
    )
    print(f"run time NumPy/ours: {t_numpy / t_ours:.1f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--budget", type=float, default=0.3, help="seconds spent timing each figure")
    parser.add_argument("--sizes", type=int, nargs="*", default=[8, 10, 12, 14, 16], help="qubit counts")
    parser.add_argument("--layers", type=int, default=2, help="layers of the whole run")
    args = parser.parse_args()
    print(f"BLAS threads: OPENBLAS_NUM_THREADS={os.environ['OPENBLAS_NUM_THREADS']}")
    objective_table(args.budget, args.sizes)
    whole_run(args.layers)


if __name__ == "__main__":
    main()
