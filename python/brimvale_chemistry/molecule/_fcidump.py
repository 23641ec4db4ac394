"""FCIDUMP files of active-space integrals."""

from __future__ import annotations

import hashlib
import os
import re
from pathlib import Path

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


def write_fcidump(path: Path, space: ActiveSpace, twice_sz: int) -> Path:
    """Write the active-space integrals to ``path``.

    The file is written beside its final place and renamed over it, so a
    reader never sees half a file. An existing file is only replaced when it
    is itself an FCIDUMP (an earlier run); anything else raises FileExistsError.
    """
    from pyscf.tools import fcidump

    path = Path(path)
    if path.exists() and (not path.is_file() or not _is_fcidump(path)):
        raise FileExistsError(f"{path} exists and is not an FCIDUMP file; refusing to overwrite it")
    partial = path.with_name(f".{path.name}.{os.getpid()}.partial")
    try:
        fcidump.from_integrals(str(partial), space.one_body, space.two_body, space.n_orbitals,
                               space.n_electrons, nuc=space.core_energy, ms=twice_sz)
        os.replace(partial, path)
    finally:
        if partial.exists():
            partial.unlink()
    return path
