"""brimvale: a small quantum-circuit library with native state-vector and matrix-product-state simulators."""

from .circuit import MAX_QUBITS, Circuit, ExecutionResult, Operation
from .mps import MPS

__all__ = ["Circuit", "ExecutionResult", "MPS", "Operation", "MAX_QUBITS"]
