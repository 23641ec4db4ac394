"""A total shot budget: its allocation, the estimate and standard error it gives, and refused inputs."""

from __future__ import annotations

import contextlib
import io
import json
import math

import numpy as np
import pytest
from measurement_support import random_circuit, random_hamiltonian, tree_snapshot

from brimvale_chemistry.measurement import measurement_QASM
from brimvale_chemistry.measurement.allocation import allocate_shots


def test_allocation_adds_up_and_follows_the_weights():
    rng = np.random.default_rng(4)
    for total, weights in [(1000, list(rng.exponential(size=17))), (99, [0.0, 0.0, 0.0]), (40, [5.0, 0.0, 1.0])]:
        counts = allocate_shots(total, weights)
        free, weight_sum = total - 2 * len(weights), math.fsum(weights)
        shares = [free * w / weight_sum if weight_sum else free / len(weights) for w in weights]
        assert sum(counts) == total and min(counts) >= 2
        assert all(abs(c - 2 - s) < 1 for c, s in zip(counts, shares))


def test_budget_spreads_the_shots_and_weights_the_standard_error(tmp_path):
    terms = random_hamiltonian(5, 40, seed=6)
    circuit = random_circuit(5, 30, seed=6)
    with contextlib.redirect_stdout(io.StringIO()) as out:
        result = measurement_QASM(circuit, terms, 5, seed=1, workdir=tmp_path, total_shots=30_000)
    summary = json.loads((tmp_path / "measurement_summary.json").read_text())
    shots = [g["shots"] for g in summary["groups"]]
    assert shots == result.group_shots and sum(shots) == 30_000 == summary["total_shots"] == result.shots
    assert summary["shots_per_group"] is None and "Total shots           : 30,000, by weight" in out.getvalue()
    for group, n in zip(summary["groups"], shots):
        assert sum(group["counts"].values()) == n
    expected = math.sqrt(sum(g["variance"] / n for g, n in zip(summary["groups"], shots)))
    assert result.standard_error == pytest.approx(expected, rel=1e-12)
    assert abs(result.energy - result.exact_energy) < 5 * result.standard_error


@pytest.mark.parametrize(
    "settings, error, message",
    [
        ({"total_shots": 0}, ValueError, "total_shots must be a positive integer or None, got 0"),
        ({"total_shots": 3}, ValueError, "total_shots is 3, too few for"),
        ({"grouping": "pauli"}, ValueError, "grouping must be one of: 'qubit-wise', 'basis-rotation'"),
        ({"grouping": "basis-rotation"}, ValueError, "grouping='basis-rotation' needs integrals"),
        ({"integrals": (0.0, np.eye(2), np.zeros((2,) * 4))}, ValueError, "integrals apply to grouping="),
        (
            {"grouping": "basis-rotation", "integrals": (0.0, np.eye(3), np.zeros((3,) * 4))},
            ValueError,
            "integrals describe 3 orbitals, 6 qubits; the circuit has 4",
        ),
        (
            {"grouping": "basis-rotation", "integrals": (0.0, np.eye(2), np.arange(16.0).reshape((2,) * 4))},
            ValueError,
            "two_body must have the symmetry of integrals over real orbitals",
        ),
    ],
)
def test_refused_before_anything_is_written(tmp_path, settings, error, message):
    terms = random_hamiltonian(4, 10, seed=2)
    with pytest.raises(error, match=message.replace("(", r"\(").replace(")", r"\)")):
        measurement_QASM(random_circuit(4, 5, seed=2), terms, 4, workdir=tmp_path / "out", **settings)
    assert tree_snapshot(tmp_path) == {}


def test_reference_spread_is_the_determinants_exact_spread():
    """Each group's standard deviation on a determinant, from the factor alone, against the rotated state vector."""
    from brimvale import Circuit
    from brimvale_chemistry.measurement.allocation import reference_spread
    from brimvale_chemistry.measurement.factorisation import double_factorisation
    from brimvale_chemistry.measurement.givens import append_gates
    from brimvale_chemistry.measurement.rotation_groups import rotation_groups

    rng = np.random.default_rng(8)
    n = 3
    one = rng.normal(size=(n, n))
    vectors = rng.normal(size=(n * n, 4))
    two = (vectors @ vectors.T).reshape(n, n, n, n)
    two = two + two.transpose(1, 0, 2, 3) + two.transpose(0, 1, 3, 2) + two.transpose(1, 0, 3, 2)
    outcomes = np.arange(4**n, dtype=np.uint64)
    for occupations in (np.array([2.0, 0.0, 0.0]), np.array([2.0, 1.0, 0.0])):
        groups = rotation_groups(double_factorisation(0.3, one + one.T, two, 0.0, occupations))
        assert len(groups) > 3
        for group in groups:
            circuit = Circuit(2 * n)
            for p, occupation in enumerate(occupations):
                for spin in range(int(occupation)):
                    circuit.x(p + spin * n)
            append_gates(circuit, list(group.network), n)
            probabilities = np.abs(circuit.execute().state) ** 2
            values = group.values(outcomes)
            spread = math.sqrt(probabilities @ (values - probabilities @ values) ** 2)
            assert reference_spread(group.factor, occupations) == pytest.approx(spread, rel=1e-9, abs=1e-12)
