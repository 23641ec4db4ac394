"""The DMRG stage: the active-space ground state by two-site DMRG over TeNPy."""

from __future__ import annotations

import contextlib
import logging
import math
import random
import time

import numpy as np

from . import mallorek
from .records import DmrgResult

__all__ = ["dmrg"]

# TeNPy draws its random unitaries from NumPy's global generator; a fixed seed
# makes the same Hamiltonian give the same psi0 on every run.
_TENPY_SEED = 20771
# Convergence of the sweeps: change of the energy per sweep (Hartree) and of
# the relative entanglement entropy.
_MAX_ENERGY_CHANGE = 1e-10
_MAX_ENTROPY_CHANGE = 1e-6
_LABEL_WIDTH = 22


def _line(label: str, value: str) -> None:
    print(f"  {label:<{_LABEL_WIDTH}}: {value}")


def _check_cutoff(cutoff) -> float:
    if isinstance(cutoff, (str, bytes)) or cutoff is None:
        raise TypeError(f"cutoff must be a number, got {type(cutoff).__name__}")
    value = float(cutoff)
    if not (value >= 0.0 and math.isfinite(value)):
        raise ValueError("cutoff must be a non-negative finite number")
    return value


def _hartree_fock_labels(n_sites: int, n_electrons: int, twice_sz: int) -> list[str]:
    """Aufbau occupation of the orbitals in their energy order, as site state names."""
    n_up = (n_electrons + twice_sz) // 2
    n_down = (n_electrons - twice_sz) // 2
    names = {(False, False): "empty", (True, False): "up", (False, True): "down", (True, True): "full"}
    return [names[(k < n_up, k < n_down)] for k in range(n_sites)]


@contextlib.contextmanager
def _seeded_tenpy_random_source():
    """Seed the generators TeNPy draws from; put the caller's state back afterwards."""
    numpy_state = np.random.get_state()
    python_state = random.getstate()
    np.random.seed(_TENPY_SEED)
    random.seed(_TENPY_SEED)
    try:
        yield
    finally:
        np.random.set_state(numpy_state)
        random.setstate(python_state)


@contextlib.contextmanager
def _quiet_tenpy_logging():
    logger = logging.getLogger("tenpy")
    level = logger.level
    logger.setLevel(logging.ERROR)
    try:
        yield
    finally:
        logger.setLevel(level)


def _run_engine(model, psi, maxdim: int, max_sweeps: int, cutoff: float):
    from tenpy.algorithms.dmrg import TwoSiteDMRGEngine

    options = {
        "trunc_params": {"chi_max": maxdim, "svd_min": cutoff},
        # The engine stops once its sweep count exceeds this value.
        "max_sweeps": max_sweeps - 1,
        "min_sweeps": 1,
        "max_E_err": _MAX_ENERGY_CHANGE,
        "max_S_err": _MAX_ENTROPY_CHANGE,
        "mixer": None,
    }
    engine = TwoSiteDMRGEngine(psi, model, options)
    energy, psi = engine.run()
    stats = engine.sweep_stats
    truncation_error = float(max(stats["max_trunc_err"], default=0.0))
    return float(energy), psi, int(engine.sweeps), truncation_error


def dmrg(electronic_structure_result, *, chi0=20, maxdim=100, max_sweeps=100, cutoff=1e-8) -> DmrgResult:
    """Ground state of the active-space Hamiltonian by two-site DMRG.

    The fermionic terms of ``electronic_structure_result`` become a TeNPy chain
    with one site per spatial orbital, conserving the electron number and
    2·Sz of the active space. DMRG starts from a random MPS of bond dimension
    ``chi0`` grown from the Hartree–Fock occupation, may reach bond dimension
    ``maxdim``, discards Schmidt values below ``cutoff`` and sweeps until the
    energy converges, at most ``max_sweeps`` times. Returns the dense ground
    state in the spin-blocked qubit order and the total energy (constant
    included). The result does not depend on the process's random state,
    which is left unchanged.
    """
    mallorek._validate_dmrg_parameters(chi0, maxdim, max_sweeps)
    cutoff = _check_cutoff(cutoff)
    chi0, maxdim, max_sweeps = int(chi0), int(maxdim), int(max_sweeps)
    es = electronic_structure_result
    n_qubits = int(es.n_qubits)
    n_sites = int(es.n_spatial_orbitals)
    if n_qubits != 2 * n_sites:
        raise ValueError(f"electronic structure has {n_qubits} qubits for {n_sites} spatial orbitals")
    target_charge = (int(es.n_electrons), int(es.twice_sz))

    print("[2/4] DMRG")
    _line("Parameters", f"chi0={chi0}, maxdim={maxdim}, max_sweeps={max_sweeps}, cutoff={cutoff:g}")
    start = time.perf_counter()
    local_terms = mallorek._fermion_to_local_terms(es.fermion_terms, n_qubits)
    model = mallorek._molecular_model(n_sites, local_terms)
    labels = _hartree_fock_labels(n_sites, *target_charge)
    with _seeded_tenpy_random_source(), _quiet_tenpy_logging():
        psi = mallorek._random_initial_mps(model.lat.mps_sites(), labels, chi0, target_charge)
        energy, psi, sweeps, truncation_error = _run_engine(model, psi, maxdim, max_sweeps, cutoff)
    psi0 = mallorek._mps_to_dense(psi, n_qubits)
    bond_dimensions = [int(chi) for chi in psi.chi]
    total_energy = energy + float(es.constant_energy)
    elapsed = time.perf_counter() - start

    _line("Energy (Hartree)", f"{total_energy:.10f}")
    exact = getattr(es, "exact_energy", None)
    difference = "n/a" if exact is None else f"{total_energy - float(exact):+.3e}"
    _line("Difference to exact", difference)
    _line("Max bond dimension", str(max(bond_dimensions, default=1)))
    _line("Sweeps", str(sweeps))
    return DmrgResult(psi0=psi0, energy=total_energy, bond_dimensions=bond_dimensions, sweeps=sweeps,
                      truncation_error=truncation_error, wall_time=elapsed)
