"""Measurement stage: OpenQASM files per commuting group and a sampled energy estimate."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path

__all__ = ["MeasurementResult"]


@dataclass
class MeasurementResult:
    """Sampled energy of a state-preparation circuit, with the files written for it."""

    energy: float
    standard_error: float
    exact_energy: float
    shots: int
    n_groups: int
    files: list[Path] = field(default_factory=list)
    summary_path: Path | None = None
    counts: list[dict[str, int]] = field(default_factory=list, repr=False)
