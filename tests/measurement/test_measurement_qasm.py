"""The OpenQASM programs: read by an independent OpenQASM 2 reader, they prepare the rotated state."""

import cirq
import numpy as np
import pytest
from cirq.contrib.qasm_import import circuit_from_qasm
from measurement_support import random_circuit, random_hamiltonian, rotate_reference

from brimvale import Circuit
from brimvale.circuit import qasm_real as real_literal
from brimvale_chemistry.measurement import measurement_QASM
from brimvale_chemistry.utils import PauliTerm


def reader_state(text: str, n_qubits: int) -> np.ndarray:
    """The reader's final state of the program without its measurements, qubit 0 least significant."""
    program = circuit_from_qasm(text)
    unitary_part = cirq.Circuit(op for op in program.all_operations() if not cirq.is_measurement(op))
    order = [cirq.NamedQubit(f"q_{k}") for k in reversed(range(n_qubits))]
    return cirq.final_state_vector(unitary_part, qubit_order=order, dtype=np.complex128)


def same_up_to_phase(a, b) -> bool:
    return abs(abs(np.vdot(a, b)) - 1.0) < 1e-9


@pytest.mark.parametrize("n_qubits, seed", [(3, 1), (4, 2), (6, 3)])
def test_every_program_reproduces_the_rotated_state(tmp_path, capsys, n_qubits, seed):
    circuit = random_circuit(n_qubits, 40, seed)
    terms = random_hamiltonian(n_qubits, 25, seed)
    result = measurement_QASM(circuit, terms, n_qubits, shots=10, seed=0, workdir=tmp_path)
    state = circuit.execute().state
    assert result.n_groups == len(result.files) > 1
    for path, group in zip(result.files, result.groups):
        text = path.read_text()
        assert same_up_to_phase(reader_state(text, n_qubits), rotate_reference(state, n_qubits, group.bases))


def test_every_qubit_is_measured_into_its_own_bit(tmp_path, capsys):
    circuit = Circuit(3)
    circuit.x(0)
    circuit.x(2)
    result = measurement_QASM(circuit, [PauliTerm.from_string(1.0, "Z1")], 3, shots=5, seed=1, workdir=tmp_path)
    program = circuit_from_qasm(result.files[0].read_text())
    measured = {op.qubits[0].name: op.gate.key for op in program.all_operations() if cirq.is_measurement(op)}
    assert measured == {f"q_{k}": f"c_{k}" for k in range(3)}
    bits = cirq.Simulator().run(program, repetitions=1).measurements
    reader_bitstring = "".join(str(int(bits[f"c_{k}"][0, 0])) for k in reversed(range(3)))
    assert list(result.counts[0]) == [reader_bitstring] == ["101"]


class TestLiterals:
    @pytest.mark.parametrize("value", [1e-5, 3.0, -0.25, 1e16, -2.5e-300, 0.1])
    def test_real_literal_has_a_point_and_the_exact_value(self, value):
        text = real_literal(value)
        mantissa = text.split("e")[0]
        assert "." in mantissa and float(text) == value

    def test_swap_is_spelled_with_qelib1_gates(self, tmp_path, capsys):
        circuit = Circuit(2)
        circuit.x(0)
        circuit.swap(0, 1)
        result = measurement_QASM(circuit, [PauliTerm.from_string(1.0, "Z0")], 2, shots=3, seed=0, workdir=tmp_path)
        text = result.files[0].read_text()
        assert "swap" not in text
        assert same_up_to_phase(reader_state(text, 2), circuit.execute().state)
