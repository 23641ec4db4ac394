"""Dense state extraction: spin-blocked qubit order with the fermionic sign."""

import numpy as np
import pytest

from brimvale_chemistry.dmrg import mallorek as mk


def per_amplitude_reference(theta, n_sites):
    """Each amplitude moved on its own: index sum u_k 2^k + d_k 2^(L+k), sign from (up k, down k' < k) pairs."""
    flat = np.asarray(theta).reshape(-1)
    out = np.zeros(4**n_sites, dtype=np.result_type(flat.dtype, np.int8))
    for source, value in enumerate(flat):
        local = [(source >> (2 * (n_sites - 1 - k))) & 3 for k in range(n_sites)]
        ups = [s & 1 for s in local]
        downs = [s >> 1 for s in local]
        index = sum(u << k for k, u in enumerate(ups)) + sum(d << (n_sites + k) for k, d in enumerate(downs))
        swaps = sum(ups[k] * downs[j] for k in range(n_sites) for j in range(k))
        out[index] = value * np.int8((-1) ** swaps)
    return out


def basis_tensor(n_sites, *local_states):
    theta = np.zeros([4] * n_sites)
    theta[local_states] = 1.0
    return theta


class TestIndexAndSign:
    @pytest.mark.parametrize(
        "local, index, sign",
        [
            ((1, 2), 9, 1),
            ((2, 1), 6, -1),
            ((3, 0), 5, 1),
            ((0, 3), 10, 1),
            ((1, 1), 3, 1),
            ((2, 2), 12, 1),
            ((3, 3), 15, -1),
            ((0, 0), 0, 1),
            ((3, 1), 7, -1),
            ((1, 3), 11, 1),
        ],
    )
    def test_two_sites(self, local, index, sign):
        out = mk._electron_tensor_to_dense(basis_tensor(2, *local), 4)
        expected = np.zeros(16)
        expected[index] = sign
        np.testing.assert_array_equal(out, expected)

    def test_one_site_is_unchanged(self):
        theta = np.array([0.1, 0.2 - 1j, 0.3, 0.4j])
        np.testing.assert_array_equal(mk._electron_tensor_to_dense(theta, 2), theta)

    @pytest.mark.parametrize("n_sites", [1, 2, 3, 4, 5])
    @pytest.mark.parametrize("complex_values", [False, True])
    def test_random_tensors_match_the_per_amplitude_loop(self, n_sites, complex_values):
        rng = np.random.default_rng(100 + n_sites)
        theta = rng.normal(size=[4] * n_sites)
        if complex_values:
            theta = theta + 1j * rng.normal(size=theta.shape)
        original = theta.copy()
        out = mk._electron_tensor_to_dense(theta, 2 * n_sites)
        assert out.shape == (4**n_sites,) and out.dtype == theta.dtype
        np.testing.assert_array_equal(out, per_amplitude_reference(theta, n_sites))
        np.testing.assert_array_equal(theta, original)  # input untouched
        assert np.linalg.norm(out) == pytest.approx(np.linalg.norm(theta))

    def test_layout_of_the_input_does_not_matter(self):
        rng = np.random.default_rng(7)
        theta = rng.normal(size=(4, 4, 4))
        expected = mk._electron_tensor_to_dense(theta, 6)
        np.testing.assert_array_equal(mk._electron_tensor_to_dense(theta.reshape(-1), 6), expected)
        np.testing.assert_array_equal(mk._electron_tensor_to_dense(np.asfortranarray(theta), 6), expected)
        np.testing.assert_array_equal(mk._electron_tensor_to_dense(theta.reshape(-1).tolist(), 6), expected)
        strided = np.zeros(128)
        strided[::2] = theta.reshape(-1)
        np.testing.assert_array_equal(mk._electron_tensor_to_dense(strided[::2], 6), expected)


class TestElementTypes:
    @pytest.mark.parametrize(
        "dtype",
        [
            np.complex128,
            np.complex64,
            np.float64,
            np.float32,
            np.float16,
            np.longdouble,
            np.clongdouble,
            np.int8,
            np.int16,
            np.int32,
            np.int64,
            np.uint8,
            np.uint16,
            np.uint32,
            np.uint64,
            np.bool_,
            object,
        ],
    )
    def test_result_type_is_the_promotion_with_an_int8_sign(self, dtype):
        values = np.arange(1, 65) % 5 if dtype is np.bool_ else np.arange(1, 65)
        theta = values.astype(dtype)
        out = mk._electron_tensor_to_dense(theta, 6)
        assert out.dtype == np.result_type(theta.dtype, np.int8)
        reference = per_amplitude_reference(theta, 3)
        assert reference.dtype == out.dtype
        np.testing.assert_array_equal(out, reference)

    def test_integer_minimum_wraps_like_multiplication(self):
        theta = np.zeros(16, dtype=np.int8)
        theta[4 * 2 + 1] = -128  # (down, up): picks up a minus sign
        with np.errstate(over="ignore"):
            expected = theta * np.int8(-1)
        assert mk._electron_tensor_to_dense(theta, 4)[6] == expected[9]


class TestSizeChecks:
    @pytest.mark.parametrize("size, n_qubits", [(15, 4), (17, 4), (16, 6), (4, 4), (1, 2), (64, -6)])
    def test_wrong_amplitude_count(self, size, n_qubits):
        with pytest.raises(ValueError) as info:
            mk._electron_tensor_to_dense(np.ones(size), n_qubits)
        assert str(info.value) == f"electron tensor has {size} amplitudes for {n_qubits} qubits"

    def test_huge_qubit_count_is_a_size_mismatch(self):
        with pytest.raises(ValueError, match="^electron tensor has 4 amplitudes for 1000 qubits$"):
            mk._electron_tensor_to_dense(np.ones(4), 1000)

    def test_odd_qubit_count_with_matching_size(self):
        with pytest.raises(ValueError, match="^fermionic DMRG requires an even qubit count$"):
            mk._electron_tensor_to_dense(np.ones(16), 5)

    def test_non_integer_qubit_count(self):
        with pytest.raises(TypeError, match="Argument 'n_qubits' has incorrect type"):
            mk._electron_tensor_to_dense(np.ones(16), "4")


def random_mps(n_sites, charge, chi0=6):
    from tenpy.networks.site import SpinHalfFermionSite

    n_up, n_down = (charge[0] + charge[1]) // 2, (charge[0] - charge[1]) // 2
    labels = [
        {(1, 1): "full", (1, 0): "up", (0, 1): "down", (0, 0): "empty"}[(int(k < n_up), int(k < n_down))]
        for k in range(n_sites)
    ]
    sites = [SpinHalfFermionSite(cons_N="N", cons_Sz="Sz")] * n_sites
    return mk._random_initial_mps(sites, labels, chi0, charge)


class TestMpsToDense:
    def test_matches_the_dense_conversion_of_the_full_contraction(self):
        from tenpy.algorithms.exact_diag import get_full_wavefunction

        psi = random_mps(3, (3, 1))
        theta = get_full_wavefunction(psi, undo_sort_charge=True)
        out = mk._mps_to_dense(psi, 6)
        np.testing.assert_array_equal(out, mk._electron_tensor_to_dense(theta, 6))
        assert np.linalg.norm(out) == pytest.approx(1.0)

    def test_only_sector_amplitudes_are_occupied(self):
        out = mk._mps_to_dense(random_mps(3, (3, 1)), 6)
        up = np.array([bin(i & 7).count("1") for i in range(64)])
        down = np.array([bin(i >> 3).count("1") for i in range(64)])
        assert np.all(out[(up != 2) | (down != 1)] == 0)
        assert np.count_nonzero(out) > 1

    def test_charge_conserving_array_and_plain_array_agree(self):
        from tenpy.algorithms.exact_diag import get_full_wavefunction
        from tenpy.linalg import np_conserved as npc

        psi = random_mps(2, (2, 0))
        plain = get_full_wavefunction(psi, undo_sort_charge=True).reshape(4, 4)
        leg = npc.LegCharge.from_trivial(4)
        conserving = npc.Array.from_ndarray(plain, [leg, leg])
        np.testing.assert_array_equal(
            mk._electron_tensor_to_dense(conserving, 4), mk._electron_tensor_to_dense(plain, 4)
        )

    def test_charge_conserving_result_of_the_contraction_is_densified(self, monkeypatch):
        import tenpy.algorithms.exact_diag as ed
        from tenpy.linalg import np_conserved as npc

        psi = random_mps(2, (2, 0))
        plain = ed.get_full_wavefunction(psi, undo_sort_charge=True)
        expected = mk._mps_to_dense(psi, 4)
        wrapped = npc.Array.from_ndarray_trivial(plain)
        monkeypatch.setattr(ed, "get_full_wavefunction", lambda psi, undo_sort_charge: wrapped)
        np.testing.assert_array_equal(mk._mps_to_dense(psi, 4), expected)

    @pytest.mark.parametrize("n_qubits", [4, 8, 0])
    def test_site_count_must_match(self, n_qubits):
        psi = random_mps(3, (2, 0))
        with pytest.raises(ValueError) as info:
            mk._mps_to_dense(psi, n_qubits)
        assert str(info.value) == f"electron MPS has 3 sites for {n_qubits} qubits"

    def test_site_count_is_checked_before_tenpy_is_imported(self, monkeypatch):
        import sys

        psi = random_mps(2, (2, 0))
        monkeypatch.setitem(sys.modules, "tenpy.algorithms.exact_diag", None)
        with pytest.raises(ValueError, match="^electron MPS has 2 sites for 6 qubits$"):
            mk._mps_to_dense(psi, 6)
        with pytest.raises(ImportError):
            mk._mps_to_dense(psi, 4)

    def test_odd_qubit_count_of_the_right_half_is_refused(self):
        with pytest.raises(ValueError, match="^fermionic DMRG requires an even qubit count$"):
            mk._mps_to_dense(random_mps(3, (2, 0)), 7)
