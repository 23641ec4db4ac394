"""The limits and defaults are the native core's: every copy on the Python side, and every text stating one, agrees."""

import numpy as np
import pytest

import brimvale
from brimvale import _native
from brimvale import mps as brimvale_mps
from brimvale_chemistry import _defaults, _kernels, corvinth
from brimvale_chemistry.dmrg import driver, qubit_mps
from brimvale_chemistry.measurement import measurement_QASM
from brimvale_chemistry.measurement.arguments import check_arguments


def test_dense_qubit_limit():
    n = _kernels.MAX_DENSE_QUBITS
    copies = (_native.MAX_DENSE_QUBITS, brimvale.MAX_QUBITS, brimvale_mps.MAX_DENSE_QUBITS, driver.MAX_DENSE_QUBITS)
    assert copies == (n,) * 4 and n == _defaults.MAX_DENSE_QUBITS
    no_gates = (np.zeros(0, np.int32), np.zeros((0, 2), np.int32), np.zeros(0))
    with pytest.raises(ValueError, match=f"^n_qubits must be between 1 and {n}$"):
        _native.simulate(n + 1, *no_gates)
    assert f"at most {n} qubits" in brimvale.Circuit.execute.__doc__
    assert f"(1 ≤ n ≤ {n})" in brimvale.MPS.from_dense.__doc__
    assert f"at most {n} qubits" in brimvale.MPS.to_dense.__doc__
    assert f"more than {n} qubits" in driver.dmrg.__doc__


def test_mps_bond_cap_and_rounding_cutoff(monkeypatch, capsys):
    from brimvale_chemistry import workflow

    cap = _kernels.MPS_MAX_BOND
    assert cap == _defaults.MPS_MAX_BOND
    assert qubit_mps.ROUNDING_CUTOFF == _defaults.MPS_ROUNDING_CUTOFF == _kernels.MPS_ROUNDING_CUTOFF
    circuit = brimvale.Circuit(2)
    # The measurement applies the cap where the caller set none.
    checked = check_arguments(circuit, [], 2, 1, None, None, "mps", "cpu", np.complex128)
    assert checked.truncation == brimvale_mps.Truncation(cap, brimvale_mps.DEFAULT_CUTOFF)
    assert f"at most {cap} are kept" in corvinth.cvd_dmrg.__doc__
    assert f"default cap of {cap}" in measurement_QASM.__doc__
    monkeypatch.setattr("sys.argv", ["brimvale-chemistry", "--help"])
    with pytest.raises(SystemExit):
        workflow.main()
    assert f"capped at {cap})" in " ".join(capsys.readouterr().out.split())
