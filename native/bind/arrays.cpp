// Array conversion of the bindings: the caller's array when it fits, a converted copy otherwise.
#include "bind/arrays.hpp"

#include <string>

#include "bind/conventions.hpp"

namespace bvc::bind {

namespace {

// A failed conversion's error is cleared; converting once more through NumPy
// itself raises that error for the caller.
template <class Array>
Array ensure_or_raise_numpy_error(py::handle value, const char* dtype) {
    auto out = ensure_array<Array>(value);
    if (out) return out;
    py::object converted =
        py::module_::import("numpy").attr("asarray")(value, py::arg("dtype") = dtype, py::arg("order") = "C");
    out = ensure_array<Array>(converted);
    if (!out)
        throw py::type_error("cannot convert " + std::string(Py_TYPE(value.ptr())->tp_name) + " to a " + dtype +
                             " array");
    return out;
}

}  // namespace

ComplexArray as_complex_array(py::handle value) {
    return ensure_or_raise_numpy_error<ComplexArray>(value, "complex128");
}

RealArray as_real_array(py::handle value) { return ensure_or_raise_numpy_error<RealArray>(value, "float64"); }

IndexArray as_index_array(py::handle value, const char* name) {
    py::object array;
    try {
        array = py::module_::import("numpy").attr("asarray")(value);
    } catch (py::error_already_set& error) {
        // NumPy's reason (a ragged list, ...) says nothing of which argument;
        // a KeyboardInterrupt is no reason and goes on.
        if (!error.matches(PyExc_Exception)) throw;
    }
    if (array) {
        const char kind = py::cast<py::array>(array).dtype().kind();
        if (kind == 'i' || kind == 'u' || kind == 'b') {
            if (auto out = ensure_array<IndexArray>(array)) return out;
        }
    }
    raise_incorrect_type(name, "integer array", value);
}

}  // namespace bvc::bind
