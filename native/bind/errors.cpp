// Raising Python exceptions from C++ with the package's exact messages.
#include "bind/errors.hpp"

namespace bvc::bind {

void raise(PyObject* exc, const std::string& message) {
    PyErr_SetString(exc, message.c_str());
    throw py::error_already_set();
}

void raise(PyObject* exc, std::initializer_list<py::str> parts) {
    py::list pieces;
    for (const py::str& part : parts) pieces.append(part);
    PyErr_SetObject(exc, py::str("").attr("join")(pieces).ptr());
    throw py::error_already_set();
}

void raise_incorrect_type(const char* name, const char* expected, py::handle value) {
    PyErr_Format(PyExc_TypeError, "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)", name, expected,
                 Py_TYPE(value.ptr())->tp_name);
    throw py::error_already_set();
}

void clear_error_unless_interrupt() {
    if (PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception)) throw py::error_already_set();
    PyErr_Clear();
}

}  // namespace bvc::bind
