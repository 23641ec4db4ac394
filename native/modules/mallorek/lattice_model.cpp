// The TeNPy model of a molecular Hamiltonian: one spin-1/2 fermion site per
// spatial orbital on an open chain, terms added as given.
#include <pybind11/pybind11.h>

#include "bind/conventions.hpp"
#include "mallorek.hpp"

namespace bvc::mallorek {

using namespace bvc::bind;

namespace {

const char* const kMissingTenpy = "Molecular DMRG requires physics-tenpy (the 'tenpy' package).";

struct TenpyModelClasses {
    py::object chain;
    py::object coupling_mpo_model;
    py::object spin_half_fermion_site;
};

TenpyModelClasses import_model_classes() {
    try {
        TenpyModelClasses classes;
        classes.chain = import_name("tenpy.models.lattice", "Chain");
        classes.coupling_mpo_model = import_name("tenpy.models.model", "CouplingMPOModel");
        classes.spin_half_fermion_site = import_name("tenpy.networks.site", "SpinHalfFermionSite");
        return classes;
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_ImportError)) throw;
        py::raise_from(error, PyExc_ImportError, kMissingTenpy);
        throw py::error_already_set();
    }
}

// A CouplingMPOModel subclass whose two hooks use the classes imported by
// this call. A fresh class per call keeps nothing alive between models.
py::object define_model_class(const TenpyModelClasses& classes) {
    using namespace pybind11::literals;
    py::dict namespace_;
    namespace_["__module__"] = module_name();
    namespace_["__qualname__"] = "_molecular_model.<locals>.MolecularModel";
    py::object base = classes.coupling_mpo_model;
    py::object metaclass = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(Py_TYPE(base.ptr())));
    py::object cls = metaclass("MolecularModel", py::make_tuple(base), namespace_);

    py::object chain = classes.chain;
    py::object site_class = classes.spin_half_fermion_site;
    def_method(cls, "init_lattice", {arg("self"), arg("model_params")},
               "Open chain of one N- and Sz-conserving spin-1/2 fermion site per spatial orbital.",
               [chain, site_class](const Arguments& a) -> py::object {
                   py::object site = site_class("cons_N"_a = "N", "cons_Sz"_a = "Sz");
                   return chain(a[1][py::str("n_sites")], site, "bc"_a = "open", "bc_MPS"_a = "finite");
               });
    def_method(cls, "init_terms", {arg("self"), arg("model_params")},
               "Add every (coefficient, term) of the term list as one local term.",
               [](const Arguments& a) -> py::object {
                   py::object add_local_term = a[0].attr("add_local_term");
                   for (py::handle item : a[1][py::str("term_list")]) {
                       auto pair = unpack_exact(item, 2);
                       add_local_term(pair[0], pair[1]);
                   }
                   return py::none();
               });
    // TeNPy's own build of the same MPO rescans every stored block at each
    // insertion, which dominates the model's construction; see term_mpo.cpp.
    def_method(cls, "calc_H_MPO", {arg("self"), arg("tol_zero", py::float_(1.0e-15))},
               "MPO of the added terms, the one CouplingMPOModel.calc_H_MPO builds, each tensor filled in one pass.",
               [](const Arguments& a) -> py::object { return term_mpo(a[0], a[1]); });
    return cls;
}

py::object molecular_model(const Arguments& a) {
    TenpyModelClasses classes = import_model_classes();
    py::object cls = define_model_class(classes);
    py::dict model_params;
    model_params["n_sites"] = a[0];
    model_params["term_list"] = a[1];
    return cls(model_params);
}

}  // namespace

void register_lattice_model(py::module_& m) {
    def_function(m, "_molecular_model", {arg("n_sites"), arg("term_list")},
                 "Create the TenPy molecular MPO without importing TenPy at package import.", molecular_model);
}

}  // namespace bvc::mallorek
