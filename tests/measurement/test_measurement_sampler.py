"""The native sampler: outcome distribution, basis rotation, seeding and argument checks."""

import numpy as np
import pytest
from measurement_support import rotate_reference

from brimvale_chemistry._kernels import sample_outcomes


def random_state(n_qubits, seed, zero_fraction=0.0):
    rng = np.random.default_rng(seed)
    state = rng.normal(size=2**n_qubits) + 1j * rng.normal(size=2**n_qubits)
    state[rng.random(2**n_qubits) < zero_fraction] = 0.0
    return state / np.linalg.norm(state)


def assert_frequencies_match(outcomes, counts, probabilities, shots):
    frequencies = np.zeros(len(probabilities))
    frequencies[outcomes.astype(np.int64)] = counts / shots
    tolerance = 5.0 * np.sqrt(probabilities * (1.0 - probabilities) / shots) + 1e-12
    assert np.all(np.abs(frequencies - probabilities) <= tolerance)


class TestDistribution:
    def test_histogram_is_sorted_complete_and_positive(self):
        outcomes, counts = sample_outcomes(random_state(6, 1), 6, 5000, 3)
        assert outcomes.dtype == np.uint64 and counts.dtype == np.int64
        assert counts.sum() == 5000 and np.all(counts > 0)
        assert np.all(np.diff(outcomes.astype(np.int64)) > 0)

    def test_frequencies_follow_squared_amplitudes(self):
        state = random_state(3, 2)
        outcomes, counts = sample_outcomes(state, 3, 200_000, 11)
        assert_frequencies_match(outcomes, counts, np.abs(state) ** 2, 200_000)

    def test_unnormalised_state_is_sampled_by_relative_weight(self):
        state = 7.0 * random_state(3, 4)
        outcomes, counts = sample_outcomes(state, 3, 100_000, 5)
        assert_frequencies_match(outcomes, counts, np.abs(state / 7.0) ** 2, 100_000)

    @pytest.mark.parametrize("seed", range(5))
    def test_zero_probability_outcomes_are_never_drawn(self, seed):
        state = random_state(8, seed, zero_fraction=0.7)
        state[0] = state[-1] = 0.0  # the ends of the cumulative sweep
        outcomes, _ = sample_outcomes(state, 8, 20_000, seed)
        assert np.all(state[outcomes.astype(np.int64)] != 0)

    @pytest.mark.parametrize("support", [[0], [1023], [31, 32], [37, 900, 1022], [5, 6, 7, 8, 9, 600, 1000]])
    def test_sparse_states_with_empty_stretches(self, support):
        # Long runs of zeros, including at both ends, between the few outcomes that can occur.
        rng = np.random.default_rng(len(support))
        state = np.zeros(1024, dtype=complex)
        state[support] = rng.normal(size=len(support)) + 1j * rng.uniform(0.1, 1.0, size=len(support))
        outcomes, counts = sample_outcomes(state, 10, 100_000, 3)
        assert set(outcomes.tolist()) <= set(support)
        assert_frequencies_match(outcomes, counts, np.abs(state) ** 2 / np.sum(np.abs(state) ** 2), 100_000)

    @pytest.mark.parametrize("n_qubits", [0, 1, 2])
    def test_states_smaller_than_a_block(self, n_qubits):
        state = random_state(n_qubits, 12)
        outcomes, counts = sample_outcomes(state, n_qubits, 100_000, 4)
        assert_frequencies_match(outcomes, counts, np.abs(state) ** 2, 100_000)

    def test_basis_state_always_gives_its_index(self):
        state = np.zeros(16, dtype=complex)
        state[11] = 1j
        outcomes, counts = sample_outcomes(state, 4, 1000, 0)
        assert outcomes.tolist() == [11] and counts.tolist() == [1000]

    def test_complex64_state_is_accepted_and_left_untouched(self):
        state = random_state(4, 6).astype(np.complex64)
        before = state.copy()
        outcomes, counts = sample_outcomes(state, 4, 50_000, 1, x_mask=0b0101, y_mask=0b0010)
        assert np.array_equal(state, before)
        expected = np.abs(rotate_reference(before, 4, [(0, "X"), (1, "Y"), (2, "X")])) ** 2
        assert_frequencies_match(outcomes, counts, expected, 50_000)


class TestBasisRotation:
    @pytest.mark.parametrize(
        "bases",
        [
            [(0, "X")],
            [(1, "Y")],
            [(0, "Y"), (2, "X"), (3, "Y")],
            [(0, "X"), (1, "X"), (2, "Y"), (3, "X"), (4, "Y")],
        ],
    )
    def test_rotated_distribution_matches_reference(self, bases):
        n = 5
        state = random_state(n, 7)
        x_mask = sum(1 << q for q, p in bases if p == "X")
        y_mask = sum(1 << q for q, p in bases if p == "Y")
        outcomes, counts = sample_outcomes(state, n, 200_000, 13, x_mask=x_mask, y_mask=y_mask)
        assert_frequencies_match(outcomes, counts, np.abs(rotate_reference(state, n, bases)) ** 2, 200_000)

    @pytest.mark.parametrize(
        "amplitudes, mask, expected",
        [
            ([1, 1], "x", 0),
            ([1, -1], "x", 1),
            ([1, 1j], "y", 0),
            ([1, -1j], "y", 1),
        ],
    )
    def test_eigenstates_give_their_eigenvalue_bit(self, amplitudes, mask, expected):
        state = np.array(amplitudes, dtype=complex) / np.sqrt(2)
        outcomes, counts = sample_outcomes(state, 1, 500, 2, **{f"{mask}_mask": 1})
        assert outcomes.tolist() == [expected] and counts.tolist() == [500]

    def test_caller_state_is_not_rotated_in_place(self):
        state = random_state(4, 8)
        before = state.copy()
        sample_outcomes(state, 4, 10, 0, x_mask=0b1111)
        assert np.array_equal(state, before)


class TestSeeding:
    def test_same_seed_same_draws(self):
        state = random_state(10, 9)
        first = sample_outcomes(state, 10, 3000, 2**64 - 1, y_mask=3)
        second = sample_outcomes(state, 10, 3000, 2**64 - 1, y_mask=3)
        assert all(np.array_equal(a, b) for a, b in zip(first, second))

    def test_different_seeds_differ(self):
        state = random_state(10, 9)
        first = sample_outcomes(state, 10, 3000, 1)
        second = sample_outcomes(state, 10, 3000, 2)
        assert not (np.array_equal(first[0], second[0]) and np.array_equal(first[1], second[1]))


class TestArguments:
    @pytest.mark.parametrize(
        "kwargs, message",
        [
            (dict(state=np.ones(8), n_qubits=2), "exactly 2\\*\\*n_qubits = 4"),
            (dict(shots=-1), "shots must be non-negative"),
            (dict(seed=-1), "seed must be an integer between 0 and 2\\*\\*64 - 1"),
            (dict(seed=2**64), "seed must be an integer between 0"),
            (dict(x_mask=0b100), "only mark qubits below"),
            (dict(x_mask=1, y_mask=1), "must not mark the same qubit"),
            (dict(state=np.zeros(4)), "zero or non-finite norm"),
            (dict(state=np.array([np.nan, 0, 0, 0])), "zero or non-finite norm"),
        ],
    )
    def test_bad_values_raise_value_error(self, kwargs, message):
        call = dict(state=np.ones(4), n_qubits=2, shots=10, seed=0) | kwargs
        with pytest.raises(ValueError, match=message):
            sample_outcomes(call.pop("state"), call.pop("n_qubits"), call.pop("shots"), call.pop("seed"), **call)

    def test_non_integer_shots_is_type_error(self):
        with pytest.raises(TypeError, match="Argument 'shots' has incorrect type \\(expected int, got str\\)"):
            sample_outcomes(np.ones(2), 1, "10", 0)

    def test_zero_shots_gives_empty_histogram(self):
        outcomes, counts = sample_outcomes(np.ones(2), 1, 0, 0)
        assert outcomes.size == 0 and counts.size == 0
