// Type annotations built for classes the extension modules define.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::bind {

namespace py = pybind11;

// `T | None`, for a field or argument that may be None.
py::object optional_annotation(py::handle type);

}  // namespace bvc::bind
