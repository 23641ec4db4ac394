// Python exceptions raised from C++ with the package's exact messages.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>
#include <string>

namespace bvc::bind {

namespace py = pybind11;

// Raises TypeError "Argument '%.200s' has incorrect type (expected %.200s, got %.200s)"
// for any expected type name.
[[noreturn]] void raise_incorrect_type(const char* name, const char* expected, py::handle value);

// Raises a Python exception of type `exc` with `message` (no formatting).
[[noreturn]] void raise(PyObject* exc, const std::string& message);

// The same with a message assembled from Python strings (texts, str() or
// repr() of the caller's objects): any text, even one without a UTF-8 form
// (a lone surrogate), reaches the user as it is.
[[noreturn]] void raise(PyObject* exc, std::initializer_list<py::str> parts);

// Clears the pending Python error, except one that is not an Exception
// (KeyboardInterrupt, SystemExit): that one is the user's and is raised
// again, so a Ctrl-C handled inside a conversion is never lost.
void clear_error_unless_interrupt();

}  // namespace bvc::bind
