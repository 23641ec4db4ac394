// The per-gate blocks of the circuit's quantum geometric tensor, on the state vector.
#include "core/synthesis/circuit_metric.hpp"

#include <cmath>
#include <cstddef>
#include <vector>

#include "core/runtime/aligned_vector.hpp"
#include "core/runtime/lapack.hpp"
#include "core/statevector/small_matrix.hpp"
#include "core/statevector/statevector.hpp"
#include "core/synthesis/gates.hpp"

namespace bvc::synthesis {

using bvc::sv::Mat2;
using bvc::sv::Mat4;

namespace {

constexpr int kRotationParams = 3;

// tr(a b) of two 4x4 matrices.
cplx trace_of_product(const Mat4& a, const Mat4& b) {
    cplx sum = 0.0;
    for (int r = 0; r < 4; ++r)
        for (int k = 0; k < 4; ++k) sum += a.m[4 * r + k] * b.m[4 * k + r];
    return sum;
}

// rho[a][b] = sum of psi_a conj(psi_b) over the other qubits, for the pair
// (q0, q1) in the |q1 q0> basis.
Mat4 pair_density(const cplx* psi, int n_qubits, int q0, int q1) {
    Mat4 rho{};
    const std::size_t size = std::size_t{1} << n_qubits;
    const std::size_t b0 = std::size_t{1} << q0, b1 = std::size_t{1} << q1;
    const std::size_t offsets[4] = {0, b0, b1, b0 | b1};
    for (std::size_t i = 0; i < size; ++i) {
        if (i & (b0 | b1)) continue;
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b) rho.m[4 * a + b] += psi[i + offsets[a]] * std::conj(psi[i + offsets[b]]);
    }
    return rho;
}

// The block of a gate U = E^dagger with derivatives dU_i = dE_i^dagger acting on a
// state with pair density rho: Re tr(dE_i dE_j^dagger rho) - Re a_i conj(a_j), a_i = tr(dE_i E^dagger rho).
void gate_block(const Mat4& e, const Mat4 de[kEntanglerParams], const Mat4& rho, double* block) {
    const Mat4 e_rho = product(adjoint(e), rho);
    cplx a[kEntanglerParams];
    Mat4 de_adjoint_rho[kEntanglerParams];
    for (int i = 0; i < kEntanglerParams; ++i) {
        a[i] = trace_of_product(de[i], e_rho);
        de_adjoint_rho[i] = product(adjoint(de[i]), rho);
    }
    for (int i = 0; i < kEntanglerParams; ++i)
        for (int j = 0; j < kEntanglerParams; ++j)
            block[kEntanglerParams * i + j] =
                std::real(trace_of_product(de[i], de_adjoint_rho[j])) - std::real(a[i] * std::conj(a[j]));
}

// The block of a rotation R(v) of |0>: with c_i = dR_i |0>, r = R |0>,
// Re <c_i|c_j> - Re <c_i|r><r|c_j>.
void rotation_block(const double v[kRotationParams], double* block) {
    const Mat2 r = axis_rotation_matrix(v);
    Mat2 dr[kRotationParams];
    axis_rotation_derivatives(v, dr);
    cplx a[kRotationParams];
    for (int i = 0; i < kRotationParams; ++i) a[i] = std::conj(dr[i].m[0]) * r.m[0] + std::conj(dr[i].m[2]) * r.m[2];
    for (int i = 0; i < kRotationParams; ++i)
        for (int j = 0; j < kRotationParams; ++j)
            block[kRotationParams * i + j] =
                std::real(std::conj(dr[i].m[0]) * dr[j].m[0] + std::conj(dr[i].m[2]) * dr[j].m[2]) -
                std::real(a[i] * std::conj(a[j]));
}

}  // namespace

std::vector<double> circuit_metric_blocks(int n_qubits, const std::vector<std::array<int, 2>>& pairs, const double* x,
                                          Interrupt interrupt) {
    const std::size_t n = static_cast<std::size_t>(n_qubits);
    constexpr std::size_t kRotationBlock = kRotationParams * kRotationParams;
    constexpr std::size_t kGateBlock = kEntanglerParams * kEntanglerParams;
    std::vector<double> blocks(kRotationBlock * n + kGateBlock * pairs.size());

    // The product state, qubit 0 the least significant.
    bvc::AlignedVector<cplx> psi(std::size_t{1} << n_qubits);
    psi[0] = 1.0;
    for (std::size_t q = 0; q < n; ++q) {
        rotation_block(x + kRotationParams * q, blocks.data() + kRotationBlock * q);
        const Mat2 r = axis_rotation_matrix(x + kRotationParams * q);
        const std::size_t half = std::size_t{1} << q;
        for (std::size_t i = 0; i < half; ++i) {
            psi[i + half] = psi[i] * r.m[2];
            psi[i] *= r.m[0];
        }
    }
    // The gates act newest row first: U_{m-1} is the first one applied.
    const double* gate_params = x + kRotationParams * n;
    for (std::size_t k = pairs.size(); k-- > 0;) {
        Mat4 e, de[kEntanglerParams];
        entangler_matrix_derivatives(gate_params + kEntanglerParams * k, e, de);
        const auto [q0, q1] = pairs[k];
        gate_block(e, de, pair_density(psi.data(), n_qubits, q0, q1),
                   blocks.data() + kRotationBlock * n + kGateBlock * k);
        bvc::sv::apply_2q(psi.data(), n_qubits, q0, q1, adjoint(e), bvc::sv::Summation::left_to_right);
        interrupt.progress(psi.size());
    }
    return blocks;
}

std::vector<double> inverse_metric_factors(int n_qubits, std::size_t rows, std::vector<double> blocks,
                                           double relative_shift) {
    std::size_t offset = 0;
    const std::size_t count = static_cast<std::size_t>(n_qubits) + rows;
    for (std::size_t b = 0; b < count; ++b) {
        const int size = b < static_cast<std::size_t>(n_qubits) ? kRotationParams : kEntanglerParams;
        double* g = blocks.data() + offset;
        offset += static_cast<std::size_t>(size * size);
        double trace = 0.0;
        for (int i = 0; i < size; ++i) trace += g[size * i + i];
        const double shift = relative_shift * trace / size;
        // Symmetric: the row-major block is its own column-major copy.
        for (int i = 0; i < size; ++i) g[size * i + i] += shift;
        bool factored = trace > 0.0 && std::isfinite(trace) && bvc::lapack::inverse_cholesky_factor(size, g) == 0;
        for (int i = 0; i < size && factored; ++i) factored = std::isfinite(g[size * i + i]);
        // LAPACK's column-major lower triangle to a row-major one.
        const std::vector<double> column_major(g, g + size * size);
        for (int i = 0; i < size; ++i) {
            for (int j = 0; j < size; ++j) {
                if (factored) {
                    g[size * i + j] = i >= j ? column_major[i + size * j] : 0.0;
                } else {
                    g[size * i + j] = i == j ? 1.0 : 0.0;
                }
            }
        }
    }
    return blocks;
}

void CircuitMetric::update(const double* x) {
    factors_ = inverse_metric_factors(n_qubits_, pairs_.size(), circuit_metric_blocks(n_qubits_, pairs_, x, interrupt_),
                                      relative_shift_);
}

void CircuitMetric::apply(const double* v, double* out) const {
    const std::size_t count = 3 * static_cast<std::size_t>(n_qubits_) + kEntanglerParams * pairs_.size();
    const double* l = factors_.data();
    for (std::size_t at = 0; at < count;) {
        const int size = at < 3 * static_cast<std::size_t>(n_qubits_) ? kRotationParams : kEntanglerParams;
        double w[kEntanglerParams];
        for (int r = 0; r < size; ++r) {
            double sum = 0.0;
            for (int c = 0; c <= r; ++c) sum += l[size * r + c] * v[at + c];
            w[r] = sum;
        }
        for (int c = 0; c < size; ++c) {
            double sum = 0.0;
            for (int r = c; r < size; ++r) sum += l[size * r + c] * w[r];
            out[at + c] = sum;
        }
        at += static_cast<std::size_t>(size);
        l += size * size;
    }
}

}  // namespace bvc::synthesis
