// Imports performed by the extension modules, with ImportError naming what is missing.
#include "bind/imports.hpp"

#include <string>
#include <vector>

namespace bvc::bind {

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

// `from <module> import <names>` at `level` (0 absolute, 1 relative to the
// package in `globals`): the values in the order of `names`.
std::vector<py::object> from_import(const char* module, std::initializer_list<const char*> names, py::handle globals,
                                    int level) {
    py::tuple fromlist(names.size());
    std::size_t i = 0;
    for (const char* name : names) fromlist[i++] = py::str(name);

    PyObject* imported = PyImport_ImportModuleLevel(module, globals.ptr(), nullptr, fromlist.ptr(), level);
    if (imported == nullptr) throw py::error_already_set();
    auto from = py::reinterpret_steal<py::module_>(imported);

    std::vector<py::object> values;
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
        values.push_back(py::reinterpret_steal<py::object>(value));
    }
    return values;
}

}  // namespace

py::object import_name(const char* module, const char* name) {
    return from_import(module, {name}, py::handle(), 0).front();
}

void import_from(py::module_& into, const char* package, const char* submodule,
                 std::initializer_list<const char*> names) {
    py::dict context;
    context["__package__"] = py::str(package);
    context["__name__"] = into.attr("__name__");
    const auto values = from_import(submodule, names, context, 1);
    std::size_t i = 0;
    for (const char* name : names) into.add_object(name, values[i++], true);
}

}  // namespace bvc::bind
