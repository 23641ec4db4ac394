// The synthesis's gate matrices and the out-of-place two-qubit kernel of its objective.
#include "core/synthesis/gates.hpp"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "core/statevector/statevector.hpp"

namespace bvc::synthesis {

namespace {

using bvc::sv::kI;
using bvc::sv::kron;
using bvc::sv::Mat2;
using bvc::sv::Mat4;
using bvc::sv::pauli;
using bvc::sv::product;

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
    if (theta < kRotationNormFloor) return bvc::sv::identity2();
    const double nx = v[0] / theta, ny = v[1] / theta, nz = v[2] / theta;
    const double s = std::sin(theta / 2.0), c = std::cos(theta / 2.0);
    return Mat2{{cplx(c, -nz * s), cplx(-ny * s, -nx * s), cplx(ny * s, -nx * s), cplx(c, nz * s)}};
}

namespace {

// exp(-i a P(x)P) = cos(a) I - i sin(a) P(x)P, since (P(x)P)^2 = I.
Mat4 pauli_product_rotation(int k, double a) {
    const Mat2& P = pauli(k);
    const Mat4 pp = kron(P, P);
    const Mat4 identity = bvc::sv::identity4();
    const double cos_a = std::cos(a);
    const cplx i_sin_a(0.0, std::sin(a));
    Mat4 rotation;
    for (int e = 0; e < 16; ++e) rotation.m[e] = cos_a * identity.m[e] - i_sin_a * pp.m[e];
    return rotation;
}

// -i P(x)P, the generator of the k-th Pauli-product rotation.
Mat4 pauli_product_generator(int k) {
    const Mat2& P = pauli(k);
    Mat4 generator = kron(P, P);
    for (cplx& e : generator.m) e *= -kI;
    return generator;
}

}  // namespace

Mat4 entangler_matrix(const double p[kEntanglerParams]) {
    Mat4 gate = kron(axis_rotation_matrix(p + 3), axis_rotation_matrix(p));
    for (int k = 0; k < 3; ++k) gate = product(pauli_product_rotation(k, p[6 + k]), gate);
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
        const Mat2& sigma = pauli(j);
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
    const Mat4 after_x = product(rx, local);
    const Mat4 after_y = product(ry, after_x);
    u = product(rz, after_y);

    du[6] = product(rz, product(ry, product(pauli_product_generator(0), after_x)));
    du[7] = product(rz, product(pauli_product_generator(1), after_y));
    du[8] = product(pauli_product_generator(2), u);
    const Mat4 core = product(rz, product(ry, rx));
    for (int j = 0; j < 3; ++j) {
        du[j] = product(core, kron(r1, dr0[j]));
        du[3 + j] = product(core, kron(dr1[j], r0));
    }
}

void apply_two_qubit_unitary(const cplx* in, cplx* out, int q0, int q1, int n_qubits, const Mat4& m) {
    std::copy(in, in + (std::size_t{1} << n_qubits), out);
    bvc::sv::apply_2q(out, n_qubits, q0, q1, m, bvc::sv::Summation::left_to_right);
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

}  // namespace bvc::synthesis
