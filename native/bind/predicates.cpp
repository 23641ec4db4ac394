// The package's integer check and comparisons of arbitrary Python objects.
#include "bind/predicates.hpp"

namespace bvc::bind {

namespace {

bool compare(py::handle a, py::handle b, int op) {
    const int result = PyObject_RichCompareBool(a.ptr(), b.ptr(), op);
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

}  // namespace

bool is_integer(py::handle value) {
    if (PyLong_Check(value.ptr())) return true;
    return py::isinstance(value, py::module_::import("numpy").attr("integer"));
}

bool is_integer_not_bool(py::handle value) { return !PyBool_Check(value.ptr()) && is_integer(value); }

bool is_positive_integer(py::handle value) { return is_integer(value) && !less(value, py::int_(1)); }

bool less(py::handle a, py::handle b) { return compare(a, b, Py_LT); }

bool equal(py::handle a, py::handle b) { return compare(a, b, Py_EQ); }

}  // namespace bvc::bind
