"""FCIDUMP files of active-space integrals."""

from __future__ import annotations

import hashlib
import re
from pathlib import Path

from .. import _output
from ._active_space import ActiveSpace
from .records import Molecule

_HEADER = "&FCI"


def fcidump_name(molecule: Molecule, space: ActiveSpace) -> str:
    """A file name that tells the system apart from any other one.

    Formula, basis and active space make it readable; a digest of the whole
    molecule keeps, say, the points of a bond scan from overwriting each other.
    """
    digest = hashlib.sha256(repr(molecule).encode()).hexdigest()[:10]
    basis = re.sub(r"[^A-Za-z0-9+.-]", "_", molecule.basis)
    return f"{molecule.formula}_{basis}_CAS{space.n_electrons}e{space.n_orbitals}o_{digest}.FCIDUMP"


def _is_fcidump(path: Path) -> bool:
    with open(path, "rb") as handle:
        return handle.read(64).lstrip().upper().startswith(_HEADER.encode())


def _write_integrals(stream, space: ActiveSpace, twice_sz: int) -> None:
    """PySCF's ``from_integrals``, written to an open stream (it opens its file by name, following any link there)."""
    from pyscf.tools import fcidump

    n = space.n_orbitals
    fcidump.write_head(stream, n, space.n_electrons, ms=twice_sz)
    fcidump.write_eri(stream, space.two_body, n, tol=fcidump.TOL, float_format=fcidump.DEFAULT_FLOAT_FORMAT)
    fcidump.write_hcore(stream, space.one_body, n, tol=fcidump.TOL, float_format=fcidump.DEFAULT_FLOAT_FORMAT)
    stream.write((fcidump.DEFAULT_FLOAT_FORMAT + "  0  0  0  0\n") % space.core_energy)


def write_fcidump(path: Path, space: ActiveSpace, twice_sz: int) -> Path:
    """Write the active-space integrals to ``path``.

    The file is written beside its final place under a fresh name and renamed
    over it, so a reader never sees half a file, with the directory locked
    against other runs. An existing file is only replaced when it is itself an
    FCIDUMP (an earlier run); anything else, a symbolic link included, raises
    FileExistsError.
    """
    path = Path(path)
    with _output.locked_workdir(path.parent):
        _output.remove_leftover_temporaries(path.parent)
        if path.is_symlink():
            raise FileExistsError(f"{path} is a symbolic link; refusing to replace it")
        if path.exists() and (not path.is_file() or not _is_fcidump(path)):
            raise FileExistsError(f"{path} exists and is not an FCIDUMP file; refusing to overwrite it")
        _output.write_file(path, lambda stream: _write_integrals(stream, space, twice_sz))
    return path
