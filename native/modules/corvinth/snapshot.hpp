// The reverse-preparation circuit of the disentanglers applied so far.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::corvinth {

namespace py = pybind11;

// (circuit, overlap_mod, energy or None), as _reverse_preparation_snapshot.
// `module` is corvinth itself: Circuit and hamiltonian_expectation are read
// from it on every call, like the globals of a Python function.
py::tuple reverse_preparation_snapshot(py::handle module, py::handle psi0, py::handle disentangled,
                                       const py::int_& n_qubits, py::handle gate_rows, py::handle pauli_terms);

}  // namespace bvc::corvinth
