// brimvale_chemistry._kernels: numeric helpers of the stage modules that are
// not deliverables of their own: the Hamiltonian expectation, the
// measurement sampler, the argument conventions for the Python glue and the
// integral MPO.
#include <pybind11/pybind11.h>

#include "conventions_binding.hpp"
#include "core/runtime/defaults.hpp"
#include "expectation_binding.hpp"
#include "integral_mpo_binding.hpp"
#include "jordan_wigner_binding.hpp"
#include "sampling_binding.hpp"

PYBIND11_MODULE(_kernels, m) {
    m.doc() = "Numeric kernels of the chemistry stage modules.";
    register_expectation(m);
    register_sampling(m);
    register_conventions(m);
    register_integral_mpo(m);
    register_jordan_wigner(m);
    // The defaults and limits the stages written in Python share with the
    // native ones; brimvale_chemistry._defaults reads them from here.
    namespace defaults = bvc::defaults;
    m.attr("SEED") = defaults::kSeed;
    m.attr("SHOTS") = defaults::kShots;
    m.attr("DMRG_CHI0") = defaults::kDmrgChi0;
    m.attr("DMRG_MAXDIM") = defaults::kDmrgMaxdim;
    m.attr("DMRG_MAX_SWEEPS") = defaults::kDmrgMaxSweeps;
    m.attr("DMRG_CUTOFF") = defaults::kDmrgCutoff;
    m.attr("MPS_ROUNDING_CUTOFF") = defaults::kMpsRoundingCutoff;
    m.attr("MPS_MAX_BOND") = defaults::kMpsMaxBond;
    m.attr("MAX_DENSE_QUBITS") = defaults::kMaxDenseQubits;
}
