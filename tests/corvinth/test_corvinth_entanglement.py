"""Schmidt spectrum across a bond and its Renyi entropies."""

import math
import re
import warnings

import numpy as np
import pytest
from corvinth_reference import random_state, rng  # noqa: F401 (fixture)

from brimvale_chemistry import corvinth

LN2 = math.log(2.0)


def reshape_message(size, shape):
    with pytest.raises(ValueError) as caught:
        np.zeros(size).reshape(shape)
    return f"^{re.escape(str(caught.value))}$"


class TestSchmidtProbabilities:
    @pytest.mark.parametrize("n_qubits", [2, 3, 4, 5])
    def test_random_states_match_the_singular_values(self, rng, n_qubits):
        psi = random_state(rng, n_qubits)
        for bond in range(n_qubits - 1):
            result = corvinth._schmidt_probabilities(psi, n_qubits, bond)
            rows, cols = 2 ** (n_qubits - bond - 1), 2 ** (bond + 1)
            s = np.linalg.svd(psi.reshape(rows, cols), compute_uv=False)
            assert result.dtype == np.float64 and result.shape == (min(rows, cols),)
            np.testing.assert_allclose(result, s**2 / np.sum(s**2), atol=1e-14)
            assert np.all(np.diff(result) <= 1e-15) and math.isclose(result.sum(), 1.0)

    def test_cut_separates_low_from_high_qubits(self, rng):
        # qubits 0, 1 entangled with each other, qubit 2 in its own state
        low = random_state(rng, 2)
        high = random_state(rng, 1)
        psi = np.kron(high, low)
        np.testing.assert_allclose(corvinth._schmidt_probabilities(psi, 3, 1), [1.0, 0.0], atol=1e-14)
        assert corvinth._schmidt_probabilities(psi, 3, 0)[1] > 1e-3

    def test_bell_state(self):
        bell = np.array([1, 0, 0, 1]) / math.sqrt(2)
        np.testing.assert_allclose(corvinth._schmidt_probabilities(bell, 2, 0), [0.5, 0.5], atol=1e-15)

    @pytest.mark.parametrize("bond", [0, 1, 2])
    def test_basis_state(self, bond):
        psi = np.zeros(16)
        psi[0] = 1.0
        result = corvinth._schmidt_probabilities(psi, 4, bond)
        np.testing.assert_allclose(result, np.eye(len(result))[0], atol=1e-15)

    def test_unnormalised_state_gives_the_normalised_spectrum(self, rng):
        psi = random_state(rng, 3)
        np.testing.assert_allclose(
            corvinth._schmidt_probabilities(2.0 * psi, 3, 1), corvinth._schmidt_probabilities(psi, 3, 1), atol=1e-15
        )

    def test_keywords_and_integer_conversion(self, rng):
        psi = random_state(rng, 3)
        expected = corvinth._schmidt_probabilities(psi, 3, 1)
        np.testing.assert_array_equal(
            corvinth._schmidt_probabilities(bond=1.7, n_qubits=np.int32(3), state=psi), expected
        )

    @pytest.mark.parametrize("n_qubits, bond", [(3, 2), (3, -1), (1, 0), (0, 0), (2, 1)])
    def test_bad_bond(self, n_qubits, bond):
        with pytest.raises(ValueError, match="^bond must be between adjacent qubits$"):
            corvinth._schmidt_probabilities(np.zeros(5), n_qubits, bond)

    def test_zero_state(self):
        with pytest.raises(ValueError, match="^state must have nonzero norm$"):
            corvinth._schmidt_probabilities(np.zeros(8), 3, 0)

    @pytest.mark.parametrize("size, n_qubits, bond", [(7, 3, 0), (16, 3, 1), (4, 3, 1)])
    def test_wrong_length_is_numpys_reshape_error(self, size, n_qubits, bond):
        shape = (2 ** (n_qubits - bond - 1), 2 ** (bond + 1))
        with pytest.raises(ValueError, match=reshape_message(size, shape)):
            corvinth._schmidt_probabilities(np.zeros(size), n_qubits, bond)

    @pytest.mark.parametrize("name, args", [("n_qubits", ("3", 0)), ("bond", (3, None))])
    def test_non_numbers_name_the_argument(self, name, args):
        with pytest.raises(TypeError, match=rf"^Argument '{name}' has incorrect type \(expected int, got "):
            corvinth._schmidt_probabilities(np.zeros(8), *args)

    def test_non_finite_state_fails_like_numpy(self):
        psi = np.zeros(4)
        psi[0] = np.nan
        with pytest.raises(np.linalg.LinAlgError, match="SVD did not converge"):
            corvinth._schmidt_probabilities(psi, 2, 0)

    def test_input_unchanged(self, rng):
        psi = random_state(rng, 4)
        before = psi.copy()
        corvinth._schmidt_probabilities(psi, 4, 1)
        assert np.array_equal(psi, before)


def renyi_reference(p, alpha):
    p = np.asarray(p, dtype=float)
    p = p[p > np.finfo(float).eps]
    p = p / p.sum()
    if alpha == np.inf:
        return -math.log(p.max())
    if abs(alpha - 1) <= 1.001e-5:
        return float(-np.sum(p * np.log(p)))
    return math.log(np.sum(p**alpha)) / (1 - alpha)


class TestRenyiEntropy:
    @pytest.mark.parametrize("alpha", [0.5, 1.0, 2.0, 3.5, np.inf])
    def test_random_spectra(self, rng, alpha):
        for _ in range(5):
            p = rng.random(8) ** 3
            p /= p.sum()
            result = corvinth._renyi_entropy(p, alpha)
            assert type(result) is float
            assert math.isclose(result, renyi_reference(p, alpha), rel_tol=1e-13)

    @pytest.mark.parametrize("alpha", [1, 2, 0.5, np.inf, np.float32(2.0), np.int64(3)])
    def test_bell_spectrum_is_ln2_for_every_order(self, alpha):
        assert math.isclose(corvinth._renyi_entropy([0.5, 0.5], alpha), LN2, rel_tol=1e-15)

    @pytest.mark.parametrize("alpha", [0.5, 1.0, 2.0, np.inf])
    def test_pure_spectrum_has_no_entropy(self, alpha):
        assert corvinth._renyi_entropy([1.0, 0.0, 0.0, 0.0], alpha) == 0.0

    def test_entropy_of_a_random_state_spectrum(self, rng):
        psi = random_state(rng, 4)
        p = corvinth._schmidt_probabilities(psi, 4, 1)
        for alpha in (0.5, 1.0, 2.0, np.inf):
            assert math.isclose(corvinth._renyi_entropy(p, alpha), renyi_reference(p, alpha), rel_tol=1e-12)
        # Renyi entropies do not increase with the order
        values = [corvinth._renyi_entropy(p, a) for a in (0.5, 1.0, 2.0, np.inf)]
        assert all(a >= b - 1e-14 for a, b in zip(values, values[1:]))

    def test_filter_before_normalise(self):
        assert math.isclose(corvinth._renyi_entropy([0.5, 0.5, 0.0], 2), LN2, rel_tol=1e-15)
        assert math.isclose(corvinth._renyi_entropy([2, 2], 1), LN2, rel_tol=1e-15)
        # an entry at machine epsilon is dropped, one just above it is kept
        eps = np.finfo(float).eps
        assert corvinth._renyi_entropy([1.0, eps], 2) == 0.0
        assert corvinth._renyi_entropy([1.0, 2 * eps], 2) > 0.0

    def test_von_neumann_branch_boundary(self):
        p = np.array([0.7, 0.2, 0.1])
        shannon = float(-np.sum(p * np.log(p)))
        assert corvinth._renyi_entropy(p, 1.000001) == pytest.approx(shannon, rel=1e-15)
        general = math.log(np.sum(p**1.001)) / (1 - 1.001)
        assert corvinth._renyi_entropy(p, 1.001) == pytest.approx(general, rel=1e-12)
        assert corvinth._renyi_entropy(p, 1.001) != pytest.approx(shannon, rel=1e-6)

    @pytest.mark.parametrize("alpha", [0, -1, np.nan, -np.inf, 0.0])
    def test_bad_index_is_reported_before_the_vector(self, alpha):
        with pytest.raises(ValueError, match="^Renyi index must be positive$"):
            corvinth._renyi_entropy([[np.nan]], alpha)

    @pytest.mark.parametrize("alpha", ["2", 1j, None])
    def test_index_must_be_a_real_number(self, alpha):
        with pytest.raises(TypeError):
            corvinth._renyi_entropy([0.5, 0.5], alpha)

    @pytest.mark.parametrize("p", [[[0.5, 0.5]], 0.5, [0.5, np.nan], [0.5, np.inf], [1.0, -1e-20], [-np.inf, 1.0]])
    def test_not_a_nonnegative_vector(self, p):
        with pytest.raises(ValueError, match="^probabilities must be a nonnegative one-dimensional array$"):
            corvinth._renyi_entropy(p, 2.0)

    @pytest.mark.parametrize("p", [[], [0.0, 0.0], [2.22e-16, 1e-20]])
    def test_no_weight(self, p):
        with pytest.raises(ValueError, match="^probabilities must have positive total weight$"):
            corvinth._renyi_entropy(p, 1.0)

    def test_complex_input_warns_like_numpy(self):
        with pytest.warns(np.exceptions.ComplexWarning):
            assert math.isclose(corvinth._renyi_entropy(np.array([0.5 + 0j, 0.5]), 2), LN2)
        with pytest.raises(np.exceptions.ComplexWarning), warnings.catch_warnings():
            warnings.simplefilter("error")
            corvinth._renyi_entropy(np.array([0.5 + 0j, 0.5]), 2)

    def test_input_unchanged(self):
        p = np.array([4.0, 1e-30, 4.0])
        before = p.copy()
        corvinth._renyi_entropy(p, 2.0)
        assert np.array_equal(p, before)


class TestDefaultRenyiIndices:
    @pytest.mark.parametrize("layers, length", [(3, 3), (1, 1), (np.int64(2), 2), (True, 1), (np.uint8(4), 4)])
    def test_one_von_neumann_index_per_layer(self, layers, length):
        result = corvinth.default_renyi_indices(layers)
        assert type(result) is list and result == [1.0] * length
        assert all(type(v) is float for v in result)

    def test_new_list_each_call(self):
        first = corvinth.default_renyi_indices(2)
        first.append(5.0)
        assert corvinth.default_renyi_indices(2) == [1.0, 1.0]

    @pytest.mark.parametrize("layers", [0, -3, False, 2.7, 2.0, "2", None, np.float64(2.0)])
    def test_not_a_positive_integer(self, layers):
        with pytest.raises(ValueError, match="^layers must be a positive integer$"):
            corvinth.default_renyi_indices(layers)
