"""Spin-blocked qubit order and the reordered Jordan-Wigner transform."""

import subprocess
import sys
import textwrap

import numpy as np
import openfermion as of
import pytest

from brimvale_chemistry.molecule import pellisk as pk

COUNT_ERROR = "n_spatial_orbitals must be a positive integer"


def _expected_qubit(mode, n):
    orbital, spin = divmod(mode, 2)
    return orbital + spin * n


def _random_fermion_operator(rng, n_modes, n_terms):
    op = of.FermionOperator()
    for _ in range(n_terms):
        length = int(rng.integers(1, 5))
        term = tuple((int(rng.integers(0, n_modes)), int(rng.integers(0, 2))) for _ in range(length))
        op += of.FermionOperator(term, complex(rng.normal(), rng.normal()))
    return op


def _assert_same_operator(a, b, tol=1e-12):
    keys = set(a.terms) | set(b.terms)
    for key in keys:
        assert abs(a.terms.get(key, 0) - b.terms.get(key, 0)) <= tol, key


class TestSpinOrbitalCount:
    @pytest.mark.parametrize("n", [1, 2, 7, np.int64(3), np.int32(5), np.uint8(4)])
    def test_twice_the_orbital_count_as_exact_int(self, n):
        count = pk._spin_orbital_count(n)
        assert type(count) is int and count == 2 * int(n)

    @pytest.mark.parametrize("n", [0, -3, True, False, 2.0, "2", None, np.bool_(True), np.float64(2.0), np.int64(0)])
    def test_rejects_everything_but_positive_integers(self, n):
        with pytest.raises(ValueError, match=f"^{COUNT_ERROR}$"):
            pk._spin_orbital_count(n)


class TestSpinBlockedQubitIndex:
    @pytest.mark.parametrize("n", [1, 2, 3, 5])
    def test_matches_orbital_plus_spin_times_n(self, n):
        for mode in range(2 * n):
            assert pk.spin_blocked_qubit_index(mode, n) == _expected_qubit(mode, n)

    def test_documented_small_maps(self):
        assert [pk.spin_blocked_qubit_index(i, 2) for i in range(4)] == [0, 2, 1, 3]
        assert [pk.spin_blocked_qubit_index(i, 3) for i in range(6)] == [0, 3, 1, 4, 2, 5]

    def test_keywords_and_numpy_integers(self):
        value = pk.spin_blocked_qubit_index(spin_orbital=np.int64(3), n_spatial_orbitals=np.int16(2))
        assert type(value) is int and value == 3

    @pytest.mark.parametrize("index", [4, -1, 100])
    def test_out_of_range_names_largest_valid_index(self, index):
        with pytest.raises(ValueError) as info:
            pk.spin_blocked_qubit_index(index, 2)
        assert str(info.value) == f"spin_orbital {index} is outside 0:3"

    @pytest.mark.parametrize("index", [1.0, False, True, "1", None, np.bool_(False)])
    @pytest.mark.parametrize("n", [2, 0, 2.0])
    def test_non_integer_index_reported_before_orbital_count(self, index, n):
        with pytest.raises(TypeError, match="^spin_orbital must be an integer$"):
            pk.spin_blocked_qubit_index(index, n)

    def test_bad_orbital_count_reported_before_range(self):
        with pytest.raises(ValueError, match=f"^{COUNT_ERROR}$"):
            pk.spin_blocked_qubit_index(99, 0)


class TestInterleavedToSpinBlockedMap:
    def test_single_orbital_is_identity(self):
        assert pk.interleaved_to_spin_blocked_map(1) == {0: 0, 1: 1}

    @pytest.mark.parametrize("n", [1, 2, 3, 4, 7])
    def test_permutation_consistent_with_single_index(self, n):
        table = pk.interleaved_to_spin_blocked_map(n)
        assert list(table) == list(range(2 * n))
        assert sorted(table.values()) == list(range(2 * n))
        assert all(type(k) is int and type(v) is int for k, v in table.items())
        assert table == {i: pk.spin_blocked_qubit_index(i, n) for i in range(2 * n)}
        assert table[0] == 0 and table[2 * n - 1] == 2 * n - 1

    @pytest.mark.parametrize("n", [0, -1, True, 1.5])
    def test_rejects_bad_count(self, n):
        with pytest.raises(ValueError, match=f"^{COUNT_ERROR}$"):
            pk.interleaved_to_spin_blocked_map(n)


class TestPelliskTransform:
    @pytest.mark.parametrize("n", [1, 2, 3, 4])
    def test_agrees_with_openfermion_reorder_then_transform(self, n):
        rng = np.random.default_rng(100 + n)
        op = _random_fermion_operator(rng, 2 * n, 25)
        expected = of.jordan_wigner(of.reorder(op, of.up_then_down, num_modes=2 * n))
        expected.compress(abs_tol=1e-10)
        _assert_same_operator(pk.pellisk(op, n_spatial_orbitals=n), expected)

    @pytest.mark.parametrize("n", [2, 3])
    def test_number_operator_lands_on_its_spin_blocked_qubit(self, n):
        for mode in range(2 * n):
            qubit_op = pk.pellisk(of.FermionOperator(((mode, 1), (mode, 0))), n_spatial_orbitals=n)
            q = _expected_qubit(mode, n)
            _assert_same_operator(qubit_op, of.QubitOperator((), 0.5) - of.QubitOperator(((q, "Z"),), 0.5))

    def test_inferred_mode_count_matches_when_highest_mode_present(self):
        op = of.FermionOperator("0^ 5") + of.FermionOperator("5^ 0") + of.FermionOperator("3^ 3", 0.7)
        _assert_same_operator(pk.pellisk(op), pk.pellisk(op, n_spatial_orbitals=3))

    def test_inferred_mode_count_differs_when_highest_mode_absent(self):
        op = of.FermionOperator("1^ 1")
        with_count = pk.pellisk(op, n_spatial_orbitals=2)
        without = pk.pellisk(op)
        # Without the count only two modes are inferred, so mode 1 stays on qubit 1.
        assert ((1, "Z"),) in without.terms and ((2, "Z"),) in with_count.terms

    def test_terms_at_or_below_tolerance_dropped(self):
        # n0 + 0.02 n1 puts -0.01 on Z1 (OpenFermion itself already drops
        # anything below 1e-8 while adding, so the boundary is probed higher).
        op = of.FermionOperator("0^ 0", 1.0) + of.FermionOperator("1^ 1", 0.02)
        z1 = ((1, "Z"),)
        assert abs(pk.pellisk(op, n_spatial_orbitals=1).terms[z1] + 0.01) < 1e-15
        assert z1 in pk.pellisk(op, n_spatial_orbitals=1, abs_tol=0.0099).terms
        assert z1 not in pk.pellisk(op, n_spatial_orbitals=1, abs_tol=0.01).terms
        assert set(pk.pellisk(op, n_spatial_orbitals=1, abs_tol=1).terms) == set()

    def test_integer_tolerance_accepted(self):
        op = of.FermionOperator("0^ 0", 1.0)
        _assert_same_operator(pk.pellisk(op, abs_tol=0), pk.pellisk(op))

    def test_input_operator_left_unchanged(self):
        op = of.FermionOperator("2^ 1", 0.3) + of.FermionOperator("1^ 2", 0.3)
        before = dict(op.terms)
        pk.pellisk(op, n_spatial_orbitals=2)
        assert op.terms == before

    def test_settings_are_keyword_only_and_checked(self):
        op = of.FermionOperator("0^ 0")
        with pytest.raises(TypeError, match="takes 1 positional argument but 2 were given"):
            pk.pellisk(op, 1)
        with pytest.raises(ValueError, match=f"^{COUNT_ERROR}$"):
            pk.pellisk(op, n_spatial_orbitals=1.0)
        with pytest.raises(TypeError):
            pk.pellisk(op, abs_tol="tiny")

    def test_mode_beyond_given_count_raises_openfermion_error(self):
        with pytest.raises(KeyError):
            pk.pellisk(of.FermionOperator("4^ 0"), n_spatial_orbitals=2)


def test_module_loads_and_validates_without_openfermion():
    script = textwrap.dedent(
        """
        import sys
        sys.modules["openfermion"] = None
        sys.modules["openfermion.utils"] = None
        from brimvale_chemistry.molecule import pellisk as pk
        results = []
        for call in (lambda: pk.spin_blocked_qubit_index(9, 2),
                     lambda: pk.spin_blocked_qubit_index(1, 2),
                     lambda: pk.interleaved_to_spin_blocked_map(0),
                     lambda: pk.interleaved_to_spin_blocked_map(2),
                     lambda: pk.pellisk(None, n_spatial_orbitals=0)):
            try:
                call()
                results.append("ok")
            except Exception as error:
                results.append(type(error).__name__)
        print(",".join(results))
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=True)
    assert out.stdout.strip() == "ValueError,ModuleNotFoundError,ValueError,ModuleNotFoundError,ModuleNotFoundError"
