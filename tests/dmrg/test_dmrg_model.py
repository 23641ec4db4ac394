"""The molecular TeNPy model and the module's import-time behaviour."""

import subprocess
import sys
import textwrap

import numpy as np
import pytest
from conftest import qubit_hamiltonian_matrix, random_hermitian_fermion_operator

from brimvale_chemistry.dmrg import mallorek as mk
from brimvale_chemistry.molecule.pellisk import pellisk

CONSTANT = [(0.5, [("Id", [0, 0])])]
MISSING = "Molecular DMRG requires physics-tenpy (the 'tenpy' package)."


def tenpy_matrix_in_qubit_basis(model, n_orbitals):
    """The model's Hamiltonian, moved into the spin-blocked qubit basis column by column."""
    from tenpy.algorithms.exact_diag import get_numpy_Hamiltonian

    h_sites = get_numpy_Hamiltonian(model, undo_sort_charge=True)
    n_qubits = 2 * n_orbitals
    basis_change = np.column_stack([mk._electron_tensor_to_dense(e, n_qubits) for e in np.eye(4**n_orbitals)])
    return basis_change @ h_sites @ basis_change.T


class TestMolecularModel:
    def test_single_site_constant(self):
        from tenpy.networks.mps import MPS

        model = mk._molecular_model(1, [(0.7, [("Id", [0, 0])])])
        assert model.lat.N_sites == 1
        psi = MPS.from_product_state(model.lat.mps_sites(), ["full"], bc="finite", unit_cell_width=1)
        assert model.H_MPO.expectation_value(psi) == pytest.approx(0.7)

    def test_each_call_defines_its_own_class(self):
        from tenpy.models.model import CouplingMPOModel

        first = type(mk._molecular_model(1, CONSTANT))
        second = type(mk._molecular_model(1, CONSTANT))
        assert first is not second
        for cls in (first, second):
            assert cls.__name__ == "MolecularModel"
            assert cls.__qualname__ == "_molecular_model.<locals>.MolecularModel"
            assert cls.__module__ == "brimvale_chemistry.dmrg.mallorek"
            assert cls.__bases__ == (CouplingMPOModel,)
            assert cls.__doc__ is None
            # The two hooks, then the faster MPO build (pinned to TeNPy's own in test_dmrg_lean_mpo).
            assert [k for k in vars(cls) if not k.startswith("__")] == ["init_lattice", "init_terms", "calc_H_MPO"]

    def test_lattice_is_an_open_finite_chain_of_conserving_sites(self):
        model = mk._molecular_model(3, CONSTANT)
        assert model.lat.bc_MPS == "finite" and list(model.lat.bc) == [True]  # True: open boundary
        sites = model.lat.mps_sites()
        assert len(sites) == 3 and sites[0] is sites[1] is sites[2]
        assert (sites[0].cons_N, sites[0].cons_Sz) == ("N", "Sz")
        assert sites[0].leg.chinfo.names == ["N", "2*Sz"]

    def test_a_lazy_term_list_is_consumed_once_during_construction(self):
        terms = iter([(0.5, [("Id", [0, 0])])])
        mk._molecular_model(2, terms)
        assert list(terms) == []

    def test_term_errors_surface_from_the_construction(self):
        gen = mk._fermion_to_local_terms([(1.0, ((0, 1), (0, 0))), (1.0, ((9, 1),))], 4)
        with pytest.raises(ValueError, match="fermion mode 9 is outside 0:3"):
            mk._molecular_model(2, gen)

    def test_tenpy_errors_pass_through(self):
        with pytest.raises(Exception) as info:
            mk._molecular_model(2, [(1.0, [("Cdu", [5, 0])])])
        assert info.type is not ImportError

    @pytest.mark.parametrize("n_orbitals, seed", [(1, 0), (2, 1), (2, 2), (3, 3)])
    def test_hamiltonian_equals_the_spin_blocked_qubit_hamiltonian(self, n_orbitals, seed):
        # Jordan-Wigner strings of TeNPy (interleaved order), the dense extraction's
        # signs and the spin-blocked transform must all agree, matrix element by element.
        op = random_hermitian_fermion_operator(np.random.default_rng(seed), n_orbitals)
        terms = [(coeff, term) for term, coeff in op.terms.items()]
        model = mk._molecular_model(n_orbitals, mk._fermion_to_local_terms(terms, 2 * n_orbitals))
        expected = qubit_hamiltonian_matrix(pellisk(op, n_spatial_orbitals=n_orbitals), 2 * n_orbitals)
        np.testing.assert_allclose(tenpy_matrix_in_qubit_basis(model, n_orbitals), expected, atol=1e-10)

    def test_missing_tenpy_raises_chained_import_error(self, monkeypatch):
        monkeypatch.setitem(sys.modules, "tenpy.networks.site", None)
        with pytest.raises(ImportError) as info:
            mk._molecular_model(1, [])
        assert str(info.value) == MISSING
        assert isinstance(info.value.__cause__, ImportError)
        assert "tenpy.networks.site" in str(info.value.__cause__)

    def test_missing_name_in_tenpy_is_reported_the_same_way(self, monkeypatch):
        import tenpy.models.model

        monkeypatch.delattr(tenpy.models.model, "CouplingMPOModel")
        with pytest.raises(ImportError, match=r"^Molecular DMRG requires physics-tenpy") as info:
            mk._molecular_model(1, [])
        assert "CouplingMPOModel" in str(info.value.__cause__)


class TestModuleLoading:
    def test_module_contents_in_definition_order(self):
        names = [k for k in vars(mk) if not k.startswith("__")]
        assert names == [
            "comb",
            "warnings",
            "np",
            "interleaved_to_spin_blocked_map",
            "_validate_dmrg_parameters",
            "_fermion_to_local_terms",
            "_molecular_model",
            "_max_sector_bond_dimension",
            "_random_initial_mps",
            "_electron_tensor_to_dense",
            "_mps_to_dense",
        ]
        from brimvale_chemistry.molecule import pellisk as pk

        assert mk.interleaved_to_spin_blocked_map is pk.interleaved_to_spin_blocked_map

    def test_imports_without_tenpy_and_never_loads_it(self, subprocess_env):
        script = textwrap.dedent(
            """
            import sys

            class Blocker:
                def find_spec(self, name, path=None, target=None):
                    if name == "tenpy" or name.startswith("tenpy."):
                        raise ImportError("No module named " + repr(name))

            sys.meta_path.insert(0, Blocker())
            from brimvale_chemistry.dmrg import mallorek as mk
            import brimvale_chemistry.dmrg
            assert not any(m == "tenpy" or m.startswith("tenpy.") for m in sys.modules)
            mk._validate_dmrg_parameters(1, 2, 3)
            print(mk._max_sector_bond_dimension(4, (4, 0)))
            try:
                mk._molecular_model(1, [])
            except ImportError as e:
                print(e, "|", type(e.__cause__).__name__)
            """
        )
        out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, env=subprocess_env)
        assert out.returncode == 0, out.stderr
        assert out.stdout.splitlines() == ["16", MISSING + " | ImportError"]
