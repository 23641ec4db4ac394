"""Fixtures of the workflow tests.

The workflow binds the stage functions and result types of its sibling modules
when it loads. Where a sibling does not provide one of those names yet, a
minimal stand-in is installed before the workflow is imported, so that the
workflow's own behaviour can be tested; the same tests run unchanged against
the real modules once they provide the names. The end-to-end test is skipped
only while stand-ins are in use.

Unit tests replace the four stage functions on the workflow module with
recording fakes (``stages``): the workflow looks its stage functions up in its
module namespace at each call.
"""

from __future__ import annotations

import importlib
import sys
import types
from dataclasses import dataclass, field
from typing import Any

import pytest

WORKFLOW_MODULE = "brimvale_chemistry.workflow"

# Names the workflow imports when it loads, by sibling module.
SIBLING_NAMES = {
    "brimvale_chemistry.dmrg": ("DmrgResult", "dmrg"),
    "brimvale_chemistry.measurement": ("MeasurementResult", "measurement_QASM"),
    "brimvale_chemistry.molecule": ("ElectronicStructureResult", "Molecule", "electronic_structure"),
    "brimvale_chemistry.corvinth": ("CvdResult", "cvd_dmrg"),
}

STAGE_ORDER = ("electronic_structure", "dmrg", "cvd_dmrg", "measurement_QASM")


class _StandInMolecule:
    def __init__(self, **settings):
        self.__dict__.update(settings)


class _StandInRecord:
    def __init__(self, *args, **kwargs):
        self.args, self.kwargs = args, kwargs


def _stand_in_stage(name):
    def stage(*args, **kwargs):
        raise RuntimeError(f"stand-in for {name}: the real stage is not available")

    stage.__name__ = name
    return stage


def _stand_in(name):
    if name == "Molecule":
        return _StandInMolecule
    if name[0].isupper():
        return type(name, (_StandInRecord,), {})
    return _stand_in_stage(name)


def _provide_missing_sibling_names():
    """Install stand-ins for missing sibling names; returns (stand-in names, undo)."""
    missing, undo = [], []
    for module_name, names in SIBLING_NAMES.items():
        try:
            module = importlib.import_module(module_name)
        except ModuleNotFoundError as error:
            if error.name != module_name:
                raise  # the module exists but one of its own imports is missing
            module = types.ModuleType(module_name)
            sys.modules[module_name] = module
            parent_name, _, child = module_name.rpartition(".")
            setattr(sys.modules[parent_name], child, module)
            undo.append(lambda n=module_name, p=parent_name, c=child: (
                sys.modules.pop(n, None), delattr(sys.modules[p], c)))
        for name in names:
            if not hasattr(module, name):
                setattr(module, name, _stand_in(name))
                missing.append(f"{module_name}.{name}")
                undo.append(lambda m=module, n=name: delattr(m, n))
    return missing, undo


@dataclass
class _LoadedWorkflow:
    module: Any
    stand_ins: list = field(default_factory=list)


@pytest.fixture(scope="session")
def loaded_workflow():
    stand_ins, undo = _provide_missing_sibling_names()
    module = importlib.import_module(WORKFLOW_MODULE)
    yield _LoadedWorkflow(module, stand_ins)
    for step in reversed(undo):
        step()


@pytest.fixture
def workflow(loaded_workflow):
    """The ``brimvale_chemistry.workflow`` module."""
    return loaded_workflow.module


def preset_molecule(workflow, key="h2"):
    """The ``Molecule`` of a demo preset, built as the command line builds it."""
    record = workflow._DEMOS[key]
    return workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})


@pytest.fixture
def h2_molecule(workflow):
    return preset_molecule(workflow)


@dataclass
class StageCall:
    stage: str
    args: tuple
    kwargs: list  # (keyword, value) pairs in the order they were passed


class RecordingStages:
    """Recording fakes of the four stage functions.

    Every fake prints one line "[k/4] <stage>" so console output can be
    checked for order, records its call, and returns a distinct result object;
    ``fail`` makes one stage raise ``error`` instead.
    """

    def __init__(self):
        self.calls: list[StageCall] = []
        self.structure = types.SimpleNamespace(pauli_terms=["H-term"], n_qubits=4)
        self.dmrg_result = types.SimpleNamespace(psi0="state")
        self.cvd_result = types.SimpleNamespace(circuit="circuit")
        self.measurement_result = types.SimpleNamespace(energy=-1.0)
        self.fail: str | None = None
        self.error = RuntimeError("stage failed")

    def _fake(self, stage, result):
        def fake(*args, **kwargs):
            print(f"[{STAGE_ORDER.index(stage) + 1}/4] {stage}")
            self.calls.append(StageCall(stage, args, list(kwargs.items())))
            if stage == self.fail:
                raise self.error
            return result

        return fake

    def install(self, monkeypatch, workflow):
        results = (self.structure, self.dmrg_result, self.cvd_result, self.measurement_result)
        for stage, result in zip(STAGE_ORDER, results):
            monkeypatch.setattr(workflow, stage, self._fake(stage, result))
        # The run record reads real results; with fakes in place only its calls are recorded.
        from brimvale_chemistry.report import summary
        self.run_records = []
        monkeypatch.setattr(summary, "write_run_record",
                            lambda wf, result, **kwargs: self.run_records.append((wf, result, kwargs)))
        return self

    @property
    def names(self):
        return [call.stage for call in self.calls]

    def call(self, stage):
        (found,) = [c for c in self.calls if c.stage == stage]
        return found


@pytest.fixture
def stages(monkeypatch, workflow):
    return RecordingStages().install(monkeypatch, workflow)
