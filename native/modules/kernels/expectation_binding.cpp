// The Hamiltonian expectation on brimvale_chemistry._kernels, over Pauli masks.
#include "expectation_binding.hpp"

#include <pybind11/numpy.h>

#include <cstdint>
#include <string>
#include <vector>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/statevector/statevector.hpp"

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
        // Masks are Python ints of any size: one beyond the state's qubits
        // (even beyond 64 bits) is judged before it is narrowed.
        const py::int_ x = to_int(term.attr("x_mask"), "x_mask");
        const py::int_ z = to_int(term.attr("z_mask"), "z_mask");
        const py::int_ outside = (x | z) >> py::int_(n_qubits);
        if (!outside.equal(py::int_(0))) {
            raise(PyExc_ValueError,
                  {py::str("Pauli term "), py::str(term),
                   py::str(" acts outside the " + std::to_string(n_qubits) + " qubits of the state")});
        }
        masks.push_back(
            {static_cast<std::uint64_t>(to_int64(x, "x_mask")), static_cast<std::uint64_t>(to_int64(z, "z_mask"))});
        const Py_complex coefficient = PyComplex_AsCComplex(py::object(term.attr("coefficient")).ptr());
        if (coefficient.real == -1.0 && PyErr_Occurred()) throw py::error_already_set();
        coeffs.emplace_back(coefficient.real, coefficient.imag);
    }
    cplx value;
    {
        py::gil_scoped_release release;
        value = bvc::sv::hamiltonian_expectation(state.data(), static_cast<int>(n_qubits), masks, coeffs,
                                                 signal_interrupt());
    }
    return py::cast(value);
}

}  // namespace

void register_expectation(py::module_& m) {
    def_function(m, "hamiltonian_expectation", {arg("state"), arg("pauli_terms"), arg("n_qubits")},
                 "<state|H|state> for H = sum of the Pauli terms, as a complex number.", hamiltonian_expectation);
}
