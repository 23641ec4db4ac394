"""DMRG stage: the active-space ground state as a matrix product state, returned dense."""

from .driver import dmrg
from .records import DmrgResult

__all__ = ["DmrgResult", "dmrg"]
