// cvd_dmrg: its arguments resolved into a synthesis state (a vector or an
// MPS) and settings, then run; registered with the record CvdResult, the
// reference path _cvd_dmrg_reference and the layer printer.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::corvinth {

void register_cvd_driver(pybind11::module_& m);

}  // namespace bvc::corvinth
