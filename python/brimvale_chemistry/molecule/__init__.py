"""Electronic-structure stage: molecules, active spaces and qubit Hamiltonians."""

from .records import ElectronicStructureResult, Molecule
from .stage import electronic_structure

__all__ = ["ElectronicStructureResult", "Molecule", "electronic_structure"]
