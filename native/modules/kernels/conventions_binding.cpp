// The argument conventions of the native modules, exposed for the Python stages.
#include "conventions_binding.hpp"

#include "bind/conventions.hpp"

namespace py = pybind11;
using namespace bvc::bind;

void register_conventions(py::module_& m) {
    def_function(m, "to_int", {arg("value"), arg("name")},
                 "Integer conversion: an int unchanged, a NumPy integer as int, another number truncated; "
                 "TypeError naming the argument otherwise.",
                 [](const Arguments& a) -> py::object {
                     return to_int(a[0], py::cast<std::string>(require_str(a[1], "name")).c_str());
                 });
    def_function(m, "require_str", {arg("value"), arg("name")},
                 "The exact-str check: returns the value, or raises the incorrect-type TypeError.",
                 [](const Arguments& a) -> py::object {
                     return require_str(a[0], py::cast<std::string>(require_str(a[1], "name")).c_str());
                 });
}
