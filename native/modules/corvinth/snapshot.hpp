// The reverse-preparation circuit of the disentanglers applied so far.
#pragma once

#include <pybind11/pybind11.h>

#include <array>
#include <vector>

namespace bvc::corvinth {

namespace py = pybind11;

// (circuit, overlap_mod, energy or None), as _reverse_preparation_snapshot.
// `module` is corvinth itself: Circuit and hamiltonian_expectation are read
// from it on every call, so that a replacement set on the module (tests
// set one to watch the calls) is the one used. With
// `compact`, the circuit is the compact emission of the same state.
py::tuple reverse_preparation_snapshot(py::handle module, py::handle psi0, py::handle disentangled,
                                       const py::int_& n_qubits, py::handle gate_rows, py::handle pauli_terms,
                                       bool compact = false);

// The reverse-preparation circuit of given product-state rotations (one
// vector per qubit) and gate rows `rows` (a float64 array of shape (count,
// 11)), not executed.
py::object build_reverse_preparation(py::handle module, const py::int_& n_qubits,
                                     const std::vector<std::array<double, 3>>& rotations, const py::object& rows,
                                     bool compact);

// The snapshot for given product-state rotations (one vector per qubit) and
// gate rows `rows` (a float64 array of shape (count, 11)).
py::tuple score_reverse_preparation(py::handle module, py::handle psi0, const py::int_& n_qubits,
                                    const std::vector<std::array<double, 3>>& rotations, const py::object& rows,
                                    py::handle pauli_terms, bool compact);

}  // namespace bvc::corvinth
