"""Measurement stage: OpenQASM files per qubit-wise commuting group and a sampled energy estimate."""

from .grouping import group_qubitwise_commuting
from .integrals import active_space_integrals
from .records import MeasurementGroup, MeasurementResult
from .rotation_groups import RotationGroup
from .stage import measurement_QASM

__all__ = [
    "MeasurementGroup",
    "MeasurementResult",
    "group_qubitwise_commuting",
    "measurement_QASM",
    "RotationGroup",
    "active_space_integrals",
]
