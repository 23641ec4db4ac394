"""Pauli terms, the layer default and the Hamiltonian expectation value."""

import functools

import numpy as np
import pytest

from brimvale_chemistry import utils
from brimvale_chemistry.utils import _PAULI, PauliTerm, default_layers, hamiltonian_expectation


def dense(term, n):
    """The 2^n matrix of a term; qubit 0 is the least significant bit."""
    factors = dict(term.paulis)
    mats = [_PAULI[factors[q]] if q in factors else np.eye(2) for q in reversed(range(n))]
    return term.coefficient * functools.reduce(np.kron, mats, np.eye(1))


def random_terms(rng, n, count):
    terms = []
    for _ in range(count):
        letters = rng.integers(0, 4, size=n)
        paulis = tuple((q, "IXYZ"[k]) for q, k in enumerate(letters) if k)
        terms.append(PauliTerm(float(rng.normal()), paulis))
    return terms


class TestPauliTerm:
    def test_factors_are_sorted_and_masks_match(self):
        term = PauliTerm(-0.5, ((3, "Y"), (0, "X"), (1, "Z")))
        assert term.paulis == ((0, "X"), (1, "Z"), (3, "Y"))
        assert term.x_mask == 0b1001 and term.z_mask == 0b1010
        assert term.qubits == (0, 1, 3)

    def test_equal_terms_hash_alike_and_are_immutable(self):
        a = PauliTerm(1.0, ((1, "Z"), (0, "Z")))
        b = PauliTerm(1 + 0j, ((0, "Z"), (1, "Z")))
        assert a == b and hash(a) == hash(b)
        assert isinstance(b.coefficient, float)
        with pytest.raises(AttributeError):
            a.coefficient = 2.0

    def test_complex_coefficient_is_kept(self):
        assert PauliTerm(1j, ((0, "Y"),)).coefficient == 1j

    def test_from_string_and_text(self):
        term = PauliTerm.from_string(0.25, "Z0 X2")
        assert term == PauliTerm(0.25, ((0, "Z"), (2, "X")))
        assert str(term) == "0.25 [Z0 X2]"
        assert PauliTerm.from_string(1.5, "I").is_identity
        assert repr(term) == "PauliTerm(coefficient=0.25, paulis=((0, 'Z'), (2, 'X')))"

    @pytest.mark.parametrize(
        "paulis", [((0, "Q"),), ((0, "X"), (0, "Z")), ((-1, "X"),), ((1.0, "X"),), ((True, "X"),), ((0,),)]
    )
    def test_malformed_factors(self, paulis):
        with pytest.raises(ValueError):
            PauliTerm(1.0, paulis)

    @pytest.mark.parametrize("coefficient", ["1", None, True])
    def test_non_numeric_coefficient(self, coefficient):
        with pytest.raises(TypeError):
            PauliTerm(coefficient, ())

    def test_non_finite_coefficient(self):
        with pytest.raises(ValueError):
            PauliTerm(float("nan"), ())


class TestPauliMatrices:
    def test_standard_matrices(self):
        np.testing.assert_array_equal(_PAULI["X"], [[0, 1], [1, 0]])
        np.testing.assert_array_equal(_PAULI["Y"], [[0, -1j], [1j, 0]])
        np.testing.assert_array_equal(_PAULI["Z"], [[1, 0], [0, -1]])
        assert all(m.dtype == np.complex128 for m in _PAULI.values())


class TestDefaultLayers:
    @pytest.mark.parametrize("n, layers", [(1, 1), (2, 1), (3, 1), (4, 2), (14, 7), (np.int64(9), 4)])
    def test_values(self, n, layers):
        assert default_layers(n) == layers

    @pytest.mark.parametrize("n", [0, -3, 2.0, "4", True, None])
    def test_rejects_non_positive_integers(self, n):
        with pytest.raises(ValueError):
            default_layers(n)


class TestHamiltonianExpectation:
    @pytest.mark.parametrize("n", [1, 2, 3, 5])
    def test_matches_dense_matrix(self, n):
        rng = np.random.default_rng(n)
        terms = random_terms(rng, n, 25) + [PauliTerm(0.7)]
        state = rng.normal(size=2**n) + 1j * rng.normal(size=2**n)
        state /= np.linalg.norm(state)
        matrix = sum(dense(t, n) for t in terms)
        expected = np.vdot(state, matrix @ state)
        value = hamiltonian_expectation(state, terms, n)
        assert isinstance(value, complex)
        assert abs(value - expected) < 1e-12

    def test_non_hermitian_coefficient_gives_complex_value(self):
        state = np.array([1, 1], dtype=complex) / np.sqrt(2)
        assert hamiltonian_expectation(state, [PauliTerm(1j, ((0, "X"),))], 1) == pytest.approx(1j)

    def test_real_and_list_states_are_accepted_and_not_modified(self):
        state = np.array([0.6, 0.0, 0.0, 0.8])
        before = state.copy()
        value = hamiltonian_expectation(state, [PauliTerm(1.0, ((0, "Z"), (1, "Z")))], 2)
        assert value == pytest.approx(1.0)
        np.testing.assert_array_equal(state, before)
        assert hamiltonian_expectation([1, 0], [PauliTerm(2.0, ((0, "Z"),))], 1) == pytest.approx(2.0)

    def test_wrong_state_length(self):
        with pytest.raises(ValueError, match="2\\*\\*n_qubits"):
            hamiltonian_expectation(np.ones(8), [], 2)

    def test_term_outside_the_qubits(self):
        with pytest.raises(ValueError, match="acts outside"):
            hamiltonian_expectation(np.ones(4), [PauliTerm(1.0, ((2, "X"),))], 2)

    def test_module_exposes_the_native_function(self):
        assert utils.hamiltonian_expectation(np.array([1.0, 0.0]), [PauliTerm(1.0, ((0, "Z"),))], 1) == 1
