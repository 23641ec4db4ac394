"""The real H2 demo through all four stages in a temporary directory."""

import contextlib
import io

import pytest


@pytest.fixture(scope="module")
def h2_run(loaded_workflow, tmp_path_factory):
    if loaded_workflow.stand_ins:
        pytest.skip("stage modules not available yet, stand-ins in use for: "
                    + ", ".join(loaded_workflow.stand_ins))
    workflow = loaded_workflow.module
    workdir = tmp_path_factory.mktemp("h2-demo")
    record = workflow._DEMOS["h2"]
    molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
    printed = io.StringIO()
    with contextlib.redirect_stdout(printed):
        result = workflow.MolecularDMRGWorkflow(molecule, workdir=workdir).run()
    return result, printed.getvalue(), workdir


class TestH2Demo:
    def test_circuit_prepares_the_ground_state(self, h2_run):
        result, _, _ = h2_run
        # The layer-0 product state alone reaches only about 0.994.
        assert result.cvd.overlap_mod >= 0.999
        assert abs(result.cvd.energy - result.electronic_structure.exact_energy) <= 1e-3

    def test_measurement_files_written_under_the_workdir(self, h2_run):
        result, out, workdir = h2_run
        assert sorted(workdir.rglob("*.qasm"))
        assert result.measurement.files
        for path in result.measurement.files:
            assert path.is_file() and path.resolve().is_relative_to(workdir.resolve())
        assert out.splitlines()[-1] == "  QASM directory        : " + str(workdir.resolve())

    def test_every_stage_reported_in_order(self, h2_run):
        _, out, _ = h2_run
        headers = [line[:5] for line in out.splitlines() if line[:1] == "[" and line[2:5] == "/4]"]
        assert headers == ["[1/4]", "[2/4]", "[3/4]", "[4/4]"]


class TestLiHAnalyticCommandLine:
    def test_demo_runs_with_the_exact_gradient(self, loaded_workflow, tmp_path, monkeypatch, capsys):
        if loaded_workflow.stand_ins:
            pytest.skip("stage modules not available yet")
        workflow = loaded_workflow.module
        monkeypatch.setattr("sys.argv", ["brimvale-chemistry", "--demo", "lih", "--gradient", "analytic",
                                         "--workdir", str(tmp_path)])
        workflow.main()
        lines = capsys.readouterr().out.splitlines()
        layers = [line for line in lines if line.startswith("  Layer ")]
        assert lines[0].startswith("Demo: LiH") and len(layers) == 5  # layer 0 and the four default layers
        overlap = float(layers[-1].split("|=")[1].split(",")[0])
        assert overlap >= 0.99999
        assert lines[-1] == "  QASM directory        : " + str(tmp_path.resolve())
        assert sorted(tmp_path.rglob("*.qasm"))
