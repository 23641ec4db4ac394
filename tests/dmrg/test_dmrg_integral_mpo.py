"""The MPO built from the integrals: the term-built model's operator, and DMRG runs on it."""

import contextlib
import io
from types import SimpleNamespace

import numpy as np
import pytest
from conftest import PRESETS, mpo_matrix

from brimvale_chemistry.dmrg import driver
from brimvale_chemistry.dmrg import mallorek as mk
from brimvale_chemistry.dmrg.integral_mpo import integral_mpo
from brimvale_chemistry.molecule._hamiltonian import active_space_fermion_operator, fermion_terms


def random_integrals(rng, n):
    """Real integrals with the symmetries of molecular ones: h = h^T, (pq|rs) = (qp|rs) = (pq|sr) = (rs|pq)."""
    h = rng.normal(size=(n, n))
    g = rng.normal(size=(n, n, n, n))
    g = g + g.transpose(1, 0, 2, 3)
    g = g + g.transpose(0, 1, 3, 2)
    return h + h.T, g + g.transpose(2, 3, 0, 1)


def term_built_model(h, g):
    n = h.shape[0]
    terms = fermion_terms(active_space_fermion_operator(SimpleNamespace(one_body=h, two_body=g)))
    return mk._molecular_model(n, mk._fermion_to_local_terms(terms, 2 * n))


@pytest.mark.parametrize("n", [1, 2, 3, 4])
def test_same_operator_as_the_term_built_model(n):
    h, g = random_integrals(np.random.default_rng(n), n)
    model = term_built_model(h, g)
    mpo = integral_mpo(h, g, model.lat.mps_sites())
    expected = mpo_matrix(model.H_MPO)
    np.testing.assert_allclose(mpo_matrix(mpo), expected, rtol=0, atol=1e-13 * abs(expected).max())
    if n == 4:
        # start, done, the 2 x 8 single operators and the 28 + 16 pairs of one half
        assert mpo.chi == [1, 24, 46, 24, 1]
    # The start and done states pass the identity, as TeNPy's IdL and IdR states do.
    for i in range(n):
        w = mpo.get_W(i).itranspose(["wL", "wR", "p", "p*"]).to_ndarray()
        for ids in (mpo.IdL, mpo.IdR):
            if ids[i] is not None and ids[i + 1] is not None:
                np.testing.assert_array_equal(w[ids[i], ids[i + 1]], np.eye(4))
    assert mpo.IdL[0] == 0 and mpo.IdR[n] == 0 and mpo.IdL[n] is None and mpo.IdR[0] is None


def test_rejects_integrals_it_cannot_represent():
    h, g = random_integrals(np.random.default_rng(0), 2)
    sites = term_built_model(h, g).lat.mps_sites()
    with pytest.raises(TypeError, match="^one_body must be real, got complex128$"):
        integral_mpo(h + 0j, g, sites)
    with pytest.raises(ValueError, match="^two_body must be finite$"):
        integral_mpo(h, np.where(g > 0, np.nan, g), sites)
    with pytest.raises(ValueError, match=r"^one_body has shape \(2, 2\) for 3 sites$"):
        integral_mpo(h, g, sites + sites[:1])
    with pytest.raises(ValueError, match=r"^two_body must have shape \(2, 2, 2, 2\), got \(2, 2, 2, 1\)$"):
        integral_mpo(h, g[..., :1], sites)


@pytest.mark.parametrize("key", list(PRESETS))
def test_dmrg_energy_on_the_presets(preset_structures, key, monkeypatch):
    es = preset_structures[key]

    def run():
        with contextlib.redirect_stdout(io.StringIO()):
            return driver.dmrg(es)

    term_built = run()
    monkeypatch.setattr(
        driver,
        "_use_lean_mpo",
        lambda model: setattr(
            model,
            "H_MPO",
            integral_mpo(es.extra["one_body_integrals"], es.extra["two_body_integrals"], model.lat.mps_sites()),
        ),
    )
    from_integrals = run()
    assert from_integrals.energy == pytest.approx(term_built.energy, abs=1e-9)
