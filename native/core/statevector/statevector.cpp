// The in-place state-vector kernels: gates, Pauli strings and expectation values.
#include "core/statevector/statevector.hpp"

#include <algorithm>
#include <bit>
#include <cmath>
#include <utility>

namespace bvc::sv {

namespace {

inline std::uint64_t dim(int n_qubits) { return std::uint64_t{1} << n_qubits; }

// Index with a zero bit inserted at position `bit`.
inline std::uint64_t insert_zero(std::uint64_t k, int bit) {
    const std::uint64_t low = k & ((std::uint64_t{1} << bit) - 1);
    return ((k >> bit) << (bit + 1)) | low;
}

}  // namespace

// Complex arithmetic is spelled out on doubles: std::complex's operator*
// carries NaN-recovery branches that keep these loops from vectorising.
namespace {

struct C {
    double re, im;
};

inline C load(const cplx& z) { return {z.real(), z.imag()}; }
inline C mul(C a, C b) { return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re}; }
inline C add(C a, C b) { return {a.re + b.re, a.im + b.im}; }

}  // namespace

void apply_1q(cplx* psi, int n_qubits, int qubit, const Mat2& u) {
    const std::uint64_t size = dim(n_qubits), step = std::uint64_t{1} << qubit;
    const C a = load(u.m[0]), b = load(u.m[1]), c = load(u.m[2]), d = load(u.m[3]);
    auto* p = reinterpret_cast<C*>(psi);
    for (std::uint64_t base = 0; base < size; base += 2 * step) {
        for (std::uint64_t i0 = base; i0 < base + step; ++i0) {
            const C v0 = p[i0], v1 = p[i0 + step];
            p[i0] = add(mul(a, v0), mul(b, v1));
            p[i0 + step] = add(mul(c, v0), mul(d, v1));
        }
    }
}

namespace {

template <Summation order>
void apply_2q_in(cplx* psi, int n_qubits, int q0, int q1, const Mat4& u) {
    const int lo = q0 < q1 ? q0 : q1, hi = q0 < q1 ? q1 : q0;
    const std::uint64_t size = dim(n_qubits);
    const std::uint64_t s_lo = std::uint64_t{1} << lo, s_hi = std::uint64_t{1} << hi;
    const std::uint64_t b0 = std::uint64_t{1} << q0, b1 = std::uint64_t{1} << q1;
    C m[16];
    for (int k = 0; k < 16; ++k) m[k] = load(u.m[k]);
    auto* p = reinterpret_cast<C*>(psi);
    for (std::uint64_t outer = 0; outer < size; outer += 2 * s_hi) {
        for (std::uint64_t middle = outer; middle < outer + s_hi; middle += 2 * s_lo) {
            for (std::uint64_t i = middle; i < middle + s_lo; ++i) {
                const std::uint64_t idx[4] = {i, i | b0, i | b1, i | b0 | b1};
                const C v[4] = {p[idx[0]], p[idx[1]], p[idx[2]], p[idx[3]]};
                for (int r = 0; r < 4; ++r) {
                    const C* row = m + 4 * r;
                    if constexpr (order == Summation::pairwise) {
                        p[idx[r]] =
                            add(add(mul(row[0], v[0]), mul(row[1], v[1])), add(mul(row[2], v[2]), mul(row[3], v[3])));
                    } else {
                        p[idx[r]] =
                            add(add(add(mul(row[0], v[0]), mul(row[1], v[1])), mul(row[2], v[2])), mul(row[3], v[3]));
                    }
                }
            }
        }
    }
}

}  // namespace

void apply_2q(cplx* psi, int n_qubits, int q0, int q1, const Mat4& u, Summation order) {
    if (order == Summation::pairwise) {
        apply_2q_in<Summation::pairwise>(psi, n_qubits, q0, q1, u);
    } else {
        apply_2q_in<Summation::left_to_right>(psi, n_qubits, q0, q1, u);
    }
}

void apply_cx(cplx* psi, int n_qubits, int control, int target) {
    const int lo = control < target ? control : target, hi = control < target ? target : control;
    const std::uint64_t quarter = dim(n_qubits) >> 2;
    const std::uint64_t c = std::uint64_t{1} << control, t = std::uint64_t{1} << target;
    for (std::uint64_t k = 0; k < quarter; ++k) {
        const std::uint64_t base = insert_zero(insert_zero(k, lo), hi) | c;
        std::swap(psi[base], psi[base | t]);
    }
}

void apply_cz(cplx* psi, int n_qubits, int a, int b) {
    const std::uint64_t mask = (std::uint64_t{1} << a) | (std::uint64_t{1} << b), size = dim(n_qubits);
    for (std::uint64_t i = 0; i < size; ++i) {
        if ((i & mask) == mask) psi[i] = -psi[i];
    }
}

void apply_swap(cplx* psi, int n_qubits, int a, int b) {
    const int lo = a < b ? a : b, hi = a < b ? b : a;
    const std::uint64_t quarter = dim(n_qubits) >> 2;
    const std::uint64_t ba = std::uint64_t{1} << a, bb = std::uint64_t{1} << b;
    for (std::uint64_t k = 0; k < quarter; ++k) {
        const std::uint64_t base = insert_zero(insert_zero(k, lo), hi);
        std::swap(psi[base | ba], psi[base | bb]);
    }
}

double pauli_expectation(const cplx* psi, int n_qubits, const PauliMask& mask) {
    const std::uint64_t size = dim(n_qubits);
    const auto* p = reinterpret_cast<const C*>(psi);
    double acc = 0.0;
    if (mask.x == 0) {
        for (std::uint64_t i = 0; i < size; ++i) {
            const double prob = p[i].re * p[i].re + p[i].im * p[i].im;
            acc += (std::popcount(i & mask.z) & 1) ? -prob : prob;
        }
        return acc;
    }
    // P|i> = i^ny (-1)^popcount(i & z) |i ^ x>. The amplitudes pair up as
    // (i, i ^ x), and the partner's contribution is the conjugate of i's up to
    // (-1)^ny, so half of the indices suffice and only one real component of
    // conj(psi[i ^ x]) psi[i] is needed.
    const int ny = std::popcount(mask.x & mask.z);
    const std::uint64_t high = std::uint64_t{1} << (63 - std::countl_zero(mask.x));
    for (std::uint64_t base = 0; base < size; base += 2 * high) {
        for (std::uint64_t i = base; i < base + high; ++i) {
            const C a = p[i], b = p[i ^ mask.x];
            const double v = (ny & 1) ? b.re * a.im - b.im * a.re : b.re * a.re + b.im * a.im;
            acc += (std::popcount(i & mask.z) & 1) ? -v : v;
        }
    }
    static const double factor[4] = {2.0, -2.0, -2.0, 2.0};
    return factor[ny & 3] * acc;
}

cplx hamiltonian_expectation(const cplx* psi, int n_qubits, const std::vector<PauliMask>& masks,
                             const std::vector<cplx>& coeffs, Interrupt interrupt) {
    cplx total = 0.0;
    for (std::size_t k = 0; k < masks.size(); ++k) {
        total += coeffs[k] * pauli_expectation(psi, n_qubits, masks[k]);
        interrupt.progress(std::uint64_t{1} << n_qubits);
    }
    return total;
}

double largest_component(const cplx* v, std::size_t n) {
    double largest = 0.0;
    for (std::size_t i = 0; i < n; ++i) largest = std::max({largest, std::abs(v[i].real()), std::abs(v[i].imag())});
    return largest;
}

double unit_scale(double largest) {
    if (!(largest > 0.0) || !std::isfinite(largest)) return 1.0;
    int exponent = 0;
    std::frexp(largest, &exponent);
    return std::ldexp(1.0, -exponent);
}

}  // namespace bvc::sv
