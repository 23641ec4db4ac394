// The parts of mallorek and what they share: the module object, the
// checks of the package, and the registration of each part.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "bind/imports.hpp"
#include "bind/predicates.hpp"

namespace bvc::mallorek {

namespace py = pybind11;

// Remembers the loaded module. Functions look up its attributes (such as the
// imported orbital map) at call time, so that a caller who rebinds one is
// heard at the next call.
void set_module(py::module_ module);
py::module_ this_module();
std::string module_name();

using bvc::bind::equal;
using bvc::bind::import_name;
using bvc::bind::is_integer;
using bvc::bind::is_integer_not_bool;
using bvc::bind::less;

// The MPO of a model's added terms, as TeNPy's CouplingMPOModel.calc_H_MPO
// builds it (same graph, legs and tensors), assembled without its per-entry
// insertion (term_mpo.cpp).
py::object term_mpo(py::handle model, py::handle tol_zero);

void register_parameters(py::module_& m);
void register_lattice_model(py::module_& m);
void register_initial_state(py::module_& m);
void register_chain_statevector(py::module_& m);

}  // namespace bvc::mallorek
