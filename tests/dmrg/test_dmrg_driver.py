"""The DMRG stage end to end: energies, the dense state and its reproducibility."""

import random
import re
import sys

import numpy as np
import pytest
from conftest import PRESETS, fake_electronic_structure, random_hermitian_fermion_operator

from brimvale_chemistry.dmrg import DmrgResult, dmrg
from brimvale_chemistry.utils import hamiltonian_expectation


def energy_of(result, es):
    return hamiltonian_expectation(result.psi0, es.pauli_terms, es.n_qubits).real


class TestPresets:
    @pytest.mark.parametrize("key", list(PRESETS))
    def test_reaches_casci_and_psi0_carries_the_energy(self, preset_structures, key, capsys):
        es = preset_structures[key]
        result = dmrg(es)
        assert isinstance(result, DmrgResult)
        assert result.energy == pytest.approx(es.exact_energy, abs=1e-6)
        assert energy_of(result, es) == pytest.approx(result.energy, abs=1e-6)
        assert np.linalg.norm(result.psi0) == pytest.approx(1.0, abs=1e-10)
        assert result.psi0.shape == (2**es.n_qubits,)
        assert len(result.bond_dimensions) == es.n_spatial_orbitals - 1

    @pytest.mark.parametrize(
        "geometry, spin, occupied_state",
        [([("H", (0, 0, 0)), ("H", (0, 0, 0.7414))], 0, 0b11), ([("H", (0, 0, 0))], 1, 0b01)],
    )
    def test_one_orbital_active_space_is_solved_exactly(self, tmp_path, capsys, geometry, spin, occupied_state):
        from brimvale_chemistry.molecule import Molecule, electronic_structure

        molecule = Molecule(geometry=geometry, basis="sto-3g", active_occupied=1, active_virtual=0, spin=spin)
        es = electronic_structure(molecule, workdir=tmp_path)
        result = dmrg(es)
        assert result.energy == pytest.approx(es.exact_energy, abs=1e-12)
        assert energy_of(result, es) == pytest.approx(result.energy, abs=1e-12)
        # The sector holds one state: the orbital doubly occupied, resp. singly with spin up.
        assert np.abs(result.psi0).tolist() == [1.0 if i == occupied_state else 0.0 for i in range(4)]
        assert result.sweeps == 0 and result.bond_dimensions == []


class TestRandomHamiltonians:
    @pytest.mark.parametrize(
        "n_orbitals, n_up, n_down, seed",
        [(2, 1, 1, 0), (2, 2, 1, 1), (3, 2, 1, 2), (3, 1, 1, 3), (4, 2, 2, 4), (4, 3, 1, 5), (4, 0, 2, 6)],
    )
    def test_ground_energy_of_the_sector(self, n_orbitals, n_up, n_down, seed):
        op = random_hermitian_fermion_operator(np.random.default_rng(seed), n_orbitals, n_terms=16)
        es = fake_electronic_structure(op, n_orbitals, n_up, n_down, constant=-0.75)
        result = dmrg(es, maxdim=64)
        assert result.energy == pytest.approx(es.exact_energy, abs=1e-8)
        assert energy_of(result, es) == pytest.approx(result.energy, abs=1e-8)
        assert np.linalg.norm(result.psi0) == pytest.approx(1.0, abs=1e-10)


@pytest.fixture(scope="module")
def four_orbitals():
    op = random_hermitian_fermion_operator(np.random.default_rng(11), 4, n_terms=20)
    return fake_electronic_structure(op, 4, 2, 2)


class TestSettings:
    def test_same_input_same_state_and_global_random_state_untouched(self, four_orbitals):
        np.random.seed(5)
        random.seed(5)
        expected_numpy, expected_python = np.random.random(), random.random()
        np.random.seed(5)
        random.seed(5)
        first = dmrg(four_orbitals, chi0=4, maxdim=16)
        assert (np.random.random(), random.random()) == (expected_numpy, expected_python)
        np.random.seed(99)
        second = dmrg(four_orbitals, chi0=4, maxdim=16)
        np.testing.assert_array_equal(first.psi0, second.psi0)
        assert first.energy == second.energy

    @pytest.mark.parametrize("max_sweeps", [1, 2])
    def test_sweeps_are_capped(self, four_orbitals, max_sweeps):
        result = dmrg(four_orbitals, chi0=2, maxdim=16, max_sweeps=max_sweeps)
        assert result.sweeps == max_sweeps

    def test_small_bond_dimension_gives_an_approximate_state_with_a_warning(self, four_orbitals):
        with pytest.warns(UserWarning, match=r"^DMRG discarded a weight of .* the state is approximate") as record:
            small = dmrg(four_orbitals, chi0=2, maxdim=2)
        assert record[0].filename == __file__
        assert max(small.bond_dimensions) <= 2
        assert small.truncation_error > 1e-4
        assert small.energy >= four_orbitals.exact_energy - 1e-9
        assert energy_of(small, four_orbitals) == pytest.approx(small.energy, abs=1e-6)

    def test_progress_lines(self, four_orbitals, capsys):
        result = dmrg(four_orbitals, chi0=3, maxdim=20, max_sweeps=7, cutoff=1e-9)
        lines = capsys.readouterr().out.splitlines()
        assert lines[0] == "[2/4] DMRG"
        assert lines[1] == "  Parameters            : chi0=3, maxdim=20, max_sweeps=7, cutoff=1e-09"
        assert lines[2] == f"  DMRG energy           : {result.energy:.10f} Ha"
        assert re.fullmatch(r"  Difference to CASCI   : [+-]\d\.\d{3}e[+-]\d\d Ha", lines[3])
        assert lines[4] == f"  Max bond dimension    : {max(result.bond_dimensions)}"
        assert lines[5] == f"  Sweeps                : {result.sweeps}"
        assert len(lines) == 6

    def test_tenpy_logging_stays_quiet_and_its_level_is_restored(self, four_orbitals, caplog):
        import logging

        logger = logging.getLogger("tenpy")
        with caplog.at_level(logging.INFO):
            logger.setLevel(logging.INFO)
            dmrg(four_orbitals, chi0=2, maxdim=64)
            assert logger.level == logging.INFO
        assert not [r for r in caplog.records if r.name.startswith("tenpy")]


class TestMpsState:
    """state="mps": the MPO from the integrals, the state as an MPS only, the same energy and lines."""

    @pytest.mark.parametrize("key", list(PRESETS))
    def test_same_energy_as_the_term_built_path_without_terms_or_dense_vector(
        self, preset_structures, key, monkeypatch, capsys
    ):
        from brimvale_chemistry.dmrg import mallorek

        es = preset_structures[key]
        dense = dmrg(es)
        dense_lines = capsys.readouterr().out.splitlines()

        def forbidden(*args, **kwargs):
            raise AssertionError("the mps path builds no local terms and no dense vector")

        for name in ("_fermion_to_local_terms", "_molecular_model", "_mps_to_dense", "_electron_tensor_to_dense"):
            monkeypatch.setattr(mallorek, name, forbidden)
        compact = dmrg(es, state="mps")
        lines = capsys.readouterr().out.splitlines()
        assert compact.psi0 is None
        assert compact.energy == pytest.approx(dense.energy, abs=1e-9)
        norm = compact.mps.norm()
        assert compact.mps.expectation(es.pauli_terms).real / norm**2 == pytest.approx(compact.energy, abs=1e-9)
        assert abs(compact.mps.overlap(dense.mps)) == pytest.approx(1.0, abs=1e-8)
        assert [line[:26] for line in lines] == [line[:26] for line in dense_lines]
        assert lines[1] == dense_lines[1]

    def test_needs_the_integrals(self, four_orbitals, capsys):
        with pytest.raises(
            ValueError,
            match=r"^state='mps' builds the Hamiltonian from the active-space "
            r"integrals, which this electronic-structure result lacks",
        ):
            dmrg(four_orbitals, state="mps")
        assert capsys.readouterr().out == ""


class TestDenseRefusal:
    """A dense ground state the machine cannot hold is refused before any DMRG work."""

    @staticmethod
    def untouchable_structure(n_orbitals):
        from types import SimpleNamespace

        class Untouchable:
            def __iter__(self):
                raise AssertionError("the terms were read")

        return SimpleNamespace(
            n_qubits=2 * n_orbitals,
            n_spatial_orbitals=n_orbitals,
            n_electrons=n_orbitals,
            twice_sz=0,
            fermion_terms=Untouchable(),
            constant_energy=0.0,
            exact_energy=None,
        )

    def test_more_than_thirty_qubits(self, capsys):
        with pytest.raises(
            ValueError,
            match=r"^state='dense' holds the ground state as 2\*\*n amplitudes, for at "
            r"most 30 qubits; this active space has 32: use state='mps'$",
        ):
            dmrg(self.untouchable_structure(16))
        assert capsys.readouterr().out == ""

    def test_more_memory_than_the_machine_has(self, monkeypatch, capsys):
        from brimvale_chemistry.dmrg import driver

        monkeypatch.setattr(driver, "_physical_memory", lambda: 3 << 30)
        # 24 qubits fit in 3 GiB (two copies of 256 MiB); 28 qubits (8 GiB) do not.
        with pytest.raises(
            ValueError,
            match=r"^state='dense' needs about 8\.0 GiB for the ground state of 28 "
            r"qubits as 2\*\*28 amplitudes, more than the 3\.0 GiB of this "
            r"machine: use state='mps'$",
        ):
            dmrg(self.untouchable_structure(14))
        assert capsys.readouterr().out == ""
        driver.check_dense_fits(24)


class TestValidation:
    @pytest.mark.parametrize(
        "kwargs, exc, message",
        [
            ({"chi0": 0}, ValueError, "chi0 must be a positive integer"),
            ({"chi0": 30}, ValueError, "maxdim must be greater than or equal to chi0"),
            ({"max_sweeps": 2.5}, ValueError, "max_sweeps must be a positive integer"),
            ({"cutoff": -1e-3}, ValueError, "cutoff must be a non-negative finite number"),
            ({"cutoff": float("nan")}, ValueError, "cutoff must be a non-negative finite number"),
            ({"cutoff": "1e-8"}, TypeError, "cutoff must be a number, got str"),
            ({"state": "MPS"}, ValueError, "state must be 'dense' or 'mps'"),
            ({"state": None}, ValueError, "state must be 'dense' or 'mps'"),
        ],
    )
    def test_settings_are_checked_before_anything_is_built(self, kwargs, exc, message, capsys):
        settings = {"maxdim": 25, **kwargs}
        with pytest.raises(exc) as info:
            dmrg(object(), **settings)  # the result object is not even looked at
        assert str(info.value) == message
        assert capsys.readouterr().out == ""

    def test_settings_are_keyword_only(self, four_orbitals):
        with pytest.raises(TypeError):
            dmrg(four_orbitals, 20)

    def test_inconsistent_qubit_count(self, four_orbitals):
        from types import SimpleNamespace

        broken = SimpleNamespace(**{**vars(four_orbitals), "n_qubits": 6})
        with pytest.raises(ValueError, match="^electronic structure has 6 qubits for 4 spatial orbitals$"):
            dmrg(broken)

    def test_impossible_charge(self, four_orbitals):
        from types import SimpleNamespace

        odd = SimpleNamespace(**{**vars(four_orbitals), "n_electrons": 3, "twice_sz": 0})
        with pytest.raises(ValueError, match=r"^invalid target charge \(3, 0\)$"):
            dmrg(odd)

    def test_bad_fermion_terms_surface_while_building_the_model(self, four_orbitals):
        from types import SimpleNamespace

        bad = SimpleNamespace(**{**vars(four_orbitals), "fermion_terms": [(1.0, ((8, 1), (0, 0)))]})
        with pytest.raises(ValueError, match="^fermion mode 8 is outside 0:7$"):
            dmrg(bad)

    def test_package_import_does_not_load_tenpy(self, subprocess_env):
        import subprocess

        script = (
            "import sys, brimvale_chemistry.dmrg as d; "
            "print(any(m == 'tenpy' or m.startswith('tenpy.') for m in sys.modules))"
        )
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=subprocess_env)
        assert out.returncode == 0, out.stderr
        assert out.stdout.strip() == "False"
