"""Bad input is refused before anything is written; only this stage's own files are ever replaced or removed."""

import json
import os

import numpy as np
import pytest
from measurement_support import random_circuit, random_hamiltonian, tree_snapshot

from brimvale_chemistry.measurement import measurement_QASM
from brimvale_chemistry.utils import PauliTerm

N = 3
CIRCUIT = random_circuit(N, 15, 1)
TERMS = random_hamiltonian(N, 10, 1)


def call(directory, **changes):
    arguments = {
        "circuit": CIRCUIT,
        "pauli_terms": TERMS,
        "n_qubits": N,
        "shots": 100,
        "seed": 1,
        "workdir": directory,
    } | changes
    return measurement_QASM(
        arguments.pop("circuit"), arguments.pop("pauli_terms"), arguments.pop("n_qubits"), **arguments
    )


BAD_VALUES = [
    ({"shots": 0}, "shots must be at least 1, got 0"),
    ({"shots": -5}, "shots must be at least 1, got -5"),
    ({"shots": 0.5}, "shots must be at least 1, got 0"),
    ({"n_qubits": 4}, "n_qubits is 4 but the circuit acts on 3 qubits"),
    ({"pauli_terms": TERMS + [PauliTerm.from_string(0.1, "Z0 X3")]}, "acts on qubit 3, outside the 3 qubits"),
    ({"pauli_terms": [PauliTerm.from_string(0.5j, "X0 Y1")]}, "must form a Hermitian operator"),
    ({"seed": -1}, "seed must be a non-negative integer or None, got -1"),
    ({"backend": "cuda"}, "backend must be one of: 'numpy', 'mps'; got 'cuda'"),
    ({"backend": "mps", "dtype": np.complex64}, "backend='mps' computes in numpy.complex128; got numpy.complex64"),
    ({"device": "gpu"}, "device must be one of: 'cpu'; got 'gpu'"),
    ({"dtype": np.float64}, "dtype must be one of: numpy.complex128, numpy.complex64"),
    ({"dtype": "no such type"}, "dtype must be one of: numpy.complex128, numpy.complex64"),
]

BAD_TYPES = [
    ({"shots": "many"}, "Argument 'shots' has incorrect type (expected int, got str)"),
    ({"n_qubits": None}, "Argument 'n_qubits' has incorrect type (expected int, got NoneType)"),
    ({"seed": "2077"}, "Argument 'seed' has incorrect type (expected int, got str)"),
    ({"backend": None}, "Argument 'backend' has incorrect type (expected str, got NoneType)"),
    ({"device": b"cpu"}, "Argument 'device' has incorrect type (expected str, got bytes)"),
    ({"circuit": "OPENQASM 2.0;"}, "circuit must be a brimvale Circuit, got str"),
    ({"pauli_terms": [("Z0", 1.0)]}, "pauli_terms must hold PauliTerm objects, got tuple"),
    ({"pauli_terms": 3}, "pauli_terms must be an iterable of PauliTerm, got int"),
    ({"workdir": 12}, "workdir must be a path, a string or None, got int"),
]


@pytest.fixture
def populated(tmp_path):
    """A working directory that already holds a user's files."""
    (tmp_path / "notes.txt").write_text("keep me")
    (tmp_path / "qasm").mkdir()
    (tmp_path / "qasm" / "mine.qasm").write_text("OPENQASM 2.0;\n")
    return tmp_path


class TestRefusedBeforeWriting:
    @pytest.mark.parametrize("changes, message", BAD_VALUES)
    def test_bad_value(self, populated, capsys, changes, message):
        before = tree_snapshot(populated)
        with pytest.raises(ValueError) as error:
            call(populated, **changes)
        assert message in str(error.value)
        assert tree_snapshot(populated) == before and capsys.readouterr().out == ""

    @pytest.mark.parametrize("changes, message", BAD_TYPES)
    def test_bad_type(self, populated, capsys, changes, message):
        before = tree_snapshot(populated)
        with pytest.raises(TypeError) as error:
            call(populated, **changes)
        assert str(error.value) == message
        assert tree_snapshot(populated) == before and capsys.readouterr().out == ""

    def test_missing_workdir_is_not_created_on_bad_input(self, tmp_path, capsys):
        with pytest.raises(ValueError):
            call(tmp_path / "new" / "dir", shots=0)
        assert not (tmp_path / "new").exists()

    def test_workdir_that_is_a_file(self, tmp_path, capsys):
        target = tmp_path / "output"
        target.write_text("data")
        with pytest.raises(ValueError, match="exists and is not a directory"):
            call(target)
        with pytest.raises(ValueError, match="cannot be created: .* is not a directory"):
            call(target / "below")
        assert target.read_text() == "data" and sorted(os.listdir(tmp_path)) == ["output"]

    def test_qasm_folder_that_is_a_file(self, tmp_path, capsys):
        (tmp_path / "qasm").write_text("not a folder")
        with pytest.raises(ValueError, match="qasm' exists and is not a directory"):
            call(tmp_path)
        assert sorted(os.listdir(tmp_path)) == ["qasm"]

    def test_summary_name_taken_by_a_directory(self, tmp_path, capsys):
        (tmp_path / "measurement_summary.json").mkdir()
        with pytest.raises(ValueError, match="is a directory; this stage writes a file of that name"):
            call(tmp_path)
        assert not (tmp_path / "qasm").exists()


class TestOwnFilesOnly:
    def test_user_files_survive_a_run(self, populated, capsys):
        result = call(populated)
        assert (populated / "notes.txt").read_text() == "keep me"
        assert (populated / "qasm" / "mine.qasm").read_text() == "OPENQASM 2.0;\n"
        written = {str(p.relative_to(populated)) for p in result.files} | {"measurement_summary.json"}
        assert set(tree_snapshot(populated)) == written | {"notes.txt", "qasm", "qasm/mine.qasm"}

    def test_rerun_overwrites_its_own_files(self, tmp_path, capsys):
        first = call(tmp_path, seed=1)
        second = call(tmp_path, seed=2)
        assert first.files == second.files
        summary = json.loads(second.summary_path.read_text())
        assert summary["seed"] == 2 and [g["counts"] for g in summary["groups"]] == second.counts

    def test_stale_group_files_of_a_larger_run_are_removed(self, populated, capsys):
        larger = call(populated)
        assert larger.n_groups > 2
        smaller = call(populated, pauli_terms=[PauliTerm.from_string(1.0, "Z0"), PauliTerm.from_string(1.0, "X0")])
        assert smaller.n_groups == 2
        assert sorted(os.listdir(populated / "qasm")) == ["group_000.qasm", "group_001.qasm", "mine.qasm"]
        assert (populated / "notes.txt").exists()

    def test_edited_stale_group_file_is_kept(self, tmp_path, capsys):
        larger = call(tmp_path)
        edited = larger.files[-1]
        edited.write_text(edited.read_text() + "// my change\n")
        call(tmp_path, pauli_terms=[PauliTerm.from_string(1.0, "Z0")])
        assert edited.exists() and edited.read_text().endswith("// my change\n")
        assert larger.n_groups >= 3
        assert [p.exists() for p in larger.files] == [True] + [False] * (larger.n_groups - 2) + [True]

    def test_summary_cannot_point_deletion_elsewhere(self, tmp_path, capsys):
        victim = tmp_path / "important.txt"
        victim.write_text("precious")
        forged = {
            "format": "brimvale_chemistry.measurement/1",
            "groups": [
                {"file": "important.txt", "sha256": __import__("hashlib").sha256(b"precious").hexdigest()},
                {"file": "qasm/../important.txt", "sha256": "0" * 64},
            ],
        }
        (tmp_path / "measurement_summary.json").write_text(json.dumps(forged))
        call(tmp_path)
        assert victim.read_text() == "precious"

    def test_unreadable_summary_is_someone_elses_and_is_kept(self, tmp_path, capsys):
        larger = call(tmp_path)
        (tmp_path / "measurement_summary.json").write_text("{ not json")
        before = tree_snapshot(tmp_path)
        with pytest.raises(FileExistsError, match="measurement_summary.json exists and was not written by this stage"):
            call(tmp_path, pauli_terms=[PauliTerm.from_string(1.0, "Z0")])
        assert tree_snapshot(tmp_path) == before and all(p.exists() for p in larger.files)

    def test_no_temporary_files_are_left(self, tmp_path, capsys):
        call(tmp_path)
        assert not [p for p in tmp_path.rglob("*") if p.name.endswith(".tmp")]
