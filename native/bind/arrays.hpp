// Array conversion shared by the extension modules. Inputs are only read:
// a conversion returns the caller's array itself when it already is a
// C-contiguous array of the wanted dtype, and a converted copy otherwise.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <complex>
#include <vector>

namespace bvc::bind {

namespace py = pybind11;

using cplx = std::complex<double>;
using ComplexArray = py::array_t<cplx, py::array::c_style | py::array::forcecast>;
using RealArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Any array-like as a C-contiguous complex128 array (NumPy's own errors).
ComplexArray as_complex_array(py::handle value);

// Any array-like as a C-contiguous float64 array (NumPy's own errors).
RealArray as_real_array(py::handle value);

// A new, uninitialised C-contiguous array of the given shape.
template <class T>
py::array_t<T> new_array(const std::vector<py::ssize_t>& shape) {
    return py::array_t<T>(shape);
}

}  // namespace bvc::bind
