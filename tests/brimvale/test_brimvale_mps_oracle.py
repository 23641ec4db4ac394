"""Matrix product states of 6 to 10 random qubits against their dense contraction in NumPy."""

import numpy as np
import pytest

from brimvale import MPS
from brimvale_chemistry.utils import PauliTerm

PAULI = {
    "X": np.array([[0, 1], [1, 0]], dtype=complex),
    "Y": np.array([[0, -1j], [1j, 0]]),
    "Z": np.array([[1, 0], [0, -1]], dtype=complex),
}


def random_tensors(rng, n, max_bond):
    bonds = [1, *rng.integers(1, max_bond + 1, size=n - 1), 1]
    shapes = [(bonds[k], 2, bonds[k + 1]) for k in range(n)]
    return [rng.normal(size=s) + 1j * rng.normal(size=s) for s in shapes]


def contract(tensors):
    """The 2**n amplitudes of a chain of (left, 2, right) tensors, qubit 0 the least significant bit."""
    state = tensors[0][0]
    for tensor in tensors[1:]:
        state = np.tensordot(state, tensor, axes=([-1], [0]))
    # Axes are qubits 0 ... n-1 (and the closing bond); the index wants qubit n-1 first.
    state = state[..., 0]
    return state.transpose(range(state.ndim - 1, -1, -1)).reshape(-1)


def apply_paulis(vector, n, paulis):
    tensor = vector.reshape([2] * n)
    for qubit, letter in paulis:
        axis = n - 1 - qubit
        tensor = np.moveaxis(np.tensordot(PAULI[letter], tensor, axes=([1], [axis])), 0, axis)
    return tensor.reshape(-1)


def swept_truncation(vector, n, max_bond, cutoff, bonds):
    """The cuts of ``bonds`` in that order, each the best one of the state as the cuts before left it.

    Returns the state (norm restored) and the fraction of the squared norm each cut dropped.
    """
    state, fractions = vector.copy(), []
    for bond in bonds:
        # Rows: qubits bond+1 ... n-1, columns: qubits 0 ... bond.
        u, s, vh = np.linalg.svd(state.reshape(2 ** (n - bond - 1), 2 ** (bond + 1)), full_matrices=False)
        level = cutoff * np.linalg.norm(s)
        # The data must not sit on a cutoff, or rounding would choose the count.
        assert cutoff == 0 or np.all(np.abs(s - level) > 1e-9 * s[0])
        keep = min(max_bond, int(np.sum(s > level)))
        fractions.append(np.sum(s[keep:] ** 2) / np.sum(s**2))
        state = ((u[:, :keep] * s[:keep]) @ vh[:keep]).reshape(-1)
        # The kept values are rescaled, so the next cutoff is relative to the same norm.
        state *= np.linalg.norm(vector) / np.linalg.norm(state)
    return state, fractions


def test_amplitudes_norm_and_overlap():
    rng = np.random.default_rng(61)
    for n in (6, 8, 10):
        first, second = random_tensors(rng, n, 5), random_tensors(rng, n, 5)
        a, b = contract(first), contract(second)
        left, right = MPS.from_tensors(first, cutoff=0.0), MPS.from_tensors(second, cutoff=0.0)
        scale = np.linalg.norm(a) * np.linalg.norm(b)
        np.testing.assert_allclose(left.to_dense(), a, atol=1e-12 * np.linalg.norm(a))
        assert left.norm() == pytest.approx(np.linalg.norm(a), rel=1e-12)
        assert abs(left.overlap(right) - np.vdot(a, b)) < 1e-12 * scale
        assert abs(right.overlap(left) - np.vdot(b, a)) < 1e-12 * scale
        assert left.overlap(left) == pytest.approx(np.vdot(a, a).real, rel=1e-12)


def test_expectation_of_pauli_strings():
    rng = np.random.default_rng(62)
    for n in (6, 8, 10):
        tensors = random_tensors(rng, n, 6)
        vector = contract(tensors)
        state = MPS.from_tensors(tensors)
        terms = []
        for _ in range(40):
            qubits = rng.choice(n, size=int(rng.integers(0, n + 1)), replace=False)
            paulis = tuple((int(q), "XYZ"[rng.integers(3)]) for q in qubits)
            terms.append(PauliTerm(complex(rng.normal(), rng.normal()), paulis))
        # Unnormalised on purpose: the norm enters squared.
        expected = sum(t.coefficient * np.vdot(vector, apply_paulis(vector, n, t.paulis)) for t in terms)
        scale = sum(abs(t.coefficient) for t in terms) * np.vdot(vector, vector).real
        assert abs(state.expectation(terms) - expected) < 1e-12 * scale
        for term in terms[:5]:
            alone = np.vdot(vector, apply_paulis(vector, n, term.paulis))
            assert abs(state.expectation([term]) - term.coefficient * alone) < 1e-12 * scale


def test_truncation_keeps_the_best_cuts_and_books_their_weight():
    rng = np.random.default_rng(63)
    for n, max_bond, cutoff in ((6, 3, 0.0), (8, 5, 0.0), (10, 6, 0.0), (9, 64, 0.25), (9, 8, 0.15)):
        vector = 2.5 * (rng.normal(size=2**n) + 1j * rng.normal(size=2**n))
        norm = np.linalg.norm(vector)
        up, down = list(range(n - 1)), list(range(n - 2, -1, -1))
        # from_dense cuts from qubit 0 up, then canonicalises from the far end down, cutting
        # again what fell under the cutoff; truncated() cuts from the far end down only.
        built = (
            (MPS.from_dense(vector, max_bond=max_bond, cutoff=cutoff), up + down),
            (MPS.from_dense(vector, cutoff=0.0).truncated(max_bond=max_bond, cutoff=cutoff), down),
        )
        for state, bonds in built:
            expected, fractions = swept_truncation(vector, n, max_bond, cutoff, bonds)
            np.testing.assert_allclose(state.to_dense(), expected, atol=1e-12 * norm)
            assert state.norm() == pytest.approx(norm, rel=1e-12)
            assert max(state.bond_dimensions) <= max_bond and state.discarded_weight > 0.1
            assert state.discarded_weight == pytest.approx(1 - np.prod(1 - np.array(fractions)), abs=1e-12)
            infidelity = 1 - abs(np.vdot(expected, vector)) ** 2 / norm**4
            if bonds == down or cutoff == 0:
                # The cuts of one sweep nest: the composed weight is the infidelity.
                assert state.discarded_weight == pytest.approx(infidelity, abs=1e-12)
            # No state within these bonds is closer than the best cut of any single bond.
            for bond in range(n - 1):
                s = np.linalg.svd(vector.reshape(2 ** (n - bond - 1), 2 ** (bond + 1)), compute_uv=False)
                tail = np.sum(s[state.bond_dimensions[bond] :] ** 2) / norm**2
                assert infidelity >= tail - 1e-12


def test_sampled_frequencies_in_every_basis():
    rng = np.random.default_rng(64)
    hadamard = np.array([[1, 1], [1, -1]]) / np.sqrt(2)
    s_dagger = np.diag([1, -1j])
    n, shots = 10, 400_000
    tensors = random_tensors(rng, n, 8)
    vector = contract(tensors)
    state = MPS.from_tensors(tensors)
    for x_mask, y_mask in ((0, 0), (0b0000110101, 0b1101001000)):
        rotated = vector.reshape([2] * n)
        for q in range(n):
            turn = hadamard if (x_mask >> q) & 1 else hadamard @ s_dagger if (y_mask >> q) & 1 else np.eye(2)
            rotated = np.moveaxis(np.tensordot(turn, rotated, axes=([1], [n - 1 - q])), 0, n - 1 - q)
        probabilities = np.abs(rotated.reshape(-1)) ** 2
        probabilities /= probabilities.sum()
        outcomes, counts = state.sample(shots, 2026, x_mask=x_mask, y_mask=y_mask)
        assert counts.sum() == shots
        observed = np.zeros(2**n)
        observed[outcomes.astype(np.int64)] = counts / shots
        # The expected total variation over 1024 outcomes is at most
        # sqrt(1024 / shots) / 2 < 0.026 (Jensen, then Cauchy-Schwarz); one shot moves
        # it by 1 / shots at most, so by McDiarmid's inequality it exceeds 0.05 with
        # probability below exp(-2 shots 0.024^2) < e^-460.
        assert 0.5 * np.abs(observed - probabilities).sum() < 0.05
