"""The defaults and limits of a run that the stages written in Python read.

They are defined once, in native/core/runtime/defaults.hpp, for the command
line, the workflow and the synthesis as well; this module only names them.
"""

from ._kernels import (
    DMRG_CHI0,
    DMRG_CUTOFF,
    DMRG_MAX_SWEEPS,
    DMRG_MAXDIM,
    MAX_DENSE_QUBITS,
    MPS_MAX_BOND,
    MPS_ROUNDING_CUTOFF,
    SEED,
    SHOTS,
)

__all__ = [
    "DMRG_CHI0",
    "DMRG_CUTOFF",
    "DMRG_MAXDIM",
    "DMRG_MAX_SWEEPS",
    "MAX_DENSE_QUBITS",
    "MPS_MAX_BOND",
    "MPS_ROUNDING_CUTOFF",
    "SEED",
    "SHOTS",
]
