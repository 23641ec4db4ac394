// The MolecularDMRGResult record, built as a dataclass when the module loads.
#include "workflow_result.hpp"

#include "bind/annotations.hpp"
#include "stages.hpp"

namespace bvc::workflow {

using bvc::bind::optional_annotation;

namespace {

constexpr const char* kDoc = "Public stage results produced by :class:`MolecularDMRGWorkflow`.";

}  // namespace

py::object make_workflow_result_class(const ModuleNames& names) {
    // Field order is the constructor's argument order.
    py::dict annotations;
    annotations["molecule"] = names["Molecule"];
    annotations["electronic_structure"] = optional_annotation(names["ElectronicStructureResult"]);
    annotations["dmrg"] = optional_annotation(names["DmrgResult"]);
    annotations["cvd"] = optional_annotation(names["CvdResult"]);
    annotations["measurement"] = optional_annotation(names["MeasurementResult"]);

    py::dict namespace_;
    namespace_["__module__"] = kModuleName;
    namespace_["__qualname__"] = "MolecularDMRGResult";
    namespace_["__doc__"] = kDoc;
    namespace_["__annotations__"] = annotations;
    for (const char* field : {"electronic_structure", "dmrg", "cvd", "measurement"}) {
        namespace_[field] = py::none();
    }
    // Appended after the stage fields: wall time per stage that ran, in
    // seconds. Timings differ between otherwise equal runs, so they take no
    // part in equality, and the printed form stays that of the stage fields.
    annotations["stage_seconds"] = py::module_::import("builtins").attr("dict");
    namespace_["stage_seconds"] = py::module_::import("dataclasses")
                                      .attr("field")(py::arg("default_factory") = annotations["stage_seconds"],
                                                     py::arg("repr") = false, py::arg("compare") = false);

    auto type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(&PyType_Type));
    py::object cls = type("MolecularDMRGResult", py::tuple(), namespace_);
    return names["dataclass"](cls);
}

}  // namespace bvc::workflow
