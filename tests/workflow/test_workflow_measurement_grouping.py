"""The measurement's grouping and shot budget as workflow settings: passed on only when set."""

from __future__ import annotations

import numpy as np
import pytest


def test_passed_only_when_set_with_the_integrals(workflow, h2_molecule, stages, monkeypatch):
    workflow.MolecularDMRGWorkflow(h2_molecule).run()
    default = stages.call("measurement_QASM").kwargs
    assert not {"grouping", "total_shots", "integrals"} & {k for k, _ in default}

    structure = stages.structure
    structure.n_spatial_orbitals, structure.constant_energy = 2, 0.5
    structure.extra = {"one_body_integrals": np.eye(2), "two_body_integrals": np.zeros((2,) * 4)}
    structure.extra |= {"n_alpha": 1, "n_beta": 1}
    stages.calls.clear()
    workflow.MolecularDMRGWorkflow(h2_molecule, measurement_grouping="basis-rotation").run()
    measurement = stages.call("measurement_QASM").kwargs
    assert [k for k, _ in measurement] == [k for k, _ in default] + ["grouping", "integrals"]
    constant, one_body, _, occupations = dict(measurement)["integrals"]
    assert constant == 0.5 and one_body is structure.extra["one_body_integrals"]
    assert list(occupations) == [2.0, 0.0]

    stages.calls.clear()
    monkeypatch.setattr("sys.argv", ["brimvale-chemistry", "--total-shots", "5000"])
    workflow.main()
    assert stages.call("measurement_QASM").kwargs[-1] == ("total_shots", 5000)


@pytest.mark.parametrize(
    "settings, message",
    [
        ({"measurement_total_shots": 0}, "measurement_total_shots must be a positive integer or None"),
        ({"measurement_grouping": "pauli"}, "measurement_grouping must be 'qubit-wise' or 'basis-rotation'"),
    ],
)
def test_checked_on_construction(workflow, h2_molecule, settings, message):
    with pytest.raises(ValueError) as caught:
        workflow.MolecularDMRGWorkflow(h2_molecule, **settings)
    assert str(caught.value) == message
