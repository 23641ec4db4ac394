"""Matrix product states: agreement with the state-vector simulator, sampling, truncation, errors."""

import numpy as np
import pytest

from brimvale import MPS, Circuit, _native
from brimvale_chemistry._kernels import hamiltonian_expectation
from brimvale_chemistry.utils import PauliTerm

SINGLE = ("rx", "ry", "rz", "h", "x", "y", "z", "s", "sdg")
PAIRS = ("cx", "cz", "swap")


def random_circuit(rng, n, gates):
    """Every gate of the library, pairs at any distance."""
    circuit = Circuit(n)
    for _ in range(gates):
        if n > 1 and rng.random() < 0.45:
            a, b = rng.choice(n, size=2, replace=False)
            getattr(circuit, PAIRS[rng.integers(3)])(int(a), int(b))
        else:
            name, q = SINGLE[rng.integers(len(SINGLE))], int(rng.integers(n))
            if name.startswith("r"):
                getattr(circuit, name)(float(rng.uniform(-4, 4)), q)
            else:
                getattr(circuit, name)(q)
    return circuit


def random_terms(rng, n, count, max_weight=4):
    terms = []
    for _ in range(count):
        weight = int(rng.integers(0, min(max_weight, n) + 1))
        factors = tuple((int(q), "XYZ"[rng.integers(3)]) for q in rng.choice(n, size=weight, replace=False))
        terms.append(PauliTerm(complex(rng.normal(), rng.normal() * (weight == 0)), factors))
    return terms


def random_vector(rng, n):
    return rng.normal(size=2**n) + 1j * rng.normal(size=2**n)


def schmidt_values(vector, n, bond):
    # Rows: qubits bond+1 ... n-1, columns: qubits 0 ... bond.
    return np.linalg.svd(vector.reshape(2 ** (n - bond - 1), 2 ** (bond + 1)), compute_uv=False)


class TestAgreementWithTheStateVector:
    @pytest.mark.parametrize("n, gates", [(1, 12), (2, 30), (5, 80), (9, 120), (13, 90)])
    def test_state_expectation_overlap_and_schmidt_values(self, n, gates):
        rng = np.random.default_rng(n)
        first, second = random_circuit(rng, n, gates), random_circuit(rng, n, gates)
        state = first.execute().state
        mps = first.execute(backend="mps", cutoff=0.0).mps
        np.testing.assert_allclose(mps.to_dense(), state, atol=1e-10)
        assert mps.norm() == pytest.approx(1.0, abs=1e-12)

        terms = random_terms(rng, n, 200)
        assert abs(mps.expectation(terms) - hamiltonian_expectation(state, terms, n)) < 1e-10 * len(terms)

        # The second circuit continued from the first one's MPS, and the overlap of two MPS.
        combined = Circuit(n)
        for op in list(first) + list(second):
            getattr(combined, op.name)(*op.params, *op.qubits)
        continued = second.execute(backend="mps", initial=mps, cutoff=0.0).mps
        np.testing.assert_allclose(continued.to_dense(), combined.execute().state, atol=1e-10)
        other = second.execute(backend="mps", cutoff=0.0).mps
        assert abs(mps.overlap(other) - np.vdot(state, second.execute().state)) < 1e-10

        # With the default cutoff the bonds are the numerical Schmidt ranks.
        rounded = first.execute(backend="mps").mps
        for bond in range(n - 1):
            exact = schmidt_values(state, n, bond)
            values = rounded.schmidt_values(bond)
            assert len(values) == rounded.bond_dimensions[bond] == np.sum(exact > 1e-10)
            np.testing.assert_allclose(values, exact[: len(values)], atol=1e-10)

    def test_unnormalised_vector_round_trip_and_tensors(self):
        rng = np.random.default_rng(11)
        vector = 3.0 * random_vector(rng, 7)
        mps = MPS.from_dense(vector, cutoff=0.0)
        np.testing.assert_allclose(mps.to_dense(), vector, atol=1e-12)
        assert mps.norm() == pytest.approx(np.linalg.norm(vector))
        assert mps.bond_dimensions == [2, 4, 8, 8, 4, 2]
        tensors = mps.tensors
        assert [t.shape for t in tensors] == [
            (1, 2, 2),
            (2, 2, 4),
            (4, 2, 8),
            (8, 2, 8),
            (8, 2, 4),
            (4, 2, 2),
            (2, 2, 1),
        ]
        # Right-isometric after the first site, which carries the norm.
        for t in tensors[1:]:
            matrix = t.reshape(t.shape[0], -1)
            np.testing.assert_allclose(matrix @ matrix.conj().T, np.eye(t.shape[0]), atol=1e-12)
        np.testing.assert_allclose(MPS.from_tensors(tensors).to_dense(), vector, atol=1e-12)
        # A product state keeps bond 1 everywhere; the zero-amplitude structure of GHZ gives bond 2.
        product = np.kron(np.kron([0.6, 0.8j], [1, 0]), [np.sqrt(0.5), np.sqrt(0.5)])
        assert MPS.from_dense(product).bond_dimensions == [1, 1]
        ghz = np.zeros(2**6)
        ghz[[0, -1]] = np.sqrt(0.5)
        assert MPS.from_dense(ghz).bond_dimensions == [2] * 5

    def test_pickle_and_copies_keep_the_state_exactly(self):
        import copy
        import pickle

        mps = random_circuit(np.random.default_rng(12), 7, 80).execute(backend="mps", max_bond=3).mps
        restored = pickle.loads(pickle.dumps(mps))
        np.testing.assert_array_equal(restored.to_dense(), mps.to_dense())
        assert restored.discarded_weight == mps.discarded_weight > 0
        np.testing.assert_array_equal(restored.schmidt_values(3), mps.schmidt_values(3))
        assert copy.deepcopy(mps) is mps and copy.copy(mps) is mps

    def test_expectation_in_several_passes_equals_one_pass(self):
        rng = np.random.default_rng(5)
        mps = random_circuit(rng, 10, 150).execute(backend="mps").mps
        terms = random_terms(rng, 10, 300, max_weight=6)
        one_pass = _native.mps_expectation(mps._data, terms)
        several = _native.mps_expectation(mps._data, terms, memory=4096)
        assert several == pytest.approx(one_pass, abs=1e-12)

    def test_a_hundred_qubit_ghz_state_through_distant_gates(self):
        circuit = Circuit(100)
        circuit.h(0)
        for q in range(1, 100):
            circuit.cx(0, q)
        mps = circuit.execute(backend="mps").mps
        assert mps.bond_dimensions == [2] * 99 and mps.discarded_weight == 0.0
        assert mps.norm() == pytest.approx(1.0)
        assert mps.expectation(
            [PauliTerm(1.0, ((0, "Z"), (99, "Z"))), PauliTerm(2.0, tuple((q, "X") for q in range(100)))]
        ) == pytest.approx(3.0)
        outcomes, counts = mps.sample(1000, 3, x_mask=1 << 99)
        assert counts.sum() == 1000 and outcomes.dtype == object
        assert set(outcomes) <= {0, 1 << 99, (1 << 99) - 1, (1 << 100) - 1}


class TestSampling:
    @pytest.mark.parametrize("x_mask, y_mask", [(0, 0), (0b100101, 0b010010)])
    def test_counts_within_five_standard_errors(self, x_mask, y_mask):
        rng = np.random.default_rng(8)
        circuit = random_circuit(rng, 6, 60)
        mps = circuit.execute(backend="mps").mps
        rotated = Circuit(6)
        for op in circuit:
            getattr(rotated, op.name)(*op.params, *op.qubits)
        for q in range(6):
            if (y_mask >> q) & 1:
                rotated.sdg(q)
            if ((x_mask | y_mask) >> q) & 1:
                rotated.h(q)
        probabilities = np.abs(rotated.execute().state) ** 2
        shots = 40000
        outcomes, counts = mps.sample(shots, 2024, x_mask=x_mask, y_mask=y_mask)
        assert outcomes.dtype == np.uint64 and counts.dtype == np.int64
        assert np.all(np.diff(outcomes.astype(np.int64)) > 0) and counts.sum() == shots
        observed = np.zeros(64)
        observed[outcomes.astype(np.int64)] = counts
        assert np.all(observed[probabilities == 0] == 0)
        error = np.sqrt(shots * probabilities * (1 - probabilities))
        assert np.all(np.abs(observed - shots * probabilities) <= 5 * error + 1e-9)

    def test_same_seed_same_counts(self):
        mps = random_circuit(np.random.default_rng(1), 12, 100).execute(backend="mps").mps
        first, again, other = mps.sample(500, 77), mps.sample(500, 77), mps.sample(500, 78)
        np.testing.assert_array_equal(first[0], again[0])
        np.testing.assert_array_equal(first[1], again[1])
        assert not (np.array_equal(first[0], other[0]) and np.array_equal(first[1], other[1]))
        assert [len(a) for a in mps.sample(0, 1)] == [0, 0]

    def test_shots_beyond_one_chunk_are_merged(self):
        circuit = Circuit(2)
        circuit.ry(1.0, 0)
        circuit.cx(0, 1)
        outcomes, counts = circuit.execute(backend="mps").mps.sample(2_000_000, 9)
        assert outcomes.tolist() == [0, 3] and counts.sum() == 2_000_000
        p = np.sin(0.5) ** 2
        assert abs(counts[1] - 2e6 * p) < 5 * np.sqrt(2e6 * p * (1 - p))


class TestTruncation:
    def test_discarded_weight_is_one_minus_the_fidelity(self):
        rng = np.random.default_rng(3)
        vector = random_vector(rng, 4)
        vector /= np.linalg.norm(vector)
        truncated = MPS.from_dense(vector, max_bond=3)  # only the middle bond (rank 4) is cut
        assert truncated.bond_dimensions == [2, 3, 2]
        assert truncated.norm() == pytest.approx(1.0)
        fidelity = abs(np.vdot(truncated.to_dense(), vector)) ** 2
        assert truncated.discarded_weight == pytest.approx(1 - fidelity, abs=1e-13)
        assert truncated.discarded_weight == pytest.approx(schmidt_values(vector, 4, 1)[3] ** 2, abs=1e-13)

    def test_truncated_circuit_keeps_its_bound_and_books_its_losses(self):
        rng = np.random.default_rng(4)
        circuit = random_circuit(rng, 10, 200)
        exact = circuit.execute(backend="mps", cutoff=0.0).mps
        capped = circuit.execute(backend="mps", max_bond=4).mps
        assert max(capped.bond_dimensions) <= 4 < max(exact.bond_dimensions)
        assert capped.norm() == pytest.approx(1.0)
        infidelity = 1 - abs(capped.overlap(exact)) ** 2
        # The truncations of separate gates compose as 1 - prod(1 - f): an estimate of the
        # infidelity (exact only where the kept parts nest, as in one sweep), and a fraction.
        assert 0.01 < capped.discarded_weight <= 1.0 and infidelity > 0.01
        # One more step with the same state as start: the weight accumulates.
        more = Circuit(10)
        more.cx(0, 9)
        assert more.execute(backend="mps", initial=capped, max_bond=4).mps.discarded_weight >= capped.discarded_weight

    def test_truncated_is_the_best_cut_of_a_canonical_state(self):
        rng = np.random.default_rng(8)
        vector = random_vector(rng, 6)
        state = MPS.from_dense(vector, cutoff=0.0)  # bonds 2, 4, 8, 4, 2; norm not 1
        capped = state.truncated(max_bond=4)
        assert capped.bond_dimensions == [2, 4, 4, 4, 2]
        assert capped.norm() == pytest.approx(state.norm())
        # Only the middle bond is cut, and by its own Schmidt values: the best rank-4 approximation.
        weights = schmidt_values(vector, 6, 2) ** 2
        assert capped.discarded_weight == pytest.approx(np.sum(weights[4:]) / np.sum(weights), rel=1e-10)
        assert capped.truncated(max_bond=2).discarded_weight > capped.discarded_weight
        assert state.truncated(max_bond=8).to_dense() == pytest.approx(state.to_dense(), abs=1e-14)

    def test_default_cutoff_drops_rounding_only(self):
        rng = np.random.default_rng(6)
        circuit = random_circuit(rng, 8, 120)
        mps = circuit.execute(backend="mps").mps
        np.testing.assert_allclose(mps.to_dense(), circuit.execute().state, atol=1e-10)
        assert mps.discarded_weight < 1e-20


class TestErrors:
    def test_qubits_and_bonds_out_of_range(self):
        mps = MPS(3)
        with pytest.raises(ValueError, match=r"acts outside the 3 qubits of the MPS"):
            mps.expectation([PauliTerm(1.0, ((3, "Z"),))])
        for bond in (-1, 2):
            with pytest.raises(ValueError, match=rf"bond {bond} out of range for an MPS of 3 qubits \(bonds 0 to 1\)"):
                mps.schmidt_values(bond)
        with pytest.raises(ValueError, match="x_mask must only mark qubits below n_qubits = 3"):
            mps.sample(10, 1, x_mask=0b1000)
        with pytest.raises(ValueError, match="must not mark the same qubit"):
            mps.sample(10, 1, x_mask=0b10, y_mask=0b11)

    def test_sizes(self):
        with pytest.raises(ValueError, match="at most 30 qubits; this MPS has 31"):
            MPS(31).to_dense()
        for n in (0, _native.MAX_MPS_QUBITS + 1):
            with pytest.raises(ValueError, match="n_qubits must be between 1 and"):
                MPS(n)
        with pytest.raises(ValueError, match=r"2\*\*n amplitudes"):
            MPS.from_dense(np.ones(6))
        with pytest.raises(ValueError, match="zero or non-finite norm"):
            MPS.from_dense(np.zeros(8))
        with pytest.raises(ValueError, match="site 0 has right bond 2 but site 1 has left bond 3"):
            MPS.from_tensors([np.ones((1, 2, 2)), np.ones((3, 2, 1))])
        with pytest.raises(ValueError, match="outer bonds"):
            MPS.from_tensors([np.ones((2, 2, 1))])

    def test_settings(self):
        circuit = Circuit(2)
        circuit.cx(0, 1)
        with pytest.raises(ValueError, match="initial has 3 qubits but the circuit acts on 2"):
            circuit.execute(backend="mps", initial=MPS(3))
        with pytest.raises(TypeError, match="initial must be a brimvale MPS"):
            circuit.execute(backend="mps", initial=np.zeros(4))
        with pytest.raises(ValueError, match="apply to backend='mps' only"):
            circuit.execute(max_bond=4)
        with pytest.raises(ValueError, match="complex128"):
            circuit.execute(backend="mps", dtype=np.complex64)
        for kwargs in ({"max_bond": 0}, {"cutoff": -1e-3}, {"cutoff": 1.0}):
            with pytest.raises(ValueError):
                circuit.execute(backend="mps", **kwargs)
        with pytest.raises(ValueError, match="shots must be non-negative"):
            MPS(2).sample(-1, 0)
        with pytest.raises(ValueError, match="seed must be an integer between 0 and 2"):
            MPS(2).sample(1, 1 << 64)
        assert circuit.execute(backend="mps").state is None
