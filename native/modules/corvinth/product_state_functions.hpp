// The product-state functions as the reverse preparation calls them.
#pragma once

#include <pybind11/pybind11.h>

#include <array>

namespace bvc::corvinth {

namespace py = pybind11;

// (list of factors by qubit, product vector), as _product_state_approximation.
py::tuple product_state_approximation(py::handle state, const py::int_& n_qubits);

// The rotation vector of one factor, as _product_factor_rotation.
std::array<double, 3> product_factor_rotation(py::handle factor);

}  // namespace bvc::corvinth
