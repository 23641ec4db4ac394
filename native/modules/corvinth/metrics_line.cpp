// The synthesis's printed lines, formatted here so that every path prints alike.
#include "metrics_line.hpp"

#include <pybind11/pybind11.h>

namespace bvc::corvinth {

namespace py = pybind11;

namespace {

std::string format(py::handle value, const char* pattern) {
    return py::cast<std::string>(py::module_::import("builtins").attr("format")(value, pattern));
}

}  // namespace

void print_metrics_line(const std::string& head, double overlap_mod, const std::optional<double>& energy) {
    std::string line =
        head + ": |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|=" + format(py::float_(overlap_mod), ".12f") + ", energy=";
    line += energy ? format(py::float_(*energy), ".12f") + " Hartree" : std::string("N/A");
    py::print(py::str(line), py::arg("flush") = true);
}

void print_line(const std::string& text) { py::print(py::str(text), py::arg("flush") = true); }

void print_layer_metrics(const py::int_& layer, double overlap_mod, const std::optional<double>& energy) {
    print_metrics_line("  Layer " + format(layer, "<2") + "              ", overlap_mod, energy);
}

}  // namespace bvc::corvinth
