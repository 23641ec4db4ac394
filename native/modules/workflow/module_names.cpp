// Looking up the workflow module's names at call time.
#include "module_names.hpp"

namespace bvc::workflow {

py::object ModuleNames::operator[](const char* name) const {
    PyObject* value = PyDict_GetItemString(globals_.ptr(), name);
    if (value == nullptr) {
        PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(value);
}

}  // namespace bvc::workflow
