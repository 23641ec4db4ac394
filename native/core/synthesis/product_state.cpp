// The product-state approximation of a state vector and the rotations that prepare it.
#include "core/synthesis/product_state.hpp"

#include <algorithm>
#include <cmath>

#include "core/synthesis/entanglement.hpp"

namespace bvc::synthesis {

namespace {

// Euclidean norm. Amplitudes so large or small that their squares leave the
// double range are rescaled first, so such a vector still has its true norm.
double euclidean_norm(const cplx* v, std::size_t size) {
    double sum = 0.0;
    for (std::size_t k = 0; k < size; ++k) sum += std::norm(v[k]);
    const double plain = std::sqrt(sum);
    if (std::isnan(plain) || (std::isfinite(plain) && plain > 1e-150)) return plain;
    double scale = 0.0;
    for (std::size_t k = 0; k < size; ++k) scale = std::max({scale, std::abs(v[k].real()), std::abs(v[k].imag())});
    if (scale == 0.0 || std::isinf(scale)) return scale;
    sum = 0.0;
    for (std::size_t k = 0; k < size; ++k) sum += std::norm(v[k] / scale);
    return scale * std::sqrt(sum);
}

void normalise(std::vector<cplx>& v) {
    const double norm = euclidean_norm(v.data(), v.size());
    if (norm <= 0.0) throw InvalidValue("state must have nonzero norm");
    for (auto& x : v) x /= norm;
}

}  // namespace

ProductState product_state_approximation(const cplx* state, std::size_t size, int n_qubits,
                                         bvc::lapack::Workspace& ws) {
    if (size == 0) throw InvalidValue("state must have nonzero norm");
    std::vector<cplx> remainder(state, state + size);
    std::vector<std::vector<cplx>> high_to_low;
    std::vector<cplx> matrix, u(4), vt;
    double s[2];
    for (int step = 0; step + 1 < n_qubits; ++step) {
        const int cols = static_cast<int>(remainder.size() / 2);
        const int k = std::min(2, cols);
        // Row r of the 2-row matrix is the half of the remainder in which the
        // most significant remaining qubit is r; LAPACK wants it column-major.
        matrix.resize(remainder.size());
        for (int c = 0; c < cols; ++c) {
            matrix[2 * c] = remainder[c];
            matrix[2 * c + 1] = remainder[cols + c];
        }
        vt.assign(static_cast<std::size_t>(k) * cols, 0.0);
        const int info = bvc::lapack::thin_svd(2, cols, matrix.data(), u.data(), s, vt.data(), ws);
        if (info != 0 || !std::isfinite(s[0])) throw DecompositionFailed("SVD did not converge");
        high_to_low.push_back({u[0], u[1]});
        std::vector<cplx> next(cols);
        for (int c = 0; c < cols; ++c) next[c] = s[0] * vt[static_cast<std::size_t>(k) * c];
        remainder = std::move(next);
    }
    normalise(remainder);
    high_to_low.push_back(std::move(remainder));

    ProductState out;
    out.product = high_to_low.front();
    for (std::size_t f = 1; f < high_to_low.size(); ++f) {
        const auto& factor = high_to_low[f];
        std::vector<cplx> next(out.product.size() * factor.size());
        for (std::size_t i = 0; i < out.product.size(); ++i)
            for (std::size_t j = 0; j < factor.size(); ++j) next[i * factor.size() + j] = out.product[i] * factor[j];
        out.product = std::move(next);
    }
    normalise(out.product);
    out.factors.assign(high_to_low.rbegin(), high_to_low.rend());
    return out;
}

std::array<double, 3> product_factor_rotation(cplx a, cplx b) {
    const cplx pair[2] = {a, b};
    const double norm = euclidean_norm(pair, 2);
    if (norm <= 0.0) throw InvalidValue("product factor must be a nonzero two-component vector");
    a /= norm;
    b /= norm;
    const double theta = 2.0 * std::atan2(std::abs(b), std::abs(a));
    if (theta < 1e-12) return {0.0, 0.0, 0.0};
    const double phase_a = std::abs(a) > 1e-15 ? std::arg(a) : 0.0;
    const double delta = std::arg(b) - phase_a;
    return {-theta * std::sin(delta), theta * std::cos(delta), 0.0};
}

}  // namespace bvc::synthesis
