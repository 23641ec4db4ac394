"""The DMRG stage: the active-space ground state by two-site DMRG over TeNPy."""

from __future__ import annotations

import contextlib
import logging
import math
import os
import random
import time
import warnings

import numpy as np

from brimvale.mps import truncation_for

from .. import _defaults
from .._progress import progress_bar
from ..molecule.records import integrals_of
from ..utils import progress_line as _line
from . import mallorek
from .integral_model import integral_model
from .lean_mpo import lean_mpo
from .qubit_mps import ROUNDING_CUTOFF, qubit_mps
from .records import DmrgResult

__all__ = ["dmrg"]

# TeNPy draws its random unitaries from NumPy's global generator; a fixed seed
# makes the same Hamiltonian give the same psi0 on every run.
_TENPY_SEED = 20771
# Convergence of the sweeps: change of the energy per sweep (Hartree) and of
# the relative entanglement entropy.
_MAX_ENERGY_CHANGE = 1e-10
_MAX_ENTROPY_CHANGE = 1e-6
# Discarded weight above which the caller is warned that the state is approximate.
_TRUNCATION_WARNING = 1e-4
# How the ground state is handed on: psi0 as a dense vector (with the same
# state as an MPS beside it), or the MPS alone.
STATES = ("dense", "mps")
# The dense vector holds 2**n complex amplitudes; the extraction keeps TeNPy's
# full contraction and the reordered vector side by side.
MAX_DENSE_QUBITS = _defaults.MAX_DENSE_QUBITS
_DENSE_COPIES = 2
_AMPLITUDE_BYTES = 16
_GIB = float(1 << 30)


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


def _check_state(state) -> str:
    if not (isinstance(state, str) and state in STATES):
        raise ValueError("state must be 'dense' or 'mps'")
    return state


def _physical_memory() -> int | None:
    """Bytes of memory the machine has, or None where the system does not say."""
    try:
        return os.sysconf("SC_PAGE_SIZE") * os.sysconf("SC_PHYS_PAGES")
    except (ValueError, OSError, AttributeError):
        return None


def check_dense_fits(n_qubits: int) -> None:
    """Refuse a dense ground state this machine cannot hold, before any DMRG work."""
    if n_qubits > MAX_DENSE_QUBITS:
        raise ValueError(
            f"state='dense' holds the ground state as 2**n amplitudes, for at most "
            f"{MAX_DENSE_QUBITS} qubits; this active space has {n_qubits}: use state='mps'"
        )
    needed = _DENSE_COPIES * _AMPLITUDE_BYTES << n_qubits
    available = _physical_memory()
    if available is not None and needed > available:
        raise ValueError(
            f"state='dense' needs about {needed / _GIB:.1f} GiB for the ground state of {n_qubits} "
            f"qubits as 2**{n_qubits} amplitudes, more than the {available / _GIB:.1f} GiB of this "
            "machine: use state='mps'"
        )


def _active_space_integrals(es, n_sites: int) -> tuple[np.ndarray, np.ndarray]:
    """h[p, q] and (pq|rs) of the electronic-structure result, which the MPS path builds its MPO from."""
    one_body, two_body = integrals_of(es)
    if one_body is None or two_body is None:
        raise ValueError(
            "state='mps' builds the Hamiltonian from the active-space integrals, which this "
            "electronic-structure result lacks (extra['one_body_integrals'] and "
            "extra['two_body_integrals'])"
        )
    one_body, two_body = np.asarray(one_body), np.asarray(two_body)
    if one_body.shape != (n_sites, n_sites) or two_body.shape != (n_sites,) * 4:
        raise ValueError(
            f"active-space integrals of shapes {one_body.shape} and {two_body.shape} for {n_sites} spatial orbitals"
        )
    return one_body, two_body


def _term_model(es, n_qubits: int, n_sites: int):
    """The model of the fermionic terms, with its MPO brought to its smallest bond dimension."""
    local_terms = mallorek._fermion_to_local_terms(es.fermion_terms, n_qubits)
    model = mallorek._molecular_model(n_sites, local_terms)
    _use_lean_mpo(model)
    return model


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


# The two-site engine needs a chain longer than the two sites it updates.
_SHORTEST_SWEPT_CHAIN = 3


def _solve_exactly(model, target_charge, product_state):
    """Ground state of a chain too short to sweep, by diagonalisation in the sector."""
    from tenpy.algorithms.exact_diag import ExactDiag

    if model.lat.N_sites == 1:
        # One site holds exactly one state of each charge (empty, up, down,
        # doubly occupied): the product state of the sector is its ground
        # state. (TeNPy's ExactDiag cannot build a one-site Hamiltonian: it
        # closes the MPO's right leg only on a site after the first.)
        return product_state, 0, 0.0

    solver = ExactDiag(model, charge_sector=list(target_charge))
    solver.build_full_H_from_mpo()
    solver.full_diagonalization()
    _, ground_state = solver.groundstate()
    return solver.full_to_mps(ground_state), 0, 0.0


def _use_lean_mpo(model) -> None:
    """Give the model the equivalent MPO of smallest bond dimension, which every later step uses."""
    model.H_MPO = lean_mpo(model.H_MPO)


@contextlib.contextmanager
def _sweeps_shown(engine):
    """Count the engine's sweeps on a progress bar while it runs (standard error, terminals only)."""
    bar = progress_bar(None, "DMRG", "sweep")
    if bar is None:
        yield
        return
    sweep = engine.sweep

    def counted(*args, **kwargs):
        result = sweep(*args, **kwargs)
        # Sweeps that only build environments optimise nothing.
        if kwargs.get("optimize", args[0] if args else True):
            bar.update(1)
            bar.set_postfix(max_bond=max(engine.psi.chi, default=1), refresh=False)
        return result

    engine.sweep = counted
    try:
        yield
    finally:
        bar.close()


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
        # A large discarded weight is what a small maxdim asks for; it is
        # reported to the caller (see dmrg) instead of aborting the run.
        "max_trunc_err": math.inf,
    }
    engine = TwoSiteDMRGEngine(psi, model, options)
    with _sweeps_shown(engine):
        _, psi = engine.run()
    stats = engine.sweep_stats
    # The discarded weight of the last sweep is what the returned state lacks.
    truncation_error = float(stats["max_trunc_err"][-1]) if stats["max_trunc_err"] else 0.0
    return psi, int(engine.sweeps), truncation_error


def dmrg(
    electronic_structure_result,
    *,
    chi0=_defaults.DMRG_CHI0,
    maxdim=_defaults.DMRG_MAXDIM,
    max_sweeps=_defaults.DMRG_MAX_SWEEPS,
    cutoff=_defaults.DMRG_CUTOFF,
    state="dense",
    max_bond=None,
) -> DmrgResult:
    """Ground state of the active-space Hamiltonian by two-site DMRG.

    The fermionic terms of ``electronic_structure_result`` become a TeNPy chain
    with one site per spatial orbital, conserving the electron number and
    2·Sz of the active space. DMRG starts from a random MPS of bond dimension
    ``chi0`` grown from the Hartree–Fock occupation, may reach bond dimension
    ``maxdim``, discards Schmidt values below ``cutoff`` and sweeps until the
    energy converges, at most ``max_sweeps`` times (chains of one or two
    orbitals are diagonalised exactly instead). Returns the dense ground state
    in the spin-blocked qubit order and its total energy (constant included).
    The result does not depend on the process's random state, which is left
    unchanged. Warns when the last sweep discarded a weight above 1e-4.

    ``state="mps"`` keeps the ground state compact: the Hamiltonian's MPO is
    built from the active-space integrals (``one_body_integrals`` and
    ``two_body_integrals``, or the same keys of ``extra``) instead of the
    fermionic terms, and
    the state is returned as ``mps`` only (``psi0`` None), for active spaces
    whose dense vector would not fit. ``state="dense"`` refuses such active
    spaces (more than 30 qubits, or more memory than the machine has) before
    any DMRG work. ``max_bond`` (state="mps" only) caps the bonds of the qubit
    MPS handed on (``mps_discarded_weight`` says what the cap dropped): the
    spin-blocked order separates the two spins in the middle of the chain,
    where the exact state may need thousands of Schmidt values.
    """
    mallorek._validate_dmrg_parameters(chi0, maxdim, max_sweeps)
    cutoff = _check_cutoff(cutoff)
    state = _check_state(state)
    truncation = truncation_for(max_bond, "state", "mps", state, ROUNDING_CUTOFF)
    chi0, maxdim, max_sweeps = int(chi0), int(maxdim), int(max_sweeps)
    es = electronic_structure_result
    n_qubits = int(es.n_qubits)
    n_sites = int(es.n_spatial_orbitals)
    if n_qubits != 2 * n_sites:
        raise ValueError(f"electronic structure has {n_qubits} qubits for {n_sites} spatial orbitals")
    target_charge = (int(es.n_electrons), int(es.twice_sz))
    if state == "dense":
        check_dense_fits(n_qubits)
    else:
        integrals = _active_space_integrals(es, n_sites)

    print("[2/4] DMRG")
    _line("Parameters", f"chi0={chi0}, maxdim={maxdim}, max_sweeps={max_sweeps}, cutoff={cutoff:g}")
    start = time.perf_counter()
    labels = _hartree_fock_labels(n_sites, *target_charge)
    with _seeded_tenpy_random_source(), _quiet_tenpy_logging():
        model = _term_model(es, n_qubits, n_sites) if state == "dense" else integral_model(*integrals)
        psi = mallorek._random_initial_mps(model.lat.mps_sites(), labels, chi0, target_charge)
        if n_sites < _SHORTEST_SWEPT_CHAIN:
            psi, sweeps, truncation_error = _solve_exactly(model, target_charge, psi)
        else:
            psi, sweeps, truncation_error = _run_engine(model, psi, maxdim, max_sweeps, cutoff)
        # The engine reports the energy before its last truncation; this is
        # the energy of the state actually returned, the one psi0 carries.
        energy = float(np.real(model.H_MPO.expectation_value(psi)))
    psi0 = mallorek._mps_to_dense(psi, n_qubits) if state == "dense" else None
    mps = qubit_mps(psi, n_qubits, max_bond=truncation.max_bond)
    bond_dimensions = [int(chi) for chi in psi.chi]
    total_energy = energy + float(es.constant_energy)
    elapsed = time.perf_counter() - start

    _line("DMRG energy", f"{total_energy:.10f} Ha")
    exact = getattr(es, "exact_energy", None)
    difference = "n/a" if exact is None else f"{total_energy - float(exact):+.3e} Ha"
    _line("Difference to CASCI", difference)
    _line("Max bond dimension", str(max(bond_dimensions, default=1)))
    _line("Sweeps", str(sweeps))
    if truncation_error > _TRUNCATION_WARNING:
        warnings.warn(
            f"DMRG discarded a weight of {truncation_error:.2e} (above {_TRUNCATION_WARNING:g}); "
            "the state is approximate, raise maxdim or lower cutoff",
            UserWarning,
            stacklevel=2,
        )
    return DmrgResult(
        psi0=psi0,
        energy=total_energy,
        bond_dimensions=bond_dimensions,
        sweeps=sweeps,
        truncation_error=truncation_error,
        wall_time=elapsed,
        mps=mps,
        mps_discarded_weight=mps.discarded_weight,
    )
