// Charge-sector bond bound and the random initial MPS of the DMRG stage.
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bind/conventions.hpp"
#include "bind/signals.hpp"
#include "core/chemistry/sector.hpp"
#include "mallorek.hpp"

namespace bvc::mallorek {

using namespace bvc::bind;

namespace {

const char* const kNotReached =
    "Did not reach desired chi after 1000 iterations of random unitary evolution. "
    "Is chi too large for the given system?";
constexpr int kMaxRandomRuns = 1000;

py::int_ to_python_int(const bvc::num::BigUint& value) {
    const auto bytes = value.to_bytes_le();
    py::bytes raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return py::reinterpret_steal<py::int_>(py::int_().attr("from_bytes")(raw, "little").release());
}

std::uint32_t to_count(const py::int_& value) {
    return static_cast<std::uint32_t>(py::cast<unsigned long long>(value));
}

py::int_ max_sector_bond_dimension(py::handle n_sites, py::handle target_charge) {
    if (!is_integer_not_bool(n_sites) || less(n_sites, py::int_(1))) {
        raise(PyExc_ValueError, "n_sites must be a positive integer");
    }
    // Each item is converted as soon as it is read, so a bad charge value is
    // reported before a wrong number of values.
    const auto charge =
        unpack_exact(target_charge, 2, [](py::handle item) -> py::object { return to_int(item, "target_charge"); });
    const py::int_ total_n(charge[0]);
    const py::int_ twice_sz(charge[1]);
    const py::object up_twice = total_n + twice_sz;
    const py::object down_twice = total_n - twice_sz;
    if (!equal(up_twice & py::int_(1), py::int_(0)) || !equal(down_twice & py::int_(1), py::int_(0))) {
        raise(PyExc_ValueError, {py::str("invalid target charge "), py::repr(target_charge)});
    }
    const py::int_ n_up = up_twice >> py::int_(1);
    const py::int_ n_down = down_twice >> py::int_(1);
    const py::int_ sites(py::reinterpret_borrow<py::object>(n_sites));
    if (less(n_up, py::int_(0)) || less(sites, n_up) || less(n_down, py::int_(0)) || less(sites, n_down)) {
        raise(PyExc_ValueError,
              {py::str("target charge "), py::repr(target_charge), py::str(" is outside the site Hilbert space")});
    }
    // A chain beyond 2^32 sites has no representable state anyway.
    if (!less(sites, py::int_(std::uint64_t{1} << 32))) {
        raise(PyExc_OverflowError, "n_sites is too large");
    }
    const auto n = to_count(sites), up = to_count(n_up), down = to_count(n_down);
    if (!bvc::sector::bound_fits_memory(n, up, down)) {
        raise(PyExc_ValueError, {py::str("the exact bond bound of target charge "), py::repr(target_charge),
                                 py::str(" on " + std::to_string(n) + " sites would need more than 1 GiB of memory")});
    }
    bvc::num::BigUint bound;
    {
        py::gil_scoped_release release;
        bound = bvc::sector::max_bond_dimension(n, up, down, signal_interrupt());
    }
    return to_python_int(bound);
}

bool assertions_enabled() { return equal(py::module_::import("sys").attr("flags").attr("optimize"), py::int_(0)); }

// The final charge check, also run on the product state before any evolution:
// random unitaries keep the charge, so labels of another sector are reported
// at once instead of after a thousand futile runs.
void check_charge_sector(const py::object& psi, const py::object& target_charge) {
    using namespace pybind11::literals;
    if (!assertions_enabled()) return;
    py::object charge = psi.attr("get_total_charge")("only_physical_legs"_a = true);
    if (!equal(py::list(charge), py::list(target_charge))) {
        raise(PyExc_AssertionError, {py::str("random initial MPS left the charge sector: "), py::str(charge),
                                     py::str(" != "), py::str(target_charge)});
    }
}

py::object largest_bond(const py::object& psi) { return py::module_::import("builtins").attr("max")(psi.attr("chi")); }

py::object random_initial_mps(const Arguments& a) {
    using namespace pybind11::literals;
    const py::object& sites = a[0];
    const py::object& labels = a[1];
    const py::object& chi0 = a[2];
    const py::object& target_charge = a[3];

    py::object mps_class = import_name("tenpy.networks.mps", "MPS");
    const py::int_ n_sites(py::len(sites));
    py::object reachable_chi = max_sector_bond_dimension(n_sites, target_charge);
    py::object target_chi = py::int_(chi0);
    if (less(reachable_chi, target_chi)) target_chi = reachable_chi;

    py::object psi =
        mps_class.attr("from_product_state")(sites, labels, "bc"_a = "finite", "unit_cell_width"_a = n_sites);
    check_charge_sector(psi, target_charge);
    if (less(py::int_(1), n_sites) && less(py::int_(1), target_chi)) {
        py::object evolution_class = import_name("tenpy.algorithms.tebd", "RandomUnitaryEvolution");
        py::dict trunc_params;
        trunc_params["chi_max"] = target_chi;
        py::dict options;
        options["N_steps"] = 10;
        options["trunc_params"] = trunc_params;
        py::object randomizer = evolution_class(psi, options);
        for (int run = 0; run < kMaxRandomRuns; ++run) {
            if (!less(largest_bond(psi), target_chi)) break;
            randomizer.attr("run")();
        }
        // Judged on the state itself, so a target reached by the very last
        // run is not reported as missed.
        if (less(largest_bond(psi), target_chi)) {
            // From C, stack level 1 is the Python frame that called us.
            if (PyErr_WarnEx(PyExc_UserWarning, kNotReached, 1) < 0) throw py::error_already_set();
        }
        psi.attr("canonical_form")();
    }
    check_charge_sector(psi, target_charge);
    return psi;
}

}  // namespace

void register_initial_state(py::module_& m) {
    def_function(m, "_max_sector_bond_dimension", {arg("n_sites"), arg("target_charge")},
                 "Largest bond dimension of any state with charge (N, 2*Sz) on a chain of spinful fermion sites.",
                 [](const Arguments& a) -> py::object { return max_sector_bond_dimension(a[0], a[1]); });
    def_function(m, "_random_initial_mps", {arg("sites"), arg("labels"), arg("chi0"), arg("target_charge")},
                 "Random MPS in the target charge sector, grown by random unitary evolution toward chi0.",
                 random_initial_mps);
}

}  // namespace bvc::mallorek
