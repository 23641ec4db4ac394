"""backend="mps": the circuit's state held as an MPS, measured like the state vector."""

import json

import numpy as np
import pytest
from measurement_support import random_circuit, random_hamiltonian

from brimvale import Circuit
from brimvale_chemistry.measurement import measurement_QASM
from brimvale_chemistry.utils import PauliTerm


@pytest.mark.parametrize("n_qubits, seed", [(5, 3), (8, 4)])
def test_same_files_and_exact_energy_as_the_state_vector_and_a_consistent_estimate(tmp_path, capsys, n_qubits, seed):
    circuit = random_circuit(n_qubits, 80, seed)
    terms = random_hamiltonian(n_qubits, 40, seed)
    dense = measurement_QASM(circuit, terms, n_qubits, shots=3000, seed=seed, workdir=tmp_path / "dense")
    compact = measurement_QASM(circuit, terms, n_qubits, shots=3000, seed=seed, workdir=tmp_path / "mps", backend="mps")
    assert compact.exact_energy == pytest.approx(dense.exact_energy, abs=1e-10)
    assert [f.read_bytes() for f in compact.files] == [f.read_bytes() for f in dense.files]
    spread = np.hypot(dense.standard_error, compact.standard_error)
    assert abs(compact.energy - dense.energy) < 5 * spread
    assert abs(compact.energy - compact.exact_energy) < 5 * compact.standard_error
    assert all(sum(group.values()) == 3000 and all(len(key) == n_qubits for key in group) for group in compact.counts)
    # Every group's mean agrees within its own sampling spread (variance per shot / shots, both runs).
    first, second = (json.loads(r.summary_path.read_text()) for r in (dense, compact))
    for g, h in zip(first["groups"], second["groups"]):
        sigma = np.sqrt(((g["variance"] or 0.0) + (h["variance"] or 0.0)) / 3000)
        assert abs(g["mean"] - h["mean"]) <= 5 * sigma + 1e-12
    assert second["backend"] == "mps"
    ignored = {"backend", "energy", "standard_error", "exact_energy", "groups"}
    assert {k: v for k, v in first.items() if k not in ignored} == {k: v for k, v in second.items() if k not in ignored}
    assert [{k: v for k, v in g.items() if k in ("file", "sha256", "bases")} for g in first["groups"]] == [
        {k: v for k, v in g.items() if k in ("file", "sha256", "bases")} for g in second["groups"]
    ]
    assert capsys.readouterr().out.count("[4/4] Measurement") == 2


def test_circuits_wider_than_a_state_vector(tmp_path, capsys):
    # 70 qubits: outcomes beyond 64 bits are Python integers; this product state is an eigenstate of every term.
    circuit = Circuit(70)
    circuit.x(68)
    circuit.h(66)
    circuit.x(3)
    terms = [
        PauliTerm.from_string(0.5, "Z68"),
        PauliTerm.from_string(-0.25, "X66 Z3"),
        PauliTerm.from_string(2.0, "Z0 Z69"),
        PauliTerm(1.0),
    ]
    result = measurement_QASM(circuit, terms, 70, shots=50, seed=1, workdir=tmp_path, backend="mps")
    assert result.energy == pytest.approx(-0.5 + 0.25 + 2.0 + 1.0, abs=1e-12)
    assert result.exact_energy == pytest.approx(result.energy, abs=1e-12)
    assert result.standard_error == 0.0
    # H|0> read in the X basis gives 0: every shot of every group is the same outcome.
    assert result.counts == [{format((1 << 68) | (1 << 3), "070b"): 50}] * result.n_groups


def test_a_state_vector_backend_refuses_a_circuit_too_wide_for_it_before_any_output(tmp_path, capsys):
    circuit = Circuit(31)
    circuit.h(30)
    with pytest.raises(
        ValueError,
        match=r"^backend='numpy' holds the state as 2\*\*n amplitudes, for at most 30 "
        r"qubits; this circuit has 31: use backend='mps'$",
    ):
        measurement_QASM(circuit, [PauliTerm.from_string(1.0, "X30")], 31, shots=10, seed=1, workdir=tmp_path)
    assert capsys.readouterr().out == "" and not any(tmp_path.iterdir())


def test_max_bond_caps_the_circuits_mps_and_is_refused_elsewhere(tmp_path, capsys):
    circuit = random_circuit(8, 80, 5)
    terms = random_hamiltonian(8, 40, 5)
    capped = circuit.execute(backend="mps", max_bond=2).mps
    with pytest.warns(UserWarning, match="reached bond dimension 2 and discarded a weight of"):
        result = measurement_QASM(
            circuit, terms, 8, shots=200, seed=1, workdir=tmp_path / "capped", backend="mps", max_bond=2
        )
    assert result.exact_energy == pytest.approx(capped.expectation(terms).real / capped.norm() ** 2, abs=1e-12)
    for options, message in [
        ({"max_bond": 2}, "^max_bond applies to backend='mps' only$"),
        ({"max_bond": 0, "backend": "mps"}, "^max_bond must be at least 1 or None, got 0$"),
    ]:
        with pytest.raises(ValueError, match=message):
            measurement_QASM(circuit, terms, 8, shots=10, seed=1, workdir=tmp_path / "refused", **options)
    assert "[4/4] Measurement" in capsys.readouterr().out and not (tmp_path / "refused").exists()
