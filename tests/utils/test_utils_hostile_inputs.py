"""The native entry points against hostile arguments: no crash, no hang, no runaway memory, no cast error.

Calls that used to crash the interpreter run in a child process, so that a
regression fails one test instead of killing the whole run.
"""

import json
import os
import queue
import signal
import subprocess
import sys
import textwrap
import threading
import time

import numpy as np
import pytest

import brimvale_chemistry
from brimvale import _native
from brimvale_chemistry import _kernels, corvinth
from brimvale_chemistry.dmrg import mallorek
from brimvale_chemistry.molecule import pellisk
from brimvale_chemistry.utils import PauliTerm, hamiltonian_expectation


def child_env():
    env = dict(os.environ)
    package_root = os.path.dirname(os.path.dirname(brimvale_chemistry.__file__))
    env["PYTHONPATH"] = package_root + os.pathsep + env.get("PYTHONPATH", "")
    return env


HOSTILE_CALLS = textwrap.dedent(
    """
    import json
    import numpy as np
    from tenpy.networks.site import SpinHalfFermionSite
    from brimvale_chemistry import corvinth
    from brimvale_chemistry.dmrg import mallorek

    class FailsFirstIter:  # __iter__ raises the first time, then works
        def __init__(self):
            self.calls = 0
        def __iter__(self):
            self.calls += 1
            if self.calls == 1:
                raise RuntimeError("no iterator yet")
            return iter([2, 0])

    class LyingLen:  # no __bool__, and len() raises
        def __len__(self):
            raise ValueError("len refused")
        def __iter__(self):
            return iter([(0, 1)])

    class LongerThanItsLen:
        def __len__(self):
            return 1
        def __iter__(self):
            return iter([1.0, 1.0, 1.0])

    Objective = corvinth._DisentanglerObjective
    bare = Objective.__new__(Objective)
    sites = [SpinHalfFermionSite(cons_N="N", cons_Sz="Sz")] * 2
    cases = {
        "sector bound, flaky iterator": lambda: mallorek._max_sector_bond_dimension(2, FailsFirstIter()),
        "initial MPS, flaky iterator": lambda: mallorek._random_initial_mps(sites, ["up", "down"], 4,
                                                                            FailsFirstIter()),
        "objective made by __new__: gram_dimension": lambda: bare.gram_dimension,
        "objective made by __new__: left_rank": lambda: bare.left_rank,
        "objective made by __new__: evaluations": lambda: bare.evaluations,
        "objective made by __new__: call": lambda: bare(np.zeros(9)),
        "objective made by __new__: probabilities": lambda: bare.schmidt_probabilities(np.zeros(9)),
        "objective method, foreign self": lambda: Objective.__call__(42, np.zeros(9)),
        "local terms, len() raises": lambda: list(mallorek._fermion_to_local_terms([(0.5, LyingLen())], 4)),
        "renyi indices longer than their len()": lambda: corvinth.cvd_dmrg(
            np.ones(4), pauli_terms=[], layers=1, renyi_indices=LongerThanItsLen()),
    }
    for name, call in cases.items():
        try:
            outcome = ["returned", repr(call())]
        except Exception as error:
            outcome = [type(error).__name__, str(error)]
        print(json.dumps([name, outcome]), flush=True)
    """
)

NOT_INITIALISED = [
    "TypeError",
    "'_DisentanglerObjective' object is not initialised: it was made without its constructor",
]
EXPECTED = {
    "sector bound, flaky iterator": ["RuntimeError", "no iterator yet"],
    "initial MPS, flaky iterator": ["RuntimeError", "no iterator yet"],
    "objective made by __new__: gram_dimension": NOT_INITIALISED,
    "objective made by __new__: left_rank": NOT_INITIALISED,
    "objective made by __new__: evaluations": NOT_INITIALISED,
    "objective made by __new__: call": NOT_INITIALISED,
    "objective made by __new__: probabilities": NOT_INITIALISED,
    "objective method, foreign self": [
        "TypeError",
        "descriptor '__call__' for '_DisentanglerObjective' objects doesn't apply to a 'int' object",
    ],
    "local terms, len() raises": ["ValueError", "len refused"],
    "renyi indices longer than their len()": ["ValueError", "renyi_indices must have exactly one value per layer"],
}


class TestCallsThatUsedToCrash:
    def test_every_call_raises_a_plain_error(self):
        child = subprocess.run(
            [sys.executable, "-c", HOSTILE_CALLS], capture_output=True, text=True, env=child_env(), timeout=120
        )
        outcomes = dict(json.loads(line) for line in child.stdout.splitlines())
        assert child.returncode == 0, (child.returncode, list(outcomes)[-1:], child.stderr[-2000:])
        assert outcomes == EXPECTED


LONG_CALLS = textwrap.dedent(
    """
    import signal
    # Started from a shell's background, the child may inherit an ignored SIGINT.
    signal.signal(signal.SIGINT, signal.default_int_handler)
    import numpy as np
    from brimvale import _native
    from brimvale_chemistry import _kernels
    from brimvale_chemistry.dmrg import mallorek

    gates = 10**6  # each a CNOT: one pass over 2**20 amplitudes
    calls = {
        "shots": lambda: _kernels.sample_outcomes(np.ones(4), 2, 10**12, 1),
        "sector bound": lambda: mallorek._max_sector_bond_dimension(3000, (3000, 0)),
        "circuit": lambda: _native.simulate(20, np.full(gates, 9, np.int32), np.tile([0, 1], (gates, 1)),
                                            np.zeros(gates)),
        "mps shots": lambda: _native.mps_sample(_native.mps_zero(2), 10**12, 1, np.zeros(2, np.uint8)),
        # CNOTs on alternating pairs, so that none are merged: one SVD each.
        "mps circuit": lambda: _native.mps_simulate(_native.mps_zero(3), np.full(gates, 9, np.int32),
                                                    np.tile([[0, 1], [1, 2]], (gates // 2, 1)), np.zeros(gates),
                                                    None, 0.0),
    }
    for name, call in calls.items():
        print("start", name, flush=True)
        try:
            call()
            print("finished", name, flush=True)
        except KeyboardInterrupt:
            print("interrupted", name, flush=True)
    """
)


class TestCtrlCStopsLongNativeLoops:
    def test_keyboard_interrupt_arrives_within_seconds(self):
        child = subprocess.Popen(
            [sys.executable, "-c", LONG_CALLS],
            stdout=subprocess.PIPE,
            stderr=subprocess.PIPE,
            text=True,
            env=child_env(),
        )
        # Lines are read on a thread: two lines arriving together would leave
        # the second in the reader's buffer, out of sight of select().
        lines = queue.Queue()
        threading.Thread(target=lambda: [lines.put(line.strip()) for line in child.stdout], daemon=True).start()

        def next_line(timeout):
            try:
                return lines.get(timeout=timeout)
            except queue.Empty:
                child.kill()
                pytest.fail("the child did not answer in time")

        try:
            for name in ["shots", "sector bound", "circuit", "mps shots", "mps circuit"]:
                assert next_line(60) == f"start {name}"
                # Let it enter the native loop, then press Ctrl-C.
                time.sleep(0.5)
                assert lines.empty()
                child.send_signal(signal.SIGINT)
                # Each loop would run for hours: a generous wait tells a late
                # stop on a busy machine from a lost Ctrl-C.
                assert next_line(60) == f"interrupted {name}"
            assert child.wait(timeout=30) == 0
        finally:
            child.kill()
            child.communicate()


class InterruptOnce:
    """A number whose first conversion is a Ctrl-C arriving during it."""

    def __init__(self):
        self.pressed = False

    def _press(self, value):
        if not self.pressed:
            self.pressed = True
            raise KeyboardInterrupt
        return value

    def __complex__(self):
        return self._press(0j)

    def __float__(self):
        return self._press(0.0)


class TestCtrlCDuringAConversionIsNeverLost:
    # NumPy converts the nested lists element by element; a KeyboardInterrupt
    # raised meanwhile must reach the caller, not be cleared for a second try.
    @pytest.mark.parametrize(
        "call",
        [
            lambda x: _native.mps_from_tensors([[[[x], [0]]], [[[1], [0]]]], None, 0.0),
            lambda x: _native.mps_from_dense([x, 0, 0, 1], None, 0.0),
            lambda x: hamiltonian_expectation([x, 0, 0, 1], [PauliTerm.from_string(1.0, "Z0")], 2),
            lambda x: corvinth._entangler_matrix([x] + [0.0] * 8),
            lambda x: corvinth._renyi_entropy([x, 0.5, 0.5], 1.0),
            lambda x: corvinth._apply_two_qubit_unitary([x, 0, 0, 1], np.eye(4), 0, 1, 2),
            lambda x: corvinth._product_state_approximation([x, 0, 0, 1], 2),
            lambda x: _kernels.sample_outcomes([x, 0, 0, 1], 2, 10, 1),
        ],
    )
    def test_the_interrupt_reaches_the_caller(self, call):
        number = InterruptOnce()
        with pytest.raises(KeyboardInterrupt):
            call(number)
        assert number.pressed


class TestCountsAreRefusedBeforeAnythingIsAllocated:
    @pytest.mark.parametrize(
        "call, message",
        [
            (
                lambda: pellisk.interleaved_to_spin_blocked_map(2**31),
                "n_spatial_orbitals must be at most 1048576 for the complete map, got 2147483648",
            ),
            (
                lambda: pellisk.pellisk(None, n_spatial_orbitals=2**31),
                "n_spatial_orbitals must be at most 1048576 for the transform, got 2147483648",
            ),
            (lambda: corvinth.cvd_dmrg(np.ones(4), pauli_terms=[], layers=3 * 10**8), "layers must be at most 1000000"),
            (lambda: corvinth.cvd_dmrg(np.ones(4), pauli_terms=[], layers=2**63), "layers must be at most 1000000"),
            (
                lambda: corvinth.cvd_dmrg(np.ones(4), pauli_terms=[], layers=1, restarts=2**63),
                "restarts must be at most 1000000",
            ),
            (lambda: corvinth.default_renyi_indices(10**10), "layers must be at most 1000000"),
            (
                lambda: corvinth.cvd_dmrg(np.ones(4), pauli_terms=[], layers=2, renyi_indices=range(2**64)),
                "renyi_indices must have exactly one value per layer",
            ),
            (
                lambda: corvinth.cvd_dmrg(np.ones(4), pauli_terms=[], layers=2, renyi_indices=iter(lambda: 1.0, None)),
                "renyi_indices must have exactly one value per layer",
            ),
            (
                lambda: mallorek._max_sector_bond_dimension(2**31, (2**31, 0)),
                "the exact bond bound of target charge (2147483648, 0) on 2147483648 sites would need more than 1 GiB "
                "of memory",
            ),
        ],
    )
    def test_refused_with_a_clear_message(self, call, message, capsys):
        with pytest.raises(ValueError) as info:
            call()
        assert str(info.value) == message and capsys.readouterr().out == ""

    def test_a_huge_maxiter_is_no_limit(self, capsys):
        result = corvinth.cvd_dmrg(np.array([1.0, 0, 0, 1]), pauli_terms=[], layers=1, maxiter=2**63)
        assert result.overlap_mod == pytest.approx(1.0, abs=1e-9)


class TestOutOfRangeValuesRaiseNamingTheArgument:
    @pytest.mark.parametrize(
        "call, error, message",
        [
            # Formerly cast to 32 bits: 3 qubits, and gate code 0.
            (
                lambda: _native.simulate(2**32 + 3, np.zeros(0, np.int32), np.zeros((0, 2), np.int32), np.zeros(0)),
                ValueError,
                "n_qubits must be between 1 and 30",
            ),
            (
                lambda: _native.simulate(2, np.array([2**32], np.int64), np.zeros((1, 2), np.int64), np.zeros(1)),
                ValueError,
                "invalid gate at position 0",
            ),
            (
                lambda: _native.simulate(2, np.array([3]), np.array([[2**32, -1]]), np.zeros(1)),
                ValueError,
                "invalid gate at position 0",
            ),
            (lambda: _native.simulate(2**64, [], [], []), OverflowError, "n_qubits does not fit in a 64-bit integer"),
            (
                lambda: _native.simulate(2, ["h"], [[0, -1]], [0.0]),
                TypeError,
                "Argument 'codes' has incorrect type (expected integer array, got list)",
            ),
            (
                lambda: _native.simulate(2, [3], [[0.5, -1]], [0.0]),
                TypeError,
                "Argument 'qubits' has incorrect type (expected integer array, got list)",
            ),
            (
                lambda: hamiltonian_expectation(np.ones(4), [PauliTerm(1.0, ((64, "Z"),))], 2),
                ValueError,
                "Pauli term 1.0 [Z64] acts outside the 2 qubits of the state",
            ),
            (
                lambda: _kernels.sample_outcomes(np.ones(4), 2, 2**64, 1),
                OverflowError,
                "shots does not fit in a 64-bit integer",
            ),
            (
                lambda: corvinth.cvd_dmrg(np.ones(4), pauli_terms=[], layers=1, init_scale=float("inf")),
                ValueError,
                "init_scale must be finite",
            ),
            (
                lambda: corvinth._print_layer_metrics(1.0, 0.5, None),
                TypeError,
                "Argument 'layer' has incorrect type (expected int, got float)",
            ),
        ],
    )
    def test_error(self, call, error, message, capsys):
        with pytest.raises(error) as info:
            call()
        assert str(info.value) == message and capsys.readouterr().out == ""


def bell(scale):
    return np.array([1.0, 0.0, 0.0, 1.0]) * scale


class TestAmplitudesOfAnyFiniteSize:
    @pytest.mark.parametrize("scale", [1e200, 1e-160, 2.0**-600, 1e-300])
    def test_entropies_and_draws_do_not_depend_on_the_norm(self, scale, capsys):
        rng = np.random.default_rng(5)
        state = rng.normal(size=16) + 1j * rng.normal(size=16)
        reference = corvinth._schmidt_probabilities(state, 4, 1)
        np.testing.assert_allclose(corvinth._schmidt_probabilities(state * scale, 4, 1), reference, rtol=1e-13)
        params = rng.normal(size=9)
        objective = corvinth._disentangler_objective(state, 4, 1, 2.0)(params)
        assert corvinth._disentangler_objective(state * scale, 4, 1, 2.0)(params) == pytest.approx(objective, rel=1e-13)
        outcomes, counts = _kernels.sample_outcomes(state * scale, 4, 500, 7)
        expected_outcomes, expected_counts = _kernels.sample_outcomes(state, 4, 500, 7)
        if np.log2(scale).is_integer():  # an exact rescaling draws exactly the same outcomes
            assert outcomes.tolist() == expected_outcomes.tolist() and counts.tolist() == expected_counts.tolist()
        else:
            assert counts.sum() == 500
        result = corvinth.cvd_dmrg(bell(scale), pauli_terms=[], layers=1)
        assert result.overlap_mod == pytest.approx(1.0, abs=1e-9)
