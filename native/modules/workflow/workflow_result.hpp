// `MolecularDMRGResult`: the record of the stage results of one run.
#pragma once

#include "module_names.hpp"

namespace bvc::workflow {

// A standard-library dataclass with the fields molecule, electronic_structure,
// dmrg, cvd and measurement; every field but `molecule` defaults to None.
// Needs `dataclass` and the stage result types bound in the module.
py::object make_workflow_result_class(const ModuleNames& names);

}  // namespace bvc::workflow
