// Fidelity and exact gradient of a reverse-preparation circuit on a state vector.
#include "core/synthesis/adjoint_gradient.hpp"

#include <algorithm>
#include <chrono>
#include <functional>

namespace bvc::synthesis {

namespace {

using bvc::sv::adjoint;
using bvc::sv::Mat2;
using bvc::sv::Mat4;

// The sweeps keep their states split into real and imaginary parts: the
// loops over runs of contiguous amplitudes then vectorise, which the
// interleaved complex layout does not. Runs are cut into chunks that stay in
// the first-level cache between the passes over them.
constexpr std::size_t kChunk = 256;
constexpr int kLanes = 8;

struct Coefficients {
    double re[16], im[16];
};

Coefficients split(const Mat4& u) {
    Coefficients c;
    for (int e = 0; e < 16; ++e) c.re[e] = u.m[e].real(), c.im[e] = u.m[e].imag();
    return c;
}

// The four amplitudes of a pair's local basis, each a stream of `len`
// contiguous values: v_r <- sum_c u[r][c] v_c.
inline __attribute__((always_inline)) void apply_streams(const Coefficients& u, std::size_t len, double* __restrict r0,
                                                         double* __restrict i0, double* __restrict r1,
                                                         double* __restrict i1, double* __restrict r2,
                                                         double* __restrict i2, double* __restrict r3,
                                                         double* __restrict i3) {
    for (std::size_t j = 0; j < len; ++j) {
        const double xr[4] = {r0[j], r1[j], r2[j], r3[j]}, xi[4] = {i0[j], i1[j], i2[j], i3[j]};
        double yr[4], yi[4];
        for (int r = 0; r < 4; ++r) {
            double sr = 0.0, si = 0.0;
            for (int c = 0; c < 4; ++c) {
                sr += u.re[4 * r + c] * xr[c] - u.im[4 * r + c] * xi[c];
                si += u.re[4 * r + c] * xi[c] + u.im[4 * r + c] * xr[c];
            }
            yr[r] = sr, yi[r] = si;
        }
        r0[j] = yr[0], r1[j] = yr[1], r2[j] = yr[2], r3[j] = yr[3];
        i0[j] = yi[0], i1[j] = yi[1], i2[j] = yi[2], i3[j] = yi[3];
    }
}

// Pairs whose lower qubit is below this have runs of at most 16
// amplitudes: too short for the lanes of apply_streams and
// accumulate_transition, whose set-up and lane sums then cost more than the
// arithmetic (a pair on qubits 0 and 1 took 3.7 times as long as one on 8
// and 9). They are swept group by group instead, the four amplitudes of a
// group in one vector, with the same operations in the same order.
constexpr int kGroupedBelow = 5;

typedef double V4 __attribute__((vector_size(32)));

// Vectors pass by reference only: the baseline copy has no AVX registers to
// pass them in.
inline __attribute__((always_inline)) void gather4(V4& v, const double* p, const std::size_t at[4]) {
    v = V4{p[at[0]], p[at[1]], p[at[2]], p[at[3]]};
}
inline __attribute__((always_inline)) void scatter4(double* p, const std::size_t at[4], const V4& v) {
    p[at[0]] = v[0], p[at[1]] = v[1], p[at[2]] = v[2], p[at[3]] = v[3];
}

// The columns of u: re[c][r] = Re u[r][c].
struct Columns {
    V4 re[4], im[4];
};

inline __attribute__((always_inline)) void columns(Columns& c, const Coefficients& u) {
    for (int k = 0; k < 4; ++k) {
        c.re[k] = V4{u.re[k], u.re[4 + k], u.re[8 + k], u.re[12 + k]};
        c.im[k] = V4{u.im[k], u.im[4 + k], u.im[8 + k], u.im[12 + k]};
    }
}

// v <- u v for one group: each output lane sees the operations of
// apply_streams, in its order.
inline __attribute__((always_inline)) void apply_group(const Columns& u, V4& re, V4& im) {
    V4 sr = {}, si = {};
    for (int c = 0; c < 4; ++c) {
        sr += u.re[c] * re[c] - u.im[c] * im[c];
        si += u.re[c] * im[c] + u.im[c] * re[c];
    }
    re = sr, im = si;
}

// t[a][b] += sum_j conj(bra_a[j]) ket_b[j], with partial sums per lane so
// that the sums vectorise without reassociation.
inline __attribute__((always_inline)) void accumulate_transition(std::size_t len, double* const bra_re[4],
                                                                 double* const bra_im[4], double* const ket_re[4],
                                                                 double* const ket_im[4], double t_re[16],
                                                                 double t_im[16]) {
    const double *k0r = ket_re[0], *k1r = ket_re[1], *k2r = ket_re[2], *k3r = ket_re[3];
    const double *k0i = ket_im[0], *k1i = ket_im[1], *k2i = ket_im[2], *k3i = ket_im[3];
    for (int a = 0; a < 4; ++a) {
        const double* br = bra_re[a];
        const double* bi = bra_im[a];
        double pr0[kLanes] = {}, pr1[kLanes] = {}, pr2[kLanes] = {}, pr3[kLanes] = {};
        double pi0[kLanes] = {}, pi1[kLanes] = {}, pi2[kLanes] = {}, pi3[kLanes] = {};
        std::size_t j = 0;
        for (; j + kLanes <= len; j += kLanes) {
            for (int l = 0; l < kLanes; ++l) {
                const double r = br[j + l], i = bi[j + l];
                pr0[l] += r * k0r[j + l] + i * k0i[j + l], pi0[l] += r * k0i[j + l] - i * k0r[j + l];
                pr1[l] += r * k1r[j + l] + i * k1i[j + l], pi1[l] += r * k1i[j + l] - i * k1r[j + l];
                pr2[l] += r * k2r[j + l] + i * k2i[j + l], pi2[l] += r * k2i[j + l] - i * k2r[j + l];
                pr3[l] += r * k3r[j + l] + i * k3i[j + l], pi3[l] += r * k3i[j + l] - i * k3r[j + l];
            }
        }
        for (; j < len; ++j) {
            const double r = br[j], i = bi[j];
            pr0[0] += r * k0r[j] + i * k0i[j], pi0[0] += r * k0i[j] - i * k0r[j];
            pr1[0] += r * k1r[j] + i * k1i[j], pi1[0] += r * k1i[j] - i * k1r[j];
            pr2[0] += r * k2r[j] + i * k2i[j], pi2[0] += r * k2i[j] - i * k2r[j];
            pr3[0] += r * k3r[j] + i * k3i[j], pi3[0] += r * k3i[j] - i * k3r[j];
        }
        for (int l = 0; l < kLanes; ++l) {
            t_re[4 * a] += pr0[l], t_re[4 * a + 1] += pr1[l], t_re[4 * a + 2] += pr2[l], t_re[4 * a + 3] += pr3[l];
            t_im[4 * a] += pi0[l], t_im[4 * a + 1] += pi1[l], t_im[4 * a + 2] += pi2[l], t_im[4 * a + 3] += pi3[l];
        }
    }
}

// Calls visit(offset, len) for the runs of contiguous amplitudes with bits
// q0 and q1 clear, cut into chunks; the other three streams of a pair start
// at offset | bit(q0), offset | bit(q1) and offset | both.
template <typename Visit>
inline __attribute__((always_inline)) void for_each_run(int n_qubits, int q0, int q1, Visit visit) {
    const int lo = std::min(q0, q1), hi = std::max(q0, q1);
    const std::size_t size = std::size_t{1} << n_qubits;
    const std::size_t s_lo = std::size_t{1} << lo, s_hi = std::size_t{1} << hi;
    for (std::size_t outer = 0; outer < size; outer += 2 * s_hi)
        for (std::size_t middle = outer; middle < outer + s_hi; middle += 2 * s_lo)
            for (std::size_t start = middle; start < middle + s_lo; start += kChunk)
                visit(start, std::min(kChunk, middle + s_lo - start));
}

// The gate u on the pair (q0, q1), run by run in the lanes of apply_streams.
inline __attribute__((always_inline)) void apply_runs(double* re, double* im, int n_qubits, int q0, int q1,
                                                      const Coefficients& u) {
    const std::size_t b0 = std::size_t{1} << q0, b1 = std::size_t{1} << q1;
    for_each_run(n_qubits, q0, q1, [&](std::size_t s, std::size_t len) __attribute__((always_inline)) {
        apply_streams(u, len, re + s, im + s, re + (s | b0), im + (s | b0), re + (s | b1), im + (s | b1),
                      re + (s | b0 | b1), im + (s | b0 | b1));
    });
}

// adjoint_pair run by run in the lanes: u on the ket's run, its transition
// sums, u on the bra's run.
inline __attribute__((always_inline)) void adjoint_runs(double* kr, double* ki, double* br, double* bi, int n_qubits,
                                                        int q0, int q1, const Coefficients& u, double t_re[16],
                                                        double t_im[16]) {
    const std::size_t b0 = std::size_t{1} << q0, b1 = std::size_t{1} << q1;
    for_each_run(n_qubits, q0, q1, [&](std::size_t s, std::size_t len) __attribute__((always_inline)) {
        const std::size_t at[4] = {s, s | b0, s | b1, s | b0 | b1};
        double* const kre[4] = {kr + at[0], kr + at[1], kr + at[2], kr + at[3]};
        double* const kim[4] = {ki + at[0], ki + at[1], ki + at[2], ki + at[3]};
        double* const bre[4] = {br + at[0], br + at[1], br + at[2], br + at[3]};
        double* const bim[4] = {bi + at[0], bi + at[1], bi + at[2], bi + at[3]};
        apply_streams(u, len, kre[0], kim[0], kre[1], kim[1], kre[2], kim[2], kre[3], kim[3]);
        accumulate_transition(len, bre, bim, kre, kim, t_re, t_im);
        apply_streams(u, len, bre[0], bim[0], bre[1], bim[1], bre[2], bim[2], bre[3], bim[3]);
    });
}

// The two whole-gate passes are compiled three times on x86-64: for the
// baseline, for AVX2 with FMA and for AVX-512, and the loader picks the
// widest the processor runs. The AVX2 and AVX-512 copies give the same bits:
// they fuse the same multiply-adds, and every sum runs over explicit lanes in
// a fixed order. The baseline has no FMA and rounds differently. Built with
// BVC_WITHOUT_AVX512_CLONES, the widest copy is left out; a C++ test builds
// it so to hold the two copies to the same bits.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#if defined(BVC_WITHOUT_AVX512_CLONES)
#define BVC_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define BVC_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#endif
// The product-state steps were compiled for the baseline alone, which has
// no FMA; their vector copies fuse nothing, so that they round as it did.
#define BVC_UNFUSED __attribute__((optimize("fp-contract=off")))
#else
#define BVC_VECTOR_CLONES
#define BVC_UNFUSED
#endif

// The gate u on the pair (q0, q1) of a split state.
BVC_VECTOR_CLONES
void apply_pair(double* re, double* im, int n_qubits, int q0, int q1, const Coefficients& u) {
    const std::size_t b0 = std::size_t{1} << q0, b1 = std::size_t{1} << q1;
    if (std::min(q0, q1) < kGroupedBelow) {
        Columns c;
        columns(c, u);
        for_each_run(n_qubits, q0, q1, [&](std::size_t s, std::size_t len) __attribute__((always_inline)) {
            for (std::size_t j = s; j < s + len; ++j) {
                const std::size_t at[4] = {j, j | b0, j | b1, j | b0 | b1};
                V4 vr, vi;
                gather4(vr, re, at), gather4(vi, im, at);
                apply_group(c, vr, vi);
                scatter4(re, at, vr), scatter4(im, at, vi);
            }
        });
        return;
    }
    apply_runs(re, im, n_qubits, q0, q1, u);
}

// One backward step through u on (q0, q1): u on ket and bra, and the
// transition matrix of bra (before) and ket (after) added to t. The callers
// start t at +0.0, and a sum that starts there is never -0.0.
BVC_VECTOR_CLONES
void adjoint_pair(double* kr, double* ki, double* br, double* bi, int n_qubits, int q0, int q1, const Coefficients& u,
                  double t_re[16], double t_im[16]) {
    const std::size_t b0 = std::size_t{1} << q0, b1 = std::size_t{1} << q1;
    const int lo = std::min(q0, q1);
    if (lo < kGroupedBelow) {
        // The sums of t as the lanes form them: a run of 8 or more adds its
        // groups j = l (mod 8) in lane l, and the lanes into t in order; a
        // run of 4 adds its groups in one lane; runs of one or two add each
        // group straight into t. A lane sum that starts at 0 and takes one
        // group is that group's term (a -0.0 turned to +0.0, which leaves t
        // as it is), so every run is a sequence of lane sums.
        const std::size_t lanes = lo < 2 ? std::size_t{1} << lo : lo == 2 ? 1 : kLanes;
        Columns c;
        columns(c, u);
        V4 tr[4], ti[4];
        for (int a = 0; a < 4; ++a) {
            tr[a] = V4{t_re[4 * a], t_re[4 * a + 1], t_re[4 * a + 2], t_re[4 * a + 3]};
            ti[a] = V4{t_im[4 * a], t_im[4 * a + 1], t_im[4 * a + 2], t_im[4 * a + 3]};
        }
        for_each_run(n_qubits, q0, q1, [&](std::size_t s, std::size_t len) __attribute__((always_inline)) {
            for (std::size_t l = 0; l < lanes; ++l) {
                V4 pr[4] = {}, pi[4] = {};
                for (std::size_t j = s + l; j < s + len; j += lanes) {
                    const std::size_t at[4] = {j, j | b0, j | b1, j | b0 | b1};
                    V4 kre, kim, bre, bim;
                    gather4(kre, kr, at), gather4(kim, ki, at), gather4(bre, br, at), gather4(bim, bi, at);
                    apply_group(c, kre, kim);
                    for (int a = 0; a < 4; ++a) {
                        pr[a] += bre[a] * kre + bim[a] * kim;
                        pi[a] += bre[a] * kim - bim[a] * kre;
                    }
                    scatter4(kr, at, kre), scatter4(ki, at, kim);
                    apply_group(c, bre, bim);
                    scatter4(br, at, bre), scatter4(bi, at, bim);
                }
                for (int a = 0; a < 4; ++a) tr[a] += pr[a], ti[a] += pi[a];
            }
        });
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b) t_re[4 * a + b] = tr[a][b], t_im[4 * a + b] = ti[a][b];
        return;
    }
    adjoint_runs(kr, ki, br, bi, n_qubits, q0, q1, u, t_re, t_im);
}

// The gradient of |<target|psi>|^2 = |overlap|^2 with respect to the nine
// parameters of one row, from the transition matrix t of its pair and the
// derivatives dE of its entangler: dU = (dE)^dagger, so
// d overlap = sum_ab conj(dE[b][a]) t[a][b].
void store_gate_gradient(const Mat4* derivatives, const double t_re[16], const double t_im[16], cplx overlap,
                         double* out) {
    for (int j = 0; j < kEntanglerParams; ++j) {
        const Mat4& d = derivatives[j];
        cplx sum = 0.0;
        for (int a = 0; a < 4; ++a)
            for (int b = 0; b < 4; ++b) sum += std::conj(d.m[4 * b + a]) * cplx(t_re[4 * a + b], t_im[4 * a + b]);
        out[j] = 2.0 * std::real(std::conj(overlap) * sum);
    }
}

// The product state of the rotation vectors x[3q..3q+2] in (kr, ki) of 2^n
// amplitudes; returns the rotations.
std::vector<Mat2> prepare_product(double* kr, double* ki, int n, const double* x) {
    const std::size_t size = std::size_t{1} << n;
    std::vector<Mat2> rotations(n);
    std::fill(kr, kr + size, 0.0);
    std::fill(ki, ki + size, 0.0);
    kr[0] = 1.0;
    for (int q = 0; q < n; ++q) {
        rotations[q] = axis_rotation_matrix(x + 3 * q);
        const cplx a = rotations[q].m[0], b = rotations[q].m[2];
        const std::size_t half = std::size_t{1} << q;
        for (std::size_t i = 0; i < half; ++i) {
            const cplx v(kr[i], ki[i]), low = a * v, high = b * v;
            kr[i] = low.real(), ki[i] = low.imag(), kr[i + half] = high.real(), ki[i + half] = high.imag();
        }
    }
    return rotations;
}

// One step back through the rotation u (re[4], im[4] of its entries) for a
// run of `len` amplitude pairs of ket and bra; the terms conj(b_a) k_b (k
// after the step) go to terms[2 e] and terms[2 e + 1] (re, im; e = 2 a + b).
// Every value is formed as std::complex arithmetic forms it, products as
// (ac - bd, ad + bc), so that the run vectorises with the same bits.
inline __attribute__((always_inline)) void rotation_step(const double ur[4], const double ui[4], std::size_t len,
                                                         double* __restrict k0r, double* __restrict k0i,
                                                         double* __restrict k1r, double* __restrict k1i,
                                                         double* __restrict b0r, double* __restrict b0i,
                                                         double* __restrict b1r, double* __restrict b1i,
                                                         double (*__restrict terms)[kChunk]) {
    for (std::size_t j = 0; j < len; ++j) {
        const double k0 = k0r[j], k0_ = k0i[j], k1 = k1r[j], k1_ = k1i[j];
        const double b0 = b0r[j], b0_ = b0i[j], b1 = b1r[j], b1_ = b1i[j];
        const double n0 = (ur[0] * k0 - ui[0] * k0_) + (ur[1] * k1 - ui[1] * k1_);
        const double n0_ = (ur[0] * k0_ + ui[0] * k0) + (ur[1] * k1_ + ui[1] * k1);
        const double n1 = (ur[2] * k0 - ui[2] * k0_) + (ur[3] * k1 - ui[3] * k1_);
        const double n1_ = (ur[2] * k0_ + ui[2] * k0) + (ur[3] * k1_ + ui[3] * k1);
        const double c0_ = -b0_, c1_ = -b1_;
        terms[0][j] = b0 * n0 - c0_ * n0_, terms[1][j] = b0 * n0_ + c0_ * n0;
        terms[2][j] = b0 * n1 - c0_ * n1_, terms[3][j] = b0 * n1_ + c0_ * n1;
        terms[4][j] = b1 * n0 - c1_ * n0_, terms[5][j] = b1 * n0_ + c1_ * n0;
        terms[6][j] = b1 * n1 - c1_ * n1_, terms[7][j] = b1 * n1_ + c1_ * n1;
        k0r[j] = n0, k0i[j] = n0_, k1r[j] = n1, k1i[j] = n1_;
        b0r[j] = (ur[0] * b0 - ui[0] * b0_) + (ur[1] * b1 - ui[1] * b1_);
        b0i[j] = (ur[0] * b0_ + ui[0] * b0) + (ur[1] * b1_ + ui[1] * b1);
        b1r[j] = (ur[2] * b0 - ui[2] * b0_) + (ur[3] * b1 - ui[3] * b1_);
        b1i[j] = (ur[2] * b0_ + ui[2] * b0) + (ur[3] * b1_ + ui[3] * b1);
    }
}

// The last backward steps: through the product state, one qubit at a time,
// the gradient of its rotations stored for |<target|psi>|^2 = |overlap|^2.
// The four sums of each qubit take the pairs' terms one after another, in
// the order of the amplitudes.
BVC_VECTOR_CLONES BVC_UNFUSED void product_gradient(double* kr, double* ki, double* br, double* bi, int n,
                                                    const double* x, const std::vector<Mat2>& rotations, cplx overlap,
                                                    double* gradient) {
    const std::size_t size = std::size_t{1} << n;
    const auto store = [&](double* out, cplx d_overlap) { *out = 2.0 * std::real(std::conj(overlap) * d_overlap); };
    alignas(64) double terms[8][kChunk];
    for (int q = n; q-- > 0;) {
        const Mat2 u = adjoint(rotations[q]);
        double ur[4], ui[4];
        for (int e = 0; e < 4; ++e) ur[e] = u.m[e].real(), ui[e] = u.m[e].imag();
        const std::size_t step = std::size_t{1} << q;
        double t_re[4] = {}, t_im[4] = {};
        for (std::size_t base = 0; base < size; base += 2 * step) {
            for (std::size_t s = base; s < base + step; s += kChunk) {
                const std::size_t len = std::min(kChunk, base + step - s);
                rotation_step(ur, ui, len, kr + s, ki + s, kr + s + step, ki + s + step, br + s, bi + s, br + s + step,
                              bi + s + step, terms);
                for (std::size_t j = 0; j < len; ++j)
                    for (int e = 0; e < 4; ++e) t_re[e] += terms[2 * e][j], t_im[e] += terms[2 * e + 1][j];
            }
        }
        cplx t[4];
        for (int e = 0; e < 4; ++e) t[e] = cplx(t_re[e], t_im[e]);
        Mat2 d[3];
        axis_rotation_derivatives(x + 3 * q, d);
        for (int j = 0; j < 3; ++j) {
            cplx sum = 0.0;
            for (int e = 0; e < 4; ++e) sum += d[j].m[e] * t[e];
            store(gradient + 3 * q + j, sum);
        }
    }
}

}  // namespace

struct ReversePreparationFidelity::SplitState {
    std::vector<double> re, im;
};

ReversePreparationFidelity::ReversePreparationFidelity(const cplx* target, int n_qubits,
                                                       std::vector<std::array<int, 2>> pairs)
    : n_qubits_(n_qubits),
      pairs_(std::move(pairs)),
      target_(std::make_unique<SplitState>()),
      ket_(std::make_unique<SplitState>()),
      bra_(std::make_unique<SplitState>()),
      gates_(pairs_.size()),
      derivatives_(pairs_.size() * kEntanglerParams) {
    const std::size_t size = std::size_t{1} << n_qubits;
    for (SplitState* s : {target_.get(), ket_.get(), bra_.get()}) s->re.resize(size), s->im.resize(size);
    for (std::size_t i = 0; i < size; ++i) target_->re[i] = target[i].real(), target_->im[i] = target[i].imag();
}

ReversePreparationFidelity::ReversePreparationFidelity(const cplx* target, int n_qubits,
                                                       std::vector<std::array<int, 2>> pairs, unsigned threads,
                                                       std::function<void()> poll)
    : ReversePreparationFidelity(target, n_qubits, std::move(pairs)) {
    // Halves of one qubit have no pair to sweep; the serial sweeps then
    // serve, whatever the threads.
    if (n_qubits < 3) return;
    split_ = true;
    poll_ = std::move(poll);
    if (threads >= 2) partner_ = std::make_unique<bvc::parallel::PartnerThread>();
}

ReversePreparationFidelity::~ReversePreparationFidelity() = default;

double ReversePreparationFidelity::value_and_gradient(const double* x, double* gradient) {
    if (split_) return halves_value_and_gradient(x, gradient);
    const int n = n_qubits_;
    const std::size_t m = pairs_.size(), size = ket_->re.size();
    const double* rows = x + 3 * n;
    double* kr = ket_->re.data();
    double* ki = ket_->im.data();
    double* br = bra_->re.data();
    double* bi = bra_->im.data();

    // Forward: the product state, then every U_k, newest row first.
    std::vector<Mat2> rotations = prepare_product(kr, ki, n, x);
    for (std::size_t k = m; k-- > 0;) {
        entangler_matrix_derivatives(rows + kEntanglerParams * k, gates_[k], &derivatives_[kEntanglerParams * k]);
        apply_pair(kr, ki, n, pairs_[k][0], pairs_[k][1], split(adjoint(gates_[k])));
    }
    double overlap_re = 0.0, overlap_im = 0.0;
    const double* tr = target_->re.data();
    const double* ti = target_->im.data();
    for (std::size_t i = 0; i < size; ++i) {
        overlap_re += tr[i] * kr[i] + ti[i] * ki[i];
        overlap_im += tr[i] * ki[i] - ti[i] * kr[i];
    }
    const cplx overlap(overlap_re, overlap_im);

    // Backward: undo each gate on the state and on the target alike; the
    // derivative of <target|psi> by a parameter of gate k is
    // <target U_0 ... U_{k-1}| dU_k |U_{k+1} ... psi_product>, read off the
    // transition matrix of the pair.
    std::copy(target_->re.begin(), target_->re.end(), br);
    std::copy(target_->im.begin(), target_->im.end(), bi);
    for (std::size_t k = 0; k < m; ++k) {
        double t_re[16] = {}, t_im[16] = {};
        adjoint_pair(kr, ki, br, bi, n, pairs_[k][0], pairs_[k][1], split(gates_[k]), t_re, t_im);  // U_k^dagger = E_k
        store_gate_gradient(&derivatives_[kEntanglerParams * k], t_re, t_im, overlap,
                            gradient + 3 * n + kEntanglerParams * k);
    }
    product_gradient(kr, ki, br, bi, n, x, rotations, overlap, gradient);
    return std::norm(overlap);
}

double ReversePreparationFidelity::halves_value_and_gradient(const double* x, double* gradient) {
    const int n = n_qubits_, top = n - 1;
    const std::size_t m = pairs_.size(), size = ket_->re.size(), half = size / 2;
    const double* rows = x + 3 * n;
    double* kr = ket_->re.data();
    double* ki = ket_->im.data();
    double* br = bra_->re.data();
    double* bi = bra_->im.data();
    const double* tr = target_->re.data();
    const double* ti = target_->im.data();
    const auto on_top = [&](std::size_t k) { return pairs_[k][0] == top || pairs_[k][1] == top; };
    // Both halves, at once when there is a partner. A refinement of a large
    // state spends seconds in one evaluation, so the caller polls between
    // halves, though not more often than every 50 ms.
    auto last_poll = std::chrono::steady_clock::now();
    const auto both_halves = [&](const std::function<void(std::size_t part)>& sweep) {
        if (partner_) {
            partner_->run(sweep);
        } else {
            sweep(0);
            sweep(1);
        }
        if (poll_ && std::chrono::steady_clock::now() - last_poll >= std::chrono::milliseconds(50)) {
            poll_();
            last_poll = std::chrono::steady_clock::now();
        }
    };

    std::vector<Coefficients> forward(m), backward(m);
    for (std::size_t k = 0; k < m; ++k) {
        entangler_matrix_derivatives(rows + kEntanglerParams * k, gates_[k], &derivatives_[kEntanglerParams * k]);
        forward[k] = split(adjoint(gates_[k]));
        backward[k] = split(gates_[k]);
    }

    // Forward: the product state, then every U_k, newest row first; runs of
    // gates below the top qubit on each half alone.
    const std::vector<Mat2> rotations = prepare_product(kr, ki, n, x);
    for (std::size_t k = m; k > 0;) {
        if (on_top(k - 1)) {
            --k;
            apply_pair(kr, ki, n, pairs_[k][0], pairs_[k][1], forward[k]);
            continue;
        }
        std::size_t first = k - 1;
        while (first > 0 && !on_top(first - 1)) --first;
        both_halves([&](std::size_t part) {
            for (std::size_t j = k; j-- > first;) {
                apply_pair(kr + part * half, ki + part * half, n - 1, pairs_[j][0], pairs_[j][1], forward[j]);
            }
        });
        k = first;
    }
    double sums[2][2] = {};
    both_halves([&](std::size_t part) {
        double re = 0.0, im = 0.0;
        for (std::size_t i = part * half; i < (part + 1) * half; ++i) {
            re += tr[i] * kr[i] + ti[i] * ki[i];
            im += tr[i] * ki[i] - ti[i] * kr[i];
        }
        sums[part][0] = re, sums[part][1] = im;
    });
    const cplx overlap(sums[0][0] + sums[1][0], sums[0][1] + sums[1][1]);
    const auto store_gate = [&](std::size_t k, const double t_re[16], const double t_im[16]) {
        store_gate_gradient(&derivatives_[kEntanglerParams * k], t_re, t_im, overlap,
                            gradient + 3 * n + kEntanglerParams * k);
    };

    // Backward, as the serial sweeps, each transition matrix summed per half.
    std::copy(target_->re.begin(), target_->re.end(), br);
    std::copy(target_->im.begin(), target_->im.end(), bi);
    std::vector<std::array<double, 64>> transitions;
    for (std::size_t k = 0; k < m;) {
        if (on_top(k)) {
            double t_re[16] = {}, t_im[16] = {};
            adjoint_pair(kr, ki, br, bi, n, pairs_[k][0], pairs_[k][1], backward[k], t_re, t_im);
            store_gate(k, t_re, t_im);
            ++k;
            continue;
        }
        std::size_t end = k + 1;
        while (end < m && !on_top(end)) ++end;
        // Per gate: re and im of half 0, then of half 1.
        transitions.assign(end - k, {});
        both_halves([&](std::size_t part) {
            const std::size_t at = part * half;
            for (std::size_t j = k; j < end; ++j) {
                // Summed on this worker's stack: the two halves' sums share
                // cache lines in `transitions`, and the narrow pairs add to
                // their sums amplitude by amplitude.
                double t[32] = {};
                adjoint_pair(kr + at, ki + at, br + at, bi + at, n - 1, pairs_[j][0], pairs_[j][1], backward[j], t,
                             t + 16);
                std::copy(t, t + 32, transitions[j - k].data() + 32 * part);
            }
        });
        for (std::size_t j = k; j < end; ++j) {
            const double* t = transitions[j - k].data();
            double t_re[16], t_im[16];
            for (int e = 0; e < 16; ++e) t_re[e] = t[e] + t[32 + e], t_im[e] = t[16 + e] + t[48 + e];
            store_gate(j, t_re, t_im);
        }
        k = end;
    }
    product_gradient(kr, ki, br, bi, n, x, rotations, overlap, gradient);
    return std::norm(overlap);
}

}  // namespace bvc::synthesis
