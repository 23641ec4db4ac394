"""The defaults of a run that the stages written in Python read.

native/core/runtime/defaults.hpp holds the same values for the command line, the
workflow and the synthesis; a test keeps the two in step.
"""

SEED = 2077
SHOTS = 10000

DMRG_CHI0 = 20
DMRG_MAXDIM = 100
DMRG_MAX_SWEEPS = 100
DMRG_CUTOFF = 1e-8
