// Array conversion shared by the extension modules. Inputs are only read:
// a conversion returns the caller's array itself when it already is a
// C-contiguous array of the wanted dtype, and a converted copy otherwise.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <complex>
#include <cstdint>
#include <vector>

#include "bind/errors.hpp"

namespace bvc::bind {

namespace py = pybind11;

using cplx = std::complex<double>;
using ComplexArray = py::array_t<cplx, py::array::c_style | py::array::forcecast>;
using RealArray = py::array_t<double, py::array::c_style | py::array::forcecast>;
using IndexArray = py::array_t<std::int64_t, py::array::c_style | py::array::forcecast>;

// `value` as Array through NumPy's conversion, or a null array with the
// error cleared, as Array::ensure, which also clears a KeyboardInterrupt
// raised during the conversion; this raises it instead.
template <class Array>
Array ensure_array(py::handle value) {
    struct Conversion : Array {
        using Array::raw_array_t;
    };
    auto out = py::reinterpret_steal<Array>(Conversion::raw_array_t(value.ptr()));
    if (!out) clear_error_unless_interrupt();
    return out;
}

// Any array-like as a C-contiguous complex128 array (NumPy's own errors).
ComplexArray as_complex_array(py::handle value);

// Any array-like as a C-contiguous float64 array (NumPy's own errors).
RealArray as_real_array(py::handle value);

// An array-like of integers (any integer or boolean dtype) as a C-contiguous
// int64 array. Anything else (floats, strings, objects, a ragged list) raises
// TypeError "Argument '<name>' has incorrect type (expected integer array, got <type>)".
IndexArray as_index_array(py::handle value, const char* name);

// A new, uninitialised C-contiguous array of the given shape.
template <class T>
py::array_t<T> new_array(const std::vector<py::ssize_t>& shape) {
    return py::array_t<T>(shape);
}

}  // namespace bvc::bind
