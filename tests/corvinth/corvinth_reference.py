"""Reference helpers of the circuit-synthesis tests (imported by the test files).

The references here are written independently of the package, from dense
matrices: Kronecker products with identities and matrix exponentials.
"""

import numpy as np
import pytest
from scipy.linalg import expm

PAULI = {
    "I": np.eye(2, dtype=complex),
    "X": np.array([[0, 1], [1, 0]], dtype=complex),
    "Y": np.array([[0, -1j], [1j, 0]], dtype=complex),
    "Z": np.array([[1, 0], [0, -1]], dtype=complex),
}


@pytest.fixture
def rng():
    return np.random.default_rng(20240611)


def random_state(rng, n_qubits):
    psi = rng.normal(size=2**n_qubits) + 1j * rng.normal(size=2**n_qubits)
    return psi / np.linalg.norm(psi)


def low_entanglement_state(rng, n, strength=0.4):
    """A product state with a weak two-qubit entangler on every bond."""
    from brimvale_chemistry import corvinth

    state = np.zeros(2**n, dtype=complex)
    state[0] = 1.0
    for q0 in range(n - 1):
        gate = corvinth._entangler_matrix(rng.normal(0.0, strength, 9))
        state = corvinth._apply_two_qubit_unitary(state, gate, q0, q0 + 1, n)
    return state


def rotation_reference(v):
    """exp(-i v.sigma / 2) by matrix exponential."""
    generator = v[0] * PAULI["X"] + v[1] * PAULI["Y"] + v[2] * PAULI["Z"]
    return expm(-0.5j * generator)


def entangler_reference(p):
    """The disentangler from matrix exponentials, in the |q1 q0> basis."""
    single = np.kron(rotation_reference(p[3:6]), rotation_reference(p[0:3]))
    coupling = sum(p[6 + k] * np.kron(PAULI[a], PAULI[a]) for k, a in enumerate("XYZ"))
    return expm(-1j * coupling) @ single


def embed_two_qubit(matrix, q0, q1, n_qubits):
    """The 2^n x 2^n operator of `matrix` (|q1 q0> basis) on qubits q0, q1."""
    dim = 2**n_qubits
    full = np.zeros((dim, dim), dtype=complex)
    for i in range(dim):
        for j in range(dim):
            rest_i = i & ~((1 << q0) | (1 << q1))
            rest_j = j & ~((1 << q0) | (1 << q1))
            if rest_i != rest_j:
                continue
            local_i = 2 * ((i >> q1) & 1) + ((i >> q0) & 1)
            local_j = 2 * ((j >> q1) & 1) + ((j >> q0) & 1)
            full[i, j] = matrix[local_i, local_j]
    return full


def equal_up_to_phase(a, b, atol=1e-10):
    a = np.asarray(a)
    b = np.asarray(b)
    index = np.unravel_index(np.argmax(np.abs(b)), b.shape)
    if abs(b[index]) < atol:
        return np.allclose(a, b, atol=atol)
    phase = a[index] / b[index]
    return abs(abs(phase) - 1) < 1e-8 and np.allclose(a, phase * b, atol=atol)


def circuit_unitary(n_qubits, append_gates):
    """Unitary of the gates appended by `append_gates(circuit)`, column by column:
    each basis state is prepared with x gates first."""
    from brimvale import Circuit

    columns = []
    for j in range(2**n_qubits):
        circuit = Circuit(n_qubits)
        for q in range(n_qubits):
            if (j >> q) & 1:
                circuit.x(q)
        append_gates(circuit)
        columns.append(circuit.execute().state)
    return np.array(columns).T


class RecordingCircuit:
    """Any object with the gate methods: records every call with its arguments."""

    def __init__(self):
        self.calls = []

    def __getattr__(self, name):
        if name not in {"rx", "ry", "rz", "h", "cx"}:
            raise AttributeError(name)

        def gate(*args):
            self.calls.append((name, *args))

        return gate
