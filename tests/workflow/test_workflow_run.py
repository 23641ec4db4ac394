"""MolecularDMRGWorkflow.run with recording fakes in place of the four stages."""

from pathlib import Path

import pytest

STAGE_ORDER = ("electronic_structure", "dmrg", "cvd_dmrg", "measurement_QASM")

QASM_LABEL = "  QASM directory        : "
TARGET_MESSAGE = "target must be one of: electronic_structure, dmrg, cvd_dmrg, measurement_QASM"


@pytest.fixture
def wf(workflow, h2_molecule, tmp_path):
    return workflow.MolecularDMRGWorkflow(h2_molecule, workdir=tmp_path)


class TestTerminalStage:
    @pytest.mark.parametrize("position, target", list(enumerate(STAGE_ORDER)))
    def test_runs_exactly_the_stages_up_to_the_target(self, workflow, wf, stages, capsys, position, target):
        result = wf.run(target)
        assert stages.names == list(STAGE_ORDER[: position + 1])
        assert type(result) is workflow.MolecularDMRGResult
        fields = [result.electronic_structure, result.dmrg, result.cvd, result.measurement]
        produced = [stages.structure, stages.dmrg_result, stages.cvd_result, stages.measurement_result]
        for index, (value, expected) in enumerate(zip(fields, produced)):
            assert value is (expected if index <= position else None)
        assert result.molecule is wf.molecule
        assert list(result.stage_seconds) == list(STAGE_ORDER[: position + 1])
        assert all(isinstance(t, float) and t >= 0.0 for t in result.stage_seconds.values())
        assert [r for _, r, _ in stages.run_records] == ([result] if target == "measurement_QASM" else [])
        out = capsys.readouterr().out
        assert (QASM_LABEL in out) == (target == "measurement_QASM")

    def test_default_target_runs_everything_and_reports_the_directory_last(self, wf, stages, capsys, tmp_path):
        wf.run()
        assert stages.names == list(STAGE_ORDER)
        lines = capsys.readouterr().out.splitlines()
        assert lines[-1] == QASM_LABEL + str(tmp_path.resolve())
        assert lines[:-1] == [f"[{k}/4] {stage}" for k, stage in enumerate(STAGE_ORDER, 1)]

    def test_target_by_keyword(self, wf, stages):
        wf.run(target="dmrg")
        assert stages.names == ["electronic_structure", "dmrg"]

    @pytest.mark.parametrize("target", ["DMRG", "", "cvd", "Measurement_QASM", "dmrg ", "molecule", "dmrg\ud800"])
    def test_unknown_target_rejected_before_any_stage(self, wf, stages, capsys, target):
        with pytest.raises(ValueError) as caught:
            wf.run(target)
        assert str(caught.value) == TARGET_MESSAGE
        assert stages.calls == [] and capsys.readouterr().out == ""

    @pytest.mark.parametrize("target", [None, 2, b"dmrg", type("Name", (str,), {})("dmrg")])
    def test_target_must_be_an_exact_string(self, wf, stages, target):
        with pytest.raises(TypeError) as caught:
            wf.run(target)
        assert str(caught.value) == (
            f"Argument 'target' has incorrect type (expected str, got {type(target).__name__})"
        )
        assert stages.calls == []

    def test_run_binding_errors(self, wf, stages):
        with pytest.raises(TypeError, match=r"run\(\) takes from 1 to 2 positional arguments but 3 were given"):
            wf.run("dmrg", "dmrg")
        with pytest.raises(TypeError, match=r"run\(\) got an unexpected keyword argument 'stage'"):
            wf.run(stage="dmrg")
        assert stages.calls == []


class TestStageCalls:
    def test_exact_argument_lists(self, wf, stages):
        wf.run()
        structure = stages.call("electronic_structure")
        assert structure.args == (wf.molecule,) and structure.args[0] is wf.molecule
        assert structure.kwargs == [("workdir", wf.workdir)]

        dmrg = stages.call("dmrg")
        assert len(dmrg.args) == 1 and dmrg.args[0] is stages.structure
        assert dmrg.kwargs == [("chi0", 20), ("maxdim", 100), ("max_sweeps", 100), ("cutoff", 1e-8)]

        cvd = stages.call("cvd_dmrg")
        assert len(cvd.args) == 1 and cvd.args[0] is stages.dmrg_result
        assert [k for k, _ in cvd.kwargs] == [
            "pauli_terms",
            "layers",
            "renyi_indices",
            "maxiter",
            "restarts",
            "init_scale",
            "seed",
        ]
        assert cvd.kwargs[0][1] is stages.structure.pauli_terms
        assert [v for _, v in cvd.kwargs[1:]] == [None, None, 200, 3, 0.5, 2077]

        measurement = stages.call("measurement_QASM")
        assert measurement.args[0] is stages.cvd_result.circuit
        assert measurement.args[1] is stages.structure.pauli_terms
        assert measurement.args[2] == stages.structure.n_qubits and len(measurement.args) == 3
        assert measurement.kwargs == [
            ("shots", 10000),
            ("seed", 2077),
            ("workdir", wf.workdir),
            ("backend", "numpy"),
            ("device", "cpu"),
            ("dtype", wf.dtype),
        ]

    def test_settings_reach_their_stage(self, workflow, h2_molecule, stages, tmp_path):
        indices = [1.0, 2.0]
        wf = workflow.MolecularDMRGWorkflow(
            h2_molecule,
            shots=64,
            dmrg_chi0=4,
            dmrg_maxdim=8,
            dmrg_max_sweeps=6,
            dmrg_cutoff=1e-6,
            layers=2,
            renyi_indices=indices,
            cvd_maxiter=9,
            cvd_restarts=1,
            cvd_init_scale=0.1,
            workdir=tmp_path,
            seed=5,
            backend="gpu-ish",
            device="dev0",
            dtype="complex64",
        )
        wf.run()
        assert stages.call("dmrg").kwargs == [("chi0", 4), ("maxdim", 8), ("max_sweeps", 6), ("cutoff", 1e-6)]
        cvd = dict(stages.call("cvd_dmrg").kwargs)
        assert cvd["renyi_indices"] is indices
        assert (cvd["layers"], cvd["maxiter"], cvd["restarts"], cvd["init_scale"], cvd["seed"]) == (2, 9, 1, 0.1, 5)
        assert stages.call("measurement_QASM").kwargs == [
            ("shots", 64),
            ("seed", 5),
            ("workdir", tmp_path),
            ("backend", "gpu-ish"),
            ("device", "dev0"),
            ("dtype", "complex64"),
        ]

    def test_seed_none_gives_the_synthesis_a_fixed_seed_and_measurement_none(self, workflow, h2_molecule, stages):
        workflow.MolecularDMRGWorkflow(h2_molecule, seed=None).run()
        assert dict(stages.call("cvd_dmrg").kwargs)["seed"] == 2077
        assert dict(stages.call("measurement_QASM").kwargs)["seed"] is None

    def test_settings_read_at_each_run(self, wf, stages, tmp_path):
        wf.dmrg_chi0 = 7
        wf.seed = None
        wf.workdir = tmp_path / "later"
        wf.run("cvd_dmrg")
        assert dict(stages.call("dmrg").kwargs)["chi0"] == 7
        assert dict(stages.call("cvd_dmrg").kwargs)["seed"] == 2077
        assert stages.call("electronic_structure").kwargs == [("workdir", tmp_path / "later")]

    def test_every_run_starts_again_with_a_new_record(self, wf, stages):
        first = wf.run("dmrg")
        second = wf.run("dmrg")
        assert stages.names == ["electronic_structure", "dmrg"] * 2
        assert first is not second and first == second

    def test_rebound_stage_function_used_at_the_next_call(self, workflow, wf, stages, monkeypatch):
        monkeypatch.setattr(workflow, "electronic_structure", lambda molecule, workdir: "replacement")
        assert wf.run("electronic_structure").electronic_structure == "replacement"


class TestStageFailure:
    @pytest.mark.parametrize("failing", STAGE_ORDER)
    def test_error_propagates_unchanged_and_nothing_is_printed(self, wf, stages, capsys, failing):
        stages.fail = failing
        with pytest.raises(RuntimeError) as caught:
            wf.run()
        assert caught.value is stages.error
        assert stages.names == list(STAGE_ORDER[: STAGE_ORDER.index(failing) + 1])
        assert QASM_LABEL not in capsys.readouterr().out

    def test_workflow_usable_after_a_failure(self, wf, stages):
        stages.fail = "cvd_dmrg"
        with pytest.raises(RuntimeError):
            wf.run()
        stages.fail = None
        assert wf.run().measurement is stages.measurement_result


class TestQasmDirectoryLine:
    def test_relative_workdir_passed_relative_and_printed_resolved(
        self, workflow, h2_molecule, stages, capsys, tmp_path, monkeypatch
    ):
        (tmp_path / "real").mkdir()
        (tmp_path / "link").symlink_to(tmp_path / "real", target_is_directory=True)
        monkeypatch.chdir(tmp_path)
        workflow.MolecularDMRGWorkflow(h2_molecule, workdir="link").run()
        assert stages.call("electronic_structure").kwargs == [("workdir", Path("link"))]
        assert dict(stages.call("measurement_QASM").kwargs)["workdir"] == Path("link")
        last = capsys.readouterr().out.splitlines()[-1]
        assert last == QASM_LABEL + str((tmp_path / "real").resolve())

    def test_workdir_reassigned_as_text_is_still_printed(self, wf, stages, capsys, tmp_path):
        wf.workdir = str(tmp_path)
        wf.run()
        assert capsys.readouterr().out.splitlines()[-1] == QASM_LABEL + str(tmp_path.resolve())
