// CvdResult, the dataclass the synthesis returns: its specified fields, then
// the run's history.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::corvinth {

// The record type, made with dataclasses.make_dataclass; `m` provides Circuit.
pybind11::object make_cvd_result_class(const pybind11::module_& m);

}  // namespace bvc::corvinth
