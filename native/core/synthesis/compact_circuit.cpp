// The reverse preparation in few CNOTs, merged single-qubit runs included.
#include "core/synthesis/compact_circuit.hpp"

#include <cmath>

#include "core/synthesis/gates.hpp"

namespace bvc::synthesis {

namespace {

using bvc::circuit::Gate;
using bvc::circuit::Operation;
using bvc::sv::adjoint;
using bvc::sv::kI;
using bvc::sv::Mat2;
using bvc::sv::product;

constexpr double kHalfPi = 1.5707963267948966;     // math.pi / 2
constexpr double kQuarterPi = 0.7853981633974483;  // math.pi / 4

// The gates of the circuit library: exp(-i t P / 2).
Mat2 rx(double t) {
    const double c = std::cos(t / 2.0), s = std::sin(t / 2.0);
    return Mat2{{c, cplx(0.0, -s), cplx(0.0, -s), c}};
}
Mat2 ry(double t) {
    const double c = std::cos(t / 2.0), s = std::sin(t / 2.0);
    return Mat2{{c, -s, s, c}};
}
Mat2 rz(double t) { return Mat2{{std::polar(1.0, -t / 2.0), 0.0, 0.0, std::polar(1.0, t / 2.0)}}; }

constexpr double kInvSqrt2 = 0.7071067811865476;
const Mat2 kHadamard{{kInvSqrt2, kInvSqrt2, kInvSqrt2, -kInvSqrt2}};
const Mat2 kPhaseS{{1.0, 0.0, 0.0, kI}};

// Principal phase; a zero number has phase 0. Unlike the gate synthesis, a
// signed zero keeps the sign atan2 gives it: the merged rotations were fitted
// with this convention and their last bits depend on it.
double atan2_phase(cplx z) { return z == cplx(0.0, 0.0) ? 0.0 : std::atan2(z.imag(), z.real()); }

// Collects single-qubit matrices per wire and emits each run as one
// rotation when a CNOT (or the end) needs the wire. Invariant: the operator
// asked for, applied to |0...0>, equals phase_ times the emitted gates
// followed by the pending matrices, applied to |0...0>.
class Builder {
public:
    explicit Builder(int n_qubits) : pending_(n_qubits, bvc::sv::identity2()), started_(n_qubits, false) {}

    // `m` on `qubit` after everything so far.
    void local(int qubit, const Mat2& m) { pending_[qubit] = product(m, pending_[qubit]); }

    // A global factor of the operator asked for.
    void scale(cplx factor) { phase_ *= factor; }

    void cx(int control, int target) {
        flush(control);
        // A control still in |0> (up to phase) leaves the target alone.
        if (!started_[control]) return;
        flush(target);
        ops_.push_back({Gate::CX, control, target, 0.0});
        started_[target] = true;
    }

    std::vector<Operation> finish() {
        for (int q = 0; q < static_cast<int>(pending_.size()); ++q) flush(q);
        // rz on a wire still in |0> only multiplies the state by a phase: the
        // first gate of qubit 0 makes the global phase exact.
        const double correction = -2.0 * atan2_phase(phase_);
        if (correction != 0.0) ops_.insert(ops_.begin(), Operation{Gate::RZ, 0, -1, correction});
        return std::move(ops_);
    }

private:
    void emit(Gate gate, int qubit, double angle) { ops_.push_back({gate, qubit, -1, angle}); }

    void flush(int qubit) {
        const Mat2 m = pending_[qubit];
        pending_[qubit] = bvc::sv::identity2();
        if (started_[qubit]) {
            emit_rotation(qubit, m);
        } else {
            prepare_from_zero(qubit, m.m[0], m.m[2]);
        }
    }

    // m |0> = (alpha, beta) on a wire that is still |0>: one rotation about
    // Y or X when it reaches that column exactly, else a Y rotation for the
    // moduli and a Z rotation for the relative phase, the common phase being
    // recorded instead of emitted.
    void prepare_from_zero(int qubit, cplx alpha, cplx beta) {
        if (beta == cplx(0.0, 0.0)) {
            phase_ *= std::polar(1.0, atan2_phase(alpha));
            return;
        }
        started_[qubit] = true;
        if (alpha.imag() == 0.0 && beta.imag() == 0.0) {
            emit(Gate::RY, qubit, 2.0 * std::atan2(beta.real(), alpha.real()));
            return;
        }
        if (alpha.imag() == 0.0 && beta.real() == 0.0) {
            emit(Gate::RX, qubit, 2.0 * std::atan2(-beta.imag(), alpha.real()));
            return;
        }
        const double arg_alpha = atan2_phase(alpha), arg_beta = atan2_phase(beta);
        emit(Gate::RY, qubit, 2.0 * std::atan2(std::abs(beta), std::abs(alpha)));
        if (arg_beta != arg_alpha) emit(Gate::RZ, qubit, arg_beta - arg_alpha);
        phase_ *= std::polar(1.0, 0.5 * (arg_alpha + arg_beta));
    }

    // m = e^{i phi} s with s in SU(2); s becomes one rotation about Z, Y or X
    // when it is one, else a Z-Y-Z triple (zero Z angles left out).
    void emit_rotation(int qubit, const Mat2& m) {
        const double half_det_phase = 0.5 * atan2_phase(m.m[0] * m.m[3] - m.m[1] * m.m[2]);
        const cplx unphase = std::polar(1.0, -half_det_phase);
        const cplx alpha = unphase * m.m[0], beta = unphase * m.m[2];  // s = [[alpha, -beta*], [beta, alpha*]]
        phase_ *= std::polar(1.0, half_det_phase);
        if (beta == cplx(0.0, 0.0)) {
            const double angle = -2.0 * atan2_phase(alpha);
            if (angle != 0.0) emit(Gate::RZ, qubit, angle);
        } else if (alpha.imag() == 0.0 && beta.imag() == 0.0) {
            emit(Gate::RY, qubit, 2.0 * std::atan2(beta.real(), alpha.real()));
        } else if (alpha.imag() == 0.0 && beta.real() == 0.0) {
            emit(Gate::RX, qubit, 2.0 * std::atan2(-beta.imag(), alpha.real()));
        } else {
            const double arg_alpha = atan2_phase(alpha), arg_beta = atan2_phase(beta);
            const double first = -arg_beta - arg_alpha, last = arg_beta - arg_alpha;
            if (first != 0.0) emit(Gate::RZ, qubit, first);
            emit(Gate::RY, qubit, 2.0 * std::atan2(std::abs(beta), std::abs(alpha)));
            if (last != 0.0) emit(Gate::RZ, qubit, last);
        }
    }

    std::vector<Mat2> pending_;
    std::vector<bool> started_;
    std::vector<Operation> ops_;
    cplx phase_{1.0, 0.0};
};

// exp(-i (a XX + b YY + c ZZ)) with each angle split as r + m pi/2, |r| <= pi/4:
// exp(-i m pi/2 PP) = (-i)^m (P (x) P)^m is local.
struct ReducedCore {
    double r[3];
    int quarter_turns[3];
    int cnots;
};

ReducedCore reduce(const double angles[3]) {
    ReducedCore core{};
    int nonzero = 0;
    for (int k = 0; k < 3; ++k) {
        core.r[k] = std::remquo(angles[k], kHalfPi, &core.quarter_turns[k]);  // exact remainder
        nonzero += core.r[k] != 0.0;
    }
    const bool single_quarter =
        nonzero == 1 &&
        (std::abs(core.r[0]) == kQuarterPi || std::abs(core.r[1]) == kQuarterPi || std::abs(core.r[2]) == kQuarterPi);
    core.cnots = nonzero == 0 ? 0 : single_quarter ? 1 : nonzero <= 2 ? 2 : 3;
    return core;
}

void on_both(Builder& b, int q0, int q1, const Mat2& m) {
    b.local(q0, m);
    b.local(q1, m);
}

// The operator exp(-i (a XX + b YY + c ZZ)) on (q0, q1), the angles in `angles`.
void append_pauli_core(Builder& b, int q0, int q1, const double angles[3]) {
    const ReducedCore core = reduce(angles);
    // The multiples of pi/2: (-i)^(total turns) (X^mx Y^my Z^mz) on each qubit.
    Mat2 pauli = bvc::sv::identity2();
    int turns = 0;
    for (int k = 0; k < 3; ++k) {
        if (core.quarter_turns[k] % 2 != 0) pauli = product(pauli, bvc::sv::pauli(k));
        turns += core.quarter_turns[k];
    }
    on_both(b, q0, q1, pauli);
    const cplx minus_i_powers[4] = {1.0, -kI, -1.0, kI};
    b.scale(minus_i_powers[((turns % 4) + 4) % 4]);

    const double* r = core.r;
    if (core.cnots == 0) return;
    if (core.cnots == 1) {
        // exp(-i s pi/4 ZZ) = e^{-i s pi/4} (S^s (x) S^s) CZ, CZ = H1 CX H1, and
        // W Z W^dagger = P turns it into exp(-i s pi/4 PP).
        const int axis = r[0] != 0.0 ? 0 : r[1] != 0.0 ? 1 : 2;
        const double s = r[axis] > 0.0 ? 1.0 : -1.0;
        const Mat2 w = axis == 0 ? kHadamard : axis == 1 ? rx(-kHalfPi) : bvc::sv::identity2();
        on_both(b, q0, q1, adjoint(w));
        b.local(q1, kHadamard);
        b.cx(q0, q1);
        b.local(q1, kHadamard);
        on_both(b, q0, q1, s > 0.0 ? kPhaseS : adjoint(kPhaseS));
        on_both(b, q0, q1, w);
        b.scale(std::polar(1.0, -s * kQuarterPi));
        return;
    }
    if (core.cnots == 2) {
        // CX01 XX CX01 = X0 and CX01 ZZ CX01 = Z1, so
        // exp(-i (u XX + v ZZ)) = CX01 (Rx(2u) on q0, Rz(2v) on q1) CX01;
        // W (x) W maps the pair of nonzero axes onto X and Z.
        double u, v;
        Mat2 w;
        if (r[1] == 0.0) {
            u = r[0], v = r[2], w = bvc::sv::identity2();
        } else if (r[2] == 0.0) {
            u = r[0], v = r[1], w = rx(-kHalfPi);  // W X W^dagger = X, W Z W^dagger = Y
        } else {
            u = r[1], v = r[2], w = rz(kHalfPi);  // W X W^dagger = Y, W Z W^dagger = Z
        }
        on_both(b, q0, q1, adjoint(w));
        b.cx(q0, q1);
        b.local(q0, rx(2.0 * u));
        b.local(q1, rz(2.0 * v));
        b.cx(q0, q1);
        on_both(b, q0, q1, w);
        return;
    }
    // Three CNOTs. For W = CX10 (Rz(t1) on q0, Ry(t2) on q1) CX01 Ry(t3)_1 CX10
    // (CX10: control q1, target q0), inserting CX10 CX10 = 1 after the first
    // rotations and using CX10 CX01 CX10 = SWAP gives
    //   W = exp(-i t1/2 Z0Z1) exp(-i t2/2 X0Y1) SWAP exp(-i t3/2 X0Y1)
    //     = exp(-i (t1/2 ZZ + t2/2 X0Y1 + t3/2 Y0X1)) SWAP,
    // since CX10 turns Z0 into Z0Z1 and Y1 into X0Y1. S on q1 turns XX into
    // X0Y1 and YY into -Y0X1, and SWAP = e^{-i pi/4} exp(i pi/4 (XX + YY + ZZ)),
    // so with t1 = 2c + pi/2, t2 = 2a + pi/2, t3 = -2b - pi/2:
    //   exp(-i (a XX + b YY + c ZZ)) = e^{i pi/4} S^dagger_1 W S_0.
    b.local(q0, kPhaseS);
    b.cx(q1, q0);
    b.local(q1, ry(-2.0 * r[1] - kHalfPi));
    b.cx(q0, q1);
    b.local(q0, rz(2.0 * r[2] + kHalfPi));
    b.local(q1, ry(2.0 * r[0] + kHalfPi));
    b.cx(q1, q0);
    b.local(q1, adjoint(kPhaseS));
    b.scale(std::polar(1.0, kQuarterPi));
}

}  // namespace

int pauli_core_cnots(double a, double b, double c) {
    const double angles[3] = {a, b, c};
    return reduce(angles).cnots;
}

std::vector<Operation> compact_reverse_preparation(int n_qubits, const double* rotations, const double* rows,
                                                   std::size_t row_count) {
    Builder b(n_qubits);
    for (int q = 0; q < n_qubits; ++q) b.local(q, axis_rotation_matrix(rotations + 3 * q));
    // Each disentangler inverted, newest first: its Pauli core with negated
    // angles, then the inverse rotations of its two qubits.
    for (std::size_t k = row_count; k-- > 0;) {
        const double* row = rows + k * kGateRowWidth;
        const int q0 = static_cast<int>(row[0]), q1 = static_cast<int>(row[1]);
        const double* p = row + 2;
        const double core[3] = {-p[6], -p[7], -p[8]};
        append_pauli_core(b, q0, q1, core);
        b.local(q0, adjoint(axis_rotation_matrix(p)));
        b.local(q1, adjoint(axis_rotation_matrix(p + 3)));
    }
    return b.finish();
}

}  // namespace bvc::synthesis
