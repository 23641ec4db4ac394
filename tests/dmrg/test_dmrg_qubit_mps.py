"""The DMRG ground state as a spin-blocked qubit MPS: the same state as psi0, signs included."""

import contextlib
import io

import numpy as np
import pytest
from test_dmrg_dense import random_mps
from test_dmrg_driver import PRESETS

from brimvale_chemistry.dmrg import dmrg
from brimvale_chemistry.dmrg import mallorek as mk
from brimvale_chemistry.dmrg.qubit_mps import qubit_mps


def schmidt_ranks(vector, n_qubits):
    ranks = []
    for bond in range(n_qubits - 1):
        values = np.linalg.svd(vector.reshape(2 ** (n_qubits - bond - 1), 2 ** (bond + 1)), compute_uv=False)
        ranks.append(int(np.sum(values > 1e-10 * values[0])))
    return ranks


@pytest.fixture(scope="module")
def preset_runs(tmp_path_factory):
    from brimvale_chemistry.molecule import Molecule, electronic_structure

    workdir = tmp_path_factory.mktemp("fcidump")
    runs = {}
    with contextlib.redirect_stdout(io.StringIO()):
        for key, (geometry, basis, occupied, virtual) in PRESETS.items():
            molecule = Molecule(geometry=geometry, basis=basis, active_occupied=occupied, active_virtual=virtual)
            es = electronic_structure(molecule, workdir=workdir)
            runs[key] = (es, dmrg(es))
    return runs


class TestPresets:
    @pytest.mark.parametrize("key", list(PRESETS))
    def test_mps_is_psi0_with_its_schmidt_ranks_and_energy(self, preset_runs, key):
        es, result = preset_runs[key]
        mps = result.mps
        assert mps.n_qubits == es.n_qubits
        np.testing.assert_allclose(mps.to_dense(), result.psi0, atol=1e-10)
        assert mps.bond_dimensions == schmidt_ranks(result.psi0, es.n_qubits)
        assert result.mps_discarded_weight == mps.discarded_weight < 1e-20
        assert mps.expectation(es.pauli_terms).real == pytest.approx(result.energy, abs=1e-9)


class TestSectorsAndSigns:
    @pytest.mark.parametrize(
        "n_sites, charge", [(1, (1, 1)), (2, (2, 0)), (3, (3, 1)), (4, (4, 0)), (4, (3, -1)), (5, (5, 1))]
    )
    def test_equals_the_dense_extraction(self, n_sites, charge):
        psi = random_mps(n_sites, charge)
        expected = mk._mps_to_dense(psi, 2 * n_sites)
        mps = qubit_mps(psi, 2 * n_sites)
        # Every sector with an up and a down electron has amplitudes whose sign the reordering flips.
        np.testing.assert_allclose(mps.to_dense(), expected, atol=1e-12)
        assert mps.bond_dimensions == schmidt_ranks(expected, 2 * n_sites)

    def test_max_bond_caps_every_bond_and_reports_what_it_dropped(self, preset_runs):
        psi = random_mps(5, (5, 1))
        exact = mk._mps_to_dense(psi, 10)
        capped = qubit_mps(psi, 10, max_bond=3)
        assert max(capped.bond_dimensions) == 3 and capped.discarded_weight > 1e-6
        fidelity = abs(np.vdot(exact, capped.to_dense())) ** 2 / np.vdot(exact, exact).real
        assert 0.0 < 1.0 - fidelity <= 2.0 * capped.discarded_weight
        es = preset_runs["h2o-small"][0]
        with pytest.raises(ValueError, match="^max_bond applies to state='mps' only$"):
            dmrg(es, max_bond=4)

    def test_site_count_must_match(self):
        with pytest.raises(ValueError, match="^electron MPS has 3 sites for 8 qubits$"):
            qubit_mps(random_mps(3, (2, 0)), 8)
