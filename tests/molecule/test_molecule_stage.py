"""The electronic-structure stage checked against physics, not against itself."""

import os
import re
import types

import numpy as np
import openfermion as of
import pytest
import scipy.sparse
from pyscf import ao2mo
from pyscf.tools import fcidump

from brimvale_chemistry import _output
from brimvale_chemistry.molecule import ElectronicStructureResult, Molecule, _active_space, electronic_structure
from brimvale_chemistry.molecule._active_space import build_active_space
from brimvale_chemistry.molecule._fcidump import fcidump_name
from brimvale_chemistry.utils import hamiltonian_expectation

WATER = [("O", (0.0, 0.0, 0.0)), ("H", (0.758602, 0.0, 0.504284)), ("H", (-0.758602, 0.0, 0.504284))]
SYSTEMS = {
    "h2": dict(geometry=[("H", (0, 0, 0)), ("H", (0, 0, 0.7414))], basis="sto-3g", active_occupied=1, active_virtual=1),
    "lih": dict(
        geometry=[("Li", (0, 0, 0)), ("H", (0, 0, 1.5949))], basis="sto-3g", active_occupied=2, active_virtual=2
    ),
    "h2o-small": dict(geometry=WATER, basis="sto-3g", active_occupied=2, active_virtual=2),
    # Open shell: ROHF reference, one active electron with Sz = +1/2.
    "h2-cation": dict(
        geometry=[("H", (0, 0, 0)), ("H", (0, 0, 1.0))],
        basis="sto-3g",
        active_occupied=1,
        active_virtual=1,
        charge=1,
        spin=1,
    ),
}


@pytest.fixture(scope="module")
def workdir(tmp_path_factory):
    return tmp_path_factory.mktemp("electronic_structure")


@pytest.fixture(scope="module")
def results(workdir):
    cache = {}

    def get(name):
        if name not in cache:
            cache[name] = electronic_structure(Molecule(**SYSTEMS[name]), workdir=workdir / name)
        return cache[name]

    return get


def popcount(values):
    return np.bitwise_count(values).astype(np.int64)


def pauli_matrix(terms, n_qubits):
    """Sparse matrix of a Pauli sum; bit q of a basis index is qubit q."""
    index = np.arange(1 << n_qubits, dtype=np.int64)
    rows, cols, values = [], [], []
    for term in terms:
        phase = 1j ** bin(term.x_mask & term.z_mask).count("1")
        sign = 1 - 2 * (popcount(index & term.z_mask) % 2)
        rows.append(index ^ term.x_mask)
        cols.append(index)
        values.append(term.coefficient * phase * sign)
    shape = (1 << n_qubits, 1 << n_qubits)
    return scipy.sparse.csr_matrix((np.concatenate(values), (np.concatenate(rows), np.concatenate(cols))), shape)


def spin_blocked_sector(n_orbitals, n_up, n_down):
    index = np.arange(1 << (2 * n_orbitals), dtype=np.int64)
    low = (1 << n_orbitals) - 1
    return index[(popcount(index & low) == n_up) & (popcount(index >> n_orbitals) == n_down)]


def electron_counts(result):
    n_up = (result.n_electrons + result.twice_sz) // 2
    return n_up, result.n_electrons - n_up


@pytest.mark.parametrize("name", list(SYSTEMS))
class TestQubitHamiltonian:
    def test_sector_ground_state_is_the_casci_energy(self, results, name):
        result = results(name)
        matrix = pauli_matrix(result.pauli_terms, result.n_qubits)
        assert abs(matrix - matrix.getH()).max() < 1e-12
        sector = spin_blocked_sector(result.n_spatial_orbitals, *electron_counts(result))
        block = matrix[sector][:, sector].toarray()
        assert np.linalg.eigvalsh(block)[0] == pytest.approx(result.exact_energy, abs=1e-8)

    def test_hartree_fock_determinant_has_the_scf_energy(self, results, name):
        result = results(name)
        n_up, n_down = electron_counts(result)
        n = result.n_spatial_orbitals
        occupied = sum(1 << q for q in range(n_up)) + sum(1 << (n + q) for q in range(n_down))
        state = np.zeros(1 << result.n_qubits, dtype=np.complex128)
        state[occupied] = 1.0
        energy = hamiltonian_expectation(state, result.pauli_terms, result.n_qubits)
        assert energy.real == pytest.approx(result.hf_energy, abs=1e-8)
        assert result.exact_energy <= result.hf_energy + 1e-10

    def test_counts_and_term_shapes(self, results, name):
        result = results(name)
        system = SYSTEMS[name]
        n_orbitals = system["active_occupied"] + system["active_virtual"]
        assert (result.n_spatial_orbitals, result.n_qubits) == (n_orbitals, 2 * n_orbitals)
        assert result.twice_sz == system.get("spin", 0)
        assert result.n_electrons == 2 * system["active_occupied"] - system.get("spin", 0)
        strings = [term.paulis for term in result.pauli_terms]
        assert len(set(strings)) == len(strings) and strings.count(()) == 1
        assert all(type(term.coefficient) is float and abs(term.coefficient) > 1e-12 for term in result.pauli_terms)
        assert all(q < result.n_qubits for term in result.pauli_terms for q in term.qubits)

    def test_fermion_terms_carry_the_same_spectrum_without_the_constant(self, results, name):
        result = results(name)
        operator = of.FermionOperator()
        for coefficient, ops in result.fermion_terms:
            assert ops, "the constant belongs to constant_energy, not to the fermion terms"
            assert all(0 <= mode < result.n_qubits and action in (0, 1) for mode, action in ops)
            operator += of.FermionOperator(ops, coefficient)
        n_modes = result.n_qubits
        n_orb = result.n_spatial_orbitals
        # Penalise every other (N, 2Sz) sector so the ground state is the molecule's.
        penalty = 40.0 * (
            (of.number_operator(n_modes) - result.n_electrons) ** 2 + (2 * of.sz_operator(n_orb) - result.twice_sz) ** 2
        )
        matrix = of.get_sparse_operator(operator + penalty, n_qubits=n_modes).toarray()
        lowest = np.linalg.eigvalsh(matrix)[0]
        assert lowest + result.constant_energy == pytest.approx(result.exact_energy, abs=1e-8)


class TestFcidump:
    @pytest.mark.parametrize("name", ["h2", "h2o-small", "h2-cation"])
    def test_reads_back_with_pyscf(self, results, name):
        result = results(name)
        data = fcidump.read(str(result.fcidump_path), verbose=False)
        n = result.n_spatial_orbitals
        assert (data["NORB"], data["NELEC"], data["MS2"]) == (n, result.n_electrons, result.twice_sz)
        assert data["ECORE"] == pytest.approx(result.constant_energy, abs=1e-13)
        np.testing.assert_allclose(data["H1"], result.extra["one_body_integrals"], atol=1e-13)
        np.testing.assert_allclose(ao2mo.restore(1, data["H2"], n), result.extra["two_body_integrals"], atol=1e-13)
        # Tie the file to the fermion terms too: h[p,q] is the up-spin hopping p <- q.
        hopping = {ops: c for c, ops in result.fermion_terms if len(ops) == 2}
        for p in range(n):
            for q in range(n):
                assert hopping.get(((2 * p, 1), (2 * q, 0)), 0.0) == pytest.approx(data["H1"][p, q], abs=1e-10)

    def test_rerun_replaces_its_own_file_and_leaves_nothing_else(self, tmp_path):
        molecule = Molecule(**SYSTEMS["h2"])
        first = electronic_structure(molecule, workdir=tmp_path / "a" / "b")
        second = electronic_structure(molecule, workdir=tmp_path / "a" / "b")
        assert first.fcidump_path == second.fcidump_path
        assert [p.name for p in (tmp_path / "a" / "b").iterdir()] == [first.fcidump_path.name]

    def test_different_geometries_get_different_files(self, tmp_path):
        stretched = dict(SYSTEMS["h2"], geometry=[("H", (0, 0, 0)), ("H", (0, 0, 0.9))])
        a = electronic_structure(Molecule(**SYSTEMS["h2"]), workdir=tmp_path)
        b = electronic_structure(Molecule(**stretched), workdir=tmp_path)
        assert a.fcidump_path != b.fcidump_path and a.fcidump_path.exists() and b.fcidump_path.exists()

    def test_foreign_file_is_never_overwritten(self, tmp_path):
        molecule = Molecule(**SYSTEMS["h2"])
        path = electronic_structure(molecule, workdir=tmp_path).fcidump_path
        path.write_text("somebody else's notes\n")
        with pytest.raises(FileExistsError, match="not an FCIDUMP"):
            electronic_structure(molecule, workdir=tmp_path)
        assert path.read_text() == "somebody else's notes\n"

    def test_bytes_are_those_pyscf_writes(self, results, tmp_path):
        result = results("h2o-small")
        expected = tmp_path / "expected"
        fcidump.from_integrals(
            str(expected),
            result.extra["one_body_integrals"],
            result.extra["two_body_integrals"],
            result.n_spatial_orbitals,
            result.n_electrons,
            nuc=result.constant_energy,
            ms=result.twice_sz,
        )
        assert result.fcidump_path.read_bytes() == expected.read_bytes()

    @pytest.mark.parametrize("where", ["final name", "temporary name"])
    def test_planted_links_are_never_followed(self, tmp_path, monkeypatch, where):
        molecule = Molecule(**SYSTEMS["h2"])
        victim = tmp_path / "victim"
        victim.write_text("precious")
        workdir = tmp_path / "run"
        workdir.mkdir()
        names = iter(["planted"] + [f"{k:016x}" for k in range(1, 10)])
        planted = workdir / (_output.TEMPORARY_PREFIX + "planted")

        def token_hex(n):  # an attacker wins the race for the first name drawn
            name = next(names)
            if name == "planted":
                planted.symlink_to(victim)
            return name

        monkeypatch.setattr(_output.secrets, "token_hex", token_hex)
        if where == "temporary name":
            path = electronic_structure(molecule, workdir=workdir).fcidump_path
            assert planted.is_symlink()
            assert not path.is_symlink() and path.read_text().lstrip().startswith("&FCI")
        else:
            path = workdir / fcidump_name(molecule, build_active_space(molecule))
            path.symlink_to(victim)
            with pytest.raises(FileExistsError, match="is a symbolic link; refusing to replace it"):
                electronic_structure(molecule, workdir=workdir)
            assert path.is_symlink()
        assert victim.read_text() == "precious"

    def test_leftovers_of_a_killed_run_go_and_the_file_follows_the_umask(self, tmp_path):
        leftover = tmp_path / (_output.TEMPORARY_PREFIX + "0123456789abcdef")
        leftover.write_text("&FCI half")
        previous = os.umask(0o027)
        try:
            path = electronic_structure(Molecule(**SYSTEMS["h2"]), workdir=tmp_path).fcidump_path
        finally:
            os.umask(previous)
        assert sorted(os.listdir(tmp_path)) == [path.name]
        assert os.stat(path).st_mode & 0o777 == 0o640


def test_hydrogen_molecule_matches_known_full_ci_energy(results):
    result = results("h2")
    assert isinstance(result, ElectronicStructureResult)
    # Full CI of H2/sto-3g at 0.7414 Å: -1.13727 Ha; Hartree-Fock: -1.11668 Ha.
    assert result.exact_energy == pytest.approx(-1.13727, abs=2e-5)
    assert result.hf_energy == pytest.approx(-1.11668, abs=2e-5)


def test_progress_lines(tmp_path, capsys):
    electronic_structure(Molecule(**SYSTEMS["h2"]), workdir=tmp_path)
    lines = capsys.readouterr().out.splitlines()
    assert lines[0] == "[1/4] Electronic structure"
    assert all(re.fullmatch(r"  .{22}: \S.*", line) for line in lines[1:])
    labels = [line[2:24].rstrip() for line in lines[1:]]
    assert labels == ["Molecule", "Active space", "Qubits", "Pauli terms", "RHF energy", "CASCI energy", "FCIDUMP"]
    assert "CAS(2e,2o)" in lines[2] and lines[3].endswith(": 4")


class TestCasciLimit:
    def test_determinant_rule_on_the_hydrogen_chains(self):
        # H12 keeps its reference (853,776 determinants), H16 (165,636,900) skips it.
        assert _active_space.MAX_CASCI_DETERMINANTS == 10**7
        assert _active_space.determinant_count(12, 6, 6) == 853_776
        assert _active_space.determinant_count(16, 8, 8) == 165_636_900
        assert _active_space.determinant_count(5, 3, 1) == 10 * 5

    def test_reference_is_kept_up_to_the_limit(self, tmp_path, capsys, monkeypatch):
        # H2 CAS(2e,2o) has 2 x 2 determinants; the skipped case runs through the workflow's tests.
        monkeypatch.setattr(_active_space, "MAX_CASCI_DETERMINANTS", 4)
        result = electronic_structure(Molecule(**SYSTEMS["h2"]), workdir=tmp_path)
        assert result.exact_energy == pytest.approx(-1.13727, abs=2e-5)


class TestStageErrors:
    @pytest.mark.parametrize(
        "changes, message",
        [
            (dict(active_occupied=2), "asks for 2 occupied orbitals but H2 has only 1"),
            (dict(active_virtual=2), "asks for 2 virtual orbitals but H2 in basis sto-3g has only 1"),
            (
                dict(geometry=[("Li", (0, 0, 0))], spin=1, active_occupied=0, active_virtual=2),
                "active_occupied must be at least spin",
            ),
            # The two 1s functions of atoms 1e-3 Å apart are one orbital to the SCF.
            (
                dict(geometry=[("H", (0, 0, 0)), ("H", (0, 0, 0.001))]),
                "asks for 1 virtual orbitals but H2 in basis sto-3g has only 0 once 1 linearly dependent basis "
                "function is dropped",
            ),
        ],
    )
    def test_impossible_active_space_fails_before_any_file(self, tmp_path, changes, message):
        molecule = Molecule(**dict(SYSTEMS["h2"], **changes))
        with pytest.raises(ValueError, match=re.escape(message)):
            electronic_structure(molecule, workdir=tmp_path / "never")
        assert not (tmp_path / "never").exists()

    def test_unconverged_scf_is_an_error(self, tmp_path, monkeypatch):
        monkeypatch.setattr(_active_space, "_SCF_MAX_CYCLE", 1)
        with pytest.raises(ValueError, match="did not converge"):
            electronic_structure(Molecule(**SYSTEMS["lih"]), workdir=tmp_path)
        assert list(tmp_path.iterdir()) == []

    def test_argument_types(self, tmp_path):
        with pytest.raises(TypeError, match="molecule must be a Molecule"):
            electronic_structure(SYSTEMS["h2"], workdir=tmp_path)
        with pytest.raises(TypeError, match="workdir must be a path or None"):
            electronic_structure(Molecule(**SYSTEMS["h2"]), workdir=3)
        with pytest.raises(TypeError):
            electronic_structure(Molecule(**SYSTEMS["h2"]), tmp_path)

    def test_workdir_that_is_a_file_is_reported(self, tmp_path):
        blocker = tmp_path / "file"
        blocker.write_text("keep")
        with pytest.raises(FileExistsError):
            electronic_structure(Molecule(**SYSTEMS["h2"]), workdir=blocker)
        assert blocker.read_text() == "keep"


def test_results_compare_without_tripping_over_arrays(results):
    result = results("h2")
    assert result == result and result != results("lih")


def test_repeated_runs_give_bit_identical_hamiltonians(results, tmp_path, capsys):
    first = results("h2o-small")
    again = electronic_structure(Molecule(**SYSTEMS["h2o-small"]), workdir=tmp_path)
    assert [t.coefficient for t in again.pauli_terms] == [t.coefficient for t in first.pauli_terms]
    assert again.fermion_terms == first.fermion_terms


def test_integrals_are_typed_fields_and_stay_in_extra(results):
    from brimvale_chemistry.molecule.records import integrals_of

    result = results("h2o-small")
    n = result.n_spatial_orbitals
    assert result.one_body_integrals.shape == (n, n) and result.two_body_integrals.shape == (n,) * 4
    assert result.one_body_integrals is result.extra["one_body_integrals"]
    assert result.two_body_integrals is result.extra["two_body_integrals"]
    assert integrals_of(result) == (result.one_body_integrals, result.two_body_integrals)
    # A result that carries them in extra only (another producer's) still gives them.
    legacy = types.SimpleNamespace(extra=dict(result.extra))
    assert integrals_of(legacy) == (result.extra["one_body_integrals"], result.extra["two_body_integrals"])
    assert integrals_of(types.SimpleNamespace()) == (None, None)
