// The C++ object behind `self` in a method of a bound class.
//
// A method can be called with any first argument (`Type.method(42)`), and
// `Type.__new__(Type)` makes an instance that has no C++ object at all;
// reaching through either would crash or lock memory that was never set up.
// Both raise TypeError here instead.
#pragma once

#include <pybind11/pybind11.h>

#include <typeinfo>

namespace bvc::bind {

namespace py = pybind11;

namespace detail {

// Null when `self` holds a constructed object of the bound type `type`;
// otherwise raises the TypeError (never returns).
void* constructed_value(py::handle self, const std::type_info& type, const char* method);

}  // namespace detail

template <class T>
T& bound_instance(py::handle self, const char* method) {
    return *static_cast<T*>(detail::constructed_value(self, typeid(T), method));
}

}  // namespace bvc::bind
