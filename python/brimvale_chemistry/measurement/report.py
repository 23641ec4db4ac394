"""The lines the measurement stage prints once its files are written."""

from __future__ import annotations

import math

from ..utils import progress_line as _line
from . import files
from .arguments import StageArguments
from .sampling import EnergyEstimate


def print_report(arguments: StageArguments, n_groups: int, n_files: int, result: EnergyEstimate) -> None:
    terms = arguments.terms
    n_identity = sum(1 for t in terms if t.is_identity)
    _line("Pauli terms", f"{len(terms)} ({n_identity} identity, added exactly)")
    _line("Groups", n_groups)
    _line("Shots per group", arguments.shots)
    _line("Files written", f"{n_files} OpenQASM 2.0 under {files.QASM_DIR}/, summary {files.SUMMARY_NAME}")
    error = result.standard_error
    error_text = f"{error:.8f}" if math.isfinite(error) else "n/a (one shot per group)"
    _line("Estimated energy", f"{result.energy:.8f} ± {error_text} Hartree")
    _line("Exact energy", f"{result.exact:.8f} Hartree")
