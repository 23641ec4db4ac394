// Registration of the circuit-synthesis functions of brimvale_chemistry.corvinth.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::corvinth {

namespace py = pybind11;

// Gate matrices, Schmidt spectrum and Renyi entropy, product states, gate
// emission and the reverse-preparation snapshot; also installs the
// translation of kernel errors into Python exceptions.
void register_kernels(py::module_& m);

void register_gate_functions(py::module_& m);
void register_entanglement_functions(py::module_& m);
void register_product_state_functions(py::module_& m);
void register_emission_functions(py::module_& m);
void register_snapshot_function(py::module_& m);

}  // namespace bvc::corvinth
