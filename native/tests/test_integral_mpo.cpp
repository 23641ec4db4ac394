// Tests of the integral MPO: bond dimensions, terms and dropped states.
#include <cmath>
#include <random>
#include <vector>

#include "check.hpp"
#include "core/chemistry/integral_mpo.hpp"

namespace {

using bvc::qc_mpo::build;

std::vector<double> random_values(std::size_t count, unsigned seed) {
    std::mt19937 gen(seed);
    std::normal_distribution<double> normal;
    std::vector<double> values(count);
    for (double& v : values) v = normal(gen);
    return values;
}

struct Stop {};

}  // namespace

// With every integral nonzero, a bond with `left` modes on its left and
// `right` on its right carries start and done, the single operators of both
// sides and the operator pairs of the side whose pairs it keeps.
BVC_TEST(bond_dimension_of_generic_integrals) {
    for (std::size_t n : {2u, 5u, 6u}) {
        const auto h = random_values(n * n, 1);
        const auto eri = random_values(n * n * n * n, 2);
        const auto mpo = build(n, h.data(), eri.data(), 0.0, {});
        BVC_CHECK(mpo.bond_charges.size() == n + 1);
        BVC_CHECK(mpo.bond_charges.front().size() == 1 && mpo.bond_charges.back().size() == 1);
        for (std::size_t b = 1; b < n; ++b) {
            const std::size_t left = 2 * b, right = 2 * (n - b);
            const std::size_t pairs = b <= n / 2 ? left : right;
            const std::size_t expected = 2 + 2 * left + 2 * right + pairs * (pairs - 1) + pairs * pairs;
            BVC_CHECK(mpo.bond_charges[b].size() == expected);
            BVC_CHECK(mpo.start_state[b] >= 0 && mpo.done_state[b] >= 0);
        }
    }
}

// One orbital with h = 0.5 and (00|00) = 2: 0.5 (n_up + n_down) + 2 n_up n_down.
BVC_TEST(single_orbital_terms) {
    const double h = 0.5, eri = 2.0;
    const auto mpo = build(1, &h, &eri, 0.0, {});
    BVC_CHECK(mpo.site_entries.size() == 1);
    const auto& entries = mpo.site_entries[0];
    BVC_CHECK(entries.size() == 3);
    const std::uint8_t n_up = bvc::qc_mpo::kNumber, n_down = 4 * bvc::qc_mpo::kNumber;
    for (const auto& e : entries) {
        BVC_CHECK(e.left == 0 && e.right == 0 && !e.parity);
        if (e.op == n_up || e.op == n_down)
            BVC_CHECK(e.value == 0.5);
        else
            BVC_CHECK(e.op == n_up + n_down && e.value == 2.0);
    }
}

BVC_TEST(terms_below_the_drop_level_and_their_states_are_removed) {
    const std::size_t n = 3;
    std::vector<double> h(n * n, 0.0), eri(n * n * n * n, 0.0);
    h[0 * n + 2] = h[2 * n + 0] = 1.0;  // hopping 0 <-> 2 only
    h[1 * n + 1] = 1e-18;
    const auto mpo = build(n, h.data(), eri.data(), 1e-15, {});
    // Only the hopping's a+ and a of either spin cross the middle site (no start
    // or done state there: every string begins on site 0 and ends on site 2),
    // passing it with the Jordan-Wigner sign and carrying the coefficient +-1.
    BVC_CHECK(mpo.bond_charges[1].size() == 4 && mpo.bond_charges[2].size() == 4);
    BVC_CHECK(mpo.start_state[1] < 0 && mpo.done_state[2] < 0);
    BVC_CHECK(mpo.site_entries[1].size() == 4);
    for (const auto& e : mpo.site_entries[1]) BVC_CHECK(e.op == 0 && e.parity && std::abs(e.value) == 1.0);
}

BVC_TEST(an_interrupt_stops_the_build) {
    const std::size_t n = 20;  // enough strings for the interrupt to be polled
    const auto h = random_values(n * n, 3);
    const auto eri = random_values(n * n * n * n, 4);
    bool thrown = false;
    try {
        build(n, h.data(), eri.data(), 0.0, bvc::Interrupt([] { throw Stop{}; }));
    } catch (const Stop&) {
        thrown = true;
    }
    BVC_CHECK(thrown);
}
