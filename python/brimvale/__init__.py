"""brimvale: a small quantum-circuit library with a native state-vector simulator."""

from .circuit import MAX_QUBITS, Circuit, ExecutionResult, Operation

__all__ = ["Circuit", "ExecutionResult", "Operation", "MAX_QUBITS"]
