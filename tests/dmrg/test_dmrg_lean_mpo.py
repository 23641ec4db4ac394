"""The model's MPO (TeNPy's own, built faster) and its lean equivalent the sweeps run on."""

import contextlib
import io

import numpy as np
import pytest
from conftest import fake_electronic_structure, mpo_matrix, random_hermitian_fermion_operator

from brimvale_chemistry.dmrg import driver
from brimvale_chemistry.dmrg import mallorek as mk
from brimvale_chemistry.dmrg.lean_mpo import lean_mpo


def model_of(op, n_orbitals):
    terms = [(coeff, term) for term, coeff in op.terms.items()]
    return mk._molecular_model(n_orbitals, mk._fermion_to_local_terms(terms, 2 * n_orbitals))


@pytest.mark.parametrize("n_orbitals, seed", [(3, 0), (4, 1)])
def test_model_mpo_is_the_one_tenpy_builds(n_orbitals, seed):
    from tenpy.models.model import CouplingMPOModel

    model = model_of(random_hermitian_fermion_operator(np.random.default_rng(seed), n_orbitals, 30), n_orbitals)
    reference = CouplingMPOModel.calc_H_MPO(model)
    ours = model.H_MPO
    assert (ours.IdL, ours.IdR, ours.max_range, ours.explicit_plus_hc) == (
        reference.IdL,
        reference.IdR,
        reference.max_range,
        reference.explicit_plus_hc,
    )
    for mine, theirs in zip(ours._W, reference._W):
        for leg, other in zip(mine.legs, theirs.legs):
            leg.test_equal(other)
        assert mine.get_leg_labels() == theirs.get_leg_labels() and mine.dtype == theirs.dtype
        np.testing.assert_array_equal(mine.qtotal, theirs.qtotal)
        theirs = theirs.copy()
        theirs.isort_qdata()  # TeNPy keeps its blocks in insertion order
        np.testing.assert_array_equal(mine._qdata, theirs._qdata)
        for block, other in zip(mine._data, theirs._data):
            np.testing.assert_array_equal(block, other)


def graded_operator(rng, n_orbitals):
    """A random Hermitian operator whose coefficients span ten orders of magnitude, as molecular ones do."""
    import openfermion as of

    graded = of.FermionOperator()
    for term, coeff in random_hermitian_fermion_operator(rng, n_orbitals, 40).terms.items():
        graded += of.FermionOperator(term, coeff * 10.0 ** -rng.uniform(0, 10))
    return graded + of.hermitian_conjugated(graded)


class TestLeanMpo:
    @pytest.mark.parametrize("n_orbitals, seed", [(1, 2), (3, 3), (4, 4)])
    def test_same_operator_with_smaller_bonds(self, n_orbitals, seed):
        model = model_of(graded_operator(np.random.default_rng(seed), n_orbitals), n_orbitals)
        full = model.H_MPO
        lean = lean_mpo(full)
        expected = mpo_matrix(full)
        np.testing.assert_allclose(mpo_matrix(lean), expected, rtol=0, atol=1e-12 * abs(expected).max())
        assert lean.chi[0] == lean.chi[-1] == 1
        assert all(small <= large for small, large in zip(lean.chi[1:-1], full.chi[1:-1]))
        assert sum(lean.chi) < sum(full.chi)
        assert full.chi == model.H_MPO.chi  # the input is left as it was

    def test_bonds_reach_the_operator_schmidt_rank(self):
        # H = sum_k n_k: one local term per site needs only the states "before" and "after".
        terms = [(0.5 + k, [("Ntot", [k, 0])]) for k in range(5)]
        lean = lean_mpo(mk._molecular_model(5, terms).H_MPO)
        assert lean.chi == [1, 2, 2, 2, 2, 1]

    def test_constant_only_operator(self):
        from tenpy.networks.mps import MPS

        model = mk._molecular_model(3, [(0.7, [("Id", [0, 0])])])
        lean = lean_mpo(model.H_MPO)
        assert lean.chi == [1, 1, 1, 1]
        psi = MPS.from_product_state(model.lat.mps_sites(), ["up", "full", "empty"], bc="finite", unit_cell_width=3)
        assert lean.expectation_value(psi) == pytest.approx(0.7, abs=1e-14)


@pytest.fixture(scope="module")
def four_orbitals():
    op = random_hermitian_fermion_operator(np.random.default_rng(21), 4, n_terms=40)
    return fake_electronic_structure(op, 4, 2, 1, constant=-1.25)


def test_dmrg_on_the_lean_mpo_gives_the_state_of_the_full_mpo(four_orbitals, monkeypatch):
    def run():
        out = io.StringIO()
        with contextlib.redirect_stdout(out):
            result = driver.dmrg(four_orbitals, chi0=8, maxdim=64)
        return result, out.getvalue().splitlines()

    lean, lean_lines = run()
    monkeypatch.setattr(driver, "_use_lean_mpo", lambda model: None)
    full, full_lines = run()
    assert lean.energy == pytest.approx(full.energy, abs=1e-9)
    assert abs(np.vdot(full.psi0, lean.psi0)) >= 1 - 1e-9
    assert (lean.sweeps, lean.bond_dimensions) == (full.sweeps, full.bond_dimensions)
    # Every line but the difference to the exact energy, whose digits are rounding noise here.
    assert [line for line in lean_lines if "CASCI" not in line] == [line for line in full_lines if "CASCI" not in line]


def test_model_mpo_gives_the_state_of_tenpys_own_bit_for_bit(four_orbitals, monkeypatch):
    from tenpy.models.model import CouplingMPOModel

    def run(use_mpo):
        monkeypatch.setattr(driver, "_use_lean_mpo", use_mpo)
        with contextlib.redirect_stdout(io.StringIO()):
            return driver.dmrg(four_orbitals, chi0=8, maxdim=64)

    ours = run(lambda model: None)
    tenpys = run(lambda model: setattr(model, "H_MPO", CouplingMPOModel.calc_H_MPO(model)))
    np.testing.assert_array_equal(ours.psi0, tenpys.psi0)
    assert (ours.energy, ours.sweeps, ours.bond_dimensions) == (tenpys.energy, tenpys.sweeps, tenpys.bond_dimensions)
