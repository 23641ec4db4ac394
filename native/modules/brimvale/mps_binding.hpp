// Registration of the MPS state class and its functions on brimvale._native.
#pragma once

#include <pybind11/pybind11.h>

namespace bvc::brimvale {

// The native MPS state class and the MPS functions of brimvale._native.
void register_mps(pybind11::module_& m);

}  // namespace bvc::brimvale
