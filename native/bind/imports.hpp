// The imports of an extension module, at load or when a function needs a
// dependency. A missing module or name raises the ImportError of the import
// statement, so the user learns which dependency to install.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>

namespace bvc::bind {

namespace py = pybind11;

// `from <module> import <name>`: the value of `name`, a submodule of that
// name included.
py::object import_name(const char* module, const char* name);

// `from .<submodule> import <names>` executed on behalf of `into`, a module of
// `package`: each name is bound in `into`.
void import_from(py::module_& into, const char* package, const char* submodule,
                 std::initializer_list<const char*> names);

}  // namespace bvc::bind
