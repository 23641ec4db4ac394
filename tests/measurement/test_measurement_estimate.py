"""The stage's energy estimate, its standard error, seeding and what it reports."""

import json
import math
import re

import numpy as np
import pytest
from measurement_support import random_circuit, random_hamiltonian

from brimvale import Circuit
from brimvale_chemistry.measurement import MeasurementResult, measurement_QASM
from brimvale_chemistry.utils import PauliTerm, hamiltonian_expectation


def run(circuit, terms, workdir, **kwargs):
    kwargs = {"shots": 4000, "seed": 7, "workdir": workdir} | kwargs
    return measurement_QASM(circuit, terms, circuit.num_qubits, **kwargs)


class TestEstimate:
    @pytest.mark.parametrize("n_qubits", [4, 8])
    @pytest.mark.parametrize("seed", [1, 2, 3])
    def test_estimate_within_four_standard_errors(self, tmp_path, capsys, n_qubits, seed):
        circuit = random_circuit(n_qubits, 60, seed)
        terms = random_hamiltonian(n_qubits, 40, seed)
        result = run(circuit, terms, tmp_path, seed=seed)
        exact = hamiltonian_expectation(circuit.execute().state, terms, n_qubits).real
        assert result.exact_energy == pytest.approx(exact, abs=1e-12)
        assert 0 < result.standard_error < 0.5
        assert abs(result.energy - exact) < 4 * result.standard_error

    def test_standard_error_is_calibrated(self, tmp_path, capsys):
        # Over many seeds, (estimate - exact) / standard error must look standard normal.
        circuit = random_circuit(3, 30, 5)
        terms = random_hamiltonian(3, 12, 5)
        scores = []
        for seed in range(150):
            result = run(circuit, terms, tmp_path, shots=300, seed=seed)
            scores.append((result.energy - result.exact_energy) / result.standard_error)
        assert abs(np.mean(scores)) < 0.4
        assert 0.75 < np.std(scores) < 1.3

    def test_eigenstate_has_no_spread(self, tmp_path, capsys):
        circuit = Circuit(2)
        circuit.h(0)
        circuit.cx(0, 1)  # Bell state: XX = ZZ = +1, YY = -1
        terms = [
            PauliTerm.from_string(0.5, "X0 X1"),
            PauliTerm.from_string(0.25, "Y0 Y1"),
            PauliTerm.from_string(-1.0, "Z0 Z1"),
            PauliTerm(0.125),
        ]
        result = run(circuit, terms, tmp_path)
        assert result.energy == pytest.approx(0.5 - 0.25 - 1.0 + 0.125, abs=1e-12)
        assert result.standard_error == 0.0 and result.identity_energy == 0.125

    def test_identity_only_hamiltonian_needs_no_program(self, tmp_path, capsys):
        result = run(Circuit(2), [PauliTerm(-0.75)], tmp_path)
        assert (result.energy, result.standard_error, result.n_groups, result.files) == (-0.75, 0.0, 0, [])
        assert json.loads(result.summary_path.read_text())["energy"] == -0.75

    def test_single_shot_leaves_the_error_unknown(self, tmp_path, capsys):
        result = run(Circuit(1), [PauliTerm.from_string(1.0, "Z0")], tmp_path, shots=1)
        assert result.energy == 1.0 and math.isnan(result.standard_error)
        assert json.loads(result.summary_path.read_text())["standard_error"] is None
        assert "n/a" in capsys.readouterr().out

    def test_complex64_simulation(self, tmp_path, capsys):
        circuit = random_circuit(5, 30, 9)
        terms = random_hamiltonian(5, 20, 9)
        single = run(circuit, terms, tmp_path / "a", dtype=np.complex64)
        double = run(circuit, terms, tmp_path / "b")
        assert single.exact_energy == pytest.approx(double.exact_energy, abs=1e-5)
        assert abs(single.energy - single.exact_energy) < 4 * single.standard_error


class TestSeeding:
    def test_same_seed_gives_identical_counts_and_files(self, tmp_path, capsys):
        circuit, terms = random_circuit(5, 40, 4), random_hamiltonian(5, 30, 4)
        first = run(circuit, terms, tmp_path / "first", seed=2077)
        second = run(circuit, terms, tmp_path / "second", seed=2077)
        assert first.counts == second.counts and first.energy == second.energy
        for a, b in zip(first.files + [first.summary_path], second.files + [second.summary_path]):
            assert a.read_bytes() == b.read_bytes()

    def test_other_seed_gives_other_counts(self, tmp_path, capsys):
        circuit, terms = random_circuit(5, 40, 4), random_hamiltonian(5, 30, 4)
        assert run(circuit, terms, tmp_path, seed=1).counts != run(circuit, terms, tmp_path, seed=2).counts

    def test_fresh_entropy_is_reported_and_replays(self, tmp_path, capsys):
        circuit, terms = random_circuit(4, 30, 6), random_hamiltonian(4, 20, 6)
        first = run(circuit, terms, tmp_path, seed=None)
        second = run(circuit, terms, tmp_path, seed=None)
        assert first.seed_entropy != second.seed_entropy and first.counts != second.counts
        replay = run(circuit, terms, tmp_path, seed=first.seed_entropy)
        assert replay.counts == first.counts

    def test_numpy_and_float_arguments_convert_like_integers(self, tmp_path, capsys):
        circuit, terms = random_circuit(3, 10, 1), random_hamiltonian(3, 5, 1)
        reference = run(circuit, terms, tmp_path, shots=20, seed=3)
        converted = measurement_QASM(circuit, terms, np.int64(3), shots=20.9, seed=np.uint8(3), workdir=tmp_path)
        assert converted.shots == 20 and converted.counts == reference.counts


class TestReport:
    def test_summary_agrees_with_result(self, tmp_path, capsys):
        circuit, terms = random_circuit(4, 30, 8), random_hamiltonian(4, 25, 8)
        result = run(circuit, terms, tmp_path, shots=500)
        summary = json.loads(result.summary_path.read_text())
        assert isinstance(result, MeasurementResult)
        assert summary["energy"] == result.energy and summary["exact_energy"] == result.exact_energy
        assert [g["file"] for g in summary["groups"]] == [str(p.relative_to(tmp_path)) for p in result.files]
        assert sorted(p.name for p in result.files) == [p.name for p in result.files]
        recomputed = summary["identity_energy"]
        for group, counts in zip(summary["groups"], result.counts):
            assert group["counts"] == counts and sum(counts.values()) == 500
            assert all(len(bits) == 4 for bits in counts)
            recomputed += sum(t["coefficient"] * t["mean"] for t in group["terms"])
            # each term's mean re-derived from the counts with the documented bit order
            for term in group["terms"]:
                qubits = [int(f[1:]) for f in term["pauli"].split()]
                parity_sum = sum(c * (-1) ** sum(int(bits[-1 - q]) for q in qubits) for bits, c in counts.items())
                assert term["mean"] == pytest.approx(parity_sum / 500, abs=1e-12)
        assert recomputed == pytest.approx(result.energy, abs=1e-9)

    def test_console_lines(self, tmp_path, capsys):
        result = run(random_circuit(3, 10, 2), random_hamiltonian(3, 8, 2), tmp_path)
        lines = capsys.readouterr().out.splitlines()
        assert lines[0] == "[4/4] Measurement"
        labels = [re.fullmatch(r"  (.{22}): (.+)", line).group(1).rstrip() for line in lines[1:]]
        assert labels == [
            "Pauli terms",
            "Groups",
            "Shots per group",
            "Files written",
            "Estimated energy",
            "Exact energy",
        ]
        assert lines[2].endswith(f": {result.n_groups}") and lines[3].endswith(": 4000")
        assert f"{result.energy:.8f} ± {result.standard_error:.8f} Hartree" in lines[5]
        assert lines[6].endswith(f"{result.exact_energy:.8f} Hartree")

    def test_workflow_call_with_relative_and_default_workdir(self, tmp_path, capsys, monkeypatch):
        from pathlib import Path

        monkeypatch.chdir(tmp_path)
        circuit, terms = random_circuit(2, 5, 3), random_hamiltonian(2, 4, 3)
        result = measurement_QASM(
            circuit,
            terms,
            2,
            shots=10,
            seed=None,
            workdir=Path("out"),
            backend="numpy",
            device="cpu",
            dtype=np.complex128,
        )
        assert (tmp_path / "out" / "measurement_summary.json").is_file() and result.files[0].exists()
        default = measurement_QASM(circuit, terms, 2, shots=10)
        assert default.summary_path.parent == tmp_path
