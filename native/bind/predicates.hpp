// Judging Python values: the integer check of the package and comparisons
// of arbitrary objects, with the errors of their own methods raised.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::bind {

namespace py = pybind11;

// An int (a bool counts) or a NumPy integer.
bool is_integer(py::handle value);
// The same check with booleans excluded.
bool is_integer_not_bool(py::handle value);
// is_integer and at least 1: the rule of every count the stages take.
bool is_positive_integer(py::handle value);

// a < b and a == b through the objects' own comparison methods, so any type
// a caller passes compares as it defines, and its errors are raised.
bool less(py::handle a, py::handle b);
bool equal(py::handle a, py::handle b);

}  // namespace bvc::bind
