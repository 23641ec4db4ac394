"""Fixtures of the workflow tests.

Unit tests replace the four stage functions on the workflow module with
recording fakes (``stages``): the workflow looks its stage functions up in its
module namespace at each call.
"""

from __future__ import annotations

import importlib
import types
from dataclasses import dataclass

import pytest

WORKFLOW_MODULE = "brimvale_chemistry.workflow"

STAGE_ORDER = ("electronic_structure", "dmrg", "cvd_dmrg", "measurement_QASM")


@pytest.fixture
def workflow():
    """The ``brimvale_chemistry.workflow`` module."""
    return importlib.import_module(WORKFLOW_MODULE)


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
        monkeypatch.setattr(
            summary, "write_run_record", lambda wf, result, **kwargs: self.run_records.append((wf, result, kwargs))
        )
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
