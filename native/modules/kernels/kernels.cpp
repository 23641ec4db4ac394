// brimvale_chemistry._kernels: numeric helpers of the stage modules that are
// not deliverables of their own (Hamiltonian expectation, ...).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "bind/arrays.hpp"
#include "conventions_binding.hpp"
#include "integral_mpo_binding.hpp"
#include "bind/conventions.hpp"
#include "core/statevector.hpp"
#include "sampling_binding.hpp"

namespace py = pybind11;
using namespace bvc::bind;

namespace {

py::object hamiltonian_expectation(const Arguments& a) {
    auto state = as_complex_array(a[0]);
    py::object terms = a[1];
    const std::int64_t n_qubits = to_int64(a[2], "n_qubits");
    if (n_qubits < 0 || n_qubits > 62) raise(PyExc_ValueError, "n_qubits must be between 0 and 62");
    if (state.ndim() != 1 || state.size() != (py::ssize_t{1} << n_qubits)) {
        raise(PyExc_ValueError, "state must hold exactly 2**n_qubits = " + std::to_string(std::int64_t{1} << n_qubits) +
                                    " amplitudes, got shape " + py::cast<std::string>(py::str(state.attr("shape"))));
    }
    std::vector<bvc::sv::PauliMask> masks;
    std::vector<cplx> coeffs;
    // Validation and attribute reads happen here, with the GIL; the sums below
    // touch only plain arrays.
    for (py::handle term : terms) {
        const auto x = py::cast<std::uint64_t>(term.attr("x_mask"));
        const auto z = py::cast<std::uint64_t>(term.attr("z_mask"));
        if (((x | z) >> n_qubits) != 0) {
            raise(PyExc_ValueError, "Pauli term " + py::cast<std::string>(py::str(term)) + " acts outside the " +
                                        std::to_string(n_qubits) + " qubits of the state");
        }
        masks.push_back({x, z});
        coeffs.push_back(py::cast<cplx>(term.attr("coefficient")));
    }
    cplx value;
    {
        py::gil_scoped_release release;
        value = bvc::sv::hamiltonian_expectation(state.data(), static_cast<int>(n_qubits), masks, coeffs);
    }
    return py::cast(value);
}

}  // namespace

PYBIND11_MODULE(_kernels, m) {
    m.doc() = "Numeric kernels of the chemistry stage modules.";
    def_function(m, "hamiltonian_expectation", {arg("state"), arg("pauli_terms"), arg("n_qubits")},
                 "<state|H|state> for H = sum of the Pauli terms, as a complex number.", hamiltonian_expectation);
    register_sampling(m);
    register_conventions(m);
    register_integral_mpo(m);
}
