#include "module_support.hpp"

namespace mallorek {

namespace {
// Borrowed: the module object lives until interpreter shutdown, and holding
// a strong reference from a C++ static would outlive the interpreter.
PyObject* g_module = nullptr;
}  // namespace

void set_module(py::module_ module) { g_module = module.ptr(); }

py::module_ this_module() { return py::reinterpret_borrow<py::module_>(g_module); }

std::string module_name() { return py::cast<std::string>(this_module().attr("__name__")); }

bool is_integer(py::handle value) {
    if (PyLong_Check(value.ptr())) return true;
    return py::isinstance(value, py::module_::import("numpy").attr("integer"));
}

bool is_integer_not_bool(py::handle value) { return !PyBool_Check(value.ptr()) && is_integer(value); }

bool less(py::handle a, py::handle b) {
    int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_LT);
    if (r < 0) throw py::error_already_set();
    return r == 1;
}

bool equal(py::handle a, py::handle b) {
    int r = PyObject_RichCompareBool(a.ptr(), b.ptr(), Py_EQ);
    if (r < 0) throw py::error_already_set();
    return r == 1;
}

py::object import_name(const char* module, const char* name) {
    py::list fromlist;
    fromlist.append(name);
    PyObject* mod = PyImport_ImportModuleLevel(module, nullptr, nullptr, fromlist.ptr(), 0);
    if (mod == nullptr) throw py::error_already_set();
    py::object holder = py::reinterpret_steal<py::object>(mod);
    PyObject* attr = PyObject_GetAttrString(mod, name);
    if (attr == nullptr) {
        if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
            // What `from module import name` reports for a missing name.
            PyErr_Clear();
            PyErr_Format(PyExc_ImportError, "cannot import name '%s' from '%s'", name, module);
        }
        throw py::error_already_set();
    }
    return py::reinterpret_steal<py::object>(attr);
}

}  // namespace mallorek
