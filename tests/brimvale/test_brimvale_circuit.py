"""The circuit library: gate conventions, qubit order, validation, QASM export."""

import math

import numpy as np
import pytest

from brimvale import Circuit
from brimvale.circuit import MAX_CIRCUIT_QUBITS

I2 = np.eye(2, dtype=complex)
X = np.array([[0, 1], [1, 0]], dtype=complex)
Y = np.array([[0, -1j], [1j, 0]], dtype=complex)
Z = np.diag([1, -1]).astype(complex)
H = np.array([[1, 1], [1, -1]], dtype=complex) / math.sqrt(2)
S = np.diag([1, 1j])


def rotation(pauli, angle):
    return math.cos(angle / 2) * I2 - 1j * math.sin(angle / 2) * pauli


SINGLE = {
    "rx": lambda a: rotation(X, a),
    "ry": lambda a: rotation(Y, a),
    "rz": lambda a: rotation(Z, a),
    "h": lambda: H,
    "x": lambda: X,
    "y": lambda: Y,
    "z": lambda: Z,
    "s": lambda: S,
    "sdg": lambda: S.conj().T,
}


def embed_single(matrix, qubit, n):
    """Full 2^n matrix of a one-qubit gate; qubit 0 is the least significant bit."""
    full = np.array([[1.0]], dtype=complex)
    for q in reversed(range(n)):
        full = np.kron(full, matrix if q == qubit else I2)
    return full


def embed_permutation(n, mapping):
    """Matrix sending basis index i to mapping(i)."""
    full = np.zeros((2**n, 2**n), dtype=complex)
    for i in range(2**n):
        full[mapping(i), i] = 1.0
    return full


def embed_pair(name, a, b, n):
    if name == "cx":
        return embed_permutation(n, lambda i: i ^ (1 << b) if (i >> a) & 1 else i)
    if name == "swap":

        def swapped(i):
            ba, bb = (i >> a) & 1, (i >> b) & 1
            return i if ba == bb else i ^ (1 << a) ^ (1 << b)

        return embed_permutation(n, swapped)
    diag = [(-1.0 if (i >> a) & 1 and (i >> b) & 1 else 1.0) for i in range(2**n)]
    return np.diag(diag).astype(complex)


def random_circuit(rng, n, gates):
    circuit, unitary = Circuit(n), np.eye(2**n, dtype=complex)
    names = list(SINGLE) + (["cx", "cz", "swap"] if n > 1 else [])
    for _ in range(gates):
        name = names[rng.integers(len(names))]
        if name in ("cx", "cz", "swap"):
            a, b = rng.choice(n, size=2, replace=False)
            getattr(circuit, name)(int(a), int(b))
            unitary = embed_pair(name, int(a), int(b), n) @ unitary
        elif name in ("rx", "ry", "rz"):
            angle, q = float(rng.uniform(-4, 4)), int(rng.integers(n))
            getattr(circuit, name)(angle, q)
            unitary = embed_single(SINGLE[name](angle), q, n) @ unitary
        else:
            q = int(rng.integers(n))
            getattr(circuit, name)(q)
            unitary = embed_single(SINGLE[name](), q, n) @ unitary
    return circuit, unitary


class TestSimulation:
    @pytest.mark.parametrize("seed", range(6))
    def test_random_circuit_equals_product_of_gate_matrices(self, seed):
        rng = np.random.default_rng(seed)
        n = 1 + seed % 4
        circuit, unitary = random_circuit(rng, n, 40)
        state = circuit.execute().state
        np.testing.assert_allclose(state, unitary[:, 0], atol=1e-12)

    def test_qubit_zero_is_least_significant_bit(self):
        circuit = Circuit(3)
        circuit.x(0)
        circuit.x(2)
        state = circuit.execute().state
        assert np.flatnonzero(np.abs(state) > 0.5).tolist() == [0b101]

    def test_cx_control_comes_first(self):
        circuit = Circuit(2)
        circuit.x(1)
        circuit.cx(1, 0)
        assert np.argmax(np.abs(circuit.execute().state)) == 0b11

    def test_complex64_and_default_dtype(self):
        circuit = Circuit(2)
        circuit.h(0)
        assert circuit.execute().state.dtype == np.complex128
        low = circuit.execute(dtype=np.complex64).state
        assert low.dtype == np.complex64
        np.testing.assert_allclose(low, [2**-0.5, 2**-0.5, 0, 0], atol=1e-7)

    def test_empty_circuit_is_all_zero_state(self):
        state = Circuit(2).execute().state
        np.testing.assert_array_equal(state, [1, 0, 0, 0])


class TestValidation:
    @pytest.mark.parametrize("n", [0, -1, MAX_CIRCUIT_QUBITS + 1, 2.0, True, "3"])
    def test_bad_qubit_count(self, n):
        with pytest.raises(ValueError):
            Circuit(n)

    def test_state_vector_backend_refuses_more_than_30_qubits(self):
        circuit = Circuit(31)
        circuit.h(30)
        with pytest.raises(ValueError, match="at most 30 qubits; this circuit has 31"):
            circuit.execute()

    @pytest.mark.parametrize(
        "call",
        [
            lambda c: c.h(3),
            lambda c: c.h(-1),
            lambda c: c.h(1.0),
            lambda c: c.rx(0.1, True),
            lambda c: c.cx(1, 1),
            lambda c: c.swap(0, 0),
            lambda c: c.cz(2, 5),
            lambda c: c.rz(float("nan"), 0),
            lambda c: c.ry(float("inf"), 0),
            lambda c: c.rx("a", 0),
        ],
    )
    def test_bad_gate_is_rejected_and_circuit_unchanged(self, call):
        circuit = Circuit(3)
        circuit.h(0)
        with pytest.raises(ValueError):
            call(circuit)
        assert [op.name for op in circuit] == ["h"]

    @pytest.mark.parametrize(
        "call",
        [lambda c, value: c.h(value), lambda c, value: c.rx(value, 0), lambda c, value: c.execute(backend=value)],
    )
    def test_messages_show_only_the_start_of_a_huge_value(self, call):
        with pytest.raises(ValueError) as info:
            call(Circuit(2), list(range(10**6)))
        assert "[0, 1, 2, 3, 4, 5, ...]" in str(info.value) and len(str(info.value)) < 120

    def test_numpy_integer_qubits_are_accepted(self):
        circuit = Circuit(2)
        circuit.cx(np.int64(0), np.int32(1))
        assert list(circuit)[0].qubits == (0, 1)

    @pytest.mark.parametrize(
        "kwargs", [{"backend": "gpu"}, {"device": "cuda"}, {"dtype": np.float64}, {"dtype": "not a dtype"}]
    )
    def test_unknown_backend_device_or_dtype(self, kwargs):
        with pytest.raises(ValueError):
            Circuit(1).execute(**kwargs)

    def test_execute_takes_keywords_only(self):
        with pytest.raises(TypeError):
            Circuit(1).execute("numpy")


class TestInspection:
    def test_len_iteration_counts_and_depth(self):
        circuit = Circuit(3, name="demo")
        circuit.h(0)
        circuit.cx(0, 1)
        circuit.rz(0.5, 2)
        circuit.cx(1, 2)
        assert len(circuit) == 4
        assert circuit.num_qubits == 3 and circuit.name == "demo"
        assert [(op.name, op.qubits, op.params) for op in circuit][2] == ("rz", (2,), (0.5,))
        assert circuit.count_ops() == {"cx": 2, "h": 1, "rz": 1}
        assert circuit.depth() == 3
        circuit.rx(0.1, 1)
        circuit.cx(0, 1)  # waits for the rx in full depth only
        assert (circuit.depth(), circuit.depth(two_qubit_only=True)) == (5, 3)


def qasm_state(text):
    cirq = pytest.importorskip("cirq")
    from cirq.contrib.qasm_import import circuit_from_qasm

    parsed = circuit_from_qasm(text)
    qubits = sorted(parsed.all_qubits(), key=lambda q: int(str(q).split("_")[-1]))
    # cirq orders the state big-endian over the qubit list: reverse it so q[0] is the low bit.
    return cirq.final_state_vector(parsed, qubit_order=list(reversed(qubits)), dtype=np.complex128)


class TestQasm:
    @pytest.mark.parametrize("seed", range(4))
    def test_reader_reproduces_the_state_up_to_global_phase(self, seed):
        rng = np.random.default_rng(100 + seed)
        n = 2 + seed % 3
        circuit, _ = random_circuit(rng, n, 30)
        for q in range(n):  # every qubit used, so the reader keeps them all
            circuit.h(q)
        ours = circuit.execute().state
        theirs = qasm_state(circuit.to_qasm())
        assert abs(abs(np.vdot(ours, theirs)) - 1.0) < 1e-10

    def test_header_and_register(self):
        circuit = Circuit(2)
        circuit.ry(0.25, 1)
        lines = circuit.to_qasm().splitlines()
        assert lines[:3] == ["OPENQASM 2.0;", 'include "qelib1.inc";', "qreg q[2];"]
        assert lines[3] == "ry(0.25) q[1];"

    def test_small_angles_keep_a_decimal_point_and_swap_is_spelled_with_cnots(self):
        circuit = Circuit(2)
        circuit.rz(1e-05, 0)
        circuit.swap(0, 1)
        assert circuit.to_qasm().splitlines()[3:] == [
            "rz(1.0e-05) q[0];",
            "cx q[0],q[1];",
            "cx q[1],q[0];",
            "cx q[0],q[1];",
        ]
