// Tests of the spin-blocked Jordan-Wigner transform on known operators.
#include <cstdint>
#include <map>
#include <utility>

#include "check.hpp"
#include "core/chemistry/jordan_wigner.hpp"

namespace {

using Strings = std::map<std::pair<std::uint64_t, std::uint64_t>, std::pair<double, double>>;

Strings transform(std::size_t n_spatial, const bvc::jw::FermionTerms& terms) {
    const auto sum = bvc::jw::spin_blocked_jordan_wigner(n_spatial, terms, 1e-12);
    Strings out;
    for (std::size_t k = 0; k < sum.re.size(); ++k) out[{sum.x[k], sum.z[k]}] = {sum.re[k], sum.im[k]};
    return out;
}

}  // namespace

// Two orbitals, qubits 0 1 up and 2 3 down. The spin-down number operator of
// orbital 1 (mode 3 -> qubit 3) is (I - Z3) / 2; the hopping a+_1 a_0 of the
// spin-up modes 2 and 0 (qubits 1 and 0) is (X0 X1 + Y0 Y1) / 4 - i (X0 Y1 - Y0 X1) / 4.
BVC_TEST(jordan_wigner_of_number_and_hopping_operators) {
    bvc::jw::FermionTerms number{{0, 2}, {3, 3}, {true, false}, {2.0}, {0.0}};
    const Strings n = transform(2, number);
    BVC_CHECK(n.size() == 2);
    BVC_CHECK((n.at({0, 0}) == std::pair{1.0, 0.0}));
    BVC_CHECK((n.at({0, 8}) == std::pair{-1.0, 0.0}));

    bvc::jw::FermionTerms hop{{0, 2}, {2, 0}, {true, false}, {1.0}, {0.0}};
    const Strings h = transform(2, hop);
    BVC_CHECK(h.size() == 4);
    BVC_CHECK((h.at({3, 0}) == std::pair{0.25, 0.0}));   // X0 X1
    BVC_CHECK((h.at({3, 3}) == std::pair{0.25, 0.0}));   // Y0 Y1
    BVC_CHECK((h.at({3, 2}) == std::pair{0.0, -0.25}));  // X0 Y1
    BVC_CHECK((h.at({3, 1}) == std::pair{0.0, 0.25}));   // Y0 X1
}

// A term and its negative cancel; a sum that falls below 1e-8 on the way is
// dropped and restarts from zero, and small coefficients are left out.
BVC_TEST(jordan_wigner_drops_small_sums) {
    bvc::jw::FermionTerms terms{{0, 2, 4, 6, 8},
                                {0, 0, 0, 0, 0, 0, 1, 1},
                                {true, false, true, false, true, false, true, false},
                                {1.0, -1.0 + 1e-9, 5e-9, 3.0},
                                {0.0, 0.0, 0.0, 0.0}};
    const Strings s = transform(1, terms);
    // Only the last term survives: 3 n_down = 1.5 (I - Z1).
    BVC_CHECK(s.size() == 2);
    BVC_CHECK((s.at({0, 0}) == std::pair{1.5, 0.0}));
    BVC_CHECK((s.at({0, 2}) == std::pair{-1.5, 0.0}));
}
