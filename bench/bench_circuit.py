"""Circuit execution: native simulator against a NumPy reshape + tensordot simulator.

A random circuit of 1,000 gates (rx/ry/rz and CNOT) on 20 qubits, both
simulators timed in this process; prints the ratio.
"""

import math

import numpy as np

from brimvale import Circuit
from timing import best_time, report

N_QUBITS, N_GATES, REPEATS = 20, 1000, 3


def build(rng):
    circuit = Circuit(N_QUBITS)
    for _ in range(N_GATES):
        if rng.random() < 0.3:
            a, b = rng.choice(N_QUBITS, size=2, replace=False)
            circuit.cx(int(a), int(b))
        else:
            getattr(circuit, ("rx", "ry", "rz")[rng.integers(3)])(
                float(rng.uniform(-3, 3)), int(rng.integers(N_QUBITS))
            )
    return circuit


def numpy_simulate(circuit):
    n = circuit.num_qubits
    psi = np.zeros((2,) * n, dtype=np.complex128)
    psi[(0,) * n] = 1.0
    eye, x, y, z = np.eye(2), np.array([[0, 1], [1, 0]]), np.array([[0, -1j], [1j, 0]]), np.diag([1, -1])
    paulis = {"rx": x, "ry": y, "rz": z}
    cnot = np.zeros((2, 2, 2, 2), dtype=np.complex128)  # [c_out, t_out, c_in, t_in]
    for c in range(2):
        for t in range(2):
            cnot[c, t ^ c, c, t] = 1.0
    for op in circuit:
        if op.name == "cx":
            c_axis, t_axis = n - 1 - op.qubits[0], n - 1 - op.qubits[1]
            psi = np.tensordot(cnot, psi, axes=([2, 3], [c_axis, t_axis]))
            psi = np.moveaxis(psi, [0, 1], [c_axis, t_axis])
        else:
            theta = op.params[0]
            gate = math.cos(theta / 2) * eye - 1j * math.sin(theta / 2) * paulis[op.name]
            axis = n - 1 - op.qubits[0]
            psi = np.moveaxis(np.tensordot(gate, psi, axes=([1], [axis])), 0, axis)
    return psi.reshape(-1)


def main():
    circuit = build(np.random.default_rng(7))
    native_time, native_state = best_time(REPEATS, lambda: circuit.execute().state)
    numpy_time, numpy_state = best_time(REPEATS, lambda: numpy_simulate(circuit))
    assert np.allclose(native_state, numpy_state, atol=1e-9), "simulators disagree"
    report(f"circuit execution, {N_QUBITS} qubits, {N_GATES} gates (best of {REPEATS})", native_time, numpy_time, 3)


if __name__ == "__main__":
    main()
