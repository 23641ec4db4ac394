#include "module_names.hpp"

#include <string>

namespace bvc::workflow {

namespace {

// The interpreter's wording for `from m import name` when `m` lacks `name`.
[[noreturn]] void raise_cannot_import(const py::module_& from, const char* name) {
    py::str module_name = from.attr("__name__");
    py::object file = py::getattr(from, "__file__", py::none());
    py::str message = file.is_none()
                          ? py::str("cannot import name {!r} from {!r} (unknown location)").format(name, module_name)
                          : py::str("cannot import name {!r} from {!r} ({})").format(name, module_name, file);
    PyErr_SetImportError(message.ptr(), module_name.ptr(), file.is_none() ? nullptr : file.ptr());
    throw py::error_already_set();
}

}  // namespace

void import_from(py::module_& into, const char* package, const char* submodule,
                 std::initializer_list<const char*> names) {
    py::dict context;
    context["__package__"] = py::str(package);
    context["__name__"] = into.attr("__name__");
    py::tuple fromlist(names.size());
    std::size_t i = 0;
    for (const char* name : names) fromlist[i++] = py::str(name);

    PyObject* imported = PyImport_ImportModuleLevel(submodule, context.ptr(), nullptr, fromlist.ptr(), 1);
    if (imported == nullptr) throw py::error_already_set();
    auto from = py::reinterpret_steal<py::module_>(imported);

    for (const char* name : names) {
        PyObject* value = PyObject_GetAttrString(from.ptr(), name);
        if (value == nullptr) {
            if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw py::error_already_set();
            PyErr_Clear();
            // A submodule imported by the fromlist but not bound as an attribute.
            std::string full = py::cast<std::string>(from.attr("__name__")) + "." + name;
            PyObject* submodules = PyImport_GetModuleDict();
            value = PyDict_GetItemString(submodules, full.c_str());
            if (value == nullptr) raise_cannot_import(from, name);
            Py_INCREF(value);
        }
        into.add_object(name, py::reinterpret_steal<py::object>(value), true);
    }
}

py::object ModuleNames::operator[](const char* name) const {
    PyObject* value = PyDict_GetItemString(globals_.ptr(), name);
    if (value == nullptr) {
        PyErr_Format(PyExc_NameError, "name '%s' is not defined", name);
        throw py::error_already_set();
    }
    return py::reinterpret_borrow<py::object>(value);
}

}  // namespace bvc::workflow
