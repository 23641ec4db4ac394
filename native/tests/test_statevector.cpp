// Tests of the state-vector kernels against Kronecker products and known states.
#include <cmath>
#include <complex>
#include <vector>

#include "check.hpp"
#include "core/statevector/circuit.hpp"
#include "core/statevector/statevector.hpp"
#include "states.hpp"

using bvc::sv::cplx;

using bvc::test::distance;
using bvc::test::random_state;

// A Kronecker product A (x) B in the |q1 q0> basis equals B on q0 then A on q1,
// for both orders of the two qubits in the state.
BVC_TEST(two_qubit_kernel_matches_kronecker_of_single_qubit_gates) {
    const bvc::sv::Mat2 a{{{0.6, 0.0}, {0.0, 0.8}, {0.0, 0.8}, {0.6, 0.0}}};
    const bvc::sv::Mat2 b{{{0.0, 1.0}, {0.0, 0.0}, {0.0, 0.0}, {0.0, -1.0}}};
    const bvc::sv::Mat4 kron = bvc::sv::kron(a, b);
    for (auto [q0, q1] : {std::pair{0, 3}, std::pair{3, 1}}) {
        auto psi = random_state(4, 7);
        auto expected = psi;
        bvc::sv::apply_1q(expected.data(), 4, q0, b);
        bvc::sv::apply_1q(expected.data(), 4, q1, a);
        bvc::sv::apply_2q(psi.data(), 4, q0, q1, kron);
        BVC_CHECK(distance(psi, expected) < 1e-14);
    }
}

// Left-to-right summation gives what std::complex arithmetic gives, bit for
// bit: the synthesis's stored results were made that way.
BVC_TEST(two_qubit_kernel_sums_left_to_right_as_complex_arithmetic) {
    const auto psi = random_state(5, 11);
    const auto gate_source = random_state(4, 12);
    bvc::sv::Mat4 u;
    for (int k = 0; k < 16; ++k) u.m[k] = gate_source[k];
    auto out = psi;
    bvc::sv::apply_2q(out.data(), 5, 3, 1, u, bvc::sv::Summation::left_to_right);
    bool identical = true;
    for (std::size_t i = 0; i < psi.size(); ++i) {
        if ((i & 0b1010) != 0) continue;
        const std::size_t idx[4] = {i, i | 0b1000, i | 0b0010, i | 0b1010};
        for (int r = 0; r < 4; ++r) {
            const cplx expected = u.m[4 * r] * psi[idx[0]] + u.m[4 * r + 1] * psi[idx[1]] +
                                  u.m[4 * r + 2] * psi[idx[2]] + u.m[4 * r + 3] * psi[idx[3]];
            identical = identical && out[idx[r]] == expected;
        }
    }
    BVC_CHECK(identical);
}

BVC_TEST(cx_flips_target_where_control_is_set) {
    std::vector<cplx> psi(8, 0.0);
    psi[0b001] = 1.0;  // qubit 0 set
    bvc::sv::apply_cx(psi.data(), 3, 0, 2);
    BVC_CHECK(std::abs(psi[0b101] - cplx(1.0)) < 1e-15);
    bvc::sv::apply_cx(psi.data(), 3, 1, 0);  // control clear: nothing happens
    BVC_CHECK(std::abs(psi[0b101] - cplx(1.0)) < 1e-15);
}

BVC_TEST(pauli_expectations_of_known_states) {
    // |psi> = (|0> + i|1>)/sqrt2 on qubit 1 of two qubits: <Y1> = 1, <X1> = 0, <Z0> = 1.
    std::vector<cplx> psi(4, 0.0);
    psi[0b00] = 1.0 / std::sqrt(2.0);
    psi[0b10] = cplx(0.0, 1.0 / std::sqrt(2.0));
    BVC_CHECK(std::abs(bvc::sv::pauli_expectation(psi.data(), 2, {0b10, 0b10}) - cplx(1.0)) < 1e-15);
    BVC_CHECK(std::abs(bvc::sv::pauli_expectation(psi.data(), 2, {0b10, 0b00})) < 1e-15);
    BVC_CHECK(std::abs(bvc::sv::pauli_expectation(psi.data(), 2, {0b00, 0b01}) - cplx(1.0)) < 1e-15);
}

BVC_TEST(rotation_gates_follow_half_angle_convention) {
    // ry(pi) |0> = |1>; rz(pi/2) then gives the phase e^{i pi/4} on |1>.
    std::vector<bvc::circuit::Operation> ops = {{bvc::circuit::Gate::RY, 0, -1, M_PI},
                                                {bvc::circuit::Gate::RZ, 0, -1, M_PI / 2}};
    std::vector<cplx> psi(2);
    bvc::circuit::simulate(ops, 1, psi.data());
    BVC_CHECK(std::abs(psi[0]) < 1e-15);
    BVC_CHECK(std::abs(psi[1] - std::polar(1.0, M_PI / 4)) < 1e-15);
}
