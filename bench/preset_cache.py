"""A demo preset's DMRG result and Hamiltonian, run through the workflow's stages and kept between invocations."""

from __future__ import annotations

import contextlib
import io
import json
import os
import tempfile

import numpy as np

from brimvale_chemistry import workflow
from brimvale_chemistry.utils import PauliTerm


def run_to_dmrg(key: str):
    """(DmrgResult, pauli_terms, exact energy) of preset ``key``, its stage lines silenced."""
    record = workflow._DEMOS[key]
    molecule = workflow.Molecule(**{k: v for k, v in record.items() if k != "desc"})
    with tempfile.TemporaryDirectory() as workdir, contextlib.redirect_stdout(io.StringIO()):
        result = workflow.MolecularDMRGWorkflow(molecule, workdir=workdir).run("dmrg")
    structure = result.electronic_structure
    return result.dmrg, structure.pauli_terms, float(structure.exact_energy)


def load(path: str | None):
    """(arrays, pauli_terms) from a cache file written by ``save``, or None when there is none."""
    if not (path and os.path.exists(path)):
        return None
    with np.load(path, allow_pickle=False) as data:
        arrays = {name: data[name] for name in data.files}
    terms = [
        PauliTerm(complex(c) if c.imag else float(c.real), tuple(map(tuple, p)))
        for c, p in zip(arrays.pop("coefficients"), json.loads(str(arrays.pop("paulis"))))
    ]
    return arrays, terms


def save(path: str | None, terms, **arrays) -> None:
    """Writes ``arrays`` and ``terms`` under a fresh name beside ``path``, then renames it into place."""
    if not path:
        return
    directory = os.path.dirname(path)
    os.makedirs(directory, exist_ok=True)
    handle, temporary = tempfile.mkstemp(dir=directory, suffix=".npz")
    with os.fdopen(handle, "wb") as stream:
        np.savez(
            stream,
            coefficients=np.array([complex(t.coefficient) for t in terms]),
            paulis=json.dumps([list(map(list, t.paulis)) for t in terms]),
            **arrays,
        )
    # mkstemp creates the file owner-only; the cache follows the umask like any other file.
    mask = os.umask(0)
    os.umask(mask)
    os.chmod(temporary, 0o666 & ~mask)
    os.replace(temporary, path)
