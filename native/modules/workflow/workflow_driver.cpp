// MolecularDMRGWorkflow: storing a run's settings and calling the stages in order.
#include "workflow_driver.hpp"

#include <chrono>
#include <string>

#include "bind/conventions.hpp"
#include "core/runtime/defaults.hpp"
#include "opt_in_settings.hpp"
#include "stages.hpp"

namespace bvc::workflow {

using namespace bvc::bind;

namespace {

constexpr const char* kClassDoc = "Run the molecular workflow through a selected terminal stage.";
constexpr const char* kInitDoc =
    "Keep the molecule and the settings of its run; ``workdir`` None means the current directory.";
constexpr const char* kRunDoc = "Run through ``target``; the default executes the complete workflow.";

// Positions of the bound arguments of __init__, in signature order.
enum Setting : std::size_t {
    kSelf,
    kMolecule,
    kShots,
    kDmrgChi0,
    kDmrgMaxdim,
    kDmrgMaxSweeps,
    kDmrgCutoff,
    kLayers,
    kRenyiIndices,
    kCvdMaxiter,
    kCvdRestarts,
    kCvdInitScale,
    kWorkdir,
    kSeed,
    kBackend,
    kDevice,
    kDtype,
    kFirstOptIn,
};

std::vector<Param> init_params(const ModuleNames& names) {
    std::vector<Param> params = {
        arg("self"),
        arg("molecule"),
        kwonly("shots", py::int_(defaults::kShots)),
        kwonly("dmrg_chi0", py::int_(defaults::kDmrgChi0)),
        kwonly("dmrg_maxdim", py::int_(defaults::kDmrgMaxdim)),
        kwonly("dmrg_max_sweeps", py::int_(defaults::kDmrgMaxSweeps)),
        kwonly("dmrg_cutoff", py::float_(defaults::kDmrgCutoff)),
        kwonly("layers", py::none()),
        kwonly("renyi_indices", py::none()),
        kwonly("cvd_maxiter", py::int_(defaults::kCvdMaxiter)),
        kwonly("cvd_restarts", py::int_(defaults::kCvdRestarts)),
        kwonly("cvd_init_scale", py::float_(defaults::kCvdInitScale)),
        kwonly("workdir", py::none()),
        kwonly("seed", py::int_(defaults::kSeed)),
        kwonly("backend", py::str("numpy")),
        kwonly("device", py::str("cpu")),
        kwonly("dtype", names["np"].attr("complex128")),
    };
    for (Param& p : opt_in_params()) params.push_back(std::move(p));
    return params;
}

py::object optional_int(const py::object& value, const char* name) {
    return value.is_none() ? py::object(py::none()) : py::object(to_int(value, name));
}

py::object init(const ModuleNames& names, const Arguments& a) {
    // Conversions in the order of the settings, so the first bad setting is
    // the one reported; the molecule is judged only after all of them.
    py::object shots = to_int(a[kShots], "shots");
    py::object chi0 = to_int(a[kDmrgChi0], "dmrg_chi0");
    py::object maxdim = to_int(a[kDmrgMaxdim], "dmrg_maxdim");
    py::object max_sweeps = to_int(a[kDmrgMaxSweeps], "dmrg_max_sweeps");
    py::object cutoff = py::float_(to_float(a[kDmrgCutoff]));
    py::object layers = optional_int(a[kLayers], "layers");
    py::object maxiter = to_int(a[kCvdMaxiter], "cvd_maxiter");
    py::object restarts = to_int(a[kCvdRestarts], "cvd_restarts");
    py::object init_scale = py::float_(to_float(a[kCvdInitScale]));
    py::object seed = optional_int(a[kSeed], "seed");
    py::object backend = require_str(a[kBackend], "backend");
    py::object device = require_str(a[kDevice], "device");
    const std::vector<py::object> opt_ins = convert_opt_in_settings(a, kFirstOptIn);

    const py::object& molecule = a[kMolecule];
    const int is_molecule = PyObject_IsInstance(molecule.ptr(), names["Molecule"].ptr());
    if (is_molecule < 0) throw py::error_already_set();
    if (is_molecule == 0) raise(PyExc_TypeError, "molecule must be a Molecule");

    // The working directory is fixed now, so a later change of the process's
    // directory does not move the output of this workflow.
    py::object path_type = names["Path"];
    py::object workdir = a[kWorkdir].is_none() ? path_type.attr("cwd")() : path_type(a[kWorkdir]);

    const py::object& self = a[kSelf];
    py::setattr(self, "molecule", molecule);
    py::setattr(self, "shots", shots);
    py::setattr(self, "dmrg_chi0", chi0);
    py::setattr(self, "dmrg_maxdim", maxdim);
    py::setattr(self, "dmrg_max_sweeps", max_sweeps);
    py::setattr(self, "dmrg_cutoff", cutoff);
    py::setattr(self, "layers", layers);
    py::setattr(self, "renyi_indices", a[kRenyiIndices]);
    py::setattr(self, "cvd_maxiter", maxiter);
    py::setattr(self, "cvd_restarts", restarts);
    py::setattr(self, "cvd_init_scale", init_scale);
    py::setattr(self, "workdir", workdir);
    py::setattr(self, "seed", seed);
    py::setattr(self, "backend", backend);
    py::setattr(self, "device", device);
    py::setattr(self, "dtype", a[kDtype]);
    store_opt_in_settings(self, opt_ins);
    return py::none();
}

// Index of `target` in the stage order; ValueError naming all stages otherwise.
// Compared as Python strings, so a target without a UTF-8 form (a lone
// surrogate) is an unknown stage like any other.
std::size_t terminal_stage(const py::str& target) {
    std::string listing;
    for (std::size_t i = 0; i < kStages.size(); ++i) {
        if (target.equal(py::str(kStages[i]))) return i;
        if (i > 0) listing += ", ";
        listing += kStages[i];
    }
    raise(PyExc_ValueError, "target must be one of: " + listing);
}

// Calls `stage` and records its wall time under `name` in `seconds`.
template <typename Call>
py::object timed(py::dict& seconds, std::size_t stage, Call&& call) {
    const auto start = std::chrono::steady_clock::now();
    py::object value = call();
    seconds[kStages[stage]] = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return value;
}

py::object run(const ModuleNames& names, const Arguments& a) {
    const py::object& self = a[0];
    const std::size_t last = terminal_stage(require_str(a[1], "target"));
    // A complete run ends with the run record; a user's file in its place is
    // reported now, before hours of work, not after.
    py::object run_record;
    if (last == kMeasurement) {
        run_record = py::module_::import("brimvale_chemistry.report.summary");
        run_record.attr("check_destination")(self.attr("workdir"));
    }

    // Settings are read from the instance at each call, so changes made after
    // construction apply to the next run.
    py::object result = names["MolecularDMRGResult"](py::arg("molecule") = self.attr("molecule"));

    py::dict seconds = result.attr("stage_seconds");

    py::setattr(result, "electronic_structure", timed(seconds, kElectronicStructure, [&] {
                    return names["electronic_structure"](self.attr("molecule"),
                                                         py::arg("workdir") = self.attr("workdir"),
                                                         **opt_in_stage_keywords(self, kElectronicStructure));
                }));
    if (last == kElectronicStructure) return result;

    py::setattr(result, "dmrg", timed(seconds, kDmrg, [&] {
                    return names["dmrg"](result.attr("electronic_structure"), py::arg("chi0") = self.attr("dmrg_chi0"),
                                         py::arg("maxdim") = self.attr("dmrg_maxdim"),
                                         py::arg("max_sweeps") = self.attr("dmrg_max_sweeps"),
                                         py::arg("cutoff") = self.attr("dmrg_cutoff"),
                                         **opt_in_stage_keywords(self, kDmrg));
                }));
    if (last == kDmrg) return result;

    py::object seed = self.attr("seed");
    py::object synthesis_seed = seed.is_none() ? py::object(py::int_(defaults::kSeed)) : seed;
    py::setattr(result, "cvd", timed(seconds, kCvd, [&] {
                    return names["cvd_dmrg"](
                        result.attr("dmrg"),
                        py::arg("pauli_terms") = result.attr("electronic_structure").attr("pauli_terms"),
                        py::arg("layers") = self.attr("layers"), py::arg("renyi_indices") = self.attr("renyi_indices"),
                        py::arg("maxiter") = self.attr("cvd_maxiter"), py::arg("restarts") = self.attr("cvd_restarts"),
                        py::arg("init_scale") = self.attr("cvd_init_scale"), py::arg("seed") = synthesis_seed,
                        **opt_in_stage_keywords(self, kCvd));
                }));
    if (last == kCvd) return result;

    // The measurement and the run record are written under one hold of the
    // workdir's lock, the previous record retired first, so that no record
    // ever sits beside files of another run.
    py::object structure = result.attr("electronic_structure");
    auto measure = [&] {
        py::setattr(result, "measurement", timed(seconds, kMeasurement, [&] {
                        return names["measurement_QASM"](
                            result.attr("cvd").attr("circuit"), structure.attr("pauli_terms"),
                            structure.attr("n_qubits"), py::arg("shots") = self.attr("shots"),
                            py::arg("seed") = self.attr("seed"), py::arg("workdir") = self.attr("workdir"),
                            py::arg("backend") = measurement_backend(self), py::arg("device") = self.attr("device"),
                            py::arg("dtype") = self.attr("dtype"), **measurement_keywords(self, structure));
                    }));
    };
    // Path() also accepts a workdir reassigned as a string after construction.
    run_record.attr("measure_and_record")(self, result, py::cpp_function(measure),
                                          py::arg("synthesis_seed") = synthesis_seed);

    py::object resolved = names["Path"](self.attr("workdir")).attr("resolve")();
    py::print(py::str("  QASM directory        : ") + py::str(resolved));
    return result;
}

}  // namespace

py::object make_workflow_class(const ModuleNames& names) {
    py::dict namespace_;
    namespace_["__module__"] = kModuleName;
    namespace_["__qualname__"] = "MolecularDMRGWorkflow";
    namespace_["__doc__"] = kClassDoc;
    auto type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
    py::object cls = type("MolecularDMRGWorkflow", py::tuple(), namespace_);

    def_method(cls, "__init__", init_params(names), kInitDoc, [names](const Arguments& a) { return init(names, a); });
    def_method(cls, "run", {arg("self"), arg("target", py::str(kStages[kMeasurement]))}, kRunDoc,
               [names](const Arguments& a) { return run(names, a); });
    return cls;
}

}  // namespace bvc::workflow
