// Binding of native/core/chemistry/jordan_wigner.hpp: fermionic terms as flat arrays
// in, Pauli strings as bit masks and coefficients out.
#include "jordan_wigner_binding.hpp"

#include <pybind11/numpy.h>

#include <complex>
#include <string>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/chemistry/jordan_wigner.hpp"

namespace py = pybind11;
using namespace bvc::bind;

namespace {

py::object spin_blocked_jordan_wigner(const Arguments& a) {
    auto lengths = as_index_array(a[0], "term_lengths");
    auto modes = as_index_array(a[1], "modes");
    auto creation = as_index_array(a[2], "creation");
    auto coefficients = as_complex_array(a[3]);
    const auto n_spatial = to_int64(a[4], "n_spatial_orbitals");
    const double abs_tol = to_float(a[5]);
    if (n_spatial < 1 || static_cast<std::size_t>(2 * n_spatial) > bvc::jw::kMaxQubits) {
        raise(PyExc_ValueError, "n_spatial_orbitals must be between 1 and " + std::to_string(bvc::jw::kMaxQubits / 2) +
                                    ", got " + std::to_string(n_spatial));
    }
    const py::ssize_t n_terms = coefficients.size();
    if (lengths.ndim() != 1 || coefficients.ndim() != 1 || lengths.size() != n_terms) {
        raise(PyExc_ValueError, "term_lengths and coefficients must be flat arrays of one entry per term");
    }
    bvc::jw::FermionTerms terms;
    terms.offsets.assign(1, 0);
    const std::int64_t* length = lengths.data();
    for (py::ssize_t t = 0; t < n_terms; ++t) {
        if (length[t] < 0) raise(PyExc_ValueError, "term_lengths must not be negative");
        terms.offsets.push_back(terms.offsets.back() + static_cast<std::size_t>(length[t]));
    }
    if (modes.ndim() != 1 || creation.ndim() != 1 || static_cast<std::size_t>(modes.size()) != terms.offsets.back() ||
        creation.size() != modes.size()) {
        raise(PyExc_ValueError, "modes and creation must hold one entry per ladder operator of the terms");
    }
    const std::int64_t* mode = modes.data();
    const std::int64_t* create = creation.data();
    for (py::ssize_t k = 0; k < modes.size(); ++k) {
        if (mode[k] < 0 || mode[k] >= 2 * n_spatial) {
            raise(PyExc_ValueError, "mode " + std::to_string(mode[k]) + " is outside the " +
                                        std::to_string(2 * n_spatial) + " spin orbitals");
        }
        terms.modes.push_back(static_cast<std::uint32_t>(mode[k]));
        terms.creation.push_back(create[k] != 0);
    }
    const std::complex<double>* c = coefficients.data();
    for (py::ssize_t t = 0; t < n_terms; ++t) {
        terms.re.push_back(c[t].real());
        terms.im.push_back(c[t].imag());
    }

    const bvc::jw::PauliSum sum =
        bvc::jw::spin_blocked_jordan_wigner(static_cast<std::size_t>(n_spatial), terms, abs_tol, signal_interrupt());
    const auto size = static_cast<py::ssize_t>(sum.re.size());
    auto x = new_array<std::uint64_t>({size});
    auto z = new_array<std::uint64_t>({size});
    auto values = new_array<std::complex<double>>({size});
    for (py::ssize_t k = 0; k < size; ++k) {
        x.mutable_data()[k] = sum.x[k];
        z.mutable_data()[k] = sum.z[k];
        values.mutable_data()[k] = {sum.re[k], sum.im[k]};
    }
    return py::make_tuple(x, z, values);
}

}  // namespace

void register_jordan_wigner(py::module_& m) {
    def_function(m, "spin_blocked_jordan_wigner",
                 {arg("term_lengths"), arg("modes"), arg("creation"), arg("coefficients"), arg("n_spatial_orbitals"),
                  arg("abs_tol")},
                 "Jordan-Wigner transform of fermionic terms (interleaved modes) on the spin-blocked qubits: "
                 "(x masks, z masks, coefficients) of the Pauli strings, those at or below abs_tol left out.",
                 spin_blocked_jordan_wigner);
}
