// The gate arrays of a Python `Circuit`, checked and read into operations.
#pragma once

#include <pybind11/pybind11.h>

#include <cstdint>
#include <vector>

#include "core/statevector/circuit.hpp"

namespace bvc::brimvale {

namespace py = pybind11;

// `codes` (one gate code each), `qubits` (count x 2, the second -1 for a
// single-qubit gate) and `angles`; ValueError for mismatched lengths, an
// unknown code or a negative or repeated qubit.
std::vector<bvc::circuit::Operation> read_gate_list(py::handle codes, py::handle qubits, py::handle angles);

// ValueError "invalid gate at position k" for the first gate on a qubit
// outside 0 ... n_qubits - 1.
void check_gate_qubits(const std::vector<bvc::circuit::Operation>& ops, std::int64_t n_qubits);

}  // namespace bvc::brimvale
