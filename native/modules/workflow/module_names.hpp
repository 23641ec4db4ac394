// Name handling of the workflow module: relative imports performed at load
// and the call-time lookup of module-level names.
#pragma once

#include <pybind11/pybind11.h>

#include <initializer_list>

namespace bvc::workflow {

namespace py = pybind11;

// `from .<submodule> import <names>` executed on behalf of `into`, a module of
// `package`: each name is bound in `into`. A missing module or name fails
// with the interpreter's own ImportError.
void import_from(py::module_& into, const char* package, const char* submodule,
                 std::initializer_list<const char*> names);

// The module-level names of the workflow, read when a call needs them (as a
// module written in Python reads its globals), so rebinding a name such as a
// stage function takes effect at the next call.
class ModuleNames {
public:
    explicit ModuleNames(py::dict globals) : globals_(std::move(globals)) {}

    // The current binding of `name`; NameError when it has been deleted.
    py::object operator[](const char* name) const;

private:
    py::dict globals_;
};

}  // namespace bvc::workflow
