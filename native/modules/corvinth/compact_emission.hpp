// The compact reverse preparation onto a circuit: each disentangler with at
// most three CNOTs and one rotation per run of single-qubit gates.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <vector>

#include "bind/arrays.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

// Appends to `circuit` (anything with rx, ry, rz and cx of brimvale.Circuit)
// the gates preparing the product state of `rotations` (one vector per
// qubit) and then every disentangler of `rows` (shape (count, 11), in the
// order applied) inverted, newest first. Rows must name qubits
// 0 <= q0 < q1 < n_qubits.
void emit_compact_reverse_preparation(py::handle circuit, int n_qubits,
                                      const std::vector<std::array<double, 3>>& rotations,
                                      const bvc::bind::RealArray& rows);

}  // namespace bvc::corvinth
