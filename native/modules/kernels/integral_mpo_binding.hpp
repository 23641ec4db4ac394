// Registration of the integral MPO builder on brimvale_chemistry._kernels.
#pragma once

#include <pybind11/pybind11.h>

void register_integral_mpo(pybind11::module_& m);
