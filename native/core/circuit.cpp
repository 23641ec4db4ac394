#include "core/circuit.hpp"

#include <cmath>
#include <stdexcept>

#include "core/statevector.hpp"

namespace bvc::circuit {

using sv::cplx;

void simulate(const std::vector<Operation>& ops, int n_qubits, cplx* state) {
    const std::uint64_t size = std::uint64_t{1} << n_qubits;
    for (std::uint64_t i = 0; i < size; ++i) state[i] = 0.0;
    state[0] = 1.0;
    const cplx I(0.0, 1.0);
    const double r = 1.0 / std::sqrt(2.0);
    for (const auto& op : ops) {
        const double c = std::cos(op.angle / 2), s = std::sin(op.angle / 2);
        switch (op.gate) {
            case Gate::RX: sv::apply_1q(state, n_qubits, op.q0, {{c, -I * s, -I * s, c}}); break;
            case Gate::RY: sv::apply_1q(state, n_qubits, op.q0, {{c, -s, s, c}}); break;
            case Gate::RZ: sv::apply_diagonal_1q(state, n_qubits, op.q0, cplx(c, -s), cplx(c, s)); break;
            case Gate::H: sv::apply_1q(state, n_qubits, op.q0, {{r, r, r, -r}}); break;
            case Gate::X: sv::apply_1q(state, n_qubits, op.q0, {{0.0, 1.0, 1.0, 0.0}}); break;
            case Gate::Y: sv::apply_1q(state, n_qubits, op.q0, {{0.0, -I, I, 0.0}}); break;
            case Gate::Z: sv::apply_diagonal_1q(state, n_qubits, op.q0, 1.0, -1.0); break;
            case Gate::S: sv::apply_diagonal_1q(state, n_qubits, op.q0, 1.0, I); break;
            case Gate::SDG: sv::apply_diagonal_1q(state, n_qubits, op.q0, 1.0, -I); break;
            case Gate::CX: sv::apply_cx(state, n_qubits, op.q0, op.q1); break;
            case Gate::CZ: sv::apply_cz(state, n_qubits, op.q0, op.q1); break;
            case Gate::SWAP: sv::apply_swap(state, n_qubits, op.q0, op.q1); break;
            default: throw std::invalid_argument("unknown gate code");
        }
    }
}

}  // namespace bvc::circuit
