"""Charge-sector bond bound and the random initial MPS."""

import math
import subprocess
import sys
import textwrap
import warnings

import numpy as np
import pytest

from brimvale_chemistry.dmrg import mallorek as mk

NOT_REACHED = (
    "Did not reach desired chi after 1000 iterations of random unitary evolution. "
    "Is chi too large for the given system?"
)


def reference_bound(n_sites, n_up, n_down):
    """The counting argument written out with Python's exact integers."""
    best = 1
    for left in range(1, n_sites):
        right = n_sites - left
        rank = 0
        for left_up in range(max(0, n_up - right), min(left, n_up) + 1):
            for left_down in range(max(0, n_down - right), min(left, n_down) + 1):
                left_dim = math.comb(left, left_up) * math.comb(left, left_down)
                right_dim = math.comb(right, n_up - left_up) * math.comb(right, n_down - left_down)
                rank += min(left_dim, right_dim)
        best = max(best, rank)
    return best


def chain_sites(n_sites):
    from tenpy.networks.site import SpinHalfFermionSite

    return [SpinHalfFermionSite(cons_N="N", cons_Sz="Sz")] * n_sites


class TestMaxSectorBondDimension:
    @pytest.mark.parametrize(
        "n_sites, charge, expected",
        [
            (1, (2, 0), 1),
            (2, (2, 0), 4),
            (2, (0, 0), 1),
            (2, (4, 0), 1),
            (4, (4, 0), 16),
            (4, (4, 2), 6),
            (3, (1, 1), 2),
            (3, (1, -1), 2),
            (20, (20, 0), 1048576),
        ],
    )
    def test_known_bounds(self, n_sites, charge, expected):
        assert mk._max_sector_bond_dimension(n_sites, charge) == expected

    @pytest.mark.parametrize("n_sites", [1, 2, 3, 5, 8])
    def test_every_sector_of_small_chains_matches_the_counting(self, n_sites):
        for n_up in range(n_sites + 1):
            for n_down in range(n_sites + 1):
                charge = [n_up + n_down, n_up - n_down]
                assert mk._max_sector_bond_dimension(n_sites, charge) == reference_bound(n_sites, n_up, n_down)

    @pytest.mark.parametrize("n_sites, n_up, n_down", [(36, 18, 18), (40, 20, 20), (40, 17, 23), (70, 30, 33)])
    def test_long_chains_are_exact_beyond_64_bits(self, n_sites, n_up, n_down):
        bound = mk._max_sector_bond_dimension(n_sites, (n_up + n_down, n_up - n_down))
        assert type(bound) is int
        assert bound == reference_bound(n_sites, n_up, n_down)

    def test_result_exceeds_64_bits_for_long_chains(self):
        assert mk._max_sector_bond_dimension(70, (70, 0)) > 2**64

    def test_integer_like_inputs(self):
        assert mk._max_sector_bond_dimension(np.int64(4), (4, 0)) == 16
        assert mk._max_sector_bond_dimension(4, np.array([4, 2])) == 6
        assert mk._max_sector_bond_dimension(4, (4.9, 2.2)) == 6  # items are truncated to integers
        assert mk._max_sector_bond_dimension(4, iter((4, 0))) == 16

    @pytest.mark.parametrize(
        "n_sites, charge, exc, message",
        [
            (3, (3, 0), ValueError, "invalid target charge (3, 0)"),
            (3, [3, 0], ValueError, "invalid target charge [3, 0]"),
            (3, (2, 1), ValueError, "invalid target charge (2, 1)"),
            (2, (6, 0), ValueError, "target charge (6, 0) is outside the site Hilbert space"),
            (2, (-2, 0), ValueError, "target charge (-2, 0) is outside the site Hilbert space"),
            (2, (2, 4), ValueError, "target charge (2, 4) is outside the site Hilbert space"),
            (True, (0, 0), ValueError, "n_sites must be a positive integer"),
            (0, (0, 0), ValueError, "n_sites must be a positive integer"),
            (2.0, (0, 0), ValueError, "n_sites must be a positive integer"),
            (0, "invalid", ValueError, "n_sites must be a positive integer"),  # n_sites first
            (2, (2,), ValueError, "not enough values to unpack (expected 2, got 1)"),
            (2, (2, 0, 0), ValueError, "too many values to unpack (expected 2)"),
            (2, 5, TypeError, "cannot unpack non-iterable int object"),
            (2, ("a", 0), TypeError, "Argument 'target_charge' has incorrect type (expected int, got str)"),
        ],
    )
    def test_errors(self, n_sites, charge, exc, message):
        with pytest.raises(exc) as info:
            mk._max_sector_bond_dimension(n_sites, charge)
        assert str(info.value) == message


class _Untouchable:
    """Stands in for the random evolution where it must not run."""

    def __init__(self, *args, **kwargs):
        raise AssertionError("random evolution must not run here")


class TestRandomInitialMps:
    @pytest.mark.parametrize(
        "n_sites, labels, charge, chi0",
        [
            (4, ["full", "up", "empty", "empty"], (3, 1), 5),
            (3, ["up", "down", "empty"], (2, 0), 3),
            (4, ["full", "full", "empty", "empty"], (4, 0), 8),
        ],
    )
    def test_grows_to_the_requested_bond_in_the_target_sector(self, n_sites, labels, charge, chi0):
        psi = mk._random_initial_mps(chain_sites(n_sites), labels, chi0, charge)
        expected = min(chi0, mk._max_sector_bond_dimension(n_sites, charge))
        assert max(psi.chi) == expected
        assert list(psi.get_total_charge(only_physical_legs=True)) == list(charge)
        assert np.max(psi.norm_test()) < 1e-10  # back in canonical form

    def test_chi0_above_the_sector_bound_is_capped_silently(self):
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            psi = mk._random_initial_mps(chain_sites(3), ["up", "down", "empty"], 1000, (2, 0))
        assert max(psi.chi) == mk._max_sector_bond_dimension(3, (2, 0))

    @pytest.mark.parametrize(
        "n_sites, labels, chi0, charge",
        [
            (1, ["full"], 20, (2, 0)),
            (3, ["up", "down", "empty"], 1, (2, 0)),
            (2, ["full", "full"], 20, (4, 0)),
            (2, [0, 0], 20, (0, 0)),
        ],
    )
    def test_skips_the_evolution_when_nothing_can_grow(self, monkeypatch, n_sites, labels, chi0, charge):
        import tenpy.algorithms.tebd as tebd

        monkeypatch.setattr(tebd, "RandomUnitaryEvolution", _Untouchable)
        psi = mk._random_initial_mps(chain_sites(n_sites), labels, chi0, charge)
        assert all(chi == 1 for chi in psi.chi)
        assert list(psi.get_total_charge(only_physical_legs=True)) == list(charge)

    def test_warns_once_after_1000_fruitless_runs_at_the_callers_line(self, monkeypatch):
        import tenpy.algorithms.tebd as tebd

        runs = []

        class Idle:
            def __init__(self, psi, options):
                assert options == {"N_steps": 10, "trunc_params": {"chi_max": 4}}

            def run(self):
                runs.append(1)

        monkeypatch.setattr(tebd, "RandomUnitaryEvolution", Idle)
        with pytest.warns(UserWarning) as record:
            psi = mk._random_initial_mps(chain_sites(2), ["full", "empty"], 7, (2, 0))
        assert len(runs) == 1000
        assert [str(w.message) for w in record] == [NOT_REACHED]
        assert record[0].filename == __file__
        assert max(psi.chi) == 1

    def test_target_reached_by_the_last_run_is_not_reported(self, monkeypatch):
        import tenpy.algorithms.tebd as tebd

        real = tebd.RandomUnitaryEvolution
        runs = []

        class LateBloomer:
            def __init__(self, psi, options):
                self.inner = real(psi, options)

            def run(self):
                runs.append(1)
                if len(runs) == 1000:
                    self.inner.run()

        monkeypatch.setattr(tebd, "RandomUnitaryEvolution", LateBloomer)
        with warnings.catch_warnings():
            warnings.simplefilter("error")
            psi = mk._random_initial_mps(chain_sites(2), ["full", "empty"], 4, (2, 0))
        assert len(runs) == 1000 and max(psi.chi) == 4

    def test_labels_in_another_sector_fail_the_charge_check(self):
        with pytest.raises(AssertionError) as info:
            mk._random_initial_mps(chain_sites(2), ["up", "up"], 1, (1, 1))
        assert str(info.value) == "random initial MPS left the charge sector: [2 2] != (1, 1)"

    def test_labels_in_another_sector_are_reported_before_any_evolution(self, monkeypatch):
        import tenpy.algorithms.tebd as tebd

        created = []
        monkeypatch.setattr(tebd, "RandomUnitaryEvolution", lambda *args: created.append(args))
        with pytest.raises(AssertionError) as info:
            mk._random_initial_mps(chain_sites(2), ["up", "up"], 4, (1, 1))
        assert str(info.value) == "random initial MPS left the charge sector: [2 2] != (1, 1)"
        assert created == []

    def test_charge_check_is_skipped_without_assertions(self, subprocess_env):
        script = textwrap.dedent(
            """
            from tenpy.networks.site import SpinHalfFermionSite
            from brimvale_chemistry.dmrg import mallorek as mk
            sites = [SpinHalfFermionSite(cons_N="N", cons_Sz="Sz")] * 2
            psi = mk._random_initial_mps(sites, ["up", "up"], 1, (1, 1))
            print(list(psi.get_total_charge(only_physical_legs=True)))
            """
        )
        out = subprocess.run([sys.executable, "-O", "-c", script], capture_output=True, text=True, env=subprocess_env)
        assert out.returncode == 0, out.stderr
        assert out.stdout.strip() == "[np.int64(2), np.int64(2)]"

    def test_missing_tenpy_is_reported_before_the_sector_checks(self, monkeypatch):
        monkeypatch.setitem(sys.modules, "tenpy.networks.mps", None)
        with pytest.raises(ImportError):
            mk._random_initial_mps(chain_sites(2), ["up", "up"], 1, (3, 0))
