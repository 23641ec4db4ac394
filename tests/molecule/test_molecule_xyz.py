"""XYZ files: the first frame read into a geometry; every malformed line named."""

import pytest

from brimvale_chemistry.molecule import Molecule
from brimvale_chemistry.molecule.xyz import XyzFormatError, read_xyz

WATER = "3\n  water, experimental geometry \nO 0.0 0.0 0.0\nh 0.758602 0.0 0.504284 -0.4\n1 -0.758602 0 0.504284\n\n"


def test_reads_symbols_numbers_and_extra_columns(tmp_path):
    path = tmp_path / "water.xyz"
    path.write_text(WATER)
    xyz = read_xyz(path)
    assert xyz.comment == "water, experimental geometry"
    assert xyz.geometry == (("O", (0.0, 0.0, 0.0)), ("H", (0.758602, 0.0, 0.504284)), ("H", (-0.758602, 0.0, 0.504284)))
    molecule = Molecule(geometry=xyz.geometry, basis="sto-3g", active_occupied=2, active_virtual=2)
    assert molecule.description == "H\u2082O/sto-3g CAS(4e,4o) \u2192 8 qubits"


@pytest.mark.parametrize(
    "text, line, reason",
    [
        ("", 1, "expected the number of atoms, found the end of the file"),
        ("three\nc\n", 1, "expected the number of atoms (a positive integer), found 'three'"),
        ("0\nc\n", 1, "expected the number of atoms (a positive integer), found '0'"),
        ("1\n", 2, "expected a comment line, found the end of the file"),
        ("2\nc\nH 0 0 0\n", 4, "expected atom 2 of 2, found the end of the file"),
        ("1\nc\nH 0 0\n", 3, "expected an element and three coordinates, found 'H 0 0'"),
        ("1\nc\nXx 0 0 0\n", 3, "unknown element 'Xx'"),
        ("1\nc\n200 0 0 0\n", 3, "no element has atomic number 200"),
        ("1\nc\nH 0 zero 0\n", 3, "coordinate y 'zero' is not a number"),
        ("1\nc\nH 0 0 nan\n", 3, "coordinate z 'nan' is not finite"),
        ("1\nc\nH 0 0 0\n\n1\nc\nH 0 0 1\n", 5, "unexpected content after the 1 atoms announced on line 1"),
    ],
)
def test_malformed_files_name_the_line(tmp_path, text, line, reason):
    path = tmp_path / "bad.xyz"
    path.write_text(text)
    with pytest.raises(XyzFormatError) as caught:
        read_xyz(path)
    assert str(caught.value) == f"{path}, line {line}: {reason}"
