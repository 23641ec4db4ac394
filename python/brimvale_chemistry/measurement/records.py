"""Result records of the measurement stage."""

from __future__ import annotations

from dataclasses import dataclass, field
from pathlib import Path

from ..utils import PauliTerm


@dataclass(frozen=True)
class MeasurementGroup:
    """Pauli terms measured together from one set of shots.

    The terms commute qubit-wise: on every qubit two of them share they carry
    the same letter, so one basis per qubit (``bases``, sorted by qubit)
    measures all of them at once.
    """

    terms: tuple[PauliTerm, ...]
    bases: tuple[tuple[int, str], ...]

    @property
    def x_mask(self) -> int:
        """Qubits measured in the X basis."""
        return sum(1 << q for q, letter in self.bases if letter == "X")

    @property
    def y_mask(self) -> int:
        """Qubits measured in the Y basis."""
        return sum(1 << q for q, letter in self.bases if letter == "Y")

    @property
    def label(self) -> str:
        """The measured bases as text, e.g. ``"X0 Y1 Z3"``."""
        return " ".join(f"{letter}{q}" for q, letter in self.bases)


@dataclass
class MeasurementResult:
    """Sampled energy of a state-preparation circuit, with the files written for it.

    ``energy`` is the identity part plus the sampled mean of every group;
    ``standard_error`` its standard error (NaN when one shot per group leaves
    the spread unknown); ``exact_energy`` the expectation value of the executed
    state. ``shots`` is the number of shots per group (with a ``total_shots``
    budget: that total, spread as ``group_shots``), ``files`` the OpenQASM
    files in group order and ``counts`` one mapping per group from outcome
    bitstring (c[n-1] … c[0], qubit 0 rightmost) to how often it was drawn.
    ``seed_entropy`` passed back as ``seed`` reproduces the run.

    ``grouping`` names how the groups were formed; with "basis-rotation"
    ``groups`` holds :class:`RotationGroup` objects, whose means include the
    constant (``identity_energy`` is then 0), and ``factorisation`` the
    truncation of the integrals' factorisation: its threshold, the factors
    kept and dropped, the bound of the error they cause and that error on
    this state (exact energy minus the sum of the groups' exact means).
    """

    energy: float
    standard_error: float
    exact_energy: float
    shots: int
    n_groups: int
    files: list[Path] = field(default_factory=list)
    summary_path: Path | None = None
    counts: list[dict[str, int]] = field(default_factory=list, repr=False)
    groups: list = field(default_factory=list, repr=False)  # MeasurementGroup, or RotationGroup
    identity_energy: float = 0.0
    seed_entropy: int | None = None
    grouping: str = "qubit-wise"
    group_shots: list[int] = field(default_factory=list, repr=False)
    factorisation: dict | None = field(default=None, repr=False)
