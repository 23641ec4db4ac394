// brimvale_chemistry.dmrg.mallorek: the TeNPy side of the DMRG stage.
//
// TeNPy is imported inside the functions, on every call, so the package
// imports on machines without it; the orbital map of the sibling module is
// imported when this module loads.
#include <pybind11/pybind11.h>

#include <string>

#include "mallorek.hpp"

namespace py = pybind11;

PYBIND11_MODULE(mallorek, m) {
    m.doc() =
        "TeNPy model backend of the DMRG stage: settings, local terms, molecular model, "
        "initial MPS and dense state extraction.";
    bvc::mallorek::set_module(m);

    m.attr("comb") = py::module_::import("math").attr("comb");
    m.attr("warnings") = py::module_::import("warnings");
    m.attr("np") = py::module_::import("numpy");
    // Relative to this module's package, as `from ..molecule.pellisk import ...`.
    py::object package = m.attr("__name__").attr("rpartition")(".")[py::int_(0)];
    const std::string pellisk = py::cast<std::string>(
        py::module_::import("importlib.util").attr("resolve_name")("..molecule.pellisk", package));
    m.attr("interleaved_to_spin_blocked_map") =
        bvc::mallorek::import_name(pellisk.c_str(), "interleaved_to_spin_blocked_map");

    bvc::mallorek::register_parameters(m);
    bvc::mallorek::register_lattice_model(m);
    bvc::mallorek::register_initial_state(m);
    bvc::mallorek::register_chain_statevector(m);
}
