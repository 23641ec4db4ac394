"""Molecule construction and validation."""

import math

import numpy as np
import pytest

from brimvale_chemistry.molecule import Molecule

WATER = [("O", (0.0, 0.0, 0.0)), ("H", (0.758602, 0.0, 0.504284)), ("H", (-0.758602, 0.0, 0.504284))]


def make(**changes):
    settings = dict(
        geometry=[("H", (0, 0, 0)), ("H", (0, 0, 0.7414))], basis="sto-3g", active_occupied=1, active_virtual=1
    )
    settings.update(changes)
    return Molecule(**settings)


class TestValidMolecules:
    def test_preset_values_are_kept_as_floats(self):
        molecule = make()
        assert molecule.geometry == (("H", (0.0, 0.0, 0.0)), ("H", (0.0, 0.0, 0.7414)))
        assert all(type(c) is float for _, xyz in molecule.geometry for c in xyz)
        assert (molecule.basis, molecule.active_occupied, molecule.active_virtual) == ("sto-3g", 1, 1)
        assert (molecule.charge, molecule.spin) == (0, 0)

    def test_electron_counts_and_formula(self):
        water = Molecule(geometry=WATER, basis="6-31g", active_occupied=3, active_virtual=4)
        assert (water.n_electrons, water.n_occupied_orbitals, water.n_active_orbitals) == (10, 5, 7)
        assert water.formula == "H2O"
        cation = make(charge=1, spin=1)
        assert (cation.n_electrons, cation.n_occupied_orbitals) == (1, 1)
        methane = make(
            geometry=[("H", (1, 1, 1)), ("C", (0, 0, 0)), ("H", (-1, -1, 1)), ("H", (1, -1, -1)), ("H", (-1, 1, -1))]
        )
        assert methane.formula == "CH4"

    def test_numpy_values_and_symbol_spelling_accepted(self):
        molecule = make(
            geometry=[("li", np.array([0.0, 0.0, 0.0])), ("H", (np.float32(0), np.int64(0), 1.6))],
            active_occupied=np.int64(2),
            active_virtual=np.int32(2),
        )
        assert molecule.geometry[0][0] == "Li"
        assert type(molecule.active_occupied) is int and molecule.active_occupied == 2

    def test_repr_rebuilds_an_equal_molecule(self):
        molecule = make(charge=1, spin=1)
        rebuilt = eval(repr(molecule), {"Molecule": Molecule})
        assert rebuilt == molecule and hash(rebuilt) == hash(molecule)
        assert rebuilt != make()

    def test_attributes_cannot_be_changed_after_validation(self):
        molecule = make()
        with pytest.raises(AttributeError):
            molecule.active_virtual = -5
        with pytest.raises(AttributeError):
            molecule.new_attribute = 1

    def test_constructor_takes_keywords_only(self):
        with pytest.raises(TypeError):
            Molecule([("H", (0, 0, 0))], "sto-3g", 1, 1)


class TestRejectedMolecules:
    @pytest.mark.parametrize(
        "changes, error, message",
        [
            (dict(geometry=[]), ValueError, "geometry must contain at least one atom"),
            (dict(geometry="H 0 0 0"), TypeError, "geometry must be a sequence"),
            (dict(geometry=5), TypeError, "geometry must be a sequence"),
            (dict(geometry=[("Xx", (0, 0, 0))]), ValueError, "unknown element 'Xx' in atom 0"),
            (dict(geometry=[("H", (0, 0, 0)), (1, (0, 0, 1))]), TypeError, "element symbol of atom 1"),
            (dict(geometry=[("H", (0, 0, 0, 1))]), ValueError, "atom 0 must have 3 coordinates"),
            (dict(geometry=[("H", 0.7)]), TypeError, "position of atom 0 must be three numbers"),
            (dict(geometry=[("H", "000")]), TypeError, "position of atom 0 must be three numbers"),
            (dict(geometry=[("H",)]), ValueError, "atom 0 must be a pair"),
            (dict(geometry=[("H", (0, 0, math.nan))]), ValueError, "coordinate z of atom 0 must be finite"),
            (dict(geometry=[("H", (0, -math.inf, 0))]), ValueError, "coordinate y of atom 0 must be finite"),
            (dict(geometry=[("H", ("0", 0, 0))]), TypeError, "coordinate x of atom 0 must be a real number"),
            (dict(geometry=[("H", (True, 0, 0))]), TypeError, "coordinate x of atom 0 must be a real number"),
            (dict(geometry=[("H", (0, 0, 0)), ("H", (0, 0, 0))]), ValueError, "atoms 0 and 1 are at the same"),
            (dict(basis=None), TypeError, "basis must be a string"),
            (dict(basis="  "), ValueError, "basis must name a basis set"),
            (dict(active_occupied=-1), ValueError, "active_occupied must be non-negative"),
            (dict(active_virtual=-2), ValueError, "active_virtual must be non-negative"),
            (dict(active_occupied=0, active_virtual=0), ValueError, "at least one orbital"),
            (dict(active_occupied=True), TypeError, "active_occupied must be an integer"),
            (dict(active_virtual=1.0), TypeError, "active_virtual must be an integer"),
            (dict(charge="0"), TypeError, "charge must be an integer"),
            (dict(spin=-1), ValueError, "spin (2S) must be non-negative"),
            (dict(spin=1), ValueError, "spin (2S) 1 does not fit 2 electrons"),
            (dict(spin=4, charge=-1), ValueError, "spin (2S) 4 does not fit 3 electrons"),
            (dict(charge=2), ValueError, "charge 2 leaves 0 electrons"),
        ],
    )
    def test_clear_error(self, changes, error, message):
        with pytest.raises(error) as info:
            make(**changes)
        assert message in str(info.value)
