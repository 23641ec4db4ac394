// brimvale_chemistry._kernels: numeric helpers of the stage modules that are
// not deliverables of their own: the Hamiltonian expectation, the
// measurement sampler, the argument conventions for the Python glue and the
// integral MPO.
#include <pybind11/pybind11.h>

#include "conventions_binding.hpp"
#include "expectation_binding.hpp"
#include "integral_mpo_binding.hpp"
#include "sampling_binding.hpp"

PYBIND11_MODULE(_kernels, m) {
    m.doc() = "Numeric kernels of the chemistry stage modules.";
    register_expectation(m);
    register_sampling(m);
    register_conventions(m);
    register_integral_mpo(m);
}
