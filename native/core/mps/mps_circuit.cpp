// Running a gate list of the circuit library on a matrix product state.
#include "core/mps/mps_circuit.hpp"

#include <utility>

#include "core/mps/mps_evolution.hpp"

namespace bvc::mps {

namespace {

using circuit::Gate;
using sv::Mat2;
using sv::Mat4;
using sv::product;

// The same gate written in the basis |b(q0) b(q1)> instead of |b(q1) b(q0)>.
Mat4 exchanged(const Mat4& u) {
    constexpr int flip[4] = {0, 2, 1, 3};
    Mat4 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.m[4 * r + c] = u.m[4 * flip[r] + flip[c]];
    return out;
}

// A two-qubit gate on qubits low < high, in the basis |b(high) b(low)>.
struct PairGate {
    int low;
    int high;
    Mat4 u;
};

class Runner {
public:
    explicit Runner(Evolution& evolution) : evolution_(evolution) {}

    // `next_low`: the lower qubit of the gate that follows (-1 for none),
    // where the orthogonality centre is best left.
    void apply(const PairGate& gate, int next_low) {
        const int low = gate.low, high = gate.high;
        if (high == low + 1) {
            evolution_.apply_pair(low, gate.u, next_low > low);
            return;
        }
        for (int p = high - 1; p > low; --p) evolution_.apply_pair(p, swap_, false);
        evolution_.apply_pair(low, gate.u, true);
        for (int p = low + 1; p < high; ++p) evolution_.apply_pair(p, swap_, true);
    }

private:
    Evolution& evolution_;
    const Mat4 swap_ = circuit::two_qubit_matrix(Gate::SWAP);
};

}  // namespace

Mps simulate(const std::vector<circuit::Operation>& ops, Mps initial, const Truncation& truncation,
             Interrupt interrupt) {
    const int n = initial.size();
    Evolution evolution(std::move(initial), truncation, std::move(interrupt));
    Runner runner(evolution);
    std::vector<Mat2> pending(n);
    std::vector<bool> has_pending(n, false);
    const Mat2 identity{{1.0, 0.0, 0.0, 1.0}};
    PairGate waiting{};
    bool is_waiting = false;
    for (const auto& op : ops) {
        evolution.interrupt().progress(64);  // folding a gate: a few 4x4 products
        if (!circuit::is_two_qubit(op.gate)) {
            const Mat2 m = circuit::single_qubit_matrix(op);
            pending[op.q0] = has_pending[op.q0] ? sv::product(m, pending[op.q0]) : m;
            has_pending[op.q0] = true;
            continue;
        }
        const Mat2& low_single = has_pending[op.q0] ? pending[op.q0] : identity;
        const Mat2& high_single = has_pending[op.q1] ? pending[op.q1] : identity;
        Mat4 u = circuit::absorb(circuit::two_qubit_matrix(op.gate), low_single, high_single);
        has_pending[op.q0] = has_pending[op.q1] = false;
        PairGate gate{op.q0, op.q1, u};
        if (op.q0 > op.q1) gate = {op.q1, op.q0, exchanged(u)};
        if (is_waiting && waiting.low == gate.low && waiting.high == gate.high) {
            waiting.u = product(gate.u, waiting.u);
            continue;
        }
        if (is_waiting) runner.apply(waiting, gate.low);
        waiting = gate;
        is_waiting = true;
    }
    if (is_waiting) runner.apply(waiting, -1);
    for (int q = 0; q < n; ++q) {
        if (has_pending[q]) evolution.apply_single(q, pending[q]);
    }
    return evolution.finish();
}

}  // namespace bvc::mps
