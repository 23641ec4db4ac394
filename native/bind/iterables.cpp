// Unpacking iterables and taking truth values of Python objects inside the bindings.
#include "bind/iterables.hpp"

#include <cstdint>

namespace bvc::bind {

std::vector<py::object> unpack_exact(py::handle value, std::size_t count) {
    return unpack_exact(value, count, [](py::handle item) { return py::reinterpret_borrow<py::object>(item); });
}

std::vector<py::object> unpack_exact(py::handle value, std::size_t count,
                                     const std::function<py::object(py::handle)>& convert) {
    PyObject* obj = value.ptr();
    PyObject* raw_iter = PyObject_GetIter(obj);
    if (raw_iter == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_TypeError) && Py_TYPE(obj)->tp_iter == nullptr && !PySequence_Check(obj)) {
            PyErr_Clear();
            PyErr_Format(PyExc_TypeError, "cannot unpack non-iterable %.200s object", Py_TYPE(obj)->tp_name);
        }
        throw py::error_already_set();
    }
    py::object iterator = py::reinterpret_steal<py::object>(raw_iter);
    std::vector<py::object> items;
    items.reserve(count);
    while (items.size() < count) {
        PyObject* item = PyIter_Next(iterator.ptr());
        if (item == nullptr) {
            if (PyErr_Occurred()) throw py::error_already_set();
            PyErr_Format(PyExc_ValueError, "not enough values to unpack (expected %zu, got %zu)", count, items.size());
            throw py::error_already_set();
        }
        items.push_back(convert(py::reinterpret_steal<py::object>(item)));
    }
    PyObject* extra = PyIter_Next(iterator.ptr());
    if (extra != nullptr) {
        convert(py::reinterpret_steal<py::object>(extra));
        PyErr_Format(PyExc_ValueError, "too many values to unpack (expected %zu)", count);
        throw py::error_already_set();
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    return items;
}

bool truth(py::handle value) {
    const int result = PyObject_IsTrue(value.ptr());
    if (result < 0) throw py::error_already_set();
    return result == 1;
}

std::optional<std::size_t> reported_length(py::handle value) {
    const Py_ssize_t length = PyObject_Length(value.ptr());
    if (length >= 0) return static_cast<std::size_t>(length);
    if (PyErr_ExceptionMatches(PyExc_TypeError)) {
        PyErr_Clear();
        return std::nullopt;
    }
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
        PyErr_Clear();
        return SIZE_MAX;
    }
    throw py::error_already_set();
}

}  // namespace bvc::bind
