"""What every MPS keeps, wherever it comes from: a pickle is refused unless it holds a
canonical form, amplitudes of any finite size keep their norm, the discarded weight is a
fraction, and the synthesis takes its sizes from the native data, not from what an object
reports."""

import subprocess
import sys
import textwrap
import warnings

import numpy as np
import pytest

from brimvale import MPS, _native
from brimvale.mps import _restore
from brimvale_chemistry import corvinth
from brimvale_chemistry.dmrg import DmrgResult


def random_unit_vector(n, seed=5):
    rng = np.random.default_rng(seed)
    v = rng.normal(size=2**n) + 1j * rng.normal(size=2**n)
    return v / np.linalg.norm(v)


def parts(n=5):
    return _native.mps_parts(MPS.from_dense(random_unit_vector(n), cutoff=0.0)._data)


def damaged(change):
    """A restore of the parts of a good state, `change`d: (tensors, schmidt, norm, weight) -> the same."""
    tensors, schmidt, norm, weight = parts()
    return lambda: _restore(*change([t.copy() for t in tensors], [s.copy() for s in schmidt], norm, weight))


def set_entry(array, index, value):
    array[index] = value
    return array


RESTORE_DAMAGE = {
    "zero tensors": (lambda t, s, n, w: ([np.zeros_like(x) for x in t], s, n, w), "site 0 is not right-isometric"),
    "NaN entry": (lambda t, s, n, w: (t[:2] + [set_entry(t[2], (0, 1, 0), np.nan)] + t[3:], s, n, w), "site 2 must"),
    "non-isometric site": (lambda t, s, n, w: (t[:3] + [t[3] * 1.001] + t[4:], s, n, w), "site 3 is not right-iso"),
    "NaN Schmidt value": (lambda t, s, n, w: (t, [set_entry(s[0], 0, np.nan)] + s[1:], n, w), "bond 0 must be finite"),
    "negative Schmidt value": (lambda t, s, n, w: (t, s[:1] + [-s[1]] + s[2:], n, w), "bond 1 must be finite and non"),
    "ascending Schmidt values": (lambda t, s, n, w: (t, s[:2] + [s[2][::-1]] + s[3:], n, w), "bond 2 must be in desc"),
    "Schmidt squares not 1": (lambda t, s, n, w: (t, s[:3] + [s[3] * 0.9], n, w), "bond 3 must add up to 1"),
    "zero norm": (lambda t, s, n, w: (t, s, 0.0, w), "norm must be positive"),
    "NaN norm": (lambda t, s, n, w: (t, s, np.nan, w), "norm must be positive"),
    "negative discarded weight": (lambda t, s, n, w: (t, s, n, -1e-3), "discarded weight must be between 0 and 1"),
    "discarded weight above 1": (lambda t, s, n, w: (t, s, n, 1.95), "discarded weight must be between 0 and 1"),
}

# Run in a child: before the synthesis read its sizes from the native data, a source that
# reported more qubits than it held crashed the process.
REPORTED_QUBITS = textwrap.dedent(
    """
    import warnings
    import numpy as np
    from brimvale import MPS
    from brimvale_chemistry import corvinth

    class Reporting(MPS):
        @property
        def n_qubits(self):
            return self.reported

    rng = np.random.default_rng(3)
    state = MPS.from_dense(rng.normal(size=16) + 0j)
    warnings.simplefilter("ignore", UserWarning)
    for reported in (6, 3):
        fake = Reporting._from_data(state._data)
        fake.reported = reported
        for call in (
            lambda: corvinth.cvd_dmrg(fake, state="mps", layers=1, maxiter=2, restarts=1),
            lambda: corvinth._circuit_infidelity(fake, reported, [(0, 1)]),
        ):
            try:
                call()
                print("accepted")
            except ValueError as error:
                print(error)
    """
)


def check_reported_qubits():
    child = subprocess.run([sys.executable, "-c", REPORTED_QUBITS], capture_output=True, text=True, timeout=600)
    assert child.returncode == 0, child.stderr
    assert child.stdout.splitlines() == [
        "the MPS reports n_qubits = 6 but its data holds 4 qubits",
        "psi0 must have n_qubits qubits",
        "the MPS reports n_qubits = 3 but its data holds 4 qubits",
        "psi0 must have n_qubits qubits",
    ]


def check_dmrg_result_sizes():
    state = MPS.from_dense(random_unit_vector(4))
    for record, message in [
        (DmrgResult(psi0=random_unit_vector(3), energy=0.0, mps=state), "psi0 holds 8 amplitudes but DmrgResult.mps"),
        (DmrgResult(psi0=state.to_dense(), energy=0.0, mps=MPS(3)), "psi0 holds 16 amplitudes but DmrgResult.mps"),
    ]:
        with pytest.raises(ValueError, match=message), warnings.catch_warnings():
            warnings.simplefilter("ignore", UserWarning)
            corvinth.cvd_dmrg(record, state="mps", layers=1, maxiter=2, restarts=1)


def check_extreme_amplitudes():
    v = random_unit_vector(6)
    for scale in (1e200, 1e-200, 1e-300):
        state = MPS.from_dense(v * scale)
        assert state.norm() == pytest.approx(scale, rel=1e-12)
        np.testing.assert_allclose(state.to_dense() / scale, v, atol=1e-12)
    # Tensors whose squares leave the double range, with products inside it.
    tensors = MPS.from_dense(v).tensors
    for factors in ([1e200, 1e-250, 1e180, 1e-100, 1e-30, 1.0], [1e45] * 6):
        state = MPS.from_tensors([t * f for t, f in zip(tensors, factors)])
        assert state.norm() == pytest.approx(np.prod(factors), rel=1e-12)
        np.testing.assert_allclose(state.to_dense() / np.prod(factors), v, atol=1e-12)


def check_non_finite_input():
    v = random_unit_vector(3)
    tensors = MPS.from_dense(v).tensors
    for bad in (np.nan, np.inf):
        with pytest.raises(ValueError, match="^the state vector must have finite amplitudes$"):
            MPS.from_dense(set_entry(v.copy(), 5, bad))
        with pytest.raises(ValueError, match="^tensor 1 must have finite entries$"):
            MPS.from_tensors([tensors[0], set_entry(tensors[1].copy(), (0, 1, 0), bad), tensors[2]])


def check_discarded_weight_of_one_sweep():
    # One sweep over a canonical state: the kept parts nest, so 1 - prod(1 - f) is the infidelity.
    v = random_unit_vector(8)
    exact = MPS.from_dense(v, cutoff=0.0)
    for bond in (1, 2, 4, 8):
        for state in (exact.truncated(max_bond=bond), MPS.from_dense(v, max_bond=bond)):
            fidelity = abs(np.vdot(state.to_dense(), v)) ** 2 / state.norm() ** 2
            assert 0.0 <= state.discarded_weight <= 1.0
            assert state.discarded_weight == pytest.approx(1.0 - fidelity, abs=1e-12)


CHECKS = {f"restore refuses {name}": (name,) for name in RESTORE_DAMAGE} | {
    "cvd_dmrg reads the qubit count of the native data": check_reported_qubits,
    "cvd_dmrg checks the DmrgResult against its mps": check_dmrg_result_sizes,
    "amplitudes of any finite size": check_extreme_amplitudes,
    "non-finite input refused": check_non_finite_input,
    "discarded weight of one sweep": check_discarded_weight_of_one_sweep,
}


@pytest.mark.parametrize("check", CHECKS.values(), ids=CHECKS.keys())
def test_mps_invariants(check):
    if isinstance(check, tuple):
        change, message = RESTORE_DAMAGE[check[0]]
        with pytest.raises(ValueError, match=message):
            damaged(change)()
        # The same parts unchanged are a good state.
        assert _restore(*parts()).norm() == pytest.approx(1.0)
    else:
        check()
