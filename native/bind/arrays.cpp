#include "bind/arrays.hpp"

#include <string>

namespace bvc::bind {

namespace {

// pybind11's ensure() clears the error of a failed conversion; converting
// once more through NumPy itself raises that error for the caller.
template <class Array>
Array ensure_or_raise_numpy_error(py::handle value, const char* dtype) {
    auto out = Array::ensure(value);
    if (out) return out;
    py::object converted =
        py::module_::import("numpy").attr("asarray")(value, py::arg("dtype") = dtype, py::arg("order") = "C");
    out = Array::ensure(converted);
    if (!out) throw py::type_error("cannot convert " + std::string(Py_TYPE(value.ptr())->tp_name) + " to a " +
                                   dtype + " array");
    return out;
}

}  // namespace

ComplexArray as_complex_array(py::handle value) { return ensure_or_raise_numpy_error<ComplexArray>(value, "complex128"); }

RealArray as_real_array(py::handle value) { return ensure_or_raise_numpy_error<RealArray>(value, "float64"); }

}  // namespace bvc::bind
