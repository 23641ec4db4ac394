// `MolecularDMRGWorkflow`: the settings of one molecule's run and the driver
// that calls the stages in order up to a terminal stage.
#pragma once

#include "module_names.hpp"

namespace bvc::workflow {

// A plain class (base `object`) with `__init__` and `run`. The stage
// functions, `Molecule`, `MolecularDMRGResult` and `Path` are read from
// `names` at each call. Needs `numpy` bound as `np` for the dtype default.
py::object make_workflow_class(const ModuleNames& names);

}  // namespace bvc::workflow
