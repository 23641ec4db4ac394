// NumPy's names and errors, so that a bad array fails with the error NumPy users know.
#include "numpy_interop.hpp"

#include <algorithm>
#include <string>

#include "bind/errors.hpp"

namespace bvc::corvinth {

using namespace bvc::bind;

void raise_reshape_error(py::handle array, const py::tuple& shape) {
    array.attr("reshape")(shape);
    // Reached only if NumPy accepted the shape after all.
    raise(PyExc_ValueError, "cannot reshape array of size " + py::cast<std::string>(py::str(array.attr("size"))) +
                                " into shape " + py::cast<std::string>(py::str(shape)));
}

py::int_ power_of_two(const py::int_& exponent) {
    const long long e = std::min<long long>(65, PyLong_AsLongLong(exponent.ptr()));
    if (PyErr_Occurred()) PyErr_Clear();  // a huge exponent: capped below
    if (e < 0) return py::int_(0);
    PyObject* power = PyNumber_Lshift(py::int_(1).ptr(), py::int_(e).ptr());
    if (power == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::int_>(power);
}

py::object numpy_attr(const char* name) { return py::module_::import("numpy").attr(name); }

}  // namespace bvc::corvinth
