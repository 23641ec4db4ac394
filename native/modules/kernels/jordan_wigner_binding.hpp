// Registration of the spin-blocked Jordan-Wigner transform on brimvale_chemistry._kernels.
#pragma once

#include <pybind11/pybind11.h>

void register_jordan_wigner(pybind11::module_& m);
