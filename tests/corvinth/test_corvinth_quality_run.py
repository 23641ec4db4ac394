"""Asking the synthesis for a circuit by its quality: a target overlap or a CNOT budget, with the whole
circuit refined after every layer."""

import contextlib
import io
import math
import re
import warnings

import numpy as np
import pytest

from brimvale import MPS
from brimvale_chemistry import _progress, corvinth

N = 6
FAST = {"restarts": 1, "maxiter": 60, "gradient": "analytic", "threads": 1}


def brick_state(seed, n=N, layers=2):
    """A state some brick layers of random two-qubit gates away from a product state, in a random phase."""
    rng = np.random.default_rng(seed)
    psi = np.zeros(2**n, complex)
    psi[0] = 1.0
    for _ in range(layers):
        for start in (0, 1):
            for q0 in range(start, n - 1, 2):
                gate = corvinth._entangler_matrix(rng.normal(scale=0.8, size=9))
                psi = corvinth._apply_two_qubit_unitary(psi, gate, q0, q0 + 1, n)
    return psi * np.exp(2j * math.pi * rng.random())


def canonical(psi):
    """The state as a run asked for by quality reads it: turned so that sum psi_i |psi_i|^2 is real and
    positive, each part rounded to a multiple of 2^-36, normalised."""
    psi = psi / np.linalg.norm(psi)
    weight = np.sum(psi * np.abs(psi) ** 2)
    psi = psi * np.conj(weight) / abs(weight)
    grid = 2.0**-36
    psi = (np.round(psi.real / grid) + 1j * np.round(psi.imag / grid)) * grid
    return psi / np.linalg.norm(psi)


def run(source, **options):
    out = io.StringIO()
    with warnings.catch_warnings(), contextlib.redirect_stdout(out):
        warnings.simplefilter("ignore", UserWarning)
        result = corvinth.cvd_dmrg(source, **{**FAST, **options})
    return out.getvalue().splitlines(), result


def circuit_overlap(result, psi):
    return abs(np.vdot(psi / np.linalg.norm(psi), result.circuit.execute().state))


def test_target_overlap_stops_at_the_first_layer_that_reaches_it():
    psi = brick_state(1)
    _, unbounded = run(psi, layers=4, max_cnots=1000)
    # A target between the overlaps of layers 1 and 2 of the same run.
    target = (unbounded.layer_overlaps[1] + unbounded.layer_overlaps[2]) / 2
    assert unbounded.layer_overlaps[1] < target < unbounded.layer_overlaps[2]
    lines, result = run(psi, layers=4, target_overlap=target)
    assert result.circuit_layers == 2
    assert result.layer_overlaps == pytest.approx(unbounded.layer_overlaps[:3], abs=1e-12)
    assert result.overlap_mod >= target > max(result.layer_overlaps[:-1])
    assert result.overlap_mod == pytest.approx(circuit_overlap(result, psi), abs=1e-10)
    assert result.stop_reason == f"target overlap {target!r} reached"
    assert lines[-1] == (
        f"  Stopped               : {result.stop_reason}; {result.cnot_count} CNOTs, "
        f"two-qubit depth {result.two_qubit_depth}"
    )
    assert [line[:9] for line in lines[2:-1]] == ["  Layer 0", "  Layer 1", "  Layer 2"]
    # A target no layer reaches: every layer runs, and the line says so.
    lines, result = run(psi, layers=2, target_overlap=1.0)
    assert result.circuit_layers == 2 and result.overlap_mod < 1.0
    assert lines[-1].startswith("  Stopped               : layer bound 2 reached, overlap below the target 1.0; ")


def test_cnot_budget_is_never_exceeded():
    psi = brick_state(2)
    seen = []
    for budget in (1, 3, 7, 16, 40):
        lines, result = run(psi, layers=3, max_cnots=budget)
        counted = sum(1 for op in result.circuit if op.name == "cx")
        assert counted == result.cnot_count <= budget
        assert max(result.layer_cnot_counts) <= budget
        assert result.circuit_params == 3 * N + 9 * min(budget // 3, 3 * (N - 1))
        assert result.overlap_mod == pytest.approx(circuit_overlap(result, psi), abs=1e-10)
        seen.append(result.overlap_mod)
    # Under three CNOTs no gate fits: the product state alone.
    assert seen[0] == pytest.approx(run(psi, layers=1)[1].layer_overlaps[0], abs=1e-10)
    assert seen == sorted(seen)
    assert lines[-1].startswith("  Stopped               : CNOT budget 40 spent; ")
    # A time budget spent by the first refinement: no further layer.
    _, result = run(psi, layers=3, max_cnots=40, refine_seconds=1e-9)
    assert result.circuit_layers == 1 and result.stop_reason == "refinement time 1e-09 s spent"


def test_refined_circuit_is_never_worse_than_the_layer_fit(monkeypatch):
    psi = brick_state(3, layers=3)
    _, plain = run(canonical(psi), layers=3, compact=True)
    _, quality = run(psi, layers=3, max_cnots=1000)
    # The first layer is fitted to the same state in both runs; refining it only gains.
    assert quality.layer_overlaps[1] > plain.layer_overlaps[1] + 1e-3
    assert quality.layer_overlaps == sorted(quality.layer_overlaps)
    # SciPy's optimiser handing back a worse point: each layer it refines keeps its fitted circuit, so
    # the run is the plain layer-by-layer one up to the last layer, whose refinement (the native
    # preconditioned one) can only gain.
    real_minimize = corvinth.minimize

    def spoiled(fun, x0, **kwargs):
        result = real_minimize(fun, x0, **kwargs)
        if len(x0) > 9:
            result.x, result.fun = np.zeros_like(x0), 1.0
        return result

    monkeypatch.setattr(corvinth, "minimize", spoiled)
    _, kept = run(psi, layers=3, max_cnots=1000)
    assert kept.layer_overlaps[:-1] == pytest.approx(plain.layer_overlaps[:-1], abs=1e-12)
    assert kept.layer_overlaps[-1] > plain.layer_overlaps[-1] + 1e-3


@pytest.mark.parametrize("sector", [False, True], ids=["every amplitude", "fixed particle number"])
def test_quality_does_not_swing_with_the_global_phase_or_the_threads(sector):
    psi = brick_state(6, layers=2)
    if sector:
        # Most amplitudes exactly zero, as in a molecule's state: a phase
        # turns some of them into -0.0.
        psi = brick_state(1, n=8, layers=3)
        psi[[bin(i).count("1") != 4 for i in range(2**8)]] = 0.0
    _, first = run(psi, layers=3, max_cnots=1000)
    _, two_threads = run(psi, layers=3, max_cnots=1000, threads=2)
    assert two_threads.layer_overlaps == first.layer_overlaps
    for phase in (0.3, 1.7, -2.9, 2.5):
        _, turned = run(psi * np.exp(1j * phase), layers=3, max_cnots=1000)
        assert turned.layer_overlaps == first.layer_overlaps
        assert turned.energy == first.energy
        assert turned.circuit.execute().state == pytest.approx(first.circuit.execute().state, abs=1e-12)


def test_dense_and_mps_paths_agree():
    psi = brick_state(4, layers=1)
    # A target both reach with room to spare: the last refinement ends within a few 1e-6 of 1, where
    # the two paths' rounding decides which side of 0.999999 each lands on.
    dense_lines, dense = run(psi, layers=2, target_overlap=0.9999)
    mps_lines, mps = run(MPS.from_dense(psi, cutoff=0.0), layers=2, target_overlap=0.9999, state="mps")
    assert mps.circuit_layers == dense.circuit_layers
    assert mps.cnot_count == dense.cnot_count
    # The two simulations round differently, and every refinement runs until it converges, which
    # carries such differences on: the last layer's overlaps differ by 4e-6 without the layer
    # fits' Schmidt cutoff and by 1.0e-5 with it.
    assert mps.layer_overlaps == pytest.approx(dense.layer_overlaps, abs=2e-5)
    assert mps_lines[-1] == dense_lines[-1]


def test_arguments_are_checked_before_any_work():
    psi = brick_state(5)
    for options, error, message in (
        ({"target_overlap": 0.0}, ValueError, "target_overlap must be in (0, 1]"),
        ({"target_overlap": 1.5}, ValueError, "target_overlap must be in (0, 1]"),
        ({"target_overlap": math.nan}, ValueError, "target_overlap must be in (0, 1]"),
        ({"target_overlap": "0.9"}, TypeError, "target_overlap"),
        ({"max_cnots": 0}, ValueError, "max_cnots must be a positive integer"),
        ({"max_cnots": 2.5}, ValueError, "max_cnots must be a positive integer"),
        ({"refine_seconds": 5.0}, ValueError, "refine_seconds applies with target_overlap or max_cnots only"),
        ({"max_cnots": 9, "refine_seconds": 0.0}, ValueError, "refine_seconds must be positive"),
    ):
        out = io.StringIO()
        expected = pytest.raises(error, match=re.escape(message))
        with expected, contextlib.redirect_stdout(out), warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)
            corvinth.cvd_dmrg(psi, **options)
        assert out.getvalue() == ""


class _Terminal(io.StringIO):
    def isatty(self):
        return True


def test_a_terminal_follows_each_refinement_on_standard_error(monkeypatch):
    psi = brick_state(6)
    plain_lines, plain = run(psi, layers=2, max_cnots=30)
    terminal = _Terminal()
    monkeypatch.setattr("sys.stderr", terminal)
    # Every update drawn: a run this small ends within the bar's usual interval.
    real_bar = _progress.progress_bar

    def eager_bar(*args):
        bar = real_bar(*args)
        bar.mininterval = 0
        return bar

    monkeypatch.setattr(_progress, "progress_bar", eager_bar)
    lines, result = run(psi, layers=2, max_cnots=30)
    shown = terminal.getvalue()
    # Both refinements, each with its iterations and the overlap reached.
    for layer in (1, 2):
        assert re.search(rf"Refining {layer}/2: \d+it .*overlap 0\.\d{{6}}", shown)
    assert f"overlap {result.overlap_mod:.6f}" in shown
    # Standard output and the circuit are those of a run without a terminal.
    assert lines == plain_lines
    assert result.overlap_mod == plain.overlap_mod
