"""The workflow module's public surface: stage order, result record, driver class, presets, loading."""

import dataclasses
import os
import re
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest


class TestModuleSurface:
    def test_docstring_and_stage_order(self, workflow):
        assert workflow.__doc__ == "Molecular electronic-structure, DMRG, CVD, and measurement pipeline."
        assert type(workflow.WORKFLOW_STAGES) is tuple
        assert workflow.WORKFLOW_STAGES == ("electronic_structure", "dmrg", "cvd_dmrg", "measurement_QASM")

    def test_driver_is_a_plain_class(self, workflow):
        cls = workflow.MolecularDMRGWorkflow
        assert cls.__bases__ == (object,)
        assert cls.__module__ == "brimvale_chemistry.workflow"
        assert cls.__doc__ == "Run the molecular workflow through a selected terminal stage."
        assert cls.run.__doc__ == "Run through ``target``; the default executes the complete workflow."
        assert workflow.main.__doc__ == "Small command-line entry point for direct library experimentation."


class TestResultRecord:
    FIELDS = ["molecule", "electronic_structure", "dmrg", "cvd", "measurement"]

    def test_is_a_dataclass_with_the_stage_fields(self, workflow):
        record = workflow.MolecularDMRGResult
        assert dataclasses.is_dataclass(record)
        assert [f.name for f in dataclasses.fields(record)] == self.FIELDS + ["stage_seconds"]
        assert record.__doc__ == "Public stage results produced by :class:`MolecularDMRGWorkflow`."
        assert record.__qualname__ == "MolecularDMRGResult"

    def test_only_the_molecule_is_required(self, workflow, h2_molecule):
        record = workflow.MolecularDMRGResult(h2_molecule)
        assert record.molecule is h2_molecule
        assert [getattr(record, f) for f in self.FIELDS[1:]] == [None] * 4
        with pytest.raises(TypeError, match="missing 1 required positional argument: 'molecule'"):
            workflow.MolecularDMRGResult()

    def test_equality_repr_and_mutability(self, workflow, h2_molecule):
        first = workflow.MolecularDMRGResult(molecule=h2_molecule, dmrg="d")
        second = workflow.MolecularDMRGResult(h2_molecule, None, "d")
        assert first == second
        second.cvd = "c"  # not frozen
        assert first != second
        assert repr(second).startswith("MolecularDMRGResult(molecule=")
        assert "dmrg='d', cvd='c', measurement=None)" in repr(second)


class TestDemoPresets:
    def test_keys_in_choice_order_with_record_keys_in_order(self, workflow):
        # The four molecules of the command line's first release come first, in order.
        assert list(workflow._DEMOS)[:4] == ["h2", "lih", "h2o-small", "h2o"]
        assert list(workflow._DEMOS)[4:] == ["h10", "h12", "h16"]
        for record in workflow._DEMOS.values():
            assert list(record) == ["geometry", "basis", "active_occupied", "active_virtual", "desc"]

    @pytest.mark.parametrize("key", ["h2", "lih", "h2o-small", "h2o", "h10", "h12", "h16"])
    def test_description_states_the_active_space_of_the_record(self, workflow, key):
        record = workflow._DEMOS[key]
        electrons = 2 * record["active_occupied"]
        orbitals = record["active_occupied"] + record["active_virtual"]
        expected = f"/{record['basis']} CAS({electrons}e,{orbitals}o) \u2192 {2 * orbitals} qubits"
        assert record["desc"].endswith(expected)

    @pytest.mark.parametrize(
        "key, atoms, desc",
        [
            ("h10", 10, "H\u2081\u2080/sto-3g CAS(10e,10o) \u2192 20 qubits"),
            ("h12", 12, "H\u2081\u2082/sto-3g CAS(12e,12o) \u2192 24 qubits"),
            ("h16", 16, "H\u2081\u2086/sto-3g CAS(16e,16o) \u2192 32 qubits"),
        ],
    )
    def test_hydrogen_chains_are_linear_one_angstrom_apart_with_every_orbital_active(self, workflow, key, atoms, desc):
        record = workflow._DEMOS[key]
        assert record["desc"] == desc
        assert record["geometry"] == [("H", (0.0, 0.0, float(k))) for k in range(atoms)]
        assert all(type(c) is float for _, position in record["geometry"] for c in position)
        assert (record["basis"], record["active_occupied"], record["active_virtual"]) == (
            "sto-3g",
            atoms // 2,
            atoms // 2,
        )
        molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
        assert record["desc"] == molecule.description

    def test_every_preset_builds_a_molecule(self, workflow):
        for key, record in workflow._DEMOS.items():
            molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
            assert isinstance(molecule, workflow.Molecule), key


class TestLoading:
    """A missing sibling name makes the module fail to load (checked in a fresh interpreter)."""

    SCRIPT = textwrap.dedent("""
        import sys, types
        import brimvale_chemistry.dmrg as dmrg_pkg
        import brimvale_chemistry.measurement as measurement
        import brimvale_chemistry.molecule as molecule
        for module, name in [(dmrg_pkg, "dmrg"), (measurement, "measurement_QASM"),
                             (molecule, "electronic_structure")]:
            if not hasattr(module, name):
                setattr(module, name, lambda *a, **k: None)
        corvinth = types.ModuleType("brimvale_chemistry.corvinth")
        corvinth.CvdResult = type("CvdResult", (), {})  # cvd_dmrg deliberately absent
        sys.modules[corvinth.__name__] = corvinth
        try:
            import brimvale_chemistry.workflow
        except ImportError as error:
            cause = error.__cause__ if error.__cause__ is not None else error
            print(type(cause).__name__, cause)
        else:
            print("loaded")
    """)

    def test_missing_stage_function_fails_the_import(self, workflow):
        package_dir = Path(workflow.__file__).resolve().parents[1]
        env = dict(os.environ, PYTHONPATH=str(package_dir))
        completed = subprocess.run(
            [sys.executable, "-c", self.SCRIPT], capture_output=True, text=True, env=env, timeout=120, check=True
        )
        assert re.fullmatch(
            r"ImportError cannot import name 'cvd_dmrg' from 'brimvale_chemistry\.corvinth' "
            r"\(unknown location\)\n",
            completed.stdout,
        ), completed.stdout
