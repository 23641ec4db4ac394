// Registration of the Hamiltonian expectation on brimvale_chemistry._kernels.
#pragma once

#include <pybind11/pybind11.h>

void register_expectation(pybind11::module_& m);
