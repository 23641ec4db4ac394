"""Construction of MolecularDMRGWorkflow: binding, conversions, checks and stored settings."""

import os
from pathlib import Path

import numpy as np
import pytest

ATTRIBUTE_ORDER = [
    "molecule",
    "shots",
    "dmrg_chi0",
    "dmrg_maxdim",
    "dmrg_max_sweeps",
    "dmrg_cutoff",
    "layers",
    "renyi_indices",
    "cvd_maxiter",
    "cvd_restarts",
    "cvd_init_scale",
    "workdir",
    "seed",
    "backend",
    "device",
    "dtype",
]

OPT_IN_DEFAULTS = {
    "threads": None,
    "cvd_gradient": "finite-difference",
    "cvd_compact": False,
    "cvd_refine": False,
    "state": "dense",
    "mps_max_bond": None,
    "measurement_grouping": "qubit-wise",
    "measurement_total_shots": None,
    "cvd_target_overlap": None,
    "cvd_max_cnots": None,
    "cvd_refine_seconds": None,
}


def incorrect_type(name, expected, value):
    return f"Argument '{name}' has incorrect type (expected {expected}, got {type(value).__name__})"


class TestDefaults:
    def test_defaults_stored_in_order(self, workflow, h2_molecule, tmp_path, monkeypatch):
        monkeypatch.chdir(tmp_path)
        wf = workflow.MolecularDMRGWorkflow(h2_molecule)
        # Opt-in settings are stored after the fixed ones.
        assert list(vars(wf)) == ATTRIBUTE_ORDER + list(OPT_IN_DEFAULTS)
        assert vars(wf) == OPT_IN_DEFAULTS | {
            "molecule": h2_molecule,
            "shots": 10000,
            "dmrg_chi0": 20,
            "dmrg_maxdim": 100,
            "dmrg_max_sweeps": 100,
            "dmrg_cutoff": 1e-8,
            "layers": None,
            "renyi_indices": None,
            "cvd_maxiter": 200,
            "cvd_restarts": 3,
            "cvd_init_scale": 0.5,
            "workdir": Path.cwd(),
            "seed": 2077,
            "backend": "numpy",
            "device": "cpu",
            "dtype": np.complex128,
        }
        assert wf.molecule is h2_molecule

    def test_molecule_by_keyword(self, workflow, h2_molecule):
        assert workflow.MolecularDMRGWorkflow(molecule=h2_molecule).molecule is h2_molecule

    def test_subclass_extends_the_constructor(self, workflow, h2_molecule):
        class Tagged(workflow.MolecularDMRGWorkflow):
            def __init__(self, molecule, tag, **settings):
                super().__init__(molecule, **settings)
                self.tag = tag

        wf = Tagged(h2_molecule, "run-1", shots=7)
        assert (wf.tag, wf.shots, wf.molecule) == ("run-1", 7, h2_molecule)
        with pytest.raises(TypeError, match="^Argument 'device'"):
            Tagged(h2_molecule, "run-2", device=3)

    def test_constructor_called_again_resets_the_settings(self, workflow, h2_molecule):
        wf = workflow.MolecularDMRGWorkflow(h2_molecule, shots=5)
        assert wf.__init__(h2_molecule, dmrg_chi0=8) is None
        assert (wf.shots, wf.dmrg_chi0) == (10000, 8)


class TestConversions:
    @pytest.mark.parametrize(
        "name, given, stored",
        [
            ("shots", 2.7, 2),
            ("shots", np.int64(5), 5),
            ("dmrg_chi0", True, 1),
            ("dmrg_maxdim", -3.9, -3),
            ("dmrg_max_sweeps", np.uint8(4), 4),
            ("layers", 3.9, 3),
            ("layers", np.int32(2), 2),
            ("cvd_maxiter", 10.5, 10),
            ("cvd_restarts", np.int16(1), 1),
            ("seed", np.int64(11), 11),
            ("shots", np.array(2.7), 2),
        ],
    )
    def test_integer_settings_become_exact_ints(self, workflow, h2_molecule, name, given, stored):
        value = getattr(workflow.MolecularDMRGWorkflow(h2_molecule, **{name: given}), name)
        assert type(value) is int and value == stored

    @pytest.mark.parametrize(
        "name, given",
        [("dmrg_cutoff", 1), ("cvd_init_scale", np.float32(0.25)), ("dmrg_cutoff", np.int64(2)), ("cvd_init_scale", 0)],
    )
    def test_float_settings_become_floats(self, workflow, h2_molecule, name, given):
        value = getattr(workflow.MolecularDMRGWorkflow(h2_molecule, **{name: given}), name)
        assert type(value) is float and value == float(given)

    def test_layers_and_seed_may_be_none(self, workflow, h2_molecule):
        wf = workflow.MolecularDMRGWorkflow(h2_molecule, layers=None, seed=None)
        assert wf.layers is None and wf.seed is None

    def test_unchecked_settings_kept_as_given(self, workflow, h2_molecule):
        indices, dtype = (1.0, "2"), object()
        wf = workflow.MolecularDMRGWorkflow(h2_molecule, renyi_indices=indices, dtype=dtype)
        assert wf.renyi_indices is indices and wf.dtype is dtype


class TestRejections:
    @pytest.mark.parametrize(
        "name, bad",
        [
            ("shots", "10"),
            ("dmrg_chi0", None),
            ("dmrg_maxdim", [1]),
            ("dmrg_max_sweeps", "3"),
            ("layers", "2"),
            ("cvd_maxiter", b"1"),
            ("cvd_restarts", None),
            ("seed", "2077"),
        ],
    )
    def test_integer_setting_that_is_no_number(self, workflow, h2_molecule, name, bad):
        with pytest.raises(TypeError) as caught:
            workflow.MolecularDMRGWorkflow(h2_molecule, **{name: bad})
        assert str(caught.value) == incorrect_type(name, "int", bad)

    @pytest.mark.parametrize("name, bad", [("shots", np.array([10, 20])), ("seed", np.array([2077]))])
    def test_array_refused_by_its_number_protocols_is_no_number(self, workflow, h2_molecule, name, bad):
        with pytest.raises(TypeError) as caught:
            workflow.MolecularDMRGWorkflow(h2_molecule, **{name: bad})
        assert str(caught.value) == f"Argument '{name}' has incorrect type (expected int, got numpy.ndarray)"

    @pytest.mark.parametrize("name", ["dmrg_cutoff", "cvd_init_scale"])
    def test_float_setting_uses_the_interpreters_conversion_error(self, workflow, h2_molecule, name):
        with pytest.raises(TypeError, match="must be real number, not str"):
            workflow.MolecularDMRGWorkflow(h2_molecule, **{name: "0.1"})

    @pytest.mark.parametrize(
        "name, bad",
        [
            ("backend", None),
            ("device", None),
            ("backend", b"numpy"),
            ("device", 0),
            ("backend", type("Text", (str,), {})("numpy")),
        ],
    )
    def test_backend_and_device_must_be_exact_strings(self, workflow, h2_molecule, name, bad):
        with pytest.raises(TypeError) as caught:
            workflow.MolecularDMRGWorkflow(h2_molecule, **{name: bad})
        assert str(caught.value) == incorrect_type(name, "str", bad)

    @pytest.mark.parametrize(
        "settings, reported",
        [
            ({"shots": "x", "dmrg_chi0": "y"}, "shots"),
            ({"seed": "x", "cvd_maxiter": "y"}, "cvd_maxiter"),
            ({"device": 1, "backend": 2}, "backend"),
            ({"device": 1, "layers": "y"}, "layers"),
        ],
    )
    def test_first_bad_setting_in_settings_order_is_reported(self, workflow, h2_molecule, settings, reported):
        with pytest.raises(TypeError, match=f"^Argument '{reported}'"):
            workflow.MolecularDMRGWorkflow(h2_molecule, **settings)

    def test_molecule_of_another_type(self, workflow):
        with pytest.raises(TypeError) as caught:
            workflow.MolecularDMRGWorkflow({"geometry": []})
        assert str(caught.value) == "molecule must be a Molecule"

    def test_bad_setting_reported_before_bad_molecule(self, workflow):
        with pytest.raises(TypeError, match="^Argument 'device'"):
            workflow.MolecularDMRGWorkflow("not a molecule", device=None)

    def test_molecule_subclass_accepted(self, workflow):
        subclass = type("TaggedMolecule", (workflow.Molecule,), {})
        record = workflow._DEMOS["h2"]
        tagged = subclass(**{k: v for k, v in record.items() if k != "desc"})
        assert workflow.MolecularDMRGWorkflow(tagged).molecule is tagged

    @pytest.mark.parametrize(
        "call, message",
        [
            (
                lambda cls, m: cls(),
                "MolecularDMRGWorkflow.__init__() missing 1 required positional argument: 'molecule'",
            ),
            (
                lambda cls, m: cls(m, 100),
                "MolecularDMRGWorkflow.__init__() takes 2 positional arguments but 3 were given",
            ),
            (
                lambda cls, m: cls(m, shot=1),
                "MolecularDMRGWorkflow.__init__() got an unexpected keyword argument 'shot'",
            ),
            (
                lambda cls, m: cls(m, **{"shots\ud800": 1}),
                "MolecularDMRGWorkflow.__init__() got an unexpected keyword argument 'shots\ud800'",
            ),
            (
                lambda cls, m: cls(m, molecule=m),
                "MolecularDMRGWorkflow.__init__() got multiple values for argument 'molecule'",
            ),
        ],
    )
    def test_argument_binding(self, workflow, h2_molecule, call, message):
        with pytest.raises(TypeError) as caught:
            call(workflow.MolecularDMRGWorkflow, h2_molecule)
        assert str(caught.value) == message


class TestWorkdir:
    def test_none_fixed_to_the_directory_at_construction(self, workflow, h2_molecule, tmp_path, monkeypatch):
        first, second = tmp_path / "first", tmp_path / "second"
        first.mkdir(), second.mkdir()
        monkeypatch.chdir(first)
        wf = workflow.MolecularDMRGWorkflow(h2_molecule)
        monkeypatch.chdir(second)
        assert wf.workdir == first and wf.workdir.is_absolute()

    @pytest.mark.parametrize("given", ["out/run", Path("out/run")])
    def test_relative_path_kept_relative(self, workflow, h2_molecule, given):
        wf = workflow.MolecularDMRGWorkflow(h2_molecule, workdir=given)
        assert isinstance(wf.workdir, Path) and wf.workdir == Path("out/run")
        assert not wf.workdir.is_absolute()

    def test_path_like_accepted(self, workflow, h2_molecule, tmp_path):
        class Location(os.PathLike):
            def __fspath__(self):
                return str(tmp_path)

        assert workflow.MolecularDMRGWorkflow(h2_molecule, workdir=Location()).workdir == tmp_path


class TestOptInSettings:
    """Settings beyond the fixed ones reach their stage only when they differ from the default."""

    def test_passed_only_when_set(self, workflow, h2_molecule, stages):
        workflow.MolecularDMRGWorkflow(h2_molecule).run()
        default_keywords = [[k for k, _ in call.kwargs] for call in stages.calls]
        stages.calls.clear()
        workflow.MolecularDMRGWorkflow(
            h2_molecule, threads=2.9, cvd_gradient="analytic", cvd_compact=1, cvd_refine=True
        ).run()
        cvd = stages.call("cvd_dmrg").kwargs
        assert cvd[-4:] == [("threads", 2), ("gradient", "analytic"), ("compact", True), ("refine", True)]
        assert [k for k, _ in cvd[:-4]] == default_keywords[2]
        assert [[k for k, _ in call.kwargs] for call in stages.calls if call.stage != "cvd_dmrg"] == [
            default_keywords[0],
            default_keywords[1],
            default_keywords[3],
        ]
        # The MPS path reaches DMRG, the synthesis and, as its backend, the measurement.
        stages.calls.clear()
        workflow.MolecularDMRGWorkflow(h2_molecule, state="mps").run()
        assert stages.call("dmrg").kwargs[-1] == ("state", "mps")
        assert stages.call("cvd_dmrg").kwargs[-1] == ("state", "mps")
        measurement = stages.call("measurement_QASM").kwargs
        assert [k for k, _ in measurement] == default_keywords[3] and dict(measurement)["backend"] == "mps"
        stages.calls.clear()
        workflow.MolecularDMRGWorkflow(h2_molecule, state="mps", mps_max_bond=64.0).run()
        assert stages.call("dmrg").kwargs[-2:] == [("state", "mps"), ("max_bond", 64)]
        assert stages.call("cvd_dmrg").kwargs[-2:] == [("state", "mps"), ("max_bond", 64)]
        assert stages.call("measurement_QASM").kwargs[-1] == ("max_bond", 64)

    @pytest.mark.parametrize(
        "settings, error, message",
        [
            ({"threads": "2"}, TypeError, incorrect_type("threads", "int", "2")),
            ({"cvd_gradient": "exact"}, ValueError, "cvd_gradient must be 'finite-difference' or 'analytic'"),
            ({"cvd_gradient": b"analytic"}, TypeError, incorrect_type("cvd_gradient", "str", b"")),
            # Refused before any stage runs, not after the DMRG it would follow.
            ({"mps_max_bond": 64}, ValueError, "mps_max_bond applies to state='mps' only"),
            ({"mps_max_bond": 0, "state": "mps"}, ValueError, "mps_max_bond must be a positive integer or None"),
        ],
    )
    def test_checked_on_construction(self, workflow, h2_molecule, settings, error, message):
        with pytest.raises(error) as caught:
            workflow.MolecularDMRGWorkflow(h2_molecule, **settings)
        assert str(caught.value) == message

    def test_command_line_options(self, workflow, stages, monkeypatch):
        monkeypatch.setattr("sys.argv", ["brimvale-chemistry", "--target", "cvd_dmrg"])
        workflow.main()
        assert [k for k, _ in stages.call("cvd_dmrg").kwargs][-1] == "seed"
        dmrg = dict(stages.call("dmrg").kwargs)
        assert (dmrg["max_sweeps"], dmrg["maxdim"]) == (100, 100)
        stages.calls.clear()
        monkeypatch.setattr(
            "sys.argv",
            [
                "brimvale-chemistry",
                "--target",
                "cvd_dmrg",
                "--threads",
                "1",
                "--gradient",
                "analytic",
                "--compact",
                "--refine",
                "--state",
                "mps",
                "--max-bond",
                "32",
                "--dmrg-max-sweeps",
                "4",
                "--dmrg-maxdim",
                "50",
            ],
        )
        workflow.main()
        dmrg = dict(stages.call("dmrg").kwargs)
        assert (dmrg["max_sweeps"], dmrg["maxdim"]) == (4, 50)
        assert stages.call("cvd_dmrg").kwargs[-6:] == [
            ("threads", 1),
            ("gradient", "analytic"),
            ("compact", True),
            ("refine", True),
            ("state", "mps"),
            ("max_bond", 32),
        ]


def test_defaults_agree_between_the_workflow_and_the_python_stages():
    import inspect

    from brimvale_chemistry import _defaults
    from brimvale_chemistry.dmrg import dmrg
    from brimvale_chemistry.measurement import measurement_QASM
    from brimvale_chemistry.workflow import MolecularDMRGWorkflow

    workflow = inspect.signature(MolecularDMRGWorkflow.__init__).parameters
    stage_defaults = {
        **{k: p.default for k, p in inspect.signature(dmrg).parameters.items()},
        **{k: p.default for k, p in inspect.signature(measurement_QASM).parameters.items()},
    }
    assert (workflow["seed"].default, workflow["shots"].default, stage_defaults["shots"]) == (
        _defaults.SEED,
        _defaults.SHOTS,
        _defaults.SHOTS,
    )
    for name in ("chi0", "maxdim", "max_sweeps", "cutoff"):
        expected = getattr(_defaults, f"DMRG_{name.upper()}")
        assert workflow[f"dmrg_{name}"].default == stage_defaults[name] == expected
