"""The synthesis on a matrix product state (state="mps") against the synthesis on
the state vector. Both optimise the same objectives, read off differently, so
they agree to rounding as long as the optimiser's path does not hinge on the
last bits of an entropy: a few iterations per start, where no stopping test
can flip, keep it so."""

import contextlib
import io
import warnings

import numpy as np
import pytest
from corvinth_reference import low_entanglement_state, random_state

from brimvale import MPS
from brimvale_chemistry import corvinth
from brimvale_chemistry.dmrg import DmrgResult
from brimvale_chemistry.utils import PauliTerm

SHORT = {"layers": 2, "maxiter": 6, "restarts": 2}


def random_mps(rng, n, bond):
    """A random state of at most `bond` Schmidt values per cut."""
    dims = [1] + [min(bond, 2 ** min(k, n - k)) for k in range(1, n)] + [1]
    tensors = [
        rng.normal(size=(dims[k], 2, dims[k + 1])) + 1j * rng.normal(size=(dims[k], 2, dims[k + 1])) for k in range(n)
    ]
    return MPS.from_tensors(tensors, cutoff=0.0)


def random_terms(rng, n, count=12):
    terms = []
    for _ in range(count):
        qubits = sorted(rng.choice(n, size=rng.integers(1, 4), replace=False))
        terms.append(PauliTerm(float(rng.normal()), tuple((int(q), "XYZ"[rng.integers(3)]) for q in qubits)))
    return terms


def synthesise(source, **options):
    out = io.StringIO()
    with contextlib.redirect_stdout(out), warnings.catch_warnings():
        warnings.simplefilter("ignore", UserWarning)
        result = corvinth.cvd_dmrg(source, **options)
    return out.getvalue().splitlines(), result


@pytest.fixture
def rng():
    return np.random.default_rng(77)


def numbers(line):
    """The overlap and energy of a layer line."""
    overlap, energy = line.split("=")[1:]
    return float(overlap.split(",")[0]), float(energy.split()[0])


def assert_same_lines(mps_lines, dense_lines, tolerance, energy_tolerance=None):
    assert len(mps_lines) == len(dense_lines)
    assert mps_lines[:3] == dense_lines[:3]  # header and layer 0: no optimisation yet
    for mps_line, dense_line in zip(mps_lines[3:], dense_lines[3:]):
        assert mps_line[:24] == dense_line[:24]
        (overlap, energy), (dense_overlap, dense_energy) = numbers(mps_line), numbers(dense_line)
        assert overlap == pytest.approx(dense_overlap, abs=tolerance)
        assert energy == pytest.approx(dense_energy, abs=energy_tolerance or tolerance)


class TestSameSynthesis:
    @pytest.mark.parametrize("alpha", [1.0, 2.0, np.inf])
    def test_bond_objectives_match_the_dense_ones(self, rng, alpha):
        for state in [MPS.from_dense(random_state(rng, 6), cutoff=0.0), random_mps(rng, 7, 3)]:
            n, psi = state.n_qubits, state.to_dense()
            for q0 in range(n - 1):
                dense = corvinth._disentangler_objective(psi, n, q0, alpha)
                local = corvinth._disentangler_objective(state, n, q0, alpha)
                assert (local.left_rank, local.right_rank) == (dense.left_rank, dense.right_rank)
                for params in [np.zeros(9), rng.normal(0.0, 0.7, 9)]:
                    value, gradient = local.value_and_gradient(params)
                    expected_value, expected_gradient = dense.value_and_gradient(params)
                    assert value == pytest.approx(expected_value, abs=1e-13)
                    np.testing.assert_allclose(gradient, expected_gradient, atol=1e-12)

    def test_lines_and_circuits_match_the_dense_path(self, rng):
        # Both paths score the same entropies to rounding; with the exact
        # gradient the optimiser's path stays within rounding of the dense one.
        # A full-rank state and one of small bonds (local forms cut to their ranks).
        for n, bond in [(6, None), (8, 3)]:
            state = random_mps(rng, n, bond) if bond else MPS.from_dense(random_state(rng, n), cutoff=0.0)
            psi = state.to_dense()
            terms = random_terms(rng, n)
            dense_lines, dense = synthesise(psi, pauli_terms=terms, gradient="analytic", **SHORT)
            mps_lines, result = synthesise(state, pauli_terms=terms, gradient="analytic", state="mps", **SHORT)
            assert_same_lines(mps_lines, dense_lines, 1e-10, 1e-9)
            assert result.layer_overlaps == pytest.approx(dense.layer_overlaps, abs=1e-10)
            assert (result.circuit_layers, result.circuit_params, result.renyi_indices) == (
                dense.circuit_layers,
                dense.circuit_params,
                dense.renyi_indices,
            )
            prepared = [r.circuit.execute().state for r in (dense, result)]
            assert abs(np.vdot(*prepared)) == pytest.approx(1.0, abs=1e-10)
            # Nothing above rounding was dropped from the bonds.
            assert 0.0 <= result.discarded_weight < 1e-20 and dense.discarded_weight == 0.0

    def test_forward_differences_reach_the_same_gates(self, rng):
        # Forward differences divide rounding by their step of 1e-8: the two
        # paths part in the digits that rounding decides, as the dense path
        # parts from itself for the same state times a global phase.
        for n in (6, 8):
            psi = low_entanglement_state(rng, n)
            terms = random_terms(rng, n)
            options = {"layers": 2, "maxiter": 6, "restarts": 1, "pauli_terms": terms}
            dense_lines, dense = synthesise(psi, **options)
            mps_lines, result = synthesise(MPS.from_dense(psi, cutoff=0.0), state="mps", **options)
            assert_same_lines(mps_lines, dense_lines, 1e-3)
            prepared = [r.circuit.execute().state for r in (dense, result)]
            assert abs(np.vdot(*prepared)) == pytest.approx(1.0, abs=1e-3)

    def test_dmrg_result_holding_only_an_mps(self, rng):
        state = random_mps(rng, 6, 4)
        lines, result = synthesise(DmrgResult(psi0=None, energy=0.0, mps=state), state="mps", **SHORT)
        assert lines == synthesise(state, state="mps", **SHORT)[0]
        # The norm of the source does not matter.
        assert lines[2].startswith("  Layer 0") and result.overlap_mod <= 1.0


class TestMismatchedSources:
    def test_each_path_refuses_the_other_kind_of_state(self, rng):
        psi = random_state(rng, 4)
        state = MPS.from_dense(psi)
        cases = [
            (
                DmrgResult(psi0=None, energy=0.0, mps=state),
                {},
                "DmrgResult does not contain psi0, only an mps: pass state='mps' to synthesise from it",
            ),
            (state, {}, "source is a brimvale MPS: pass state='mps' to synthesise from it"),
            (DmrgResult(psi0=psi, energy=0.0), {"state": "mps"}, "DmrgResult does not contain mps"),
            (
                psi,
                {"state": "mps"},
                "state='mps' synthesises from a DmrgResult with an mps or from a brimvale MPS, got ndarray",
            ),
            (state, {"state": "mps", "n_qubits": 5}, "n_qubits is 5 but the MPS has 4 qubits"),
            (state, {"state": "tensor"}, "state must be 'dense' or 'mps'"),
            (psi, {"max_bond": 4}, "max_bond and cutoff apply to state='mps' only"),
        ]
        for source, options, message in cases:
            with pytest.raises(ValueError) as error, warnings.catch_warnings():
                warnings.simplefilter("ignore", UserWarning)
                corvinth.cvd_dmrg(source, **options)
            assert str(error.value) == message
        # A DmrgResult with neither keeps the specified message.
        with pytest.raises(ValueError, match="^DmrgResult does not contain psi0$"), warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)
            corvinth.cvd_dmrg(DmrgResult(psi0=None, energy=0.0))


class TestTruncation:
    def test_bounds_and_discarded_weight(self, rng):
        state = random_mps(rng, 8, 4)
        options = {"state": "mps", "layers": 1, "maxiter": 4, "restarts": 1}
        exact = synthesise(state, **options)[1].discarded_weight
        weights = [synthesise(state, max_bond=bond, **options)[1].discarded_weight for bond in (3, 2, 1)]
        # Fewer Schmidt values kept, more weight dropped; the default drops rounding only.
        assert exact < 1e-20 < weights[0] < weights[1] < weights[2] < 1.0
        assert synthesise(state, cutoff=0.3, **options)[1].discarded_weight > 1e-6
        # The disentanglers work on the bounded state from the first layer on:
        # at max_bond=1 it is a product state, which they leave as it is.
        bounded = synthesise(state, max_bond=1, **options)[1].discarded_weight
        assert bounded == pytest.approx(MPS.from_tensors(state.tensors, max_bond=1).discarded_weight, rel=1e-12)
        # A bound beyond every bond is no bound.
        assert synthesise(state, max_bond=2**80, **options)[1].discarded_weight == exact

    @pytest.mark.parametrize(
        "bounds, estimate",
        [({}, False), ({"max_bond": 16}, False), ({"max_bond": 2}, True), ({"cutoff": 0.05}, True)],
    )
    def test_overlap_under_truncation_is_marked_an_estimate(self, rng, bounds, estimate):
        # Bonds up to 8 of the 16 a chain of 8 qubits can have: a cap of 16 cannot cut anything.
        state = random_mps(rng, 8, 8)
        lines, result = synthesise(state, state="mps", layers=1, maxiter=4, restarts=1, **bounds)
        assert result.overlap_is_estimate is estimate
        parameters = "  Parameters            : layers=1, Renyi indices=[1.0], maxiter=4, restarts=1"
        if estimate:
            max_bond, cutoff = bounds.get("max_bond", 1024), bounds.get("cutoff", 1e-14)
            parameters += f"; overlaps are estimates on an MPS within max_bond={max_bond}, cutoff={cutoff!r}"
        assert lines[1] == parameters
        if not estimate:  # then it is the exact overlap of the returned circuit, on the state vector
            exact = abs(np.vdot(state.to_dense() / state.norm(), result.circuit.execute().state))
            assert result.overlap_mod == pytest.approx(exact, abs=1e-10)

    def test_bad_settings(self, rng):
        state = random_mps(rng, 4, 2)
        for options, error, message in [
            ({"max_bond": 0}, ValueError, "max_bond must be at least 1 or None, got 0"),
            ({"max_bond": 2.5}, TypeError, "max_bond must be an integer, got float"),
            ({"cutoff": 1.0}, ValueError, "cutoff must be at least 0 and below 1, got 1.0"),
            ({"cutoff": "0"}, TypeError, "cutoff must be a real number, got str"),
        ]:
            with pytest.raises(error) as failure, warnings.catch_warnings():
                warnings.simplefilter("ignore", UserWarning)
                corvinth.cvd_dmrg(state, state="mps", **options)
            assert str(failure.value) == message


class TestOptions:
    def test_every_combination_runs_and_agrees(self, rng):
        state = random_mps(rng, 6, 3)
        psi, terms = state.to_dense(), random_terms(rng, 6)
        for gradient in ("finite-difference", "analytic"):
            for compact in (False, True):
                options = {"pauli_terms": terms, "gradient": gradient, "compact": compact, **SHORT}
                runs = [synthesise(state, state="mps", threads=threads, **options) for threads in (1, 2)]
                # The thread count changes no bit.
                assert runs[0][0] == runs[1][0]
                assert list(runs[0][1].circuit) == list(runs[1][1].circuit)
                dense_lines, dense = synthesise(psi, threads=2, **options)
                if gradient == "analytic":
                    assert_same_lines(runs[0][0], dense_lines, 1e-10, 1e-9)
                    assert runs[0][1].cnot_count == dense.cnot_count
                    prepared = [r.circuit.execute().state for r in (dense, runs[0][1])]
                    assert abs(np.vdot(*prepared)) == pytest.approx(1.0, abs=1e-10)


class TestRefinement:
    def test_mps_fidelity_and_gradient_match_the_dense_ones(self, rng):
        n = 6
        state = random_mps(rng, n, 3)
        psi = state.to_dense() / state.norm()
        # Two brick layers and a few rows that share qubits with their neighbours.
        pairs = [(q, q + 1) for _ in range(2) for start in (0, 1) for q in range(start, n - 1, 2)]
        pairs += [(2, 3), (2, 3), (0, 1), (4, 5)]
        x = rng.normal(0.0, 0.6, 3 * n + 9 * len(pairs))
        value, gradient = corvinth._circuit_infidelity(state, n, pairs)(x)
        expected_value, expected_gradient = corvinth._circuit_infidelity(psi, n, pairs)(x)
        assert value == pytest.approx(expected_value, abs=1e-13)
        np.testing.assert_allclose(gradient, expected_gradient, atol=1e-12)
        with pytest.raises(ValueError, match="neighbouring qubits"):
            corvinth._circuit_infidelity(state, n, [(0, 2)])

    def test_refined_line_as_on_the_dense_path(self, rng, monkeypatch):
        # A few refinement iterations take both paths along the same steps.
        real_minimize = corvinth.minimize

        def capped(fun, x0, **kwargs):
            if len(x0) > 9:
                kwargs["options"] = {**kwargs["options"], "maxiter": 5}
            return real_minimize(fun, x0, **kwargs)

        monkeypatch.setattr(corvinth, "minimize", capped)
        state = random_mps(rng, 6, 3)
        options = {"pauli_terms": random_terms(rng, 6), "gradient": "analytic", "refine": True, **SHORT}
        dense_lines, dense = synthesise(state.to_dense(), **options)
        mps_lines, result = synthesise(state, state="mps", **options)
        assert mps_lines[-1].startswith("  Refined               : ")
        assert_same_lines(mps_lines, dense_lines, 1e-10, 1e-9)
        assert result.overlap_mod >= result.layer_overlaps[-1]
        prepared = [r.circuit.execute().state for r in (dense, result)]
        assert abs(np.vdot(*prepared)) == pytest.approx(1.0, abs=1e-10)


def test_beyond_any_state_vector(rng):
    # 2^40 amplitudes would be 16 TiB: only the MPS is ever held.
    state = random_mps(rng, 40, 3)
    lines, result = synthesise(
        state, state="mps", pauli_terms=random_terms(rng, 40), layers=1, maxiter=3, restarts=1, gradient="analytic"
    )
    assert [line[:24] for line in lines[2:]] == ["  Layer 0               ", "  Layer 1               "]
    assert result.circuit.n_qubits == 40 and result.circuit_params == 3 * 40 + 9 * 39
    assert all(0.0 <= overlap <= 1.0 for overlap in result.layer_overlaps) and result.discarded_weight < 1e-20
