// Refinement of the final reverse-preparation circuit: every parameter
// (the product-state rotations and the nine of each disentangler) optimised
// jointly for the fidelity with the DMRG state, from the layer-by-layer fit.
#pragma once

#include <pybind11/pybind11.h>

#include "bind/arrays.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

// Runs the refinement after the last layer and prints its "Refined" metrics
// line. `unrefined` is the last layer's (circuit, overlap_mod, energy or
// None); the result has the same form and is the refined circuit, or the
// unrefined one if refining did not raise the overlap.
py::tuple refine_reverse_preparation(py::handle module, const bvc::bind::ComplexArray& psi0, py::handle disentangled,
                                     const py::int_& n_qubits, const py::list& gate_rows, py::handle pauli_terms,
                                     bool compact, const py::tuple& unrefined);

// The native objective class handed to the optimiser.
void register_refine_objective(py::module_& m);

}  // namespace bvc::corvinth
