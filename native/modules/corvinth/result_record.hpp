// CvdResult, the dataclass the synthesis returns: its specified fields, then
// the run's history.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::cvd {

// The record type, made with dataclasses.make_dataclass; `m` provides Circuit.
pybind11::object make_result_record(const pybind11::module_& m);

}  // namespace bvc::cvd
