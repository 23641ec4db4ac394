"""Gate emission: rotations, Pauli-product rotations and whole disentanglers on a circuit."""

import math

import numpy as np
import pytest
from corvinth_reference import (
    PAULI,
    RecordingCircuit,
    circuit_unitary,
    embed_two_qubit,
    equal_up_to_phase,
    rng,  # noqa: F401 (fixture)
    rotation_reference,
)
from scipy.linalg import expm

from brimvale import Circuit
from brimvale_chemistry import corvinth


class TestAxisRotation:
    def test_random_vectors_realise_the_rotation(self, rng):
        for _ in range(10):
            v = rng.normal(scale=2.0, size=3)
            unitary = circuit_unitary(1, lambda c: corvinth._axis_rotation(c, 0, v))
            assert equal_up_to_phase(unitary, rotation_reference(v))

    def test_acts_on_the_given_qubit_only(self, rng):
        v = rng.normal(size=3)
        unitary = circuit_unitary(3, lambda c: corvinth._axis_rotation(c, 2, v))
        expected = np.kron(rotation_reference(v), np.eye(4))
        assert equal_up_to_phase(unitary, expected)

    @pytest.mark.parametrize("vector", [(0, 0, 0), (1e-13, 0, 0), np.zeros(7), []])
    def test_below_the_floor_emits_nothing(self, vector):
        circuit = RecordingCircuit()
        corvinth._axis_rotation(circuit, 0, vector)
        assert circuit.calls == []

    def test_z_rotation_angles(self):
        circuit = RecordingCircuit()
        corvinth._axis_rotation(circuit, 4, (0, 0, 0.8))
        assert [c[0] for c in circuit.calls] == ["rz", "ry", "rz"]
        np.testing.assert_allclose([c[1] for c in circuit.calls], [0.4, 0.0, 0.4], atol=1e-15)
        assert all(type(c[1]) is float and c[2] == 4 for c in circuit.calls)

    @pytest.mark.parametrize(
        "vector, angles",
        [
            # a negated z rotation: zero components of either sign give b = 0, phase 0
            ((-0.0, -0.0, -0.8), [-0.4, 0.0, -0.4]),
            # b real and negative: principal phase pi, whatever the sign of its zero part
            ((0.0, -1.0, 0.0), [-math.pi, 1.0, math.pi]),
            ((-0.0, -1.0, 0.0), [-math.pi, 1.0, math.pi]),
            # a real and negative (turn beyond pi): phase pi
            ((4.0, 0.0, 0.0), [-math.pi / 2, 2 * (math.pi - 2), -3 * math.pi / 2]),
        ],
    )
    def test_principal_phases_of_real_entries(self, vector, angles):
        circuit = RecordingCircuit()
        corvinth._axis_rotation(circuit, 0, vector)
        np.testing.assert_allclose([c[1] for c in circuit.calls], angles, atol=1e-12)

    def test_half_turn_about_x(self):
        circuit = RecordingCircuit()
        corvinth._axis_rotation(circuit, 1, (math.pi, 0, 0))
        np.testing.assert_allclose([c[1] for c in circuit.calls], [math.pi / 2, math.pi, -math.pi / 2], atol=1e-12)

    def test_qubit_is_passed_as_given(self):
        circuit = RecordingCircuit()
        qubit = np.int64(3)
        corvinth._axis_rotation(circuit, qubit, (0.1, 0.2, 0.3))
        assert all(c[2] is qubit for c in circuit.calls)

    def test_wrong_component_count(self):
        circuit = RecordingCircuit()
        with pytest.raises(ValueError, match=r"not enough values to unpack \(expected 3, got 2\)"):
            corvinth._axis_rotation(circuit, 0, (1.0, 1.0))
        assert circuit.calls == []


class TestPauliRotation:
    @pytest.mark.parametrize("axis", ["X", "Y", "Z"])
    @pytest.mark.parametrize("q0, q1", [(0, 1), (1, 2), (0, 2)])
    def test_realises_the_pauli_product_rotation(self, axis, q0, q1):
        angle = 0.37
        unitary = circuit_unitary(3, lambda c: corvinth._pauli_rotation(c, q0, q1, axis, angle))
        local = expm(-1j * angle * np.kron(PAULI[axis], PAULI[axis]))
        assert equal_up_to_phase(unitary, embed_two_qubit(local, q0, q1, 3))

    def test_z_axis_is_three_gates(self):
        circuit = RecordingCircuit()
        corvinth._pauli_rotation(circuit, 2, 3, "Z", 0.25)
        assert circuit.calls == [("cx", 2, 3), ("rz", 0.5, 3), ("cx", 2, 3)]
        assert type(circuit.calls[1][1]) is float

    @pytest.mark.parametrize(
        "axis, before, after",
        [
            ("X", [("h", 0), ("h", 1)], [("h", 0), ("h", 1)]),
            ("Y", [("rx", math.pi / 2, 0), ("rx", math.pi / 2, 1)], [("rx", -math.pi / 2, 0), ("rx", -math.pi / 2, 1)]),
            ("Z", [], []),
        ],
    )
    def test_basis_changes(self, axis, before, after):
        circuit = RecordingCircuit()
        corvinth._pauli_rotation(circuit, 0, 1, axis, np.float32(0.5))
        assert circuit.calls == before + [("cx", 0, 1), ("rz", 1.0, 1), ("cx", 0, 1)] + after

    @pytest.mark.parametrize("axis", ["Q", None, "", "x", "XY"])
    def test_an_unknown_axis_is_refused_before_any_gate(self, axis):
        circuit = RecordingCircuit()
        with pytest.raises(ValueError) as info:
            corvinth._pauli_rotation(circuit, 0, 1, axis, 0.5)
        assert str(info.value) == f"Pauli rotation axis must be 'X', 'Y' or 'Z', got {axis!r}"
        assert circuit.calls == []

    def test_angle_must_be_a_number(self):
        circuit = RecordingCircuit()
        with pytest.raises(TypeError):
            corvinth._pauli_rotation(circuit, 0, 1, "Z", "0.5")
        assert circuit.calls == [("cx", 0, 1)]  # gates before the failure stay

    def test_exactly_five_arguments(self):
        with pytest.raises(TypeError, match=r"_pauli_rotation\(\) missing 1 required positional argument: 'angle'"):
            corvinth._pauli_rotation(RecordingCircuit(), 0, 1, "Z")


class TestAppendEntangler:
    @pytest.mark.parametrize("n_qubits, q0, q1", [(2, 0, 1), (3, 1, 2), (3, 0, 2)])
    def test_forward_sequence_equals_the_entangler_matrix(self, rng, n_qubits, q0, q1):
        for _ in range(3):
            p = rng.normal(size=9)
            unitary = circuit_unitary(n_qubits, lambda c: corvinth._append_entangler(c, q0, q1, p))
            expected = embed_two_qubit(corvinth._entangler_matrix(p), q0, q1, n_qubits)
            assert equal_up_to_phase(unitary, expected)

    def test_inverse_sequence_is_the_adjoint(self, rng):
        p = rng.normal(size=9)
        unitary = circuit_unitary(2, lambda c: corvinth._append_entangler(c, 0, 1, p, inverse=True))
        assert equal_up_to_phase(unitary, corvinth._entangler_matrix(p).conj().T)

    def test_forward_then_inverse_is_the_identity(self, rng):
        p = rng.normal(size=9)

        def both(circuit):
            corvinth._append_entangler(circuit, 1, 2, p)
            corvinth._append_entangler(circuit, 1, 2, p, inverse=True)

        assert equal_up_to_phase(circuit_unitary(3, both), np.eye(8))

    def test_zero_parameters_emit_only_the_coupling_groups(self):
        circuit = Circuit(2)
        corvinth._append_entangler(circuit, 0, 1, np.zeros(9))
        names = [op.name for op in circuit]
        assert names == [
            "h",
            "h",
            "cx",
            "rz",
            "cx",
            "h",
            "h",
            "rx",
            "rx",
            "cx",
            "rz",
            "cx",
            "rx",
            "rx",
            "cx",
            "rz",
            "cx",
        ]
        assert all(op.params[0] == 0.0 for op in circuit if op.name == "rz")

    def test_at_most_23_gates_in_either_direction(self, rng):
        p = rng.normal(size=9)
        for inverse in (False, True):
            circuit = Circuit(2)
            corvinth._append_entangler(circuit, 0, 1, p, inverse=inverse)
            assert len(circuit) == 23

    def test_inverse_order_and_negated_angles(self, rng):
        p = rng.normal(size=9)
        forward, inverse = RecordingCircuit(), RecordingCircuit()
        corvinth._append_entangler(forward, 0, 1, p)
        corvinth._append_entangler(inverse, 0, 1, p, inverse=True)
        z_angles_forward = [c[1] for c in forward.calls if c[0] == "rz" and len(c) == 3 and c[2] == 1]
        # the coupling rz on q1 comes last forward (Z coupling) and first inverse
        coupling = [c for c in inverse.calls if c[0] == "rz"][0]
        assert coupling == ("rz", -2.0 * p[8], 1)
        assert z_angles_forward[-1] == pytest.approx(2.0 * p[8])

    def test_extra_parameters_are_ignored(self, rng):
        p = rng.normal(size=9)
        a, b = RecordingCircuit(), RecordingCircuit()
        corvinth._append_entangler(a, 0, 1, p)
        corvinth._append_entangler(b, 0, 1, np.concatenate([p, [5.0, -3.0]]))
        assert a.calls == b.calls

    def test_too_few_parameters(self):
        circuit = RecordingCircuit()
        with pytest.raises(IndexError):
            corvinth._append_entangler(circuit, 0, 1, np.zeros(7))
        # the X coupling group was emitted before index 7 was reached
        assert [c[0] for c in circuit.calls] == ["h", "h", "cx", "rz", "cx", "h", "h"]
        with pytest.raises(IndexError):
            corvinth._append_entangler(RecordingCircuit(), 0, 1, np.zeros(7), inverse=True)

    def test_inverse_is_keyword_only_and_taken_by_truth(self, rng):
        p = rng.normal(size=9)
        with pytest.raises(TypeError, match="takes 4 positional arguments but 5 were given"):
            corvinth._append_entangler(RecordingCircuit(), 0, 1, p, True)
        a, b = RecordingCircuit(), RecordingCircuit()
        corvinth._append_entangler(a, 0, 1, p, inverse=True)
        corvinth._append_entangler(b, 0, 1, list(p), inverse=[0])
        assert a.calls == b.calls

    def test_parameters_unchanged(self, rng):
        p = rng.normal(size=9)
        before = p.copy()
        corvinth._append_entangler(RecordingCircuit(), 0, 1, p, inverse=True)
        assert np.array_equal(p, before)
