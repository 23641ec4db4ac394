// The command line: the demo presets and `main`.
#pragma once

#include "module_names.hpp"

namespace bvc::workflow {

// The preset table: key -> {"geometry", "basis", "active_occupied",
// "active_virtual", "desc"}, in the order of the --demo choices.
py::dict make_demos();

// Registers `main` on the module. `main` reads `argparse`, `Path`, `_DEMOS`,
// `WORKFLOW_STAGES`, `Molecule` and `MolecularDMRGWorkflow` from `names`.
void def_main(py::module_& module, const ModuleNames& names);

}  // namespace bvc::workflow
