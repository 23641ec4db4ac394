// The integer, float, complex and string conversions applied to declared arguments.
#include "bind/typed_arguments.hpp"

#include <cmath>
#include <string>

#include "bind/errors.hpp"

namespace bvc::bind {

namespace {

// A TypeError from a number protocol means the value is no number after all
// (an array of several elements offers __index__ and __int__ but refuses
// both): it gets the same message, naming the argument, as a value without
// them. Other errors (NaN, infinity) are the value's own and pass through.
[[noreturn]] void raise_conversion_failure(const char* name, py::handle value) {
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        raise_incorrect_type(name, "int", value);
    }
    throw py::error_already_set();
}

}  // namespace

py::int_ to_int(py::handle value, const char* name) {
    PyObject* obj = value.ptr();
    if (PyLong_CheckExact(obj)) return py::reinterpret_borrow<py::int_>(value);
    if (PyIndex_Check(obj)) {
        PyObject* result = PyNumber_Index(obj);
        if (result != nullptr) return py::reinterpret_steal<py::int_>(result);
        // A 0-d float array has __index__ that refuses; it is still a number
        // and is truncated below.
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::error_already_set();
        PyErr_Clear();
    }
    PyNumberMethods* nb = Py_TYPE(obj)->tp_as_number;
    if (nb != nullptr && nb->nb_int != nullptr) {
        PyObject* result = PyNumber_Long(obj);
        if (result == nullptr) raise_conversion_failure(name, value);
        return py::reinterpret_steal<py::int_>(result);
    }
    if (nb != nullptr && nb->nb_float != nullptr) {
        double d = PyFloat_AsDouble(obj);
        if (d == -1.0 && PyErr_Occurred()) raise_conversion_failure(name, value);
        PyObject* result = PyLong_FromDouble(std::trunc(d));
        if (result == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::int_>(result);
    }
    raise_incorrect_type(name, "int", value);
}

std::int64_t to_int64(py::handle value, const char* name) {
    py::int_ converted = to_int(value, name);
    int overflow = 0;
    const long long out = PyLong_AsLongLongAndOverflow(converted.ptr(), &overflow);
    if (out == -1 && PyErr_Occurred()) throw py::error_already_set();
    if (overflow != 0) raise(PyExc_OverflowError, std::string(name) + " does not fit in a 64-bit integer");
    return static_cast<std::int64_t>(out);
}

double to_float(py::handle value) {
    double out = PyFloat_AsDouble(value.ptr());
    if (out == -1.0 && PyErr_Occurred()) throw py::error_already_set();
    return out;
}

std::complex<double> to_complex(py::handle value, const char* what) {
    const Py_complex out = PyComplex_AsCComplex(value.ptr());
    if (out.real == -1.0 && PyErr_Occurred()) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw py::error_already_set();
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "%s must be a number, got %.200s", what, Py_TYPE(value.ptr())->tp_name);
        throw py::error_already_set();
    }
    return {out.real, out.imag};
}

py::str require_str(py::handle value, const char* name) {
    if (!PyUnicode_CheckExact(value.ptr())) raise_incorrect_type(name, "str", value);
    return py::reinterpret_borrow<py::str>(value);
}

}  // namespace bvc::bind
