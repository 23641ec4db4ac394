"""``run_summary.json`` and ``cvd_convergence.png``: what a finished run leaves for its user.

The summary records the molecule and its active space, the energies of every
stage, the circuit's convergence layer by layer, its size, the sampled
estimate, every setting and seed, the wall time of each stage and the versions
of the package and its dependencies. Its numbers are the ones the stages
printed, at full precision.

Both files follow the stages' rules for output: written under the working
directory's lock, under a fresh temporary name renamed into place, never
through a link and never over a file a user made. The summary is this
package's own when it carries :data:`SUMMARY_FORMAT`, the figure when its PNG
text chunk names :data:`FIGURE_SOFTWARE`.
"""

from __future__ import annotations

import contextlib
import hashlib
import json
import math
import os
import platform
from importlib import metadata
from pathlib import Path

from .. import _output

SUMMARY_NAME = "run_summary.json"
FIGURE_NAME = "cvd_convergence.png"
SUMMARY_FORMAT = "brimvale_chemistry.run_summary/1"
FIGURE_SOFTWARE = "brimvale_chemistry convergence figure"
_DISTRIBUTIONS = ("brimvale-chemistry", "numpy", "scipy", "physics-tenpy", "openfermion", "pyscf", "matplotlib")


def _refuse(path: Path) -> None:
    raise FileExistsError(f"{path} exists and was not written by this package; refusing to overwrite it")


def _is_own_summary(path: Path) -> bool:
    try:
        record = json.loads(path.read_text(encoding="utf-8"))
    except (OSError, ValueError):
        return False
    return isinstance(record, dict) and record.get("format") == SUMMARY_FORMAT


def _is_own_figure(path: Path) -> bool:
    from PIL import Image

    try:
        with Image.open(path) as image:
            return image.format == "PNG" and image.info.get("Software") == FIGURE_SOFTWARE
    except (OSError, ValueError, SyntaxError):
        return False


def check_destination(workdir) -> None:
    """Raise FileExistsError unless the summary and the figure may be (re)written under ``workdir``."""
    workdir = Path(workdir)
    for name, is_own in ((SUMMARY_NAME, _is_own_summary), (FIGURE_NAME, _is_own_figure)):
        path = workdir / name
        if not os.path.lexists(path):
            continue
        if path.is_symlink() or not path.is_file() or not is_own(path):
            _refuse(path)


def _finite(value):
    """JSON has no NaN or infinity: such values are written as null."""
    if value is None:
        return None
    value = float(value)
    return value if math.isfinite(value) else None


def _versions() -> dict[str, str | None]:
    versions: dict[str, str | None] = {"python": platform.python_version()}
    for name in _DISTRIBUTIONS:
        try:
            versions[name] = metadata.version(name)
        except metadata.PackageNotFoundError:
            versions[name] = None
    return versions


# Settings recorded only when set, so that a default run's record stays as it was.
_RECORDED_WHEN_SET = {
    "measurement_grouping": "qubit-wise",
    "measurement_total_shots": None,
    "cvd_target_overlap": None,
    "cvd_max_cnots": None,
    "cvd_refine_seconds": None,
}


def _settings(workflow) -> dict:
    settings = {}
    for name, value in vars(workflow).items():
        if name == "molecule" or (name in _RECORDED_WHEN_SET and value == _RECORDED_WHEN_SET[name]):
            continue
        if name == "workdir":
            value = str(Path(value).resolve())
        elif name == "dtype":
            value = str(getattr(value, "__name__", value))
        elif name == "renyi_indices" and value is not None:
            value = [_finite(v) if math.isfinite(float(v)) else str(float(v)) for v in value]
        settings[name] = value
    return settings


def _molecule(molecule, structure) -> dict:
    return {
        "description": molecule.description,
        "formula": molecule.formula,
        "geometry": [[symbol, list(position)] for symbol, position in molecule.geometry],
        "units": "angstrom",
        "basis": molecule.basis,
        "charge": molecule.charge,
        "spin": molecule.spin,
        "active_space": {
            "active_occupied": molecule.active_occupied,
            "active_virtual": molecule.active_virtual,
            "electrons": structure.n_electrons,
            "orbitals": structure.n_spatial_orbitals,
        },
    }


def _layers(cvd) -> list[dict]:
    overlaps = list(getattr(cvd, "layer_overlaps", None) or [])
    energies = list(getattr(cvd, "layer_energies", None) or [None] * len(overlaps))
    cnots = list(getattr(cvd, "layer_cnot_counts", None) or [None] * len(overlaps))
    return [
        {"layer": k, "overlap": _finite(o), "energy": _finite(e), "cnots": c}
        for k, (o, e, c) in enumerate(zip(overlaps, energies, cnots))
    ]


def _measurement(measurement, total_shots) -> dict:
    grouping = getattr(measurement, "grouping", "qubit-wise")
    budget = total_shots is not None
    record = {
        "groups": measurement.n_groups,
        "shots_per_group": None if budget else measurement.shots,
        "seed_entropy": measurement.seed_entropy,
    }
    if grouping != "qubit-wise":
        record["grouping"] = grouping
        record["factorisation"] = getattr(measurement, "factorisation", None)
    if budget:
        record["total_shots"] = total_shots
        record["group_shots"] = list(measurement.group_shots)
    return record


def build_summary(workflow, result, *, synthesis_seed: int, figure_sha256: str | None) -> dict:
    """The summary of a run that reached the measurement stage, as a JSON-ready dict."""
    structure, dmrg, cvd, measurement = result.electronic_structure, result.dmrg, result.cvd, result.measurement
    exact = getattr(structure, "exact_energy", None)
    return {
        "format": SUMMARY_FORMAT,
        "molecule": _molecule(result.molecule, structure),
        "qubits": structure.n_qubits,
        "pauli_terms": len(structure.pauli_terms),
        "energies": {
            "hartree_fock": _finite(structure.hf_energy),
            "casci": _finite(exact),
            "dmrg": _finite(dmrg.energy),
            "circuit": _finite(cvd.energy),
            "sampled": _finite(measurement.energy),
            "sampled_standard_error": _finite(measurement.standard_error),
            "circuit_exact": _finite(measurement.exact_energy),
        },
        "dmrg": {
            "bond_dimensions": list(dmrg.bond_dimensions),
            "sweeps": dmrg.sweeps,
            "truncation_error": _finite(dmrg.truncation_error),
            # What the qubit MPS handed on dropped (max_bond, rounding).
            "mps_discarded_weight": _finite(getattr(dmrg, "mps_discarded_weight", None)),
        },
        "circuit": {
            "layers": _layers(cvd),
            "overlap": _finite(cvd.overlap_mod),
            "parameters": cvd.circuit_params,
            "cnot_count": getattr(cvd, "cnot_count", None),
            "two_qubit_depth": getattr(cvd, "two_qubit_depth", None),
            "renyi_indices": [_finite(a) if math.isfinite(a) else str(a) for a in cvd.renyi_indices],
            # What the synthesis on the MPS dropped; None on the dense path.
            "discarded_weight": _finite(getattr(cvd, "discarded_weight", None)),
            # True when "overlap" and the layers' overlaps come from a truncated MPS simulation.
            "overlap_is_estimate": bool(getattr(cvd, "overlap_is_estimate", False)),
        },
        "measurement": _measurement(measurement, getattr(workflow, "measurement_total_shots", None)),
        "settings": _settings(workflow) | {"synthesis_seed": synthesis_seed},
        "stage_seconds": dict(result.stage_seconds),
        "versions": _versions(),
        "files": {
            "convergence_figure": None if figure_sha256 is None else {"file": FIGURE_NAME, "sha256": figure_sha256}
        },
    }


def _figure(result) -> bytes | None:
    from .figure import render_convergence_png

    cvd, structure = result.cvd, result.electronic_structure
    overlaps = getattr(cvd, "layer_overlaps", None)
    if not overlaps:
        return None
    exact = getattr(structure, "exact_energy", None)
    reference, label = (exact, "CASCI") if exact is not None else (result.dmrg.energy, "DMRG")
    cnots = getattr(cvd, "layer_cnot_counts", None) or [0] * len(overlaps)
    return render_convergence_png(
        title=result.molecule.description,
        overlaps=overlaps,
        energies=getattr(cvd, "layer_energies", None) or [None] * len(overlaps),
        reference_energy=reference,
        reference_label=label,
        cnot_counts=cnots,
        software=FIGURE_SOFTWARE,
    )


def measure_and_record(workflow, result, measure, *, synthesis_seed: int) -> Path:
    """Run ``measure()`` (the measurement stage) and write the run record, both under one hold of the workdir's lock.

    The previous run's record and figure are retired before the stage changes
    anything, so whatever stops the run, and whichever run writes beside it,
    no record describes files it did not produce.
    """
    workdir = Path(workflow.workdir)
    try:
        workdir.mkdir(parents=True, exist_ok=True)
    except OSError:
        measure()  # the stage says, in its words, why the workdir cannot hold its files
        raise
    with _output.locked_workdir(workdir):
        check_destination(workdir)
        for name in (SUMMARY_NAME, FIGURE_NAME):
            with contextlib.suppress(FileNotFoundError):
                os.unlink(workdir / name)
        measure()
        return write_run_record(workflow, result, synthesis_seed=synthesis_seed)


def write_run_record(workflow, result, *, synthesis_seed: int) -> Path:
    """Write the figure, then the summary, under the workflow's workdir; returns the summary's path."""
    workdir = Path(workflow.workdir)
    with _output.locked_workdir(workdir):
        png = _figure(result)
        _output.remove_leftover_temporaries(workdir)
        check_destination(workdir)
        digest = None
        if png is not None:
            _output.write_bytes(workdir / FIGURE_NAME, png)
            digest = hashlib.sha256(png).hexdigest()
        summary = build_summary(workflow, result, synthesis_seed=synthesis_seed, figure_sha256=digest)
        _output.write_text(workdir / SUMMARY_NAME, json.dumps(summary, indent=2, ensure_ascii=False) + "\n")
    return workdir / SUMMARY_NAME
