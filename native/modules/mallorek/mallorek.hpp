// Shared pieces of the mallorek binding files.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

namespace mallorek {

namespace py = pybind11;

// Remembers the loaded module so that functions look up module attributes
// (such as the imported orbital map) at call time, as module code would.
void set_module(py::module_ module);
py::module_ this_module();
std::string module_name();

// The integer check of this module: an int (a bool counts) or a NumPy integer.
bool is_integer(py::handle value);
// The same check with booleans excluded.
bool is_integer_not_bool(py::handle value);

// Python comparisons and arithmetic on arbitrary objects.
bool less(py::handle a, py::handle b);
bool equal(py::handle a, py::handle b);

// `from <module> import <name>`, with the interpreter's ImportError when the
// module or the name is missing.
py::object import_name(const char* module, const char* name);

// The MPO of a model's added terms, as TeNPy's CouplingMPOModel.calc_H_MPO
// builds it (same graph, legs and tensors), assembled without its per-entry
// insertion (term_mpo.cpp).
py::object term_mpo(py::handle model, py::handle tol_zero);

void register_parameters(py::module_& m);
void register_lattice_model(py::module_& m);
void register_initial_state(py::module_& m);
void register_dense_state(py::module_& m);

}  // namespace mallorek
