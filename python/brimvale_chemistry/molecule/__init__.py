"""Electronic-structure stage: molecules, active spaces and qubit Hamiltonians."""

from .records import ElectronicStructureResult, Molecule

__all__ = ["ElectronicStructureResult", "Molecule"]
