// Tests of the compact reverse preparation: CNOT counts and the state it prepares.
#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "check.hpp"
#include "core/statevector/circuit.hpp"
#include "core/synthesis/compact_circuit.hpp"
#include "core/synthesis/gates.hpp"

namespace {

using bvc::circuit::Gate;
using bvc::circuit::Operation;
using bvc::sv::adjoint;
using bvc::sv::Mat2;
using bvc::sv::Mat4;
using bvc::synthesis::cplx;
using bvc::synthesis::kGateRowWidth;

// The state of the plain reverse preparation from the gate matrices.
std::vector<cplx> reference_state(int n, const std::vector<double>& rotations, const std::vector<double>& rows) {
    std::vector<cplx> psi(std::size_t{1} << n, 0.0);
    psi[0] = 1.0;
    for (int q = 0; q < n; ++q)
        bvc::sv::apply_1q(psi.data(), n, q, bvc::synthesis::axis_rotation_matrix(&rotations[3 * q]));
    for (std::size_t k = rows.size() / kGateRowWidth; k-- > 0;) {
        const double* row = &rows[k * kGateRowWidth];
        bvc::sv::apply_2q(psi.data(), n, int(row[0]), int(row[1]), adjoint(bvc::synthesis::entangler_matrix(row + 2)));
    }
    return psi;
}

struct Counts {
    int cnots = 0;
    int longest_run = 0;  // single-qubit gates in a row on one wire
    bool only_rotations_and_cx = true;
};

Counts count(const std::vector<Operation>& ops, int n) {
    Counts c;
    std::vector<int> run(n, 0);
    for (const Operation& op : ops) {
        if (op.gate == Gate::CX) {
            ++c.cnots;
            run[op.q0] = run[op.q1] = 0;
        } else {
            c.only_rotations_and_cx &= op.gate == Gate::RX || op.gate == Gate::RY || op.gate == Gate::RZ;
            c.longest_run = std::max(c.longest_run, ++run[op.q0]);
        }
    }
    return c;
}

double distance(const std::vector<cplx>& a, const std::vector<cplx>& b) {
    double d = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) d = std::max(d, std::abs(a[i] - b[i]));
    return d;
}

void append_row(std::vector<double>& rows, int q0, const std::vector<double>& params) {
    rows.push_back(q0);
    rows.push_back(q0 + 1);
    rows.insert(rows.end(), params.begin(), params.end());
}

}  // namespace

// Exact special cases of the Pauli core: multiples of pi/2 are local, one
// remainder of exactly pi/4 is a CNOT, a zero remainder saves one.
BVC_TEST(pauli_core_cnot_counts) {
    const double h = 1.5707963267948966, q = 0.7853981633974483;
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(0.0, -0.0, 0.0) == 0);
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(h, -3 * h, 2 * h) == 0);
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(0.0, -q, 0.0) == 1);
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(h + q, 0.0, 0.0) == 1);
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(0.3, 0.0, 0.0) == 2);
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(0.3, h, -0.2) == 2);
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(q, q, 0.0) == 2);
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(0.3, -0.2, 0.1) == 3);
    BVC_CHECK(bvc::synthesis::pauli_core_cnots(q, q, q) == 3);
}

// The compact gates prepare exactly the state of the gate matrices, global
// phase included, with at most three CNOTs per disentangler and at most a
// Z-Y-Z triple per run, for random tables holding every special case.
BVC_TEST(compact_reverse_preparation_is_exact) {
    const double h = 1.5707963267948966, q = 0.7853981633974483;
    std::mt19937 gen(11);
    std::normal_distribution<double> normal(0.0, 1.5);
    auto random_params = [&] {
        std::vector<double> p(9);
        for (double& x : p) x = normal(gen);
        return p;
    };
    const int n = 5;
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<double> rotations(3 * n);
        for (double& x : rotations) x = normal(gen);
        // Qubits left in |0> let controls stay idle.
        if (trial % 2 == 1) {
            for (int k = 0; k < 3; ++k) rotations[3 * 1 + k] = rotations[3 * 3 + k] = 0.0;
        }
        std::vector<std::vector<double>> special = {
            std::vector<double>(9, 0.0),                       // the identity won
            {0.1, 0.2, 0.3, -0.4, 0.5, 0.6, 2 * h, -h, 0.0},   // Pauli products only
            {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, q},       // one CNOT
            {0.3, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -q + h, 0.0},  // one CNOT after a Pauli product
            {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.7, 0.0, 0.0},     // two CNOTs, each pair of axes
            {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.7, -0.2, 0.0},
            {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, -0.2, 1.1},
            {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.4, h, 1.1},
        };
        std::vector<double> rows;
        int budget = 0;
        for (int layer = 0; layer < 3; ++layer) {
            for (int start = 0; start < 2; ++start) {
                for (int q0 = start; q0 < n - 1; q0 += 2) {
                    const bool pick_special = (trial + layer + q0) % 2 == 0;
                    const auto params =
                        pick_special ? special[(trial + 3 * layer + q0) % special.size()] : random_params();
                    append_row(rows, q0, params);
                    budget += bvc::synthesis::pauli_core_cnots(params[6], params[7], params[8]);
                }
            }
        }
        const auto ops =
            bvc::synthesis::compact_reverse_preparation(n, rotations.data(), rows.data(), rows.size() / kGateRowWidth);
        std::vector<cplx> state(std::size_t{1} << n);
        bvc::circuit::simulate(ops, n, state.data());
        BVC_CHECK(distance(state, reference_state(n, rotations, rows)) < 1e-13);
        const Counts c = count(ops, n);
        BVC_CHECK(c.cnots <= budget);
        BVC_CHECK(c.longest_run <= 3);
        BVC_CHECK(c.only_rotations_and_cx);
    }
}

// Rows whose parameters are all zero emit nothing at all.
BVC_TEST(identity_disentanglers_emit_nothing) {
    const int n = 3;
    std::vector<double> rotations(3 * n, 0.0);
    rotations[3] = 0.8;  // qubit 1: one Y rotation
    std::vector<double> rows;
    append_row(rows, 0, std::vector<double>(9, 0.0));
    append_row(rows, 1, std::vector<double>(9, 0.0));
    const auto ops = bvc::synthesis::compact_reverse_preparation(n, rotations.data(), rows.data(), 2);
    BVC_CHECK(ops.size() == 1 && ops[0].gate == Gate::RX && ops[0].q0 == 1);
}
