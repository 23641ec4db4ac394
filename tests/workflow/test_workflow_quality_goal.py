"""Asking the synthesis for a circuit by overlap or CNOT budget: workflow settings passed on only when set."""

from __future__ import annotations

import pytest


def test_passed_only_when_set(workflow, h2_molecule, stages, monkeypatch):
    workflow.MolecularDMRGWorkflow(h2_molecule).run()
    default = stages.call("cvd_dmrg").kwargs
    assert not {"target_overlap", "max_cnots", "refine_seconds"} & {k for k, _ in default}

    stages.calls.clear()
    flow = workflow.MolecularDMRGWorkflow(h2_molecule, cvd_target_overlap=0.99, cvd_refine_seconds=2)
    assert (flow.cvd_target_overlap, flow.cvd_max_cnots, flow.cvd_refine_seconds) == (0.99, None, 2.0)
    flow.run()
    synthesis = stages.call("cvd_dmrg").kwargs
    assert [k for k, _ in synthesis] == [k for k, _ in default] + ["target_overlap", "refine_seconds"]
    assert synthesis[-2:] == [("target_overlap", 0.99), ("refine_seconds", 2.0)]

    stages.calls.clear()
    monkeypatch.setattr("sys.argv", ["brimvale-chemistry", "--max-cnots", "42", "--target-overlap", "0.9"])
    workflow.main()
    assert stages.call("cvd_dmrg").kwargs[-2:] == [("target_overlap", 0.9), ("max_cnots", 42)]


@pytest.mark.parametrize(
    "settings, message",
    [
        ({"cvd_target_overlap": 1.2}, "cvd_target_overlap must be in (0, 1.0] or None"),
        ({"cvd_target_overlap": 0}, "cvd_target_overlap must be in (0, 1.0] or None"),
        ({"cvd_max_cnots": 0}, "cvd_max_cnots must be a positive integer or None"),
        ({"cvd_max_cnots": 5, "cvd_refine_seconds": -1.0}, "cvd_refine_seconds must be positive or None"),
        ({"cvd_refine_seconds": 3.0}, "cvd_refine_seconds applies with cvd_target_overlap or cvd_max_cnots only"),
    ],
)
def test_checked_on_construction(workflow, h2_molecule, settings, message):
    with pytest.raises(ValueError) as caught:
        workflow.MolecularDMRGWorkflow(h2_molecule, **settings)
    assert str(caught.value) == message
