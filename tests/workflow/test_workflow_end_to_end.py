"""The real H2 demo through all four stages in a temporary directory."""

import contextlib
import hashlib
import importlib
import io
import json
import warnings

import pytest


@pytest.fixture(scope="module")
def h2_run(tmp_path_factory):
    workflow = importlib.import_module("brimvale_chemistry.workflow")
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


def _printed_value(out, label):
    (line,) = [line for line in out.splitlines() if line.startswith(f"  {label:<22}: ")]
    return line.split(": ", 1)[1]


class TestRunRecord:
    def test_summary_agrees_with_the_printed_lines(self, h2_run):
        result, out, workdir = h2_run
        summary = json.loads((workdir / "run_summary.json").read_text(encoding="utf-8"))
        energies = summary["energies"]
        assert f"{energies['hartree_fock']:.10f} Ha" == _printed_value(out, "RHF energy")
        assert f"{energies['casci']:.10f} Ha" == _printed_value(out, "CASCI energy")
        assert f"{energies['dmrg']:.10f} Ha" == _printed_value(out, "DMRG energy")
        estimate = f"{energies['sampled']:.8f} \u00b1 {energies['sampled_standard_error']:.8f} Hartree"
        assert estimate == _printed_value(out, "Estimated energy")
        assert f"{energies['circuit_exact']:.8f} Hartree" == _printed_value(out, "Exact energy")
        assert summary["qubits"] == 4 and summary["settings"]["seed"] == 2077
        # Opt-in settings are recorded only when set: a default run's record stays as it was.
        opt_in = {"measurement_grouping", "measurement_total_shots", "cvd_target_overlap", "cvd_max_cnots"}
        assert not opt_in & set(summary["settings"]) and list(summary["settings"])[-1] == "synthesis_seed"
        layers = summary["circuit"]["layers"]
        assert [
            f"  Layer {k['layer']:<2}              : |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|="
            f"{k['overlap']:.12f}, energy={k['energy']:.12f} Hartree"
            for k in layers
        ] == [line for line in out.splitlines() if line.startswith("  Layer ")]
        assert summary["circuit"]["cnot_count"] == result.cvd.circuit.count_ops()["cx"] == layers[-1]["cnots"]
        figure = workdir / "cvd_convergence.png"
        assert figure.read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"
        assert summary["files"]["convergence_figure"]["sha256"] == hashlib.sha256(figure.read_bytes()).hexdigest()
        assert list(summary["stage_seconds"]) == ["electronic_structure", "dmrg", "cvd_dmrg", "measurement_QASM"]

    def test_a_users_file_stops_the_run_before_any_stage(self, workflow, h2_molecule, stages, tmp_path):
        (tmp_path / "run_summary.json").write_text("my notes\n")
        with pytest.raises(FileExistsError, match="run_summary.json exists and was not written by this package"):
            workflow.MolecularDMRGWorkflow(h2_molecule, workdir=tmp_path).run()
        assert stages.calls == []
        assert (tmp_path / "run_summary.json").read_text() == "my notes\n"
        workflow.MolecularDMRGWorkflow(h2_molecule, workdir=tmp_path).run("cvd_dmrg")  # writes no record


class TestLiHAnalyticCommandLine:
    def test_demo_runs_with_the_exact_gradient(self, workflow, tmp_path, monkeypatch, capsys):
        monkeypatch.setattr(
            "sys.argv", ["brimvale-chemistry", "--demo", "lih", "--gradient", "analytic", "--workdir", str(tmp_path)]
        )
        workflow.main()
        lines = capsys.readouterr().out.splitlines()
        layers = [line for line in lines if line.startswith("  Layer ")]
        assert lines[0].startswith("Demo: LiH") and len(layers) == 5  # layer 0 and the four default layers
        overlap = float(layers[-1].split("|=")[1].split(",")[0])
        assert overlap >= 0.99999
        assert lines[-1] == "  QASM directory        : " + str(tmp_path.resolve())
        assert sorted(tmp_path.rglob("*.qasm"))


class TestLiHCompactRefined:
    """`--compact --refine` on the real LiH demo (one layer keeps it short)."""

    def test_flags_end_to_end(self, workflow, tmp_path, monkeypatch):
        from brimvale_chemistry import corvinth

        real_minimize = corvinth.minimize

        def short_refinement(fun, x0, **kwargs):  # only the refinement has more than nine parameters
            if len(x0) > 9:
                kwargs["options"] = {**kwargs["options"], "maxiter": 100}
            return real_minimize(fun, x0, **kwargs)

        monkeypatch.setattr(corvinth, "minimize", short_refinement)
        monkeypatch.setattr(
            "sys.argv",
            [
                "brimvale-chemistry",
                "--demo",
                "lih",
                "--layers",
                "1",
                "--shots",
                "100",
                "--compact",
                "--refine",
                "--workdir",
                str(tmp_path),
            ],
        )
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            workflow.main()
        lines = printed.getvalue().splitlines()
        at = next(i for i, line in enumerate(lines) if line.startswith("  Refined               : "))
        assert lines[at - 1].startswith("  Layer 1               : ") and lines[at + 1] == "[4/4] Measurement"

        def metrics(line):
            overlap = float(line.split("|=")[1].split(",")[0])
            return overlap, float(line.split("energy=")[1].split()[0])

        (layer_overlap, layer_energy), (overlap, energy) = metrics(lines[at - 1]), metrics(lines[at])
        assert overlap > layer_overlap and energy < layer_energy  # the exact energy lies below both
        # One layer of 7 disentanglers, at most three CNOTs each, in every measurement program.
        programs = sorted((tmp_path / "qasm").glob("*.qasm"))
        assert programs
        for path in programs:
            text = path.read_text().splitlines()
            assert sum(line.startswith("cx ") for line in text) <= 21
            preparation = text[
                text.index("// state preparation") + 1 : text.index("// basis change: H for X, sdg then H for Y")
            ]
            assert all(line.startswith(("rx(", "ry(", "rz(", "cx ")) for line in preparation)


class TestSkippedReference:
    """A molecule whose CASCI reference is skipped still runs through, with "n/a" and null where it would be."""

    def test_h2_without_its_reference(self, workflow, tmp_path, monkeypatch):
        from brimvale_chemistry.molecule import _active_space

        monkeypatch.setattr(_active_space, "MAX_CASCI_DETERMINANTS", 3)  # H2 CAS(2e,2o) has 4
        record = workflow._DEMOS["h2"]
        molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
        printed = io.StringIO()
        with contextlib.redirect_stdout(printed):
            result = workflow.MolecularDMRGWorkflow(molecule, workdir=tmp_path, layers=1, shots=100).run()
        out = printed.getvalue()
        assert result.electronic_structure.exact_energy is None
        assert _printed_value(out, "CASCI energy") == "n/a (4 determinants, skipped above 3)"
        assert _printed_value(out, "Difference to CASCI") == "n/a"
        summary = json.loads((tmp_path / "run_summary.json").read_text(encoding="utf-8"))
        assert summary["energies"]["casci"] is None
        assert f"{summary['energies']['dmrg']:.10f} Ha" == _printed_value(out, "DMRG energy")
        assert (tmp_path / summary["files"]["convergence_figure"]["file"]).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


class TestCompactState:
    def test_h2_ground_state_as_an_mps_only(self, workflow, tmp_path):
        record = workflow._DEMOS["h2"]
        molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
        with contextlib.redirect_stdout(io.StringIO()):
            result = workflow.MolecularDMRGWorkflow(molecule, workdir=tmp_path, state="mps").run("dmrg")
        assert result.dmrg.psi0 is None
        assert result.dmrg.energy == pytest.approx(result.electronic_structure.exact_energy, abs=1e-9)
        norm = result.dmrg.mps.norm()
        energy = result.dmrg.mps.expectation(result.electronic_structure.pauli_terms).real / norm**2
        assert energy == pytest.approx(result.dmrg.energy, abs=1e-9)

    def test_lih_with_a_bond_cap_records_what_the_cap_dropped(self, workflow, tmp_path):
        record = workflow._DEMOS["lih"]
        molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
        with contextlib.redirect_stdout(io.StringIO()), warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)  # the capped circuit state is reported as truncated
            result = workflow.MolecularDMRGWorkflow(
                molecule, workdir=tmp_path, state="mps", mps_max_bond=2, layers=1, shots=100
            ).run()
        assert max(result.dmrg.mps.bond_dimensions) == 2
        summary = json.loads((tmp_path / "run_summary.json").read_text(encoding="utf-8"))
        assert summary["settings"]["mps_max_bond"] == 2
        assert summary["dmrg"]["mps_discarded_weight"] == result.dmrg.mps_discarded_weight > 1e-8
        assert summary["circuit"]["discarded_weight"] == result.cvd.discarded_weight
        assert summary["circuit"]["overlap_is_estimate"] is result.cvd.overlap_is_estimate is True
