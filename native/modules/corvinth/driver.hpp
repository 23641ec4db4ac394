// The synthesis driver of `corvinth`: the result record `CvdResult`, the
// entry point `cvd_dmrg`, its metrics printer and the native objective the
// optimiser calls once per evaluation.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::cvd {

void register_cvd_driver(pybind11::module_& m);

}  // namespace bvc::cvd
