// The mallorek module object, kept for the attribute lookups of its functions.
#include "mallorek.hpp"

namespace bvc::mallorek {

namespace {
// Borrowed: the module object lives until interpreter shutdown, and holding
// a strong reference from a C++ static would outlive the interpreter.
PyObject* g_module = nullptr;
}  // namespace

void set_module(py::module_ module) { g_module = module.ptr(); }

py::module_ this_module() { return py::reinterpret_borrow<py::module_>(g_module); }

std::string module_name() { return py::cast<std::string>(this_module().attr("__name__")); }

}  // namespace bvc::mallorek
