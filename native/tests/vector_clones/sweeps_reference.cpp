// The sweeps against the way they were written before short runs were swept
// group by group and the product-state steps vectorised: every state, sum
// and gradient must have the same bits. The reference below is that code;
// the helpers it shares with the sweeps (runs, lanes, streams, the sweeps by
// runs) are the sweeps' own, reached by building their source into this
// program.
#include "core/synthesis/adjoint_gradient.cpp"

#include <cstdio>
#include <cstring>
#include <random>

#include "../states.hpp"

namespace bvc::synthesis {
namespace {

// Run by run in the lanes, whatever the pair.
BVC_VECTOR_CLONES
void reference_apply_pair(double* re, double* im, int n_qubits, int q0, int q1, const Coefficients& u) {
    apply_runs(re, im, n_qubits, q0, q1, u);
}

// Amplitude by amplitude for runs of one or two, else run by run in the lanes.
BVC_VECTOR_CLONES
void reference_adjoint_pair(double* kr, double* ki, double* br, double* bi, int n_qubits, int q0, int q1,
                            const Coefficients& u, double t_re[16], double t_im[16]) {
    if (std::min(q0, q1) >= 2) {
        adjoint_runs(kr, ki, br, bi, n_qubits, q0, q1, u, t_re, t_im);
        return;
    }
    const std::size_t b0 = std::size_t{1} << q0, b1 = std::size_t{1} << q1;
    for_each_run(n_qubits, q0, q1, [&](std::size_t s, std::size_t len) __attribute__((always_inline)) {
        for (std::size_t j = s; j < s + len; ++j) {
            const std::size_t at[4] = {j, j | b0, j | b1, j | b0 | b1};
            const double bre[4] = {br[at[0]], br[at[1]], br[at[2]], br[at[3]]};
            const double bim[4] = {bi[at[0]], bi[at[1]], bi[at[2]], bi[at[3]]};
            apply_streams(u, 1, kr + at[0], ki + at[0], kr + at[1], ki + at[1], kr + at[2], ki + at[2], kr + at[3],
                          ki + at[3]);
            for (int a = 0; a < 4; ++a)
                for (int b = 0; b < 4; ++b) {
                    t_re[4 * a + b] += bre[a] * kr[at[b]] + bim[a] * ki[at[b]];
                    t_im[4 * a + b] += bre[a] * ki[at[b]] - bim[a] * kr[at[b]];
                }
            apply_streams(u, 1, br + at[0], bi + at[0], br + at[1], bi + at[1], br + at[2], bi + at[2], br + at[3],
                          bi + at[3]);
        }
    });
}

// Built for the baseline alone, as it was.
void reference_product_gradient(double* kr, double* ki, double* br, double* bi, int n, const double* x,
                                const std::vector<Mat2>& rotations, cplx overlap, double* gradient) {
    const std::size_t size = std::size_t{1} << n;
    for (int q = n; q-- > 0;) {
        const Mat2 u = adjoint(rotations[q]);
        const std::size_t step = std::size_t{1} << q;
        cplx t[4] = {};
        for (std::size_t base = 0; base < size; base += 2 * step) {
            for (std::size_t i = base; i < base + step; ++i) {
                const cplx k0(kr[i], ki[i]), k1(kr[i + step], ki[i + step]);
                const cplx b0(br[i], bi[i]), b1(br[i + step], bi[i + step]);
                const cplx k0n = u.m[0] * k0 + u.m[1] * k1, k1n = u.m[2] * k0 + u.m[3] * k1;
                const cplx b0n = u.m[0] * b0 + u.m[1] * b1, b1n = u.m[2] * b0 + u.m[3] * b1;
                t[0] += std::conj(b0) * k0n, t[1] += std::conj(b0) * k1n;
                t[2] += std::conj(b1) * k0n, t[3] += std::conj(b1) * k1n;
                kr[i] = k0n.real(), ki[i] = k0n.imag(), kr[i + step] = k1n.real(), ki[i + step] = k1n.imag();
                br[i] = b0n.real(), bi[i] = b0n.imag(), br[i + step] = b1n.real(), bi[i + step] = b1n.imag();
            }
        }
        Mat2 d[3];
        axis_rotation_derivatives(x + 3 * q, d);
        for (int j = 0; j < 3; ++j) {
            cplx sum = 0.0;
            for (int e = 0; e < 4; ++e) sum += d[j].m[e] * t[e];
            gradient[3 * q + j] = 2.0 * std::real(std::conj(overlap) * sum);
        }
    }
}

// A state split into parts, and a copy of it for the reference.
struct Split {
    std::vector<double> re, im;
};

Split random_split(int n, unsigned seed) {
    const std::vector<cplx> psi = bvc::test::random_state(n, seed);
    Split s;
    for (const cplx& a : psi) s.re.push_back(a.real()), s.im.push_back(a.imag());
    return s;
}

bool same_bits(const std::vector<double>& a, const std::vector<double>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(double)) == 0;
}

int mismatches = 0;

void expect(bool same, const char* what, int n, int q0, int q1) {
    if (same) return;
    ++mismatches;
    std::printf("%s differs from the reference: n=%d, pair (%d, %d)\n", what, n, q0, q1);
}

}  // namespace
}  // namespace bvc::synthesis

int main() {
    using namespace bvc::synthesis;
    std::mt19937 gen(7);
    std::normal_distribution<double> normal;
    int checked = 0;
    for (int n : {2, 3, 5, 8, 11}) {
        // Every pair, so that runs of every length are taken.
        for (int q0 = 0; q0 < n; ++q0)
            for (int q1 = q0 + 1; q1 < n; ++q1) {
                double p[kEntanglerParams];
                for (double& v : p) v = normal(gen);
                Mat4 gate, derivatives[kEntanglerParams];
                entangler_matrix_derivatives(p, gate, derivatives);
                const Coefficients u = split(gate);
                Split ket = random_split(n, 2 * checked + 1), bra = random_split(n, 2 * checked + 2);
                Split ket_ref = ket, bra_ref = bra;

                apply_pair(ket.re.data(), ket.im.data(), n, q0, q1, u);
                reference_apply_pair(ket_ref.re.data(), ket_ref.im.data(), n, q0, q1, u);
                expect(same_bits(ket.re, ket_ref.re) && same_bits(ket.im, ket_ref.im), "apply_pair", n, q0, q1);

                std::vector<double> t(32, 0.0), t_ref(32, 0.0);
                adjoint_pair(ket.re.data(), ket.im.data(), bra.re.data(), bra.im.data(), n, q0, q1, u, t.data(),
                             t.data() + 16);
                reference_adjoint_pair(ket_ref.re.data(), ket_ref.im.data(), bra_ref.re.data(), bra_ref.im.data(), n,
                                       q0, q1, u, t_ref.data(), t_ref.data() + 16);
                expect(same_bits(t, t_ref) && same_bits(ket.re, ket_ref.re) && same_bits(ket.im, ket_ref.im) &&
                           same_bits(bra.re, bra_ref.re) && same_bits(bra.im, bra_ref.im),
                       "adjoint_pair", n, q0, q1);
                ++checked;
            }
        // The product-state steps, from a general bra and the product ket.
        std::vector<double> x(3 * n), gradient(3 * n), gradient_ref(3 * n);
        for (double& v : x) v = normal(gen);
        Split ket = random_split(n, 1000 + n), bra = random_split(n, 2000 + n);
        const std::vector<Mat2> rotations = prepare_product(ket.re.data(), ket.im.data(), n, x.data());
        Split ket_ref = ket, bra_ref = bra;
        const cplx overlap(0.3, -0.4);
        product_gradient(ket.re.data(), ket.im.data(), bra.re.data(), bra.im.data(), n, x.data(), rotations, overlap,
                         gradient.data());
        reference_product_gradient(ket_ref.re.data(), ket_ref.im.data(), bra_ref.re.data(), bra_ref.im.data(), n,
                                   x.data(), rotations, overlap, gradient_ref.data());
        expect(same_bits(gradient, gradient_ref) && same_bits(ket.re, ket_ref.re) && same_bits(ket.im, ket_ref.im) &&
                   same_bits(bra.re, bra_ref.re) && same_bits(bra.im, bra_ref.im),
               "product_gradient", n, -1, -1);
    }
    std::printf("%d pairs and 5 product states checked, %d differ\n", checked, mismatches);
    return mismatches == 0 && checked > 0 ? 0 : 1;
}
