#include "core/gates.hpp"

#include <cmath>
#include <cstdint>

namespace bvc::cvd {

namespace {

using bvc::sv::Mat2;
using bvc::sv::Mat4;

constexpr cplx kI{0.0, 1.0};

Mat2 identity2() { return Mat2{{1.0, 0.0, 0.0, 1.0}}; }

Mat4 identity4() {
    Mat4 out{};
    for (int k = 0; k < 4; ++k) out.m[5 * k] = 1.0;
    return out;
}

// A (x) B with A on the high qubit q1 and B on the low qubit q0.
Mat4 kron(const Mat2& a, const Mat2& b) {
    Mat4 out{};
    for (int r1 = 0; r1 < 2; ++r1)
        for (int c1 = 0; c1 < 2; ++c1)
            for (int r0 = 0; r0 < 2; ++r0)
                for (int c0 = 0; c0 < 2; ++c0)
                    out.m[4 * (2 * r1 + r0) + 2 * c1 + c0] = a.m[2 * r1 + c1] * b.m[2 * r0 + c0];
    return out;
}

Mat4 multiply(const Mat4& a, const Mat4& b) {
    Mat4 out{};
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            cplx sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += a.m[4 * r + k] * b.m[4 * k + c];
            out.m[4 * r + c] = sum;
        }
    return out;
}

const Mat2& pauli(char letter) {
    static const Mat2 x{{0.0, 1.0, 1.0, 0.0}};
    static const Mat2 y{{0.0, -kI, kI, 0.0}};
    static const Mat2 z{{1.0, 0.0, 0.0, -1.0}};
    return letter == 'X' ? x : letter == 'Y' ? y : z;
}

// Index of amplitude k of the 2^(n-2) "other" amplitudes with zero bits
// inserted at positions lo < hi.
inline std::uint64_t insert_two_zeros(std::uint64_t k, int lo, int hi) {
    const std::uint64_t low_mask = (std::uint64_t{1} << lo) - 1;
    k = ((k & ~low_mask) << 1) | (k & low_mask);
    const std::uint64_t high_mask = (std::uint64_t{1} << hi) - 1;
    return ((k & ~high_mask) << 1) | (k & high_mask);
}

// Principal phase in (-pi, pi]. Signed zeros carry no meaning here (they
// come from negating a rotation vector with zero components): a zero
// imaginary part counts as +0, so a negative real number has phase pi, and
// a zero number has phase 0.
double phase(cplx z) {
    if (z.real() == 0.0 && z.imag() == 0.0) return 0.0;
    return std::atan2(z.imag() + 0.0, z.real());
}

}  // namespace

double rotation_angle(const double v[3]) { return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]); }

Mat2 axis_rotation_matrix(const double v[3]) {
    const double theta = rotation_angle(v);
    if (theta < kRotationNormFloor) return identity2();
    const double nx = v[0] / theta, ny = v[1] / theta, nz = v[2] / theta;
    const double s = std::sin(theta / 2.0), c = std::cos(theta / 2.0);
    return Mat2{{cplx(c, -nz * s), cplx(-ny * s, -nx * s), cplx(ny * s, -nx * s), cplx(c, nz * s)}};
}

namespace {

// exp(-i a P(x)P) = cos(a) I - i sin(a) P(x)P, since (P(x)P)^2 = I.
Mat4 pauli_product_rotation(int k, double a) {
    const Mat2& P = pauli(kPauliAxes[k]);
    const Mat4 pp = kron(P, P);
    const Mat4 identity = identity4();
    const double cos_a = std::cos(a);
    const cplx i_sin_a(0.0, std::sin(a));
    Mat4 rotation;
    for (int e = 0; e < 16; ++e) rotation.m[e] = cos_a * identity.m[e] - i_sin_a * pp.m[e];
    return rotation;
}

// -i P(x)P, the generator of the k-th Pauli-product rotation.
Mat4 pauli_product_generator(int k) {
    const Mat2& P = pauli(kPauliAxes[k]);
    Mat4 generator = kron(P, P);
    for (cplx& e : generator.m) e *= -kI;
    return generator;
}

}  // namespace

Mat4 entangler_matrix(const double p[kEntanglerParams]) {
    Mat4 gate = kron(axis_rotation_matrix(p + 3), axis_rotation_matrix(p));
    for (int k = 0; k < 3; ++k) gate = multiply(pauli_product_rotation(k, p[6 + k]), gate);
    return gate;
}

// With s = sin(theta/2), c = cos(theta/2), theta = |v|, n = v / theta,
//   R = c I - i s (n.sigma),
//   dR/dv_j = -(s/theta) v_j / 2 I - i (s/theta) sigma_j
//             - i v_j (v.sigma) (c/2 - s/theta) / theta^2,
// from d theta/dv_j = n_j and dn_k/dv_j = (delta_jk - n_j n_k) / theta. Both
// s/theta and (c/2 - s/theta)/theta^2 are smooth at theta = 0; below 1e-3
// their Taylor series avoid the cancellation of the closed forms.
void axis_rotation_derivatives(const double v[3], Mat2 out[3]) {
    const double theta = rotation_angle(v);
    double sinc_half, curvature;
    if (theta < 1e-3) {
        const double t2 = theta * theta;
        sinc_half = 0.5 - t2 / 48.0 + t2 * t2 / 3840.0;
        curvature = -1.0 / 24.0 + t2 / 960.0;
    } else {
        sinc_half = std::sin(theta / 2.0) / theta;
        curvature = (std::cos(theta / 2.0) / 2.0 - sinc_half) / (theta * theta);
    }
    // v.sigma in the |0>, |1> basis.
    const Mat2 v_sigma{{cplx(v[2], 0.0), cplx(v[0], -v[1]), cplx(v[0], v[1]), cplx(-v[2], 0.0)}};
    for (int j = 0; j < 3; ++j) {
        const Mat2& sigma = pauli(kPauliAxes[j]);
        const cplx diagonal = -0.5 * sinc_half * v[j];
        const cplx along = -kI * sinc_half;
        const cplx across = -kI * v[j] * curvature;
        for (int e = 0; e < 4; ++e) {
            out[j].m[e] = along * sigma.m[e] + across * v_sigma.m[e] + (e == 0 || e == 3 ? diagonal : 0.0);
        }
    }
}

// U = Z(p8) Y(p7) X(p6) (R(p[3:6]) (x) R(p[0:3])); each factor is
// differentiated in place, the others kept.
void entangler_matrix_derivatives(const double p[kEntanglerParams], Mat4& u, Mat4 du[kEntanglerParams]) {
    const Mat2 r0 = axis_rotation_matrix(p), r1 = axis_rotation_matrix(p + 3);
    Mat2 dr0[3], dr1[3];
    axis_rotation_derivatives(p, dr0);
    axis_rotation_derivatives(p + 3, dr1);
    const Mat4 rx = pauli_product_rotation(0, p[6]);
    const Mat4 ry = pauli_product_rotation(1, p[7]);
    const Mat4 rz = pauli_product_rotation(2, p[8]);

    const Mat4 local = kron(r1, r0);
    const Mat4 after_x = multiply(rx, local);
    const Mat4 after_y = multiply(ry, after_x);
    u = multiply(rz, after_y);

    du[6] = multiply(rz, multiply(ry, multiply(pauli_product_generator(0), after_x)));
    du[7] = multiply(rz, multiply(pauli_product_generator(1), after_y));
    du[8] = multiply(pauli_product_generator(2), u);
    const Mat4 core = multiply(rz, multiply(ry, rx));
    for (int j = 0; j < 3; ++j) {
        du[j] = multiply(core, kron(r1, dr0[j]));
        du[3 + j] = multiply(core, kron(dr1[j], r0));
    }
}

void apply_two_qubit_unitary(const cplx* in, cplx* out, int q0, int q1, int n_qubits, const Mat4& m) {
    const int lo = q0 < q1 ? q0 : q1, hi = q0 < q1 ? q1 : q0;
    const std::uint64_t quarter = (std::uint64_t{1} << n_qubits) >> 2;
    const std::uint64_t b0 = std::uint64_t{1} << q0, b1 = std::uint64_t{1} << q1;
    for (std::uint64_t k = 0; k < quarter; ++k) {
        const std::uint64_t base = insert_two_zeros(k, lo, hi);
        const std::uint64_t idx[4] = {base, base | b0, base | b1, base | b0 | b1};
        const cplx v0 = in[idx[0]], v1 = in[idx[1]], v2 = in[idx[2]], v3 = in[idx[3]];
        for (int r = 0; r < 4; ++r) {
            const cplx* row = m.m + 4 * r;
            out[idx[r]] = row[0] * v0 + row[1] * v1 + row[2] * v2 + row[3] * v3;
        }
    }
}

ZyzAngles zyz_angles(const double v[3]) {
    const double theta = rotation_angle(v);
    const double nx = v[0] / theta, ny = v[1] / theta, nz = v[2] / theta;
    const double s = std::sin(theta / 2.0), c = std::cos(theta / 2.0);
    // a and b are the (0,0) and (1,0) entries of the rotation; with
    // U = rz(last) ry(y) rz(first) they fix the three angles.
    const cplx a(c, -nz * s);
    const cplx b(ny * s, -nx * s);
    const double arg_a = phase(a), arg_b = phase(b);
    return ZyzAngles{-arg_b - arg_a, 2.0 * std::atan2(std::abs(b), std::abs(a)), arg_b - arg_a};
}

}  // namespace bvc::cvd
