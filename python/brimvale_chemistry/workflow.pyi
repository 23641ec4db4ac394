"""Molecular electronic-structure, DMRG, CVD, and measurement pipeline."""

import os
from collections.abc import Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Literal, SupportsIndex, TypeAlias

from numpy.typing import DTypeLike

from .corvinth import CvdResult
from .dmrg import DmrgResult
from .measurement import MeasurementResult
from .molecule import ElectronicStructureResult, Molecule

_Stage: TypeAlias = Literal["electronic_structure", "dmrg", "cvd_dmrg", "measurement_QASM"]
_Gradient: TypeAlias = Literal["finite-difference", "analytic"]
_State: TypeAlias = Literal["dense", "mps"]
_Grouping: TypeAlias = Literal["qubit-wise", "basis-rotation"]

WORKFLOW_STAGES: tuple[_Stage, ...]
# Demo presets by key: geometry, basis, active_occupied, active_virtual, desc.
_DEMOS: dict[str, dict[str, Any]]

@dataclass
class MolecularDMRGResult:
    """Public stage results produced by :class:`MolecularDMRGWorkflow`."""

    molecule: Molecule
    electronic_structure: ElectronicStructureResult | None = None
    dmrg: DmrgResult | None = None
    cvd: CvdResult | None = None
    measurement: MeasurementResult | None = None
    # Wall time in seconds of every stage that ran, by stage name.
    stage_seconds: dict[str, float] = ...

class MolecularDMRGWorkflow:
    """Run the molecular workflow through a selected terminal stage."""

    # Set by the constructor, in this order; read again at every run.
    molecule: Molecule
    shots: int
    dmrg_chi0: int
    dmrg_maxdim: int
    dmrg_max_sweeps: int
    dmrg_cutoff: float
    layers: int | None
    renyi_indices: Sequence[float] | None
    cvd_maxiter: int
    cvd_restarts: int
    cvd_init_scale: float
    workdir: Path
    seed: int | None
    backend: str
    device: str
    dtype: Any
    threads: int | None
    cvd_gradient: _Gradient
    cvd_compact: bool
    cvd_refine: bool
    state: _State
    mps_max_bond: int | None
    measurement_grouping: _Grouping
    measurement_total_shots: int | None
    cvd_target_overlap: float | None
    cvd_max_cnots: int | None
    cvd_refine_seconds: float | None
    def __init__(
        self,
        molecule: Molecule,
        *,
        shots: SupportsIndex = 10000,
        dmrg_chi0: SupportsIndex = 20,
        dmrg_maxdim: SupportsIndex = 100,
        dmrg_max_sweeps: SupportsIndex = 100,
        dmrg_cutoff: float = 1e-08,
        layers: SupportsIndex | None = None,
        renyi_indices: Sequence[float] | None = None,
        cvd_maxiter: SupportsIndex = 200,
        cvd_restarts: SupportsIndex = 3,
        cvd_init_scale: float = 0.5,
        workdir: str | os.PathLike[str] | None = None,
        seed: SupportsIndex | None = 2077,
        backend: str = "numpy",
        device: str = "cpu",
        dtype: DTypeLike = ...,  # numpy.complex128
        threads: SupportsIndex | None = None,
        cvd_gradient: _Gradient = "finite-difference",
        cvd_compact: bool = False,
        cvd_refine: bool = False,
        state: _State = "dense",
        mps_max_bond: SupportsIndex | None = None,
        measurement_grouping: _Grouping = "qubit-wise",
        measurement_total_shots: SupportsIndex | None = None,
        cvd_target_overlap: float | None = None,
        cvd_max_cnots: SupportsIndex | None = None,
        cvd_refine_seconds: float | None = None,
    ) -> None:
        """Keep the molecule and the settings of its run; ``workdir`` None means the current directory."""

    def run(self, target: _Stage = "measurement_QASM") -> MolecularDMRGResult:
        """Run through ``target``; the default executes the complete workflow."""

def main() -> None:
    """Small command-line entry point for direct library experimentation."""
