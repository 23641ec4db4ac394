// Simulating the circuit library's gate lists on a state vector.
#include "core/statevector/circuit.hpp"

#include <cmath>
#include <stdexcept>

#include "core/statevector/statevector.hpp"

namespace bvc::circuit {

using sv::cplx;
using sv::Mat2;
using sv::Mat4;
using sv::product;

bool is_two_qubit(Gate g) { return g == Gate::CX || g == Gate::CZ || g == Gate::SWAP; }

Mat2 single_qubit_matrix(const Operation& op) {
    const cplx I(0.0, 1.0);
    const double c = std::cos(op.angle / 2), s = std::sin(op.angle / 2), r = 1.0 / std::sqrt(2.0);
    switch (op.gate) {
        case Gate::RX: return {{c, -I * s, -I * s, c}};
        case Gate::RY: return {{c, -s, s, c}};
        case Gate::RZ: return {{cplx(c, -s), 0.0, 0.0, cplx(c, s)}};
        case Gate::H: return {{r, r, r, -r}};
        case Gate::X: return {{0.0, 1.0, 1.0, 0.0}};
        case Gate::Y: return {{0.0, -I, I, 0.0}};
        case Gate::Z: return {{1.0, 0.0, 0.0, -1.0}};
        case Gate::S: return {{1.0, 0.0, 0.0, I}};
        case Gate::SDG: return {{1.0, 0.0, 0.0, -I}};
        default: throw std::invalid_argument("not a single-qubit gate");
    }
}

Mat4 two_qubit_matrix(Gate g) {
    Mat4 m{};
    int perm[4] = {0, 1, 2, 3};
    if (g == Gate::CX) {
        perm[1] = 3;
        perm[3] = 1;
    } else if (g == Gate::SWAP) {
        perm[1] = 2;
        perm[2] = 1;
    }
    for (int c = 0; c < 4; ++c) m.m[4 * perm[c] + c] = 1.0;
    if (g == Gate::CZ) m.m[15] = -1.0;
    return m;
}

Mat4 absorb(const Mat4& gate, const Mat2& low, const Mat2& high) { return sv::product(gate, sv::kron(high, low)); }

namespace {

void apply_two_qubit_gate(cplx* state, int n, const Operation& op) {
    switch (op.gate) {
        case Gate::CX: sv::apply_cx(state, n, op.q0, op.q1); break;
        case Gate::CZ: sv::apply_cz(state, n, op.q0, op.q1); break;
        case Gate::SWAP: sv::apply_swap(state, n, op.q0, op.q1); break;
        default: throw std::invalid_argument("not a two-qubit gate");
    }
}

}  // namespace

// Single-qubit gates are held back per qubit and multiplied together; they
// reach the state either folded into the next two-qubit gate on that qubit
// (one dense 4x4 pass instead of up to three passes) or at the end. Each pass
// over a large state costs a full sweep of memory, so fewer passes win.
void simulate(const std::vector<Operation>& ops, int n_qubits, cplx* state, Interrupt interrupt) {
    const std::uint64_t size = std::uint64_t{1} << n_qubits;
    for (std::uint64_t i = 0; i < size; ++i) state[i] = 0.0;
    state[0] = 1.0;
    std::vector<Mat2> pending(n_qubits);
    std::vector<bool> has_pending(n_qubits, false);
    const Mat2 identity{{1.0, 0.0, 0.0, 1.0}};
    for (const auto& op : ops) {
        interrupt.progress(size);
        if (!is_two_qubit(op.gate)) {
            const Mat2 m = single_qubit_matrix(op);
            pending[op.q0] = has_pending[op.q0] ? product(m, pending[op.q0]) : m;
            has_pending[op.q0] = true;
            continue;
        }
        if (!has_pending[op.q0] && !has_pending[op.q1]) {
            apply_two_qubit_gate(state, n_qubits, op);
            continue;
        }
        const Mat2& low = has_pending[op.q0] ? pending[op.q0] : identity;
        const Mat2& high = has_pending[op.q1] ? pending[op.q1] : identity;
        sv::apply_2q(state, n_qubits, op.q0, op.q1, absorb(two_qubit_matrix(op.gate), low, high));
        has_pending[op.q0] = has_pending[op.q1] = false;
    }
    for (int q = 0; q < n_qubits; ++q) {
        if (has_pending[q]) sv::apply_1q(state, n_qubits, q, pending[q]);
    }
}

}  // namespace bvc::circuit
