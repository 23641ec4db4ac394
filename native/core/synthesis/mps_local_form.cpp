// The local form of a matrix product state around a pair, and its product-state approximation.
#include "core/synthesis/mps_local_form.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace bvc::mps {

namespace {

// Values of a descending Schmidt spectrum above the rank tolerance of a
// rows x cols matrix, where the dimension of such a matrix is 2^log2_dimension,
// and above `cutoff` times the largest.
int numerical_rank(const std::vector<double>& values, int log2_dimension, double other_dimension, double cutoff) {
    const double dimension = std::max(std::ldexp(1.0, std::min(log2_dimension, kMaxDenseQubits)), other_dimension);
    const double tol =
        std::max(values.front() * dimension * std::numeric_limits<double>::epsilon(), cutoff * values.front());
    int rank = 0;
    while (rank < static_cast<int>(values.size()) && values[rank] > tol) ++rank;
    return std::max(rank, 1);
}

// theta[(alpha, j), beta] replaced by X Sigma of its thin SVD, keeping the
// singular values numerical_rank keeps: the right decomposition of the
// state vector's path, whose columns run over the 2^log2_right states of the
// qubits right of the pair.
void recompress_right(synthesis::LocalForm& form, int log2_right, double schmidt_cutoff) {
    const int rows = 4 * form.chi_left, cols = form.chi_right, k = std::min(rows, cols);
    std::vector<cplx> x(static_cast<std::size_t>(rows) * k), yt(static_cast<std::size_t>(k) * cols);
    std::vector<double> sigma(k);
    lapack::Workspace ws;
    detail::check_info(lapack::thin_svd(rows, cols, form.theta.data(), x.data(), sigma.data(), yt.data(), ws),
                       "zgesdd");
    form.chi_right = numerical_rank(sigma, log2_right, static_cast<double>(rows), schmidt_cutoff);
    form.theta.resize(static_cast<std::size_t>(rows) * form.chi_right);
    for (int beta = 0; beta < form.chi_right; ++beta) {
        for (int r = 0; r < rows; ++r) {
            const std::size_t at = r + static_cast<std::size_t>(rows) * beta;
            form.theta[at] = x[at] * sigma[beta];
        }
    }
}

}  // namespace

synthesis::LocalForm local_form(const Mps& state, int q0, double schmidt_cutoff) {
    const int n = state.size();
    const Tensor& first = state.sites[q0];
    const Tensor& second = state.sites[q0 + 1];
    // The state vector's decompositions: qubits 0..q0-1 against the rest
    // (2^q0 x 2^(n-q0)), then (alpha, pair) against qubits q0+2.. (4 chi_left x 2^(n-q0-2)).
    synthesis::LocalForm form;
    form.chi_left = q0 == 0 ? 1 : numerical_rank(state.schmidt[q0], std::max(q0, n - q0), 0.0, schmidt_cutoff);
    // With a cutoff the state vector's right decomposition is that of the
    // tensor the left cut has already dropped Schmidt vectors from; it is
    // taken below, from every right Schmidt vector above rounding.
    form.chi_right = q0 == n - 2 ? 1 : numerical_rank(state.schmidt[q0 + 2], n - q0 - 2, 4.0 * form.chi_left, 0.0);
    form.chi_left = std::min(form.chi_left, first.left);
    form.chi_right = std::min(form.chi_right, second.right);

    // B_q0 as the (2 left) x middle matrix "a s0 | g" times the first
    // 2 chi_right columns "g | s1 b" of B_q0+1: rows a + left s0, columns s1 + 2 b.
    const int rows = 2 * first.left, cols = 2 * form.chi_right;
    std::vector<cplx> pair(static_cast<std::size_t>(rows) * cols);
    lapack::gemm('N', 'N', rows, cols, first.right, 1.0, first.data.data(), rows, second.data.data(), second.left, 0.0,
                 pair.data(), rows);
    const std::size_t chi_left = form.chi_left;
    form.theta.resize(chi_left * 4 * form.chi_right);
    const std::vector<double>& weights = state.schmidt[q0];
    for (int column = 0; column < cols; ++column) {  // s1 + 2 b
        for (int s0 = 0; s0 < 2; ++s0) {
            const cplx* in = pair.data() + static_cast<std::size_t>(rows) * column + first.left * s0;
            cplx* out = form.theta.data() + chi_left * (s0 + 2 * static_cast<std::size_t>(column));
            for (std::size_t a = 0; a < chi_left; ++a) out[a] = weights[a] * in[a];
        }
    }
    if (schmidt_cutoff > 0.0 && q0 < n - 2) recompress_right(form, n - q0 - 2, schmidt_cutoff);
    return form;
}

std::vector<std::array<cplx, 2>> product_factors(const Mps& state, lapack::Workspace& ws) {
    const int n = state.size();
    std::vector<std::array<cplx, 2>> factors(n);
    // `rest`: the qubits above the current one, projected onto their factors,
    // as a vector over the current tensor's right bond.
    std::vector<cplx> rest{1.0}, w, matrix, vt;
    cplx u[4];
    double s[2];
    for (int q = n - 1; q >= 0; --q) {
        const Tensor& b = state.sites[q];
        const int left = b.left;
        // w[a, s] = sum_g B[a, s, g] rest[g]: the "a s | g" matrix times rest.
        w.resize(2 * static_cast<std::size_t>(left));
        lapack::gemm('N', 'N', 2 * left, 1, b.right, 1.0, b.data.data(), 2 * left, rest.data(), b.right, 0.0, w.data(),
                     2 * left);
        if (q == 0) {
            const double norm = std::sqrt(std::norm(w[0]) + std::norm(w[1]));
            if (!(norm > 0.0) || !std::isfinite(norm)) throw std::runtime_error("the product state has zero norm");
            factors[0] = {w[0] / norm, w[1] / norm};
            break;
        }
        // The qubit against the rest of the state so far: row s, column a,
        // weighted by the Schmidt values of the cut left of the qubit.
        const std::vector<double>& weights = state.schmidt[q];
        matrix.resize(2 * static_cast<std::size_t>(left));
        for (int a = 0; a < left; ++a) {
            matrix[2 * a] = weights[a] * w[a];
            matrix[2 * a + 1] = weights[a] * w[a + left];
        }
        const int k = std::min(2, left);
        vt.assign(static_cast<std::size_t>(k) * left, 0.0);
        detail::check_info(lapack::thin_svd(2, left, matrix.data(), u, s, vt.data(), ws), "zgesdd");
        factors[q] = {u[0], u[1]};
        rest.resize(left);
        for (int a = 0; a < left; ++a) rest[a] = std::conj(u[0]) * w[a] + std::conj(u[1]) * w[a + left];
    }
    return factors;
}

}  // namespace bvc::mps
