// NumPy's own names and errors: a malformed array argument fails with the
// exception its caller already knows how to read.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::corvinth {

namespace py = pybind11;

// Raises NumPy's own ValueError for reshaping `array` to `shape` (the
// caller has found that the sizes do not match). Throws error_already_set.
[[noreturn]] void raise_reshape_error(py::handle array, const py::tuple& shape);

// 2**exponent as a Python int, for shapes handed to NumPy in error reports.
// Exponents beyond 64 are capped: NumPy rejects every such dimension alike.
py::int_ power_of_two(const py::int_& exponent);

// An attribute of NumPy (numpy.integer, numpy.complex128, ...), looked up on use.
py::object numpy_attr(const char* name);

}  // namespace bvc::corvinth
