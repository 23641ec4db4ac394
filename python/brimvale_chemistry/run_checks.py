"""The checks the command line makes of a whole run before its first stage.

A stage refuses a bad setting only when it starts, possibly after minutes of
the stages before it; a user's typing mistake should cost nothing and read as
one line. Each check here is the one the stage itself makes, with its words.
"""

from __future__ import annotations

from pathlib import Path

from . import _output
from .dmrg.driver import check_dense_fits
from .measurement import files as measurement_files
from .measurement.arguments import check_seed, check_shots
from .molecule._active_space import check_against_basis

# Indices of the stages, in the workflow's order.
_DMRG, _CVD, _MEASUREMENT = 1, 2, 3


def check_before_first_stage(workflow, last_stage: int) -> None:
    """Raise what a stage up to ``last_stage`` (0 … 3) would raise of the workflow's settings, before any runs."""
    check_against_basis(workflow.molecule)
    workdir = Path(workflow.workdir)
    if last_stage >= _MEASUREMENT:
        # The summary's owner only: the group files' names are known once the Hamiltonian is.
        measurement_files.check_destination(workdir, [measurement_files.SUMMARY_NAME])
    else:
        _output.check_workdir(workdir)
    _output.check_workdir_writable(workdir)
    if last_stage >= _DMRG and getattr(workflow, "state", "dense") == "dense":
        check_dense_fits(2 * workflow.molecule.n_active_orbitals)
    if last_stage >= _CVD:
        check_seed(workflow.seed)
    if last_stage >= _MEASUREMENT:
        check_shots(workflow.shots)
