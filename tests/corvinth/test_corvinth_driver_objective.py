"""The native disentangler objective against the composition of the module's own
kernels: entangler matrix, two-qubit application, Schmidt spectrum, Renyi entropy."""

import math

import numpy as np
import pytest
from corvinth_reference import random_state

from brimvale_chemistry import corvinth


def composed_objective(state, n, q0, alpha, params):
    after = corvinth._apply_two_qubit_unitary(state, corvinth._entangler_matrix(params), q0, q0 + 1, n)
    return corvinth._renyi_entropy(corvinth._schmidt_probabilities(after, n, q0), alpha)


def random_mps_state(rng, n, bond_dimension):
    """A random matrix product state of the given bond dimension, contracted."""
    vector = np.ones((1, 1), dtype=complex)
    for site in range(n):
        right = 1 if site == n - 1 else bond_dimension
        tensor = rng.normal(size=(vector.shape[1], 2, right)) + 1j * rng.normal(size=(vector.shape[1], 2, right))
        vector = np.einsum("ib,bpc->ipc", vector, tensor).reshape(-1, right)
    state = vector.reshape(-1)
    return state / np.linalg.norm(state)


def product_state(rng, n):
    state = np.ones(1, dtype=complex)
    for _ in range(n):
        factor = rng.normal(size=2) + 1j * rng.normal(size=2)
        state = np.kron(factor / np.linalg.norm(factor), state)
    return state


STATES = {
    "random": lambda rng, n: random_state(rng, n),
    "mps2": lambda rng, n: random_mps_state(rng, n, 2),
    "product": product_state,
}


@pytest.fixture
def rng():
    return np.random.default_rng(99)


class TestAgreesWithComposition:
    @pytest.mark.parametrize("kind", sorted(STATES))
    @pytest.mark.parametrize("n", [2, 3, 5, 7])
    @pytest.mark.parametrize("alpha", [1.0, 2.0, 0.5, math.inf, 1.000001, 3.0])
    def test_every_bond(self, rng, kind, n, alpha):
        state = STATES[kind](rng, n)
        for q0 in range(n - 1):
            objective = corvinth._disentangler_objective(state, n, q0, alpha)
            for params in [np.zeros(9), *(rng.normal(0.0, 1.0, 9) for _ in range(3))]:
                assert objective(params) == pytest.approx(composed_objective(state, n, q0, alpha, params), abs=1e-11)

    @pytest.mark.parametrize("kind", sorted(STATES))
    def test_probabilities_are_the_schmidt_spectrum(self, rng, kind):
        n = 6
        state = STATES[kind](rng, n)
        for q0 in range(n - 1):
            objective = corvinth._disentangler_objective(state, n, q0, 1.0)
            params = rng.normal(0.0, 1.0, 9)
            ours = objective.schmidt_probabilities(params)
            after = corvinth._apply_two_qubit_unitary(state, corvinth._entangler_matrix(params), q0, q0 + 1, n)
            full = corvinth._schmidt_probabilities(after, n, q0)
            assert len(ours) <= len(full)
            np.testing.assert_allclose(ours, full[: len(ours)], atol=1e-13)
            assert np.sum(full[len(ours) :]) < 1e-13
            assert np.all(ours >= 0.0) and math.isclose(float(np.sum(ours)), 1.0)

    def test_unnormalised_state_gives_the_same_values(self, rng):
        state = random_mps_state(rng, 5, 2)
        params = rng.normal(size=9)
        a = corvinth._disentangler_objective(state, 5, 2, 1.0)(params)
        b = corvinth._disentangler_objective(3.5 * state, 5, 2, 1.0)(params)
        assert a == pytest.approx(b, abs=1e-13)

    def test_input_state_is_not_modified(self, rng):
        state = random_state(rng, 4)
        before = state.copy()
        objective = corvinth._disentangler_objective(state, 4, 1, 1.0)
        objective(rng.normal(size=9))
        np.testing.assert_array_equal(state, before)

    def test_real_and_list_inputs(self, rng):
        state = rng.normal(size=8)
        params = list(rng.normal(size=9))
        value = corvinth._disentangler_objective(list(state), 3, 1, 2.0)(params)
        assert value == pytest.approx(composed_objective(state, 3, 1, 2.0, np.array(params)), abs=1e-12)


class TestLocalForm:
    def test_low_rank_state_solves_a_small_problem(self, rng):
        n, chi = 10, 4
        state = random_mps_state(rng, n, chi)
        objective = corvinth._disentangler_objective(state, n, 4, 1.0)
        assert objective.left_rank <= chi and objective.right_rank <= chi
        assert objective.gram_dimension == 2 * min(objective.left_rank, objective.right_rank)

    @pytest.mark.parametrize("q0", range(6))
    def test_full_rank_state_solves_the_smaller_side(self, rng, q0):
        n = 7
        objective = corvinth._disentangler_objective(random_state(rng, n), n, q0, 1.0)
        assert objective.gram_dimension == min(2 ** (q0 + 1), 2 ** (n - q0 - 1))

    def test_product_state_is_rank_one_on_both_sides(self, rng):
        objective = corvinth._disentangler_objective(product_state(rng, 6), 6, 2, 1.0)
        assert (objective.left_rank, objective.right_rank, objective.gram_dimension) == (1, 1, 2)
        assert objective(np.zeros(9)) == pytest.approx(0.0, abs=1e-14)

    def test_evaluations_are_counted(self, rng):
        objective = corvinth._disentangler_objective(random_state(rng, 3), 3, 0, 1.0)
        for _ in range(5):
            objective(rng.normal(size=9))
        assert objective.evaluations == 5


class TestObjectiveErrors:
    def test_parameter_count(self, rng):
        objective = corvinth._disentangler_objective(random_state(rng, 3), 3, 0, 1.0)
        for bad in (np.zeros(8), np.zeros(10), np.zeros((9, 1))):
            with pytest.raises(ValueError, match="^entangler requires 9 parameters$"):
                objective(bad)

    def test_non_finite_parameters_give_nan(self, rng):
        objective = corvinth._disentangler_objective(random_state(rng, 3), 3, 0, 1.0)
        params = np.zeros(9)
        params[4] = np.nan
        assert math.isnan(objective(params))
        params[4] = np.inf
        assert math.isnan(objective(params))

    @pytest.mark.parametrize("q0", [-1, 2, 5])
    def test_bond_outside_the_chain(self, rng, q0):
        with pytest.raises(ValueError, match="^bond must be between adjacent qubits$"):
            corvinth._disentangler_objective(random_state(rng, 3), 3, q0, 1.0)

    def test_state_of_wrong_length(self):
        with pytest.raises(ValueError, match="2\\*\\*n_qubits"):
            corvinth._disentangler_objective(np.ones(6), 3, 0, 1.0)

    def test_zero_and_non_finite_states(self):
        with pytest.raises(ValueError, match="^state must have nonzero norm$"):
            corvinth._disentangler_objective(np.zeros(8), 3, 0, 1.0)
        state = np.ones(8, dtype=complex)
        state[3] = np.nan
        with pytest.raises(ValueError, match="^state must have finite amplitudes$"):
            corvinth._disentangler_objective(state, 3, 0, 1.0)

    @pytest.mark.parametrize("alpha", [0.0, -1.0, math.nan])
    def test_renyi_index(self, rng, alpha):
        with pytest.raises(ValueError, match="^Renyi index must be positive$"):
            corvinth._disentangler_objective(random_state(rng, 3), 3, 0, alpha)

    def test_argument_types_are_named(self, rng):
        with pytest.raises(TypeError, match="Argument 'q0' has incorrect type"):
            corvinth._disentangler_objective(random_state(rng, 3), 3, "0", 1.0)
        with pytest.raises(TypeError, match="takes 4 positional arguments but 5 were given"):
            corvinth._disentangler_objective(random_state(rng, 3), 3, 0, 1.0, 2)
