// The gate arrays of a Python `Circuit`, checked and read into operations.
#pragma once

#include <pybind11/pybind11.h>

#include <vector>

#include "core/circuit.hpp"

namespace brimvale {

namespace py = pybind11;

// `codes` (one gate code each), `qubits` (count x 2, the second -1 for a
// single-qubit gate) and `angles`; ValueError for mismatched lengths or a
// gate on a qubit outside 0 ... n_qubits - 1.
std::vector<bvc::circuit::Operation> read_gate_list(int n_qubits, py::handle codes, py::handle qubits,
                                                    py::handle angles);

}  // namespace brimvale
