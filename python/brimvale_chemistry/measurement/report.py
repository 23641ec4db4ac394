"""The lines the measurement stage prints once its files are written."""

from __future__ import annotations

import math

from ..utils import progress_line as _line
from . import files
from .arguments import StageArguments
from .sampling import EnergyEstimate


def shots_line(arguments: StageArguments, group_shots: list[int] | None) -> None:
    if group_shots is None:
        _line("Shots per group", arguments.shots)
    else:
        spread = f"{min(group_shots):,} to {max(group_shots):,} per group" if group_shots else "no groups"
        _line("Total shots", f"{arguments.total_shots:,}, by weight: {spread}")


def print_report(
    arguments: StageArguments, n_groups: int, n_files: int, result: EnergyEstimate, group_shots: list[int] | None = None
) -> None:
    terms = arguments.terms
    n_identity = sum(1 for t in terms if t.is_identity)
    _line("Pauli terms", f"{len(terms)} ({n_identity} identity, added exactly)")
    _line("Groups", n_groups)
    shots_line(arguments, group_shots)
    print_result(n_files, result)


def print_result(n_files: int, result: EnergyEstimate) -> None:
    _line("Files written", f"{n_files} OpenQASM 2.0 under {files.QASM_DIR}/, summary {files.SUMMARY_NAME}")
    error = result.standard_error
    error_text = f"{error:.8f}" if math.isfinite(error) else "n/a (one shot per group)"
    _line("Estimated energy", f"{result.energy:.8f} ± {error_text} Hartree")
    _line("Exact energy", f"{result.exact:.8f} Hartree")
