// Type annotations for the classes the extension modules build at load.
#include "bind/annotations.hpp"

namespace bvc::bind {

py::object optional_annotation(py::handle type) {
    PyObject* joined = PyNumber_Or(type.ptr(), Py_None);
    if (joined == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(joined);
}

}  // namespace bvc::bind
