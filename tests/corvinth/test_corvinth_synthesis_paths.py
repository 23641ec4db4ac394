"""The fast synthesis paths against today's: SciPy forming its own differences on
the plain objective. The single-call gradient must make L-BFGS-B take exactly
the same path, and worker threads must not change a single bit."""

import _thread
import contextlib
import inspect
import io
import os
import signal
import subprocess
import sys
import textwrap
import threading
import time
import warnings

import numpy as np
import pytest
from corvinth_reference import random_state
from scipy.optimize import minimize
from scipy.optimize._minimize import _minimize_lbfgsb

import brimvale_chemistry
from brimvale_chemistry import corvinth
from brimvale_chemistry.utils import PauliTerm

OPTIONS = {"maxiter": 200, "ftol": 1e-12}


def both_ways(objective, x0, maxfun=None):
    """One optimiser run with SciPy's differences and one with the single call."""
    library_options = dict(OPTIONS) if maxfun is None else {**OPTIONS, "maxfun": maxfun}
    single_options = {**OPTIONS, "maxfun": (15000 if maxfun is None else maxfun) // 10}
    library = minimize(objective, x0, method="L-BFGS-B", options=library_options)
    single = minimize(objective.forward_difference, x0, method="L-BFGS-B", jac=True, options=single_options)
    return library, single


def assert_same_run(library, single):
    assert library.x.tobytes() == single.x.tobytes()
    assert library.jac.tobytes() == single.jac.tobytes()
    assert np.float64(library.fun).tobytes() == np.float64(single.fun).tobytes()
    assert (library.nit, library.status, library.success, library.message) == (
        single.nit,
        single.status,
        single.success,
        single.message,
    )
    # SciPy counts the nine differences of each point as evaluations too.
    assert library.nfev == 10 * single.nfev


def captured(run, psi, **options):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        result = run(psi, **options)
    return out.getvalue(), result


def fields_and_gates(result):
    return (
        result.overlap_mod,
        result.energy,
        result.circuit_layers,
        result.renyi_indices,
        result.circuit_params,
        list(result.circuit),
    )


@pytest.fixture
def rng():
    return np.random.default_rng(31)


class TestSingleCallGradient:
    def test_scipy_defaults_are_the_ones_reproduced(self):
        # The single call hard-codes SciPy's difference step and evaluation budget.
        defaults = inspect.signature(_minimize_lbfgsb).parameters
        assert defaults["eps"].default == 1e-8 and defaults["maxfun"].default == 15000

    @pytest.mark.parametrize("alpha", [1.0, 2.0, np.inf])
    def test_optimiser_takes_the_same_path(self, rng, alpha):
        n = 4
        state = random_state(rng, n)
        special = [
            np.zeros(9),
            # Coordinates where a step of 1e-8 is lost to rounding take SciPy's
            # relative fallback, with its sign rule (-0.0 counts as positive).
            np.array([3e8, -2e8, -0.0, 1e9, -0.2, 0.1, 5e7, -1e8, 2.0]),
            -np.zeros(9),
        ]
        for q0 in range(n - 1):
            objective = corvinth._disentangler_objective(state, n, q0, alpha)
            for x0 in (special[q0], rng.normal(0.0, 0.5, 9)):
                assert_same_run(*both_ways(objective, x0))

    def test_same_stop_when_the_evaluation_budget_runs_out(self, rng):
        objective = corvinth._disentangler_objective(random_state(rng, 4), 4, 1, 1.0)
        for maxfun in (25, 49, 50, 51, 137):
            library, single = both_ways(objective, rng.normal(0.0, 0.5, 9), maxfun=maxfun)
            assert_same_run(library, single)
            assert "EVALUATIONS EXCEEDS LIMIT" in single.message

    def test_gradient_is_scipys_difference_quotient(self, rng):
        from scipy.optimize._numdiff import approx_derivative

        objective = corvinth._disentangler_objective(random_state(rng, 4), 4, 1, 1.0)
        for x in (rng.normal(0.0, 0.5, 9), np.array([1e9, -1e9, 0.0, -0.0, 1.0, -1.0, 3e8, 1e-300, -5.0])):
            value, gradient = objective.forward_difference(x)
            expected = approx_derivative(objective, x, method="2-point", abs_step=1e-8, f0=objective(x))
            assert value == objective(x) and gradient.tobytes() == expected.tobytes()


class TestThreads:
    @pytest.fixture
    def hamiltonian(self):
        return [
            PauliTerm.from_string(-0.7, ""),
            PauliTerm.from_string(0.2, "Z3 Z4"),
            PauliTerm.from_string(0.1, "X0 X1 Y5"),
            PauliTerm.from_string(-0.3, "Z7"),
        ]

    def test_every_path_prints_and_returns_the_same(self, rng, hamiltonian):
        # The middle bonds of a random 8-qubit state solve 16 x 16 problems,
        # large enough for the workers to share the differences of one gradient.
        psi = random_state(rng, 8)
        options = {"pauli_terms": hamiltonian, "layers": 1, "restarts": 2, "maxiter": 25, "seed": 5}
        lines, result = captured(corvinth._cvd_dmrg_reference, psi, **options)
        for threads in (1, 2, 3):
            other_lines, other = captured(corvinth.cvd_dmrg, psi, threads=threads, **options)
            assert other_lines == lines
            assert fields_and_gates(other) == fields_and_gates(result)

    def test_first_failure_in_serial_order_is_raised(self, rng, monkeypatch):
        # Bond 0's second run fails late; bond 2's first run fails at once, and
        # with two threads usually first in time. The serial order decides.
        seed = 3

        def failing_minimize(fun, x0, **options):
            for q0, restart, delay in ((0, 1, 0.2), (2, 0, 0.0)):
                if np.array_equal(x0, np.random.default_rng(seed + 37 * q0 + restart).normal(0.0, 0.5, 9)):
                    time.sleep(delay)
                    raise RuntimeError(f"bond {q0}, run {restart}")
            return minimize(fun, x0, **options)

        monkeypatch.setattr(corvinth, "minimize", failing_minimize)
        for threads in (1, 2):
            with pytest.raises(RuntimeError, match="^bond 0, run 1$"):
                captured(corvinth.cvd_dmrg, random_state(rng, 5), layers=1, maxiter=5, seed=seed, threads=threads)

    @pytest.mark.parametrize(
        "n_qubits, layers, delay",
        [
            # Many short layers: the Ctrl-C may arrive in a brick group, at a
            # layer's snapshot or between them.
            (4, 5000, 0.05),
            (4, 5000, 0.3),
            (4, 5000, 1.0),
            # One long brick group: it arrives while the workers optimise.
            (10, 1, 0.25),
        ],
    )
    # The Ctrl-C may land in a finalizer the collector runs; the interpreter
    # reports it there as unraisable, and the latch raises it to the caller.
    @pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
    def test_interrupt_stops_the_workers(self, rng, n_qubits, layers, delay):
        # A process started in the background of a shell without job control
        # (as CI may be) inherits an ignored SIGINT, and Python then has no
        # handler that raises KeyboardInterrupt: put Python's own in place.
        previous = signal.signal(signal.SIGINT, signal.default_int_handler)
        try:
            self._interrupt_the_workers(rng, n_qubits, layers, delay)
        finally:
            signal.signal(signal.SIGINT, previous)

    def _interrupt_the_workers(self, rng, n_qubits, layers, delay):
        # Each run takes minutes, so the Ctrl-C always arrives before its end;
        # the bound on the wait only tells a late stop from a lost one.
        psi = random_state(rng, n_qubits)
        timer = threading.Timer(delay, _thread.interrupt_main)
        timer.start()
        start = time.perf_counter()
        try:
            with pytest.raises(KeyboardInterrupt):
                captured(corvinth.cvd_dmrg, psi, layers=layers, restarts=200 if n_qubits == 10 else 3, threads=2)
        finally:
            timer.cancel()
        assert time.perf_counter() - start < delay + 30.0

    @pytest.mark.parametrize(
        "options, error, message",
        [
            ({"threads": 0}, ValueError, "threads must be a positive integer or None"),
            ({"threads": -3}, ValueError, "threads must be a positive integer or None"),
            ({"threads": 0.5}, ValueError, "threads must be a positive integer or None"),
            ({"threads": "2"}, TypeError, "Argument 'threads' has incorrect type (expected int, got str)"),
            ({"gradient": "exact"}, ValueError, "gradient must be 'finite-difference' or 'analytic'"),
            ({"gradient": None}, TypeError, "Argument 'gradient' has incorrect type (expected str, got NoneType)"),
            # Value checks come after the specified ones, threads before gradient.
            ({"threads": 0, "init_scale": -1.0}, ValueError, "init_scale must be nonnegative"),
            ({"threads": 0, "gradient": "exact"}, ValueError, "threads must be a positive integer or None"),
        ],
    )
    def test_argument_checks(self, capsys, options, error, message):
        with pytest.raises(error) as failure:
            captured(corvinth.cvd_dmrg, np.ones(4), layers=1, **options)
        assert str(failure.value) == message

    def test_keywords_follow_the_specified_ones(self):
        parameters = list(inspect.signature(corvinth.cvd_dmrg).parameters.values())
        names = [p.name for p in parameters]
        assert names[-8:] == [
            "threads",
            "gradient",
            "state",
            "max_bond",
            "cutoff",
            "target_overlap",
            "max_cnots",
            "refine_seconds",
        ]
        threads, gradient = parameters[names.index("threads")], parameters[names.index("gradient")]
        assert threads.default is None and gradient.default == "finite-difference"
        assert all(p.kind is inspect.Parameter.KEYWORD_ONLY for p in parameters[1:])
        with pytest.raises(TypeError, match="unexpected keyword argument 'threads'"):
            corvinth._cvd_dmrg_reference(np.ones(4), threads=1)


def child_env():
    env = dict(os.environ)
    package_root = os.path.dirname(os.path.dirname(brimvale_chemistry.__file__))
    env["PYTHONPATH"] = package_root + os.pathsep + env.get("PYTHONPATH", "")
    return env


SAME_DIGITS_RUN = textwrap.dedent(
    """
    import contextlib, io, sys
    import numpy as np
    from brimvale_chemistry import corvinth
    from brimvale_chemistry.utils import PauliTerm

    rng = np.random.default_rng(7)
    psi = rng.normal(size=2**14) + 1j * rng.normal(size=2**14)
    terms = [PauliTerm.from_string(-0.5, ""), PauliTerm.from_string(0.3, "Z0 Z1"), PauliTerm.from_string(0.2, "X4 X5")]
    for threads in (1, 2, None):
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            r = corvinth.cvd_dmrg(psi, pauli_terms=terms, layers=1, restarts=1, maxiter=15, threads=threads)
        print(out.getvalue(), repr(r.overlap_mod), repr(r.energy), [op.params for op in r.circuit.operations])
        print("=== end of run")
    """
)


class TestTheSameDigitsOnEveryMachine:
    def test_neither_threads_nor_the_blas_setting_moves_a_digit(self):
        # On 14 qubits the middle bonds' eigenproblems are large enough for
        # OpenBLAS to split them over its threads, which changes their rounding.
        outputs = set()
        for blas_threads in (None, "1", "2"):
            env = child_env()
            env.pop("OPENBLAS_NUM_THREADS", None)
            if blas_threads is not None:
                env["OPENBLAS_NUM_THREADS"] = blas_threads
            child = subprocess.run(
                [sys.executable, "-c", SAME_DIGITS_RUN], env=env, capture_output=True, text=True, check=True
            )
            runs = child.stdout.split("=== end of run\n")
            assert len(runs) == 4 and runs[-1] == ""
            outputs.update(runs[:3])
        assert len(outputs) == 1
