// Canonical matrix product states: construction, truncation, contraction and their checks.
#include "core/mps/mps.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <stdexcept>
#include <string>

#include "core/statevector/statevector.hpp"

namespace bvc::mps {

namespace detail {

void check_info(int info, const char* routine) {
    if (info != 0) {
        throw std::runtime_error(std::string("LAPACK ") + routine + " failed (info = " + std::to_string(info) + ")");
    }
}

void svd(int rows, int cols, cplx* a, cplx* u, double* s, cplx* vt, lapack::Workspace& ws) {
    const lapack::SmallWork threads(8.0 * rows * cols * std::min(rows, cols));
    check_info(lapack::thin_svd(rows, cols, a, u, s, vt, ws), "zgesdd");
}

void move_centre_right(std::vector<Tensor>& tensors, int c, lapack::Workspace& ws) {
    Tensor& centre = tensors[c];
    const int rows = 2 * centre.left, cols = centre.right, k = std::min(rows, cols);
    std::vector<cplx> r(static_cast<std::size_t>(k) * cols);
    {
        const lapack::SmallWork threads(2.0 * rows * cols * k);
        check_info(lapack::qr(rows, cols, centre.data.data(), r.data(), ws), "zgeqrf");
    }
    centre.data.resize(static_cast<std::size_t>(rows) * k);  // q: the first k columns
    centre.right = k;
    Tensor& next = tensors[c + 1];
    Tensor moved(k, next.right);
    lapack::gemm('N', 'N', k, 2 * next.right, cols, 1.0, r.data(), k, next.data.data(), cols, 0.0, moved.data.data(),
                 k);
    next = std::move(moved);
}

void move_centre_left(std::vector<Tensor>& tensors, int c, lapack::Workspace& ws) {
    Tensor& centre = tensors[c];
    const int rows = centre.left, cols = 2 * centre.right, k = std::min(rows, cols);
    std::vector<cplx> l(static_cast<std::size_t>(rows) * k);
    Tensor q(k, centre.right);
    {
        const lapack::SmallWork threads(2.0 * rows * cols * k);
        check_info(lapack::lq(rows, cols, centre.data.data(), l.data(), q.data.data(), ws), "zgelqf");
    }
    centre = std::move(q);
    Tensor& previous = tensors[c - 1];
    Tensor moved(previous.left, k);
    const int ld = 2 * previous.left;
    lapack::gemm('N', 'N', ld, k, rows, 1.0, previous.data.data(), ld, l.data(), rows, 0.0, moved.data.data(), ld);
    previous = std::move(moved);
}

}  // namespace detail

namespace {

using detail::check_info;

double squared_norm(const cplx* v, std::size_t count) {
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i) sum += v[i].real() * v[i].real() + v[i].imag() * v[i].imag();
    return sum;
}

// Squares of values in this range neither overflow nor turn subnormal, so
// sums of them keep every digit. Outside it the kernels scale by a power of
// two first, which is exact; inside it nothing is
// scaled, and results are those of the plain arithmetic to the last bit.
constexpr double kSafeSmallest = 1e-140;
constexpr double kSafeLargest = 1e140;

// The binary exponent e with 2^-e `largest` in [0.5, 1) when `largest`
// (positive and finite) lies outside the safe range, else 0.
int extreme_exponent(double largest) {
    if (!(largest > 0.0) || !std::isfinite(largest) || (largest > kSafeSmallest && largest < kSafeLargest)) return 0;
    int exponent = 0;
    std::frexp(largest, &exponent);
    return exponent;
}

// v times 2^-exponent, exactly (ldexp: no intermediate power of two that
// could leave the range itself).
void scale_down(cplx* v, std::size_t count, int exponent) {
    if (exponent == 0) return;
    for (std::size_t i = 0; i < count; ++i) {
        v[i] = cplx(std::ldexp(v[i].real(), -exponent), std::ldexp(v[i].imag(), -exponent));
    }
}

// Brings the entries of `t` near 1 when their largest leaves the safe range;
// returns the exponent taken out (t was 2^e times what it holds now).
int rescale_tensor(Tensor& t) {
    const int exponent = extreme_exponent(bvc::sv::largest_component(t.data.data(), t.data.size()));
    scale_down(t.data.data(), t.data.size(), exponent);
    return exponent;
}

bool all_finite(const cplx* v, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        if (!std::isfinite(v[i].real()) || !std::isfinite(v[i].imag())) return false;
    }
    return true;
}

// ||v|| for finite entries of any size: squared after scaling where needed.
double vector_norm(const cplx* v, std::size_t count) {
    const int exponent = extreme_exponent(bvc::sv::largest_component(v, count));
    if (exponent == 0) return std::sqrt(squared_norm(v, count));
    double sum = 0.0;
    for (std::size_t i = 0; i < count; ++i)
        sum += std::norm(cplx(std::ldexp(v[i].real(), -exponent), std::ldexp(v[i].imag(), -exponent)));
    return std::ldexp(std::sqrt(sum), exponent);
}

// A double for a message, in the shortest form that shows its size.
std::string shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

// 2^exponent times `value`, the exponent clamped where the result is 0 or
// infinite anyway (it may be the sum over many sites).
double times_power_of_two(double value, long long exponent) {
    return std::ldexp(value, static_cast<int>(std::clamp(exponent, -8192LL, 8192LL)));
}

void check_chain(const std::vector<Tensor>& tensors) {
    const int n = static_cast<int>(tensors.size());
    if (n < 1 || n > kMaxSites) {
        throw std::invalid_argument("an MPS needs between 1 and " + std::to_string(kMaxSites) + " sites, got " +
                                    std::to_string(n));
    }
    for (int k = 0; k < n; ++k) {
        const Tensor& t = tensors[k];
        if (t.left < 1 || t.right < 1 || t.left > kMaxBond || t.right > kMaxBond) {
            throw std::invalid_argument("the bonds of site " + std::to_string(k) + " must be between 1 and " +
                                        std::to_string(kMaxBond));
        }
        if (t.data.size() != static_cast<std::size_t>(t.left) * 2 * t.right) {
            throw std::invalid_argument("site " + std::to_string(k) + " holds the wrong number of entries");
        }
    }
    if (tensors.front().left != 1 || tensors.back().right != 1) {
        throw std::invalid_argument("the outer bonds of an MPS must have dimension 1");
    }
    for (int k = 0; k + 1 < n; ++k) {
        if (tensors[k].right != tensors[k + 1].left) {
            throw std::invalid_argument("site " + std::to_string(k) + " has right bond " +
                                        std::to_string(tensors[k].right) + " but site " + std::to_string(k + 1) +
                                        " has left bond " + std::to_string(tensors[k + 1].left));
        }
    }
}

}  // namespace

Kept kept_values(const double* s, int count, const Truncation& truncation) {
    // Values far from 1 (a state of norm 1e200) are squared scaled to the
    // largest, s[0]: the fractions and the threshold do not depend on it.
    const int exponent = count > 0 ? extreme_exponent(s[0]) : 0;
    auto scaled = [exponent](double v) { return exponent == 0 ? v : std::ldexp(v, -exponent); };
    double total = 0.0;
    for (int i = 0; i < count; ++i) total += scaled(s[i]) * scaled(s[i]);
    int keep = count;
    const double threshold = truncation.cutoff * std::sqrt(total);
    while (keep > 1 && !(scaled(s[keep - 1]) > threshold)) --keep;
    if (truncation.max_bond > 0 && keep > truncation.max_bond) keep = truncation.max_bond;
    double dropped = 0.0;
    for (int i = keep; i < count; ++i) dropped += scaled(s[i]) * scaled(s[i]);
    if (dropped == 0.0 || !(total > 0.0)) return {keep, 0.0, 1.0};
    return {keep, dropped / total, std::sqrt(total / (total - dropped))};
}

Mps product_zero(int n) {
    if (n < 1 || n > kMaxSites) {
        throw std::invalid_argument("an MPS needs between 1 and " + std::to_string(kMaxSites) + " sites, got " +
                                    std::to_string(n));
    }
    Mps out;
    out.sites.assign(n, Tensor(1, 1));
    for (Tensor& t : out.sites) t.data[0] = 1.0;
    out.schmidt.assign(n + 1, std::vector<double>{1.0});
    return out;
}

Mps truncated(const Mps& state, const Truncation& truncation, Interrupt& interrupt) {
    bool within = true;
    for (const std::vector<double>& values : state.schmidt) {
        within = within && kept_values(values.data(), static_cast<int>(values.size()), truncation).count ==
                               static_cast<int>(values.size());
    }
    if (within) return state;
    Mps out = canonicalize(state.sites, 0, truncation, state.discarded_weight, interrupt);
    out.norm *= state.norm;
    return out;
}

Mps canonicalize(std::vector<Tensor> tensors, int centre, const Truncation& truncation, double discarded,
                 Interrupt& interrupt) {
    check_chain(tensors);
    const int n = static_cast<int>(tensors.size());
    for (int k = 0; k < n; ++k) {
        if (!all_finite(tensors[k].data.data(), tensors[k].data.size())) {
            throw std::invalid_argument("tensor " + std::to_string(k) + " must have finite entries");
        }
    }
    // The state is 2^exponent times the product of the tensors: every factor
    // and the carried centre stay near 1, so no product of many large or
    // small tensors leaves the double range.
    long long exponent = 0;
    for (Tensor& t : tensors) exponent += rescale_tensor(t);
    lapack::Workspace ws;
    for (int c = std::max(centre, 0); c < n - 1; ++c) {
        detail::move_centre_right(tensors, c, ws);
        exponent += rescale_tensor(tensors[c + 1]);
        interrupt.progress(static_cast<std::uint64_t>(tensors[c].data.size()) * tensors[c].right);
    }
    // From the right end: every SVD sees left-isometric sites on its left and
    // right-isometric ones on its right, so its values are the Schmidt
    // values of the state and its right vectors the Schmidt basis.
    Mps out;
    out.schmidt.assign(n + 1, std::vector<double>{1.0});
    std::vector<cplx> u, vt;
    std::vector<double> s;
    for (int c = n - 1; c > 0; --c) {
        Tensor& m = tensors[c];
        const int rows = m.left, cols = 2 * m.right, k = std::min(rows, cols);
        u.resize(static_cast<std::size_t>(rows) * k);
        vt.resize(static_cast<std::size_t>(k) * cols);
        s.resize(k);
        detail::svd(rows, cols, m.data.data(), u.data(), s.data(), vt.data(), ws);
        const Kept kept = kept_values(s.data(), k, truncation);
        discarded = compose_discarded(discarded, kept.discarded_fraction);
        const int r = kept.count;
        Tensor b(r, m.right);
        for (int j = 0; j < cols; ++j) {
            std::copy_n(vt.data() + static_cast<std::size_t>(k) * j, r,
                        b.data.data() + static_cast<std::size_t>(r) * j);
        }
        double kept_norm = 0.0;
        for (int j = 0; j < r; ++j) kept_norm += s[j] * s[j];
        kept_norm = std::sqrt(kept_norm);
        out.schmidt[c].resize(r);
        for (int j = 0; j < r; ++j) {
            out.schmidt[c][j] = s[j] / kept_norm;
            const cplx weight = s[j] * kept.scale;
            for (int i = 0; i < rows; ++i) u[i + static_cast<std::size_t>(rows) * j] *= weight;
        }
        Tensor& previous = tensors[c - 1];
        Tensor moved(previous.left, r);
        const int ld = 2 * previous.left;
        lapack::gemm('N', 'N', ld, r, rows, 1.0, previous.data.data(), ld, u.data(), rows, 0.0, moved.data.data(), ld);
        previous = std::move(moved);
        m = std::move(b);
        interrupt.progress(static_cast<std::uint64_t>(rows) * cols * k);
    }
    const double norm = vector_norm(tensors[0].data.data(), tensors[0].data.size());
    const double true_norm = times_power_of_two(norm, exponent);
    if (!(norm > 0.0)) throw std::invalid_argument("the state has zero or non-finite norm");
    if (!(true_norm > 0.0) || !std::isfinite(true_norm)) {
        throw std::invalid_argument("the state's norm is outside the range of a double");
    }
    for (cplx& z : tensors[0].data) z /= norm;
    out.sites = std::move(tensors);
    out.norm = true_norm;
    out.discarded_weight = discarded;
    return out;
}

Mps from_dense(const cplx* psi, int n, const Truncation& truncation, Interrupt& interrupt) {
    if (n < 1 || n > kMaxDenseQubits) {
        throw std::invalid_argument("a state vector needs between 1 and " + std::to_string(kMaxDenseQubits) +
                                    " qubits, got " + std::to_string(n));
    }
    const std::size_t size = std::size_t{1} << n;
    if (!all_finite(psi, size)) throw std::invalid_argument("the state vector must have finite amplitudes");
    const double largest = bvc::sv::largest_component(psi, size);
    if (!(largest > 0.0)) throw std::invalid_argument("the state has zero or non-finite norm");
    // `rest` is the chi x (remaining amplitudes) matrix still to be split;
    // column-major, so peeling the next qubit off is a reshape. Amplitudes
    // far from 1 are split scaled by a power of two (exactly), and the norm
    // gets the power back at the end.
    std::vector<cplx> rest(psi, psi + size), u, vt;
    const int exponent = extreme_exponent(largest);
    scale_down(rest.data(), size, exponent);
    std::vector<double> s;
    std::vector<Tensor> tensors(n);
    double discarded = 0.0;
    int chi = 1;
    std::size_t remaining = size;
    lapack::Workspace ws;
    for (int k = 0; k + 1 < n; ++k) {
        const int rows = 2 * chi;
        remaining /= 2;
        const int cols = static_cast<int>(remaining);
        const int kk = std::min(rows, cols);
        u.resize(static_cast<std::size_t>(rows) * kk);
        vt.resize(static_cast<std::size_t>(kk) * cols);
        s.resize(kk);
        detail::svd(rows, cols, rest.data(), u.data(), s.data(), vt.data(), ws);
        const Kept kept = kept_values(s.data(), kk, truncation);
        discarded = compose_discarded(discarded, kept.discarded_fraction);
        const int r = kept.count;
        tensors[k] = Tensor(chi, r);
        std::copy_n(u.data(), static_cast<std::size_t>(rows) * r, tensors[k].data.data());
        // rest = diag(s) vt[:r, :], compacted in place (rows only move down).
        for (int j = 0; j < cols; ++j) {
            for (int i = 0; i < r; ++i) {
                vt[i + static_cast<std::size_t>(r) * j] =
                    vt[i + static_cast<std::size_t>(kk) * j] * (s[i] * kept.scale);
            }
        }
        vt.resize(static_cast<std::size_t>(r) * cols);
        rest.swap(vt);
        chi = r;
        interrupt.progress(static_cast<std::uint64_t>(rows) * cols * kk);
    }
    tensors[n - 1] = Tensor(chi, 1);
    std::copy_n(rest.data(), static_cast<std::size_t>(chi) * 2, tensors[n - 1].data.data());
    Mps out = canonicalize(std::move(tensors), n - 1, truncation, discarded, interrupt);
    out.norm = times_power_of_two(out.norm, exponent);
    if (!std::isfinite(out.norm)) throw std::invalid_argument("the state's norm is outside the range of a double");
    return out;
}

void check_canonical(const Mps& state, Interrupt& interrupt) {
    check_chain(state.sites);
    const int n = state.size();
    if (!(state.norm > 0.0) || !std::isfinite(state.norm)) {
        throw std::invalid_argument("the norm must be finite and positive, got " + shown(state.norm));
    }
    if (!(state.discarded_weight >= 0.0 && state.discarded_weight <= 1.0)) {
        throw std::invalid_argument("the discarded weight must be between 0 and 1, got " +
                                    shown(state.discarded_weight));
    }
    if (state.schmidt.size() != static_cast<std::size_t>(n) + 1) {
        throw std::invalid_argument("the Schmidt values do not match the bonds of the tensors");
    }
    // Bonds are named as the Python face names them: bond b between qubits b and b + 1.
    for (int b = 0; b <= n; ++b) {
        const std::vector<double>& values = state.schmidt[b];
        const std::size_t dimension = b == 0 || b == n ? 1 : static_cast<std::size_t>(state.sites[b].left);
        const std::string bond = "bond " + std::to_string(b - 1);
        if (values.size() != dimension) {
            throw std::invalid_argument("the Schmidt values do not match the bonds of the tensors");
        }
        double sum = 0.0;
        for (std::size_t i = 0; i < values.size(); ++i) {
            if (!(values[i] >= 0.0) || !std::isfinite(values[i])) {
                throw std::invalid_argument("the Schmidt values of " + bond + " must be finite and non-negative");
            }
            if (i > 0 && values[i] > values[i - 1]) {
                throw std::invalid_argument("the Schmidt values of " + bond + " must be in descending order");
            }
            sum += values[i] * values[i];
        }
        if (!(std::abs(sum - 1.0) <= kCanonicalTolerance)) {
            throw std::invalid_argument("the squares of the Schmidt values of " + bond + " must add up to 1, got " +
                                        shown(sum));
        }
    }
    std::vector<cplx> gram;
    for (int k = 0; k < n; ++k) {
        const Tensor& t = state.sites[k];
        const std::string site = "site " + std::to_string(k);
        if (!all_finite(t.data.data(), t.data.size())) throw std::invalid_argument(site + " must have finite entries");
        // A right isometry has rank `left`, at most its 2 right columns; this
        // also bounds the Gram matrix below by the tensor's own size.
        if (t.left > 2 * t.right) {
            throw std::invalid_argument(site + " cannot be right-isometric: its left bond " + std::to_string(t.left) +
                                        " exceeds twice its right bond " + std::to_string(t.right));
        }
        // sum_s B[s] B[s]^dagger must be the identity.
        gram.assign(static_cast<std::size_t>(t.left) * t.left, cplx(0.0));
        for (int s = 0; s < 2; ++s) {
            lapack::gemm('N', 'C', t.left, t.left, t.right, 1.0, t.slice(s), 2 * t.left, t.slice(s), 2 * t.left, 1.0,
                         gram.data(), t.left);
        }
        double deviation = 0.0;
        for (int j = 0; j < t.left; ++j) {
            for (int i = 0; i < t.left; ++i) {
                const cplx entry = gram[i + static_cast<std::size_t>(t.left) * j] - (i == j ? 1.0 : 0.0);
                deviation = std::max(deviation, std::abs(entry));
            }
        }
        if (!(deviation <= kCanonicalTolerance)) {
            throw std::invalid_argument(site + " is not right-isometric (sum_s B[s] B[s]^dagger differs from the " +
                                        "identity by " + shown(deviation) + ")");
        }
        interrupt.progress(static_cast<std::uint64_t>(t.left) * t.left * t.right * 2);
    }
}

void to_dense(const Mps& state, cplx* out, Interrupt& interrupt) {
    const int n = state.size();
    // `current` holds the amplitudes of the qubits done so far times the
    // open bond: a (2^k) x bond column-major matrix, qubit 0 the low bit.
    std::vector<cplx> current{cplx(state.norm)}, next;
    int rows = 1;
    for (int k = 0; k < n; ++k) {
        const Tensor& b = state.sites[k];
        const int new_rows = 2 * rows;
        cplx* target = out;
        if (k + 1 < n) {
            next.resize(static_cast<std::size_t>(new_rows) * b.right);
            target = next.data();
        }
        for (int s = 0; s < 2; ++s) {
            lapack::gemm('N', 'N', rows, b.right, b.left, 1.0, current.data(), rows, b.slice(s), 2 * b.left, 0.0,
                         target + static_cast<std::size_t>(rows) * s, new_rows);
        }
        if (k + 1 < n) current.swap(next);
        rows = new_rows;
        interrupt.progress(static_cast<std::uint64_t>(rows) * b.left * b.right);
    }
}

cplx overlap(const Mps& bra, const Mps& ket, Interrupt& interrupt) {
    std::vector<cplx> e{1.0}, f, next;
    for (int k = 0; k < bra.size(); ++k) {
        const Tensor& b = bra.sites[k];
        const Tensor& t = ket.sites[k];
        f.resize(static_cast<std::size_t>(b.left) * 2 * t.right);
        lapack::gemm('N', 'N', b.left, 2 * t.right, t.left, 1.0, e.data(), b.left, t.data.data(), t.left, 0.0, f.data(),
                     b.left);
        next.resize(static_cast<std::size_t>(b.right) * t.right);
        for (int s = 0; s < 2; ++s) {
            lapack::gemm('C', 'N', b.right, t.right, b.left, 1.0, b.slice(s), 2 * b.left,
                         f.data() + static_cast<std::size_t>(b.left) * s, 2 * b.left, s == 0 ? 0.0 : 1.0, next.data(),
                         b.right);
        }
        e.swap(next);
        interrupt.progress(static_cast<std::uint64_t>(b.left) * t.right * (b.right + t.left) * 2);
    }
    return e[0] * (bra.norm * ket.norm);
}

}  // namespace bvc::mps
