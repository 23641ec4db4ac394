"""The command line (workflow.main) and the package's entry points, with recording stage fakes."""

import importlib
import io
import os
import runpy
import subprocess
import sys
from pathlib import Path

import pytest

STAGE_ORDER = ("electronic_structure", "dmrg", "cvd_dmrg", "measurement_QASM")
QASM_LABEL = "  QASM directory        : "


@pytest.fixture
def argv(monkeypatch):
    def set_argv(*options):
        monkeypatch.setattr(sys, "argv", ["brimvale-chemistry", *options])

    return set_argv


@pytest.fixture
def molecule_calls(workflow, monkeypatch):
    """Records the keyword arguments (in order) of every Molecule the command line builds."""
    calls = []
    real = workflow.Molecule

    class RecordingMolecule(real):
        def __init__(self, **kwargs):
            calls.append(list(kwargs.items()))
            super().__init__(**kwargs)

    monkeypatch.setattr(workflow, "Molecule", RecordingMolecule)
    return calls


class TestConsoleOutput:
    def test_target_dmrg(self, workflow, stages, argv, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        argv("--target", "dmrg")
        assert workflow.main() is None
        assert capsys.readouterr().out.splitlines() == [
            "Demo: H\u2082/sto-3g CAS(2e,2o) \u2192 4 qubits",
            "[1/4] electronic_structure",
            "[2/4] dmrg",
        ]

    def test_full_run_with_defaults(self, workflow, stages, argv, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        argv()
        workflow.main()
        assert capsys.readouterr().out.splitlines() == [
            "Demo: " + workflow._DEMOS["h2"]["desc"],
            *[f"[{k}/4] {stage}" for k, stage in enumerate(STAGE_ORDER, 1)],
            QASM_LABEL + str(tmp_path.resolve()),
        ]
        assert stages.call("electronic_structure").kwargs == [("workdir", tmp_path)]
        assert dict(stages.call("cvd_dmrg").kwargs)["layers"] is None
        assert dict(stages.call("cvd_dmrg").kwargs)["seed"] == 2077
        measurement = dict(stages.call("measurement_QASM").kwargs)
        assert (measurement["shots"], measurement["seed"]) == (10000, 2077)

    @pytest.mark.parametrize("key", ["lih", "h2o-small", "h2o"])
    def test_demo_line_names_the_chosen_preset(self, workflow, stages, argv, capsys, key):
        argv("--demo", key, "--target", "electronic_structure")
        workflow.main()
        assert capsys.readouterr().out.splitlines()[0] == "Demo: " + workflow._DEMOS[key]["desc"]


class RecordingStream(io.TextIOWrapper):
    """Standard output over bytes, remembering how it was reconfigured."""

    def __init__(self, encoding, errors="strict"):
        super().__init__(io.BytesIO(), encoding=encoding, errors=errors, newline="\n")
        self.changes = []

    def reconfigure(self, **changes):
        self.changes.append(changes)
        super().reconfigure(**changes)


class TestOutputThatCannotEncodeTheText:
    @pytest.mark.parametrize(
        "encoding, errors, changes",
        [
            ("latin-1", "strict", [{"errors": "replace"}, {"errors": "strict"}]),
            ("ascii", "strict", [{"errors": "replace"}, {"errors": "strict"}]),
            # The C locale with UTF-8 mode off.
            ("ascii", "surrogateescape", [{"errors": "replace"}, {"errors": "surrogateescape"}]),
            ("utf-8", "strict", []),
        ],
    )
    def test_runs_replacing_what_it_cannot_encode_then_restores_the_stream(
        self, workflow, stages, argv, monkeypatch, encoding, errors, changes
    ):
        stream = RecordingStream(encoding, errors)
        monkeypatch.setattr(sys, "stdout", stream)
        argv("--target", "dmrg")
        workflow.main()
        stream.flush()
        demo = "Demo: H\u2082/sto-3g CAS(2e,2o) \u2192 4 qubits"
        assert stream.buffer.getvalue().decode(encoding).splitlines() == [
            demo.encode(encoding, errors="replace").decode(encoding),
            "[1/4] electronic_structure",
            "[2/4] dmrg",
        ]
        assert stream.changes == changes and stream.errors == errors

    def test_the_stream_is_restored_when_the_run_fails(self, workflow, stages, argv, monkeypatch):
        stream = RecordingStream("latin-1")
        monkeypatch.setattr(sys, "stdout", stream)
        argv("--target", "cvd")
        with pytest.raises(SystemExit):
            workflow.main()
        assert stream.errors == "strict" and stages.calls == []


class TestOptionsReachTheWorkflow:
    def test_molecule_built_from_the_preset_by_keyword(self, workflow, stages, argv, molecule_calls):
        argv("--demo", "lih", "--target", "electronic_structure")
        workflow.main()
        record = workflow._DEMOS["lih"]
        assert molecule_calls == [[(k, record[k]) for k in ("geometry", "basis", "active_occupied", "active_virtual")]]
        assert molecule_calls[0][0][1] is record["geometry"]

    def test_numeric_options_and_relative_workdir(self, workflow, stages, argv, capsys, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        argv("--shots", "50", "--layers", "3", "--seed", "9", "--workdir", "out/run")
        workflow.main()
        cvd = dict(stages.call("cvd_dmrg").kwargs)
        measurement = dict(stages.call("measurement_QASM").kwargs)
        assert (cvd["layers"], cvd["seed"]) == (3, 9)
        assert (measurement["shots"], measurement["seed"]) == (50, 9)
        assert measurement["workdir"] == Path("out/run")
        assert capsys.readouterr().out.splitlines()[-1] == QASM_LABEL + str(tmp_path.resolve() / "out/run")

    def test_nonpositive_layers_pass_the_parser(self, workflow, stages, argv):
        argv("--layers", "0", "--target", "cvd_dmrg")
        workflow.main()
        assert dict(stages.call("cvd_dmrg").kwargs)["layers"] == 0

    def test_workdir_default_taken_when_main_runs(self, workflow, stages, argv, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        argv("--target", "electronic_structure")
        workflow.main()
        assert stages.call("electronic_structure").kwargs == [("workdir", tmp_path)]


class TestParserRejections:
    @pytest.mark.parametrize(
        "options, complaint",
        [
            (["--demo", "h3"], "invalid choice: 'h3'"),
            (["--demo", "H2"], "invalid choice: 'H2'"),
            (["--target", "cvd"], "invalid choice: 'cvd'"),
            (["--layers", "2.5"], "invalid int value: '2.5'"),
            (["--shots", "many"], "invalid int value: 'many'"),
            (["--seed", "none"], "invalid int value: 'none'"),
            (["--verbose"], "unrecognized arguments: --verbose"),
        ],
    )
    def test_rejected_before_anything_runs(self, workflow, stages, argv, capsys, molecule_calls, options, complaint):
        argv(*options)
        with pytest.raises(SystemExit) as caught:
            workflow.main()
        assert caught.value.code == 2
        captured = capsys.readouterr()
        assert captured.out == "" and complaint in captured.err
        assert stages.calls == [] and molecule_calls == []

    def test_help_lists_the_options_in_order(self, workflow, stages, argv, capsys):
        argv("--help")
        with pytest.raises(SystemExit) as caught:
            workflow.main()
        assert caught.value.code == 0
        out = capsys.readouterr().out
        assert "Brimvale Molecular DMRG" in out
        positions = [
            out.index(option)
            for option in (
                "--demo {h2,lih,h2o-small,h2o,h10,h12,h16}",
                "--shots",
                "--layers",
                "--workdir",
                "--target {electronic_structure,dmrg,cvd_dmrg,measurement_QASM}",
                "--seed",
            )
        ]
        assert positions == sorted(positions)
        assert stages.calls == []


class TestEntryPoints:
    def test_console_script_function_runs_the_command_line(self, workflow, stages, argv, capsys):
        entry = importlib.import_module("brimvale_chemistry.__main__")
        argv("--target", "electronic_structure")
        assert entry.main() is None
        assert stages.names == ["electronic_structure"]
        assert capsys.readouterr().out.startswith("Demo: ")

    @pytest.fixture(autouse=True)
    def fresh_main_module(self, monkeypatch):
        # `python -m` executes __main__ afresh; an earlier import would be reused by runpy.
        monkeypatch.delitem(sys.modules, "brimvale_chemistry.__main__", raising=False)

    def test_python_dash_m_runs_the_command_line(self, workflow, stages, capsys, monkeypatch):
        monkeypatch.setattr(sys, "argv", ["-m", "--target", "dmrg"])
        runpy.run_module("brimvale_chemistry", run_name="__main__")
        assert stages.names == ["electronic_structure", "dmrg"]
        assert capsys.readouterr().out.splitlines()[0].startswith("Demo: ")

    def test_python_dash_m_usage_names_the_command(self, workflow, stages, capsys, monkeypatch):
        monkeypatch.setattr(sys, "argv", ["-m", "--target", "cvd"])
        with pytest.raises(SystemExit):
            runpy.run_module("brimvale_chemistry", run_name="__main__")
        assert capsys.readouterr().err.startswith("usage: python -m brimvale_chemistry ")


class TestOwnMolecule:
    def test_xyz_replaces_the_preset(self, workflow, argv, capsys, tmp_path):
        # The water preset's settings from a file give the preset's Hamiltonian.
        (tmp_path / "water.xyz").write_text(
            "3\nwater\nO 0.0 0.0 0.0\nH 0.758602 0.0 0.504284\nH -0.758602 0.0 0.504284\n"
        )
        argv(
            "--xyz",
            str(tmp_path / "water.xyz"),
            "--active-occupied",
            "2",
            "--active-virtual",
            "2",
            "--target",
            "electronic_structure",
            "--workdir",
            str(tmp_path / "own"),
        )
        workflow.main()
        own = capsys.readouterr().out.splitlines()
        argv("--demo", "h2o-small", "--target", "electronic_structure", "--workdir", str(tmp_path / "preset"))
        workflow.main()
        preset = capsys.readouterr().out.splitlines()
        assert own[0] == "Molecule: H\u2082O/sto-3g CAS(4e,4o) \u2192 8 qubits"
        energies = [line for line in own if "energy" in line]
        assert len(energies) == 2 and energies == [line for line in preset if "energy" in line]

    @pytest.mark.parametrize(
        "options, complaint",
        [
            (["--xyz", "missing.xyz", "--active-occupied", "1", "--active-virtual", "1"], "No such file or directory"),
            (["--xyz", "water.xyz"], "--xyz needs --active-occupied and --active-virtual"),
            (["--spin", "1"], "give --xyz too"),
        ],
    )
    def test_misuse_is_an_option_error(self, workflow, stages, argv, capsys, options, complaint):
        argv(*options)
        with pytest.raises(SystemExit) as caught:
            workflow.main()
        assert caught.value.code == 2 and complaint in capsys.readouterr().err
        assert stages.calls == []


def _xyz(tmp_path, text, name="mol.xyz"):
    path = tmp_path / name
    path.write_bytes(text if isinstance(text, bytes) else text.encode())
    return str(path)


def _fifo(tmp_path):
    path = tmp_path / "pipe.xyz"
    os.mkfifo(path)
    return str(path)


def _owned_by_someone_else(tmp_path, name):
    (tmp_path / name).write_text("my notes\n")
    return []


def _link(tmp_path, name):
    (tmp_path / "elsewhere").write_text("{}")
    (tmp_path / name).symlink_to(tmp_path / "elsewhere")
    return []


H2_XYZ = "2\nh2\nH 0 0 0\nH 0 0 0.74\n"
ACTIVE = ["--active-occupied", "1", "--active-virtual", "1"]


class TestUserMistakesEndInOneLine:
    @pytest.mark.parametrize(
        "options, complaint",
        [
            (
                lambda p: ["--xyz", _xyz(p, "2\nc\nH 0 0 0\nH 0 0 0\n"), *ACTIVE],
                "atoms 0 and 1 are at the same position",
            ),
            (lambda p: ["--xyz", _xyz(p, "1\nc\nH 0 0 0\n"), *ACTIVE], "spin (2S) 0 does not fit 1 electrons"),
            (lambda p: ["--xyz", _xyz(p, H2_XYZ), *ACTIVE, "--charge", "5"], "charge 5 leaves -3 electrons"),
            (lambda p: ["--xyz", _xyz(p, H2_XYZ), "--active-occupied", "-1", "--active-virtual", "1"], "non-negative"),
            (lambda p: ["--xyz", _xyz(p, H2_XYZ), "--active-occupied", "1", "--active-virtual", "9"], "only 1"),
            (lambda p: ["--xyz", _xyz(p, H2_XYZ), *ACTIVE, "--basis", "sto-4z"], "basis 'sto-4z' is unknown"),
            (
                lambda p: [
                    "--xyz",
                    _xyz(p, "1\nc\nHe 0 0 0\n"),
                    "--active-occupied",
                    "2",
                    "--active-virtual",
                    "0",
                    "--spin",
                    "2",
                ],
                "has 1 orbital, too few for 2 electrons with 2S = 2",
            ),
            (lambda p: ["--xyz", _xyz(p, b"\x89PNG\r\n\x1a\n\x00\xff"), *ACTIVE], "not a text file in UTF-8"),
            (lambda p: ["--xyz", _xyz(p, "\u00b2\nc\nH 0 0 0\n"), *ACTIVE], "found '\u00b2'"),
            (lambda p: ["--xyz", "/dev/zero", *ACTIVE], "/dev/zero: not a regular file"),
            (lambda p: ["--xyz", _fifo(p), *ACTIVE], "pipe.xyz: not a regular file"),
            (lambda p: _owned_by_someone_else(p, "measurement_summary.json"), "was not written by this stage"),
            (lambda p: _owned_by_someone_else(p, "run_summary.json"), "was not written by this package"),
            (lambda p: _link(p, "run_summary.json"), "was not written by this package"),
            (lambda p: _owned_by_someone_else(p, ".brimvale.lock"), "refusing to use it as the lock"),
            (lambda p: ["--max-bond", "0", "--state", "mps"], "mps_max_bond must be a positive integer or None"),
            (lambda p: ["--max-bond", "8"], "mps_max_bond applies to state='mps' only"),
            (lambda p: ["--demo", "h16"], "this active space has 32: use state='mps'"),
            (lambda p: ["--threads", "0"], "threads must be a positive integer or None"),
            (lambda p: ["--shots", "0"], "shots must be at least 1, got 0"),
            (lambda p: ["--seed", "-1"], "seed must be a non-negative integer or None, got -1"),
        ],
    )
    def test_exit_status_two_and_a_single_line(
        self, workflow, stages, argv, capsys, tmp_path, monkeypatch, options, complaint
    ):
        monkeypatch.chdir(tmp_path)
        argv(*options(tmp_path), "--workdir", str(tmp_path))
        with pytest.raises(SystemExit) as caught:
            workflow.main()
        captured = capsys.readouterr()
        assert caught.value.code == 2
        (line,) = captured.err.splitlines()
        assert line.startswith("brimvale-chemistry: error: ") and complaint in line
        assert stages.calls == [] and "[1/4]" not in captured.out

    def test_a_closed_pipe_ends_the_run_quietly(self, tmp_path):
        child = subprocess.run(
            f"{sys.executable} -m brimvale_chemistry --target electronic_structure --workdir {tmp_path} | head -1",
            shell=True,
            capture_output=True,
            text=True,
        )
        assert child.stdout.startswith("Demo: ") and child.stderr == ""
