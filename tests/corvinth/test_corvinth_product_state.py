"""Product-state approximation and the rotation that prepares one factor."""

import math
import re

import numpy as np
import pytest
from corvinth_reference import equal_up_to_phase, random_state, rng  # noqa: F401 (fixture)

from brimvale_chemistry import corvinth


def random_factor(rng):
    f = rng.normal(size=2) + 1j * rng.normal(size=2)
    return f / np.linalg.norm(f)


def kron_all(factors_by_qubit):
    product = np.ones(1, dtype=complex)
    for f in reversed(factors_by_qubit):  # most significant qubit leftmost
        product = np.kron(product, f)
    return product


class TestProductStateApproximation:
    @pytest.mark.parametrize("n_qubits", [1, 2, 3, 5])
    def test_product_state_is_reproduced(self, rng, n_qubits):
        factors = [random_factor(rng) for _ in range(n_qubits)]
        psi = kron_all(factors)
        found, product = corvinth._product_state_approximation(psi, n_qubits)
        assert type(found) is list and len(found) == n_qubits
        for mine, expected in zip(found, factors):
            assert mine.dtype == np.complex128 and mine.shape == (2,)
            assert math.isclose(np.linalg.norm(mine), 1.0, rel_tol=1e-14)
            assert equal_up_to_phase(mine, expected)
        assert product.dtype == np.complex128 and product.shape == (2**n_qubits,)
        assert math.isclose(abs(np.vdot(psi, product)), 1.0, rel_tol=1e-13)
        np.testing.assert_allclose(product, kron_all(found), atol=1e-14)

    @pytest.mark.parametrize("index", [0, 5, 7])
    def test_basis_state(self, index):
        psi = np.zeros(8)
        psi[index] = 1.0
        factors, product = corvinth._product_state_approximation(psi, 3)
        for q, f in enumerate(factors):
            np.testing.assert_allclose(np.abs(f), np.eye(2)[(index >> q) & 1], atol=1e-15)
        assert equal_up_to_phase(product, psi)

    def test_superposed_high_qubit(self):
        psi = np.kron([1, 1], [1, 0]) / math.sqrt(2)
        (f0, f1), product = corvinth._product_state_approximation(psi, 2)
        np.testing.assert_allclose(np.abs(f0), [1, 0], atol=1e-15)
        np.testing.assert_allclose(np.abs(f1), [1 / math.sqrt(2)] * 2, atol=1e-15)
        assert equal_up_to_phase(product, psi)

    def test_bell_state_keeps_one_branch(self):
        bell = np.array([1, 0, 0, 1]) / math.sqrt(2)
        _, product = corvinth._product_state_approximation(bell, 2)
        assert math.isclose(abs(np.vdot(bell, product)), 1 / math.sqrt(2), rel_tol=1e-14)

    def test_random_state_overlap_is_that_of_the_greedy_sweep(self, rng):
        psi = random_state(rng, 4)
        factors, product = corvinth._product_state_approximation(psi, 4)
        # Reference sweep with NumPy: dominant singular triple, high qubit first.
        remainder, expected = psi, []
        for _ in range(3):
            u, s, vh = np.linalg.svd(remainder.reshape(2, -1), full_matrices=False)
            expected.append(u[:, 0])
            remainder = s[0] * vh[0, :]
        expected.append(remainder / np.linalg.norm(remainder))
        for mine, ref in zip(factors, reversed(expected)):
            assert equal_up_to_phase(mine, ref)
        assert math.isclose(abs(np.vdot(psi, product)), abs(np.vdot(psi, kron_all(expected[::-1]))), rel_tol=1e-12)

    def test_single_qubit_shares_one_array(self):
        psi = np.array([3.0, 4.0j])
        factors, product = corvinth._product_state_approximation(psi, 1)
        assert len(factors) == 1 and factors[0] is product
        np.testing.assert_allclose(product, [0.6, 0.8j], atol=1e-15)

    def test_unnormalised_state(self, rng):
        psi = random_state(rng, 3)
        _, product = corvinth._product_state_approximation(psi, 3)
        _, scaled = corvinth._product_state_approximation(3.0 * psi, 3)
        assert equal_up_to_phase(scaled, product, atol=1e-13)

    def test_integer_conversion(self, rng):
        psi = random_state(rng, 2)
        _, expected = corvinth._product_state_approximation(psi, 2)
        _, product = corvinth._product_state_approximation(n_qubits=np.int16(2), state=list(psi))
        np.testing.assert_array_equal(product, expected)
        with pytest.raises(TypeError, match=r"^Argument 'n_qubits' has incorrect type \(expected int, got str\)$"):
            corvinth._product_state_approximation(psi, "2")

    @pytest.mark.parametrize("size, n_qubits, odd", [(6, 3, 3), (3, 2, 3), (4, 4, 1)])
    def test_odd_remainder_is_numpys_reshape_error(self, size, n_qubits, odd):
        with pytest.raises(ValueError) as caught:
            np.zeros(odd).reshape(2, -1)
        with pytest.raises(ValueError, match=f"^{re.escape(str(caught.value))}$"):
            corvinth._product_state_approximation(np.ones(size), n_qubits)

    @pytest.mark.parametrize("psi, n_qubits", [(np.zeros(8), 3), (np.zeros(2), 1), (np.zeros(0), 2)])
    def test_zero_state_is_refused(self, psi, n_qubits):
        with pytest.raises(ValueError, match="^state must have nonzero norm$"):
            corvinth._product_state_approximation(psi, n_qubits)

    def test_input_unchanged(self, rng):
        psi = random_state(rng, 3)
        before = psi.copy()
        corvinth._product_state_approximation(psi, 3)
        assert np.array_equal(psi, before)


class TestProductFactorRotation:
    @pytest.mark.parametrize("factor", [(1, 0), (-1, 0), (1j, 0), (2, 0), (3, 1e-13)])
    def test_ground_state_needs_no_rotation(self, factor):
        result = corvinth._product_factor_rotation(factor)
        assert result.dtype == np.float64 and result.shape == (3,)
        assert np.array_equal(result, np.zeros(3))

    @pytest.mark.parametrize(
        "factor, expected",
        [
            ((0, 1), (0, math.pi, 0)),
            ((1 / math.sqrt(2), 1 / math.sqrt(2)), (0, math.pi / 2, 0)),
            ((1 / math.sqrt(2), 1j / math.sqrt(2)), (-math.pi / 2, 0, 0)),
        ],
    )
    def test_closed_forms(self, factor, expected):
        np.testing.assert_allclose(corvinth._product_factor_rotation(factor), expected, atol=1e-15)

    def test_rotation_prepares_the_factor_up_to_phase(self, rng):
        for _ in range(20):
            f = random_factor(rng) * rng.uniform(0.1, 5.0)
            v = corvinth._product_factor_rotation(f)
            assert v[2] == 0.0
            prepared = corvinth._axis_rotation_matrix(v) @ np.array([1, 0])
            assert equal_up_to_phase(prepared, f / np.linalg.norm(f))

    def test_extreme_magnitudes(self):
        np.testing.assert_allclose(corvinth._product_factor_rotation((1e200, 1e200)), (0, math.pi / 2, 0), atol=1e-15)
        np.testing.assert_allclose(corvinth._product_factor_rotation((0, 1e-200)), (0, math.pi, 0), atol=1e-15)

    @pytest.mark.parametrize("factor", [(0, 0), (1, 0, 0), [[1], [0]], 1.0, []])
    def test_not_a_nonzero_two_component_vector(self, factor):
        with pytest.raises(ValueError, match="^product factor must be a nonzero two-component vector$"):
            corvinth._product_factor_rotation(factor)

    def test_input_unchanged(self):
        f = np.array([0.6, 0.8j])
        before = f.copy()
        corvinth._product_factor_rotation(factor=f)
        assert np.array_equal(f, before)
