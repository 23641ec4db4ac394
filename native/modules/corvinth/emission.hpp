// Gate emission onto a circuit: anything with the gate methods rx, ry, rz,
// h and cx of brimvale.Circuit. Angles are handed over as Python floats and
// qubits as given; gates are appended in call order and stay appended when a
// later step fails.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::corvinth {

namespace py = pybind11;

// exp(-i v.sigma / 2) on `qubit` as rz, ry, rz; nothing below the norm floor.
void emit_axis_rotation(py::handle circuit, py::handle qubit, py::handle vector);

// exp(-i angle P(x)P) on (q0, q1) for axis "X", "Y" (anything else acts as "Z").
void emit_pauli_rotation(py::handle circuit, py::handle q0, py::handle q1, py::handle axis, py::handle angle);

// The nine-parameter disentangler on (q0, q1), or its exact inverse.
void emit_entangler(py::handle circuit, py::handle q0, py::handle q1, py::handle params, bool inverse);

}  // namespace bvc::corvinth
