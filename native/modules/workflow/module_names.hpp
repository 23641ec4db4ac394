// The call-time lookup of the workflow module's module-level names.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::workflow {

namespace py = pybind11;

// The module-level names of the workflow, read when a call needs them, so
// that rebinding a name such as a stage function (a test's fake, a user's own
// stage) takes effect at the next call.
class ModuleNames {
public:
    explicit ModuleNames(py::dict globals) : globals_(std::move(globals)) {}

    // The current binding of `name`; NameError when it has been deleted.
    py::object operator[](const char* name) const;

private:
    py::dict globals_;
};

}  // namespace bvc::workflow
