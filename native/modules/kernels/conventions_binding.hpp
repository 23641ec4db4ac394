// Registration of the argument conventions on brimvale_chemistry._kernels.
#pragma once

#include <pybind11/pybind11.h>

// Exposes the package's argument conventions to its Python glue, so stage
// modules written in Python convert arguments exactly as the native ones do.
void register_conventions(pybind11::module_& m);
