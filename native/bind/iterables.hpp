// Reading Python iterables and truth values inside the bindings. A failure
// raises the error of Python's own unpacking or bool(), the message a user
// already knows how to read.
#pragma once

#include <pybind11/pybind11.h>

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace bvc::bind {

namespace py = pybind11;

// Unpacking into exactly `count` names, with the interpreter's own errors:
// TypeError "cannot unpack non-iterable <type> object", ValueError
// "not enough values to unpack (expected N, got K)" and
// "too many values to unpack (expected N)". Items are read by iteration.
std::vector<py::object> unpack_exact(py::handle value, std::size_t count);

// The same with every item passed through `convert` as it is read: a bad
// item is reported at its place in the iteration, before the count is judged.
std::vector<py::object> unpack_exact(py::handle value, std::size_t count,
                                     const std::function<py::object(py::handle)>& convert);

// The truth value of `value` (bool(value)), with the error of a failing
// __bool__ or __len__ raised.
bool truth(py::handle value);

// The number of items `value` reports through len(), when it reports one:
// nothing for an object without a length (its TypeError is cleared), and
// SIZE_MAX for a length beyond the machine's sizes (len(range(2**64)) raises
// OverflowError). Any other error of __len__ is raised. Lets a caller judge a
// length before reading what may be an endless number of items.
std::optional<std::size_t> reported_length(py::handle value);

}  // namespace bvc::bind
