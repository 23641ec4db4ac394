#include "core/adjoint_gradient.hpp"

namespace bvc::cvd {

namespace {

using bvc::sv::Mat2;
using bvc::sv::Mat4;

Mat2 adjoint(const Mat2& a) { return Mat2{{std::conj(a.m[0]), std::conj(a.m[2]), std::conj(a.m[1]), std::conj(a.m[3])}}; }

Mat4 adjoint(const Mat4& a) {
    Mat4 out;
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) out.m[4 * r + c] = std::conj(a.m[4 * c + r]);
    return out;
}

// sum_ab D^dagger[a][b] T[a][b] = sum_ab conj(D[b][a]) T[a][b].
template <typename M, int N>
cplx contract_adjoint(const M& d, const M& t) {
    cplx sum = 0.0;
    for (int a = 0; a < N; ++a)
        for (int b = 0; b < N; ++b) sum += std::conj(d.m[N * b + a]) * t.m[N * a + b];
    return sum;
}

template <typename M, int N>
cplx contract(const M& d, const M& t) {
    cplx sum = 0.0;
    for (int e = 0; e < N * N; ++e) sum += d.m[e] * t.m[e];
    return sum;
}

}  // namespace

ReversePreparationFidelity::ReversePreparationFidelity(const cplx* target, int n_qubits,
                                                       std::vector<std::array<int, 2>> pairs)
    : n_qubits_(n_qubits),
      pairs_(std::move(pairs)),
      target_(target, target + (std::size_t{1} << n_qubits)),
      ket_(target_.size()),
      bra_(target_.size()),
      gates_(pairs_.size()),
      derivatives_(pairs_.size() * kEntanglerParams) {}

double ReversePreparationFidelity::value_and_gradient(const double* x, double* gradient) {
    const int n = n_qubits_;
    const std::size_t m = pairs_.size();
    const double* rows = x + 3 * n;

    // Forward: the product state, then every U_k, newest row first.
    std::vector<Mat2> rotations(n);
    ket_.assign(ket_.size(), 0.0);
    ket_[0] = 1.0;
    for (int q = 0; q < n; ++q) {
        rotations[q] = axis_rotation_matrix(x + 3 * q);
        const std::size_t half = std::size_t{1} << q;
        for (std::size_t i = 0; i < half; ++i) {
            ket_[i + half] = rotations[q].m[2] * ket_[i];
            ket_[i] = rotations[q].m[0] * ket_[i];
        }
    }
    for (std::size_t k = m; k-- > 0;) {
        entangler_matrix_derivatives(rows + kEntanglerParams * k, gates_[k], &derivatives_[kEntanglerParams * k]);
        bvc::sv::apply_2q(ket_.data(), n, pairs_[k][0], pairs_[k][1], adjoint(gates_[k]));
    }
    cplx overlap = 0.0;
    for (std::size_t i = 0; i < ket_.size(); ++i) overlap += std::conj(target_[i]) * ket_[i];

    // Backward: undo each gate on the state and on the target alike; the
    // derivative of <target|psi> by a parameter of gate k is
    // <target U_0 ... U_{k-1}| dU_k |U_{k+1} ... psi_product>.
    bra_ = target_;
    const auto accumulate = [&](double* out, cplx d_overlap) { *out = 2.0 * std::real(std::conj(overlap) * d_overlap); };
    for (std::size_t k = 0; k < m; ++k) {
        const Mat4 t = bvc::sv::adjoint_step_2q(ket_.data(), bra_.data(), n, pairs_[k][0], pairs_[k][1], gates_[k]);
        for (int j = 0; j < kEntanglerParams; ++j) {
            accumulate(gradient + 3 * n + kEntanglerParams * k + j,
                       contract_adjoint<Mat4, 4>(derivatives_[kEntanglerParams * k + j], t));
        }
    }
    for (int q = n; q-- > 0;) {
        const Mat2 t = bvc::sv::adjoint_step_1q(ket_.data(), bra_.data(), n, q, adjoint(rotations[q]));
        Mat2 d[3];
        axis_rotation_derivatives(x + 3 * q, d);
        for (int j = 0; j < 3; ++j) accumulate(gradient + 3 * q + j, contract<Mat2, 2>(d[j], t));
    }
    return std::norm(overlap);
}

}  // namespace bvc::cvd
