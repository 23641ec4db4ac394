// A Python builtin function backed by a C++ callable, made with the
// interpreter's own function type rather than pybind11's dispatcher.
//
// pybind11 treats every function named "__init__" or "__setstate__" as the
// constructor of a pybind11-bound class and reads its instance layout; on a
// class made with `type(...)` that layout does not exist. Methods with those
// names on such classes are therefore made here.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>
#include <string>

namespace bvc::bind {

namespace py = pybind11;

using RawCall = std::function<py::object(const py::args&, const py::kwargs&)>;

// `doc` is stored as the function's docstring verbatim; a first line of the
// form "name(...)\n--\n\n" becomes its __text_signature__, as for builtins.
// With `method` true the function is wrapped to bind to the instance it is
// looked up on, so that it can serve as a method of a class made with
// `type(...)`.
py::object make_builtin_callable(const std::string& name, const std::string& doc, RawCall call, bool method);

}  // namespace bvc::bind
