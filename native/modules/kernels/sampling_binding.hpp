// Registration of the measurement sampler on brimvale_chemistry._kernels.
#pragma once

#include <pybind11/pybind11.h>

void register_sampling(pybind11::module_& m);
