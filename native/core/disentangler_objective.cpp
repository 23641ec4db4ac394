#include "core/disentangler_objective.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/entanglement.hpp"
#include "core/gates.hpp"

namespace bvc::cvd {

namespace {

using cplx = std::complex<double>;

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

// Singular values at or below this bound are zero to rounding (the rank
// tolerance of a matrix of this shape).
double rank_tolerance(double largest, int rows, int cols) {
    return largest * static_cast<double>(std::max(rows, cols)) * kEpsilon;
}

int numerical_rank(const std::vector<double>& singular_values, int rows, int cols) {
    const double tol = rank_tolerance(singular_values.front(), rows, cols);
    int rank = 0;
    while (rank < static_cast<int>(singular_values.size()) && singular_values[rank] > tol) ++rank;
    return std::max(rank, 1);
}

// acc += w * k over n complex numbers held as separate real/imaginary arrays.
void accumulate(double* __restrict acc_re, double* __restrict acc_im, const double* __restrict k_re,
                const double* __restrict k_im, double w_re, double w_im, std::size_t n) {
    for (std::size_t e = 0; e < n; ++e) {
        acc_re[e] += w_re * k_re[e] - w_im * k_im[e];
        acc_im[e] += w_re * k_im[e] + w_im * k_re[e];
    }
}

}  // namespace

DisentanglerObjective::DisentanglerObjective(const cplx* state, int n_qubits, int q0, double alpha)
    : n_qubits_(n_qubits), q0_(q0), alpha_(alpha) {
    if (q0 < 0 || q0 >= n_qubits - 1) throw InvalidValue("bond must be between adjacent qubits");
    build_local_form(state);
    const int d = gram_dimension();
    block_re_.assign(static_cast<std::size_t>(chi_) * chi_, 0.0);
    block_im_.assign(static_cast<std::size_t>(chi_) * chi_, 0.0);
    gram_.assign(static_cast<std::size_t>(d) * d, cplx(0.0, 0.0));
    eigenvalues_.assign(d, 0.0);
    probabilities_.assign(d, 0.0);
    prepare_solver();
}

void DisentanglerObjective::prepare_solver() {
    const int d = gram_dimension();
    if (d <= 2) return;
    // One solve here sizes the reused workspace, so evaluations never allocate.
    if (bvc::lapack::hermitian_eigenvalues(d, gram_.data(), eigenvalues_.data(), solver_) != 0) {
        throw DecompositionFailed("eigenvalue solver workspace query failed");
    }
}

void DisentanglerObjective::build_local_form(const cplx* state) {
    const std::size_t size = std::size_t{1} << n_qubits_;
    for (std::size_t i = 0; i < size; ++i) {
        if (!std::isfinite(state[i].real()) || !std::isfinite(state[i].imag())) {
            throw InvalidValue("state must have finite amplitudes");
        }
    }
    const double largest = bvc::sv::largest_component(state, size);
    if (!(largest > 0.0)) throw InvalidValue("state must have nonzero norm");
    // The Gram blocks hold squares of amplitudes: beyond about 1e154 they
    // overflow, below about 1e-154 they lose digits. Such a state is scaled
    // (by a power of two, exactly) to a largest amplitude of order one; the
    // entropy does not depend on the norm.
    std::vector<cplx> scaled;
    if (!(largest > 1e-140 && largest < 1e140)) {
        const double scale = bvc::sv::unit_scale(largest);
        scaled.assign(state, state + size);
        for (auto& amplitude : scaled) amplitude *= scale;
        state = scaled.data();
    }

    // Amplitude index = r * 4 dl + j * dl + l: l over qubits 0..q0-1, j the
    // local index 2 b(q1) + b(q0) of the pair, r over qubits q1+1..n-1.
    const int dl = 1 << q0_;
    const int dr = 1 << (n_qubits_ - q0_ - 2);
    bvc::lapack::Workspace ws;

    // Left compression: read column-major, the amplitudes are the dl x 4dr
    // matrix psi[l, (j, r)]; its right singular vectors scaled by the
    // singular values are the coefficients phi[alpha, (j, r)].
    std::vector<cplx> phi;
    if (dl == 1) {
        phi.assign(state, state + size);
        left_rank_ = 1;
    } else {
        const int cols = 4 * dr;
        const int k = std::min(dl, cols);
        std::vector<cplx> a(state, state + size);
        std::vector<cplx> u(static_cast<std::size_t>(dl) * k);
        std::vector<cplx> vt(static_cast<std::size_t>(k) * cols);
        std::vector<double> s(k);
        if (bvc::lapack::thin_svd(dl, cols, a.data(), u.data(), s.data(), vt.data(), ws) != 0) {
            throw DecompositionFailed("SVD did not converge");
        }
        left_rank_ = numerical_rank(s, dl, cols);
        phi.resize(static_cast<std::size_t>(left_rank_) * cols);
        for (int c = 0; c < cols; ++c) {
            for (int alpha = 0; alpha < left_rank_; ++alpha) {
                phi[alpha + static_cast<std::size_t>(left_rank_) * c] =
                    s[alpha] * vt[alpha + static_cast<std::size_t>(k) * c];
            }
        }
    }

    // Right compression of the small tensor: phi read column-major is the
    // (alpha, j) x r matrix; its left singular vectors times the singular
    // values give theta[(alpha, j), beta].
    const int rows = 4 * left_rank_;
    std::vector<cplx> theta;
    if (dr == 1) {
        theta = std::move(phi);
        right_rank_ = 1;
    } else {
        const int k = std::min(rows, dr);
        std::vector<cplx> x(static_cast<std::size_t>(rows) * k);
        std::vector<cplx> yt(static_cast<std::size_t>(k) * dr);
        std::vector<double> sigma(k);
        if (bvc::lapack::thin_svd(rows, dr, phi.data(), x.data(), sigma.data(), yt.data(), ws) != 0) {
            throw DecompositionFailed("SVD did not converge");
        }
        right_rank_ = numerical_rank(sigma, rows, dr);
        theta.resize(static_cast<std::size_t>(rows) * right_rank_);
        for (int beta = 0; beta < right_rank_; ++beta) {
            for (int r = 0; r < rows; ++r) {
                const std::size_t at = r + static_cast<std::size_t>(rows) * beta;
                theta[at] = x[at] * sigma[beta];
            }
        }
    }
    build_gram_blocks(theta);
}

void DisentanglerObjective::build_gram_blocks(const std::vector<cplx>& theta) {
    low_side_ = left_rank_ <= right_rank_;
    chi_ = low_side_ ? left_rank_ : right_rank_;
    const std::size_t chi = chi_;
    const std::size_t block = chi * chi;
    const std::size_t rows = 4 * static_cast<std::size_t>(left_rank_);
    k_re_.assign(16 * block, 0.0);
    k_im_.assign(16 * block, 0.0);

    // theta[(alpha, j), beta] sits at alpha + chi_left * j + rows * beta.
    // Low side: K[j][j'] = A_j A_j'^H with A_j the alpha x beta slice of j;
    // high side: K[j][j'] = A_j^T conj(A_j'). Loops run along contiguous alpha.
    const std::size_t chi_left = left_rank_;
    const std::size_t chi_right = right_rank_;
    for (std::size_t j = 0; j < 4; ++j) {
        for (std::size_t jp = 0; jp < 4; ++jp) {
            double* re = k_re_.data() + (4 * j + jp) * block;
            double* im = k_im_.data() + (4 * j + jp) * block;
            const cplx* a = theta.data() + chi_left * j;
            const cplx* b = theta.data() + chi_left * jp;
            if (low_side_) {
                for (std::size_t beta = 0; beta < chi_right; ++beta) {
                    const cplx* a_col = a + rows * beta;
                    const cplx* b_col = b + rows * beta;
                    for (std::size_t xp = 0; xp < chi; ++xp) {
                        const double br = b_col[xp].real(), bi = -b_col[xp].imag();
                        for (std::size_t x = 0; x < chi; ++x) {
                            re[x + chi * xp] += a_col[x].real() * br - a_col[x].imag() * bi;
                            im[x + chi * xp] += a_col[x].real() * bi + a_col[x].imag() * br;
                        }
                    }
                }
            } else {
                for (std::size_t xp = 0; xp < chi; ++xp) {
                    const cplx* b_col = b + rows * xp;
                    for (std::size_t x = 0; x < chi; ++x) {
                        const cplx* a_col = a + rows * x;
                        double sr = 0.0, si = 0.0;
                        for (std::size_t alpha = 0; alpha < chi_left; ++alpha) {
                            const double ar = a_col[alpha].real(), ai = a_col[alpha].imag();
                            const double br = b_col[alpha].real(), bi = -b_col[alpha].imag();
                            sr += ar * br - ai * bi;
                            si += ar * bi + ai * br;
                        }
                        re[x + chi * xp] = sr;
                        im[x + chi * xp] = si;
                    }
                }
            }
        }
    }
}

void DisentanglerObjective::spectrum(const double* params) {
    ++evaluations_;
    const bvc::sv::Mat4 u = entangler_matrix(params);
    const int d = gram_dimension();
    const std::size_t chi = chi_;
    const std::size_t block = chi * chi;
    // Row of U for the kept qubit value a and the traced one t.
    auto row = [&](int a, int t) { return low_side_ ? 2 * t + a : 2 * a + t; };

    // Only the lower triangle is read by the solver: blocks (0,0) and (1,1)
    // from their diagonal down, block (1,0) whole.
    constexpr int kBlocks[3][2] = {{0, 0}, {1, 0}, {1, 1}};
    for (const auto& ab : kBlocks) {
        const int a = ab[0], ap = ab[1];
        const bool diagonal = a == ap;
        cplx w[16];
        for (int j = 0; j < 4; ++j) {
            for (int jp = 0; jp < 4; ++jp) {
                double wr = 0.0, wi = 0.0;
                for (int t = 0; t < 2; ++t) {
                    const cplx lhs = u.m[4 * row(a, t) + j];
                    const cplx rhs = u.m[4 * row(ap, t) + jp];
                    wr += lhs.real() * rhs.real() + lhs.imag() * rhs.imag();
                    wi += lhs.imag() * rhs.real() - lhs.real() * rhs.imag();
                }
                w[4 * j + jp] = cplx(wr, wi);
            }
        }
        for (std::size_t xp = 0; xp < chi; ++xp) {
            const std::size_t first = diagonal ? xp : 0;
            const std::size_t length = chi - first;
            const std::size_t at = first + chi * xp;
            double* acc_re = block_re_.data() + at;
            double* acc_im = block_im_.data() + at;
            std::fill(acc_re, acc_re + length, 0.0);
            std::fill(acc_im, acc_im + length, 0.0);
            for (int jj = 0; jj < 16; ++jj) {
                const std::size_t offset = jj * block + at;
                accumulate(acc_re, acc_im, k_re_.data() + offset, k_im_.data() + offset, w[jj].real(), w[jj].imag(),
                           length);
            }
            cplx* column = gram_.data() + (ap * chi + xp) * d + a * chi;
            for (std::size_t x = first; x < chi; ++x) {
                column[x] = cplx(block_re_[x + chi * xp], block_im_[x + chi * xp]);
            }
        }
    }

    if (d == 2) {
        // Closed form; the same rounding as the solver, without its overhead.
        const double g00 = gram_[0].real(), g11 = gram_[3].real();
        const double mean = 0.5 * (g00 + g11), half = 0.5 * (g00 - g11);
        const double radius = std::hypot(half, std::abs(gram_[1]));
        eigenvalues_[0] = mean - radius;
        eigenvalues_[1] = mean + radius;
    } else {
        if (bvc::lapack::hermitian_eigenvalues(d, gram_.data(), eigenvalues_.data(), solver_) != 0) {
            throw DecompositionFailed("eigenvalue solver did not converge");
        }
    }

    // Eigenvalues come ascending; Schmidt probabilities are listed largest first.
    double total = 0.0;
    for (int i = 0; i < d; ++i) {
        probabilities_[i] = std::max(eigenvalues_[d - 1 - i], 0.0);
        total += probabilities_[i];
    }
    for (int i = 0; i < d; ++i) probabilities_[i] /= total;
}

double DisentanglerObjective::operator()(const double* params) {
    for (int i = 0; i < kEntanglerParams; ++i) {
        if (!std::isfinite(params[i])) return std::numeric_limits<double>::quiet_NaN();
    }
    spectrum(params);
    return renyi_entropy(probabilities_.data(), probabilities_.size(), alpha_);
}

const std::vector<double>& DisentanglerObjective::schmidt_probabilities(const double* params) {
    for (int i = 0; i < kEntanglerParams; ++i) {
        if (!std::isfinite(params[i])) {
            std::fill(probabilities_.begin(), probabilities_.end(), std::numeric_limits<double>::quiet_NaN());
            return probabilities_;
        }
    }
    spectrum(params);
    return probabilities_;
}

}  // namespace bvc::cvd
