// Helpers shared by the binding files of corvinth.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

#include "bind/arrays.hpp"

namespace bvc::corvinth {

namespace py = pybind11;

// Raises NumPy's own ValueError for reshaping `array` to `shape` (the
// caller has found that the sizes do not match). Throws error_already_set.
[[noreturn]] void raise_reshape_error(py::handle array, const py::tuple& shape);

// 2**exponent as a Python int, for shapes handed to NumPy in error reports.
// Exponents beyond 64 are capped: NumPy rejects every such dimension alike.
py::int_ power_of_two(const py::int_& exponent);

// a < b for two Python ints.
bool less(const py::handle& a, const py::handle& b);

// The three components of a rotation vector with norm at least the floor,
// as the three-way unpacking of `v / |v|` would see them: a scalar cannot be
// unpacked (TypeError), a first axis of another length gives the
// interpreter's unpacking ValueError, and more than one axis is refused.
// Returns false (components untouched) when the norm is below the floor.
bool rotation_components(const bvc::bind::RealArray& v, double components[3]);

// Prints one metrics line of the synthesis: `head` (two blanks, the label
// and its padding), then ": |<psi_DMRG|psi_circuit>|=" with the overlap to
// 12 decimals and ", energy=" with the energy to 12 decimals and " Hartree",
// or "N/A" without an energy.
void print_metrics_line(const std::string& head, double overlap_mod, const std::optional<double>& energy);

// An attribute of NumPy (numpy.integer, numpy.complex128, ...), looked up on use.
py::object numpy_attr(const char* name);

}  // namespace bvc::corvinth
