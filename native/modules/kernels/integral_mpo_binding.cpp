// Binding of native/core/chemistry/integral_mpo.hpp: the MPO states and tensor terms of
// an electronic Hamiltonian, as NumPy arrays for the TeNPy tensors built in
// brimvale_chemistry.dmrg.integral_mpo.
#include "integral_mpo_binding.hpp"

#include <pybind11/numpy.h>

#include <string>
#include <vector>

#include "bind/arrays.hpp"
#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/chemistry/integral_mpo.hpp"

namespace py = pybind11;
using namespace bvc::bind;

namespace {

std::string shape_of(const py::array& array) { return py::cast<std::string>(py::str(array.attr("shape"))); }

template <class T, class Field>
py::array_t<T> column(const std::vector<bvc::qc_mpo::Entry>& entries, Field field) {
    auto out = new_array<T>({static_cast<py::ssize_t>(entries.size())});
    T* data = out.mutable_data();
    for (std::size_t i = 0; i < entries.size(); ++i) data[i] = static_cast<T>(field(entries[i]));
    return out;
}

py::object optional_index(std::int32_t index) { return index < 0 ? py::none() : py::object(py::int_(index)); }

py::object integral_mpo_terms(const Arguments& a) {
    auto h = as_real_array(a[0]);
    auto eri = as_real_array(a[1]);
    const double drop = to_float(a[2]);
    if (h.ndim() != 2 || h.shape(0) != h.shape(1) || h.shape(0) < 1) {
        raise(PyExc_ValueError, "one_body must be a non-empty square matrix, got shape " + shape_of(h));
    }
    const py::ssize_t n = h.shape(0);
    if (static_cast<std::size_t>(n) > bvc::qc_mpo::kMaxSites) {
        raise(PyExc_ValueError, "at most " + std::to_string(bvc::qc_mpo::kMaxSites) + " orbitals are supported");
    }
    if (eri.ndim() != 4 || eri.shape(0) != n || eri.shape(1) != n || eri.shape(2) != n || eri.shape(3) != n) {
        raise(PyExc_ValueError, "two_body must have shape (" + std::to_string(n) + ", " + std::to_string(n) + ", " +
                                    std::to_string(n) + ", " + std::to_string(n) + "), got " + shape_of(eri));
    }
    const bvc::qc_mpo::IntegralMpo mpo =
        bvc::qc_mpo::build(static_cast<std::size_t>(n), h.data(), eri.data(), drop, signal_interrupt());

    py::list charges, starts, ends, sites;
    for (std::size_t b = 0; b < mpo.bond_charges.size(); ++b) {
        const auto& bond = mpo.bond_charges[b];
        auto out = new_array<std::int64_t>({static_cast<py::ssize_t>(bond.size()), 2});
        auto view = out.mutable_unchecked<2>();
        for (std::size_t i = 0; i < bond.size(); ++i) {
            view(i, 0) = bond[i].n;
            view(i, 1) = bond[i].twice_sz;
        }
        charges.append(out);
        starts.append(optional_index(mpo.start_state[b]));
        ends.append(optional_index(mpo.done_state[b]));
    }
    for (const auto& entries : mpo.site_entries) {
        using bvc::qc_mpo::Entry;
        sites.append(py::make_tuple(column<std::int64_t>(entries, [](const Entry& e) { return e.left; }),
                                    column<std::int64_t>(entries, [](const Entry& e) { return e.right; }),
                                    column<std::int64_t>(entries, [](const Entry& e) { return e.op; }),
                                    column<bool>(entries, [](const Entry& e) { return e.parity; }),
                                    column<double>(entries, [](const Entry& e) { return e.value; })));
    }
    return py::make_tuple(charges, starts, ends, sites);
}

}  // namespace

void register_integral_mpo(py::module_& m) {
    def_function(m, "integral_mpo_terms", {arg("one_body"), arg("two_body"), arg("drop")},
                 "MPO states and tensor terms of the Hamiltonian of the integrals: (bond charges, start states, "
                 "done states, per site (left, right, op, parity, value)).",
                 integral_mpo_terms);
}
