#include "metrics_line.hpp"

#include <pybind11/pybind11.h>

namespace bvc::corvinth {

namespace py = pybind11;

namespace {

std::string format(double value, const char* pattern) {
    return py::cast<std::string>(py::module_::import("builtins").attr("format")(py::float_(value), pattern));
}

}  // namespace

void print_metrics_line(const std::string& head, double overlap_mod, const std::optional<double>& energy) {
    std::string line = head + ": |\u27e8\u03c8_DMRG|\u03c8_circuit\u27e9|=" + format(overlap_mod, ".12f") + ", energy=";
    line += energy ? format(*energy, ".12f") + " Hartree" : std::string("N/A");
    py::print(py::str(line), py::arg("flush") = true);
}

}  // namespace bvc::corvinth
