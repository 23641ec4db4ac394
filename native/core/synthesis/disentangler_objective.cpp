// The entropy objective of one disentangler and its workspaces, free of allocation once warm.
#include "core/synthesis/disentangler_objective.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/synthesis/entanglement.hpp"
#include "core/synthesis/gates.hpp"

namespace bvc::synthesis {

namespace {

using cplx = std::complex<double>;

constexpr double kEpsilon = std::numeric_limits<double>::epsilon();

// Singular values at or below this bound are zero to rounding (the rank
// tolerance of a matrix of this shape).
double rank_tolerance(double largest, int rows, int cols) {
    return largest * static_cast<double>(std::max(rows, cols)) * kEpsilon;
}

// The singular values kept: above the rank tolerance and above `cutoff`
// times the largest; at least one.
int numerical_rank(const AlignedVector<double>& singular_values, int rows, int cols, double cutoff) {
    const double tol = std::max(rank_tolerance(singular_values.front(), rows, cols), cutoff * singular_values.front());
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

DisentanglerObjective::DisentanglerObjective(const cplx* state, int n_qubits, int q0, double alpha,
                                             double schmidt_cutoff)
    : n_qubits_(n_qubits), q0_(q0), alpha_(alpha) {
    if (q0 < 0 || q0 >= n_qubits - 1) throw InvalidValue("bond must be between adjacent qubits");
    build_local_form(state, schmidt_cutoff);
}

DisentanglerObjective::DisentanglerObjective(const LocalForm& form, int n_qubits, int q0, double alpha)
    : n_qubits_(n_qubits), q0_(q0), alpha_(alpha), left_rank_(form.chi_left), right_rank_(form.chi_right) {
    if (q0 < 0 || q0 >= n_qubits - 1) throw InvalidValue("bond must be between adjacent qubits");
    if (form.chi_left < 1 || form.chi_right < 1 ||
        form.theta.size() != 4 * static_cast<std::size_t>(form.chi_left) * static_cast<std::size_t>(form.chi_right)) {
        throw std::invalid_argument("the local form must hold chi_left x 4 x chi_right values");
    }
    double largest = 0.0;
    for (const cplx& z : form.theta) {
        if (!std::isfinite(z.real()) || !std::isfinite(z.imag()))
            throw InvalidValue("state must have finite amplitudes");
        largest = std::max({largest, std::abs(z.real()), std::abs(z.imag())});
    }
    if (!(largest > 0.0)) throw InvalidValue("state must have nonzero norm");
    build_gram_blocks(form.theta);
}

void DisentanglerObjective::build_local_form(const cplx* state, double schmidt_cutoff) {
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
    AlignedVector<cplx> phi;
    if (dl == 1) {
        phi.assign(state, state + size);
        left_rank_ = 1;
    } else {
        const int cols = 4 * dr;
        const int k = std::min(dl, cols);
        AlignedVector<cplx> a(state, state + size);
        AlignedVector<cplx> u(static_cast<std::size_t>(dl) * k);
        AlignedVector<cplx> vt(static_cast<std::size_t>(k) * cols);
        AlignedVector<double> s(k);
        if (bvc::lapack::thin_svd(dl, cols, a.data(), u.data(), s.data(), vt.data(), ws) != 0) {
            throw DecompositionFailed("SVD did not converge");
        }
        left_rank_ = numerical_rank(s, dl, cols, schmidt_cutoff);
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
    AlignedVector<cplx> theta;
    if (dr == 1) {
        theta = std::move(phi);
        right_rank_ = 1;
    } else {
        const int k = std::min(rows, dr);
        AlignedVector<cplx> x(static_cast<std::size_t>(rows) * k);
        AlignedVector<cplx> yt(static_cast<std::size_t>(k) * dr);
        AlignedVector<double> sigma(k);
        if (bvc::lapack::thin_svd(rows, dr, phi.data(), x.data(), sigma.data(), yt.data(), ws) != 0) {
            throw DecompositionFailed("SVD did not converge");
        }
        right_rank_ = numerical_rank(sigma, rows, dr, schmidt_cutoff);
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

void DisentanglerObjective::build_gram_blocks(const AlignedVector<cplx>& theta) {
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

void DisentanglerObjective::assemble_gram(const bvc::sv::Mat4& u, ObjectiveScratch& scratch) const {
    const int d = gram_dimension();
    const std::size_t chi = chi_;
    const std::size_t block = chi * chi;
    scratch.block_re.resize(block);
    scratch.block_im.resize(block);
    scratch.gram.resize(static_cast<std::size_t>(d) * d);
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
            double* acc_re = scratch.block_re.data() + at;
            double* acc_im = scratch.block_im.data() + at;
            std::fill(acc_re, acc_re + length, 0.0);
            std::fill(acc_im, acc_im + length, 0.0);
            for (int jj = 0; jj < 16; ++jj) {
                const std::size_t offset = jj * block + at;
                accumulate(acc_re, acc_im, k_re_.data() + offset, k_im_.data() + offset, w[jj].real(), w[jj].imag(),
                           length);
            }
            cplx* column = scratch.gram.data() + (ap * chi + xp) * d + a * chi;
            for (std::size_t x = first; x < chi; ++x) {
                column[x] = cplx(scratch.block_re[x + chi * xp], scratch.block_im[x + chi * xp]);
            }
        }
    }
}

void DisentanglerObjective::normalise_spectrum(ObjectiveScratch& scratch) const {
    // Eigenvalues come ascending; Schmidt probabilities are listed largest first.
    const int d = gram_dimension();
    scratch.probabilities.resize(d);
    double total = 0.0;
    for (int i = 0; i < d; ++i) {
        scratch.probabilities[i] = std::max(scratch.eigenvalues[d - 1 - i], 0.0);
        total += scratch.probabilities[i];
    }
    for (int i = 0; i < d; ++i) scratch.probabilities[i] /= total;
}

namespace {

bool finite_parameters(const double* params) {
    for (int i = 0; i < kEntanglerParams; ++i) {
        if (!std::isfinite(params[i])) return false;
    }
    return true;
}

}  // namespace

void DisentanglerObjective::schmidt_probabilities(const double* params, ObjectiveScratch& scratch) const {
    const int d = gram_dimension();
    if (!finite_parameters(params)) {
        scratch.probabilities.assign(d, std::numeric_limits<double>::quiet_NaN());
        return;
    }
    assemble_gram(entangler_matrix(params), scratch);
    scratch.eigenvalues.resize(d);
    if (d == 2) {
        // Closed form; the same rounding as the solver, without its overhead.
        const cplx* g = scratch.gram.data();
        const double g00 = g[0].real(), g11 = g[3].real();
        const double mean = 0.5 * (g00 + g11), half = 0.5 * (g00 - g11);
        const double radius = std::hypot(half, std::abs(g[1]));
        scratch.eigenvalues[0] = mean - radius;
        scratch.eigenvalues[1] = mean + radius;
    } else if (bvc::lapack::hermitian_eigenvalues(d, scratch.gram.data(), scratch.eigenvalues.data(), scratch.solver) !=
               0) {
        throw DecompositionFailed("eigenvalue solver did not converge");
    }
    normalise_spectrum(scratch);
}

double DisentanglerObjective::value(const double* params, ObjectiveScratch& scratch) const {
    if (!finite_parameters(params)) return std::numeric_limits<double>::quiet_NaN();
    schmidt_probabilities(params, scratch);
    return renyi_entropy(scratch.probabilities.data(), scratch.probabilities.size(), alpha_);
}

// The gradient. Write M for the gate-applied local form reshaped across the
// bond, rows (side, kept qubit) and columns (traced qubit, other side), so
// that G = M M^H, and dM_k for the same reshaping of (dU/dp_k) theta. With
// G = V diag(lambda) V^H, normalised weights q_i = lambda_i / T over the
// eigenvalues the entropy keeps (q_i above machine epsilon; T their sum, the
// squared norm of the state, which U leaves unchanged so that Tr dG = 0):
//
//   alpha = 1:        dS/dp_k = -(1/T) sum_i log(q_i) dlambda_i
//                             = -(2/T) Re Tr[M^H log(G/T) dM_k]
//   finite alpha != 1: dS/dp_k = alpha / ((1 - alpha) T sum_i q_i^alpha) sum_i q_i^(alpha-1) dlambda_i
//                             = alpha / (1 - alpha) 2 Re Tr[M^H (G/T)^(alpha-1) dM_k] / (T Tr (G/T)^alpha)
//   alpha = inf:      dS/dp_k = -dlambda_max / lambda_max = -2 Re(v_max^H dM_k M^H v_max) / lambda_max
//
// with dlambda_i = v_i^H dG_k v_i and dG_k = dM_k M^H + M dM_k^H. Each is
// factor * Tr[F dG_k] for a Hermitian F = sum_i w_i v_i v_i^H with w_i >= 0
// (-log q_i, q_i^(alpha-1), or 1 for the largest eigenvalue alone): for a
// spectral function this trace is the exact first-order change even where
// eigenvalues are degenerate. At alpha = inf a degenerate largest eigenvalue
// makes the entropy non-smooth; one of its eigenvectors is used. Eigenvalues
// the entropy drops (at rounding level) contribute nothing.
//
// In the blocks of the objective, dG_k[a, a'] = sum_{j, j'} dW_k[a, a'][j, j'] K[j][j'] with
// dW_k[a, a'][j, j'] = sum_t dU_k[(a, t), j] conj(U[(a', t), j']) + U[(a, t), j] conj(dU_k[(a', t), j']),
// so Tr[F dG_k] = sum dW_k[a, a'][j, j'] C[a, a'][j, j'] with the 64 traces
// C[a, a'][j, j'] = Tr[F_{a' a} K[j][j']], shared by the nine parameters.
// Cost: one eigendecomposition with vectors, one rank-update F = B B^H and
// 48 chi^2 complex multiply-adds for C.
double DisentanglerObjective::value_and_gradient(const double* params, double* gradient,
                                                 ObjectiveScratch& scratch) const {
    constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
    if (!finite_parameters(params)) {
        std::fill(gradient, gradient + kEntanglerParams, kNaN);
        return kNaN;
    }
    bvc::sv::Mat4 u;
    bvc::sv::Mat4 du[kEntanglerParams];
    entangler_matrix_derivatives(params, u, du);
    assemble_gram(u, scratch);
    const int d = gram_dimension();
    scratch.eigenvalues.resize(d);
    if (bvc::lapack::hermitian_eigensystem(d, scratch.gram.data(), scratch.eigenvalues.data(), scratch.solver) != 0) {
        throw DecompositionFailed("eigenvalue solver did not converge");
    }
    normalise_spectrum(scratch);
    const double entropy = renyi_entropy(scratch.probabilities.data(), d, alpha_);

    // Probabilities are the eigenvalues largest first: eigenvalue i is
    // probability d - 1 - i.
    const double* p = scratch.probabilities.data();
    double kept_weight = 0.0;
    for (int i = 0; i < d; ++i) {
        if (p[i] > kEpsilon) kept_weight += p[i];
    }
    double total = 0.0;
    for (int i = 0; i < d; ++i) total += std::max(scratch.eigenvalues[i], 0.0);
    const double norm = total * kept_weight;

    scratch.weights.assign(d, 0.0);
    double factor;
    if (std::isinf(alpha_)) {
        scratch.weights[d - 1] = 1.0;
        factor = -1.0 / scratch.eigenvalues[d - 1];
    } else if (is_von_neumann_index(alpha_)) {
        // The band in which the entropy itself is the von Neumann one.
        for (int i = 0; i < d; ++i) {
            const double pi = p[d - 1 - i];
            if (pi > kEpsilon) scratch.weights[i] = -std::log(pi / kept_weight);
        }
        factor = 1.0 / norm;
    } else {
        double moment = 0.0;
        for (int i = 0; i < d; ++i) {
            const double pi = p[d - 1 - i];
            if (pi > kEpsilon) {
                const double q = pi / kept_weight;
                moment += std::pow(q, alpha_);
                scratch.weights[i] = std::pow(q, alpha_ - 1.0);
            }
        }
        factor = alpha_ / ((1.0 - alpha_) * norm * moment);
    }

    // B = V_kept diag(sqrt(w)), F = B B^H (lower triangle), then F made whole.
    const std::size_t dd = static_cast<std::size_t>(d) * d;
    scratch.weighted_vectors.resize(dd);
    int columns = 0;
    for (int i = 0; i < d; ++i) {
        if (!(scratch.weights[i] > 0.0)) continue;
        const double scale = std::sqrt(scratch.weights[i]);
        const cplx* v = scratch.gram.data() + static_cast<std::size_t>(i) * d;
        cplx* b = scratch.weighted_vectors.data() + static_cast<std::size_t>(columns) * d;
        for (int r = 0; r < d; ++r) b[r] = scale * v[r];
        ++columns;
    }
    scratch.weight_matrix.resize(dd);
    bvc::lapack::hermitian_outer_product(d, columns, scratch.weighted_vectors.data(), d, scratch.weight_matrix.data(),
                                         d);
    cplx* f = scratch.weight_matrix.data();
    for (int c = 0; c < d; ++c) {
        for (int r = 0; r < c; ++r)
            f[r + static_cast<std::size_t>(c) * d] = std::conj(f[c + static_cast<std::size_t>(r) * d]);
    }

    double traces[kEntanglerParams];
    contract_derivatives(u, du, scratch, traces);
    for (int k = 0; k < kEntanglerParams; ++k) gradient[k] = factor * traces[k];
    return entropy;
}

void DisentanglerObjective::contract_derivatives(const bvc::sv::Mat4& u, const bvc::sv::Mat4* du,
                                                 ObjectiveScratch& scratch, double* traces) const {
    const int d = gram_dimension();
    const std::size_t chi = chi_;
    const std::size_t block = chi * chi;
    auto row = [&](int a, int t) { return low_side_ ? 2 * t + a : 2 * a + t; };

    // C[a][a'][j][j'] = Tr[F_{a' a} K[j][j']] = sum_e F_{a' a}[e] conj(K[j'][j][e]),
    // since K[j][j'] is the conjugate transpose of K[j'][j]. Computed for
    // (a, a') = (0, 0), (1, 0), (1, 1); C[0][1][j][j'] = conj(C[1][0][j'][j]).
    cplx c[2][2][4][4];
    scratch.f_re.resize(block);
    scratch.f_im.resize(block);
    constexpr int kPairs[3][2] = {{0, 0}, {1, 0}, {1, 1}};
    for (const auto& pair : kPairs) {
        const int a = pair[0], ap = pair[1];
        // F_{a' a}: rows a' chi.., columns a chi.. of F.
        for (std::size_t x = 0; x < chi; ++x) {
            const cplx* column = scratch.weight_matrix.data() + (a * chi + x) * d + ap * chi;
            for (std::size_t xp = 0; xp < chi; ++xp) {
                scratch.f_re[xp + chi * x] = column[xp].real();
                scratch.f_im[xp + chi * x] = column[xp].imag();
            }
        }
        for (int j = 0; j < 4; ++j) {
            for (int jp = 0; jp < 4; ++jp) {
                const double* kr = k_re_.data() + (4 * jp + j) * block;
                const double* ki = k_im_.data() + (4 * jp + j) * block;
                double sr = 0.0, si = 0.0;
                for (std::size_t e = 0; e < block; ++e) {
                    sr += scratch.f_re[e] * kr[e] + scratch.f_im[e] * ki[e];
                    si += scratch.f_im[e] * kr[e] - scratch.f_re[e] * ki[e];
                }
                c[a][ap][j][jp] = cplx(sr, si);
            }
        }
    }
    for (int j = 0; j < 4; ++j) {
        for (int jp = 0; jp < 4; ++jp) c[0][1][j][jp] = std::conj(c[1][0][jp][j]);
    }

    for (int k = 0; k < kEntanglerParams; ++k) {
        double sum = 0.0;
        for (int a = 0; a < 2; ++a) {
            for (int ap = 0; ap < 2; ++ap) {
                for (int j = 0; j < 4; ++j) {
                    for (int jp = 0; jp < 4; ++jp) {
                        cplx dw = 0.0;
                        for (int t = 0; t < 2; ++t) {
                            dw += du[k].m[4 * row(a, t) + j] * std::conj(u.m[4 * row(ap, t) + jp]) +
                                  u.m[4 * row(a, t) + j] * std::conj(du[k].m[4 * row(ap, t) + jp]);
                        }
                        sum += (dw * c[a][ap][j][jp]).real();
                    }
                }
            }
        }
        traces[k] = sum;
    }
}

}  // namespace bvc::synthesis
