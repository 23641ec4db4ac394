// brimvale_chemistry.corvinth: circuit synthesis by classical variational
// disentanglement.
#include <pybind11/pybind11.h>

#include "bind/conventions.hpp"
#include "bind/imports.hpp"
#include "bind/lapack_loader.hpp"
#include "core/synthesis/entanglement.hpp"
#include "core/synthesis/gates.hpp"
#include "driver.hpp"
#include "kernels.hpp"
#include "refine.hpp"

namespace py = pybind11;

namespace bvc::corvinth {

void register_kernels(py::module_& m) {
    py::register_local_exception_translator([](std::exception_ptr failure) {
        try {
            if (failure) std::rethrow_exception(failure);
        } catch (const bvc::synthesis::DecompositionFailed& e) {
            // The same exception NumPy raises when its decomposition fails.
            py::object error = py::module_::import("numpy.linalg").attr("LinAlgError");
            PyErr_SetString(error.ptr(), e.what());
        }
    });
    register_gate_functions(m);
    register_entanglement_functions(m);
    register_product_state_functions(m);
    register_emission_functions(m);
    register_snapshot_function(m);
    register_refine_objective(m);
}

}  // namespace bvc::corvinth

namespace {

// `from <module> import <name>`: the name becomes an attribute of corvinth.
void import_name(py::module_& m, const char* module, const char* name) {
    m.attr(name) = bvc::bind::import_name(module, name);
}

}  // namespace

PYBIND11_MODULE(corvinth, m) {
    m.doc() = "Circuit synthesis by classical variational disentanglement of a DMRG state.";

    import_name(m, "scipy.optimize", "minimize");
    import_name(m, "brimvale", "Circuit");
    import_name(m, "brimvale_chemistry.dmrg", "DmrgResult");
    import_name(m, "brimvale_chemistry.utils", "PauliTerm");
    import_name(m, "brimvale_chemistry.utils", "_PAULI");
    import_name(m, "brimvale_chemistry.utils", "default_layers");
    import_name(m, "brimvale_chemistry.utils", "hamiltonian_expectation");
    bvc::bind::load_lapack();

    m.attr("_PAULI_AXES") = py::str(bvc::synthesis::kPauliAxes);
    m.attr("_ENTANGLER_PARAMS") = py::int_(bvc::synthesis::kEntanglerParams);
    m.attr("_ROW_WIDTH") = py::int_(bvc::synthesis::kGateRowWidth);
    py::list public_names;
    for (const char* name : {"CvdResult", "default_renyi_indices", "cvd_dmrg"}) public_names.append(name);
    m.attr("__all__") = public_names;

    bvc::corvinth::register_kernels(m);
    bvc::corvinth::register_cvd_driver(m);
}
