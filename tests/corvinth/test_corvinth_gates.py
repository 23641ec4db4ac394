"""Gate matrices, the two-qubit state kernel and the module's load-time names."""

import math
import re

import numpy as np
import pytest
from corvinth_reference import (
    PAULI,
    embed_two_qubit,
    entangler_reference,
    random_state,
    rng,  # noqa: F401 (fixture)
    rotation_reference,
)

from brimvale_chemistry import corvinth


class TestModuleNames:
    def test_constants(self):
        assert corvinth._PAULI_AXES == "XYZ" and type(corvinth._PAULI_AXES) is str
        assert corvinth._ENTANGLER_PARAMS == 9 and type(corvinth._ENTANGLER_PARAMS) is int
        assert corvinth._ROW_WIDTH == 11 and type(corvinth._ROW_WIDTH) is int
        assert corvinth.__all__ == ["CvdResult", "default_renyi_indices", "cvd_dmrg"]

    def test_imported_names_are_the_sibling_objects(self):
        import scipy.optimize

        import brimvale
        import brimvale_chemistry.dmrg
        import brimvale_chemistry.utils as utils

        assert corvinth.minimize is scipy.optimize.minimize
        assert corvinth.Circuit is brimvale.Circuit
        assert corvinth.DmrgResult is brimvale_chemistry.dmrg.DmrgResult
        for name in ("PauliTerm", "_PAULI", "default_layers", "hamiltonian_expectation"):
            assert getattr(corvinth, name) is getattr(utils, name)

    def test_signatures_and_argument_binding(self):
        import inspect

        assert str(inspect.signature(corvinth._apply_two_qubit_unitary)) == "(state, matrix, q0, q1, n_qubits)"
        with pytest.raises(TypeError, match=r"_entangler_matrix\(\) missing 1 required positional argument: 'params'"):
            corvinth._entangler_matrix()
        with pytest.raises(TypeError, match="got an unexpected keyword argument 'vec'"):
            corvinth._axis_rotation_matrix(vec=[0, 0, 1])


class TestAxisRotationMatrix:
    def test_random_vectors_match_the_matrix_exponential(self, rng):
        for _ in range(20):
            v = rng.normal(scale=2.0, size=3)
            result = corvinth._axis_rotation_matrix(v)
            assert result.dtype == np.complex128 and result.shape == (2, 2)
            np.testing.assert_allclose(result, rotation_reference(v), atol=1e-13)

    @pytest.mark.parametrize(
        "vector, expected",
        [
            ((0, 0, math.pi), [[-1j, 0], [0, 1j]]),
            ((math.pi, 0, 0), [[0, -1j], [-1j, 0]]),
            ((0, math.pi, 0), [[0, -1], [1, 0]]),
        ],
    )
    def test_half_turns(self, vector, expected):
        np.testing.assert_allclose(corvinth._axis_rotation_matrix(vector), expected, atol=1e-15)

    @pytest.mark.parametrize("vector", [(0, 0, 0), (1e-13, 0, 0), (0.0,) * 5, [], [[0.0, 0.0]]])
    def test_below_the_floor_is_exactly_the_identity(self, vector):
        result = corvinth._axis_rotation_matrix(vector)
        assert result.dtype == np.complex128
        assert np.array_equal(result, np.eye(2))

    @pytest.mark.parametrize(
        "vector, error, message",
        [
            ((1.0, 2.0), ValueError, r"not enough values to unpack \(expected 3, got 2\)"),
            ((1.0, 2.0, 3.0, 4.0), ValueError, r"too many values to unpack \(expected 3\)"),
            (2.0, TypeError, "cannot unpack non-iterable"),
        ],
    )
    def test_nonzero_vector_needs_three_components(self, vector, error, message):
        with pytest.raises(error, match=message):
            corvinth._axis_rotation_matrix(vector)

    def test_input_unchanged(self):
        v = np.array([0.3, -0.2, 0.9])
        before = v.copy()
        corvinth._axis_rotation_matrix(v)
        assert np.array_equal(v, before)


class TestEntanglerMatrix:
    def test_random_parameters_match_the_exponential_product(self, rng):
        for _ in range(20):
            p = rng.normal(size=9)
            result = corvinth._entangler_matrix(p)
            assert result.dtype == np.complex128 and result.shape == (4, 4)
            np.testing.assert_allclose(result, entangler_reference(p), atol=1e-12)
            np.testing.assert_allclose(result @ result.conj().T, np.eye(4), atol=1e-12)

    def test_zero_parameters_give_the_identity(self):
        np.testing.assert_allclose(corvinth._entangler_matrix(np.zeros(9)), np.eye(4), atol=0)

    @pytest.mark.parametrize("k, letter", list(enumerate("XYZ")))
    def test_single_coupling_closed_form(self, k, letter):
        p = np.zeros(9)
        p[6 + k] = 0.7
        expected = math.cos(0.7) * np.eye(4) - 1j * math.sin(0.7) * np.kron(PAULI[letter], PAULI[letter])
        np.testing.assert_allclose(corvinth._entangler_matrix(p), expected, atol=1e-15)

    def test_rotations_act_on_their_own_qubit(self):
        p = np.zeros(9)
        p[0:3] = (math.pi, 0, 0)
        np.testing.assert_allclose(corvinth._entangler_matrix(p), np.kron(np.eye(2), -1j * PAULI["X"]), atol=1e-15)
        flipped = corvinth._apply_two_qubit_unitary(np.eye(4)[0], corvinth._entangler_matrix(p), 0, 1, 2)
        np.testing.assert_allclose(flipped, -1j * np.eye(4)[1], atol=1e-15)

    @pytest.mark.parametrize("params", [np.zeros(8), np.zeros(10), np.zeros((9, 1)), np.zeros((3, 3)), 0.0])
    def test_wrong_shape(self, params):
        with pytest.raises(ValueError, match=r"^entangler requires 9 parameters$"):
            corvinth._entangler_matrix(params)

    def test_numpy_conversion_errors_pass_through(self):
        with pytest.raises(ValueError, match="could not convert string to float: 'abc'"):
            corvinth._entangler_matrix("abc")
        with pytest.raises(ValueError, match="inhomogeneous"):
            corvinth._entangler_matrix([[1.0, 2.0], [3.0]])

    def test_list_input_and_input_unchanged(self, rng):
        p = rng.normal(size=9)
        before = p.copy()
        np.testing.assert_array_equal(corvinth._entangler_matrix(list(p)), corvinth._entangler_matrix(p))
        assert np.array_equal(p, before)


class TestApplyTwoQubitUnitary:
    @pytest.mark.parametrize("n_qubits, q0, q1", [(2, 0, 1), (3, 0, 1), (3, 1, 2), (3, 0, 2), (5, 1, 4), (6, 2, 3)])
    def test_matches_the_embedded_operator(self, rng, n_qubits, q0, q1):
        matrix = rng.normal(size=(4, 4)) + 1j * rng.normal(size=(4, 4))
        psi = random_state(rng, n_qubits)
        result = corvinth._apply_two_qubit_unitary(psi, matrix, q0, q1, n_qubits)
        assert result.dtype == np.complex128 and result.shape == (2**n_qubits,)
        np.testing.assert_allclose(result, embed_two_qubit(matrix, q0, q1, n_qubits) @ psi, atol=1e-12)

    def test_two_qubits_is_the_plain_product(self, rng):
        matrix = rng.normal(size=(4, 4)) + 1j * rng.normal(size=(4, 4))
        psi = random_state(rng, 2)
        np.testing.assert_allclose(corvinth._apply_two_qubit_unitary(psi, matrix, 0, 1, 2), matrix @ psi, atol=1e-14)

    def test_non_adjacent_flip_of_the_high_qubit(self):
        psi = np.zeros(8, dtype=complex)
        psi[0], psi[1] = 0.6, 0.8j
        flip_q1 = np.kron(PAULI["X"], np.eye(2))
        result = corvinth._apply_two_qubit_unitary(psi, flip_q1, 0, 2, 3)
        expected = np.zeros(8, dtype=complex)
        expected[4], expected[5] = 0.6, 0.8j
        np.testing.assert_array_equal(result, expected)

    def test_other_shapes_and_dtypes_are_read_as_amplitudes(self):
        psi = np.arange(8, dtype=np.float32).reshape(2, 4)
        swap = np.eye(4)[[0, 2, 1, 3]]
        result = corvinth._apply_two_qubit_unitary(psi, swap, 0, 1, 3)
        np.testing.assert_array_equal(result, [0, 2, 1, 3, 4, 6, 5, 7])

    def test_integer_conversion_of_sites(self):
        psi = np.arange(8, dtype=complex)
        matrix = np.eye(4)[[1, 0, 3, 2]]
        expected = corvinth._apply_two_qubit_unitary(psi, matrix, 0, 2, 3)
        np.testing.assert_array_equal(
            corvinth._apply_two_qubit_unitary(psi, matrix, np.int8(0), 2.9, n_qubits=np.uint64(3)), expected
        )
        np.testing.assert_array_equal(
            corvinth._apply_two_qubit_unitary(state=psi, matrix=matrix, q0=0.2, q1=True + 1, n_qubits=3), expected
        )

    @pytest.mark.parametrize(
        "q0, q1, n_qubits",
        [(1, 0, 2), (0, 0, 2), (-1, 1, 2), (0, 2, 2), (0, 1, 1), (0, 1, 0), (1, 1, 3)],
    )
    def test_bad_sites(self, q0, q1, n_qubits):
        with pytest.raises(ValueError, match=r"^two-qubit sites must satisfy 0 <= q0 < q1 < n_qubits$"):
            # the matrix is wrong as well: the sites are judged first
            corvinth._apply_two_qubit_unitary(np.zeros(4), np.eye(3), q0, q1, n_qubits)

    @pytest.mark.parametrize(
        "matrix", [np.eye(3), np.eye(4)[:, :3], np.eye(4).reshape(2, 8), np.eye(16).reshape(4, 4, 16)]
    )
    def test_bad_matrix(self, matrix):
        with pytest.raises(ValueError, match=r"^two-qubit unitary must have shape \(4, 4\)$"):
            corvinth._apply_two_qubit_unitary(np.zeros(8), matrix, 0, 1, 3)

    @pytest.mark.parametrize("name, args", [("q0", ("a", 1, 2)), ("q1", (0, None, 2)), ("n_qubits", (0, 1, [2]))])
    def test_non_numbers_name_the_argument(self, name, args):
        message = rf"^Argument '{name}' has incorrect type \(expected int, got "
        with pytest.raises(TypeError, match=message):
            corvinth._apply_two_qubit_unitary(np.zeros(4), np.eye(4), *args)

    @pytest.mark.parametrize("size, n_qubits", [(7, 3), (16, 3), (4, 3)])
    def test_wrong_state_length_is_numpys_reshape_error(self, size, n_qubits):
        with pytest.raises(ValueError) as caught:
            np.zeros(size).reshape([2] * n_qubits)
        with pytest.raises(ValueError, match=f"^{re.escape(str(caught.value))}$"):
            corvinth._apply_two_qubit_unitary(np.zeros(size), np.eye(4), 0, 1, n_qubits)

    def test_inputs_unchanged_also_for_the_identity_permutation(self, rng):
        psi = random_state(rng, 2)
        matrix = rng.normal(size=(4, 4)) + 0j
        psi_before, matrix_before = psi.copy(), matrix.copy()
        result = corvinth._apply_two_qubit_unitary(psi, matrix, 0, 1, 2)
        assert result is not psi and not np.shares_memory(result, psi)
        assert np.array_equal(psi, psi_before) and np.array_equal(matrix, matrix_before)
