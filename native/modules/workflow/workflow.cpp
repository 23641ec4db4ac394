// brimvale_chemistry.workflow: the stage order, the result record, the
// workflow driver and the command line.
#include <pybind11/pybind11.h>

#include "bind/imports.hpp"
#include "command_line.hpp"
#include "module_names.hpp"
#include "stages.hpp"
#include "workflow_driver.hpp"
#include "workflow_result.hpp"

namespace py = pybind11;
using namespace bvc::workflow;
using bvc::bind::import_from;

namespace {

constexpr const char* kPackage = "brimvale_chemistry";

void import_dependencies(py::module_& m) {
    m.add_object("argparse", py::module_::import("argparse"));
    m.add_object("dataclass", py::module_::import("dataclasses").attr("dataclass"));
    m.add_object("Path", py::module_::import("pathlib").attr("Path"));
    m.add_object("np", py::module_::import("numpy"));
    import_from(m, kPackage, "dmrg", {"DmrgResult", "dmrg"});
    import_from(m, kPackage, "measurement", {"MeasurementResult", "measurement_QASM"});
    import_from(m, kPackage, "molecule", {"ElectronicStructureResult", "Molecule", "electronic_structure"});
    import_from(m, kPackage, "corvinth", {"CvdResult", "cvd_dmrg"});
}

py::tuple stage_names() {
    py::tuple stages(kStages.size());
    for (std::size_t i = 0; i < kStages.size(); ++i) stages[i] = py::str(kStages[i]);
    return stages;
}

}  // namespace

PYBIND11_MODULE(workflow, m) {
    m.doc() = "Molecular electronic-structure, DMRG, CVD, and measurement pipeline.";
    import_dependencies(m);
    const ModuleNames names(m.attr("__dict__"));

    m.attr("WORKFLOW_STAGES") = stage_names();
    m.attr("MolecularDMRGResult") = make_workflow_result_class(names);
    m.attr("MolecularDMRGWorkflow") = make_workflow_class(names);
    m.attr("_DEMOS") = make_demos();
    def_main(m, names);
}
